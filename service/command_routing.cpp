#include "command_routing.h"

#include "forwarding_commands.h"
#include "interrogation_poller.h"
#include "command_ids.h"

CommandRoute commandRoutingDispatch(ForwardingSession* session, uint32_t commandWord) {
    int command = static_cast<int>(commandWord & 0xFFFFu);
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
