// The records exchanged with the driver and the tables that turn the
// driver's codes into the words shown to the user.
#pragma once

#include "record_layout.h"

// One byte for the run: procedure code in bits 0-1, direction in bit 7.
typedef uint8_t ForwardingControl;

struct ForwardingRequest {
    uint8_t bytes[FORWARDING_REQUEST_SIZE];
};

struct InterrogationRecord {
    uint8_t bytes[INTERROGATION_RECORD_SIZE];
};

// One forwarding as the driver reported it. The numbers are copied out of
// their 26-byte fields and always terminated here, even when the driver left
// a field without its terminator (then the whole field is taken).
struct ForwardingEntry {
    uint8_t procedure;
    uint8_t basicService;
    char servedUserNumber[NUMBER_FIELD_SIZE + 1];
    char forwardedToNumber[NUMBER_FIELD_SIZE + 1];
};

// Outcome text of a set-forwarding request, at most "failed (xxxx)".
constexpr unsigned OUTCOME_TEXT_SIZE = 32;

// Zero-fills the request, then puts the control byte and both numbers (each
// cut at NUMBER_MAX_LENGTH characters) with their terminators in place.
void forwardingRequestBuild(ForwardingRequest* request, ForwardingControl control,
                            const char* servedUserNumber, const char* forwardedToNumber);

// Bytes 0-1, little-endian, whatever the driver did or did not write.
uint16_t resultCodeRead(const ForwardingRequest* request);

// "successful", "time out" or "failed (%04x)" for a completed request.
void outcomeTextForResult(uint16_t resultCode, char text[OUTCOME_TEXT_SIZE]);

// Zero-fills the record and puts the served user number (cut at
// NUMBER_MAX_LENGTH characters) with its terminator at offset 0.
void interrogationRecordBuild(InterrogationRecord* record, const char* servedUserNumber);

// Reads the entry from the record's current contents.
void forwardingEntryRead(const InterrogationRecord* record, ForwardingEntry* entry);

const char* procedureText(uint8_t procedure);
const char* basicServiceText(uint8_t basicService);
