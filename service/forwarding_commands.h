// The "Forward By" radio buttons and the Activate and Deactivate buttons.
#pragma once

#include "forwarding_session.h"

// Commands 1020 to 1023: checks the chosen button; the control byte becomes
// the command's low two bits. Nothing is logged, the driver is not touched.
void forwardingCommandsSelectProcedure(ForwardingSession* session, int commandId);

// Checks the button of the condition in force and unchecks the others.
void forwardingCommandsShowProcedure(ForwardingSession* session);

void forwardingCommandsActivate(ForwardingSession* session);
void forwardingCommandsDeactivate(ForwardingSession* session);
