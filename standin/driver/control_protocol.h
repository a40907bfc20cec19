// Test-only control device of the stand-in driver: lets a test reset and
// configure the simulated network and read back what the program's device
// received. It sits on its own device, \\.\CAPI201Control, with its own
// device type, so the program never reaches it by mistake.
//
// Shared by the 32- and 64-bit driver and 32- or 64-bit user-mode test
// programs: fixed-width fields, no pointers, every offset pinned below. The
// forwarding and received records, their capacities and the received bytes
// are the exchange's own (exchange_records.h), handed out as they are. All
// requests use buffered transfer and complete at once.
//
//   CONTROL_IOCTL_RESET            in: nothing, out: nothing.
//       Back to the driver's start configuration (registry values or
//       defaults): forwardings, delays, unreachable numbers, set-forwarding
//       requests answered rather than failed, interrogations answered,
//       cancels honoured at once. Clears the running query, the
//       received log and the counters (openHandles stays: it counts what is
//       open now). Pending requests are cancelled (STATUS_CANCELLED).
//   CONTROL_IOCTL_CONFIGURE        in: ControlConfiguration, out: nothing.
//       Changes the fields named in `fields`; forwardings listed are added to
//       those in force (one of the same number, procedure and basic service
//       is replaced). With failSetRequests not 0, every set-forwarding
//       request from then on changes nothing and, once its network delay has
//       passed, ends with STATUS_UNSUCCESSFUL (Information 53, its buffer
//       written as for an answer: Windows does not copy it back after an
//       error).
//       With pendInterrogations not 0, an interrogation the exchange would
//       answer is not answered but left pending (the exchange still takes it
//       as asked: its log shows it and the query moves on) until a cancel,
//       a reset, a close of its handle or unload ends it with
//       STATUS_CANCELLED; turning it off leaves those pending where they
//       are. cancelDelayMs: a cancel (CancelIo, say) of any pending request
//       ends it that many ms later, STATUS_CANCELLED with 0 bytes; 0 at
//       once. A reset, a close or unload ends requests at once, whether or
//       not their cancel waits.
//       All or nothing: a bad number, procedure or count rejects the request
//       with STATUS_INVALID_PARAMETER and changes nothing. Keeps the received
//       log; ends the running query.
//   CONTROL_IOCTL_READ_LOG         out: ControlReceivedLog.
//       The latest requests that reached the program's device, malformed
//       ones included, oldest first.
//   CONTROL_IOCTL_STATISTICS       out: ControlStatistics.
//   CONTROL_IOCTL_READ_FORWARDINGS out: ControlForwardingTable, the
//       forwardings in force now.
// A buffer shorter than the record is refused with STATUS_BUFFER_TOO_SMALL
// (output) or STATUS_INVALID_PARAMETER (input).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "record_layout.h"
// By its path: the test programs that speak this protocol see only this
// folder and the wire header.
#include "../exchange/exchange_records.h"

// The control device's name, from the program's device name, written once
// as a macro so that the driver's wide names concatenate with it.
#define CFS_CONTROL_DEVICE_NAME CFS_DEVICE_NAME "Control"
constexpr char CONTROL_DEVICE_NAME[] = CFS_CONTROL_DEVICE_NAME; // \\.\CAPI201Control

// Device type 0x8002, functions 0x900-0x904, buffered, any access.
constexpr uint32_t CONTROL_DEVICE_TYPE = 0x8002;
// Every request of the control device is buffered and open to any access.
constexpr uint32_t controlRequest(uint32_t function) {
    return wireControlCode(CONTROL_DEVICE_TYPE, function, WIRE_METHOD_BUFFERED, WIRE_ANY_ACCESS);
}
constexpr uint32_t CONTROL_IOCTL_RESET = controlRequest(0x900);
constexpr uint32_t CONTROL_IOCTL_CONFIGURE = controlRequest(0x901);
constexpr uint32_t CONTROL_IOCTL_READ_LOG = controlRequest(0x902);
constexpr uint32_t CONTROL_IOCTL_STATISTICS = controlRequest(0x903);
constexpr uint32_t CONTROL_IOCTL_READ_FORWARDINGS = controlRequest(0x904);
static_assert(CONTROL_IOCTL_RESET == 0x80022400, "CONTROL_IOCTL_RESET");
static_assert(CONTROL_IOCTL_CONFIGURE == 0x80022404, "CONTROL_IOCTL_CONFIGURE");
static_assert(CONTROL_IOCTL_READ_LOG == 0x80022408, "CONTROL_IOCTL_READ_LOG");
static_assert(CONTROL_IOCTL_STATISTICS == 0x8002240C, "CONTROL_IOCTL_STATISTICS");
static_assert(CONTROL_IOCTL_READ_FORWARDINGS == 0x80022410, "CONTROL_IOCTL_READ_FORWARDINGS");

// The protocol's names for the exchange's records and capacities.
using ControlForwarding = ExchangeForwarding;
using ControlReceived = ExchangeReceived; // one request as it reached the program's device
constexpr uint32_t CONTROL_UNREACHABLE_CAPACITY = EXCHANGE_UNREACHABLE_CAPACITY;
constexpr uint32_t CONTROL_FORWARDING_CAPACITY = EXCHANGE_FORWARDING_CAPACITY;
constexpr uint32_t CONTROL_LOG_CAPACITY = EXCHANGE_RECEIVED_CAPACITY;
constexpr uint32_t CONTROL_LOG_BYTES = EXCHANGE_RECEIVED_BYTES;

// ControlConfiguration.fields
constexpr uint32_t CONTROL_SET_DELAY = 1u << 0;
constexpr uint32_t CONTROL_SET_TIME_OUT = 1u << 1;
constexpr uint32_t CONTROL_SET_QUERY_IDLE = 1u << 2;
constexpr uint32_t CONTROL_SET_UNREACHABLE = 1u << 3; // replaces the list
constexpr uint32_t CONTROL_ADD_FORWARDINGS = 1u << 4;
constexpr uint32_t CONTROL_SET_FAIL_SET_REQUESTS = 1u << 5;
constexpr uint32_t CONTROL_SET_PEND_INTERROGATIONS = 1u << 6;
constexpr uint32_t CONTROL_SET_CANCEL_DELAY = 1u << 7;

struct ControlConfiguration {
    uint32_t fields;      // CONTROL_SET_* / CONTROL_ADD_FORWARDINGS
    uint32_t delayMs;     // network round trip of an answered request
    uint32_t timeOutMs;   // until an unreachable number's request times out
    uint32_t queryIdleMs; // an interrogation left alone longer is forgotten; 0 never
    uint32_t unreachableCount;
    uint32_t forwardingCount;
    char unreachable[CONTROL_UNREACHABLE_CAPACITY][NUMBER_FIELD_SIZE];
    ControlForwarding forwardings[CONTROL_FORWARDING_CAPACITY];
    uint32_t failSetRequests;    // not 0: set-forwarding requests fail when due
    uint32_t pendInterrogations; // not 0: interrogations pend until cancelled
    uint32_t cancelDelayMs;      // a cancel is honoured this much later; 0 at once
};

// The latest requests, oldest first; bytes holds the first min(inLength, 60)
// input bytes, the rest zero; atMs is the driver's clock.
struct ControlReceivedLog {
    uint32_t total; // requests received since start or reset
    uint32_t count; // entries below, oldest first
    ControlReceived entries[CONTROL_LOG_CAPACITY];
};

// Counts since the driver started or the last reset.
struct ControlStatistics {
    uint32_t openHandles; // handles open on \\.\CAPI201 now
    uint32_t totalOpens;
    uint32_t totalCloses;
    uint32_t setPended;    // set-forwarding requests left pending
    uint32_t setCompleted; // ... completed at their due time
    uint32_t setCancelled; // ... cancelled (CancelIo, process exit, reset, unload)
    uint32_t setPendingNow;
    uint32_t interrogations;  // interrogation requests answered (any answer)
    uint32_t rejected;        // requests refused (size, code, contents)
    uint32_t forwardingCount; // forwardings in force now
    uint32_t queriesHeld;     // interrogations left pending (pendInterrogations)
    uint32_t queriesHeldNow;
};

struct ControlForwardingTable {
    uint32_t count;
    ControlForwarding entries[CONTROL_FORWARDING_CAPACITY];
};

// The same bytes on i686 and x86_64.
static_assert(offsetof(ControlConfiguration, unreachable) == 24, "configuration layout");
static_assert(offsetof(ControlConfiguration, forwardings) == 128, "configuration layout");
static_assert(offsetof(ControlConfiguration, failSetRequests) == 1856, "configuration layout");
static_assert(offsetof(ControlConfiguration, pendInterrogations) == 1860, "configuration layout");
static_assert(offsetof(ControlConfiguration, cancelDelayMs) == 1864, "configuration layout");
static_assert(sizeof(ControlConfiguration) == 1868, "configuration layout");
static_assert(offsetof(ControlReceivedLog, entries) == 8, "log layout");
static_assert(sizeof(ControlReceivedLog) == 8 + 16 * 88, "log layout");
static_assert(offsetof(ControlStatistics, queriesHeld) == 40, "statistics layout");
static_assert(sizeof(ControlStatistics) == 48, "statistics layout");
static_assert(sizeof(ControlForwardingTable) == 4 + 32 * 54, "forwarding table layout");
