// A scriptable stand-in for the dialog and the device, one per test case.
// Every call is recorded; answers and faults are set per case. It holds the
// core to the contract's own numbers, written out here rather than taken from
// the headers under test, so that a wrong constant in the core fails tests:
// any other control code, record size, number field size, control identifier,
// radio range, timer or device path counts as a breach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"

// How the fake device answers one control request.
struct FakeAnswer {
    IoStart start = IO_COMPLETED;
    uint32_t bytesReturned = 0;
    // Bytes written over the start of the buffer when the request completes
    // (at once, or when waited for); empty leaves the buffer untouched.
    std::vector<uint8_t> writes;
    bool waitFails = false; // for IO_PENDING: the wait itself fails
    // For IO_PENDING: the driver ends the request with an error status, so
    // nothing of `writes` reaches the buffer.
    bool endsInFailure = false;
};

// The status list as a fixed ring: deleting the oldest line costs nothing
// and no line costs an allocation. A line keeps up to LINE_KEPT characters,
// one more than the core's largest line buffer holds, so an overlong line
// still shows as one. Read like a vector of lines.
struct FakeStatusList {
    static constexpr size_t CAPACITY = 512;
    static constexpr size_t LINE_KEPT = 256;

    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    std::string_view operator[](size_t index) const;
    std::string_view front() const { return (*this)[0]; }
    std::string_view back() const { return (*this)[count - 1]; }
    void push_back(std::string_view line); // a full ring loses its oldest line, counted
    void pop_front();
    void clear() { first = count = 0; }

    size_t lost = 0; // lines a full ring pushed out: the list grew past any bound
    size_t first = 0;
    size_t count = 0;
    struct Slot {
        uint16_t length;
        char text[LINE_KEPT];
    } slots[CAPACITY]; // left uninitialised: only [first, first + count) is read
};

bool operator==(const std::vector<std::string>& expected, const FakeStatusList& lines);
void PrintTo(const FakeStatusList& lines, std::ostream* out);

struct FakePlatform {
    // --- dialog ---
    std::string servedUserNumber;
    std::string forwardedToNumber;
    FakeStatusList lines;
    size_t appends = 0;
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
    std::vector<std::string_view> calls;                     // operation names in order
    // Runs inside the wait for a held request and for its cancel, as the
    // messages that the Windows waits serve would.
    std::function<void()> duringWait;

    // Calls that broke the contract, and the last one's description.
    int breaches = 0;
    const char* lastBreach = "";

    Platform platform();

    // Internal: what a pending request will write when it ends.
    PlatformHandle pendingDevice = PLATFORM_NO_HANDLE; // the device it was issued on
    uint8_t* pendingBuffer = nullptr;
    uint32_t pendingSize = 0;
    FakeAnswer pendingAnswer;
    PlatformHandle nextHandle = 0x100;
};

// Lines from index first on, to compare with an expected list.
std::vector<std::string> linesFrom(const FakePlatform& fake, size_t first);
