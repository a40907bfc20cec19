// Tests of the records' bytes as built and read, the result code's outcome
// text, and the texts of procedures and basic services at their edges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "forwarding_records.h"

namespace {

const char DIGITS_30[] = "123456789012345678901234567890";

std::string outcome(uint16_t code) {
    char text[OUTCOME_TEXT_SIZE];
    std::memset(text, 'x', sizeof text);
    outcomeTextForResult(code, text);
    EXPECT_NE(std::memchr(text, '\0', sizeof text), nullptr);
    return text;
}

ForwardingRequest answered(uint8_t low, uint8_t high) {
    ForwardingRequest r;
    forwardingRequestBuild(&r, 0, "1", "2");
    r.bytes[0] = low;
    r.bytes[1] = high;
    return r;
}

} // namespace

TEST(ForwardingRequestBytes, BusyActivationOfTheExampleNumbers) {
    ForwardingRequest r;
    ASSERT_EQ(53u, sizeof r.bytes);
    std::memset(r.bytes, 0xEE, sizeof r.bytes);
    forwardingRequestBuild(&r, 0x01, "821", "739");
    uint8_t expected[53] = {};
    expected[0] = 0x01;
    std::memcpy(expected + 1, "821", 4);
    std::memcpy(expected + 27, "739", 4);
    EXPECT_EQ(0, std::memcmp(expected, r.bytes, sizeof expected));

    forwardingRequestBuild(&r, 0x81, "821", "739");
    EXPECT_EQ(0x81, r.bytes[0]);
    EXPECT_EQ(0, std::memcmp(expected + 1, r.bytes + 1, sizeof expected - 1));

    // The builder itself cuts a longer number at 25 characters, each field
    // keeping its terminator.
    std::memset(r.bytes, 0xEE, sizeof r.bytes);
    forwardingRequestBuild(&r, 0x02, DIGITS_30, DIGITS_30);
    std::memset(expected, 0, sizeof expected);
    expected[0] = 0x02;
    std::memcpy(expected + 1, DIGITS_30, 25);
    std::memcpy(expected + 27, DIGITS_30, 25);
    EXPECT_EQ(0, std::memcmp(expected, r.bytes, sizeof expected));
}

TEST(ResultCode, ReadLittleEndianIntoEveryOutcomeText) {
    ForwardingRequest r = answered(0x03, 0x33);
    EXPECT_EQ(0x3303, resultCodeRead(&r));
    EXPECT_EQ("time out", outcome(resultCodeRead(&r)));
    r = answered(0x00, 0x00);
    EXPECT_EQ("successful", outcome(resultCodeRead(&r)));
    r = answered(0x01, 0x33);
    EXPECT_EQ("failed (3301)", outcome(resultCodeRead(&r)));
    r = answered(0x01, 0x80);
    EXPECT_EQ("failed (8001)", outcome(resultCodeRead(&r)));
    EXPECT_EQ("failed (00ab)", outcome(0x00AB));
    EXPECT_EQ("failed (ffff)", outcome(0xFFFF));
    EXPECT_EQ("failed (0001)", outcome(0x0001));
    EXPECT_EQ("failed (0333)", outcome(0x0333)); // close to the time-out code, but not it
}

TEST(CodeTables, ProcedureTextAtItsEdges) {
    EXPECT_STREQ("Immediately", procedureText(0));
    EXPECT_STREQ("Busy", procedureText(1));
    EXPECT_STREQ("No reply", procedureText(2));
    EXPECT_STREQ("No reply", procedureText(3));
    EXPECT_STREQ("No reply", procedureText(200));
}

TEST(CodeTables, BasicServiceTextAtItsEdges) {
    EXPECT_STREQ(" (All Services)", basicServiceText(0));
    EXPECT_STREQ(" (Speech)", basicServiceText(1));
    EXPECT_STREQ(" (Data call)", basicServiceText(2));
    EXPECT_STREQ(" (3.1KHz Audio)", basicServiceText(3));
    EXPECT_STREQ(" (3.1KHz Telephony)", basicServiceText(32));
    EXPECT_STREQ(" (7KHz Telephony)", basicServiceText(38));
    for (int other : {4, 31, 33, 37, 39, 255}) {
        EXPECT_STREQ(" (All Services)", basicServiceText(static_cast<uint8_t>(other))) << other;
    }
}

TEST(InterrogationRecordBytes, NumberAtOffsetZeroAndZeroAfterIt) {
    InterrogationRecord rec;
    ASSERT_EQ(60u, sizeof rec.bytes);
    std::memset(rec.bytes, 0xEE, sizeof rec.bytes);
    interrogationRecordBuild(&rec, "821");
    uint8_t expected[60] = {'8', '2', '1'};
    EXPECT_EQ(0, std::memcmp(expected, rec.bytes, sizeof expected));

    std::memset(rec.bytes, 0xEE, sizeof rec.bytes);
    interrogationRecordBuild(&rec, DIGITS_30); // cut at 25, terminator at 25
    std::memcpy(expected, DIGITS_30, 25);
    EXPECT_EQ(0, std::memcmp(expected, rec.bytes, sizeof expected));
}

TEST(ForwardingEntryRead, FieldsWithoutTerminatorStopAtTheirEnd) {
    InterrogationRecord rec;
    std::memset(rec.bytes, '7', sizeof rec.bytes);
    rec.bytes[0] = 1;
    rec.bytes[1] = 38;
    ForwardingEntry entry;
    forwardingEntryRead(&rec, &entry);
    EXPECT_EQ(1, entry.procedure);
    EXPECT_EQ(38, entry.basicService);
    EXPECT_EQ(std::string(26, '7'), entry.servedUserNumber);
    EXPECT_EQ(std::string(26, '7'), entry.forwardedToNumber);
}
