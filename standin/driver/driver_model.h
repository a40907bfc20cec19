// What the stand-in driver decides, kept apart from the kernel calls so that
// it builds and is tested on Linux as well: the table of pending requests
// (set-forwarding answers waiting for their due time, interrogations held,
// cancels honoured late), the start configuration read from the
// service's registry values, and the control device's records.
//
// Kernel-safe like the exchange: no library, no allocation, no static with a
// constructor. The caller holds the driver's lock around every call.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "control_protocol.h"
#include "simulated_exchange.h"

constexpr unsigned PENDING_CAPACITY = 64;

// One pending request: a set-forwarding request whose answer is not due
// yet, or an interrogation held. `request` is the caller's handle on it (the
// IRP), null in a free slot; `owner` is what it came through (the file
// object), so that closing a handle can end its own.
struct PendingAnswer {
    void* request;
    void* owner;
    uint64_t dueAtMs;  // UINT64_MAX: never (a held interrogation)
    uint32_t sequence; // arrival order, breaks ties between equal due times
    uint32_t bytesReturned;
    uint16_t resultCode;
    bool failed;     // ends with an error status, not with its result code
    bool held;       // an interrogation, ended only by a cancel
    bool cancelling; // its cancel routine has it; never complete it here
    bool cancelled;  // its cancel routine has run: ends cancelled when due
};

struct PendingTable {
    unsigned count;
    uint32_t nextSequence;
    PendingAnswer slots[PENDING_CAPACITY];
};

void pendingInit(PendingTable* table);
// False when the table is full.
bool pendingAdd(PendingTable* table, void* request, void* owner, const ExchangeAnswer& answer);
// An interrogation held: never due. False when the table is full.
bool pendingHold(PendingTable* table, void* request, void* owner);
// The slot of request, or null.
PendingAnswer* pendingFind(PendingTable* table, const void* request);
// A cancel honoured late: request becomes due at atMs, to end cancelled, and
// is no longer its cancel routine's. False when it is not there.
bool pendingCancelLater(PendingTable* table, const void* request, uint64_t atMs);
// The earliest answer due at nowMs that is not being cancelled, or null.
PendingAnswer* pendingNextDue(PendingTable* table, uint64_t nowMs);
// The due time the completing thread must wake at; UINT64_MAX when nothing
// waits (slots being cancelled do not count).
uint64_t pendingWakeAt(const PendingTable* table);
// Takes request out of the table; false when it is not there.
bool pendingRemove(PendingTable* table, void* request);
// For draining: any slot of owner (of any owner when null) that is not being
// cancelled, or null; and how many slots of owner are taken, cancelling ones
// included.
PendingAnswer* pendingAnyOf(PendingTable* table, const void* owner);
unsigned pendingCountOf(const PendingTable* table, const void* owner);

// Registry text: UTF-16 code units as a REG_SZ or REG_MULTI_SZ value holds
// them, `units` long, strings separated by zero units.
//
// Unreachable numbers, one per string: they replace the configured list.
// Returns the number of strings refused (not digits, empty, too long, or
// beyond the list's capacity).
unsigned parseUnreachableNumbers(const uint16_t* text, size_t units, ExchangeConfig* config);
// Forwardings in force at start, one per string:
//   "SERVED,FORWARDED-TO,PROCEDURE[,BASIC-SERVICE]"   e.g. "821,739,1" or "821,739,0,1"
// PROCEDURE 0 immediately, 1 busy, 2 no reply; BASIC-SERVICE decimal, default
// 0 (all services). They are appended to the configured forwardings.
// Returns the number of strings refused.
unsigned parseForwardings(const uint16_t* text, size_t units, ExchangeConfig* config);

// CONTROL_IOCTL_CONFIGURE: builds in *next the exchange that `request` asks
// for, starting from `live`'s configuration and forwardings and keeping its
// received log. `work` is scratch room. False, with *next meaningless, when
// the request is malformed; `live` is never changed.
bool buildConfigured(const SimulatedExchange* live, const ControlConfiguration* request,
                     ExchangeConfig* work, SimulatedExchange* next);

// Control device records, read from the exchange.
void fillReceivedLog(const SimulatedExchange* exchange, ControlReceivedLog* log);
void fillForwardingTable(const SimulatedExchange* exchange, ControlForwardingTable* table);
