// Arbitrary field texts, any length and any bytes (zero bytes included),
// through activation, deactivation and polling. The driver echoes: a
// set-forwarding request completes with its buffer untouched, and an
// interrogation returns an entry read from the request's own bytes, so the
// typed text reaches both the outcome code and the report lines.
//
// Input, one step after another:
//   op % 5 == 0 activate, 1 deactivate, 2 check current setting, 3 radio
//   button 1020 + (next byte % 4), 4 the list filled with old lines up to
//   240 + (next byte % 32), so that a short input still meets the limit;
//   for 0-2 then the served user number and the forwarded-to number, each a
//   u16 length and that many bytes; for 2 then a byte choosing the answer:
//   % 3 == 0 an entry, 1 nothing yet, 2 finished.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "command_routing.h"
#include "fake_platform.h"
#include "forwarding_session.h"
#include "fuzz_input.h"
#include "session_invariants.h"

namespace {

// The dialog's commands, as its template numbers them, and the record
// layouts as the driver knows them.
constexpr uint32_t CANCEL = 2, IMMEDIATELY = 1020, DEACTIVATE = 1031, ACTIVATE = 1032, CHECK = 1033;
constexpr size_t NUMBER_MAX = 25, NUMBER_FIELD = 26;
constexpr size_t SET_SIZE = 53, SET_SERVED_AT = 1, SET_FORWARDED_TO_AT = 27;
constexpr uint8_t DEACTIVATE_BIT = 0x80;

// What a 25-character, digit-only edit field hands over: the text up to its
// first zero byte, cut at 25 characters.
std::string_view asRead(const std::string& text) {
    return std::string_view(text.c_str()).substr(0, NUMBER_MAX);
}

// A number field of a record: the number, its terminator, zeros to the end.
bool fieldHolds(const std::vector<uint8_t>& record, size_t offset, std::string_view number) {
    for (size_t i = 0; i < NUMBER_FIELD; ++i) {
        uint8_t expected = i < number.size() ? static_cast<uint8_t>(number[i]) : 0;
        if (record[offset + i] != expected) {
            return false;
        }
    }
    return true;
}

void checkForwarding(uint32_t command, const FakePlatform& fake, size_t requestsBefore,
                     size_t firstLine, const ForwardingSession& session) {
    std::string_view served = asRead(fake.servedUserNumber);
    std::string_view forwardedTo = asRead(fake.forwardedToNumber);
    const char* complaint = served.empty()        ? "Need to fill Transferd Number!"
                            : forwardedTo.empty() ? "Need to fill Forward-To Number!"
                                                  : nullptr;
    size_t sent = fake.setRequests.size() - requestsBefore;
    if (complaint != nullptr) {
        if (sent != 0 || fake.lines.size() != firstLine + 1 || fake.lines[firstLine] != complaint) {
            violated("a missing number was not reported as such");
        }
        return;
    }
    if (sent != 1) {
        violated("both numbers given but not exactly one request sent");
    }
    const std::vector<uint8_t>& request = fake.setRequests.back();
    if (request.size() != SET_SIZE || request[0] != session.commands.forwardingControl ||
        !fieldHolds(request, SET_SERVED_AT, served) ||
        !fieldHolds(request, SET_FORWARDED_TO_AT, forwardedTo)) {
        violated("the request does not carry the typed numbers, cut and terminated");
    }
    if (((session.commands.forwardingControl & DEACTIVATE_BIT) != 0) != (command == DEACTIVATE)) {
        violated("the direction bit does not follow the button pressed");
    }
}

void checkPoll(const FakePlatform& fake, size_t requestsBefore) {
    std::string_view served = asRead(fake.servedUserNumber);
    size_t sent = fake.interrogationRequests.size() - requestsBefore;
    if (served.empty()) {
        if (sent != 0) {
            violated("an interrogation was sent without a served user number");
        }
        return;
    }
    if (sent != 1 || !fieldHolds(fake.interrogationRequests.back(), 0, served)) {
        violated("the interrogation does not carry the typed number, cut and terminated");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > FUZZ_INPUT_MAX) {
        return -1; // not added to the corpus
    }
    FuzzInput in(data, size);
    FakePlatform fake;
    ForwardingSession session{};
    Platform platform = fake.platform();
    forwardingSessionInit(&session, &platform);
    statusLogStart(&session.log);

    while (in.more()) {
        uint8_t op = in.byte() % 5;
        if (op == 3) {
            commandRoutingDispatch(&session, IMMEDIATELY + in.byte() % 4u);
            continue;
        }
        if (op == 4) {
            for (size_t target = 240 + in.byte() % 32u; fake.lines.size() < target;) {
                fake.lines.push_back("old");
            }
            continue;
        }
        fake.servedUserNumber.assign(in.bytes(in.u16()));
        fake.forwardedToNumber.assign(in.bytes(in.u16()));
        uint32_t command = op == 0 ? ACTIVATE : op == 1 ? DEACTIVATE : CHECK;
        if (command == CHECK) {
            FakeAnswer& answer = fake.interrogationAnswers.emplace_back();
            switch (in.byte() % 3) {
            case 0:
                answer.bytesReturned = 54; // an entry
                break;
            case 1:
                answer.bytesReturned = 0; // nothing yet
                break;
            default:
                answer.start = IO_REFUSED; // finished
                break;
            }
        }
        size_t setsBefore = fake.setRequests.size();
        size_t interrogationsBefore = fake.interrogationRequests.size();
        CommandWatch watch = watchCommand(fake);
        commandRoutingDispatch(&session, command);
        require(checkBetweenCommands(fake, session));
        require(checkCommandLines(command, fake, watch));
        if (command == CHECK) {
            checkPoll(fake, interrogationsBefore);
        } else {
            checkForwarding(command, fake, setsBefore, firstAppended(fake, watch), session);
        }
        fake.calls.clear();
        fake.interrogationAnswers.clear();
    }
    commandRoutingDispatch(&session, CANCEL);
    if (!fake.openDevices.empty() || !fake.openEvents.empty()) {
        violated("handles left open after the dialog ended");
    }
    return 0;
}
