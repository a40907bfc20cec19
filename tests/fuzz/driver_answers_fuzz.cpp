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
#include <string>

#include "command_routing.h"
#include "fake_platform.h"
#include "forwarding_session.h"
#include "fuzz_input.h"
#include "command_ids.h"
#include "session_invariants.h"

namespace {

FakeAnswer readAnswer(FuzzInput& in, FakePlatform& fake) {
    uint8_t flags = in.byte();
    FakeAnswer answer;
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
    std::string written = in.bytes(in.byte());
    answer.writes.assign(written.begin(), written.end());
    return answer;
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
    commandRoutingDispatch(session, COMMAND_CANCEL);
    if (!fake.openDevices.empty() || !fake.openEvents.empty()) {
        violated("handles left open after the dialog ended");
    }
}

const char* const NUMBERS[] = {"821", "", "0123456789012345678901234", "739"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
            fake.setAnswers = {readAnswer(in, fake)};
            dispatch(&session, fake, op == 0 ? IDC_ACTIVATE : IDC_DEACTIVATE);
            break;
        case 2:
            fake.interrogationAnswers = {readAnswer(in, fake)};
            dispatch(&session, fake, IDC_CHECK_CURRENT_SETTING);
            break;
        case 3:
            fake.interrogationAnswers = {readAnswer(in, fake)};
            if (fake.timerArmed) {
                dispatch(&session, fake, IDC_CHECK_CURRENT_SETTING);
            }
            break;
        case 4:
            dispatch(&session, fake, static_cast<uint32_t>(IDC_IMMEDIATELY + in.byte() % 4));
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
            fake.timerArmed = false; // the timer goes with the window
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
