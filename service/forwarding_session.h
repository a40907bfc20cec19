// The run state the dialog owns for its whole life: the platform record, the
// driver channel, the status log and the state the command handlers keep (the
// control byte, whether the poll timer is armed), with the driver open every
// command shares. The handlers themselves are in forwarding_commands.h (the
// conditions, Activate and Deactivate) and interrogation_poller.h (Check
// Current Setting); command_routing.h routes the dialog's commands to them.
#pragma once

#include "driver_channel.h"
#include "forwarding_records.h"
#include "platform.h"
#include "status_log.h"

struct ForwardingCommands {
    ForwardingControl forwardingControl;
};

struct InterrogationPoller {
    bool pollTimerArmed;
};

// The parts point at the session's own copy of the platform record, so a
// copy or a move would leave them pointing into the original: both are
// compile errors.
struct ForwardingSession {
    Platform platform;
    DriverChannel channel;
    StatusLog log;
    ForwardingCommands commands;
    InterrogationPoller poller;

    ForwardingSession() = default;
    ForwardingSession(const ForwardingSession&) = delete;
    ForwardingSession& operator=(const ForwardingSession&) = delete;
};

// Everything starts at zero, false or empty.
void forwardingSessionInit(ForwardingSession* session, const Platform* platform);

// Opens the driver afresh for a command or a poll; when the open fails, logs
// "Failed to Open Driver" and leaves the handle slot empty.
bool forwardingSessionOpenDriver(ForwardingSession* session);

// Closes the driver handle when the dialog ends.
void forwardingSessionEnd(ForwardingSession* session);
