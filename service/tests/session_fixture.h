// A session over a fake platform, as the dialog holds one for its life.
#pragma once

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "forwarding_session.h"

struct SessionTest : ::testing::Test {
    FakePlatform fake;
    ForwardingSession session{};

    void SetUp() override {
        Platform platform = fake.platform();
        forwardingSessionInit(&session, &platform);
    }

    void TearDown() override { EXPECT_EQ(0, fake.breaches) << fake.lastBreach; }

    void numbers(const std::string& served, const std::string& forwardedTo) {
        fake.servedUserNumber = served;
        fake.forwardedToNumber = forwardedTo;
    }

    void fillLog(int count) {
        for (int i = 0; i < count; ++i) {
            fake.lines.push_back("old " + std::to_string(i));
        }
    }

    static FakeAnswer completedWith(uint8_t low, uint8_t high, IoStart start = IO_COMPLETED) {
        FakeAnswer a;
        a.start = start;
        a.writes = {low, high};
        a.bytesReturned = 53;
        return a;
    }
};
