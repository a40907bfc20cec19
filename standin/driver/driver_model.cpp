// The stand-in driver's decisions without its kernel calls: pending requests,
// the start configuration's registry text, configure requests, records.
#include "driver_model.h"

namespace {

bool isDigit(unsigned c) {
    return c >= '0' && c <= '9';
}

bool earlier(const PendingAnswer& a, const PendingAnswer& b) {
    return a.dueAtMs != b.dueAtMs ? a.dueAtMs < b.dueAtMs : a.sequence < b.sequence;
}

bool waiting(const PendingAnswer& slot) {
    return slot.request != nullptr && !slot.cancelling;
}

// One string of a registry value, [at, end).
struct Cursor {
    const uint16_t* at;
    const uint16_t* end;
};

// A number of 1 to NUMBER_MAX_LENGTH digits up to the next comma or the end.
bool readNumber(Cursor& cursor, char* field) {
    char text[NUMBER_FIELD_SIZE] = {};
    unsigned length = 0;
    while (cursor.at < cursor.end && *cursor.at != ',') {
        if (!isDigit(*cursor.at) || length == NUMBER_MAX_LENGTH) {
            return false;
        }
        text[length++] = static_cast<char>(*cursor.at++);
    }
    if (length == 0) {
        return false;
    }
    exchangeStoreNumber(field, text);
    return true;
}

bool readSmall(Cursor& cursor, unsigned largest, uint8_t* value) {
    unsigned result = 0;
    unsigned digits = 0;
    while (cursor.at < cursor.end && *cursor.at != ',') {
        if (!isDigit(*cursor.at) || digits == 3) {
            return false;
        }
        result = result * 10 + (*cursor.at++ - '0');
        ++digits;
    }
    if (digits == 0 || result > largest) {
        return false;
    }
    *value = static_cast<uint8_t>(result);
    return true;
}

bool skipComma(Cursor& cursor) {
    if (cursor.at == cursor.end || *cursor.at != ',') {
        return false;
    }
    ++cursor.at;
    return true;
}

bool parseForwarding(Cursor cursor, ExchangeForwarding* forwarding) {
    forwarding->basicService = BASIC_SERVICE_ALL;
    if (!readNumber(cursor, forwarding->servedUserNumber) || !skipComma(cursor) ||
        !readNumber(cursor, forwarding->forwardedToNumber) || !skipComma(cursor) ||
        !readSmall(cursor, PROCEDURE_NO_REPLY, &forwarding->procedure)) {
        return false;
    }
    if (cursor.at == cursor.end) {
        return true;
    }
    return skipComma(cursor) && readSmall(cursor, 255, &forwarding->basicService) &&
           cursor.at == cursor.end;
}

// Calls take(cursor) for every non-empty string; returns how many it refused.
template <typename Take> unsigned forEachString(const uint16_t* text, size_t units, Take take) {
    unsigned refused = 0;
    size_t start = 0;
    while (start < units) {
        size_t stop = start;
        while (stop < units && text[stop] != 0) {
            ++stop;
        }
        if (stop > start && !take(Cursor{text + start, text + stop})) {
            ++refused;
        }
        start = stop + 1;
    }
    return refused;
}

// Adds one forwarding to the configuration, replacing one of the same
// number, procedure and basic service. Its numbers and procedure are checked
// by exchangeInit afterwards.
bool addForwarding(ExchangeConfig* config, const ControlForwarding& added) {
    for (unsigned i = 0; i < config->forwardingCount; ++i) {
        ExchangeForwarding& f = config->forwardings[i];
        if (f.procedure == added.procedure && f.basicService == added.basicService &&
            exchangeSameNumber(f.servedUserNumber, added.servedUserNumber)) {
            exchangeStoreNumber(f.forwardedToNumber, added.forwardedToNumber);
            return true;
        }
    }
    if (config->forwardingCount == EXCHANGE_FORWARDING_CAPACITY) {
        return false;
    }
    config->forwardings[config->forwardingCount++] = added;
    return true;
}

constexpr uint32_t KNOWN_FIELDS = CONTROL_SET_DELAY | CONTROL_SET_TIME_OUT |
                                  CONTROL_SET_QUERY_IDLE | CONTROL_SET_UNREACHABLE |
                                  CONTROL_ADD_FORWARDINGS | CONTROL_SET_FAIL_SET_REQUESTS |
                                  CONTROL_SET_PEND_INTERROGATIONS | CONTROL_SET_CANCEL_DELAY;

} // namespace

void pendingInit(PendingTable* table) {
    __builtin_memset(table, 0, sizeof *table);
}

bool pendingAdd(PendingTable* table, void* request, void* owner, const ExchangeAnswer& answer) {
    for (PendingAnswer& slot : table->slots) {
        if (slot.request == nullptr) {
            slot.request = request;
            slot.owner = owner;
            slot.dueAtMs = answer.dueAtMs;
            slot.sequence = table->nextSequence++;
            slot.bytesReturned = answer.bytesReturned;
            slot.resultCode = answer.resultCode;
            slot.failed = answer.failed;
            slot.held = false;
            slot.cancelling = false;
            slot.cancelled = false;
            ++table->count;
            return true;
        }
    }
    return false;
}

bool pendingHold(PendingTable* table, void* request, void* owner) {
    ExchangeAnswer never = {};
    never.dueAtMs = UINT64_MAX;
    if (!pendingAdd(table, request, owner, never)) {
        return false;
    }
    pendingFind(table, request)->held = true;
    return true;
}

PendingAnswer* pendingFind(PendingTable* table, const void* request) {
    if (request == nullptr) {
        return nullptr; // free slots are not requests
    }
    for (PendingAnswer& slot : table->slots) {
        if (slot.request == request) {
            return &slot;
        }
    }
    return nullptr;
}

bool pendingCancelLater(PendingTable* table, const void* request, uint64_t atMs) {
    PendingAnswer* slot = pendingFind(table, request);
    if (slot == nullptr) {
        return false;
    }
    slot->dueAtMs = atMs;
    slot->cancelling = false;
    slot->cancelled = true;
    return true;
}

PendingAnswer* pendingNextDue(PendingTable* table, uint64_t nowMs) {
    PendingAnswer* best = nullptr;
    for (PendingAnswer& slot : table->slots) {
        if (waiting(slot) && slot.dueAtMs <= nowMs && (best == nullptr || earlier(slot, *best))) {
            best = &slot;
        }
    }
    return best;
}

uint64_t pendingWakeAt(const PendingTable* table) {
    uint64_t wakeAt = UINT64_MAX;
    for (const PendingAnswer& slot : table->slots) {
        if (waiting(slot) && slot.dueAtMs < wakeAt) {
            wakeAt = slot.dueAtMs;
        }
    }
    return wakeAt;
}

bool pendingRemove(PendingTable* table, void* request) {
    PendingAnswer* slot = pendingFind(table, request);
    if (slot == nullptr) {
        return false;
    }
    __builtin_memset(slot, 0, sizeof *slot);
    --table->count;
    return true;
}

PendingAnswer* pendingAnyOf(PendingTable* table, const void* owner) {
    for (PendingAnswer& slot : table->slots) {
        if (waiting(slot) && (owner == nullptr || slot.owner == owner)) {
            return &slot;
        }
    }
    return nullptr;
}

unsigned pendingCountOf(const PendingTable* table, const void* owner) {
    unsigned count = 0;
    for (const PendingAnswer& slot : table->slots) {
        if (slot.request != nullptr && (owner == nullptr || slot.owner == owner)) {
            ++count;
        }
    }
    return count;
}

unsigned parseUnreachableNumbers(const uint16_t* text, size_t units, ExchangeConfig* config) {
    config->unreachableCount = 0;
    return forEachString(text, units, [config](Cursor cursor) {
        if (config->unreachableCount == EXCHANGE_UNREACHABLE_CAPACITY) {
            return false;
        }
        if (!readNumber(cursor, config->unreachable[config->unreachableCount]) ||
            cursor.at != cursor.end) {
            return false;
        }
        ++config->unreachableCount;
        return true;
    });
}

unsigned parseForwardings(const uint16_t* text, size_t units, ExchangeConfig* config) {
    return forEachString(text, units, [config](Cursor cursor) {
        if (config->forwardingCount == EXCHANGE_FORWARDING_CAPACITY) {
            return false;
        }
        ExchangeForwarding parsed = {};
        if (!parseForwarding(cursor, &parsed)) {
            return false;
        }
        config->forwardings[config->forwardingCount++] = parsed;
        return true;
    });
}

bool buildConfigured(const SimulatedExchange* live, const ControlConfiguration* request,
                     ExchangeConfig* work, SimulatedExchange* next) {
    if ((request->fields & ~KNOWN_FIELDS) != 0) {
        return false;
    }
    __builtin_memcpy(work, &live->config, sizeof *work);
    if ((request->fields & CONTROL_SET_DELAY) != 0) {
        work->delayMs = request->delayMs;
    }
    if ((request->fields & CONTROL_SET_TIME_OUT) != 0) {
        work->timeOutMs = request->timeOutMs;
    }
    if ((request->fields & CONTROL_SET_QUERY_IDLE) != 0) {
        work->queryIdleMs = request->queryIdleMs;
    }
    if ((request->fields & CONTROL_SET_FAIL_SET_REQUESTS) != 0) {
        work->failSetRequests = request->failSetRequests;
    }
    if ((request->fields & CONTROL_SET_UNREACHABLE) != 0) {
        __builtin_memcpy(work->unreachable, request->unreachable, sizeof work->unreachable);
        work->unreachableCount = request->unreachableCount;
    }
    // The forwardings in force now, not those the exchange started with.
    work->forwardingCount = live->forwardingCount;
    __builtin_memcpy(work->forwardings, live->forwardings, sizeof work->forwardings);
    if ((request->fields & CONTROL_ADD_FORWARDINGS) != 0) {
        if (request->forwardingCount > CONTROL_FORWARDING_CAPACITY) {
            return false;
        }
        for (unsigned i = 0; i < request->forwardingCount; ++i) {
            if (!addForwarding(work, request->forwardings[i])) {
                return false;
            }
        }
    }
    if (!exchangeInit(next, work)) {
        return false; // a count, number or procedure it could not take
    }
    next->receivedTotal = live->receivedTotal;
    __builtin_memcpy(next->received, live->received, sizeof next->received);
    return true;
}

void fillReceivedLog(const SimulatedExchange* exchange, ControlReceivedLog* log) {
    __builtin_memset(log, 0, sizeof *log);
    log->total = exchange->receivedTotal;
    log->count = exchangeReceivedCount(exchange);
    for (unsigned i = 0; i < log->count; ++i) {
        log->entries[i] = *exchangeReceivedAt(exchange, log->count - 1 - i);
    }
}

void fillForwardingTable(const SimulatedExchange* exchange, ControlForwardingTable* table) {
    __builtin_memset(table, 0, sizeof *table);
    table->count = exchange->forwardingCount;
    __builtin_memcpy(table->entries, exchange->forwardings,
                     exchange->forwardingCount * sizeof(ExchangeForwarding));
}
