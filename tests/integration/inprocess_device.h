// The simulated exchange behind the device operations of the platform record,
// in process, on a clock the test drives. It behaves as the stand-in driver
// does: it opens only DEVICE_PATH, answers interrogations at once and leaves
// a set-forwarding request pending until its answer is due.
//
// It also polices the caller: every handle it did not issue, or already saw
// closed, every wait or cancel with no request behind it, and every request
// on a handle of the wrong kind counts as a fault instead of being undefined,
// so a test only has to check that faults stayed 0.
//
// Use: inprocessDeviceInit, then inprocessDeviceAttach to point a Platform's
// device operations at it. The platform's context is then the device; dialog
// operations written for the same Platform reach their own state through
// owner.
#pragma once

#include <stdint.h>

#include "platform.h"
#include "simulated_exchange.h"

constexpr unsigned INPROCESS_HANDLE_CAPACITY = 64;

enum InProcessHandleKind {
    INPROCESS_HANDLE_FREE,
    INPROCESS_HANDLE_DEVICE,
    INPROCESS_HANDLE_EVENT,
};

struct InProcessHandle {
    InProcessHandleKind kind;
    PlatformHandle value;
    bool signalled; // events only
};

// The one set-forwarding request the driver holds.
struct InProcessPending {
    bool active;
    PlatformHandle device;
    PlatformHandle event;
    uint8_t* buffer;
    ExchangeAnswer answer;
};

struct InProcessDevice {
    SimulatedExchange exchange;
    uint64_t nowMs;    // the test's clock; waits move it to the answer's due time
    bool driverAbsent; // every open fails, as with the driver not loaded
    bool eventCreationFails;
    void* owner; // free for the caller

    InProcessHandle handles[INPROCESS_HANDLE_CAPACITY];
    PlatformHandle nextHandle;
    unsigned openDevices;
    unsigned openEvents;

    InProcessPending pending;

    unsigned opens;    // every open attempt, failed ones included
    unsigned requests; // device-control calls that reached the exchange
    unsigned cancels;  // pending requests ended by a cancel or a close
    unsigned faults;   // misuse by the caller
    const char* lastFault;
};

// A fresh device on clock 0 with no handle open. False when the exchange
// did not take the whole configuration (see exchangeInit).
bool inprocessDeviceInit(InProcessDevice* device, const ExchangeConfig* config);

// Points platform's context and its six device operations at device; the
// dialog operations are left as they are.
void inprocessDeviceAttach(InProcessDevice* device, Platform* platform);

void inprocessDeviceAdvance(InProcessDevice* device, uint64_t ms);
