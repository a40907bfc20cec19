// Arbitrary driver answers through activation, deactivation and polling:
// any start of a request (at once, pending, refused), a failing wait or
// event, a missing driver, any byte count and any bytes written back.
//
// Input, one step after another:
//   op % 8 == 0 activate, 1 deactivate, 2 check current setting, each then
//           followed by an answer: flags byte (bits 0-1 start: 0 or 3 at
//           once, 1 pending, 2 refused; bit 2 the wait fails; bit 3 no
//           event; bit 4 no driver), u32 byte count, length byte and that
//           many bytes written over the buffer
//   3 timer tick (delivered only while the timer runs), with an answer
//   4 radio button 1020 + (next byte % 4)
//   5 the list filled with old lines up to 240 + (next byte % 32)
//   6 the dialog ends and a new one starts
//   7 the fields from a small table, chosen by the next byte
#include <cstdint>
#include <deque>

#include "command_routing.h"
#include "fake_platform.h"
#include "forwarding_session.h"
#include "fuzz_input.h"
#include "session_invariants.h"

namespace {

// The dialog's commands, as its template numbers them.
constexpr uint32_t CANCEL = 2, IMMEDIATELY = 1020, DEACTIVATE = 1031, ACTIVATE = 1032, CHECK = 1033;

// The only answer of the step's request.
void readAnswer(FuzzInput& in, FakePlatform& fake, std::deque<FakeAnswer>& answers) {
    uint8_t flags = in.byte();
    FakeAnswer& answer = answers.emplace_back();
    switch (flags & 3) {
    case 1:
        answer.start = IO_PENDING;
        break;
    case 2:
        answer.start = IO_REFUSED;
        break;
    default:
        answer.start = IO_COMPLETED;
        break;
    }
    answer.waitFails = (flags & 4) != 0;
    fake.eventCreationFails = (flags & 8) != 0;
    fake.driverPresent = (flags & 16) == 0;
    answer.bytesReturned = in.u32();
    std::string_view written = in.bytes(in.byte());
    answer.writes.assign(written.begin(), written.end());
}

void startDialog(ForwardingSession* session, FakePlatform& fake) {
    Platform platform = fake.platform();
    forwardingSessionInit(session, &platform);
    statusLogStart(&session->log);
}

void dispatch(ForwardingSession* session, FakePlatform& fake, uint32_t command) {
    CommandWatch watch = watchCommand(fake);
    commandRoutingDispatch(session, command);
    require(checkBetweenCommands(fake, *session));
    require(checkCommandLines(command, fake, watch));
}

void endDialog(ForwardingSession* session, FakePlatform& fake) {
    commandRoutingDispatch(session, CANCEL);
    if (!fake.openDevices.empty() || !fake.openEvents.empty()) {
        violated("handles left open after the dialog ended");
    }
}

const char* const NUMBERS[] = {"821", "", "0123456789012345678901234", "739"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > FUZZ_INPUT_MAX) {
        return -1; // not added to the corpus
    }
    FuzzInput in(data, size);
    FakePlatform fake;
    fake.servedUserNumber = "821";
    fake.forwardedToNumber = "739";
    ForwardingSession session{};
    startDialog(&session, fake);

    while (in.more()) {
        uint8_t op = in.byte() % 8;
        switch (op) {
        case 0:
        case 1:
            readAnswer(in, fake, fake.setAnswers);
            dispatch(&session, fake, op == 0 ? ACTIVATE : DEACTIVATE);
            break;
        case 2:
            readAnswer(in, fake, fake.interrogationAnswers);
            dispatch(&session, fake, CHECK);
            break;
        case 3:
            readAnswer(in, fake, fake.interrogationAnswers);
            if (fake.timerArmed) {
                dispatch(&session, fake, CHECK);
            }
            break;
        case 4:
            dispatch(&session, fake, IMMEDIATELY + in.byte() % 4u);
            break;
        case 5: {
            // Around the limit is where trimming can go wrong; far beyond it
            // the fake's list only gets slow.
            size_t target = 240 + in.byte() % 32;
            while (fake.lines.size() < target) {
                fake.lines.push_back("old");
            }
            break;
        }
        case 6:
            endDialog(&session, fake);
            fake.timerArmed = false; // the timer and the list go with the window
            fake.lines.clear();
            startDialog(&session, fake);
            break;
        default: {
            uint8_t choice = in.byte();
            fake.servedUserNumber = NUMBERS[choice % 4];
            fake.forwardedToNumber = NUMBERS[(choice / 4) % 4];
            break;
        }
        }
        // A step's faults last for that step only.
        fake.eventCreationFails = false;
        fake.driverPresent = true;
        fake.setAnswers.clear();
        fake.interrogationAnswers.clear();
        fake.calls.clear();
    }
    endDialog(&session, fake);
    return 0;
}
