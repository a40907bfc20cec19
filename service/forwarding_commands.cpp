// Activate, Deactivate and the "Forward By" choice: the number checks, the
// one request a command sends and the line that tells its outcome.
#include "forwarding_commands.h"

#include "command_ids.h"
#include "text_buffer.h"
#include "user_texts.h"

namespace {

constexpr unsigned OUTCOME_LINE_SIZE = 256;

void runForwardingRequest(ForwardingSession* session) {
    const Platform* p = &session->platform;
    // The command's buffers live in its frame: released exactly once on
    // every path, and the wait below keeps the request alive until the driver
    // is done with it.
    char servedUserNumber[NUMBER_FIELD_SIZE];
    char forwardedToNumber[NUMBER_FIELD_SIZE];
    p->readNumberField(p->context, IDC_SERVED_USER_NUMBER, servedUserNumber, NUMBER_FIELD_SIZE);
    p->readNumberField(p->context, IDC_FORWARDED_TO_NUMBER, forwardedToNumber, NUMBER_FIELD_SIZE);
    servedUserNumber[NUMBER_FIELD_SIZE - 1] = '\0';
    forwardedToNumber[NUMBER_FIELD_SIZE - 1] = '\0';
    ForwardingRequest request = {};

    statusLogMakeRoom(&session->log);

    // One open per command, on the first branch that applies.
    const char* complaint = nullptr;
    if (servedUserNumber[0] == '\0') {
        complaint = TEXT_NEED_SERVED_USER_NUMBER;
    } else if (forwardedToNumber[0] == '\0') {
        complaint = TEXT_NEED_FORWARDED_TO_NUMBER;
    }
    if (!forwardingSessionOpenDriver(session)) {
        return;
    }
    if (complaint != nullptr) {
        statusLogAppend(&session->log, complaint);
        return;
    }

    ForwardingControl control = session->commands.forwardingControl;
    forwardingRequestBuild(&request, control, servedUserNumber, forwardedToNumber);

    char line[OUTCOME_LINE_SIZE] = {};
    textAppend(line, sizeof line,
               (control & FORWARDING_DIRECTION_DEACTIVATE) ? TEXT_DEACTIVATION_IS
                                                           : TEXT_ACTIVATION_IS);
    char outcome[OUTCOME_TEXT_SIZE];
    if (driverChannelSetForwarding(&session->channel, &request) == SET_FORWARDING_COMPLETED) {
        outcomeTextForResult(resultCodeRead(&request), outcome);
    } else {
        textCopy(outcome, TEXT_OUTCOME_FAILED, OUTCOME_TEXT_SIZE - 1);
    }
    textAppend(line, sizeof line, outcome);
    statusLogAppend(&session->log, line);
}

} // namespace

// The control byte is the command's low two bits; the range must keep them.
static_assert((IDC_IMMEDIATELY & FORWARDING_PROCEDURE_MASK) == PROCEDURE_IMMEDIATELY, "1020 is 0");
static_assert((IDC_BUSY & FORWARDING_PROCEDURE_MASK) == PROCEDURE_BUSY, "1021 is 1");
static_assert((IDC_NO_REPLY & FORWARDING_PROCEDURE_MASK) == PROCEDURE_NO_REPLY, "1022 is 2");
static_assert((IDC_PROCEDURE_LAST & FORWARDING_PROCEDURE_MASK) == 3, "1023 is 3");

void forwardingCommandsSelectProcedure(ForwardingSession* session, int commandId) {
    const Platform* p = &session->platform;
    p->checkRadioButton(p->context, IDC_IMMEDIATELY, IDC_PROCEDURE_LAST, commandId);
    session->commands.forwardingControl =
        static_cast<ForwardingControl>(commandId & FORWARDING_PROCEDURE_MASK);
}

void forwardingCommandsShowProcedure(ForwardingSession* session) {
    const Platform* p = &session->platform;
    int procedure = session->commands.forwardingControl & FORWARDING_PROCEDURE_MASK;
    p->checkRadioButton(p->context, IDC_IMMEDIATELY, IDC_PROCEDURE_LAST,
                        IDC_IMMEDIATELY + procedure);
}

void forwardingCommandsActivate(ForwardingSession* session) {
    session->commands.forwardingControl &= static_cast<uint8_t>(~FORWARDING_DIRECTION_DEACTIVATE);
    runForwardingRequest(session);
}

void forwardingCommandsDeactivate(ForwardingSession* session) {
    session->commands.forwardingControl |= FORWARDING_DIRECTION_DEACTIVATE;
    runForwardingRequest(session);
}
