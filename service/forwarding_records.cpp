// The records the driver exchanges, built and read byte by byte, and the
// texts that name result codes, conditions and basic services.
#include "forwarding_records.h"

#include "text_buffer.h"
#include "user_texts.h"

namespace {

void zeroBytes(uint8_t* bytes, unsigned size) {
    for (unsigned i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

// Copies a number with its terminator into a field that is already zero.
void putNumber(uint8_t* field, const char* number) {
    textCopy(reinterpret_cast<char*>(field), number, NUMBER_MAX_LENGTH);
}

// Takes a number out of its field, reading no further than the field's end
// even when the driver left no terminator in it.
void takeNumber(char* destination, const uint8_t* field) {
    textCopy(destination, reinterpret_cast<const char*>(field), NUMBER_FIELD_SIZE);
}

} // namespace

void forwardingRequestBuild(ForwardingRequest* request, ForwardingControl control,
                            const char* servedUserNumber, const char* forwardedToNumber) {
    zeroBytes(request->bytes, FORWARDING_REQUEST_SIZE);
    request->bytes[REQUEST_CONTROL_OFFSET] = control;
    putNumber(request->bytes + REQUEST_SERVED_USER_NUMBER_OFFSET, servedUserNumber);
    putNumber(request->bytes + REQUEST_FORWARDED_TO_NUMBER_OFFSET, forwardedToNumber);
}

uint16_t resultCodeRead(const ForwardingRequest* request) {
    unsigned low = request->bytes[RESULT_CODE_OFFSET];
    unsigned high = request->bytes[RESULT_CODE_OFFSET + 1];
    return static_cast<uint16_t>(low | (high << 8));
}

void outcomeTextForResult(uint16_t resultCode, char text[OUTCOME_TEXT_SIZE]) {
    if (resultCode == RESULT_CODE_SUCCESS) {
        textCopy(text, TEXT_OUTCOME_SUCCESSFUL, OUTCOME_TEXT_SIZE - 1);
        return;
    }
    if (resultCode == RESULT_CODE_TIME_OUT) {
        textCopy(text, TEXT_OUTCOME_TIME_OUT, OUTCOME_TEXT_SIZE - 1);
        return;
    }
    // "failed (%04x)": always four lower-case digits.
    static const char digits[] = "0123456789abcdef";
    char code[5];
    for (int i = 0; i < 4; ++i) {
        code[i] = digits[(resultCode >> (12 - 4 * i)) & 0xF];
    }
    code[4] = '\0';
    text[0] = '\0';
    textAppend(text, OUTCOME_TEXT_SIZE, TEXT_OUTCOME_FAILED_CODE_OPEN);
    textAppend(text, OUTCOME_TEXT_SIZE, code);
    textAppend(text, OUTCOME_TEXT_SIZE, TEXT_OUTCOME_FAILED_CODE_CLOSE);
}

void interrogationRecordBuild(InterrogationRecord* record, const char* servedUserNumber) {
    zeroBytes(record->bytes, INTERROGATION_RECORD_SIZE);
    putNumber(record->bytes + INTERROGATION_SERVED_USER_NUMBER_OFFSET, servedUserNumber);
}

void forwardingEntryRead(const InterrogationRecord* record, ForwardingEntry* entry) {
    entry->procedure = record->bytes[ENTRY_PROCEDURE_OFFSET];
    entry->basicService = record->bytes[ENTRY_BASIC_SERVICE_OFFSET];
    takeNumber(entry->servedUserNumber, record->bytes + ENTRY_SERVED_USER_NUMBER_OFFSET);
    takeNumber(entry->forwardedToNumber, record->bytes + ENTRY_FORWARDED_TO_NUMBER_OFFSET);
}

const char* procedureText(uint8_t procedure) {
    switch (procedure) {
    case PROCEDURE_IMMEDIATELY:
        return TEXT_PROCEDURE_IMMEDIATELY;
    case PROCEDURE_BUSY:
        return TEXT_PROCEDURE_BUSY;
    default:
        return TEXT_PROCEDURE_NO_REPLY;
    }
}

const char* basicServiceText(uint8_t basicService) {
    switch (basicService) {
    case BASIC_SERVICE_SPEECH:
        return TEXT_SERVICE_SPEECH;
    case BASIC_SERVICE_DATA:
        return TEXT_SERVICE_DATA;
    case BASIC_SERVICE_AUDIO_3_1KHZ:
        return TEXT_SERVICE_AUDIO_3_1KHZ;
    case BASIC_SERVICE_TELEPHONY_3_1KHZ:
        return TEXT_SERVICE_TELEPHONY_3_1KHZ;
    case BASIC_SERVICE_TELEPHONY_7KHZ:
        return TEXT_SERVICE_TELEPHONY_7KHZ;
    default:
        return TEXT_SERVICE_ALL;
    }
}
