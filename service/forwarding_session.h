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

struct ForwardingSession {
    Platform platform;
    DriverChannel channel;
    StatusLog log;
    ForwardingCommands commands;
    InterrogationPoller poller;
};

// Everything starts at zero, false or empty. The session keeps a copy of the
// platform record and points its parts at that copy, so it must not be moved
// once initialised.
void forwardingSessionInit(ForwardingSession* session, const Platform* platform);

// Closes the driver handle when the dialog ends.
void forwardingSessionEnd(ForwardingSession* session);
