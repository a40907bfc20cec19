// The driver channel: opening the device afresh per command, issuing a
// request with its own event and waiting for it, cancelling a request that
// cannot be waited for, and closing the handle.
#include "driver_channel.h"

#include "text_buffer.h"

void driverChannelInit(DriverChannel* channel, const Platform* platform) {
    channel->platform = platform;
    channel->driverHandle = PLATFORM_NO_HANDLE;
    channel->requestHeld = false;
}

void driverChannelDevicePath(char path[DEVICE_PATH_SIZE]) {
    for (unsigned i = 0; i < DEVICE_PATH_SIZE; ++i) {
        path[i] = '\0';
    }
    textAppend(path, DEVICE_PATH_SIZE, DEVICE_PATH);
}

bool driverChannelOpen(DriverChannel* channel) {
    const Platform* p = channel->platform;
    char path[DEVICE_PATH_SIZE];
    driverChannelDevicePath(path);
    PlatformHandle opened = p->openDevice(p->context, path);
    PlatformHandle replaced = channel->driverHandle;
    bool succeeded = opened != PLATFORM_NO_HANDLE;
    // Closing the old handle only now keeps the device open across the
    // reopen, so an interrogation's state held per open device survives.
    channel->driverHandle = succeeded ? opened : PLATFORM_NO_HANDLE;
    if (replaced != PLATFORM_NO_HANDLE && replaced != opened) {
        p->closeHandle(p->context, replaced);
    }
    return succeeded;
}

namespace {

// Issues one request with a completion event of its own and returns whether
// the driver answered it. A pending request is waited for when the caller
// expects the driver to take its time, and cancelled otherwise; either way
// it has ended before this returns, so the buffer outlives it. Without an
// event nothing is issued: a request that cannot be waited for could write a
// buffer that is gone.
bool issueRequest(DriverChannel* channel, uint32_t controlCode, uint8_t* buffer, uint32_t size,
                  bool waitIfPending, uint32_t* bytesReturned) {
    const Platform* p = channel->platform;
    PlatformHandle event = p->createEvent(p->context);
    if (event == PLATFORM_NO_HANDLE) {
        return false;
    }
    bool answered = false;
    switch (p->deviceControl(p->context, channel->driverHandle, controlCode, buffer, size, event,
                             bytesReturned)) {
    case IO_COMPLETED:
        answered = true;
        break;
    case IO_PENDING: {
        // Until the request has ended, the thread serves the window while it
        // waits (for the answer or for the cancel), so commands can arrive;
        // none may run before then.
        channel->requestHeld = true;
        IoEnd end = IO_WAIT_FAILED;
        if (waitIfPending) {
            end = p->waitForRequest(p->context, channel->driverHandle, bytesReturned);
        }
        // A request that ended in failure left its answer uncopied: the
        // buffer holds the request as sent, not a result.
        answered = end == IO_ENDED_SUCCEEDED;
        if (end == IO_WAIT_FAILED) {
            // Not waited for, or the wait itself failed: end the request
            // before its buffer goes.
            p->cancelRequest(p->context, channel->driverHandle);
        }
        channel->requestHeld = false;
        break;
    }
    case IO_REFUSED:
        break;
    }
    p->closeHandle(p->context, event);
    return answered;
}

} // namespace

SetForwardingResult driverChannelSetForwarding(DriverChannel* channel, ForwardingRequest* request) {
    uint32_t bytesReturned = 0;
    bool answered = issueRequest(channel, IOCTL_CF_SET, request->bytes, FORWARDING_REQUEST_SIZE,
                                 true, &bytesReturned);
    // Windows copies back only as many bytes as the driver reports: with
    // fewer than the result code's, bytes 0-1 still hold the request as sent
    // (the control byte and a digit), a code no driver sent.
    return answered && bytesReturned >= RESULT_CODE_OFFSET + RESULT_CODE_SIZE
               ? SET_FORWARDING_COMPLETED
               : SET_FORWARDING_REFUSED;
}

InterrogationAnswer driverChannelInterrogate(DriverChannel* channel, InterrogationRecord* record) {
    uint32_t bytesReturned = 0;
    // The answer is expected at once; one held back ends the poll.
    if (!issueRequest(channel, IOCTL_CF_INTERROGATE, record->bytes, INTERROGATION_RECORD_SIZE,
                      false, &bytesReturned)) {
        return INTERROGATION_FINISHED;
    }
    if (bytesReturned == INTERROGATION_NOTHING_YET_BYTES) {
        return INTERROGATION_NOTHING_YET;
    }
    if (bytesReturned == INTERROGATION_TIMED_OUT_BYTES) {
        return INTERROGATION_TIMED_OUT;
    }
    return INTERROGATION_ENTRY;
}

void driverChannelClose(DriverChannel* channel) {
    const Platform* p = channel->platform;
    if (channel->driverHandle != PLATFORM_NO_HANDLE) {
        p->closeHandle(p->context, channel->driverHandle);
    }
    channel->driverHandle = PLATFORM_NO_HANDLE;
}
