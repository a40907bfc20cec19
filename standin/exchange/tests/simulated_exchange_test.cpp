// Tests of the simulated exchange: its table, unreachable numbers, queries,
// short buffers and unknown codes, garbage input, bad starting entries.
#include "simulated_exchange.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> setRequest(uint8_t control, const std::string& served,
                                const std::string& forwardedTo) {
    std::vector<uint8_t> bytes(FORWARDING_REQUEST_SIZE, 0);
    bytes[REQUEST_CONTROL_OFFSET] = control;
    std::memcpy(&bytes[REQUEST_SERVED_USER_NUMBER_OFFSET], served.data(),
                std::min<size_t>(served.size(), NUMBER_FIELD_SIZE));
    std::memcpy(&bytes[REQUEST_FORWARDED_TO_NUMBER_OFFSET], forwardedTo.data(),
                std::min<size_t>(forwardedTo.size(), NUMBER_FIELD_SIZE));
    return bytes;
}

std::vector<uint8_t> interrogation(const std::string& served) {
    std::vector<uint8_t> bytes(INTERROGATION_RECORD_SIZE, 0xEE); // the tail means nothing
    std::memcpy(&bytes[INTERROGATION_SERVED_USER_NUMBER_OFFSET], served.c_str(), served.size() + 1);
    return bytes;
}

ExchangeForwarding forwarding(uint8_t procedure, uint8_t basicService, const char* served,
                              const char* forwardedTo) {
    ExchangeForwarding f{};
    f.procedure = procedure;
    f.basicService = basicService;
    std::strncpy(f.servedUserNumber, served, NUMBER_FIELD_SIZE);
    std::strncpy(f.forwardedToNumber, forwardedTo, NUMBER_FIELD_SIZE);
    return f;
}

std::string text(const uint8_t* field) {
    return std::string(reinterpret_cast<const char*>(field),
                       strnlen(reinterpret_cast<const char*>(field), NUMBER_FIELD_SIZE));
}

constexpr uint8_t BUSY_ON = PROCEDURE_BUSY;
constexpr uint8_t BUSY_OFF = PROCEDURE_BUSY | FORWARDING_DIRECTION_DEACTIVATE;
constexpr char TO_25[] = "1234567890123456789012345";

class ExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        exchangeDefaultConfig(&config);
        start();
    }
    void start(std::initializer_list<ExchangeForwarding> inForce = {}) {
        config.forwardingCount = 0;
        for (const ExchangeForwarding& f : inForce) {
            config.forwardings[config.forwardingCount++] = f;
        }
        ASSERT_TRUE(exchangeInit(&ex, &config));
    }

    ExchangeAnswer set(uint8_t control, const std::string& served, const std::string& to,
                       uint64_t now = 0) {
        std::vector<uint8_t> bytes = setRequest(control, served, to);
        return exchangeSubmit(&ex, IOCTL_CF_SET, bytes.data(), FORWARDING_REQUEST_SIZE,
                              FORWARDING_REQUEST_SIZE, now);
    }
    ExchangeAnswer ask(const std::string& served, uint64_t now,
                       std::vector<uint8_t>* out = nullptr) {
        std::vector<uint8_t> bytes = interrogation(served);
        ExchangeAnswer a =
            exchangeSubmit(&ex, IOCTL_CF_INTERROGATE, bytes.data(), INTERROGATION_RECORD_SIZE,
                           INTERROGATION_RECORD_SIZE, now);
        if (out != nullptr) {
            *out = bytes;
        }
        return a;
    }
    const char* forwardedTo(const char* served, uint8_t procedure, uint8_t service) {
        const ExchangeForwarding* f = exchangeFindForwarding(&ex, served, procedure, service);
        return f == nullptr ? nullptr : f->forwardedToNumber;
    }

    ExchangeConfig config;
    SimulatedExchange ex;
};

// --- set forwarding ---

TEST_F(ExchangeTest, ActivationReplacesAndDeactivationRemovesOnlyThatNumberAndProcedure) {
    start({forwarding(PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "821", "100"),
           forwarding(PROCEDURE_BUSY, BASIC_SERVICE_DATA, "821", "101"),
           forwarding(PROCEDURE_NO_REPLY, BASIC_SERVICE_ALL, "821", "200"),
           forwarding(PROCEDURE_BUSY, BASIC_SERVICE_ALL, "8210", "300")});

    // Decided at once, answered after the delay; every service of busy for
    // 821 becomes one forwarding for all services.
    std::vector<uint8_t> bytes = setRequest(BUSY_ON, "821", "739");
    const std::vector<uint8_t> sent = bytes;
    ExchangeAnswer a = exchangeSubmit(&ex, IOCTL_CF_SET, bytes.data(), FORWARDING_REQUEST_SIZE,
                                      FORWARDING_REQUEST_SIZE, 1000);
    EXPECT_EQ(a.status, EXCHANGE_DUE);
    EXPECT_EQ(a.resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(a.dueAtMs, 1000u + EXCHANGE_DEFAULT_DELAY_MS);
    EXPECT_EQ(a.bytesReturned, FORWARDING_REQUEST_SIZE);
    EXPECT_FALSE(a.failed);
    EXPECT_EQ(bytes, sent) << "the answer is written by the caller when due";
    EXPECT_EQ(ex.forwardingCount, 3u);
    EXPECT_EQ(forwardedTo("821", PROCEDURE_BUSY, BASIC_SERVICE_SPEECH), nullptr);
    EXPECT_STREQ(forwardedTo("821", PROCEDURE_BUSY, BASIC_SERVICE_ALL), "739");
    // A clock near its end must not wrap to "due at once".
    EXPECT_EQ(set(BUSY_ON, "821", "740", UINT64_MAX - 1).dueAtMs, UINT64_MAX);
    EXPECT_STREQ(forwardedTo("821", PROCEDURE_BUSY, BASIC_SERVICE_ALL), "740");
    EXPECT_EQ(ex.forwardingCount, 3u);

    // The forwarded-to number of a deactivation need not match.
    EXPECT_EQ(set(BUSY_OFF, "821", "5").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(forwardedTo("821", PROCEDURE_BUSY, BASIC_SERVICE_ALL), nullptr);
    EXPECT_STREQ(forwardedTo("821", PROCEDURE_NO_REPLY, BASIC_SERVICE_ALL), "200");
    EXPECT_STREQ(forwardedTo("8210", PROCEDURE_BUSY, BASIC_SERVICE_ALL), "300");

    EXPECT_EQ(set(BUSY_OFF, "821", "5").resultCode, EXCHANGE_RESULT_NOT_ACTIVE);
}

TEST_F(ExchangeTest, MalformedRequestsAreAnsweredWithTheirOwnCodeAndChangeNothing) {
    const std::string longNumber(NUMBER_FIELD_SIZE, '1'); // fills the field, no terminator
    struct Case {
        const char* what;
        uint8_t control;
        std::string served;
        std::string to;
        uint16_t code;
    } cases[] = {
        {"empty served", BUSY_ON, "", "739", EXCHANGE_RESULT_INVALID_NUMBER},
        {"empty deactivation", BUSY_OFF, "", "739", EXCHANGE_RESULT_INVALID_NUMBER},
        {"empty forwarded-to", BUSY_ON, "821", "", EXCHANGE_RESULT_INVALID_NUMBER},
        {"letters", BUSY_ON, "82a", "739", EXCHANGE_RESULT_INVALID_NUMBER},
        {"unterminated served", BUSY_ON, longNumber, "739", EXCHANGE_RESULT_UNTERMINATED},
        {"unterminated forwarded-to", BUSY_ON, "821", longNumber, EXCHANGE_RESULT_UNTERMINATED},
        {"procedure 3", 3, "821", "739", EXCHANGE_RESULT_INVALID_PROCEDURE},
        {"reserved bit", 0x04 | BUSY_ON, "821", "739", EXCHANGE_RESULT_INVALID_CONTROL},
    };
    for (const Case& c : cases) {
        ExchangeAnswer a = set(c.control, c.served, c.to, 7);
        EXPECT_EQ(a.status, EXCHANGE_DUE) << c.what;
        EXPECT_EQ(a.resultCode, c.code) << c.what;
        EXPECT_EQ(a.dueAtMs, 7u + EXCHANGE_DEFAULT_DELAY_MS) << c.what;
        EXPECT_EQ(ex.forwardingCount, 0u) << c.what;
    }
    // The longest number that fits with its terminator is taken.
    EXPECT_EQ(set(BUSY_ON, std::string(NUMBER_MAX_LENGTH, '1'), "739").resultCode,
              RESULT_CODE_SUCCESS);
}

TEST_F(ExchangeTest, FullTableRejectsNewForwardingsButStillReplacesAndRemoves) {
    for (unsigned i = 0; i < EXCHANGE_FORWARDING_CAPACITY; ++i) {
        ASSERT_EQ(set(PROCEDURE_IMMEDIATELY, std::to_string(100 + i), "1").resultCode,
                  RESULT_CODE_SUCCESS);
    }
    EXPECT_EQ(set(PROCEDURE_BUSY, "100", "1").resultCode, EXCHANGE_RESULT_TABLE_FULL);
    EXPECT_EQ(set(PROCEDURE_IMMEDIATELY, "100", "2").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_STREQ(forwardedTo("100", PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL), "2");
    EXPECT_EQ(ex.forwardingCount, EXCHANGE_FORWARDING_CAPACITY);

    EXPECT_EQ(set(FORWARDING_DIRECTION_DEACTIVATE, "105", "1").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(set(PROCEDURE_BUSY, "100", "1").resultCode, RESULT_CODE_SUCCESS);
}

TEST_F(ExchangeTest, UnreachableNumbersTimeOutBothWaysWithoutChangingAnything) {
    config.delayMs = 0;
    config.timeOutMs = 50;
    config.unreachableCount = 2;
    std::strcpy(config.unreachable[0], "1");
    std::strcpy(config.unreachable[1], "22");
    start({forwarding(PROCEDURE_BUSY, BASIC_SERVICE_ALL, "22", "5")});

    EXPECT_EQ(set(BUSY_ON, "821", "739", 10).dueAtMs, 10u);
    for (uint8_t control : {BUSY_ON, BUSY_OFF}) {
        ExchangeAnswer a = set(control, "22", "739", 10);
        EXPECT_EQ(a.status, EXCHANGE_DUE);
        EXPECT_EQ(a.resultCode, RESULT_CODE_TIME_OUT);
        EXPECT_EQ(a.dueAtMs, 60u);
    }
    EXPECT_STREQ(forwardedTo("22", PROCEDURE_BUSY, BASIC_SERVICE_ALL), "5");
    // Whole numbers only, and the configured list replaces the default one.
    EXPECT_EQ(set(BUSY_ON, "220", "739").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(set(BUSY_ON, EXCHANGE_DEFAULT_UNREACHABLE_NUMBER, "739").resultCode,
              RESULT_CODE_SUCCESS);
}

// --- interrogation ---

class InterrogationTest : public ExchangeTest {
  protected:
    void SetUp() override {
        exchangeDefaultConfig(&config);
        start({forwarding(PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "821", "739"),
               forwarding(PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "4", "5"),
               forwarding(PROCEDURE_NO_REPLY, BASIC_SERVICE_TELEPHONY_7KHZ, "821", TO_25)});
    }
    void expectEntry(uint64_t now, uint8_t procedure, uint8_t service, const char* to,
                     const char* served = "821") {
        std::vector<uint8_t> out;
        ExchangeAnswer a = ask(served, now, &out);
        ASSERT_EQ(a.status, EXCHANGE_COMPLETED);
        ASSERT_EQ(a.bytesReturned, FORWARDING_ENTRY_SIZE);
        EXPECT_EQ(out[ENTRY_PROCEDURE_OFFSET], procedure);
        EXPECT_EQ(out[ENTRY_BASIC_SERVICE_OFFSET], service);
        EXPECT_EQ(text(&out[ENTRY_SERVED_USER_NUMBER_OFFSET]), served);
        EXPECT_EQ(text(&out[ENTRY_FORWARDED_TO_NUMBER_OFFSET]), to);
        for (unsigned i = FORWARDING_ENTRY_SIZE; i < INTERROGATION_RECORD_SIZE; ++i) {
            EXPECT_EQ(out[i], 0) << "byte " << i;
        }
    }
    void expectNothingYet(const char* served, uint64_t now) {
        ExchangeAnswer a = ask(served, now);
        EXPECT_EQ(a.status, EXCHANGE_COMPLETED);
        EXPECT_EQ(a.bytesReturned, INTERROGATION_NOTHING_YET_BYTES);
    }
    void expectFirstEntryOf821(uint64_t now) {
        expectEntry(now, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
    }
    void expectSecondEntryOf821(uint64_t now) {
        expectEntry(now, PROCEDURE_NO_REPLY, BASIC_SERVICE_TELEPHONY_7KHZ, TO_25);
    }
};

TEST_F(InterrogationTest, NothingYetThenEachEntryThenFinishedThenANewQuery) {
    expectNothingYet("821", 1000);
    expectNothingYet("821", 1000 + EXCHANGE_DEFAULT_DELAY_MS - 1);
    expectFirstEntryOf821(1000 + EXCHANGE_DEFAULT_DELAY_MS);
    expectSecondEntryOf821(1800);
    EXPECT_EQ(ask("821", 2300).status, EXCHANGE_FINISHED);

    expectNothingYet("821", 2300);
    expectFirstEntryOf821(2600);
}

TEST_F(InterrogationTest, AnotherNumberStartsANewQuery) {
    expectNothingYet("821", 0);
    expectFirstEntryOf821(300);
    expectNothingYet("4", 400);
    expectEntry(700, PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "5", "4");
    expectNothingYet("821", 800); // starts over, first entry again
    expectFirstEntryOf821(1100);
    // A number without forwardings finishes once the network has answered.
    expectNothingYet("7", 1200);
    EXPECT_EQ(ask("7", 1200 + EXCHANGE_DEFAULT_DELAY_MS).status, EXCHANGE_FINISHED);
}

TEST_F(InterrogationTest, UnreachableNumberTimesOutOnceThenStartsOver) {
    expectNothingYet("999", 0);
    expectNothingYet("999", EXCHANGE_DEFAULT_TIME_OUT_MS - 1);
    ExchangeAnswer a = ask("999", EXCHANGE_DEFAULT_TIME_OUT_MS);
    EXPECT_EQ(a.status, EXCHANGE_COMPLETED);
    EXPECT_EQ(a.bytesReturned, INTERROGATION_TIMED_OUT_BYTES);
    expectNothingYet("999", EXCHANGE_DEFAULT_TIME_OUT_MS);
}

TEST_F(InterrogationTest, QueryShowsTheForwardingsInForceWhenItStarted) {
    expectNothingYet("821", 0);
    set(PROCEDURE_IMMEDIATELY, "821", "600", 100);
    expectFirstEntryOf821(300);
    expectSecondEntryOf821(400);
    EXPECT_EQ(ask("821", 500).status, EXCHANGE_FINISHED);

    expectNothingYet("821", 600);
    expectFirstEntryOf821(900);
    expectSecondEntryOf821(900);
    expectEntry(900, PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "600");
}

TEST_F(InterrogationTest, AbandonedQueryIsForgottenAfterTheIdleLimit) {
    expectNothingYet("821", 0);
    expectFirstEntryOf821(300);
    expectSecondEntryOf821(300 + EXCHANGE_DEFAULT_QUERY_IDLE_MS);
    expectNothingYet("821", 301 + 2 * EXCHANGE_DEFAULT_QUERY_IDLE_MS);
}

TEST_F(InterrogationTest, BadNumberIsRejectedAndLeavesTheRunningQueryAlone) {
    expectNothingYet("821", 0);
    std::vector<uint8_t> unterminated(INTERROGATION_RECORD_SIZE, '1');
    EXPECT_EQ(exchangeSubmit(&ex, IOCTL_CF_INTERROGATE, unterminated.data(),
                             INTERROGATION_RECORD_SIZE, INTERROGATION_RECORD_SIZE, 100)
                  .status,
              EXCHANGE_INVALID_PARAMETER);
    EXPECT_EQ(ask("", 100).status, EXCHANGE_INVALID_PARAMETER);
    EXPECT_EQ(ask("8-1", 100).status, EXCHANGE_INVALID_PARAMETER);
    expectFirstEntryOf821(300);
}

// --- buffers, codes and the received log ---

TEST_F(ExchangeTest, ShortBuffersAndUnknownCodesAreRefusedAndLongerBuffersAccepted) {
    std::vector<uint8_t> request = setRequest(BUSY_ON, "821", "739");
    request.resize(200, 0x55);
    struct Case {
        uint32_t code;
        uint8_t* buffer;
        uint32_t in;
        uint32_t out;
        ExchangeStatus status;
    } cases[] = {
        {IOCTL_CF_SET, request.data(), FORWARDING_REQUEST_SIZE - 1, 200,
         EXCHANGE_INVALID_PARAMETER},
        {IOCTL_CF_SET, request.data(), 200, FORWARDING_REQUEST_SIZE - 1, EXCHANGE_BUFFER_TOO_SMALL},
        {IOCTL_CF_SET, nullptr, 200, 200, EXCHANGE_INVALID_PARAMETER},
        {IOCTL_CF_INTERROGATE, request.data(), INTERROGATION_RECORD_SIZE - 1, 200,
         EXCHANGE_INVALID_PARAMETER},
        {IOCTL_CF_INTERROGATE, request.data(), 200, INTERROGATION_RECORD_SIZE - 1,
         EXCHANGE_BUFFER_TOO_SMALL},
        {IOCTL_CF_INTERROGATE, nullptr, 200, 200, EXCHANGE_INVALID_PARAMETER},
        {0, request.data(), 200, 200, EXCHANGE_UNKNOWN_REQUEST},
        {IOCTL_CF_INTERROGATE + 4, request.data(), 200, 200, EXCHANGE_UNKNOWN_REQUEST},
        {0xFFFFFFFFu, nullptr, 0, 0, EXCHANGE_UNKNOWN_REQUEST},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exchangeSubmit(&ex, c.code, c.buffer, c.in, c.out, 0).status, c.status)
            << std::hex << c.code << std::dec << " in " << c.in << " out " << c.out;
    }
    EXPECT_EQ(ex.forwardingCount, 0u);
    ExchangeAnswer a = exchangeSubmit(&ex, IOCTL_CF_SET, request.data(), 200, 200, 0);
    EXPECT_EQ(a.status, EXCHANGE_DUE);
    EXPECT_EQ(a.resultCode, RESULT_CODE_SUCCESS);

    std::vector<uint8_t> record = interrogation("821");
    record.resize(200, 0x55);
    for (uint64_t now : {uint64_t{0}, uint64_t{EXCHANGE_DEFAULT_DELAY_MS}}) {
        a = exchangeSubmit(&ex, IOCTL_CF_INTERROGATE, record.data(), 200, 200, now);
    }
    EXPECT_EQ(a.bytesReturned, FORWARDING_ENTRY_SIZE);
    EXPECT_EQ(record[INTERROGATION_RECORD_SIZE - 1], 0);
    EXPECT_EQ(record[INTERROGATION_RECORD_SIZE], 0x55) << "nothing written past the record";
}

TEST_F(ExchangeTest, GarbageNeverBreaksTheTable) {
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    std::vector<uint8_t> bytes(128);
    uint64_t now = 0;
    for (int round = 0; round < 20000; ++round) {
        for (uint8_t& b : bytes) {
            // Mostly digits and terminators, so that some requests get through.
            uint32_t pick = next() % 16;
            b = pick < 10   ? static_cast<uint8_t>('0' + pick)
                : pick < 13 ? 0
                            : static_cast<uint8_t>(next());
        }
        bytes[0] = static_cast<uint8_t>(next());
        const uint32_t in = next() % 129;
        const uint32_t out = next() % 129;
        const uint32_t code =
            (next() % 3 == 0) ? next() : (next() % 2 ? IOCTL_CF_SET : IOCTL_CF_INTERROGATE);
        now += next() % 700;
        ExchangeAnswer a = exchangeSubmit(&ex, code, bytes.data(), in, out, now);
        ASSERT_LE(a.bytesReturned, out);
        if (a.status == EXCHANGE_DUE) {
            ASSERT_GE(a.dueAtMs, now);
        }
        ASSERT_LE(ex.forwardingCount, EXCHANGE_FORWARDING_CAPACITY);
        for (unsigned i = 0; i < ex.forwardingCount; ++i) {
            const ExchangeForwarding& f = ex.forwardings[i];
            ASSERT_LE(f.procedure, PROCEDURE_NO_REPLY);
            ASSERT_EQ(exchangeCheckNumber(f.servedUserNumber), 0);
            ASSERT_EQ(exchangeCheckNumber(f.forwardedToNumber), 0);
        }
    }
    EXPECT_GT(ex.forwardingCount, 0u) << "the garbage should have let some requests through";
}

// --- configuration ---

TEST(ExchangeConfigTest, BadStartingEntriesAreSkippedAndReported) {
    ExchangeConfig config;
    exchangeDefaultConfig(&config);
    config.forwardings[0] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_ALL, "821", "739");
    config.forwardings[1] = forwarding(3, BASIC_SERVICE_ALL, "821", "739");
    config.forwardings[2] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_ALL, "", "739");
    std::memset(config.forwardings[3].forwardedToNumber, '7', NUMBER_FIELD_SIZE);
    config.forwardings[3].servedUserNumber[0] = '1';
    config.forwardingCount = EXCHANGE_FORWARDING_CAPACITY + 1; // the rest are empty
    config.unreachableCount = 3;
    std::strcpy(config.unreachable[1], "9x");
    std::strcpy(config.unreachable[2], "22");
    SimulatedExchange ex;
    EXPECT_FALSE(exchangeInit(&ex, &config));
    ASSERT_EQ(ex.forwardingCount, 1u);
    EXPECT_STREQ(ex.forwardings[0].servedUserNumber, "821");
    ASSERT_EQ(ex.config.unreachableCount, 2u);
    EXPECT_STREQ(ex.config.unreachable[1], "22");
}

} // namespace
