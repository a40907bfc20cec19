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

class ExchangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        exchangeDefaultConfig(&config);
        start();
    }
    void start() { ASSERT_TRUE(exchangeInit(&ex, &config)); }

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

    ExchangeConfig config;
    SimulatedExchange ex;
};

constexpr uint8_t BUSY_ON = PROCEDURE_BUSY;
constexpr uint8_t BUSY_OFF = PROCEDURE_BUSY | FORWARDING_DIRECTION_DEACTIVATE;

// --- set forwarding ---

TEST_F(ExchangeTest, ActivationAppliesAtSubmissionAndAnswersAfterTheDelay) {
    std::vector<uint8_t> bytes = setRequest(BUSY_ON, "821", "739");
    const std::vector<uint8_t> sent = bytes;
    ExchangeAnswer a = exchangeSubmitSet(&ex, bytes.data(), FORWARDING_REQUEST_SIZE,
                                         FORWARDING_REQUEST_SIZE, 1000);
    EXPECT_EQ(a.status, EXCHANGE_DUE);
    EXPECT_EQ(a.resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(a.dueAtMs, 1000u + EXCHANGE_DEFAULT_DELAY_MS);
    EXPECT_EQ(a.bytesReturned, FORWARDING_REQUEST_SIZE);
    EXPECT_EQ(bytes, sent) << "the answer is written by the caller when due";

    const ExchangeForwarding* f =
        exchangeFindForwarding(&ex, "821", PROCEDURE_BUSY, BASIC_SERVICE_ALL);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->forwardedToNumber, "739");
    EXPECT_EQ(ex.forwardingCount, 1u);
}

TEST_F(ExchangeTest, ActivationReplacesTheForwardingOfThatNumberAndProcedureOnly) {
    config.forwardings[0] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "821", "100");
    config.forwardings[1] = forwarding(PROCEDURE_NO_REPLY, BASIC_SERVICE_ALL, "821", "200");
    config.forwardings[2] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_ALL, "8210", "300");
    config.forwardingCount = 3;
    start();

    EXPECT_EQ(set(BUSY_ON, "821", "739").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(set(BUSY_ON, "821", "740").resultCode, RESULT_CODE_SUCCESS);

    EXPECT_EQ(ex.forwardingCount, 3u);
    EXPECT_EQ(exchangeFindForwarding(&ex, "821", PROCEDURE_BUSY, BASIC_SERVICE_SPEECH), nullptr);
    const ExchangeForwarding* busy =
        exchangeFindForwarding(&ex, "821", PROCEDURE_BUSY, BASIC_SERVICE_ALL);
    ASSERT_NE(busy, nullptr);
    EXPECT_STREQ(busy->forwardedToNumber, "740");
    EXPECT_NE(exchangeFindForwarding(&ex, "821", PROCEDURE_NO_REPLY, BASIC_SERVICE_ALL), nullptr);
    EXPECT_NE(exchangeFindForwarding(&ex, "8210", PROCEDURE_BUSY, BASIC_SERVICE_ALL), nullptr);
}

TEST_F(ExchangeTest, DeactivationRemovesEveryServiceOfThatProcedureThenHasNothingLeft) {
    config.forwardings[0] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "821", "100");
    config.forwardings[1] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_DATA, "821", "101");
    config.forwardings[2] = forwarding(PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "821", "102");
    config.forwardingCount = 3;
    start();

    // The forwarded-to number of a deactivation need not match.
    EXPECT_EQ(set(BUSY_OFF, "821", "5").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(ex.forwardingCount, 1u);
    EXPECT_NE(exchangeFindForwarding(&ex, "821", PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL),
              nullptr);

    ExchangeAnswer again = set(BUSY_OFF, "821", "5", 40);
    EXPECT_EQ(again.status, EXCHANGE_DUE);
    EXPECT_EQ(again.resultCode, EXCHANGE_RESULT_NOT_ACTIVE);
    EXPECT_EQ(again.dueAtMs, 40u + EXCHANGE_DEFAULT_DELAY_MS);
}

TEST_F(ExchangeTest, MalformedRequestsAreRejectedWithTheirOwnCodeAndChangeNothing) {
    const std::string longNumber(NUMBER_FIELD_SIZE, '1'); // fills the field, no terminator
    struct Case {
        const char* what;
        uint8_t control;
        std::string served;
        std::string to;
        uint16_t code;
    } cases[] = {
        {"empty served", BUSY_ON, "", "739", EXCHANGE_RESULT_INVALID_NUMBER},
        {"empty forwarded-to", BUSY_ON, "821", "", EXCHANGE_RESULT_INVALID_NUMBER},
        {"letters", BUSY_ON, "82a", "739", EXCHANGE_RESULT_INVALID_NUMBER},
        {"plus sign", BUSY_ON, "821", "+739", EXCHANGE_RESULT_INVALID_NUMBER},
        {"unterminated served", BUSY_ON, longNumber, "739", EXCHANGE_RESULT_UNTERMINATED},
        {"unterminated forwarded-to", BUSY_ON, "821", longNumber, EXCHANGE_RESULT_UNTERMINATED},
        {"procedure 3", 3, "821", "739", EXCHANGE_RESULT_INVALID_PROCEDURE},
        {"procedure 3 off", 0x83, "821", "739", EXCHANGE_RESULT_INVALID_PROCEDURE},
        {"reserved bit", 0x04 | BUSY_ON, "821", "739", EXCHANGE_RESULT_INVALID_CONTROL},
        {"empty deactivation", BUSY_OFF, "", "739", EXCHANGE_RESULT_INVALID_NUMBER},
    };
    for (const Case& c : cases) {
        ExchangeAnswer a = set(c.control, c.served, c.to, 7);
        EXPECT_EQ(a.status, EXCHANGE_DUE) << c.what;
        EXPECT_EQ(a.resultCode, c.code) << c.what;
        EXPECT_EQ(a.dueAtMs, 7u + EXCHANGE_DEFAULT_DELAY_MS) << c.what;
        EXPECT_EQ(ex.forwardingCount, 0u) << c.what;
    }
    // A 25-digit number is the longest that fits with its terminator.
    EXPECT_EQ(set(BUSY_ON, std::string(NUMBER_MAX_LENGTH, '1'), "739").resultCode,
              RESULT_CODE_SUCCESS);
}

TEST_F(ExchangeTest, FullTableRejectsNewForwardingsButStillReplacesAndRemoves) {
    for (unsigned i = 0; i < EXCHANGE_FORWARDING_CAPACITY; ++i) {
        ASSERT_EQ(set(PROCEDURE_IMMEDIATELY, std::to_string(100 + i), "1").resultCode,
                  RESULT_CODE_SUCCESS);
    }
    EXPECT_EQ(set(PROCEDURE_IMMEDIATELY, "999999", "1").resultCode, EXCHANGE_RESULT_TABLE_FULL);
    EXPECT_EQ(set(PROCEDURE_BUSY, "100", "1").resultCode, EXCHANGE_RESULT_TABLE_FULL);
    EXPECT_EQ(set(PROCEDURE_IMMEDIATELY, "100", "2").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(ex.forwardingCount, EXCHANGE_FORWARDING_CAPACITY);

    EXPECT_EQ(set(FORWARDING_DIRECTION_DEACTIVATE, "105", "1").resultCode, RESULT_CODE_SUCCESS);
    EXPECT_EQ(set(PROCEDURE_BUSY, "100", "1").resultCode, RESULT_CODE_SUCCESS);
}

TEST_F(ExchangeTest, UnreachableNumberTimesOutWithoutChangingAnything) {
    ExchangeAnswer a = set(BUSY_ON, EXCHANGE_DEFAULT_UNREACHABLE_NUMBER, "739", 500);
    EXPECT_EQ(a.status, EXCHANGE_DUE);
    EXPECT_EQ(a.resultCode, RESULT_CODE_TIME_OUT);
    EXPECT_EQ(a.dueAtMs, 500u + EXCHANGE_DEFAULT_TIME_OUT_MS);
    EXPECT_EQ(ex.forwardingCount, 0u);
    EXPECT_EQ(set(BUSY_OFF, EXCHANGE_DEFAULT_UNREACHABLE_NUMBER, "739").resultCode,
              RESULT_CODE_TIME_OUT);

    // Only whole numbers match.
    EXPECT_EQ(set(BUSY_ON, "9990", "739").resultCode, RESULT_CODE_SUCCESS);
}

TEST_F(ExchangeTest, ConfiguredDelayTimeOutAndUnreachableNumbersAreHonoured) {
    config.delayMs = 0;
    config.timeOutMs = 50;
    config.unreachableCount = 2;
    std::strcpy(config.unreachable[0], "1");
    std::strcpy(config.unreachable[1], "22");
    start();
    EXPECT_EQ(set(BUSY_ON, "821", "739", 10).dueAtMs, 10u);
    ExchangeAnswer a = set(BUSY_ON, "22", "739", 10);
    EXPECT_EQ(a.resultCode, RESULT_CODE_TIME_OUT);
    EXPECT_EQ(a.dueAtMs, 60u);
    EXPECT_EQ(set(BUSY_ON, "999", "739").resultCode, RESULT_CODE_SUCCESS);
}

TEST_F(ExchangeTest, DueTimeSaturatesAtTheEndOfTheClock) {
    EXPECT_EQ(set(BUSY_ON, "821", "739", UINT64_MAX - 1).dueAtMs, UINT64_MAX);
}

// --- interrogation ---

class InterrogationTest : public ExchangeTest {
  protected:
    void SetUp() override {
        exchangeDefaultConfig(&config);
        config.forwardings[0] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "821", "739");
        config.forwardings[1] = forwarding(PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "4", "5");
        config.forwardings[2] = forwarding(PROCEDURE_NO_REPLY, BASIC_SERVICE_TELEPHONY_7KHZ, "821",
                                           "1234567890123456789012345");
        config.forwardingCount = 3;
        start();
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
};

TEST_F(InterrogationTest, NothingYetThenEachEntryThenFinishedThenANewQuery) {
    expectNothingYet("821", 1000);
    expectNothingYet("821", 1000 + EXCHANGE_DEFAULT_DELAY_MS - 1);
    expectEntry(1000 + EXCHANGE_DEFAULT_DELAY_MS, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
    expectEntry(1800, PROCEDURE_NO_REPLY, BASIC_SERVICE_TELEPHONY_7KHZ,
                "1234567890123456789012345");
    EXPECT_EQ(ask("821", 2300).status, EXCHANGE_FINISHED);

    expectNothingYet("821", 2300);
    expectEntry(2600, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
}

TEST_F(InterrogationTest, NumberWithoutForwardingsFinishesOnceTheNetworkAnswered) {
    expectNothingYet("7", 0);
    EXPECT_EQ(ask("7", EXCHANGE_DEFAULT_DELAY_MS).status, EXCHANGE_FINISHED);
}

TEST_F(InterrogationTest, AnotherNumberStartsANewQuery) {
    expectNothingYet("821", 0);
    expectEntry(300, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
    expectNothingYet("4", 400);
    expectEntry(700, PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "5", "4");
    expectNothingYet("821", 800); // starts over, first entry again
    expectEntry(1100, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
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
    expectEntry(300, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
    expectEntry(400, PROCEDURE_NO_REPLY, BASIC_SERVICE_TELEPHONY_7KHZ, "1234567890123456789012345");
    EXPECT_EQ(ask("821", 500).status, EXCHANGE_FINISHED);

    expectNothingYet("821", 600);
    expectEntry(900, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
    expectEntry(900, PROCEDURE_NO_REPLY, BASIC_SERVICE_TELEPHONY_7KHZ, "1234567890123456789012345");
    expectEntry(900, PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "600");
}

TEST_F(InterrogationTest, AbandonedQueryIsForgottenAfterTheIdleLimit) {
    expectNothingYet("821", 0);
    expectEntry(300, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
    expectEntry(300 + EXCHANGE_DEFAULT_QUERY_IDLE_MS, PROCEDURE_NO_REPLY,
                BASIC_SERVICE_TELEPHONY_7KHZ, "1234567890123456789012345");
    expectNothingYet("821", 301 + 2 * EXCHANGE_DEFAULT_QUERY_IDLE_MS);
}

TEST_F(InterrogationTest, BadNumberIsRejectedAndLeavesTheRunningQueryAlone) {
    expectNothingYet("821", 0);
    std::vector<uint8_t> unterminated(INTERROGATION_RECORD_SIZE, '1');
    EXPECT_EQ(exchangeSubmitInterrogate(&ex, unterminated.data(), INTERROGATION_RECORD_SIZE,
                                        INTERROGATION_RECORD_SIZE, 100)
                  .status,
              EXCHANGE_INVALID_PARAMETER);
    EXPECT_EQ(ask("", 100).status, EXCHANGE_INVALID_PARAMETER);
    EXPECT_EQ(ask("8-1", 100).status, EXCHANGE_INVALID_PARAMETER);
    expectEntry(300, PROCEDURE_BUSY, BASIC_SERVICE_SPEECH, "739");
}

// --- buffers, codes and the received log ---

TEST_F(ExchangeTest, ShortBuffersAreRejectedAndLongerOnesAccepted) {
    std::vector<uint8_t> bytes = setRequest(BUSY_ON, "821", "739");
    bytes.resize(100, 0x55);
    EXPECT_EQ(
        exchangeSubmit(&ex, IOCTL_CF_SET, bytes.data(), FORWARDING_REQUEST_SIZE - 1, 100, 0).status,
        EXCHANGE_INVALID_PARAMETER);
    EXPECT_EQ(
        exchangeSubmit(&ex, IOCTL_CF_SET, bytes.data(), 100, FORWARDING_REQUEST_SIZE - 1, 0).status,
        EXCHANGE_BUFFER_TOO_SMALL);
    EXPECT_EQ(exchangeSubmit(&ex, IOCTL_CF_SET, nullptr, 100, 100, 0).status,
              EXCHANGE_INVALID_PARAMETER);
    EXPECT_EQ(ex.forwardingCount, 0u);
    ExchangeAnswer a = exchangeSubmit(&ex, IOCTL_CF_SET, bytes.data(), 100, 100, 0);
    EXPECT_EQ(a.status, EXCHANGE_DUE);
    EXPECT_EQ(a.resultCode, RESULT_CODE_SUCCESS);

    std::vector<uint8_t> record = interrogation("821");
    record.resize(200, 0x55);
    EXPECT_EQ(exchangeSubmit(&ex, IOCTL_CF_INTERROGATE, record.data(),
                             INTERROGATION_RECORD_SIZE - 1, 200, 0)
                  .status,
              EXCHANGE_INVALID_PARAMETER);
    EXPECT_EQ(exchangeSubmit(&ex, IOCTL_CF_INTERROGATE, record.data(), 200,
                             INTERROGATION_RECORD_SIZE - 1, 0)
                  .status,
              EXCHANGE_BUFFER_TOO_SMALL);
    EXPECT_EQ(exchangeSubmit(&ex, IOCTL_CF_INTERROGATE, record.data(), 200, 200, 0).bytesReturned,
              INTERROGATION_NOTHING_YET_BYTES);
    EXPECT_EQ(exchangeSubmit(&ex, IOCTL_CF_INTERROGATE, record.data(), 200, 200,
                             EXCHANGE_DEFAULT_DELAY_MS)
                  .bytesReturned,
              FORWARDING_ENTRY_SIZE);
    EXPECT_EQ(record[INTERROGATION_RECORD_SIZE - 1], 0);
    EXPECT_EQ(record[INTERROGATION_RECORD_SIZE], 0x55) << "nothing written past the record";
}

TEST_F(ExchangeTest, UnknownControlCodesAreRejected) {
    uint8_t bytes[FORWARDING_REQUEST_SIZE] = {};
    for (uint32_t code : {0u, IOCTL_CF_SET - 4, IOCTL_CF_INTERROGATE + 4, 0xFFFFFFFFu}) {
        EXPECT_EQ(exchangeSubmit(&ex, code, bytes, sizeof bytes, sizeof bytes, 0).status,
                  EXCHANGE_UNKNOWN_REQUEST);
    }
    EXPECT_EQ(exchangeSubmit(&ex, 0x1234, nullptr, 0, 0, 0).status, EXCHANGE_UNKNOWN_REQUEST);
}

TEST_F(ExchangeTest, ReceivedLogKeepsTheLatestSubmissionsAsTheyArrived) {
    EXPECT_EQ(exchangeReceivedCount(&ex), 0u);
    EXPECT_EQ(exchangeReceivedAt(&ex, 0), nullptr);

    std::vector<uint8_t> request =
        setRequest(BUSY_ON | FORWARDING_DIRECTION_DEACTIVATE, "821", "739");
    exchangeSubmit(&ex, IOCTL_CF_SET, request.data(), FORWARDING_REQUEST_SIZE,
                   FORWARDING_REQUEST_SIZE, 5);
    const ExchangeReceived* r = exchangeReceivedAt(&ex, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->controlCode, IOCTL_CF_SET);
    EXPECT_EQ(r->inLength, FORWARDING_REQUEST_SIZE);
    EXPECT_EQ(r->atMs, 5u);
    EXPECT_EQ(0, std::memcmp(r->bytes, request.data(), FORWARDING_REQUEST_SIZE));
    EXPECT_EQ(r->bytes[FORWARDING_REQUEST_SIZE], 0);

    std::vector<uint8_t> big(300, 0x77);
    exchangeSubmit(&ex, 0xDEAD, big.data(), 300, 300, 6);
    EXPECT_EQ(exchangeReceivedAt(&ex, 0)->inLength, 300u);
    EXPECT_EQ(exchangeReceivedAt(&ex, 0)->bytes[EXCHANGE_RECEIVED_BYTES - 1], 0x77);
    EXPECT_EQ(exchangeReceivedAt(&ex, 1)->controlCode, IOCTL_CF_SET);

    for (uint32_t i = 0; i < EXCHANGE_RECEIVED_CAPACITY + 3; ++i) {
        exchangeSubmit(&ex, 1000 + i, nullptr, 0, 0, 7);
    }
    EXPECT_EQ(exchangeReceivedCount(&ex), EXCHANGE_RECEIVED_CAPACITY);
    EXPECT_EQ(exchangeReceivedAt(&ex, 0)->controlCode, 1000u + EXCHANGE_RECEIVED_CAPACITY + 2);
    EXPECT_EQ(exchangeReceivedAt(&ex, EXCHANGE_RECEIVED_CAPACITY - 1)->controlCode, 1003u);
    EXPECT_EQ(exchangeReceivedAt(&ex, EXCHANGE_RECEIVED_CAPACITY), nullptr);
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
            ASSERT_LT(strnlen(f.servedUserNumber, NUMBER_FIELD_SIZE), NUMBER_FIELD_SIZE);
            ASSERT_LT(strnlen(f.forwardedToNumber, NUMBER_FIELD_SIZE), NUMBER_FIELD_SIZE);
        }
    }
    EXPECT_GT(ex.forwardingCount, 0u) << "the garbage should have let some requests through";
}

// --- configuration ---

TEST(ExchangeConfigTest, BadStartingForwardingsAreSkippedAndReported) {
    ExchangeConfig config;
    exchangeDefaultConfig(&config);
    config.forwardings[0] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_ALL, "821", "739");
    config.forwardings[1] = forwarding(3, BASIC_SERVICE_ALL, "821", "739");
    config.forwardings[2] = forwarding(PROCEDURE_BUSY, BASIC_SERVICE_ALL, "", "739");
    std::memset(config.forwardings[3].forwardedToNumber, '7', NUMBER_FIELD_SIZE);
    config.forwardings[3].servedUserNumber[0] = '1';
    config.forwardingCount = 4;
    SimulatedExchange ex;
    EXPECT_FALSE(exchangeInit(&ex, &config));
    ASSERT_EQ(ex.forwardingCount, 1u);
    EXPECT_STREQ(ex.forwardings[0].servedUserNumber, "821");

    config.forwardingCount = EXCHANGE_FORWARDING_CAPACITY + 1;
    config.unreachableCount = EXCHANGE_UNREACHABLE_CAPACITY + 1;
    EXPECT_FALSE(exchangeInit(&ex, &config));
    EXPECT_LE(ex.forwardingCount, EXCHANGE_FORWARDING_CAPACITY);
    EXPECT_EQ(ex.config.unreachableCount, EXCHANGE_UNREACHABLE_CAPACITY);
}

} // namespace
