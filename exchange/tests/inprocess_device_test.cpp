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

    PlatformHandle open() { return platform.openDevice(platform.context, INPROCESS_DEVICE_PATH); }

    IoStart set(PlatformHandle handle, uint8_t* request, PlatformHandle event, uint32_t* bytes) {
        return platform.deviceControl(platform.context, handle, IOCTL_CF_SET, request,
                                      FORWARDING_REQUEST_SIZE, event, bytes);
    }

    static void fill(uint8_t* request, uint8_t control, const char* served, const char* to) {
        std::memset(request, 0, FORWARDING_REQUEST_SIZE);
        request[REQUEST_CONTROL_OFFSET] = control;
        std::strcpy(reinterpret_cast<char*>(request + REQUEST_SERVED_USER_NUMBER_OFFSET), served);
        std::strcpy(reinterpret_cast<char*>(request + REQUEST_FORWARDED_TO_NUMBER_OFFSET), to);
    }

    ExchangeConfig config;
    InProcessDevice device;
    Platform platform{};
};

TEST_F(InProcessDeviceTest, OpensOnlyTheDevicePathAndOnlyWhenTheDriverIsThere) {
    for (const char* wrong :
         {"\\\\.\\CAPI20", "\\\\.\\CAPI2011", "CAPI201", "\\\\.\\capi201", ""}) {
        EXPECT_EQ(platform.openDevice(platform.context, wrong), PLATFORM_INVALID_HANDLE) << wrong;
    }
    EXPECT_EQ(platform.openDevice(platform.context, nullptr), PLATFORM_INVALID_HANDLE);
    EXPECT_EQ(device.openDevices, 0u);

    PlatformHandle h = open();
    EXPECT_NE(h, PLATFORM_INVALID_HANDLE);
    EXPECT_NE(h, PLATFORM_NO_HANDLE);
    EXPECT_EQ(device.openDevices, 1u);

    device.driverAbsent = true;
    EXPECT_EQ(open(), PLATFORM_INVALID_HANDLE);
    EXPECT_EQ(device.opens, 8u);
    EXPECT_EQ(device.faults, 0u);
}

TEST_F(InProcessDeviceTest, PendingSetIsAnsweredWhenWaitedForAtItsDueTime) {
    PlatformHandle h = open();
    PlatformHandle event = platform.createEvent(platform.context);
    uint8_t request[FORWARDING_REQUEST_SIZE];
    fill(request, PROCEDURE_BUSY, "821", "739");
    device.nowMs = 1000;
    uint32_t bytes = 0;
    ASSERT_EQ(set(h, request, event, &bytes), IO_PENDING);
    EXPECT_EQ(request[0], PROCEDURE_BUSY) << "nothing written before the answer is due";

    ASSERT_TRUE(platform.waitForRequest(platform.context, h, IOCTL_CF_SET, &bytes));
    EXPECT_EQ(device.nowMs, 1000u + EXCHANGE_DEFAULT_DELAY_MS);
    EXPECT_EQ(bytes, FORWARDING_REQUEST_SIZE);
    EXPECT_EQ(request[0], 0);
    EXPECT_EQ(request[1], 0);
    EXPECT_EQ(request[2], '2');

    // A network time-out is waited for just the same, for longer.
    fill(request, PROCEDURE_BUSY, "999", "739");
    ASSERT_EQ(set(h, request, event, &bytes), IO_PENDING);
    ASSERT_TRUE(platform.waitForRequest(platform.context, h, IOCTL_CF_SET, &bytes));
    EXPECT_EQ(device.nowMs, 1000u + EXCHANGE_DEFAULT_DELAY_MS + EXCHANGE_DEFAULT_TIME_OUT_MS);
    EXPECT_EQ(request[0] | request[1] << 8, RESULT_CODE_TIME_OUT);

    platform.closeHandle(platform.context, event);
    platform.closeHandle(platform.context, h);
    EXPECT_EQ(device.openDevices + device.openEvents, 0u);
    EXPECT_EQ(device.faults, 0u) << device.lastFault;
}

TEST_F(InProcessDeviceTest, WithoutNetworkDelayTheSetCompletesAtOnce) {
    config.delayMs = 0;
    ASSERT_TRUE(inprocessDeviceInit(&device, &config));
    PlatformHandle h = open();
    PlatformHandle event = platform.createEvent(platform.context);
    uint8_t request[FORWARDING_REQUEST_SIZE];
    fill(request, PROCEDURE_NO_REPLY | FORWARDING_DIRECTION_DEACTIVATE, "821", "739");
    uint32_t bytes = 0;
    ASSERT_EQ(set(h, request, event, &bytes), IO_COMPLETED);
    EXPECT_EQ(request[0] | request[1] << 8, EXCHANGE_RESULT_NOT_ACTIVE);
    EXPECT_EQ(bytes, FORWARDING_REQUEST_SIZE);
    // Nothing is pending, so waiting now is the caller's mistake.
    EXPECT_FALSE(platform.waitForRequest(platform.context, h, IOCTL_CF_SET, &bytes));
    EXPECT_EQ(device.faults, 1u);
}

TEST_F(InProcessDeviceTest, CancelAndCloseEndAPendingRequestButKeepTheNetworksDecision) {
    PlatformHandle h = open();
    PlatformHandle event = platform.createEvent(platform.context);
    uint8_t request[FORWARDING_REQUEST_SIZE];
    fill(request, PROCEDURE_BUSY, "821", "739");
    uint32_t bytes = 0;
    ASSERT_EQ(set(h, request, event, &bytes), IO_PENDING);
    platform.cancelRequest(platform.context, h, IOCTL_CF_SET);
    EXPECT_EQ(device.cancels, 1u);
    EXPECT_EQ(request[0], PROCEDURE_BUSY) << "a cancelled request gets no answer";
    EXPECT_NE(exchangeFindForwarding(&device.exchange, "821", PROCEDURE_BUSY, BASIC_SERVICE_ALL),
              nullptr);

    fill(request, PROCEDURE_BUSY | FORWARDING_DIRECTION_DEACTIVATE, "821", "739");
    ASSERT_EQ(set(h, request, event, &bytes), IO_PENDING);
    platform.closeHandle(platform.context, event);
    EXPECT_EQ(device.faults, 1u) << "the event of a pending request closed";
    platform.closeHandle(platform.context, h);
    EXPECT_EQ(device.cancels, 2u);
    EXPECT_FALSE(device.pending.active);
}

TEST_F(InProcessDeviceTest, HandlesItNeverIssuedOrAlreadyClosedAreFaults) {
    PlatformHandle h = open();
    PlatformHandle event = platform.createEvent(platform.context);
    uint8_t request[FORWARDING_REQUEST_SIZE] = {};
    uint32_t bytes = 0;

    EXPECT_EQ(set(event, request, PLATFORM_NO_HANDLE, &bytes), IO_REFUSED); // event as device
    EXPECT_EQ(set(h, request, h, &bytes), IO_REFUSED);                      // device as event
    EXPECT_EQ(set(0x7777, request, event, &bytes), IO_REFUSED);
    EXPECT_EQ(device.faults, 3u);
    EXPECT_EQ(device.requests, 0u);

    platform.closeHandle(platform.context, h);
    platform.closeHandle(platform.context, h);
    platform.closeHandle(platform.context, PLATFORM_NO_HANDLE);
    platform.closeHandle(platform.context, PLATFORM_INVALID_HANDLE);
    EXPECT_EQ(device.faults, 6u);
    EXPECT_EQ(device.openDevices, 0u);

    // A new handle never takes a closed one's value, so stale use is caught.
    EXPECT_NE(open(), h);
    EXPECT_FALSE(platform.waitForRequest(platform.context, h, IOCTL_CF_SET, &bytes));
    platform.cancelRequest(platform.context, h, IOCTL_CF_SET);
    EXPECT_EQ(device.faults, 8u);
    EXPECT_EQ(device.peakOpenDevices, 1u);
    EXPECT_EQ(device.openEvents, 1u);
}

TEST_F(InProcessDeviceTest, LeakedHandlesExhaustTheTableAsAFault) {
    for (unsigned i = 0; i < INPROCESS_HANDLE_CAPACITY; ++i) {
        ASSERT_NE(open(), PLATFORM_INVALID_HANDLE);
    }
    EXPECT_EQ(open(), PLATFORM_INVALID_HANDLE);
    EXPECT_EQ(platform.createEvent(platform.context), PLATFORM_NO_HANDLE);
    EXPECT_EQ(device.faults, 2u);
}

} // namespace
