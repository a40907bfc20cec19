// The records and capacities of the simulated exchange that its users see as
// they are: the stand-in driver's control device hands them to test programs
// unchanged (control_protocol.h), so they are defined here once, with fixed
// widths, no pointers and explicit padding: the same bytes on i686 and x86_64.
//
// Freestanding like the exchange: compiled into the kernel-mode driver and
// into 32- and 64-bit user-mode test programs.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "record_layout.h"

constexpr uint32_t EXCHANGE_FORWARDING_CAPACITY = 32;
constexpr uint32_t EXCHANGE_UNREACHABLE_CAPACITY = 4;
constexpr uint32_t EXCHANGE_RECEIVED_CAPACITY = 16;
// Enough for the longest record either request carries.
constexpr uint32_t EXCHANGE_RECEIVED_BYTES = INTERROGATION_RECORD_SIZE;

// One forwarding. Numbers are zero-terminated within their field.
struct ExchangeForwarding {
    uint8_t procedure;    // PROCEDURE_IMMEDIATELY, _BUSY or _NO_REPLY
    uint8_t basicService; // BASIC_SERVICE_*
    char servedUserNumber[NUMBER_FIELD_SIZE];
    char forwardedToNumber[NUMBER_FIELD_SIZE];
};

// One submission as it arrived: the first bytes of its input, for tests that
// check what the program really sent.
struct ExchangeReceived {
    uint32_t controlCode;
    uint32_t inLength;    // input length given by the caller
    uint32_t outCapacity; // output length given by the caller
    uint32_t reserved;
    uint64_t atMs;                          // the caller's clock, milliseconds
    uint8_t bytes[EXCHANGE_RECEIVED_BYTES]; // min(inLength, size) copied, rest zero
    uint8_t padding[4];
};

static_assert(sizeof(ExchangeForwarding) == 54, "forwarding layout");
static_assert(offsetof(ExchangeReceived, atMs) == 16, "received layout");
static_assert(offsetof(ExchangeReceived, bytes) == 24, "received layout");
static_assert(sizeof(ExchangeReceived) == 88, "received layout");
