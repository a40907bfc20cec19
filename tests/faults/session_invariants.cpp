// The checks around every routed command: handles, events, poll flag and
// buffers between commands, and the lines a command appended, by their texts.
#include "session_invariants.h"

#include <string_view>

namespace {

using std::string_view;

constexpr uint32_t DEACTIVATE = 1031;
constexpr uint32_t ACTIVATE = 1032;
constexpr uint32_t CHECK_CURRENT_SETTING = 1033;
constexpr size_t STATUS_LOG_LIMIT_LINES = 256;
constexpr size_t NUMBER_FIELD_BYTES = 26;

constexpr string_view FAILED_TO_OPEN = "Failed to Open Driver";
constexpr string_view NEED_SERVED = "Need to fill Transferd Number!";
constexpr string_view NEED_FORWARDED_TO = "Need to fill Forward-To Number!";
constexpr string_view FINISHED = "Interrogation is finished";
constexpr string_view TIME_OUT = "Interrogation is time-out";
constexpr string_view SEPARATOR = "---------------------------------";

// Takes prefix off the front of text; false when text does not start with it.
bool take(string_view& text, string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

bool isOutcome(string_view text) {
    if (text == "successful" || text == "time out" || text == "failed") {
        return true;
    }
    // "failed (xxxx)": exactly four lower-case hexadecimal digits.
    if (text.size() != 13 || !take(text, "failed (") || text[4] != ')') {
        return false;
    }
    for (size_t i = 0; i < 4; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool isProcedureAndService(string_view text) {
    if (!take(text, "Immediately") && !take(text, "Busy") && !take(text, "No reply")) {
        return false;
    }
    for (string_view service : {" (Speech)", " (Data call)", " (3.1KHz Audio)",
                                " (3.1KHz Telephony)", " (7KHz Telephony)", " (All Services)"}) {
        if (text == service) {
            return true;
        }
    }
    return false;
}

// A number as shown in a report: whatever the driver put in its 26-byte
// field, cut at the terminator or at the field's end.
bool isReportedNumber(string_view line, string_view prefix) {
    return take(line, prefix) && line.size() <= NUMBER_FIELD_BYTES;
}

const char* checkForwardingLine(uint32_t command, string_view line) {
    if (line.size() > OUTCOME_LINE_MAX) {
        return "outcome line longer than its buffer";
    }
    if (line == FAILED_TO_OPEN || line == NEED_SERVED || line == NEED_FORWARDED_TO) {
        return nullptr;
    }
    string_view prefix = command == ACTIVATE ? "Activation is " : "Deactivation is ";
    if (!take(line, prefix) || !isOutcome(line)) {
        return "unexpected outcome line";
    }
    return nullptr;
}

const char* checkPollLines(const FakeStatusList& list, size_t first) {
    size_t count = list.size() - first;
    for (size_t i = first; i < list.size(); ++i) {
        if (list[i].size() > REPORT_LINE_MAX) {
            return "poll line longer than its buffer";
        }
    }
    if (count == 0) {
        return nullptr;
    }
    if (count == 1) {
        string_view line = list[first];
        if (line == FAILED_TO_OPEN || line == NEED_SERVED || line == FINISHED || line == TIME_OUT) {
            return nullptr;
        }
        return "unexpected poll line";
    }
    string_view cfBy = list[first + 1];
    if (count == 5 && list[first] == SEPARATOR && list[first + 4] == SEPARATOR &&
        take(cfBy, "CF by ") && isProcedureAndService(cfBy) &&
        isReportedNumber(list[first + 2], "From: ") &&
        isReportedNumber(list[first + 3], "To:   ")) {
        return nullptr;
    }
    return "poll appended lines that are no report block";
}

} // namespace

const char* checkBetweenCommands(const FakePlatform& fake, const ForwardingSession& session) {
    if (fake.breaches != 0) {
        return fake.lastBreach;
    }
    if (!fake.openEvents.empty()) {
        return "event(s) left open";
    }
    if (fake.openDevices.size() > 1) {
        return "more than one device handle open";
    }
    PlatformHandle slot = session.channel.driverHandle;
    if (fake.openDevices.size() == 1 && fake.openDevices.count(slot) == 0) {
        return "an open device handle is not the one in the slot";
    }
    if (slot != PLATFORM_NO_HANDLE && fake.openDevices.count(slot) == 0) {
        return "the slot holds a handle that is not open";
    }
    if (fake.pendingBuffer != nullptr) {
        return "a request is still running on a command's buffer";
    }
    if (session.poller.pollTimerArmed != fake.timerArmed) {
        return session.poller.pollTimerArmed ? "the poll flag claims a timer that is not running"
                                             : "the poll timer runs but the flag says it does not";
    }
    if (fake.closesOfUnknownHandles != 0) {
        return "a handle was closed that was not open";
    }
    return nullptr;
}

CommandWatch watchCommand(const FakePlatform& fake) {
    return CommandWatch{fake.appends, fake.lines.size()};
}

size_t firstAppended(const FakePlatform& fake, const CommandWatch& watch) {
    size_t added = fake.appends - watch.appendsBefore;
    // More appends than lines only when lines were deleted after appending.
    return added < fake.lines.size() ? fake.lines.size() - added : 0;
}

std::vector<std::string> appendedLines(const FakePlatform& fake, const CommandWatch& watch) {
    return linesFrom(fake, firstAppended(fake, watch));
}

const char* checkCommandLines(uint32_t commandWord, const FakePlatform& fake,
                              const CommandWatch& watch) {
    uint32_t command = commandWord & 0xFFFFu;
    size_t first = firstAppended(fake, watch);
    size_t count = fake.lines.size() - first;
    if (command != ACTIVATE && command != DEACTIVATE && command != CHECK_CURRENT_SETTING) {
        if (count != 0 || fake.lines.size() != watch.linesBefore) {
            return "a command other than the three buttons changed the status list";
        }
        return nullptr;
    }
    if (fake.lines.lost != 0) {
        return "the status list grew past any bound";
    }
    // Room is made before the first line, and a block makes room again; so
    // whatever the list held, at most 255 lines come before the new ones.
    if (first >= STATUS_LOG_LIMIT_LINES) {
        return "no room made before the command's own lines";
    }
    if (fake.lines.size() > STATUS_LINES_AFTER_COMMAND_MAX) {
        return "the status list holds more than 260 lines";
    }
    if (command == CHECK_CURRENT_SETTING) {
        return checkPollLines(fake.lines, first);
    }
    if (count != 1) {
        return "a forwarding command appended other than one line";
    }
    return checkForwardingLine(command, fake.lines[first]);
}
