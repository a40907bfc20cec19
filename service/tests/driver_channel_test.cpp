// Tests of the driver channel: the device path, one handle open at most, each
// way a request starts and ends, its event always closed, a cancel when owed.
#include <gtest/gtest.h>

#include <cstring>

#include "driver_channel.h"
#include "fake_platform.h"

namespace {

struct DriverChannelTest : ::testing::Test {
    FakePlatform fake;
    Platform platform = fake.platform();
    DriverChannel channel{};

    void SetUp() override { driverChannelInit(&channel, &platform); }
    void TearDown() override { EXPECT_EQ(0, fake.breaches) << fake.lastBreach; }

    ForwardingRequest request() {
        ForwardingRequest r;
        forwardingRequestBuild(&r, 1, "821", "739");
        return r;
    }

    size_t openThings() const { return fake.openDevices.size() + fake.openEvents.size(); }
};

FakeAnswer answer(IoStart start, std::vector<uint8_t> writes = {}, uint32_t bytes = 0) {
    FakeAnswer a;
    a.start = start;
    a.writes = writes;
    a.bytesReturned = bytes;
    return a;
}

} // namespace

TEST(DevicePath, BuiltInAZeroFilledBuffer) {
    // Exactly 64 bytes: the 11 characters of \\.\CAPI201, then 53 zeros; the
    // guard bytes after them stay as they were.
    char path[64 + 8];
    std::memset(path, 'x', sizeof path);
    driverChannelDevicePath(path);
    const std::string expected = "\\\\.\\CAPI201" + std::string(53, '\0') + std::string(8, 'x');
    EXPECT_EQ(expected, std::string(path, sizeof path));
}

TEST_F(DriverChannelTest, FailedOpenLeavesTheSlotEmpty) {
    fake.driverPresent = false;
    EXPECT_FALSE(driverChannelOpen(&channel));
    EXPECT_EQ(PLATFORM_NO_HANDLE, channel.driverHandle);
    EXPECT_EQ("\\\\.\\CAPI201", fake.openedPath);
}

TEST_F(DriverChannelTest, ReplacedHandleIsClosedOnlyAfterTheNewOneIsOpen) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    PlatformHandle first = channel.driverHandle;
    fake.calls.clear();
    ASSERT_TRUE(driverChannelOpen(&channel));
    EXPECT_NE(first, channel.driverHandle);
    EXPECT_EQ((std::vector<std::string_view>{"open", "close"}), fake.calls);
    EXPECT_EQ(1u, fake.openDevices.size());
    EXPECT_EQ(1u, fake.openDevices.count(channel.driverHandle));
}

TEST_F(DriverChannelTest, AtMostOneHandleStaysOpenWhateverTheOpensDo) {
    for (int i = 0; i < 500; ++i) {
        fake.driverPresent = (i % 7) != 3;
        bool opened = driverChannelOpen(&channel);
        EXPECT_EQ(opened, fake.driverPresent);
        ASSERT_LE(fake.openDevices.size(), 1u) << i;
        EXPECT_EQ(opened ? 1u : 0u, fake.openDevices.size());
    }
    driverChannelClose(&channel);
    EXPECT_EQ(0u, fake.openDevices.size());
    EXPECT_EQ(0, fake.closesOfUnknownHandles);
}

TEST_F(DriverChannelTest, ImmediateCompletionIsNeverWaitedFor) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    fake.setAnswers.push_back(answer(IO_COMPLETED, {0x00, 0x00}, 53));
    ForwardingRequest r = request();
    EXPECT_EQ(SET_FORWARDING_COMPLETED, driverChannelSetForwarding(&channel, &r));
    EXPECT_EQ(0, fake.waits);
    EXPECT_EQ(0, resultCodeRead(&r));
    EXPECT_TRUE(fake.openEvents.empty());
    ASSERT_EQ(1u, fake.setRequests.size());
    EXPECT_EQ(53u, fake.setRequests[0].size());
}

TEST_F(DriverChannelTest, PendingRequestIsWaitedForThenRead) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    fake.setAnswers.push_back(answer(IO_PENDING, {0x03, 0x33}, 53));
    ForwardingRequest r = request();
    EXPECT_EQ(SET_FORWARDING_COMPLETED, driverChannelSetForwarding(&channel, &r));
    EXPECT_EQ(1, fake.waits);
    EXPECT_EQ(0x3303, resultCodeRead(&r));
    EXPECT_TRUE(fake.openEvents.empty());
}

TEST_F(DriverChannelTest, RefusalAtOnceStillClosesTheEvent) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    fake.setAnswers.push_back(answer(IO_REFUSED));
    ForwardingRequest r = request();
    EXPECT_EQ(SET_FORWARDING_REFUSED, driverChannelSetForwarding(&channel, &r));
    EXPECT_EQ(0, fake.waits);
    EXPECT_EQ(1, fake.eventsCreated);
    EXPECT_TRUE(fake.openEvents.empty());
}

TEST_F(DriverChannelTest, NoEventMeansNoRequest) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    fake.eventCreationFails = true; // the fake then gives 0, as CreateEventA gives NULL
    fake.calls.clear();
    ForwardingRequest r = request();
    EXPECT_EQ(SET_FORWARDING_REFUSED, driverChannelSetForwarding(&channel, &r));
    EXPECT_TRUE(fake.setRequests.empty());
    InterrogationRecord rec;
    interrogationRecordBuild(&rec, "821");
    EXPECT_EQ(INTERROGATION_FINISHED, driverChannelInterrogate(&channel, &rec));
    EXPECT_TRUE(fake.interrogationRequests.empty());
    // 0 is no event: no request with it, and nothing to close.
    EXPECT_EQ((std::vector<std::string_view>{"event", "event"}), fake.calls);
}

TEST_F(DriverChannelTest, AFailedWaitCancelsTheRequestBeforeTheBufferGoes) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    FakeAnswer a = answer(IO_PENDING, {0, 0}, 53);
    a.waitFails = true;
    fake.setAnswers.push_back(a);
    ForwardingRequest r = request();
    EXPECT_EQ(SET_FORWARDING_REFUSED, driverChannelSetForwarding(&channel, &r));
    EXPECT_EQ(1, fake.cancels);
    EXPECT_EQ(nullptr, fake.pendingBuffer);
    EXPECT_TRUE(fake.openEvents.empty());
}

TEST_F(DriverChannelTest, TheFourInterrogationAnswers) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    fake.interrogationAnswers.push_back(answer(IO_COMPLETED, {}, 0));
    fake.interrogationAnswers.push_back(answer(IO_COMPLETED, {1, 1, '5'}, 54));
    fake.interrogationAnswers.push_back(answer(IO_COMPLETED, {}, 1));
    fake.interrogationAnswers.push_back(answer(IO_REFUSED));
    InterrogationRecord rec;
    interrogationRecordBuild(&rec, "821");
    EXPECT_EQ(INTERROGATION_NOTHING_YET, driverChannelInterrogate(&channel, &rec));
    EXPECT_EQ(INTERROGATION_ENTRY, driverChannelInterrogate(&channel, &rec));
    EXPECT_EQ('5', rec.bytes[2]);
    EXPECT_EQ(INTERROGATION_TIMED_OUT, driverChannelInterrogate(&channel, &rec));
    EXPECT_EQ(INTERROGATION_FINISHED, driverChannelInterrogate(&channel, &rec));
    ASSERT_EQ(4u, fake.interrogationRequests.size());
    EXPECT_EQ(60u, fake.interrogationRequests[0].size());
    EXPECT_TRUE(fake.openEvents.empty());
}

TEST_F(DriverChannelTest, APendingInterrogationIsCancelledAndCountsAsFinished) {
    ASSERT_TRUE(driverChannelOpen(&channel));
    fake.interrogationAnswers.push_back(answer(IO_PENDING, {9, 9, 9}, 54));
    InterrogationRecord rec;
    interrogationRecordBuild(&rec, "821");
    EXPECT_EQ(INTERROGATION_FINISHED, driverChannelInterrogate(&channel, &rec));
    EXPECT_EQ(1, fake.cancels);
    EXPECT_EQ(nullptr, fake.pendingBuffer); // nothing can write the record any more
    EXPECT_EQ('8', rec.bytes[0]);
    EXPECT_TRUE(fake.openEvents.empty());
}
