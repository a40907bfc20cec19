// Tests of the driver model on Linux: the pending table's order, draining and
// capacity; the start configuration's strings; configure; the received log.
#include "driver_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

ExchangeAnswer dueAt(uint64_t ms, uint16_t code = RESULT_CODE_SUCCESS) {
    ExchangeAnswer answer = {};
    answer.status = EXCHANGE_DUE;
    answer.bytesReturned = FORWARDING_REQUEST_SIZE;
    answer.resultCode = code;
    answer.dueAtMs = ms;
    return answer;
}

void* request(uintptr_t id) {
    return reinterpret_cast<void*>(id);
}

// Registry text as REG_MULTI_SZ holds it: each string, a zero, a final zero.
std::vector<uint16_t> multiSz(const std::vector<std::string>& strings) {
    std::vector<uint16_t> units;
    for (const std::string& s : strings) {
        units.insert(units.end(), s.begin(), s.end());
        units.push_back(0);
    }
    units.push_back(0);
    return units;
}

class PendingTableTest : public ::testing::Test {
  protected:
    void SetUp() override { pendingInit(&table); }
    PendingTable table;
};

TEST_F(PendingTableTest, AnswersComeOutByDueTimeThenArrivalWithTheirCodes) {
    ASSERT_TRUE(pendingAdd(&table, request(1), nullptr, dueAt(300, 1)));
    ASSERT_TRUE(pendingAdd(&table, request(2), nullptr, dueAt(100, 2)));
    ASSERT_TRUE(pendingAdd(&table, request(3), nullptr, dueAt(100, 3)));
    EXPECT_EQ(pendingWakeAt(&table), 100u);
    EXPECT_EQ(pendingNextDue(&table, 99), nullptr);

    std::vector<uintptr_t> order;
    while (PendingAnswer* slot = pendingNextDue(&table, 1000)) {
        const uintptr_t id = reinterpret_cast<uintptr_t>(slot->request);
        EXPECT_EQ(slot->resultCode, id);
        EXPECT_EQ(slot->bytesReturned, FORWARDING_REQUEST_SIZE);
        order.push_back(id);
        ASSERT_TRUE(pendingRemove(&table, slot->request));
        EXPECT_FALSE(pendingRemove(&table, request(id))); // gone
    }
    EXPECT_EQ(order, (std::vector<uintptr_t>{2, 3, 1}));
    EXPECT_EQ(table.count, 0u);
    EXPECT_EQ(pendingWakeAt(&table), UINT64_MAX);
    EXPECT_FALSE(pendingRemove(&table, nullptr)); // free slots are not requests
}

TEST_F(PendingTableTest, DrainingPicksByOwnerAndLeavesCancellingSlotsToTheirRoutine) {
    pendingAdd(&table, request(1), request(10), dueAt(10));
    pendingAdd(&table, request(2), request(10), dueAt(20));
    pendingAdd(&table, request(3), request(20), dueAt(30));
    EXPECT_EQ(pendingAnyOf(&table, request(20))->request, request(3));
    EXPECT_EQ(pendingAnyOf(&table, request(30)), nullptr);

    pendingNextDue(&table, 100)->cancelling = true; // request 1
    EXPECT_EQ(pendingNextDue(&table, 100)->request, request(2));
    EXPECT_EQ(pendingWakeAt(&table), 20u);
    EXPECT_EQ(pendingAnyOf(&table, request(10))->request, request(2));
    EXPECT_EQ(pendingCountOf(&table, request(10)), 2u); // still waits for the cancel routine
    ASSERT_TRUE(pendingRemove(&table, request(1)));
    EXPECT_EQ(pendingCountOf(&table, nullptr), 2u);
}

TEST_F(PendingTableTest, FullTableRefusesUntilASlotIsFreed) {
    for (uintptr_t i = 1; i <= PENDING_CAPACITY; ++i) {
        ASSERT_TRUE(pendingAdd(&table, request(i), nullptr, dueAt(i)));
    }
    EXPECT_FALSE(pendingAdd(&table, request(999), nullptr, dueAt(1)));
    ASSERT_TRUE(pendingRemove(&table, request(5)));
    EXPECT_TRUE(pendingAdd(&table, request(999), nullptr, dueAt(1)));
    EXPECT_EQ(table.count, PENDING_CAPACITY);
}

class StartConfigTest : public ::testing::Test {
  protected:
    void SetUp() override { exchangeDefaultConfig(&config); }
    ExchangeConfig config;
};

TEST_F(StartConfigTest, UnreachableNumbersReplaceTheDefaultListUpToItsCapacity) {
    auto text = multiSz({"998", "9x7", "", "12345678901234567890123456", "997"});
    EXPECT_EQ(parseUnreachableNumbers(text.data(), text.size(), &config), 2u);
    ASSERT_EQ(config.unreachableCount, 2u);
    EXPECT_STREQ(config.unreachable[0], "998");
    EXPECT_STREQ(config.unreachable[1], "997");

    text = multiSz({"1", "2", "3", "4", "5"});
    EXPECT_EQ(parseUnreachableNumbers(text.data(), text.size(), &config), 1u);
    EXPECT_EQ(config.unreachableCount, EXCHANGE_UNREACHABLE_CAPACITY);

    // A REG_SZ value: one string, its terminator not counted.
    const std::u16string single = u"4711";
    EXPECT_EQ(parseUnreachableNumbers(reinterpret_cast<const uint16_t*>(single.data()),
                                      single.size(), &config),
              0u);
    ASSERT_EQ(config.unreachableCount, 1u);
    EXPECT_STREQ(config.unreachable[0], "4711");
}

TEST_F(StartConfigTest, ForwardingsWithAndWithoutBasicServiceAndMalformedOnesRefused) {
    const auto text =
        multiSz({"821,739,1", "821,739", "821,739,3", "821,,1", "8a1,739,1", "821,739,1,256",
                 "821,739,1,", "821,739,1,2,3", ",739,1", "821;739;1",
                 "12345678901234567890123456,739,1", "821,1234567890123456789012345,0,38"});
    EXPECT_EQ(parseForwardings(text.data(), text.size(), &config), 10u);
    ASSERT_EQ(config.forwardingCount, 2u);
    EXPECT_EQ(config.forwardings[0].procedure, PROCEDURE_BUSY);
    EXPECT_EQ(config.forwardings[0].basicService, BASIC_SERVICE_ALL);
    EXPECT_STREQ(config.forwardings[0].servedUserNumber, "821");
    EXPECT_STREQ(config.forwardings[0].forwardedToNumber, "739");
    EXPECT_EQ(config.forwardings[1].procedure, PROCEDURE_IMMEDIATELY);
    EXPECT_EQ(config.forwardings[1].basicService, BASIC_SERVICE_TELEPHONY_7KHZ);
    EXPECT_STREQ(config.forwardings[1].forwardedToNumber, "1234567890123456789012345");
}

TEST_F(StartConfigTest, ForwardingsStopAtTheTableCapacity) {
    std::vector<std::string> strings;
    for (unsigned i = 0; i < EXCHANGE_FORWARDING_CAPACITY + 2; ++i) {
        strings.push_back(std::to_string(100 + i) + ",7,0");
    }
    const auto text = multiSz(strings);
    EXPECT_EQ(parseForwardings(text.data(), text.size(), &config), 2u);
    EXPECT_EQ(config.forwardingCount, EXCHANGE_FORWARDING_CAPACITY);
}

// A live exchange with one forwarding from the start configuration, one set
// through the device and two requests in its received log.
class ConfigureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ExchangeConfig start;
        exchangeDefaultConfig(&start);
        start.forwardingCount = 1;
        start.forwardings[0] =
            ExchangeForwarding{PROCEDURE_NO_REPLY, BASIC_SERVICE_SPEECH, "555", "666"};
        ASSERT_TRUE(exchangeInit(live.get(), &start));
        uint8_t set[FORWARDING_REQUEST_SIZE] = {PROCEDURE_BUSY, '8', '2', '1'};
        std::memcpy(set + REQUEST_FORWARDED_TO_NUMBER_OFFSET, "739", 4);
        ASSERT_EQ(exchangeSubmit(live.get(), IOCTL_CF_SET, set, sizeof set, sizeof set, 0).status,
                  EXCHANGE_DUE);
        uint8_t ask[INTERROGATION_RECORD_SIZE] = {'5', '5', '5'};
        exchangeSubmit(live.get(), IOCTL_CF_INTERROGATE, ask, sizeof ask, sizeof ask, 0);
        ASSERT_TRUE(live->query.active);
        std::memcpy(before.get(), live.get(), sizeof(SimulatedExchange));
    }

    bool configure() { return buildConfigured(live.get(), &request, &work, next.get()); }
    bool liveUnchanged() const {
        return std::memcmp(before.get(), live.get(), sizeof(SimulatedExchange)) == 0;
    }

    std::unique_ptr<SimulatedExchange> live = std::make_unique<SimulatedExchange>();
    std::unique_ptr<SimulatedExchange> before = std::make_unique<SimulatedExchange>();
    std::unique_ptr<SimulatedExchange> next = std::make_unique<SimulatedExchange>();
    ExchangeConfig work;
    ControlConfiguration request = {};
};

TEST_F(ConfigureTest, ChangesTheNamedFieldsAddsToTheForwardingsInForceAndKeepsTheLog) {
    request.fields = CONTROL_SET_DELAY | CONTROL_SET_UNREACHABLE | CONTROL_ADD_FORWARDINGS;
    request.delayMs = 5;
    request.timeOutMs = 12345; // not named: ignored
    request.unreachableCount = 2;
    std::strcpy(request.unreachable[0], "1");
    std::strcpy(request.unreachable[1], "22");
    request.forwardingCount = 3;
    request.forwardings[0] = ControlForwarding{PROCEDURE_BUSY, BASIC_SERVICE_ALL, "821", "740"};
    request.forwardings[1] = ControlForwarding{PROCEDURE_BUSY, BASIC_SERVICE_DATA, "821", "741"};
    request.forwardings[2] = ControlForwarding{PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "9", "1"};
    ASSERT_TRUE(configure());
    EXPECT_TRUE(liveUnchanged());
    EXPECT_EQ(next->config.delayMs, 5u);
    EXPECT_EQ(next->config.timeOutMs, live->config.timeOutMs);
    ASSERT_EQ(next->config.unreachableCount, 2u);
    EXPECT_STREQ(next->config.unreachable[1], "22");

    ASSERT_EQ(next->forwardingCount, 4u);
    EXPECT_NE(exchangeFindForwarding(next.get(), "555", PROCEDURE_NO_REPLY, BASIC_SERVICE_SPEECH),
              nullptr);
    const ExchangeForwarding* replaced =
        exchangeFindForwarding(next.get(), "821", PROCEDURE_BUSY, BASIC_SERVICE_ALL);
    ASSERT_NE(replaced, nullptr);
    EXPECT_STREQ(replaced->forwardedToNumber, "740"); // the set one, replaced
    EXPECT_NE(exchangeFindForwarding(next.get(), "821", PROCEDURE_BUSY, BASIC_SERVICE_DATA),
              nullptr);
    EXPECT_NE(exchangeFindForwarding(next.get(), "9", PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL),
              nullptr);

    EXPECT_EQ(next->receivedTotal, 2u);
    EXPECT_EQ(std::memcmp(next->received, live->received, sizeof next->received), 0);
    EXPECT_FALSE(next->query.active);
}

TEST_F(ConfigureTest, MalformedRequestsChangeNothing) {
    struct Case {
        const char* name;
        void (*spoil)(ControlConfiguration&);
    };
    const Case cases[] = {
        {"unknown field", [](ControlConfiguration& c) { c.fields |= 1u << 9; }},
        {"procedure 3", [](ControlConfiguration& c) { c.forwardings[1].procedure = 3; }},
        {"empty number",
         [](ControlConfiguration& c) { c.forwardings[1].forwardedToNumber[0] = 0; }},
        {"unterminated",
         [](ControlConfiguration& c) {
             std::memset(c.forwardings[1].servedUserNumber, '7', NUMBER_FIELD_SIZE);
         }},
        {"too many forwardings",
         [](ControlConfiguration& c) { c.forwardingCount = CONTROL_FORWARDING_CAPACITY + 1; }},
        {"too many unreachable",
         [](ControlConfiguration& c) {
             c.fields |= CONTROL_SET_UNREACHABLE;
             c.unreachableCount = CONTROL_UNREACHABLE_CAPACITY + 1;
         }},
        {"bad unreachable",
         [](ControlConfiguration& c) {
             c.fields |= CONTROL_SET_UNREACHABLE;
             c.unreachableCount = 1;
             std::strcpy(c.unreachable[0], "12a");
         }},
    };
    for (const Case& spoiled : cases) {
        request = {};
        request.fields = CONTROL_ADD_FORWARDINGS | CONTROL_SET_DELAY;
        request.delayMs = 1;
        request.forwardingCount = 2;
        request.forwardings[0] = ControlForwarding{PROCEDURE_BUSY, 0, "1", "2"};
        request.forwardings[1] = ControlForwarding{PROCEDURE_BUSY, 0, "3", "4"};
        ASSERT_TRUE(configure()) << spoiled.name; // valid before it is spoiled
        spoiled.spoil(request);
        EXPECT_FALSE(configure()) << spoiled.name;
        EXPECT_TRUE(liveUnchanged()) << spoiled.name;
    }
}

TEST_F(ConfigureTest, TableOverflowIsRefused) {
    request.fields = CONTROL_ADD_FORWARDINGS;
    request.forwardingCount = CONTROL_FORWARDING_CAPACITY - 1; // two are in force already
    for (unsigned i = 0; i < request.forwardingCount; ++i) {
        ControlForwarding& f = request.forwardings[i];
        f.procedure = PROCEDURE_IMMEDIATELY;
        std::snprintf(f.servedUserNumber, NUMBER_FIELD_SIZE, "%u", 1000 + i);
        std::strcpy(f.forwardedToNumber, "1");
    }
    EXPECT_FALSE(configure());
    request.forwardingCount = CONTROL_FORWARDING_CAPACITY - 2;
    EXPECT_TRUE(configure());
    EXPECT_EQ(next->forwardingCount, EXCHANGE_FORWARDING_CAPACITY);
}

// Every submission, malformed or not, as it arrived: the exchange's ring and
// the control record that hands it out.
TEST(ControlRecordsTest, ReceivedLogKeepsTheLatestOldestFirstWithTheirFirstBytes) {
    auto exchange = std::make_unique<SimulatedExchange>();
    ExchangeConfig config;
    exchangeDefaultConfig(&config);
    exchangeInit(exchange.get(), &config);
    const unsigned sent = EXCHANGE_RECEIVED_CAPACITY + 3;
    uint8_t bytes[100];
    for (unsigned i = 0; i < sent; ++i) {
        std::memset(bytes, static_cast<int>(i + 1), sizeof bytes);
        const uint32_t in = i % 2 == 0 ? 4 : sizeof bytes; // shorter and longer than kept
        exchangeSubmit(exchange.get(), 0x1000 + i, i == sent - 1 ? nullptr : bytes, in, i, 10 * i);
    }
    auto log = std::make_unique<ControlReceivedLog>();
    std::memset(log.get(), 0xAB, sizeof *log);
    fillReceivedLog(exchange.get(), log.get());
    EXPECT_EQ(log->total, sent);
    ASSERT_EQ(log->count, EXCHANGE_RECEIVED_CAPACITY);
    for (unsigned i = 0; i < log->count; ++i) {
        const unsigned n = sent - EXCHANGE_RECEIVED_CAPACITY + i;
        const ControlReceived& e = log->entries[i];
        EXPECT_EQ(e.controlCode, 0x1000 + n);
        EXPECT_EQ(e.inLength, n % 2 == 0 ? 4u : sizeof bytes);
        EXPECT_EQ(e.outCapacity, n);
        EXPECT_EQ(e.atMs, 10u * n);
        EXPECT_EQ(e.reserved, 0u);
        const unsigned copied =
            n == sent - 1 ? 0 : std::min<unsigned>(e.inLength, CONTROL_LOG_BYTES);
        for (unsigned j = 0; j < CONTROL_LOG_BYTES; ++j) {
            // Beyond the input: zero, not left-over.
            ASSERT_EQ(e.bytes[j], j < copied ? n + 1 : 0) << "entry " << n << " byte " << j;
        }
    }
}

} // namespace
