// The in-process device: handles issued and checked by kind, requests passed
// to the exchange, the one held set-forwarding request, each misuse counted.
#include "inprocess_device.h"

namespace {

constexpr PlatformHandle FIRST_HANDLE = 0x1000;
constexpr PlatformHandle HANDLE_STEP = 4; // like kernel handles: never 0, never all ones

InProcessDevice* deviceOf(void* context) {
    return static_cast<InProcessDevice*>(context);
}

void fault(InProcessDevice* device, const char* what) {
    ++device->faults;
    device->lastFault = what;
}

bool samePath(const char* path) {
    if (path == nullptr) {
        return false;
    }
    unsigned i = 0;
    for (; DEVICE_PATH[i] != 0; ++i) {
        if (path[i] != DEVICE_PATH[i]) {
            return false;
        }
    }
    return path[i] == 0;
}

InProcessHandle* find(InProcessDevice* device, PlatformHandle value) {
    for (InProcessHandle& h : device->handles) {
        if (h.kind != INPROCESS_HANDLE_FREE && h.value == value) {
            return &h;
        }
    }
    return nullptr;
}

// A new handle of kind, or PLATFORM_NO_HANDLE after recording the leak that
// filled the table.
PlatformHandle issue(InProcessDevice* device, InProcessHandleKind kind) {
    for (InProcessHandle& h : device->handles) {
        if (h.kind == INPROCESS_HANDLE_FREE) {
            h.kind = kind;
            h.value = device->nextHandle;
            h.signalled = false;
            device->nextHandle += HANDLE_STEP; // values are never reused, so stale ones show
            return h.value;
        }
    }
    fault(device, "handle table exhausted: handles are leaking");
    return PLATFORM_NO_HANDLE;
}

// The open handle of kind a call names, or null after recording the misuse.
InProcessHandle* handleOf(InProcessDevice* device, PlatformHandle value, InProcessHandleKind kind,
                          const char* what) {
    InProcessHandle* h = find(device, value);
    if (h == nullptr || h->kind != kind) {
        fault(device, what);
        return nullptr;
    }
    return h;
}

// Hands a set-forwarding answer to the caller, as its completion does.
void answerSet(uint8_t* buffer, const ExchangeAnswer& answer, InProcessHandle* event,
               uint32_t* bytesReturned) {
    exchangeWriteResultCode(buffer, answer.resultCode);
    *bytesReturned = answer.bytesReturned;
    if (event != nullptr) {
        event->signalled = true;
    }
}

bool pendingMatches(const InProcessDevice* device, PlatformHandle handle) {
    const InProcessPending& p = device->pending;
    return p.active && p.device == handle;
}

// Ends the pending request without an answer, as a cancel does; the
// exchange has already acted on it.
void dropPending(InProcessDevice* device) {
    device->pending.active = false;
    ++device->cancels;
}

PlatformHandle inprocessOpenDevice(void* context, const char* path) {
    InProcessDevice* device = deviceOf(context);
    ++device->opens;
    if (device->driverAbsent || !samePath(path)) {
        return PLATFORM_NO_HANDLE;
    }
    PlatformHandle handle = issue(device, INPROCESS_HANDLE_DEVICE);
    if (handle == PLATFORM_NO_HANDLE) {
        return PLATFORM_NO_HANDLE;
    }
    ++device->openDevices;
    return handle;
}

PlatformHandle inprocessCreateEvent(void* context) {
    InProcessDevice* device = deviceOf(context);
    if (device->eventCreationFails) {
        return PLATFORM_NO_HANDLE;
    }
    PlatformHandle handle = issue(device, INPROCESS_HANDLE_EVENT);
    if (handle != PLATFORM_NO_HANDLE) {
        ++device->openEvents;
    }
    return handle;
}

IoStart inprocessDeviceControl(void* context, PlatformHandle handle, uint32_t controlCode,
                               uint8_t* buffer, uint32_t bufferSize, PlatformHandle event,
                               uint32_t* bytesReturned) {
    InProcessDevice* device = deviceOf(context);
    if (handleOf(device, handle, INPROCESS_HANDLE_DEVICE,
                 "device control on a handle that is no open device") == nullptr) {
        return IO_REFUSED;
    }
    InProcessHandle* eventHandle = nullptr;
    if (event != PLATFORM_NO_HANDLE) {
        eventHandle = handleOf(device, event, INPROCESS_HANDLE_EVENT,
                               "device control with an event that is no open event");
        if (eventHandle == nullptr) {
            return IO_REFUSED;
        }
        eventHandle->signalled = false;
    }
    if (device->pending.active) {
        fault(device, "a second request while one is still pending");
        return IO_REFUSED;
    }
    ++device->requests;
    ExchangeAnswer answer = exchangeSubmit(&device->exchange, controlCode, buffer, bufferSize,
                                           bufferSize, device->nowMs);
    switch (answer.status) {
    case EXCHANGE_COMPLETED:
        *bytesReturned = answer.bytesReturned;
        return IO_COMPLETED;
    case EXCHANGE_DUE:
        if (answer.dueAtMs <= device->nowMs) {
            answerSet(buffer, answer, eventHandle, bytesReturned);
            return IO_COMPLETED;
        }
        if (eventHandle == nullptr) {
            fault(device, "a pending request without an event to wait on");
        }
        device->pending.active = true;
        device->pending.device = handle;
        device->pending.event = event;
        device->pending.buffer = buffer;
        device->pending.answer = answer;
        return IO_PENDING;
    case EXCHANGE_FINISHED:
    case EXCHANGE_BUFFER_TOO_SMALL:
    case EXCHANGE_INVALID_PARAMETER:
    case EXCHANGE_UNKNOWN_REQUEST:
        break;
    }
    return IO_REFUSED;
}

IoEnd inprocessWaitForRequest(void* context, PlatformHandle handle, uint32_t* bytesReturned) {
    InProcessDevice* device = deviceOf(context);
    if (handleOf(device, handle, INPROCESS_HANDLE_DEVICE,
                 "wait on a handle that is no open device") == nullptr) {
        return IO_WAIT_FAILED;
    }
    if (!pendingMatches(device, handle)) {
        fault(device, "wait with no such request pending: it would never end");
        return IO_WAIT_FAILED;
    }
    InProcessPending& p = device->pending;
    if (device->nowMs < p.answer.dueAtMs) {
        device->nowMs = p.answer.dueAtMs;
    }
    answerSet(p.buffer, p.answer, find(device, p.event), bytesReturned);
    p.active = false;
    return IO_ENDED_SUCCEEDED;
}

void inprocessCancelRequest(void* context, PlatformHandle handle) {
    InProcessDevice* device = deviceOf(context);
    if (handleOf(device, handle, INPROCESS_HANDLE_DEVICE,
                 "cancel on a handle that is no open device") == nullptr) {
        return;
    }
    // Interrogations never pend here, so cancelling one that has already
    // ended is harmless, as on the real platform.
    if (pendingMatches(device, handle)) {
        dropPending(device);
    }
}

void inprocessCloseHandle(void* context, PlatformHandle value) {
    InProcessDevice* device = deviceOf(context);
    InProcessHandle* h = find(device, value);
    if (h == nullptr) {
        fault(device, "close of a handle never issued or already closed");
        return;
    }
    if (h->kind == INPROCESS_HANDLE_DEVICE) {
        if (device->pending.active && device->pending.device == value) {
            dropPending(device); // closing the device cancels what it holds
        }
        --device->openDevices;
    } else {
        if (device->pending.active && device->pending.event == value) {
            fault(device, "event closed while its request is pending");
        }
        --device->openEvents;
    }
    h->kind = INPROCESS_HANDLE_FREE;
}

} // namespace

bool inprocessDeviceInit(InProcessDevice* device, const ExchangeConfig* config) {
    *device = InProcessDevice{};
    device->nextHandle = FIRST_HANDLE;
    return exchangeInit(&device->exchange, config);
}

void inprocessDeviceAttach(InProcessDevice* device, Platform* platform) {
    platform->context = device;
    platform->openDevice = inprocessOpenDevice;
    platform->createEvent = inprocessCreateEvent;
    platform->deviceControl = inprocessDeviceControl;
    platform->waitForRequest = inprocessWaitForRequest;
    platform->cancelRequest = inprocessCancelRequest;
    platform->closeHandle = inprocessCloseHandle;
}

void inprocessDeviceAdvance(InProcessDevice* device, uint64_t ms) {
    device->nowMs += ms;
}
