// Command routing: turns the dialog's command word into a call of the handler
// it names, and refuses every command while a request is held.
#include "command_routing.h"

#include "forwarding_commands.h"
#include "interrogation_poller.h"
#include "command_ids.h"

namespace {

bool isProcedureSelection(int command) {
    return command >= IDC_IMMEDIATELY && command <= IDC_PROCEDURE_LAST;
}

} // namespace

CommandRoute commandRoutingDispatch(ForwardingSession* session, uint32_t commandWord) {
    int command = static_cast<int>(commandWord & 0xFFFFu);
    if (session->channel.requestHeld) {
        // Sent while the thread waits for the driver (another program's
        // button click, a tick sent to the dialog): running it would start a
        // second request on the one overlapped record, or close the handle
        // under the first. It is dropped, not kept for later.
        if (isProcedureSelection(command)) {
            // The radio button has checked itself before it reported the
            // click: the buttons go back to the condition that will be sent.
            forwardingCommandsShowProcedure(session);
            return ROUTE_HANDLED;
        }
        return ROUTE_NOT_HANDLED;
    }
    switch (command) {
    case COMMAND_OK:
    case COMMAND_CANCEL:
        forwardingSessionEnd(session);
        return ROUTE_END_DIALOG;
    case IDC_IMMEDIATELY:
    case IDC_BUSY:
    case IDC_NO_REPLY:
    case IDC_PROCEDURE_LAST:
        forwardingCommandsSelectProcedure(session, command);
        return ROUTE_HANDLED;
    case IDC_DEACTIVATE:
        forwardingCommandsDeactivate(session);
        return ROUTE_NOT_HANDLED;
    case IDC_ACTIVATE:
        forwardingCommandsActivate(session);
        return ROUTE_NOT_HANDLED;
    case IDC_CHECK_CURRENT_SETTING:
        interrogationPollerPoll(session);
        return ROUTE_NOT_HANDLED;
    default:
        return ROUTE_NOT_HANDLED;
    }
}
