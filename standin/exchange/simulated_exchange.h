// A simulated ISDN exchange: the network behind the device, kept as plain
// data so that the same code serves the kernel-mode stand-in driver, the
// in-process device of the tests and any demonstration.
//
// Freestanding: only <stdint.h> and <stddef.h>, no library call, no
// allocation, no static with a constructor, no clock and no threads. The
// caller owns the SimulatedExchange (a device extension, a test fixture),
// passes the time in milliseconds with every call and serialises the calls.
//
// Set forwarding (IOCTL_CF_SET, one ForwardingRequest)
//   The exchange decides the request and changes its table when the request
//   is submitted; only the answer travels back late. A driver that cancels a
//   pending answer therefore does not undo the change, as with a request that
//   has already reached the network. Answers are due:
//     - nowMs + config.delayMs        accepted or rejected by the network;
//     - nowMs + config.timeOutMs      the served user number is unreachable
//                                     (result RESULT_CODE_TIME_OUT, no change).
//   With config.failSetRequests set, every request that reaches the network
//   fails instead: nothing changes and its answer, due after delayMs, is
//   marked `failed` (result EXCHANGE_RESULT_LOST), for a driver to end the
//   request with an error status.
//   Activation (bit 7 clear) replaces every forwarding of that served user
//   number and procedure with one for all services (BASIC_SERVICE_ALL);
//   deactivation removes every forwarding of that number and procedure,
//   whatever its basic service or forwarded-to number. Both directions check
//   both numbers.
//
// Interrogation (IOCTL_CF_INTERROGATE, one InterrogationRecord)
//   There is one query per exchange, whatever handle a request comes
//   through. A request for a number other than the running query's starts a
//   new query, as does any request once the previous query has ended. The
//   query takes a snapshot of the forwardings in force when it starts. Then:
//     - before startedAt + delayMs (timeOutMs if unreachable): 0 bytes;
//     - unreachable: 1 byte (INTERROGATION_TIMED_OUT_BYTES), query ends;
//     - each further request: the next ForwardingEntry, FORWARDING_ENTRY_SIZE
//       bytes, the rest of the record zero;
//     - no entry left: EXCHANGE_FINISHED (the request fails), query ends.
//   A query left alone for more than config.queryIdleMs is forgotten, so a
//   caller that walked away mid-query does not hand the next one stale
//   entries (0 keeps queries forever).
//
// Buffers
//   Input shorter than the record: EXCHANGE_INVALID_PARAMETER. Output room
//   shorter than the record: EXCHANGE_BUFFER_TOO_SMALL. Longer buffers are
//   accepted; only the record's bytes are read or written. A null buffer is
//   an invalid parameter. Every submission, whatever its code, length or
//   bytes, is noted in the received log before it is judged.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "exchange_records.h"

// Result codes of rejected set-forwarding requests. Never 0 (success) and
// never RESULT_CODE_TIME_OUT, so each outcome can be told apart on screen.
constexpr uint16_t EXCHANGE_RESULT_INVALID_NUMBER = 0x3A01;    // empty, or not only digits
constexpr uint16_t EXCHANGE_RESULT_UNTERMINATED = 0x3A02;      // no terminator in its field
constexpr uint16_t EXCHANGE_RESULT_NOT_ACTIVE = 0x3A03;        // nothing to deactivate
constexpr uint16_t EXCHANGE_RESULT_TABLE_FULL = 0x3A04;        // no room for another forwarding
constexpr uint16_t EXCHANGE_RESULT_INVALID_PROCEDURE = 0x3A05; // procedure code 3
constexpr uint16_t EXCHANGE_RESULT_INVALID_CONTROL = 0x3A06;   // bits 2-6 of the control byte set
// What a failed answer carries: a driver writes it as for any answer, so
// that it would show if the failed request's buffer ever reached its caller.
constexpr uint16_t EXCHANGE_RESULT_LOST = 0x3A07;

// Defaults of exchangeDefaultConfig.
constexpr uint32_t EXCHANGE_DEFAULT_DELAY_MS = 300;
constexpr uint32_t EXCHANGE_DEFAULT_TIME_OUT_MS = 2000;
constexpr uint32_t EXCHANGE_DEFAULT_QUERY_IDLE_MS = 10000;
constexpr char EXCHANGE_DEFAULT_UNREACHABLE_NUMBER[] = "999";

// How a submission ends. A driver maps them, for instance:
//   COMPLETED         STATUS_SUCCESS, Information = bytesReturned
//   DUE               exchangeWriteResultCode, pend until dueAtMs, then
//                     STATUS_SUCCESS with Information = bytesReturned
//                     (the caller sees the buffer only once it completes);
//                     STATUS_UNSUCCESSFUL instead when `failed`
//   FINISHED          STATUS_NO_MORE_ENTRIES
//   BUFFER_TOO_SMALL  STATUS_BUFFER_TOO_SMALL
//   INVALID_PARAMETER STATUS_INVALID_PARAMETER
//   UNKNOWN_REQUEST   STATUS_INVALID_DEVICE_REQUEST
enum ExchangeStatus {
    EXCHANGE_COMPLETED,
    EXCHANGE_DUE,
    EXCHANGE_FINISHED,
    EXCHANGE_BUFFER_TOO_SMALL,
    EXCHANGE_INVALID_PARAMETER,
    EXCHANGE_UNKNOWN_REQUEST,
};

struct ExchangeAnswer {
    ExchangeStatus status;
    uint32_t bytesReturned; // COMPLETED and DUE
    uint16_t resultCode;    // DUE only
    uint64_t dueAtMs;       // DUE only; may equal the submission time (delay 0)
    bool failed;            // DUE only: the request ends with an error status
};

struct ExchangeConfig {
    uint32_t delayMs;         // network round trip of an answered request
    uint32_t timeOutMs;       // how long before an unreachable number is given up
    uint32_t queryIdleMs;     // 0: a query is never forgotten
    uint32_t failSetRequests; // not 0: every set-forwarding request fails, changing nothing
    unsigned unreachableCount;
    char unreachable[EXCHANGE_UNREACHABLE_CAPACITY][NUMBER_FIELD_SIZE];
    unsigned forwardingCount; // forwardings in force at start
    ExchangeForwarding forwardings[EXCHANGE_FORWARDING_CAPACITY];
};

struct ExchangeQuery {
    bool active;
    bool unreachable;
    char servedUserNumber[NUMBER_FIELD_SIZE];
    uint64_t startedAtMs;
    uint64_t lastAskedAtMs;
    unsigned next; // index of the next snapshot entry to hand out
    unsigned count;
    ExchangeForwarding snapshot[EXCHANGE_FORWARDING_CAPACITY];
};

struct SimulatedExchange {
    ExchangeConfig config;
    unsigned forwardingCount;
    ExchangeForwarding forwardings[EXCHANGE_FORWARDING_CAPACITY];
    ExchangeQuery query;
    uint32_t receivedTotal; // every submission ever; the log keeps the latest
    ExchangeReceived received[EXCHANGE_RECEIVED_CAPACITY];
};

// No forwardings, EXCHANGE_DEFAULT_DELAY_MS, EXCHANGE_DEFAULT_TIME_OUT_MS,
// EXCHANGE_DEFAULT_QUERY_IDLE_MS, and EXCHANGE_DEFAULT_UNREACHABLE_NUMBER as
// the one unreachable number, so a demonstration shows every outcome;
// set-forwarding requests do not fail.
void exchangeDefaultConfig(ExchangeConfig* config);

// Starts the exchange from config (copied). False, with the exchange still
// usable and holding the forwardings and unreachable numbers that were
// valid, when a count exceeds its capacity or a configured forwarding or
// unreachable number has a bad number or procedure.
bool exchangeInit(SimulatedExchange* exchange, const ExchangeConfig* config);

// One device-control request. buffer holds inLength bytes of input and has
// room for outCapacity bytes of output (the same memory, as with buffered
// transfer). Interrogation answers are written at once; a set-forwarding
// answer is EXCHANGE_DUE and the buffer is left alone until the caller
// writes it with exchangeWriteResultCode.
ExchangeAnswer exchangeSubmit(SimulatedExchange* exchange, uint32_t controlCode, uint8_t* buffer,
                              uint32_t inLength, uint32_t outCapacity, uint64_t nowMs);

// Writes a result code little-endian at RESULT_CODE_OFFSET; the buffer must
// hold at least two bytes from there (any ForwardingRequest does).
void exchangeWriteResultCode(uint8_t* buffer, uint16_t resultCode);

// The forwarding of number and procedure for basicService, or null.
const ExchangeForwarding* exchangeFindForwarding(const SimulatedExchange* exchange,
                                                 const char* servedUserNumber, uint8_t procedure,
                                                 uint8_t basicService);

// Number fields, shared with the driver's configuration code. A usable
// number is digits only, at least one, terminated within NUMBER_FIELD_SIZE.
// 0 when usable, else EXCHANGE_RESULT_INVALID_NUMBER or _UNTERMINATED.
uint16_t exchangeCheckNumber(const char* field);
// Copies number up to its terminator (at most NUMBER_FIELD_SIZE bytes) and
// zero-fills the rest of the field, so no byte of an older number lingers.
void exchangeStoreNumber(char* field, const char* number);
// Equal up to the terminator; bytes after it do not count.
bool exchangeSameNumber(const char* a, const char* b);

// Submissions kept in the received log: min(receivedTotal, capacity).
unsigned exchangeReceivedCount(const SimulatedExchange* exchange);
// age 0 is the latest submission; null beyond exchangeReceivedCount.
const ExchangeReceived* exchangeReceivedAt(const SimulatedExchange* exchange, unsigned age);
