// The whole core, from the dialog's commands to the status lines, against the
// simulated exchange behind the in-process device.
#include "command_routing.h"
#include "inprocess_device.h"
#include "interrogation_poller.h"
#include "command_ids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The dialog as far as the core sees it: two fields, the list, the timer.
struct Screen {
    std::string servedUserNumber;
    std::string forwardedToNumber;
    std::vector<std::string> lines;
    bool timerArmed = false;
};

Screen* screenOf(void* context) {
    return static_cast<Screen*>(static_cast<InProcessDevice*>(context)->owner);
}

unsigned readField(void* context, int id, char* buffer, unsigned size) {
    const Screen* s = screenOf(context);
    const std::string& text =
        id == IDC_SERVED_USER_NUMBER ? s->servedUserNumber : s->forwardedToNumber;
    unsigned n = static_cast<unsigned>(std::min<size_t>(text.size(), size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

void fillDialog(Platform* p) {
    p->readNumberField = readField;
    p->countStatusLines = [](void* c) { return static_cast<int>(screenOf(c)->lines.size()); };
    p->deleteFirstStatusLine = [](void* c) {
        screenOf(c)->lines.erase(screenOf(c)->lines.begin());
    };
    p->appendStatusLine = [](void* c, const char* line) { screenOf(c)->lines.push_back(line); };
    p->checkRadioButton = [](void*, int, int, int) {};
    p->armTimer = [](void* c, unsigned, unsigned) { return screenOf(c)->timerArmed = true; };
    p->killTimer = [](void* c, unsigned) { screenOf(c)->timerArmed = false; };
}

const std::string SEPARATOR(33, '-');

std::vector<std::string> block(const std::string& cfBy, const std::string& from,
                               const std::string& to) {
    return {SEPARATOR, "CF by " + cfBy, "From: " + from, "To:   " + to, SEPARATOR};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class CoreAgainstExchange : public ::testing::Test {
  protected:
    void SetUp() override {
        exchangeDefaultConfig(&config);
        start();
    }

    void start() {
        ASSERT_TRUE(inprocessDeviceInit(&device, &config));
        device.owner = &screen;
        Platform platform{};
        fillDialog(&platform);
        inprocessDeviceAttach(&device, &platform);
        forwardingSessionInit(&session, &platform);
    }

    void TearDown() override {
        commandRoutingDispatch(&session, COMMAND_CANCEL);
        EXPECT_EQ(device.openDevices, 0u) << "the end of the dialog closes the driver";
        EXPECT_EQ(device.openEvents, 0u);
        EXPECT_EQ(device.faults, 0u) << device.lastFault;
    }

    // Runs one command and returns the lines it logged.
    std::vector<std::string> command(int id) {
        size_t before = screen.lines.size();
        commandRoutingDispatch(&session, static_cast<uint32_t>(id));
        EXPECT_LE(device.openDevices, 1u) << "at most one device handle between commands";
        EXPECT_EQ(device.openEvents, 0u) << "no event outlives its command";
        EXPECT_FALSE(device.pending.active);
        return std::vector<std::string>(screen.lines.begin() + static_cast<long>(before),
                                        screen.lines.end());
    }

    std::vector<std::string> forward(int procedure, int directionButton, const std::string& served,
                                     const std::string& to) {
        screen.servedUserNumber = served;
        screen.forwardedToNumber = to;
        command(procedure);
        return command(directionButton);
    }

    // Presses Check Current Setting, then lets the timer tick every 500 ms
    // until the poll stops; returns every line the polls logged.
    std::vector<std::string> check(const std::string& served) {
        screen.servedUserNumber = served;
        std::vector<std::string> lines = command(IDC_CHECK_CURRENT_SETTING);
        for (int tick = 0; screen.timerArmed && tick < 100; ++tick) {
            inprocessDeviceAdvance(&device, POLL_INTERVAL_MS);
            lines = lines + command(IDC_CHECK_CURRENT_SETTING);
        }
        EXPECT_FALSE(screen.timerArmed) << "the poll never ended";
        return lines;
    }

    ExchangeConfig config;
    InProcessDevice device;
    Screen screen;
    ForwardingSession session{};
};

const std::vector<std::string> FINISHED = {"Interrogation is finished"};

TEST_F(CoreAgainstExchange, ActivateInterrogateDeactivateInterrogate) {
    EXPECT_EQ(forward(IDC_BUSY, IDC_ACTIVATE, "821", "739"),
              std::vector<std::string>{"Activation is successful"});
    EXPECT_EQ(forward(IDC_IMMEDIATELY, IDC_ACTIVATE, "821", "5550"),
              std::vector<std::string>{"Activation is successful"});
    EXPECT_EQ(check("821"), block("Busy (All Services)", "821", "739") +
                                block("Immediately (All Services)", "821", "5550") + FINISHED);

    EXPECT_EQ(forward(IDC_BUSY, IDC_DEACTIVATE, "821", "739"),
              std::vector<std::string>{"Deactivation is successful"});
    EXPECT_EQ(check("821"), block("Immediately (All Services)", "821", "5550") + FINISHED);

    EXPECT_EQ(forward(IDC_IMMEDIATELY, IDC_DEACTIVATE, "821", "5550"),
              std::vector<std::string>{"Deactivation is successful"});
    EXPECT_EQ(check("821"), FINISHED);
}

TEST_F(CoreAgainstExchange, UnreachableNumberTimesOutBothWays) {
    const uint64_t t0 = device.nowMs;
    EXPECT_EQ(forward(IDC_NO_REPLY, IDC_ACTIVATE, EXCHANGE_DEFAULT_UNREACHABLE_NUMBER, "739"),
              std::vector<std::string>{"Activation is time out"});
    EXPECT_EQ(device.nowMs, t0 + EXCHANGE_DEFAULT_TIME_OUT_MS) << "the command waited for it";
    EXPECT_EQ(check(EXCHANGE_DEFAULT_UNREACHABLE_NUMBER),
              std::vector<std::string>{"Interrogation is time-out"});
    EXPECT_EQ(forward(IDC_NO_REPLY, IDC_DEACTIVATE, EXCHANGE_DEFAULT_UNREACHABLE_NUMBER, "739"),
              std::vector<std::string>{"Deactivation is time out"});
}

TEST_F(CoreAgainstExchange, EachRejectionShowsTheExchangesCode) {
    for (unsigned i = 0; i < EXCHANGE_FORWARDING_CAPACITY; ++i) {
        ExchangeForwarding& f = config.forwardings[i];
        f = {PROCEDURE_IMMEDIATELY, BASIC_SERVICE_ALL, "", "1"};
        std::strcpy(f.servedUserNumber, std::to_string(100 + i).c_str());
    }
    config.forwardingCount = EXCHANGE_FORWARDING_CAPACITY;
    start();
    struct Case {
        int procedure;
        int direction;
        const char* served;
        const char* to;
        const char* line;
    } cases[] = {
        {IDC_BUSY, IDC_DEACTIVATE, "821", "739", "Deactivation is failed (3a03)"},
        // Pasted text gets past a digit-only field.
        {IDC_BUSY, IDC_ACTIVATE, "82a", "739", "Activation is failed (3a01)"},
        {IDC_BUSY, IDC_ACTIVATE, "821", "739", "Activation is failed (3a04)"},
        // The fourth command of the procedure range has no button but codes 3.
        {IDC_PROCEDURE_LAST, IDC_ACTIVATE, "821", "739", "Activation is failed (3a05)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(forward(c.procedure, c.direction, c.served, c.to),
                  std::vector<std::string>{c.line});
    }
    EXPECT_EQ(device.exchange.forwardingCount, EXCHANGE_FORWARDING_CAPACITY);
}

} // namespace
