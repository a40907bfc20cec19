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

TEST_F(Routing, NothingRunsFromInsideTheWaitForAHeldRequest) {
    numbers("821", "739");
    commandRoutingDispatch(&session, 1021); // Busy
    fake.setAnswers.push_back(completedWith(0x00, 0x00, IO_PENDING));
    std::vector<CommandRoute> routes;
    size_t callsBefore = 0;
    fake.duringWait = [&] {
        callsBefore = fake.calls.size();
        // Deactivate, Activate, Check Current Setting and a tick (which the
        // dialog turns into 1033), the conditions, OK and Cancel.
        for (uint32_t id : {1031u, 1032u, 1033u, 1033u, 1020u, 1022u, 1u, 2u}) {
            routes.push_back(commandRoutingDispatch(&session, commandWord(id, 0)));
        }
        // A clicked radio button has checked itself: the refusal puts the
        // check back on Busy, and that is all that reaches the platform.
        EXPECT_EQ((std::vector<std::string_view>{"wait", "radio", "radio"}),
                  std::vector<std::string_view>(fake.calls.end() - 3, fake.calls.end()));
        EXPECT_EQ(callsBefore + 2, fake.calls.size());
        EXPECT_TRUE(fake.lines.empty());
    };
    EXPECT_EQ(ROUTE_NOT_HANDLED, commandRoutingDispatch(&session, 1032));
    fake.duringWait = nullptr;
    EXPECT_EQ((std::vector<CommandRoute>{ROUTE_NOT_HANDLED, ROUTE_NOT_HANDLED, ROUTE_NOT_HANDLED,
                                         ROUTE_NOT_HANDLED, ROUTE_HANDLED, ROUTE_HANDLED,
                                         ROUTE_NOT_HANDLED, ROUTE_NOT_HANDLED}),
              routes);
    EXPECT_EQ(1021, fake.checkedRadio);
    EXPECT_EQ((std::vector<std::string>{"Activation is successful"}), fake.lines);
    ASSERT_EQ(1u, fake.setRequests.size());
    EXPECT_EQ(0x01, fake.setRequests[0][0]);
    EXPECT_EQ(1u, fake.openDevices.size()); // Cancel did not close it under the request
    // Once the request has ended, commands run again.
    EXPECT_EQ(ROUTE_END_DIALOG, commandRoutingDispatch(&session, 2));
}
