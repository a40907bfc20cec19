// Tests of the status log: the banner first, the oldest lines deleted down to
// 255, lines appended as they are, no hang on a list that will not shrink.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "status_log.h"
#include "user_texts.h"

namespace {

struct StatusLogTest : ::testing::Test {
    FakePlatform fake;
    Platform platform = fake.platform();
    StatusLog log{};

    void SetUp() override { statusLogInit(&log, &platform); }
    void TearDown() override { EXPECT_EQ(0, fake.breaches) << fake.lastBreach; }

    void fill(int count) {
        for (int i = 0; i < count; ++i) {
            fake.lines.push_back("line " + std::to_string(i));
        }
    }
};

} // namespace

TEST_F(StatusLogTest, StartLogsTheBannerFirst) {
    statusLogStart(&log);
    // One append of the banner and nothing else: no room made, no other line.
    EXPECT_EQ((std::vector<std::string_view>{"append"}), fake.calls);
    ASSERT_EQ(1u, fake.lines.size());
    EXPECT_EQ("Quorvan App Version 1.0", fake.lines[0]);
    // The one text a start that fails shows instead, in a message box.
    EXPECT_STREQ("Unable to create root dialog!", TEXT_DIALOG_FAILURE);
    EXPECT_STREQ("DialogBox failure", TEXT_DIALOG_FAILURE_CAPTION);
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

TEST_F(StatusLogTest, BannerIsTheFirstToGoAndLinesPassUnchanged) {
    statusLogStart(&log);
    fill(255);
    fake.calls.clear();
    statusLogMakeRoom(&log);
    // 256 lines: exactly one deletion of line 0, the banner, and nothing appended.
    EXPECT_EQ((std::vector<std::string_view>{"delete"}), fake.calls);
    // A line goes to the list as it is, in one append: no format, trim or cut.
    const std::string line = " Deactivation is failed (%04x) %s " + std::string(200, '9') + " ";
    statusLogAppend(&log, line.c_str());
    EXPECT_EQ((std::vector<std::string_view>{"delete", "append"}), fake.calls);
    EXPECT_EQ(line, fake.lines.back());
}

TEST_F(StatusLogTest, AListThatRefusesToShrinkDoesNotHang) {
    fill(260);
    fake.refuseDelete = true;
    statusLogMakeRoom(&log);
    EXPECT_EQ(260u, fake.lines.size());
}
