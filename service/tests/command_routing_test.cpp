// Tests of command routing: commands go by their low 16 bits, notifications
// change nothing, OK and Cancel end the dialog, nothing runs during a hold.
#include <gtest/gtest.h>

#include "command_routing.h"
#include "session_fixture.h"

namespace {

using Routing = SessionTest;

uint32_t commandWord(uint32_t id, uint32_t notification) {
    return (notification << 16) | id;
}

} // namespace

TEST_F(Routing, NotificationsFromTheFieldsAndTheListChangeNothing) {
    numbers("821", "739");
    for (uint32_t id : {1005u, 1009u, 1010u}) {
        for (uint32_t code : {0u, 1u, 0x100u, 0x200u, 0x300u, 0x400u}) {
            EXPECT_EQ(ROUTE_NOT_HANDLED, commandRoutingDispatch(&session, commandWord(id, code)));
        }
    }
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(0, session.commands.forwardingControl);
}

TEST_F(Routing, CommandsGoByTheirLowSixteenBits) {
    numbers("821", "739");
    EXPECT_EQ(ROUTE_HANDLED, commandRoutingDispatch(&session, commandWord(1022, 0)));
    EXPECT_EQ(2, session.commands.forwardingControl);
    EXPECT_EQ(ROUTE_HANDLED, commandRoutingDispatch(&session, commandWord(1021, 0xBEEF)));
    EXPECT_EQ(1, session.commands.forwardingControl);
    EXPECT_EQ(ROUTE_NOT_HANDLED, commandRoutingDispatch(&session, commandWord(1031, 0)));
    EXPECT_EQ(ROUTE_NOT_HANDLED, commandRoutingDispatch(&session, commandWord(1032, 0)));
    ASSERT_EQ(2u, fake.setRequests.size());
    EXPECT_EQ(0x81, fake.setRequests[0][0]);
    EXPECT_EQ(0x01, fake.setRequests[1][0]);
}

TEST_F(Routing, CheckCurrentSettingRunsExactlyOnePoll) {
    numbers("821", "");
    EXPECT_EQ(ROUTE_NOT_HANDLED, commandRoutingDispatch(&session, 1033));
    EXPECT_EQ(1, fake.opens);
    EXPECT_EQ(1u, fake.interrogationRequests.size());
}

TEST_F(Routing, ClosingWithNoCommandGivenIsHarmless) {
    EXPECT_EQ(ROUTE_END_DIALOG, commandRoutingDispatch(&session, 2));
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(0, fake.closesOfUnknownHandles);
}

TEST_F(Routing, OkClosesTheDriverHandle) {
    numbers("821", "");
    commandRoutingDispatch(&session, 1033);
    ASSERT_EQ(1u, fake.openDevices.size());
    EXPECT_EQ(ROUTE_END_DIALOG, commandRoutingDispatch(&session, commandWord(1, 0)));
    EXPECT_TRUE(fake.openDevices.empty());
    EXPECT_EQ(PLATFORM_NO_HANDLE, session.channel.driverHandle);
}

TEST_F(Routing, NothingRunsFromInsideTheWaitForAHeldRequestOrItsCancel) {
    numbers("821", "739");
    commandRoutingDispatch(&session, 1021); // Busy
    int served = 0;
    fake.duringWait = [&] {
        ++served;
        size_t calls = fake.calls.size();
        for (uint32_t id : {1031u, 1032u, 1033u, 1u, 2u}) { // 1033 is also what a tick becomes
            EXPECT_EQ(ROUTE_NOT_HANDLED, commandRoutingDispatch(&session, id)) << id;
        }
        // A clicked radio button has checked itself: only putting Busy back
        // reaches the platform.
        fake.checkedRadio = 1020;
        commandRoutingDispatch(&session, 1020);
        EXPECT_EQ(calls + 1, fake.calls.size());
        EXPECT_EQ(1021, fake.checkedRadio);
    };
    // A held activation, a held deactivation (bit 7 set), a held check, cancelled.
    for (uint32_t command : {1032u, 1031u, 1033u}) {
        (command == 1033 ? fake.interrogationAnswers : fake.setAnswers)
            .push_back(completedWith(0x00, 0x00, IO_PENDING));
        commandRoutingDispatch(&session, command);
    }
    EXPECT_EQ((std::vector<std::string>{"Activation is successful", "Deactivation is successful",
                                        "Interrogation is finished"}),
              fake.lines);
    EXPECT_EQ(0x01, fake.setRequests.at(0)[0]);
    EXPECT_EQ(0x81, fake.setRequests.at(1)[0]);
    EXPECT_EQ(3, served);
    EXPECT_EQ(1u, fake.openDevices.size()); // Cancel did not close it under the request
}
