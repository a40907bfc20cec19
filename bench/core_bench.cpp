// The cost of each command in the core, as the dialog routes it, against a
// device and dialog that answer at once and keep nothing. The recording fake
// of the unit tests allocates for every call it logs, which would be most of
// what is measured, so this one only counts and copies.
#include <benchmark/benchmark.h>

#include <cstring>

#include "command_routing.h"
#include "forwarding_session.h"
#include "command_ids.h"

namespace {

struct LeanPlatform {
    const char* servedUserNumber = "821";
    const char* forwardedToNumber = "739";
    int lines = 0;
    char lastLine[256] = {};
    bool timerArmed = false;
    IoStart setStart = IO_COMPLETED;
    uint8_t entry[INTERROGATION_RECORD_SIZE] = {};
    PlatformHandle nextHandle = 0x100;

    Platform platform();
};

LeanPlatform* lean(void* context) {
    return static_cast<LeanPlatform*>(context);
}

unsigned readNumberField(void* context, int controlId, char* buffer, unsigned bufferSize) {
    LeanPlatform* p = lean(context);
    const char* text =
        controlId == IDC_SERVED_USER_NUMBER ? p->servedUserNumber : p->forwardedToNumber;
    unsigned n = 0;
    while (n + 1 < bufferSize && text[n] != '\0') {
        buffer[n] = text[n];
        ++n;
    }
    buffer[n] = '\0';
    return n;
}

int countStatusLines(void* context) {
    return lean(context)->lines;
}

void deleteFirstStatusLine(void* context) {
    --lean(context)->lines;
}

void appendStatusLine(void* context, const char* line) {
    LeanPlatform* p = lean(context);
    // A list box copies the text; so does this.
    std::strncpy(p->lastLine, line, sizeof p->lastLine - 1);
    ++p->lines;
}

void checkRadioButton(void*, int, int, int) {}

bool armTimer(void* context, unsigned, unsigned) {
    lean(context)->timerArmed = true;
    return true;
}

void killTimer(void* context, unsigned) {
    lean(context)->timerArmed = false;
}

PlatformHandle openDevice(void* context, const char*) {
    return ++lean(context)->nextHandle;
}

PlatformHandle createEvent(void* context) {
    return ++lean(context)->nextHandle;
}

IoStart deviceControl(void* context, PlatformHandle, uint32_t controlCode, uint8_t* buffer,
                      uint32_t bufferSize, PlatformHandle, uint32_t* bytesReturned) {
    LeanPlatform* p = lean(context);
    if (controlCode == IOCTL_CF_SET) {
        buffer[0] = 0; // result code 0: successful
        buffer[1] = 0;
        *bytesReturned = bufferSize;
        return p->setStart;
    }
    std::memcpy(buffer, p->entry, bufferSize);
    *bytesReturned = FORWARDING_ENTRY_SIZE;
    return IO_COMPLETED;
}

IoEnd waitForRequest(void*, PlatformHandle, uint32_t* bytesReturned) {
    *bytesReturned = FORWARDING_REQUEST_SIZE;
    return IO_ENDED_SUCCEEDED;
}

void cancelRequest(void*, PlatformHandle) {}

void closeHandle(void*, PlatformHandle) {}

Platform LeanPlatform::platform() {
    return Platform{this,
                    // the dialog
                    readNumberField, countStatusLines, deleteFirstStatusLine, appendStatusLine,
                    checkRadioButton, armTimer, killTimer,
                    // the device
                    openDevice, createEvent, deviceControl, waitForRequest, cancelRequest,
                    closeHandle};
}

struct Bench {
    LeanPlatform device;
    ForwardingSession session{};

    Bench() {
        Platform platform = device.platform();
        forwardingSessionInit(&session, &platform);
        device.entry[ENTRY_PROCEDURE_OFFSET] = PROCEDURE_BUSY;
        device.entry[ENTRY_BASIC_SERVICE_OFFSET] = BASIC_SERVICE_SPEECH;
        std::memcpy(device.entry + ENTRY_SERVED_USER_NUMBER_OFFSET, "821", 4);
        std::memcpy(device.entry + ENTRY_FORWARDED_TO_NUMBER_OFFSET, "739", 4);
    }
};

// Activate answered at once, on a list with room.
void Activate(benchmark::State& state) {
    Bench b;
    for (auto _ : state) {
        b.device.lines = 0;
        commandRoutingDispatch(&b.session, IDC_ACTIVATE);
        benchmark::DoNotOptimize(b.device.lastLine);
    }
}
BENCHMARK(Activate);

// Activate left pending by the driver: the wait path.
void ActivatePending(benchmark::State& state) {
    Bench b;
    b.device.setStart = IO_PENDING;
    for (auto _ : state) {
        b.device.lines = 0;
        commandRoutingDispatch(&b.session, IDC_ACTIVATE);
        benchmark::DoNotOptimize(b.device.lastLine);
    }
}
BENCHMARK(ActivatePending);

// Activate on a full list: each command first deletes the oldest line.
void ActivateOnFullList(benchmark::State& state) {
    Bench b;
    b.device.lines = STATUS_LOG_LIMIT;
    for (auto _ : state) {
        commandRoutingDispatch(&b.session, IDC_ACTIVATE);
        benchmark::DoNotOptimize(b.device.lastLine);
    }
}
BENCHMARK(ActivateOnFullList);

// One poll (button or tick) that gets an entry and logs its five lines.
void PollWithEntry(benchmark::State& state) {
    Bench b;
    for (auto _ : state) {
        b.device.lines = 0;
        commandRoutingDispatch(&b.session, IDC_CHECK_CURRENT_SETTING);
        benchmark::DoNotOptimize(b.device.lastLine);
    }
}
BENCHMARK(PollWithEntry);

// Making room when the list has reached 256 lines.
void MakeRoomAt256(benchmark::State& state) {
    Bench b;
    for (auto _ : state) {
        b.device.lines = STATUS_LOG_LIMIT;
        statusLogMakeRoom(&b.session.log);
        benchmark::DoNotOptimize(b.device.lines);
    }
}
BENCHMARK(MakeRoomAt256);

} // namespace

BENCHMARK_MAIN();
