#include "session_invariants.h"

#include <algorithm>

#include "command_routing.h"
#include "forwarding_commands.h"
#include "interrogation_poller.h"
#include "command_ids.h"

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool isOutcome(const std::string& text) {
    if (text == "successful" || text == "time out" || text == "failed") {
        return true;
    }
    // "failed (xxxx)": exactly four lower-case hexadecimal digits.
    if (text.size() != 13 || !startsWith(text, "failed (") || text[12] != ')') {
        return false;
    }
    for (size_t i = 8; i < 12; ++i) {
        char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool isProcedureAndService(const std::string& text) {
    static const char* const procedures[] = {"Immediately", "Busy", "No reply"};
    static const char* const services[] = {" (Speech)",         " (Data call)",
                                           " (3.1KHz Audio)",   " (3.1KHz Telephony)",
                                           " (7KHz Telephony)", " (All Services)"};
    for (const char* procedure : procedures) {
        for (const char* service : services) {
            if (text == std::string(procedure) + service) {
                return true;
            }
        }
    }
    return false;
}

// A number as shown in a report: whatever the driver put in its 26-byte
// field, cut at the terminator or at the field's end.
bool isReportedNumber(const std::string& line, const std::string& prefix) {
    return startsWith(line, prefix) && line.size() - prefix.size() <= NUMBER_FIELD_SIZE;
}

std::string checkForwardingLine(uint32_t command, const std::string& line) {
    if (line.size() > OUTCOME_LINE_MAX) {
        return "outcome line longer than its buffer";
    }
    if (line == TEXT_FAILED_TO_OPEN_DRIVER || line == TEXT_NEED_SERVED_USER_NUMBER ||
        line == TEXT_NEED_FORWARDED_TO_NUMBER) {
        return "";
    }
    std::string prefix = command == IDC_ACTIVATE ? TEXT_ACTIVATION_IS : TEXT_DEACTIVATION_IS;
    if (!startsWith(line, prefix) || !isOutcome(line.substr(prefix.size()))) {
        return "unexpected outcome line '" + line + "'";
    }
    return "";
}

std::string checkPollLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (line.size() > REPORT_LINE_MAX) {
            return "poll line longer than its buffer: '" + line + "'";
        }
    }
    if (lines.empty()) {
        return "";
    }
    if (lines.size() == 1) {
        const std::string& line = lines[0];
        if (line == TEXT_FAILED_TO_OPEN_DRIVER || line == TEXT_NEED_SERVED_USER_NUMBER ||
            line == TEXT_INTERROGATION_FINISHED || line == TEXT_INTERROGATION_TIME_OUT) {
            return "";
        }
        return "unexpected poll line '" + line + "'";
    }
    if (lines.size() == 5 && lines[0] == REPORT_SEPARATOR && lines[4] == REPORT_SEPARATOR &&
        startsWith(lines[1], "CF by ") && isProcedureAndService(lines[1].substr(6)) &&
        isReportedNumber(lines[2], "From: ") && isReportedNumber(lines[3], "To:   ")) {
        return "";
    }
    return "poll appended " + std::to_string(lines.size()) + " lines that are no report block";
}

} // namespace

std::string checkBetweenCommands(const FakePlatform& fake, const ForwardingSession& session) {
    if (!fake.openEvents.empty()) {
        return std::to_string(fake.openEvents.size()) + " event(s) left open";
    }
    if (fake.openDevices.size() > 1) {
        return std::to_string(fake.openDevices.size()) + " device handles open";
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
    return "";
}

CommandWatch watchCommand(const FakePlatform& fake) {
    CommandWatch watch;
    watch.appendsBefore =
        static_cast<size_t>(std::count(fake.calls.begin(), fake.calls.end(), "append"));
    watch.linesBefore = fake.lines.size();
    return watch;
}

std::vector<std::string> appendedLines(const FakePlatform& fake, const CommandWatch& watch) {
    size_t appends =
        static_cast<size_t>(std::count(fake.calls.begin(), fake.calls.end(), "append"));
    size_t added = appends - watch.appendsBefore;
    if (added > fake.lines.size()) {
        added = fake.lines.size(); // cannot happen unless lines were deleted after appending
    }
    return std::vector<std::string>(fake.lines.end() - static_cast<long>(added), fake.lines.end());
}

std::string checkCommandLines(uint32_t commandWord, const FakePlatform& fake,
                              const CommandWatch& watch) {
    uint32_t command = commandWord & 0xFFFFu;
    std::vector<std::string> lines = appendedLines(fake, watch);
    bool trims = command == IDC_ACTIVATE || command == IDC_DEACTIVATE ||
                 command == IDC_CHECK_CURRENT_SETTING;
    if (!trims) {
        if (!lines.empty() || fake.lines.size() != watch.linesBefore) {
            return "command " + std::to_string(command) + " changed the status list";
        }
        return "";
    }
    // Room is made before the first line, and a block makes room again; so
    // whatever the list held, at most 255 lines come before the new ones.
    if (fake.lines.size() - lines.size() >= static_cast<size_t>(STATUS_LOG_LIMIT)) {
        return "no room made: " + std::to_string(fake.lines.size() - lines.size()) +
               " lines before the command's own";
    }
    if (fake.lines.size() > STATUS_LINES_AFTER_COMMAND_MAX) {
        return "status list holds " + std::to_string(fake.lines.size()) + " lines";
    }
    if (command == IDC_CHECK_CURRENT_SETTING) {
        return checkPollLines(lines);
    }
    if (lines.size() != 1) {
        return "forwarding command appended " + std::to_string(lines.size()) + " lines";
    }
    return checkForwardingLine(command, lines[0]);
}
