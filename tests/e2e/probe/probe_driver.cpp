// The stand-in driver's test control device, \\.\CAPI201Control: reset,
// configure, and read back what the program's device received.
#include "probe_driver.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "control_protocol.h"
#include "probe_util.h"

namespace {

bool control(uint32_t code, const void* in, DWORD inSize, void* outBuffer, DWORD outSize) {
    char path[64];
    snprintf(path, sizeof path, "\\\\.\\%s", CONTROL_DEVICE_NAME);
    HANDLE device =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        fail("cannot open %s (error %lu)", path, static_cast<unsigned long>(GetLastError()));
        return false;
    }
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, code, const_cast<void*>(in), inSize, outBuffer, outSize,
                              &returned, nullptr);
    DWORD error = GetLastError();
    CloseHandle(device);
    if (!ok) {
        fail("control request 0x%08lx refused (error %lu)", static_cast<unsigned long>(code),
             static_cast<unsigned long>(error));
        return false;
    }
    if (returned != outSize) {
        fail("control request 0x%08lx returned %lu bytes, not %lu",
             static_cast<unsigned long>(code), static_cast<unsigned long>(returned),
             static_cast<unsigned long>(outSize));
        return false;
    }
    return true;
}

bool copyNumber(const char* text, char* field) {
    size_t length = strlen(text);
    if (length >= NUMBER_FIELD_SIZE) {
        fail("number \"%s\" is longer than %u characters", text, NUMBER_MAX_LENGTH);
        return false;
    }
    memcpy(field, text, length + 1);
    return true;
}

// "none" or numbers separated by commas.
bool parseUnreachable(const char* text, ControlConfiguration* config) {
    if (strcmp(text, "none") == 0)
        return true;
    char copy[256];
    snprintf(copy, sizeof copy, "%s", text);
    for (char* number = strtok(copy, ","); number != nullptr; number = strtok(nullptr, ",")) {
        if (config->unreachableCount == CONTROL_UNREACHABLE_CAPACITY) {
            fail("more than %lu unreachable numbers",
                 static_cast<unsigned long>(CONTROL_UNREACHABLE_CAPACITY));
            return false;
        }
        if (!copyNumber(number, config->unreachable[config->unreachableCount]))
            return false;
        ++config->unreachableCount;
    }
    return true;
}

// "PROCEDURE:SERVICE:SERVED:TO", e.g. 1:1:821:739.
bool parseForwarding(const char* text, ControlConfiguration* config) {
    char copy[128];
    snprintf(copy, sizeof copy, "%s", text);
    char* fields[4] = {};
    char* rest = copy;
    for (int i = 0; i < 4; ++i) {
        fields[i] = rest;
        char* colon = strchr(rest, ':');
        if (i < 3) {
            if (colon == nullptr) {
                fail("forwarding \"%s\" is not PROCEDURE:SERVICE:SERVED:TO", text);
                return false;
            }
            *colon = 0;
            rest = colon + 1;
        }
    }
    int procedure = 0;
    int service = 0;
    if (!parseInt(fields[0], &procedure) || !parseInt(fields[1], &service))
        return false;
    ControlForwarding* forwarding = &config->forwardings[0];
    forwarding->procedure = static_cast<uint8_t>(procedure);
    forwarding->basicService = static_cast<uint8_t>(service);
    if (!copyNumber(fields[2], forwarding->servedUserNumber) ||
        !copyNumber(fields[3], forwarding->forwardedToNumber))
        return false;
    config->forwardingCount = 1;
    return true;
}

} // namespace

bool driverReset(char**) {
    if (!control(CONTROL_IOCTL_RESET, nullptr, 0, nullptr, 0))
        return false;
    out("driver reset");
    return true;
}

// One setting per verb: delay MS, timeout MS, idle MS, unreachable LIST,
// forward P:S:SERVED:TO (added to the forwardings in force), failset 1|0
// (set-forwarding requests end with an error once due, or are answered),
// pendquery 1|0 (interrogations held until cancelled), canceldelay MS (a
// cancel of a held request honoured that late).
bool driverConfigure(char** args) {
    static ControlConfiguration config;
    memset(&config, 0, sizeof config);
    const char* key = args[0];
    const char* value = args[1];
    DWORD ms = 0;
    if (strcmp(key, "delay") == 0 || strcmp(key, "timeout") == 0 || strcmp(key, "idle") == 0) {
        if (!parseMs(value, &ms))
            return false;
        if (key[0] == 'd') {
            config.fields = CONTROL_SET_DELAY;
            config.delayMs = ms;
        } else if (key[0] == 't') {
            config.fields = CONTROL_SET_TIME_OUT;
            config.timeOutMs = ms;
        } else {
            config.fields = CONTROL_SET_QUERY_IDLE;
            config.queryIdleMs = ms;
        }
    } else if (strcmp(key, "unreachable") == 0) {
        config.fields = CONTROL_SET_UNREACHABLE;
        if (!parseUnreachable(value, &config))
            return false;
    } else if (strcmp(key, "forward") == 0) {
        config.fields = CONTROL_ADD_FORWARDINGS;
        if (!parseForwarding(value, &config))
            return false;
    } else if (strcmp(key, "pendquery") == 0 || strcmp(key, "canceldelay") == 0) {
        if (!parseMs(value, &ms))
            return false;
        // The driver reads only the field that `fields` names.
        config.fields = key[0] == 'p' ? CONTROL_SET_PEND_INTERROGATIONS : CONTROL_SET_CANCEL_DELAY;
        config.pendInterrogations = config.cancelDelayMs = ms;
    } else if (strcmp(key, "failset") == 0) {
        int failing = 0;
        if (!parseInt(value, &failing) || (failing != 0 && failing != 1)) {
            fail("failset takes 1 or 0, not \"%s\"", value);
            return false;
        }
        config.fields = CONTROL_SET_FAIL_SET_REQUESTS;
        config.failSetRequests = static_cast<uint32_t>(failing);
    } else {
        fail("unknown setting \"%s\"", key);
        return false;
    }
    if (!control(CONTROL_IOCTL_CONFIGURE, &config, sizeof config, nullptr, 0))
        return false;
    out("driver %s %s", key, value);
    return true;
}

// "received TOTAL COUNT", then oldest first
// "request INDEX CODE IN OUT AT_MS HEX" with the first min(IN, 60) bytes.
bool driverReceived(char**) {
    static ControlReceivedLog log;
    if (!control(CONTROL_IOCTL_READ_LOG, nullptr, 0, &log, sizeof log))
        return false;
    if (log.count > CONTROL_LOG_CAPACITY) {
        fail("log claims %lu entries", static_cast<unsigned long>(log.count));
        return false;
    }
    out("received %lu %lu", static_cast<unsigned long>(log.total),
        static_cast<unsigned long>(log.count));
    for (uint32_t i = 0; i < log.count; ++i) {
        const ControlReceived& entry = log.entries[i];
        char hex[2 * CONTROL_LOG_BYTES + 1];
        uint32_t shown = entry.inLength < CONTROL_LOG_BYTES ? entry.inLength : CONTROL_LOG_BYTES;
        for (uint32_t b = 0; b < shown; ++b)
            snprintf(hex + 2 * b, 3, "%02x", entry.bytes[b]);
        hex[2 * shown] = 0;
        out("request %lu %08lx %lu %lu %llu %s", static_cast<unsigned long>(i),
            static_cast<unsigned long>(entry.controlCode),
            static_cast<unsigned long>(entry.inLength),
            static_cast<unsigned long>(entry.outCapacity),
            static_cast<unsigned long long>(entry.atMs), hex);
    }
    return true;
}

bool driverStatistics(char**) {
    ControlStatistics stats;
    if (!control(CONTROL_IOCTL_STATISTICS, nullptr, 0, &stats, sizeof stats))
        return false;
    out("stat openHandles %lu", static_cast<unsigned long>(stats.openHandles));
    out("stat totalOpens %lu", static_cast<unsigned long>(stats.totalOpens));
    out("stat totalCloses %lu", static_cast<unsigned long>(stats.totalCloses));
    out("stat setPended %lu", static_cast<unsigned long>(stats.setPended));
    out("stat setCompleted %lu", static_cast<unsigned long>(stats.setCompleted));
    out("stat setCancelled %lu", static_cast<unsigned long>(stats.setCancelled));
    out("stat setPendingNow %lu", static_cast<unsigned long>(stats.setPendingNow));
    out("stat interrogations %lu", static_cast<unsigned long>(stats.interrogations));
    out("stat rejected %lu", static_cast<unsigned long>(stats.rejected));
    out("stat forwardingCount %lu", static_cast<unsigned long>(stats.forwardingCount));
    out("stat queriesHeldNow %lu", static_cast<unsigned long>(stats.queriesHeldNow));
    return true;
}

bool driverForwardings(char**) {
    static ControlForwardingTable table;
    if (!control(CONTROL_IOCTL_READ_FORWARDINGS, nullptr, 0, &table, sizeof table))
        return false;
    if (table.count > CONTROL_FORWARDING_CAPACITY) {
        fail("table claims %lu forwardings", static_cast<unsigned long>(table.count));
        return false;
    }
    out("forwardings %lu", static_cast<unsigned long>(table.count));
    for (uint32_t i = 0; i < table.count; ++i) {
        const ControlForwarding& entry = table.entries[i];
        out("forwarding %u %u %.*s %.*s", entry.procedure, entry.basicService,
            static_cast<int>(NUMBER_FIELD_SIZE), entry.servedUserNumber,
            static_cast<int>(NUMBER_FIELD_SIZE), entry.forwardedToNumber);
    }
    return true;
}

// Holding the driver's queue full: set-forwarding requests with an empty
// served user number (rejected by the network, so nothing changes) sent on
// a handle of the probe and left pending until the driver refuses one at
// once. While they wait, the driver refuses the program's requests at once
// too. Needs a network delay long enough that none is answered meanwhile.
namespace {

constexpr int FILL_LIMIT = 1024;
HANDLE fillDevice = INVALID_HANDLE_VALUE;
int fillCount = 0;
OVERLAPPED fillOverlapped[FILL_LIMIT];
uint8_t fillBuffers[FILL_LIMIT][FORWARDING_REQUEST_SIZE];

} // namespace

bool driverFill(char**) {
    if (fillDevice != INVALID_HANDLE_VALUE) {
        fail("already filled");
        return false;
    }
    char path[64];
    snprintf(path, sizeof path, "%s", DEVICE_PATH);
    fillDevice = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    if (fillDevice == INVALID_HANDLE_VALUE) {
        fail("cannot open %s (error %lu)", path, static_cast<unsigned long>(GetLastError()));
        return false;
    }
    for (fillCount = 0; fillCount < FILL_LIMIT; ++fillCount) {
        OVERLAPPED& overlapped = fillOverlapped[fillCount];
        memset(&overlapped, 0, sizeof overlapped);
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        uint8_t* buffer = fillBuffers[fillCount];
        memset(buffer, 0, FORWARDING_REQUEST_SIZE);
        DWORD returned = 0;
        BOOL ok = DeviceIoControl(fillDevice, IOCTL_CF_SET, buffer, FORWARDING_REQUEST_SIZE, buffer,
                                  FORWARDING_REQUEST_SIZE, &returned, &overlapped);
        DWORD error = GetLastError();
        if (!ok && error == ERROR_IO_PENDING)
            continue;
        CloseHandle(overlapped.hEvent);
        if (ok) {
            fail("request %d answered at once: the network delay is too short to fill the queue",
                 fillCount);
            return false;
        }
        out("filled %d %lu", fillCount, static_cast<unsigned long>(error));
        return true;
    }
    fail("the driver took %d requests without refusing one", FILL_LIMIT);
    return false;
}

// Cancels the requests of driverFill and waits for each to end.
bool driverRelease(char**) {
    if (fillDevice == INVALID_HANDLE_VALUE) {
        fail("nothing filled");
        return false;
    }
    CancelIo(fillDevice);
    int cancelled = 0;
    for (int i = 0; i < fillCount; ++i) {
        DWORD returned = 0;
        if (WaitForSingleObject(fillOverlapped[i].hEvent, 10000) != WAIT_OBJECT_0) {
            fail("request %d still pending 10 s after its cancellation", i);
            return false;
        }
        if (!GetOverlappedResult(fillDevice, &fillOverlapped[i], &returned, FALSE) &&
            GetLastError() == ERROR_OPERATION_ABORTED)
            ++cancelled;
        CloseHandle(fillOverlapped[i].hEvent);
    }
    CloseHandle(fillDevice);
    fillDevice = INVALID_HANDLE_VALUE;
    out("released %d %d", fillCount, cancelled);
    fillCount = 0;
    return true;
}
