// The run state's start and end, and the driver open every command shares
// with its "Failed to Open Driver" line.
#include "forwarding_session.h"

#include "user_texts.h"

void forwardingSessionInit(ForwardingSession* session, const Platform* platform) {
    session->platform = *platform;
    driverChannelInit(&session->channel, &session->platform);
    statusLogInit(&session->log, &session->platform);
    session->commands.forwardingControl = 0;
    session->poller.pollTimerArmed = false;
}

bool forwardingSessionOpenDriver(ForwardingSession* session) {
    if (driverChannelOpen(&session->channel)) {
        return true;
    }
    statusLogAppend(&session->log, TEXT_FAILED_TO_OPEN_DRIVER);
    return false;
}

void forwardingSessionEnd(ForwardingSession* session) {
    driverChannelClose(&session->channel);
}
