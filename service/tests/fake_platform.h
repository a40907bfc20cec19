// A scriptable stand-in for the dialog and the device, one per test case.
// Every call is recorded; answers and faults are set per case.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform.h"
#include "record_layout.h"

// How the fake device answers one control request.
struct FakeAnswer {
    IoStart start = IO_COMPLETED;
    uint32_t bytesReturned = 0;
    // Bytes written over the start of the buffer when the request completes
    // (at once, or when waited for); empty leaves the buffer untouched.
    std::vector<uint8_t> writes;
    bool waitFails = false; // for IO_PENDING: the wait itself fails
};

struct FakePlatform {
    // --- dialog ---
    std::string servedUserNumber;
    std::string forwardedToNumber;
    std::vector<std::string> lines;
    int checkedRadio = 0;
    bool timerArmed = false;
    int armCalls = 0;
    int killCalls = 0;
    bool armFails = false;
    bool refuseDelete = false; // the list ignores deletions

    // --- device ---
    bool driverPresent = true;
    bool eventCreationFails = false;
    std::deque<FakeAnswer> setAnswers;           // default: completed at once, code untouched
    std::deque<FakeAnswer> interrogationAnswers; // default: refused (finished)
    std::string openedPath;
    int opens = 0;
    int eventsCreated = 0;
    int waits = 0;
    int cancels = 0;
    int closesOfUnknownHandles = 0;
    std::set<PlatformHandle> openDevices;
    std::set<PlatformHandle> openEvents;
    std::vector<std::vector<uint8_t>> setRequests;           // bytes as sent
    std::vector<std::vector<uint8_t>> interrogationRequests; // bytes as sent
    std::vector<std::string> calls;                          // operation names in order

    Platform platform();

    // Internal: what a pending request will write when it ends.
    uint8_t* pendingBuffer = nullptr;
    FakeAnswer pendingAnswer;
    PlatformHandle nextHandle = 0x100;
};

// Lines from index first on, to compare with an expected list.
std::vector<std::string> linesFrom(const FakePlatform& fake, size_t first);
