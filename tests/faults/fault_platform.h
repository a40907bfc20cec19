// A platform that passes every call to an inner one, counts the operations
// that can fail, and makes the n-th of them fail in a chosen way. Sweeping n
// over every operation a command sequence performs reaches every failure
// point of the core, one at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform.h"
#include "record_layout.h"

enum FaultOperation {
    OPERATION_OPEN,
    OPERATION_EVENT,
    OPERATION_SET,
    OPERATION_INTERROGATE,
    OPERATION_WAIT,
    OPERATION_ARM_TIMER,
};

enum FaultKind {
    FAULT_NONE,
    FAULT_OPEN_FAILS,         // the device cannot be opened
    FAULT_EVENT_FAILS,        // no completion event
    FAULT_REFUSED,            // the control call fails at once
    FAULT_PENDING,            // the driver holds the request; it completes when waited for
    FAULT_PENDING_WAIT_FAILS, // the driver holds the request and the wait fails
    FAULT_WAIT_FAILS,         // the wait for a request the driver holds fails
    FAULT_ARM_FAILS,          // the poll timer cannot be armed
};

const char* faultOperationName(FaultOperation operation);
const char* faultKindName(FaultKind kind);

// The faults that make sense at one kind of operation.
std::vector<FaultKind> faultsFor(FaultOperation operation);

struct FaultPlatform {
    Platform inner;

    // Which operation fails (1 for the first; 0 for none) and how.
    int failAt = 0;
    FaultKind kind = FAULT_NONE;

    // What happened.
    std::vector<FaultOperation> operations;
    bool fired = false;

    // A request held back by an injected pending start: the command's buffer
    // and a scratch copy that the inner device answered into.
    bool holding = false;
    bool holdingInnerPending = false; // the inner device left the scratch copy pending too
    bool holdingWaitFails = false;
    uint8_t* heldBuffer = nullptr;
    uint32_t heldSize = 0;
    uint32_t heldBytes = 0;
    uint8_t scratch[INTERROGATION_RECORD_SIZE] = {};

    // Wraps inner; the returned record points at this object.
    Platform platform(const Platform& wrapped);
};
