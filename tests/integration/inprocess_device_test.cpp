// Tests of the in-process device itself: the one path it opens, sets at once
// or held, a cancel or close ending a hold, bad and leaked handles as faults.
#include "inprocess_device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class InProcessDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        exchangeDefaultConfig(&config);
        ASSERT_TRUE(inprocessDeviceInit(&device, &config));
        inprocessDeviceAttach(&device, &platform);
    }

    PlatformHandle open() { return platform.openDevice(platform.context, "\\\\.\\CAPI201"); }
    PlatformHandle event() { return platform.createEvent(platform.context); }
    void close(PlatformHandle h) { platform.closeHandle(platform.context, h); }
    bool wait(PlatformHandle h) {
        return platform.waitForRequest(platform.context, h, &bytes) == IO_ENDED_SUCCEEDED;
    }

    // Sends a set-forwarding request built in `request`.
    IoStart set(PlatformHandle h, PlatformHandle ev, uint8_t control, const char* served = "821") {
        std::memset(request, 0, sizeof request);
        request[REQUEST_CONTROL_OFFSET] = control;
        std::strcpy(reinterpret_cast<char*>(request + REQUEST_SERVED_USER_NUMBER_OFFSET), served);
        std::strcpy(reinterpret_cast<char*>(request + REQUEST_FORWARDED_TO_NUMBER_OFFSET), "739");
        return platform.deviceControl(platform.context, h, IOCTL_CF_SET, request, sizeof request,
                                      ev, &bytes);
    }
    uint16_t resultCode() const { return static_cast<uint16_t>(request[0] | request[1] << 8); }

    ExchangeConfig config;
    InProcessDevice device;
    Platform platform{};
    uint8_t request[FORWARDING_REQUEST_SIZE];
    uint32_t bytes = 0;
};

TEST_F(InProcessDeviceTest, OpensOnlyTheDevicePathAndOnlyWhenTheDriverIsThere) {
    for (const char* wrong : {"\\\\.\\CAPI20", "\\\\.\\CAPI2011", "\\\\.\\capi201"}) {
        EXPECT_EQ(platform.openDevice(platform.context, wrong), PLATFORM_NO_HANDLE) << wrong;
    }
    EXPECT_EQ(platform.openDevice(platform.context, nullptr), PLATFORM_NO_HANDLE);
    PlatformHandle h = open();
    EXPECT_NE(h, PLATFORM_NO_HANDLE);
    // Each open is a handle of its own: the core closes the one it replaces.
    EXPECT_NE(open(), h);
    EXPECT_EQ(device.openDevices, 2u);

    device.driverAbsent = true;
    EXPECT_EQ(open(), PLATFORM_NO_HANDLE);
    EXPECT_EQ(device.opens, 7u);
    EXPECT_EQ(device.faults, 0u);
}

TEST_F(InProcessDeviceTest, WithoutNetworkDelayTheSetCompletesAtOnce) {
    config.delayMs = 0;
    ASSERT_TRUE(inprocessDeviceInit(&device, &config));
    PlatformHandle h = open();
    ASSERT_EQ(set(h, event(), PROCEDURE_NO_REPLY | FORWARDING_DIRECTION_DEACTIVATE), IO_COMPLETED);
    EXPECT_EQ(resultCode(), EXCHANGE_RESULT_NOT_ACTIVE);
    EXPECT_EQ(bytes, FORWARDING_REQUEST_SIZE);
    // Nothing is pending, so waiting now is the caller's mistake.
    EXPECT_FALSE(wait(h));
    EXPECT_EQ(device.faults, 1u);
}

TEST_F(InProcessDeviceTest, CancelAndCloseEndAPendingRequestButKeepTheNetworksDecision) {
    PlatformHandle h = open();
    PlatformHandle ev = event();
    ASSERT_EQ(set(h, ev, PROCEDURE_BUSY), IO_PENDING);
    platform.cancelRequest(platform.context, h);
    EXPECT_EQ(device.cancels, 1u);
    EXPECT_EQ(request[0], PROCEDURE_BUSY) << "a cancelled request gets no answer";
    EXPECT_NE(exchangeFindForwarding(&device.exchange, "821", PROCEDURE_BUSY, BASIC_SERVICE_ALL),
              nullptr);

    ASSERT_EQ(set(h, ev, PROCEDURE_BUSY | FORWARDING_DIRECTION_DEACTIVATE), IO_PENDING);
    close(ev);
    EXPECT_EQ(device.faults, 1u) << "the event of a pending request closed";
    close(h);
    EXPECT_EQ(device.cancels, 2u);
    EXPECT_FALSE(device.pending.active);
}

TEST_F(InProcessDeviceTest, HandlesItNeverIssuedOrAlreadyClosedAreFaults) {
    PlatformHandle h = open();
    PlatformHandle ev = event();
    EXPECT_EQ(set(ev, PLATFORM_NO_HANDLE, PROCEDURE_BUSY), IO_REFUSED); // event as device
    EXPECT_EQ(set(h, h, PROCEDURE_BUSY), IO_REFUSED);                   // device as event
    EXPECT_EQ(set(0x7777, ev, PROCEDURE_BUSY), IO_REFUSED);
    EXPECT_EQ(device.faults, 3u);
    EXPECT_EQ(device.requests, 0u);

    close(h);
    close(h);
    close(PLATFORM_NO_HANDLE);
    EXPECT_EQ(device.faults, 5u);
    EXPECT_EQ(device.openDevices, 0u);

    // A new handle never takes a closed one's value, so stale use is caught.
    EXPECT_NE(open(), h);
    EXPECT_FALSE(wait(h));
    platform.cancelRequest(platform.context, h);
    EXPECT_EQ(device.faults, 7u);
}

TEST_F(InProcessDeviceTest, LeakedHandlesExhaustTheTableAsAFault) {
    for (unsigned i = 0; i < INPROCESS_HANDLE_CAPACITY; ++i) {
        ASSERT_NE(open(), PLATFORM_NO_HANDLE);
    }
    EXPECT_EQ(open(), PLATFORM_NO_HANDLE);
    EXPECT_EQ(event(), PLATFORM_NO_HANDLE);
    EXPECT_EQ(device.faults, 2u);
}

} // namespace
