// Test-only control device of the stand-in driver: lets a test reset and
// configure the simulated network and read back what the program's device
// received. It sits on its own device, \\.\CAPI201Control, with its own
// device type, so the program never reaches it by mistake.
//
// Shared by the 64-bit driver and 32- or 64-bit user-mode test programs:
// fixed-width fields, no pointers, every offset pinned below. All requests
// use buffered transfer and complete at once.
//
//   CONTROL_IOCTL_RESET            in: nothing, out: nothing.
//       Back to the driver's start configuration (registry values or
//       defaults): forwardings, delays, unreachable numbers. Clears the
//       running query, the received log and the counters (openHandles stays:
//       it counts what is open now). Pending set-forwarding requests are
//       cancelled (STATUS_CANCELLED).
//   CONTROL_IOCTL_CONFIGURE        in: ControlConfiguration, out: nothing.
//       Changes the fields named in `fields`; forwardings listed are added to
//       those in force (one of the same number, procedure and basic service
//       is replaced).
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

constexpr char CONTROL_DEVICE_NAME[] = "CAPI201Control"; // \\.\CAPI201Control

// Device type 0x8002, functions 0x900-0x904, buffered, any access.
constexpr uint32_t CONTROL_IOCTL_RESET = 0x80022400;
constexpr uint32_t CONTROL_IOCTL_CONFIGURE = 0x80022404;
constexpr uint32_t CONTROL_IOCTL_READ_LOG = 0x80022408;
constexpr uint32_t CONTROL_IOCTL_STATISTICS = 0x8002240C;
constexpr uint32_t CONTROL_IOCTL_READ_FORWARDINGS = 0x80022410;

constexpr uint32_t CONTROL_UNREACHABLE_CAPACITY = 4;
constexpr uint32_t CONTROL_FORWARDING_CAPACITY = 32;
constexpr uint32_t CONTROL_LOG_CAPACITY = 16;
constexpr uint32_t CONTROL_LOG_BYTES = INTERROGATION_RECORD_SIZE; // longest record

// ControlConfiguration.fields
constexpr uint32_t CONTROL_SET_DELAY = 1u << 0;
constexpr uint32_t CONTROL_SET_TIME_OUT = 1u << 1;
constexpr uint32_t CONTROL_SET_QUERY_IDLE = 1u << 2;
constexpr uint32_t CONTROL_SET_UNREACHABLE = 1u << 3; // replaces the list
constexpr uint32_t CONTROL_ADD_FORWARDINGS = 1u << 4;

// One forwarding; numbers zero-terminated within their field.
struct ControlForwarding {
    uint8_t procedure;    // PROCEDURE_IMMEDIATELY, _BUSY or _NO_REPLY
    uint8_t basicService; // BASIC_SERVICE_*
    char servedUserNumber[NUMBER_FIELD_SIZE];
    char forwardedToNumber[NUMBER_FIELD_SIZE];
};

struct ControlConfiguration {
    uint32_t fields;      // CONTROL_SET_* / CONTROL_ADD_FORWARDINGS
    uint32_t delayMs;     // network round trip of an answered request
    uint32_t timeOutMs;   // until an unreachable number's request times out
    uint32_t queryIdleMs; // an interrogation left alone longer is forgotten; 0 never
    uint32_t unreachableCount;
    uint32_t forwardingCount;
    char unreachable[CONTROL_UNREACHABLE_CAPACITY][NUMBER_FIELD_SIZE];
    ControlForwarding forwardings[CONTROL_FORWARDING_CAPACITY];
};

// One request as it reached the program's device.
struct ControlReceived {
    uint32_t controlCode;
    uint32_t inLength;    // input length given by the caller
    uint32_t outCapacity; // output length given by the caller
    uint32_t reserved;
    uint64_t atMs;                    // driver clock, milliseconds
    uint8_t bytes[CONTROL_LOG_BYTES]; // first min(inLength, 60) input bytes, rest zero
    uint8_t padding[4];
};

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
};

struct ControlForwardingTable {
    uint32_t count;
    ControlForwarding entries[CONTROL_FORWARDING_CAPACITY];
};

// The same bytes on i686 and x86_64.
static_assert(sizeof(ControlForwarding) == 54, "forwarding layout");
static_assert(offsetof(ControlConfiguration, unreachable) == 24, "configuration layout");
static_assert(offsetof(ControlConfiguration, forwardings) == 128, "configuration layout");
static_assert(sizeof(ControlConfiguration) == 1856, "configuration layout");
static_assert(offsetof(ControlReceived, atMs) == 16, "received layout");
static_assert(offsetof(ControlReceived, bytes) == 24, "received layout");
static_assert(sizeof(ControlReceived) == 88, "received layout");
static_assert(offsetof(ControlReceivedLog, entries) == 8, "log layout");
static_assert(sizeof(ControlReceivedLog) == 8 + 16 * 88, "log layout");
static_assert(sizeof(ControlStatistics) == 40, "statistics layout");
static_assert(sizeof(ControlForwardingTable) == 4 + 32 * 54, "forwarding table layout");
