// Where the dialog's commands go, by the low 16 bits of the command word; the
// notification code in the high bits is not looked at.
#pragma once

#include "forwarding_session.h"

enum CommandRoute {
    ROUTE_NOT_HANDLED, // the dialog procedure reports false
    ROUTE_HANDLED,     // reported as handled: the procedure selections only
    ROUTE_END_DIALOG,  // OK or Cancel: the driver handle is closed; end with 0
};

// The OK and Cancel commands the platform sends for Enter, Escape and the
// close box.
constexpr uint32_t COMMAND_OK = 1;
constexpr uint32_t COMMAND_CANCEL = 2;

// While a request is held, every command is refused: none runs, then or later.
CommandRoute commandRoutingDispatch(ForwardingSession* session, uint32_t commandWord);
