// The simulated exchange: set-forwarding decided on submission, queries walked
// over a snapshot, malformed buffers refused, every submission logged.
#include "simulated_exchange.h"

// No library calls: this file is also built into a kernel-mode driver.
namespace {

void zeroBytes(void* target, size_t size) {
    uint8_t* bytes = static_cast<uint8_t*>(target);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

void copyBytes(void* target, const void* source, size_t size) {
    uint8_t* to = static_cast<uint8_t*>(target);
    const uint8_t* from = static_cast<const uint8_t*>(source);
    for (size_t i = 0; i < size; ++i) {
        to[i] = from[i];
    }
}

uint64_t later(uint64_t nowMs, uint32_t afterMs) {
    uint64_t due = nowMs + afterMs;
    return due < nowMs ? UINT64_MAX : due; // a clock near its end must not wrap to "due at once"
}

bool isUnreachable(const SimulatedExchange* exchange, const char* number) {
    for (unsigned i = 0; i < exchange->config.unreachableCount; ++i) {
        if (exchangeSameNumber(exchange->config.unreachable[i], number)) {
            return true;
        }
    }
    return false;
}

void removeForwardingAt(SimulatedExchange* exchange, unsigned index) {
    for (unsigned i = index + 1; i < exchange->forwardingCount; ++i) {
        copyBytes(&exchange->forwardings[i - 1], &exchange->forwardings[i],
                  sizeof(ExchangeForwarding));
    }
    --exchange->forwardingCount;
}

// Removes every forwarding of number and procedure; returns how many went.
unsigned removeForwardings(SimulatedExchange* exchange, const char* number, uint8_t procedure) {
    unsigned removed = 0;
    unsigned i = 0;
    while (i < exchange->forwardingCount) {
        const ExchangeForwarding& f = exchange->forwardings[i];
        if (f.procedure == procedure && exchangeSameNumber(f.servedUserNumber, number)) {
            removeForwardingAt(exchange, i);
            ++removed;
        } else {
            ++i;
        }
    }
    return removed;
}

// Adds a forwarding of checked numbers; the caller has made room.
void appendForwarding(SimulatedExchange* exchange, uint8_t procedure, uint8_t basicService,
                      const char* served, const char* forwardedTo) {
    ExchangeForwarding& added = exchange->forwardings[exchange->forwardingCount++];
    added.procedure = procedure;
    added.basicService = basicService;
    exchangeStoreNumber(added.servedUserNumber, served);
    exchangeStoreNumber(added.forwardedToNumber, forwardedTo);
}

void noteReceived(SimulatedExchange* exchange, uint32_t controlCode, const uint8_t* buffer,
                  uint32_t inLength, uint32_t outCapacity, uint64_t nowMs) {
    ExchangeReceived& slot =
        exchange->received[exchange->receivedTotal % EXCHANGE_RECEIVED_CAPACITY];
    zeroBytes(&slot, sizeof slot);
    slot.controlCode = controlCode;
    slot.inLength = inLength;
    slot.outCapacity = outCapacity;
    slot.atMs = nowMs;
    if (buffer != nullptr) {
        copyBytes(slot.bytes, buffer,
                  inLength < EXCHANGE_RECEIVED_BYTES ? inLength : EXCHANGE_RECEIVED_BYTES);
    }
    ++exchange->receivedTotal;
}

ExchangeAnswer answerWith(ExchangeStatus status) {
    ExchangeAnswer answer;
    answer.status = status;
    answer.bytesReturned = 0;
    answer.resultCode = 0;
    answer.dueAtMs = 0;
    answer.failed = false;
    return answer;
}

ExchangeAnswer due(uint16_t resultCode, uint64_t dueAtMs) {
    ExchangeAnswer answer = answerWith(EXCHANGE_DUE);
    answer.bytesReturned = FORWARDING_REQUEST_SIZE;
    answer.resultCode = resultCode;
    answer.dueAtMs = dueAtMs;
    return answer;
}

ExchangeAnswer decideSet(SimulatedExchange* exchange, const uint8_t* buffer, uint32_t inLength,
                         uint32_t outCapacity, uint64_t nowMs) {
    if (buffer == nullptr || inLength < FORWARDING_REQUEST_SIZE) {
        return answerWith(EXCHANGE_INVALID_PARAMETER);
    }
    if (outCapacity < FORWARDING_REQUEST_SIZE) {
        return answerWith(EXCHANGE_BUFFER_TOO_SMALL);
    }
    const uint64_t answeredAt = later(nowMs, exchange->config.delayMs);
    if (exchange->config.failSetRequests != 0) {
        ExchangeAnswer lost = due(EXCHANGE_RESULT_LOST, answeredAt);
        lost.failed = true;
        return lost;
    }
    const uint8_t control = buffer[REQUEST_CONTROL_OFFSET];
    const uint8_t procedure = control & FORWARDING_PROCEDURE_MASK;
    const bool deactivate = (control & FORWARDING_DIRECTION_DEACTIVATE) != 0;
    if ((control & ~(FORWARDING_PROCEDURE_MASK | FORWARDING_DIRECTION_DEACTIVATE)) != 0) {
        return due(EXCHANGE_RESULT_INVALID_CONTROL, answeredAt);
    }
    if (procedure > PROCEDURE_NO_REPLY) {
        return due(EXCHANGE_RESULT_INVALID_PROCEDURE, answeredAt);
    }
    const char* served = reinterpret_cast<const char*>(buffer + REQUEST_SERVED_USER_NUMBER_OFFSET);
    const char* forwardedTo =
        reinterpret_cast<const char*>(buffer + REQUEST_FORWARDED_TO_NUMBER_OFFSET);
    uint16_t fault = exchangeCheckNumber(served);
    if (fault == 0) {
        fault = exchangeCheckNumber(forwardedTo);
    }
    if (fault != 0) {
        return due(fault, answeredAt);
    }
    if (isUnreachable(exchange, served)) {
        return due(RESULT_CODE_TIME_OUT, later(nowMs, exchange->config.timeOutMs));
    }
    const unsigned removed = removeForwardings(exchange, served, procedure);
    if (deactivate) {
        return due(removed == 0 ? EXCHANGE_RESULT_NOT_ACTIVE : RESULT_CODE_SUCCESS, answeredAt);
    }
    // Full only when nothing was replaced: a removal above made room.
    if (exchange->forwardingCount == EXCHANGE_FORWARDING_CAPACITY) {
        return due(EXCHANGE_RESULT_TABLE_FULL, answeredAt);
    }
    appendForwarding(exchange, procedure, BASIC_SERVICE_ALL, served, forwardedTo);
    return due(RESULT_CODE_SUCCESS, answeredAt);
}

void startQuery(SimulatedExchange* exchange, const char* number, uint64_t nowMs) {
    ExchangeQuery& query = exchange->query;
    query.active = true;
    query.unreachable = isUnreachable(exchange, number);
    exchangeStoreNumber(query.servedUserNumber, number);
    query.startedAtMs = nowMs;
    query.next = 0;
    query.count = 0;
    if (query.unreachable) {
        return;
    }
    for (unsigned i = 0; i < exchange->forwardingCount; ++i) {
        const ExchangeForwarding& f = exchange->forwardings[i];
        if (exchangeSameNumber(f.servedUserNumber, number)) {
            copyBytes(&query.snapshot[query.count++], &f, sizeof f);
        }
    }
}

bool queryForgotten(const SimulatedExchange* exchange, uint64_t nowMs) {
    const uint32_t idle = exchange->config.queryIdleMs;
    const uint64_t last = exchange->query.lastAskedAtMs;
    return idle != 0 && nowMs > last && nowMs - last > idle;
}

ExchangeAnswer answerInterrogate(SimulatedExchange* exchange, uint8_t* buffer, uint32_t inLength,
                                 uint32_t outCapacity, uint64_t nowMs) {
    if (buffer == nullptr || inLength < INTERROGATION_RECORD_SIZE) {
        return answerWith(EXCHANGE_INVALID_PARAMETER);
    }
    if (outCapacity < INTERROGATION_RECORD_SIZE) {
        return answerWith(EXCHANGE_BUFFER_TOO_SMALL);
    }
    const char* number =
        reinterpret_cast<const char*>(buffer + INTERROGATION_SERVED_USER_NUMBER_OFFSET);
    if (exchangeCheckNumber(number) != 0) {
        return answerWith(EXCHANGE_INVALID_PARAMETER); // the running query is left as it was
    }
    ExchangeQuery& query = exchange->query;
    if (query.active && queryForgotten(exchange, nowMs)) {
        query.active = false;
    }
    if (!query.active || !exchangeSameNumber(query.servedUserNumber, number)) {
        startQuery(exchange, number, nowMs);
    }
    query.lastAskedAtMs = nowMs;

    const uint32_t wait = query.unreachable ? exchange->config.timeOutMs : exchange->config.delayMs;
    ExchangeAnswer answer = answerWith(EXCHANGE_COMPLETED);
    if (nowMs < later(query.startedAtMs, wait)) {
        answer.bytesReturned = INTERROGATION_NOTHING_YET_BYTES;
        return answer;
    }
    if (query.unreachable) {
        query.active = false;
        answer.bytesReturned = INTERROGATION_TIMED_OUT_BYTES;
        return answer;
    }
    if (query.next == query.count) {
        query.active = false;
        return answerWith(EXCHANGE_FINISHED);
    }
    const ExchangeForwarding& entry = query.snapshot[query.next++];
    zeroBytes(buffer, INTERROGATION_RECORD_SIZE);
    buffer[ENTRY_PROCEDURE_OFFSET] = entry.procedure;
    buffer[ENTRY_BASIC_SERVICE_OFFSET] = entry.basicService;
    exchangeStoreNumber(reinterpret_cast<char*>(buffer + ENTRY_SERVED_USER_NUMBER_OFFSET),
                        entry.servedUserNumber);
    exchangeStoreNumber(reinterpret_cast<char*>(buffer + ENTRY_FORWARDED_TO_NUMBER_OFFSET),
                        entry.forwardedToNumber);
    answer.bytesReturned = FORWARDING_ENTRY_SIZE;
    return answer;
}

} // namespace

uint16_t exchangeCheckNumber(const char* field) {
    unsigned length = 0;
    while (length < NUMBER_FIELD_SIZE && field[length] != 0) {
        ++length;
    }
    if (length == NUMBER_FIELD_SIZE) {
        return EXCHANGE_RESULT_UNTERMINATED;
    }
    if (length == 0) {
        return EXCHANGE_RESULT_INVALID_NUMBER;
    }
    for (unsigned i = 0; i < length; ++i) {
        if (field[i] < '0' || field[i] > '9') {
            return EXCHANGE_RESULT_INVALID_NUMBER;
        }
    }
    return 0;
}

void exchangeStoreNumber(char* field, const char* number) {
    unsigned i = 0;
    for (; i < NUMBER_FIELD_SIZE && number[i] != 0; ++i) {
        field[i] = number[i];
    }
    for (; i < NUMBER_FIELD_SIZE; ++i) {
        field[i] = 0;
    }
}

bool exchangeSameNumber(const char* a, const char* b) {
    for (unsigned i = 0; i < NUMBER_FIELD_SIZE; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
        if (a[i] == 0) {
            return true;
        }
    }
    return true;
}

void exchangeDefaultConfig(ExchangeConfig* config) {
    zeroBytes(config, sizeof *config);
    config->delayMs = EXCHANGE_DEFAULT_DELAY_MS;
    config->timeOutMs = EXCHANGE_DEFAULT_TIME_OUT_MS;
    config->queryIdleMs = EXCHANGE_DEFAULT_QUERY_IDLE_MS;
    config->unreachableCount = 1;
    exchangeStoreNumber(config->unreachable[0], EXCHANGE_DEFAULT_UNREACHABLE_NUMBER);
}

bool exchangeInit(SimulatedExchange* exchange, const ExchangeConfig* config) {
    zeroBytes(exchange, sizeof *exchange);
    copyBytes(&exchange->config, config, sizeof *config);
    bool clean = true;
    ExchangeConfig& own = exchange->config;
    if (own.unreachableCount > EXCHANGE_UNREACHABLE_CAPACITY) {
        own.unreachableCount = EXCHANGE_UNREACHABLE_CAPACITY;
        clean = false;
    }
    if (own.forwardingCount > EXCHANGE_FORWARDING_CAPACITY) {
        own.forwardingCount = EXCHANGE_FORWARDING_CAPACITY;
        clean = false;
    }
    unsigned usable = 0;
    for (unsigned i = 0; i < own.unreachableCount; ++i) {
        if (exchangeCheckNumber(own.unreachable[i]) != 0) {
            clean = false;
            continue;
        }
        exchangeStoreNumber(own.unreachable[usable++], own.unreachable[i]);
    }
    own.unreachableCount = usable;
    for (unsigned i = 0; i < own.forwardingCount; ++i) {
        const ExchangeForwarding& f = own.forwardings[i];
        if (f.procedure > PROCEDURE_NO_REPLY || exchangeCheckNumber(f.servedUserNumber) != 0 ||
            exchangeCheckNumber(f.forwardedToNumber) != 0) {
            clean = false;
            continue;
        }
        appendForwarding(exchange, f.procedure, f.basicService, f.servedUserNumber,
                         f.forwardedToNumber);
    }
    return clean;
}

ExchangeAnswer exchangeSubmit(SimulatedExchange* exchange, uint32_t controlCode, uint8_t* buffer,
                              uint32_t inLength, uint32_t outCapacity, uint64_t nowMs) {
    noteReceived(exchange, controlCode, buffer, inLength, outCapacity, nowMs);
    if (controlCode == IOCTL_CF_SET) {
        return decideSet(exchange, buffer, inLength, outCapacity, nowMs);
    }
    if (controlCode == IOCTL_CF_INTERROGATE) {
        return answerInterrogate(exchange, buffer, inLength, outCapacity, nowMs);
    }
    return answerWith(EXCHANGE_UNKNOWN_REQUEST);
}

void exchangeWriteResultCode(uint8_t* buffer, uint16_t resultCode) {
    buffer[RESULT_CODE_OFFSET] = static_cast<uint8_t>(resultCode & 0xFF);
    buffer[RESULT_CODE_OFFSET + 1] = static_cast<uint8_t>(resultCode >> 8);
}

const ExchangeForwarding* exchangeFindForwarding(const SimulatedExchange* exchange,
                                                 const char* servedUserNumber, uint8_t procedure,
                                                 uint8_t basicService) {
    for (unsigned i = 0; i < exchange->forwardingCount; ++i) {
        const ExchangeForwarding& f = exchange->forwardings[i];
        if (f.procedure == procedure && f.basicService == basicService &&
            exchangeSameNumber(f.servedUserNumber, servedUserNumber)) {
            return &f;
        }
    }
    return nullptr;
}

unsigned exchangeReceivedCount(const SimulatedExchange* exchange) {
    return exchange->receivedTotal < EXCHANGE_RECEIVED_CAPACITY ? exchange->receivedTotal
                                                                : EXCHANGE_RECEIVED_CAPACITY;
}

const ExchangeReceived* exchangeReceivedAt(const SimulatedExchange* exchange, unsigned age) {
    if (age >= exchangeReceivedCount(exchange)) {
        return nullptr;
    }
    return &exchange->received[(exchange->receivedTotal - 1 - age) % EXCHANGE_RECEIVED_CAPACITY];
}
