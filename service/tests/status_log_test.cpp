#include <gtest/gtest.h>

#include "fake_platform.h"
#include "status_log.h"

namespace {

struct StatusLogTest : ::testing::Test {
    FakePlatform fake;
    Platform platform = fake.platform();
    StatusLog log{};

    void SetUp() override { statusLogInit(&log, &platform); }

    void fill(int count) {
        for (int i = 0; i < count; ++i) {
            fake.lines.push_back("line " + std::to_string(i));
        }
    }
};

} // namespace

TEST_F(StatusLogTest, StartLogsTheBannerFirst) {
    statusLogStart(&log);
    ASSERT_EQ(1u, fake.lines.size());
    EXPECT_EQ("Quorvan App Version 1.0", fake.lines[0]);
}

TEST_F(StatusLogTest, MakingRoomDeletesTheOldestDownTo255) {
    fill(300);
    statusLogMakeRoom(&log);
    ASSERT_EQ(255u, fake.lines.size());
    EXPECT_EQ("line 45", fake.lines.front());
    EXPECT_EQ("line 299", fake.lines.back());
}

TEST_F(StatusLogTest, BelowTheLimitNothingIsDeleted) {
    fill(255);
    statusLogMakeRoom(&log);
    EXPECT_EQ(255u, fake.lines.size());
    EXPECT_EQ("line 0", fake.lines.front());
}

TEST_F(StatusLogTest, BannerIsTheFirstToGoAndOrderIsKept) {
    statusLogStart(&log);
    fill(255);
    statusLogMakeRoom(&log);
    EXPECT_EQ("line 0", fake.lines.front());
    statusLogAppend(&log, "b");
    statusLogAppend(&log, "a");
    EXPECT_EQ("b", fake.lines[fake.lines.size() - 2]);
    EXPECT_EQ("a", fake.lines.back());
}

TEST_F(StatusLogTest, AListThatRefusesToShrinkDoesNotHang) {
    fill(260);
    fake.refuseDelete = true;
    statusLogMakeRoom(&log);
    EXPECT_EQ(260u, fake.lines.size());
}
