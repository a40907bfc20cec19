// Tests of "Forward By", Activate and Deactivate: the number checks, one open
// per command, numbers cut at 25, every outcome line, room made before it.
#include <gtest/gtest.h>

#include "forwarding_commands.h"
#include "session_fixture.h"

namespace {

using Commands = SessionTest;

const std::string DIGITS_25 = "1234567890123456789012345";

} // namespace

TEST_F(Commands, SelectingAProcedureOnlyChecksTheButtonAndSetsTheByte) {
    session.commands.forwardingControl = 0x80;
    forwardingCommandsSelectProcedure(&session, 1021);
    EXPECT_EQ(1, session.commands.forwardingControl);
    EXPECT_EQ(1021, fake.checkedRadio);
    forwardingCommandsSelectProcedure(&session, 1022);
    EXPECT_EQ(2, session.commands.forwardingControl);
    forwardingCommandsSelectProcedure(&session, 1023);
    EXPECT_EQ(3, session.commands.forwardingControl);
    forwardingCommandsSelectProcedure(&session, 1020);
    EXPECT_EQ(0, session.commands.forwardingControl);
    EXPECT_TRUE(fake.lines.empty());
    EXPECT_EQ(0, fake.opens);
}

TEST_F(Commands, BothNumbersEmptyAsksForTheServedNumber) {
    numbers("", "");
    forwardingCommandsActivate(&session);
    EXPECT_EQ((std::vector<std::string>{"Need to fill Transferd Number!"}), fake.lines);
    EXPECT_EQ(1, fake.opens);
    EXPECT_TRUE(fake.setRequests.empty());
}

TEST_F(Commands, MissingForwardedToNumberForBothDirections) {
    numbers("821", "");
    forwardingCommandsActivate(&session);
    forwardingCommandsDeactivate(&session);
    EXPECT_EQ((std::vector<std::string>{"Need to fill Forward-To Number!",
                                        "Need to fill Forward-To Number!"}),
              fake.lines);
    EXPECT_EQ(2, fake.opens);
    EXPECT_TRUE(fake.setRequests.empty());
    EXPECT_EQ(0x80, session.commands.forwardingControl); // direction set before the check
}

TEST_F(Commands, AbsentDriverGivesExactlyOneLineWhateverTheFieldsHold) {
    fake.driverPresent = false;
    for (auto fields :
         {std::make_pair("", ""), std::make_pair("821", ""), std::make_pair("821", "739")}) {
        numbers(fields.first, fields.second);
        fake.lines.clear();
        forwardingCommandsActivate(&session);
        forwardingCommandsDeactivate(&session);
        EXPECT_EQ((std::vector<std::string>{"Failed to Open Driver", "Failed to Open Driver"}),
                  fake.lines);
        EXPECT_EQ(PLATFORM_NO_HANDLE, session.channel.driverHandle);
    }
    EXPECT_EQ(6, fake.opens);
    EXPECT_TRUE(fake.setRequests.empty());
    EXPECT_EQ(0, fake.eventsCreated);
}

TEST_F(Commands, OneOpenPerCommandAndOneHandleLeftOpen) {
    numbers("821", "739");
    for (int i = 0; i < 50; ++i) {
        numbers(i % 3 == 0 ? "" : "821", i % 5 == 0 ? "" : "739");
        int before = fake.opens;
        (i % 2 ? forwardingCommandsActivate : forwardingCommandsDeactivate)(&session);
        ASSERT_EQ(before + 1, fake.opens);
        ASSERT_EQ(1u, fake.openDevices.size());
        ASSERT_TRUE(fake.openEvents.empty());
    }
    forwardingSessionEnd(&session);
    EXPECT_TRUE(fake.openDevices.empty());
    EXPECT_EQ(0, fake.closesOfUnknownHandles);
}

TEST_F(Commands, LongNumbersAreSentWholeOrCutAt25) {
    numbers(DIGITS_25, DIGITS_25 + "67890");
    forwardingCommandsActivate(&session);
    ASSERT_EQ(1u, fake.setRequests.size());
    const std::vector<uint8_t>& sent = fake.setRequests[0];
    EXPECT_EQ(DIGITS_25, std::string(sent.begin() + 1, sent.begin() + 26));
    EXPECT_EQ(0, sent[26]);
    EXPECT_EQ(DIGITS_25, std::string(sent.begin() + 27, sent.begin() + 52));
    EXPECT_EQ(0, sent[52]);
}

TEST_F(Commands, EveryOutcomeLine) {
    numbers("821", "739");
    // Success with under the code's two bytes back: no code, whatever the buffer holds.
    FakeAnswer noCount = completedWith(0x00, 0x00, IO_PENDING);
    noCount.bytesReturned = 0;
    fake.setAnswers.push_back(noCount);
    FakeAnswer twoBytes = completedWith(0x03, 0x33, IO_PENDING);
    twoBytes.bytesReturned = 2;
    fake.setAnswers.push_back(twoBytes);
    fake.setAnswers.push_back(completedWith(0x01, 0x80));
    FakeAnswer refused;
    refused.start = IO_REFUSED;
    fake.setAnswers.push_back(refused);
    FakeAnswer untouched; // completed at once, one byte back, buffer as sent
    untouched.bytesReturned = 1;
    fake.setAnswers.push_back(untouched);
    // Pended, then ended with an error: the buffer still holds the request,
    // whose first bytes are no result code ("failed (3800)", "failed (3880)").
    FakeAnswer pendedThenFailed = completedWith(0x00, 0x00, IO_PENDING);
    pendedThenFailed.endsInFailure = true;
    fake.setAnswers.push_back(pendedThenFailed);
    fake.setAnswers.push_back(pendedThenFailed);
    forwardingCommandsActivate(&session);
    forwardingCommandsActivate(&session);
    forwardingCommandsDeactivate(&session);
    forwardingCommandsActivate(&session);
    forwardingCommandsActivate(&session);
    forwardingCommandsActivate(&session);
    forwardingCommandsDeactivate(&session);
    fake.eventCreationFails = true;
    forwardingCommandsDeactivate(&session);
    EXPECT_EQ((std::vector<std::string>{"Activation is failed", "Activation is time out",
                                        "Deactivation is failed (8001)", "Activation is failed",
                                        "Activation is failed", "Activation is failed",
                                        "Deactivation is failed", "Deactivation is failed"}),
              fake.lines);
    ASSERT_EQ(7u, fake.setRequests.size());  // none without an event
    EXPECT_EQ(0x00, fake.setRequests[0][0]); // no button pressed since the start: immediately
    EXPECT_EQ(4, fake.waits);
    EXPECT_EQ(0, fake.cancels); // a request that ended needs no cancel
    EXPECT_TRUE(fake.openEvents.empty());
}

TEST_F(Commands, RoomIsMadeOnceBeforeTheLine) {
    numbers("", "");
    fillLog(255);
    forwardingCommandsActivate(&session);
    EXPECT_EQ(256u, fake.lines.size());
    EXPECT_EQ("old 0", fake.lines.front());
    forwardingCommandsActivate(&session);
    EXPECT_EQ(256u, fake.lines.size());
    EXPECT_EQ("old 1", fake.lines.front()); // exactly the oldest went
    EXPECT_EQ("Need to fill Transferd Number!", fake.lines.back());
}
