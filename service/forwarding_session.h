// The run state owned by the dialog for its whole life, and the handlers the
// dialog routes its commands to.
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
