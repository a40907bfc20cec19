// The fault platform: dialog calls pass through; opens, events, requests,
// waits and timer arms are counted, and the chosen one fails or is held.
#include "fault_platform.h"

#include <cstring>

namespace {

FaultPlatform* self(void* context) {
    return static_cast<FaultPlatform*>(context);
}

// Counts the operation; true when it is the one to fail.
bool strikes(FaultPlatform* f, FaultOperation operation) {
    f->operations.push_back(operation);
    if (static_cast<int>(f->operations.size()) != f->failAt) {
        return false;
    }
    f->fired = true;
    return true;
}

unsigned readNumberField(void* context, int controlId, char* buffer, unsigned bufferSize) {
    const Platform& in = self(context)->inner;
    return in.readNumberField(in.context, controlId, buffer, bufferSize);
}

int countStatusLines(void* context) {
    const Platform& in = self(context)->inner;
    return in.countStatusLines(in.context);
}

void deleteFirstStatusLine(void* context) {
    const Platform& in = self(context)->inner;
    in.deleteFirstStatusLine(in.context);
}

void appendStatusLine(void* context, const char* line) {
    const Platform& in = self(context)->inner;
    in.appendStatusLine(in.context, line);
}

void checkRadioButton(void* context, int firstId, int lastId, int checkId) {
    const Platform& in = self(context)->inner;
    in.checkRadioButton(in.context, firstId, lastId, checkId);
}

bool armTimer(void* context, unsigned timerId, unsigned intervalMs) {
    FaultPlatform* f = self(context);
    if (strikes(f, OPERATION_ARM_TIMER)) {
        return false;
    }
    return f->inner.armTimer(f->inner.context, timerId, intervalMs);
}

void killTimer(void* context, unsigned timerId) {
    const Platform& in = self(context)->inner;
    in.killTimer(in.context, timerId);
}

PlatformHandle openDevice(void* context, const char* path) {
    FaultPlatform* f = self(context);
    if (strikes(f, OPERATION_OPEN)) {
        return PLATFORM_NO_HANDLE;
    }
    return f->inner.openDevice(f->inner.context, path);
}

PlatformHandle createEvent(void* context) {
    FaultPlatform* f = self(context);
    if (strikes(f, OPERATION_EVENT)) {
        return PLATFORM_NO_HANDLE;
    }
    return f->inner.createEvent(f->inner.context);
}

IoStart deviceControl(void* context, PlatformHandle device, uint32_t controlCode, uint8_t* buffer,
                      uint32_t bufferSize, PlatformHandle event, uint32_t* bytesReturned) {
    FaultPlatform* f = self(context);
    const Platform& in = f->inner;
    bool isSet = controlCode == 0x80012114; // set forwarding
    if (!strikes(f, isSet ? OPERATION_SET : OPERATION_INTERROGATE)) {
        return in.deviceControl(in.context, device, controlCode, buffer, bufferSize, event,
                                bytesReturned);
    }
    switch (f->kind) {
    case FAULT_PENDING:
    case FAULT_PENDING_WAIT_FAILS:
        f->holding = true;
        f->holdingWaitFails = f->kind == FAULT_PENDING_WAIT_FAILS;
        f->heldBuffer = buffer;
        f->heldSize = bufferSize <= sizeof f->scratch ? bufferSize : sizeof f->scratch;
        f->heldBytes = 0;
        f->holdingInnerPending = false;
        // An interrogation held back is never waited for; a set-forwarding
        // one completes, when waited for, with what the device would have
        // answered at once.
        if (isSet) {
            std::memcpy(f->scratch, buffer, f->heldSize);
            IoStart start = in.deviceControl(in.context, device, controlCode, f->scratch,
                                             f->heldSize, event, &f->heldBytes);
            f->holdingInnerPending = start == IO_PENDING;
        }
        return IO_PENDING;
    default:
        return IO_REFUSED;
    }
}

IoEnd waitForRequest(void* context, PlatformHandle device, uint32_t* bytesReturned) {
    FaultPlatform* f = self(context);
    const Platform& in = f->inner;
    bool failing = strikes(f, OPERATION_WAIT);
    if (!f->holding) {
        if (failing) {
            return IO_WAIT_FAILED; // the inner request runs on until cancelled
        }
        return in.waitForRequest(in.context, device, bytesReturned);
    }
    if (failing || f->holdingWaitFails) {
        return IO_WAIT_FAILED;
    }
    if (f->holdingInnerPending) {
        IoEnd inner = in.waitForRequest(in.context, device, &f->heldBytes);
        if (inner != IO_ENDED_SUCCEEDED) {
            return inner;
        }
    }
    std::memcpy(f->heldBuffer, f->scratch, f->heldSize);
    *bytesReturned = f->heldBytes;
    f->holding = false;
    f->heldBuffer = nullptr;
    return IO_ENDED_SUCCEEDED;
}

void cancelRequest(void* context, PlatformHandle device) {
    FaultPlatform* f = self(context);
    const Platform& in = f->inner;
    if (f->holding) {
        f->holding = false;
        f->heldBuffer = nullptr;
        if (!f->holdingInnerPending) {
            return;
        }
    }
    in.cancelRequest(in.context, device);
}

void closeHandle(void* context, PlatformHandle handle) {
    const Platform& in = self(context)->inner;
    in.closeHandle(in.context, handle);
}

} // namespace

const char* faultOperationName(FaultOperation operation) {
    switch (operation) {
    case OPERATION_OPEN:
        return "open";
    case OPERATION_EVENT:
        return "event";
    case OPERATION_SET:
        return "set";
    case OPERATION_INTERROGATE:
        return "interrogate";
    case OPERATION_WAIT:
        return "wait";
    case OPERATION_ARM_TIMER:
        return "arm-timer";
    }
    return "?";
}

const char* faultKindName(FaultKind kind) {
    switch (kind) {
    case FAULT_NONE:
        return "none";
    case FAULT_OPEN_FAILS:
        return "open fails";
    case FAULT_EVENT_FAILS:
        return "event fails";
    case FAULT_REFUSED:
        return "refused at once";
    case FAULT_PENDING:
        return "pending";
    case FAULT_PENDING_WAIT_FAILS:
        return "pending, wait fails";
    case FAULT_WAIT_FAILS:
        return "wait fails";
    case FAULT_ARM_FAILS:
        return "arming fails";
    }
    return "?";
}

std::vector<FaultKind> faultsFor(FaultOperation operation) {
    switch (operation) {
    case OPERATION_OPEN:
        return {FAULT_OPEN_FAILS};
    case OPERATION_EVENT:
        return {FAULT_EVENT_FAILS};
    case OPERATION_SET:
        return {FAULT_REFUSED, FAULT_PENDING, FAULT_PENDING_WAIT_FAILS};
    case OPERATION_INTERROGATE:
        return {FAULT_REFUSED, FAULT_PENDING};
    case OPERATION_WAIT:
        return {FAULT_WAIT_FAILS};
    case OPERATION_ARM_TIMER:
        return {FAULT_ARM_FAILS};
    }
    return {};
}

Platform FaultPlatform::platform(const Platform& wrapped) {
    inner = wrapped;
    return Platform{this,
                    // the dialog: passed through
                    readNumberField, countStatusLines, deleteFirstStatusLine, appendStatusLine,
                    checkRadioButton, armTimer, killTimer,
                    // the device: counted, and failed at the chosen one
                    openDevice, createEvent, deviceControl, waitForRequest, cancelRequest,
                    closeHandle};
}
