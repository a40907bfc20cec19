// Exercises the stand-in driver under Wine the way the program uses it (an
// overlapped handle on \\.\CAPI201, the two control requests) and through the
// test control device. Prints one line per check; exits 1 when any failed.
//
// run_driver_tests.sh starts the driver with these registry values, which the
// start-configuration checks expect back after a reset:
//   NetworkDelayMs=100 TimeOutMs=300 UnreachableNumbers=998;997
//   Forwardings=555,666,2,1
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "control_protocol.h"

namespace {

constexpr DWORD WAIT_LIMIT_MS = 10000; // a bound against hanging, not a speed check
constexpr DWORD POLL_PAUSE_MS = 20;
constexpr unsigned POLL_LIMIT = 250;
constexpr char PEND_UNTIL_UNLOAD[] = "--pend-until-unload";
constexpr DWORD UNLOAD_WAIT_LIMIT_MS = 60000;

unsigned failures = 0;
unsigned passes = 0;
// Handles open on the program's device between the groups of checks: this
// program's own first one, kept open to the end.
uint32_t baselineHandles = 0;

bool check(bool ok, const char* name, const char* format = "", ...) {
    if (ok) {
        ++passes;
        printf("ok   %s\n", name);
        return true;
    }
    ++failures;
    printf("FAIL %s: ", name);
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
    return false;
}

void devicePath(char* path, const char* name) {
    snprintf(path, DEVICE_PATH_SIZE, "\\\\.\\%s", name);
}

// As the program opens it: read/write, shared, overlapped.
HANDLE openProgramDevice() {
    char path[DEVICE_PATH_SIZE] = {};
    devicePath(path, DEVICE_NAME);
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

HANDLE control = INVALID_HANDLE_VALUE;

bool controlRequest(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength,
                    DWORD* error = nullptr) {
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(control, code, const_cast<void*>(in), inLength, out, outLength,
                                    &returned, nullptr);
    if (error != nullptr) {
        *error = ok ? 0 : GetLastError();
    }
    return ok != FALSE;
}

bool resetDriver() {
    return controlRequest(CONTROL_IOCTL_RESET, nullptr, 0, nullptr, 0);
}

ControlStatistics statistics() {
    ControlStatistics s = {};
    controlRequest(CONTROL_IOCTL_STATISTICS, nullptr, 0, &s, sizeof s);
    return s;
}

ControlForwardingTable forwardings() {
    ControlForwardingTable table = {};
    controlRequest(CONTROL_IOCTL_READ_FORWARDINGS, nullptr, 0, &table, sizeof table);
    return table;
}

// The latest request the program's device received, after how many in all.
ControlReceived latestReceived(uint32_t* total) {
    static ControlReceivedLog log; // too big for comfort on the stack
    memset(&log, 0, sizeof log);
    controlRequest(CONTROL_IOCTL_READ_LOG, nullptr, 0, &log, sizeof log);
    *total = log.total;
    return log.count == 0 ? ControlReceived{} : log.entries[log.count - 1];
}

bool configureTimes(uint32_t delayMs, uint32_t timeOutMs) {
    ControlConfiguration c = {};
    c.fields = CONTROL_SET_DELAY | CONTROL_SET_TIME_OUT;
    c.delayMs = delayMs;
    c.timeOutMs = timeOutMs;
    return controlRequest(CONTROL_IOCTL_CONFIGURE, &c, sizeof c, nullptr, 0);
}

bool findForwarding(const ControlForwardingTable& table, uint8_t procedure, const char* served,
                    const char* to) {
    for (uint32_t i = 0; i < table.count; ++i) {
        const ControlForwarding& f = table.entries[i];
        if (f.procedure == procedure && strcmp(f.servedUserNumber, served) == 0 &&
            strcmp(f.forwardedToNumber, to) == 0) {
            return true;
        }
    }
    return false;
}

void buildRequest(uint8_t* request, uint8_t controlByte, const char* served, const char* to) {
    memset(request, 0, FORWARDING_REQUEST_SIZE);
    request[REQUEST_CONTROL_OFFSET] = controlByte;
    memcpy(request + REQUEST_SERVED_USER_NUMBER_OFFSET, served, strlen(served) + 1);
    memcpy(request + REQUEST_FORWARDED_TO_NUMBER_OFFSET, to, strlen(to) + 1);
}

// Starts a request as the program does on its overlapped handle, with a
// manual-reset event of its own (the caller closes it). FALSE with
// ERROR_IO_PENDING when it pends.
BOOL startRequest(HANDLE device, DWORD code, uint8_t* buffer, DWORD inLength, DWORD outLength,
                  OVERLAPPED* overlapped, DWORD* bytes) {
    memset(overlapped, 0, sizeof *overlapped);
    overlapped->hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return DeviceIoControl(device, code, buffer, inLength, buffer, outLength, bytes, overlapped);
}

bool startedPending(BOOL started) {
    return !started && GetLastError() == ERROR_IO_PENDING;
}

struct SetOutcome {
    bool pended;    // DeviceIoControl failed with ERROR_IO_PENDING
    bool completed; // answered, at once or through the event
    DWORD error;
    DWORD bytes;
    uint16_t resultCode;
};

// Issues IOCTL_CF_SET and waits for the answer.
SetOutcome setForwarding(HANDLE device, uint8_t controlByte, const char* served, const char* to) {
    uint8_t request[FORWARDING_REQUEST_SIZE];
    buildRequest(request, controlByte, served, to);
    SetOutcome outcome = {};
    OVERLAPPED overlapped;
    DWORD bytes = 0;
    const BOOL started = startRequest(device, IOCTL_CF_SET, request, sizeof request, sizeof request,
                                      &overlapped, &bytes);
    outcome.pended = startedPending(started);
    if (outcome.pended) {
        if (WaitForSingleObject(overlapped.hEvent, WAIT_LIMIT_MS) == WAIT_OBJECT_0) {
            outcome.completed = GetOverlappedResult(device, &overlapped, &bytes, FALSE) != FALSE;
            outcome.error = outcome.completed ? 0 : GetLastError();
        } else {
            CancelIo(device); // do not leave the buffer to a late answer
            WaitForSingleObject(overlapped.hEvent, WAIT_LIMIT_MS);
        }
    } else {
        outcome.completed = started != FALSE;
        outcome.error = started ? 0 : GetLastError();
    }
    outcome.bytes = bytes;
    outcome.resultCode = static_cast<uint16_t>(request[0] | request[1] << 8);
    CloseHandle(overlapped.hEvent);
    return outcome;
}

struct Answer {
    bool ok;
    DWORD error;
    DWORD bytes;
    uint8_t record[INTERROGATION_RECORD_SIZE];
};

// As the program asks: synchronous call on the overlapped handle.
Answer interrogate(HANDLE device, const char* served) {
    Answer answer = {};
    memset(answer.record, 0xEE, sizeof answer.record);
    memcpy(answer.record, served, strlen(served) + 1);
    answer.ok =
        DeviceIoControl(device, IOCTL_CF_INTERROGATE, answer.record, sizeof answer.record,
                        answer.record, sizeof answer.record, &answer.bytes, nullptr) != FALSE;
    answer.error = answer.ok ? 0 : GetLastError();
    return answer;
}

// Asks again while the answer is "nothing yet".
Answer interrogateUntilAnswered(HANDLE device, const char* served) {
    Answer answer = interrogate(device, served);
    for (unsigned i = 0; i < POLL_LIMIT && answer.ok && answer.bytes == 0; ++i) {
        Sleep(POLL_PAUSE_MS);
        answer = interrogate(device, served);
    }
    return answer;
}

bool entryIs(const Answer& a, uint8_t procedure, uint8_t service, const char* served,
             const char* to) {
    uint8_t expected[FORWARDING_ENTRY_SIZE] = {};
    expected[ENTRY_PROCEDURE_OFFSET] = procedure;
    expected[ENTRY_BASIC_SERVICE_OFFSET] = service;
    memcpy(expected + ENTRY_SERVED_USER_NUMBER_OFFSET, served, strlen(served) + 1);
    memcpy(expected + ENTRY_FORWARDED_TO_NUMBER_OFFSET, to, strlen(to) + 1);
    return a.ok && a.bytes == FORWARDING_ENTRY_SIZE &&
           memcmp(a.record, expected, FORWARDING_ENTRY_SIZE) == 0;
}

// Waits until the driver has seen the closes and cancellations asked for:
// Wine's CloseHandle returns before the driver gets the close.
ControlStatistics statisticsOnceSettled(uint32_t openHandles = baselineHandles) {
    ControlStatistics s = statistics();
    for (unsigned i = 0; i < POLL_LIMIT && (s.setPendingNow != 0 || s.queriesHeldNow != 0 ||
                                            s.openHandles != openHandles);
         ++i) {
        Sleep(POLL_PAUSE_MS);
        s = statistics();
    }
    return s;
}

// ---- groups of checks -----------------------------------------------------

void testControlDeviceAndHandles() {
    check(resetDriver(), "control: reset accepted");
    ControlStatistics before = statistics();
    check(before.totalOpens == 0 && before.setPended == 0 && before.rejected == 0,
          "control: reset clears the counters", "opens %u pended %u rejected %u", before.totalOpens,
          before.setPended, before.rejected);

    HANDLE a = openProgramDevice();
    HANDLE b = openProgramDevice();
    check(a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE,
          "device: opens twice with FILE_FLAG_OVERLAPPED", "error %lu", GetLastError());
    ControlStatistics open2 = statistics();
    check(open2.openHandles == before.openHandles + 2 && open2.totalOpens == 2,
          "statistics: open handles go up", "open %u (was %u), total %u", open2.openHandles,
          before.openHandles, open2.totalOpens);
    CloseHandle(a);
    CloseHandle(b);
    ControlStatistics closed = statisticsOnceSettled();
    check(closed.openHandles == before.openHandles && closed.totalCloses == 2,
          "statistics: open handles go down on close", "open %u, closes %u", closed.openHandles,
          closed.totalCloses);

    DWORD error = 0;
    ControlReceivedLog small = {};
    check(!controlRequest(CONTROL_IOCTL_READ_LOG, nullptr, 0, &small, 8, &error) &&
              error == ERROR_INSUFFICIENT_BUFFER,
          "control: short log buffer refused", "error %lu", error);
    ControlConfiguration bad = {};
    bad.fields = CONTROL_ADD_FORWARDINGS;
    bad.forwardingCount = 2;
    bad.forwardings[0] = ControlForwarding{PROCEDURE_BUSY, 0, "4711", "4712"};
    bad.forwardings[1] = ControlForwarding{3, 0, "4711", "4713"}; // no such procedure
    const bool refused =
        !controlRequest(CONTROL_IOCTL_CONFIGURE, &bad, sizeof bad, nullptr, 0, &error) &&
        error == ERROR_INVALID_PARAMETER;
    check(refused && !findForwarding(forwardings(), PROCEDURE_BUSY, "4711", "4712"),
          "control: bad configuration refused whole", "error %lu", error);
    check(!controlRequest(CONTROL_IOCTL_CONFIGURE, &bad, 16, nullptr, 0, &error) &&
              error == ERROR_INVALID_PARAMETER,
          "control: short configuration refused", "error %lu", error);
    check(!controlRequest(IOCTL_CF_SET, nullptr, 0, nullptr, 0, &error) &&
              error == ERROR_INVALID_FUNCTION,
          "control: the program's codes are not served here", "error %lu", error);
}

void testStartConfiguration() {
    resetDriver();
    ControlForwardingTable table = forwardings();
    check(table.count == 1 && table.entries[0].procedure == PROCEDURE_NO_REPLY &&
              table.entries[0].basicService == BASIC_SERVICE_SPEECH &&
              strcmp(table.entries[0].servedUserNumber, "555") == 0 &&
              strcmp(table.entries[0].forwardedToNumber, "666") == 0,
          "registry: forwardings at start", "count %u", table.count);

    HANDLE device = openProgramDevice();
    Answer answer = interrogateUntilAnswered(device, "997");
    check(answer.ok && answer.bytes == INTERROGATION_TIMED_OUT_BYTES,
          "registry: listed number unreachable, one-byte time-out", "ok %d bytes %lu", answer.ok,
          answer.bytes);
    answer = interrogateUntilAnswered(device, "999");
    check(!answer.ok, "registry: list replaces the default unreachable number", "ok %d bytes %lu",
          answer.ok, answer.bytes);
    CloseHandle(device);
}

void testSetForwarding() {
    resetDriver(); // the registry's network delay
    HANDLE device = openProgramDevice();
    SetOutcome set = setForwarding(device, PROCEDURE_BUSY, "821", "739");
    check(set.pended, "set: left pending while the network answers", "error %lu", set.error);
    check(set.completed && set.bytes == FORWARDING_REQUEST_SIZE &&
              set.resultCode == RESULT_CODE_SUCCESS,
          "set: completed through its event, result code 0, 53 bytes",
          "error %lu bytes %lu code %04x", set.error, set.bytes, set.resultCode);
    check(findForwarding(forwardings(), PROCEDURE_BUSY, "821", "739"), "set: forwarding in force");

    uint8_t sent[FORWARDING_REQUEST_SIZE];
    buildRequest(sent, PROCEDURE_BUSY, "821", "739");
    uint32_t total = 0;
    const ControlReceived last = latestReceived(&total);
    check(total == 1 && last.controlCode == IOCTL_CF_SET &&
              last.inLength == FORWARDING_REQUEST_SIZE &&
              last.outCapacity == FORWARDING_REQUEST_SIZE &&
              memcmp(last.bytes, sent, sizeof sent) == 0,
          "log: the exact request bytes, code and lengths", "total %u", total);
    ControlStatistics s = statistics();
    check(s.setPended == 1 && s.setCompleted == 1 && s.setPendingNow == 0,
          "statistics: one pended, one completed", "pended %u completed %u now %u", s.setPended,
          s.setCompleted, s.setPendingNow);

    // Ended with an error after its delay: nothing is copied back, so the
    // buffer still starts with control byte 0x01 and the '8' of 821.
    ControlConfiguration failing = {};
    failing.fields = CONTROL_SET_FAIL_SET_REQUESTS;
    failing.failSetRequests = 1;
    controlRequest(CONTROL_IOCTL_CONFIGURE, &failing, sizeof failing, nullptr, 0);
    set = setForwarding(device, PROCEDURE_BUSY, "821", "740");
    check(set.pended && !set.completed && set.error == ERROR_GEN_FAILURE &&
              set.resultCode == 0x3801 &&
              findForwarding(forwardings(), PROCEDURE_BUSY, "821", "739"),
          "set: failed after its delay, buffer as sent, nothing changed",
          "pended %d completed %d error %lu code %04x", set.pended, set.completed, set.error,
          set.resultCode);
    failing.failSetRequests = 0;
    controlRequest(CONTROL_IOCTL_CONFIGURE, &failing, sizeof failing, nullptr, 0);

    configureTimes(0, 0);
    set = setForwarding(device, PROCEDURE_NO_REPLY, "822", "740");
    check(!set.pended && set.completed && set.bytes == FORWARDING_REQUEST_SIZE &&
              set.resultCode == RESULT_CODE_SUCCESS,
          "set: no network delay, answered at once", "pended %d bytes %lu code %04x", set.pended,
          set.bytes, set.resultCode);
    CloseHandle(device);
}

void testInterrogation() {
    resetDriver();
    ControlConfiguration c = {};
    c.fields = CONTROL_ADD_FORWARDINGS;
    c.forwardingCount = 2;
    c.forwardings[0] = ControlForwarding{PROCEDURE_IMMEDIATELY, BASIC_SERVICE_TELEPHONY_7KHZ, "821",
                                         "1234567890123456789012345"};
    c.forwardings[1] = ControlForwarding{PROCEDURE_BUSY, BASIC_SERVICE_ALL, "821", "739"};
    check(controlRequest(CONTROL_IOCTL_CONFIGURE, &c, sizeof c, nullptr, 0),
          "control: forwardings added");

    HANDLE first = openProgramDevice();
    HANDLE second = openProgramDevice();
    Answer a = interrogate(first, "821");
    check(a.ok && a.bytes == INTERROGATION_NOTHING_YET_BYTES, "interrogate: nothing yet at first",
          "ok %d bytes %lu", a.ok, a.bytes);
    a = interrogateUntilAnswered(first, "821");
    check(entryIs(a, PROCEDURE_IMMEDIATELY, BASIC_SERVICE_TELEPHONY_7KHZ, "821",
                  "1234567890123456789012345"),
          "interrogate: first entry, exact bytes", "ok %d bytes %lu", a.ok, a.bytes);
    // The query belongs to the device, not to the handle.
    a = interrogate(second, "821");
    check(entryIs(a, PROCEDURE_BUSY, BASIC_SERVICE_ALL, "821", "739"),
          "interrogate: next entry through another handle", "ok %d bytes %lu", a.ok, a.bytes);
    a = interrogate(first, "821");
    check(!a.ok && a.error == ERROR_NO_MORE_ITEMS, "interrogate: finished fails", "ok %d error %lu",
          a.ok, a.error);
    CloseHandle(first);
    CloseHandle(second);
}

void testCancellation() {
    resetDriver();
    configureTimes(WAIT_LIMIT_MS * 6, WAIT_LIMIT_MS * 6); // never due during the test
    HANDLE device = openProgramDevice();
    uint8_t request[FORWARDING_REQUEST_SIZE];
    buildRequest(request, PROCEDURE_BUSY, "821", "739");
    OVERLAPPED overlapped;
    DWORD bytes = 0;
    check(startedPending(startRequest(device, IOCTL_CF_SET, request, sizeof request, sizeof request,
                                      &overlapped, &bytes)) &&
              statistics().setPendingNow == 1,
          "cancel: request pending");
    check(CancelIo(device) != FALSE, "cancel: CancelIo accepted");
    const bool signalled = WaitForSingleObject(overlapped.hEvent, WAIT_LIMIT_MS) == WAIT_OBJECT_0;
    const BOOL result = GetOverlappedResult(device, &overlapped, &bytes, FALSE);
    const DWORD error = GetLastError();
    check(signalled && !result && error == ERROR_OPERATION_ABORTED,
          "cancel: CancelIo ends the request", "signalled %d result %d error %lu", signalled,
          result, error);
    CloseHandle(overlapped.hEvent);
    ControlStatistics s = statistics();
    check(s.setCancelled == 1 && s.setPendingNow == 0, "statistics: one cancelled",
          "cancelled %u pending %u", s.setCancelled, s.setPendingNow);

    // Closing the handle ends what waits on it.
    startRequest(device, IOCTL_CF_SET, request, sizeof request, sizeof request, &overlapped,
                 &bytes);
    CloseHandle(device);
    s = statisticsOnceSettled();
    check(s.setPendingNow == 0 && s.setCancelled == 2 && s.openHandles == baselineHandles,
          "cancel: closing the handle ends its request", "pending %u cancelled %u open %u",
          s.setPendingNow, s.setCancelled, s.openHandles);
    WaitForSingleObject(overlapped.hEvent, WAIT_LIMIT_MS);
    CloseHandle(overlapped.hEvent);

    // A held interrogation ends at once when its handle closes, though the
    // cancel before it waits to be honoured.
    ControlConfiguration c = {};
    c.fields = CONTROL_SET_PEND_INTERROGATIONS | CONTROL_SET_CANCEL_DELAY;
    c.pendInterrogations = 1;
    c.cancelDelayMs = WAIT_LIMIT_MS * 6; // never during the test
    controlRequest(CONTROL_IOCTL_CONFIGURE, &c, sizeof c, nullptr, 0);
    device = openProgramDevice();
    uint8_t record[60] = {'8', '2', '1'};
    startRequest(device, IOCTL_CF_INTERROGATE, record, 60, 60, &overlapped, &bytes);
    CancelIo(device);
    WaitForSingleObject(overlapped.hEvent, 300); // the cancel reaches the driver first
    CloseHandle(device);
    const bool closed = WaitForSingleObject(overlapped.hEvent, WAIT_LIMIT_MS) == WAIT_OBJECT_0;
    s = statisticsOnceSettled();
    check(closed && s.queriesHeld == 1 && s.queriesHeldNow == 0, "hold: a close ends one at once",
          "closed %d held %u now %u", closed, s.queriesHeld, s.queriesHeldNow);
    CloseHandle(overlapped.hEvent);
}

// Leaves a request pending, says so, and waits for the driver to be stopped:
// its unload must end the request. Exit code 0 when it did, with "aborted".
int pendUntilUnload() {
    configureTimes(UNLOAD_WAIT_LIMIT_MS * 2, UNLOAD_WAIT_LIMIT_MS * 2);
    CloseHandle(control); // only the program's device stays open during the unload
    HANDLE device = openProgramDevice();
    uint8_t request[FORWARDING_REQUEST_SIZE];
    buildRequest(request, PROCEDURE_BUSY, "821", "739");
    OVERLAPPED overlapped;
    DWORD bytes = 0;
    if (!startedPending(startRequest(device, IOCTL_CF_SET, request, sizeof request, sizeof request,
                                     &overlapped, &bytes))) {
        printf("not pending: error %lu\n", GetLastError());
        return 1;
    }
    printf("pending\n");
    if (WaitForSingleObject(overlapped.hEvent, UNLOAD_WAIT_LIMIT_MS) != WAIT_OBJECT_0) {
        printf("still pending after the unload\n");
        CancelIo(device);
        WaitForSingleObject(overlapped.hEvent, WAIT_LIMIT_MS);
        return 1;
    }
    const BOOL result = GetOverlappedResult(device, &overlapped, &bytes, FALSE);
    const DWORD error = GetLastError();
    CloseHandle(device);
    CloseHandle(overlapped.hEvent);
    if (!result && error == ERROR_OPERATION_ABORTED) {
        printf("ended: aborted\n");
        return 0;
    }
    printf("ended: result %d error %lu code %04x\n", result, error, request[0] | request[1] << 8);
    return 1;
}

void testMalformedRequests() {
    resetDriver();
    configureTimes(0, 0);
    HANDLE device = openProgramDevice();
    uint8_t junk[80];
    for (unsigned i = 0; i < sizeof junk; ++i) {
        junk[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    const DWORD UNKNOWN_CODE = 0x80012200;
    struct Case {
        const char* name;
        DWORD code;
        DWORD in;
        DWORD out;
        DWORD error;
    } cases[] = {
        {"reject: short set input", IOCTL_CF_SET, 10, FORWARDING_REQUEST_SIZE,
         ERROR_INVALID_PARAMETER},
        {"reject: short set output", IOCTL_CF_SET, FORWARDING_REQUEST_SIZE, 2,
         ERROR_INSUFFICIENT_BUFFER},
        {"reject: unknown control code", UNKNOWN_CODE, sizeof junk, sizeof junk,
         ERROR_INVALID_FUNCTION},
    };
    for (const Case& c : cases) {
        uint8_t buffer[sizeof junk];
        memcpy(buffer, junk, sizeof junk);
        OVERLAPPED overlapped;
        DWORD bytes = 0;
        const BOOL ok = startRequest(device, c.code, buffer, c.in, c.out, &overlapped, &bytes);
        const DWORD error = ok ? 0 : GetLastError();
        CloseHandle(overlapped.hEvent);
        check(!ok && error == c.error, c.name, "error %lu", error);
    }

    uint32_t total = 0;
    const ControlReceived last = latestReceived(&total);
    check(total == 3 && last.controlCode == UNKNOWN_CODE && last.inLength == sizeof junk &&
              memcmp(last.bytes, junk, CONTROL_LOG_BYTES) == 0,
          "log: malformed requests recorded with their first bytes", "total %u", total);
    ControlStatistics s = statistics();
    check(s.rejected == 3, "statistics: rejected requests counted", "rejected %u", s.rejected);

    SetOutcome set = setForwarding(device, PROCEDURE_BUSY, "821", "739");
    check(set.completed && set.resultCode == RESULT_CODE_SUCCESS,
          "reject: driver still serves afterwards", "code %04x", set.resultCode);
    CloseHandle(device);
}

} // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    HANDLE first = openProgramDevice();
    if (!check(first != INVALID_HANDLE_VALUE, "device: \\\\.\\CAPI201 opens", "error %lu",
               GetLastError())) {
        return 1;
    }
    char path[DEVICE_PATH_SIZE] = {};
    devicePath(path, CONTROL_DEVICE_NAME);
    control = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!check(control != INVALID_HANDLE_VALUE, "control: device opens", "error %lu",
               GetLastError())) {
        return 1;
    }

    if (argc > 1 && strcmp(argv[1], PEND_UNTIL_UNLOAD) == 0) {
        return pendUntilUnload();
    }

    baselineHandles = statistics().openHandles;
    void (*const groups[])() = {testControlDeviceAndHandles, testStartConfiguration,
                                testSetForwarding,           testInterrogation,
                                testMalformedRequests,       testCancellation};
    for (auto group : groups) {
        group();
        statisticsOnceSettled(); // the group's closes reach the driver before the next reset
    }

    resetDriver();
    CloseHandle(control);
    CloseHandle(first);
    printf("%u passed, %u failed\n", passes, failures);
    return failures == 0 ? 0 : 1;
}
