#include "driver_channel.h"

#include "text_buffer.h"

namespace {

bool isOpen(PlatformHandle handle) {
    return handle != PLATFORM_NO_HANDLE && handle != PLATFORM_INVALID_HANDLE;
}

} // namespace

void driverChannelInit(DriverChannel* channel, const Platform* platform) {
    channel->platform = platform;
    channel->driverHandle = PLATFORM_NO_HANDLE;
}

void driverChannelDevicePath(char path[DEVICE_PATH_SIZE]) {
    for (unsigned i = 0; i < DEVICE_PATH_SIZE; ++i) {
        path[i] = '\0';
    }
    textAppend(path, DEVICE_PATH_SIZE, DEVICE_PATH_PREFIX);
    textAppend(path, DEVICE_PATH_SIZE, DEVICE_NAME);
}

bool driverChannelOpen(DriverChannel* channel) {
    const Platform* p = channel->platform;
    char path[DEVICE_PATH_SIZE];
    driverChannelDevicePath(path);
    PlatformHandle opened = p->openDevice(p->context, path);
    PlatformHandle replaced = channel->driverHandle;
    bool succeeded = isOpen(opened);
    // Closing the old handle only now keeps the device open across the
    // reopen, so an interrogation's state held per open device survives.
    channel->driverHandle = succeeded ? opened : PLATFORM_NO_HANDLE;
    if (isOpen(replaced) && replaced != opened) {
        p->closeHandle(p->context, replaced);
    }
    return succeeded;
}

SetForwardingResult driverChannelSetForwarding(DriverChannel* channel, ForwardingRequest* request) {
    const Platform* p = channel->platform;
    // Without an event a pending request could not be waited for and the
    // driver could write the buffer after it is gone: issue nothing.
    PlatformHandle event = p->createEvent(p->context);
    if (event == PLATFORM_NO_HANDLE) {
        return SET_FORWARDING_REFUSED;
    }
    uint32_t bytesReturned = 0;
    SetForwardingResult result = SET_FORWARDING_REFUSED;
    switch (p->deviceControl(p->context, channel->driverHandle, IOCTL_CF_SET, request->bytes,
                             FORWARDING_REQUEST_SIZE, event, &bytesReturned)) {
    case IO_COMPLETED:
        result = SET_FORWARDING_COMPLETED;
        break;
    case IO_PENDING:
        if (p->waitForRequest(p->context, channel->driverHandle, IOCTL_CF_SET, &bytesReturned)) {
            result = SET_FORWARDING_COMPLETED;
        } else {
            // The wait failed, so the request may still be running: end it
            // before the buffer goes, and report it as not done.
            p->cancelRequest(p->context, channel->driverHandle, IOCTL_CF_SET);
        }
        break;
    case IO_REFUSED:
        break;
    }
    p->closeHandle(p->context, event);
    return result;
}

InterrogationAnswer driverChannelInterrogate(DriverChannel* channel, InterrogationRecord* record) {
    const Platform* p = channel->platform;
    PlatformHandle event = p->createEvent(p->context);
    if (event == PLATFORM_NO_HANDLE) {
        return INTERROGATION_FINISHED;
    }
    uint32_t bytesReturned = 0;
    InterrogationAnswer answer = INTERROGATION_FINISHED;
    switch (p->deviceControl(p->context, channel->driverHandle, IOCTL_CF_INTERROGATE, record->bytes,
                             INTERROGATION_RECORD_SIZE, event, &bytesReturned)) {
    case IO_COMPLETED:
        if (bytesReturned == INTERROGATION_NOTHING_YET_BYTES) {
            answer = INTERROGATION_NOTHING_YET;
        } else if (bytesReturned == INTERROGATION_TIMED_OUT_BYTES) {
            answer = INTERROGATION_TIMED_OUT;
        } else {
            answer = INTERROGATION_ENTRY;
        }
        break;
    case IO_PENDING:
        // The answer is expected at once; one held back ends the poll, but
        // only after the driver has let go of the buffer.
        p->cancelRequest(p->context, channel->driverHandle, IOCTL_CF_INTERROGATE);
        break;
    case IO_REFUSED:
        break;
    }
    p->closeHandle(p->context, event);
    return answer;
}

void driverChannelClose(DriverChannel* channel) {
    const Platform* p = channel->platform;
    if (isOpen(channel->driverHandle)) {
        p->closeHandle(p->context, channel->driverHandle);
    }
    channel->driverHandle = PLATFORM_NO_HANDLE;
}
