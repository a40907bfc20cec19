// The "Forward By" radio buttons and the Activate and Deactivate buttons.
#pragma once

#include "forwarding_session.h"

constexpr char TEXT_NEED_SERVED_USER_NUMBER[] = "Need to fill Transferd Number!";
constexpr char TEXT_NEED_FORWARDED_TO_NUMBER[] = "Need to fill Forward-To Number!";
constexpr char TEXT_ACTIVATION_IS[] = "Activation is ";
constexpr char TEXT_DEACTIVATION_IS[] = "Deactivation is ";

// Commands 1020 to 1023: checks the chosen button; the control byte becomes
// the command's low two bits. Nothing is logged, the driver is not touched.
void forwardingCommandsSelectProcedure(ForwardingSession* session, int commandId);

void forwardingCommandsActivate(ForwardingSession* session);
void forwardingCommandsDeactivate(ForwardingSession* session);
