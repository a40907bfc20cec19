// Arbitrary field texts, any length and any bytes (zero bytes included),
// through activation, deactivation and polling. The driver echoes: a
// set-forwarding request completes with its buffer untouched, and an
// interrogation returns an entry read from the request's own bytes, so the
// typed text reaches both the outcome code and the report lines.
//
// Input, one step after another:
//   op % 4 == 0 activate, 1 deactivate, 2 check current setting, 3 radio
//   button 1020 + (next byte % 4); for 0-2 then the served user number and
//   the forwarded-to number, each a u16 length and that many bytes; for 2
//   then a byte choosing the answer: % 3 == 0 an entry, 1 nothing yet,
//   2 finished.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "command_routing.h"
#include "fake_platform.h"
#include "forwarding_commands.h"
#include "forwarding_session.h"
#include "fuzz_input.h"
#include "command_ids.h"
#include "session_invariants.h"

namespace {

// What a 25-character, digit-only edit field hands over: the text up to its
// first zero byte, cut at 25 characters.
std::string asRead(const std::string& text) {
    std::string upToZero(text.c_str());
    return upToZero.substr(0, NUMBER_MAX_LENGTH);
}

// A number field of a record: the number, its terminator, zeros to the end.
bool fieldHolds(const std::vector<uint8_t>& record, size_t offset, const std::string& number) {
    for (size_t i = 0; i < NUMBER_FIELD_SIZE; ++i) {
        uint8_t expected = i < number.size() ? static_cast<uint8_t>(number[i]) : 0;
        if (record[offset + i] != expected) {
            return false;
        }
    }
    return true;
}

void checkForwarding(uint32_t command, const FakePlatform& fake, size_t requestsBefore,
                     const std::vector<std::string>& lines, const ForwardingSession& session) {
    std::string served = asRead(fake.servedUserNumber);
    std::string forwardedTo = asRead(fake.forwardedToNumber);
    const char* complaint = served.empty()        ? TEXT_NEED_SERVED_USER_NUMBER
                            : forwardedTo.empty() ? TEXT_NEED_FORWARDED_TO_NUMBER
                                                  : nullptr;
    size_t sent = fake.setRequests.size() - requestsBefore;
    if (complaint != nullptr) {
        if (sent != 0 || lines.size() != 1 || lines[0] != complaint) {
            violated("a missing number was not reported as such");
        }
        return;
    }
    if (sent != 1) {
        violated("both numbers given but " + std::to_string(sent) + " requests sent");
    }
    const std::vector<uint8_t>& request = fake.setRequests.back();
    if (request.size() != FORWARDING_REQUEST_SIZE ||
        request[REQUEST_CONTROL_OFFSET] != session.commands.forwardingControl ||
        !fieldHolds(request, REQUEST_SERVED_USER_NUMBER_OFFSET, served) ||
        !fieldHolds(request, REQUEST_FORWARDED_TO_NUMBER_OFFSET, forwardedTo)) {
        violated("the request does not carry the typed numbers, cut and terminated");
    }
    bool deactivating = command == IDC_DEACTIVATE;
    if (((session.commands.forwardingControl & FORWARDING_DIRECTION_DEACTIVATE) != 0) !=
        deactivating) {
        violated("the direction bit does not follow the button pressed");
    }
}

void checkPoll(const FakePlatform& fake, size_t requestsBefore) {
    std::string served = asRead(fake.servedUserNumber);
    size_t sent = fake.interrogationRequests.size() - requestsBefore;
    if (served.empty()) {
        if (sent != 0) {
            violated("an interrogation was sent without a served user number");
        }
        return;
    }
    if (sent != 1 || !fieldHolds(fake.interrogationRequests.back(),
                                 INTERROGATION_SERVED_USER_NUMBER_OFFSET, served)) {
        violated("the interrogation does not carry the typed number, cut and terminated");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    FakePlatform fake;
    ForwardingSession session{};
    Platform platform = fake.platform();
    forwardingSessionInit(&session, &platform);
    statusLogStart(&session.log);

    while (in.more()) {
        uint8_t op = in.byte() % 4;
        if (op == 3) {
            commandRoutingDispatch(&session,
                                   static_cast<uint32_t>(IDC_IMMEDIATELY + in.byte() % 4));
            continue;
        }
        fake.servedUserNumber = in.bytes(in.u16());
        fake.forwardedToNumber = in.bytes(in.u16());
        uint32_t command = op == 0   ? IDC_ACTIVATE
                           : op == 1 ? IDC_DEACTIVATE
                                     : IDC_CHECK_CURRENT_SETTING;
        if (command == IDC_CHECK_CURRENT_SETTING) {
            FakeAnswer answer;
            switch (in.byte() % 3) {
            case 0:
                answer.bytesReturned = FORWARDING_ENTRY_SIZE;
                break;
            case 1:
                answer.bytesReturned = INTERROGATION_NOTHING_YET_BYTES;
                break;
            default:
                answer.start = IO_REFUSED;
                break;
            }
            fake.interrogationAnswers = {answer};
        }
        size_t setsBefore = fake.setRequests.size();
        size_t interrogationsBefore = fake.interrogationRequests.size();
        CommandWatch watch = watchCommand(fake);
        commandRoutingDispatch(&session, command);
        require(checkBetweenCommands(fake, session));
        require(checkCommandLines(command, fake, watch));
        std::vector<std::string> lines = appendedLines(fake, watch);
        if (command == IDC_CHECK_CURRENT_SETTING) {
            checkPoll(fake, interrogationsBefore);
        } else {
            checkForwarding(command, fake, setsBefore, lines, session);
        }
        fake.calls.clear();
        fake.interrogationAnswers.clear();
    }
    commandRoutingDispatch(&session, COMMAND_CANCEL);
    if (!fake.openDevices.empty() || !fake.openEvents.empty()) {
        violated("handles left open after the dialog ended");
    }
    return 0;
}
