// Tests of Check Current Setting: the poll timer armed once and killed at the
// end, each entry's five lines, the closing lines, complaints while polling.
#include <gtest/gtest.h>

#include <cstring>

#include "interrogation_poller.h"
#include "session_fixture.h"

namespace {

using Poller = SessionTest;

FakeAnswer bytes(uint32_t count, std::vector<uint8_t> writes = {}) {
    FakeAnswer a;
    a.start = IO_COMPLETED;
    a.bytesReturned = count;
    a.writes = writes;
    return a;
}

FakeAnswer finished() {
    FakeAnswer a;
    a.start = IO_REFUSED;
    return a;
}

std::vector<uint8_t> entry(uint8_t procedure, uint8_t service, const char* served,
                           const char* forwardedTo) {
    std::vector<uint8_t> e(54, 0);
    e[0] = procedure;
    e[1] = service;
    std::memcpy(e.data() + 2, served, std::strlen(served) + 1);
    std::memcpy(e.data() + 28, forwardedTo, std::strlen(forwardedTo) + 1);
    return e;
}

const char REPORT_LINE[] = "---------------------------------";
const std::vector<std::string> BLOCK_821_739 = {REPORT_LINE, "CF by Busy (Speech)", "From: 821",
                                                "To:   739", REPORT_LINE};

} // namespace

TEST_F(Poller, FirstPollFinishingAtOnceArmsNoTimer) {
    numbers("821", "");
    interrogationPollerPoll(&session);
    EXPECT_EQ((std::vector<std::string>{"Interrogation is finished"}), fake.lines);
    EXPECT_EQ(0, fake.armCalls);
    EXPECT_FALSE(session.poller.pollTimerArmed);
    ASSERT_EQ(1u, fake.interrogationRequests.size());
    std::vector<uint8_t> expected(60, 0);
    std::memcpy(expected.data(), "821", 3);
    EXPECT_EQ(expected, fake.interrogationRequests[0]);
}

TEST_F(Poller, ATwentyFiveDigitNumberIsSentWholeAndReportedWhole) {
    const std::string digits = "1234567890123456789012345";
    numbers(digits, "");
    fake.interrogationAnswers = {bytes(54, entry(2, 3, digits.c_str(), digits.c_str())),
                                 bytes(54, entry(0, 32, "821", "739"))};
    interrogationPollerPoll(&session);
    std::vector<uint8_t> expected(60, 0);
    std::memcpy(expected.data(), digits.data(), 25);
    ASSERT_EQ(1u, fake.interrogationRequests.size());
    EXPECT_EQ(expected, fake.interrogationRequests[0]);
    EXPECT_EQ((std::vector<std::string>{REPORT_LINE, "CF by No reply (3.1KHz Audio)",
                                        "From: " + digits, "To:   " + digits, REPORT_LINE}),
              fake.lines);
    // The longest procedure and service texts together: 36 characters, whole.
    interrogationPollerPoll(&session);
    ASSERT_EQ(10u, fake.lines.size());
    EXPECT_EQ("CF by Immediately (3.1KHz Telephony)", fake.lines[6]);
}

TEST_F(Poller, NothingYetLogsNothingAndArmsTheTimerOnce) {
    numbers("821", "");
    fake.interrogationAnswers = {bytes(0), bytes(0), bytes(0)};
    interrogationPollerPoll(&session);
    EXPECT_TRUE(fake.lines.empty());
    EXPECT_TRUE(fake.timerArmed);
    EXPECT_TRUE(interrogationPollerTimerArmed(&session)); // what the dialog's cursor asks
    interrogationPollerPoll(&session);
    interrogationPollerPoll(&session); // a tick, then a second press while polling
    EXPECT_EQ(1, fake.armCalls);
    EXPECT_EQ(0, fake.killCalls);
    EXPECT_EQ(3u, fake.interrogationRequests.size());
}

TEST_F(Poller, AnEntryGivesExactlyItsFiveLinesThenTheEnd) {
    numbers("821", "");
    fake.interrogationAnswers = {bytes(54, entry(1, 1, "821", "739")), finished()};
    interrogationPollerPoll(&session);
    EXPECT_EQ(BLOCK_821_739, fake.lines);
    EXPECT_TRUE(fake.timerArmed);
    interrogationPollerPoll(&session);
    EXPECT_EQ("Interrogation is finished", fake.lines.back());
    EXPECT_EQ(6u, fake.lines.size());
    EXPECT_FALSE(fake.timerArmed);
    EXPECT_FALSE(interrogationPollerTimerArmed(&session));
}

TEST_F(Poller, OneByteIsATimeOut) {
    numbers("821", "");
    fake.interrogationAnswers = {bytes(0), bytes(1, {9, 9, 9})};
    interrogationPollerPoll(&session);
    interrogationPollerPoll(&session);
    EXPECT_EQ((std::vector<std::string>{"Interrogation is time-out"}), fake.lines);
    EXPECT_FALSE(fake.timerArmed);
    EXPECT_FALSE(session.poller.pollTimerArmed);
    EXPECT_EQ(1, fake.killCalls);
}

TEST_F(Poller, AShortCountReadsTheBufferAsItStands) {
    numbers("821", "");
    // Two bytes written: procedure 1, service 32; the rest is the request.
    fake.interrogationAnswers = {bytes(2, {1, 32})};
    interrogationPollerPoll(&session);
    ASSERT_EQ(5u, fake.lines.size());
    EXPECT_EQ("CF by Busy (3.1KHz Telephony)", fake.lines[1]);
    // Offset 2 held the request's third digit and the terminator after it.
    EXPECT_EQ("From: 1", fake.lines[2]);
    EXPECT_EQ("To:   ", fake.lines[3]);
}

TEST_F(Poller, ComplaintsNeverStopARunningPoll) {
    numbers("821", "");
    fake.interrogationAnswers = {bytes(0), bytes(54, entry(0, 0, "821", "5"))};
    interrogationPollerPoll(&session);
    ASSERT_TRUE(session.poller.pollTimerArmed);

    numbers("", "");
    interrogationPollerPoll(&session);
    fake.driverPresent = false;
    numbers("821", "");
    interrogationPollerPoll(&session);
    EXPECT_EQ((std::vector<std::string>{"Need to fill Transferd Number!", "Failed to Open Driver"}),
              fake.lines);
    EXPECT_TRUE(fake.timerArmed);
    EXPECT_TRUE(session.poller.pollTimerArmed);
    EXPECT_EQ(0, fake.killCalls);

    fake.driverPresent = true;
    interrogationPollerPoll(&session);
    EXPECT_EQ("CF by Immediately (All Services)", fake.lines[3]);
    EXPECT_EQ(1, fake.armCalls);
}

TEST_F(Poller, EmptyNumberWhenIdleOnlyComplains) {
    interrogationPollerPoll(&session);
    EXPECT_EQ((std::vector<std::string>{"Need to fill Transferd Number!"}), fake.lines);
    EXPECT_EQ(1, fake.opens);
    EXPECT_TRUE(fake.interrogationRequests.empty());
    EXPECT_EQ(0, fake.armCalls);
}

TEST_F(Poller, ATimerThatCannotBeArmedIsTriedAgainOnTheNextPoll) {
    numbers("821", "");
    fake.armFails = true;
    fake.interrogationAnswers = {bytes(0), bytes(0)};
    interrogationPollerPoll(&session);
    EXPECT_FALSE(session.poller.pollTimerArmed);
    fake.armFails = false;
    interrogationPollerPoll(&session);
    EXPECT_TRUE(session.poller.pollTimerArmed);
    EXPECT_EQ(2, fake.armCalls);
}

TEST_F(Poller, AnyBytesInTheEntryKeepEveryLineBounded) {
    numbers("821", "");
    std::vector<uint8_t> garbage(60);
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<uint8_t>(0x80 + i); // no zero anywhere
    }
    fake.interrogationAnswers = {bytes(60, garbage)};
    interrogationPollerPoll(&session);
    ASSERT_EQ(5u, fake.lines.size());
    EXPECT_EQ(std::string("From: ") + std::string(garbage.begin() + 2, garbage.begin() + 28),
              fake.lines[2]);
    EXPECT_EQ(std::string("To:   ") + std::string(garbage.begin() + 28, garbage.begin() + 54),
              fake.lines[3]);
    EXPECT_EQ("CF by No reply (All Services)", fake.lines[1]);
}

TEST_F(Poller, AReportBlockOnAFullListLeaves260) {
    numbers("821", "");
    fillLog(300);
    fake.interrogationAnswers = {bytes(54, entry(1, 1, "821", "739"))};
    interrogationPollerPoll(&session);
    EXPECT_EQ(260u, fake.lines.size());
    EXPECT_EQ(BLOCK_821_739, linesFrom(fake, 255));
    EXPECT_EQ("old 45", fake.lines.front());
}
