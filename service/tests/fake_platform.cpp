// The fake platform's operations: each records its call, counts a breach of
// the contract's numbers and answers as the case set; the status list's ring.
#include "fake_platform.h"

#include <cstring>

namespace {

// The contract's numbers, as every driver and dialog of this program knows them.
constexpr uint32_t SET_CODE = 0x80012114;
constexpr uint32_t INTERROGATE_CODE = 0x80012118;
constexpr uint32_t SET_SIZE = 53;
constexpr uint32_t INTERROGATE_SIZE = 60;
constexpr unsigned NUMBER_FIELD = 26; // 25 characters and the terminator
constexpr int FORWARDED_TO_FIELD = 1009;
constexpr int SERVED_USER_FIELD = 1010;
constexpr int FIRST_RADIO = 1020;
constexpr int LAST_RADIO = 1023;
constexpr unsigned POLL_TIMER = 1;
constexpr unsigned POLL_INTERVAL = 500;
constexpr char PATH[] = "\\\\.\\CAPI201";

FakePlatform* self(void* context) {
    return static_cast<FakePlatform*>(context);
}

void breach(FakePlatform* f, const char* what) {
    ++f->breaches;
    f->lastBreach = what;
    f->calls.push_back("breach");
}

unsigned readNumberField(void* context, int controlId, char* buffer, unsigned bufferSize) {
    FakePlatform* f = self(context);
    f->calls.push_back("read");
    static const std::string none;
    const std::string& text = controlId == SERVED_USER_FIELD    ? f->servedUserNumber
                              : controlId == FORWARDED_TO_FIELD ? f->forwardedToNumber
                                                                : none;
    if (&text == &none) {
        breach(f, "read a field that is neither 1009 nor 1010");
    }
    if (bufferSize != NUMBER_FIELD) {
        breach(f, "read a number field into other than 26 bytes");
        if (bufferSize == 0) {
            return 0;
        }
    }
    // As GetDlgItemTextA does: at most bufferSize - 1 characters, terminated.
    size_t n = text.size() < bufferSize - 1 ? text.size() : bufferSize - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<unsigned>(n);
}

int countStatusLines(void* context) {
    return static_cast<int>(self(context)->lines.size());
}

void deleteFirstStatusLine(void* context) {
    FakePlatform* f = self(context);
    f->calls.push_back("delete");
    if (f->lines.empty()) {
        breach(f, "deleted a line of an empty list: room is made only on a full one");
    } else if (!f->refuseDelete) {
        f->lines.pop_front();
    }
}

void appendStatusLine(void* context, const char* line) {
    FakePlatform* f = self(context);
    f->calls.push_back("append");
    ++f->appends;
    f->lines.push_back(line);
}

void checkRadioButton(void* context, int firstId, int lastId, int checkId) {
    FakePlatform* f = self(context);
    f->calls.push_back("radio");
    if (firstId != FIRST_RADIO || lastId != LAST_RADIO || checkId < firstId || checkId > lastId) {
        breach(f, "a radio range other than 1020-1023, or a button outside it");
        return;
    }
    f->checkedRadio = checkId;
}

bool armTimer(void* context, unsigned timerId, unsigned intervalMs) {
    FakePlatform* f = self(context);
    f->calls.push_back("arm");
    ++f->armCalls;
    if (timerId != POLL_TIMER || intervalMs != POLL_INTERVAL) {
        breach(f, "a timer other than number 1 every 500 ms");
        return false;
    }
    if (f->armFails) {
        return false;
    }
    f->timerArmed = true;
    return true;
}

void killTimer(void* context, unsigned timerId) {
    FakePlatform* f = self(context);
    f->calls.push_back("kill");
    ++f->killCalls;
    if (timerId != POLL_TIMER) {
        breach(f, "killed a timer other than number 1");
        return;
    }
    f->timerArmed = false;
}

PlatformHandle openDevice(void* context, const char* path) {
    FakePlatform* f = self(context);
    f->calls.push_back("open");
    ++f->opens;
    f->openedPath = path;
    if (f->openedPath != PATH) {
        breach(f, "opened a device other than \\\\.\\CAPI201");
        return PLATFORM_NO_HANDLE;
    }
    if (!f->driverPresent) {
        return PLATFORM_NO_HANDLE;
    }
    PlatformHandle h = f->nextHandle++;
    f->openDevices.insert(h);
    return h;
}

PlatformHandle createEvent(void* context) {
    FakePlatform* f = self(context);
    f->calls.push_back("event");
    if (f->eventCreationFails) {
        return 0; // CreateEventA's NULL, which the Win32 side passes on as it is
    }
    ++f->eventsCreated;
    PlatformHandle h = f->nextHandle++;
    f->openEvents.insert(h);
    return h;
}

void complete(uint8_t* buffer, uint32_t size, const FakeAnswer& answer) {
    size_t n = answer.writes.size() < size ? answer.writes.size() : size;
    if (n > 0) {
        std::memcpy(buffer, answer.writes.data(), n);
    }
}

IoStart deviceControl(void* context, PlatformHandle device, uint32_t controlCode, uint8_t* buffer,
                      uint32_t bufferSize, PlatformHandle event, uint32_t* bytesReturned) {
    FakePlatform* f = self(context);
    bool isSet = controlCode == SET_CODE;
    if (!isSet && controlCode != INTERROGATE_CODE) {
        breach(f, "a control code other than 0x80012114 and 0x80012118");
        return IO_REFUSED;
    }
    f->calls.push_back(isSet ? "set" : "interrogate");
    if (bufferSize != (isSet ? SET_SIZE : INTERROGATE_SIZE)) {
        breach(f, "a request of other than 53 (set) or 60 (interrogate) bytes");
        return IO_REFUSED;
    }
    if (f->openDevices.count(device) == 0 || f->openEvents.count(event) == 0) {
        f->calls.push_back("bad-handle");
        return IO_REFUSED;
    }
    if (f->pendingBuffer != nullptr) {
        breach(f, "a second request while one is pending: the run has one overlapped record");
    }
    std::deque<FakeAnswer>& answers = isSet ? f->setAnswers : f->interrogationAnswers;
    (isSet ? f->setRequests : f->interrogationRequests).emplace_back(buffer, buffer + bufferSize);
    FakeAnswer answer;
    answer.start = isSet ? IO_COMPLETED : IO_REFUSED;
    if (!answers.empty()) {
        answer = std::move(answers.front());
        answers.pop_front();
    }
    if (answer.start == IO_COMPLETED) {
        complete(buffer, bufferSize, answer);
        *bytesReturned = answer.bytesReturned;
    } else if (answer.start == IO_PENDING) {
        f->pendingDevice = device;
        f->pendingBuffer = buffer;
        f->pendingSize = bufferSize;
        f->pendingAnswer = std::move(answer);
    }
    return answer.start;
}

// Windows finds a pending request only through the open device's handle.
void checkPendingDevice(FakePlatform* f, PlatformHandle device) {
    if (f->pendingBuffer == nullptr || device != f->pendingDevice ||
        !f->openDevices.count(device)) {
        breach(f, "waited or cancelled other than on the pending request's open device");
    }
}

IoEnd waitForRequest(void* context, PlatformHandle device, uint32_t* bytes) {
    FakePlatform* f = self(context);
    f->calls.push_back("wait");
    ++f->waits;
    checkPendingDevice(f, device);
    if (f->duringWait) {
        f->duringWait();
    }
    if (f->pendingBuffer == nullptr || f->pendingAnswer.waitFails) {
        return IO_WAIT_FAILED;
    }
    if (f->pendingAnswer.endsInFailure) {
        // As for a buffered request that ends with an error: nothing is
        // copied back, and the byte count is not to be read.
        f->pendingBuffer = nullptr;
        *bytes = 0xDEADBEEF;
        return IO_ENDED_FAILED;
    }
    complete(f->pendingBuffer, f->pendingSize, f->pendingAnswer);
    *bytes = f->pendingAnswer.bytesReturned;
    f->pendingBuffer = nullptr;
    return IO_ENDED_SUCCEEDED;
}

void cancelRequest(void* context, PlatformHandle device) {
    FakePlatform* f = self(context);
    f->calls.push_back("cancel");
    ++f->cancels;
    checkPendingDevice(f, device);
    if (f->duringWait) {
        f->duringWait(); // the wait for a cancel to be honoured serves the window too
    }
    f->pendingBuffer = nullptr; // the request has ended: it writes nothing more
}

void closeHandle(void* context, PlatformHandle handle) {
    FakePlatform* f = self(context);
    f->calls.push_back("close");
    if (f->openDevices.erase(handle) == 0 && f->openEvents.erase(handle) == 0) {
        ++f->closesOfUnknownHandles;
    }
}

} // namespace

std::string_view FakeStatusList::operator[](size_t index) const {
    const Slot& slot = slots[(first + index) % CAPACITY];
    return std::string_view(slot.text, slot.length);
}

void FakeStatusList::push_back(std::string_view line) {
    if (count == CAPACITY) {
        pop_front();
        ++lost;
    }
    Slot& slot = slots[(first + count) % CAPACITY];
    slot.length = static_cast<uint16_t>(line.size() < LINE_KEPT ? line.size() : LINE_KEPT);
    std::memcpy(slot.text, line.data(), slot.length);
    ++count;
}

void FakeStatusList::pop_front() {
    first = (first + 1) % CAPACITY;
    --count;
}

bool operator==(const std::vector<std::string>& expected, const FakeStatusList& lines) {
    if (expected.size() != lines.size()) {
        return false;
    }
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != lines[i]) {
            return false;
        }
    }
    return true;
}

void PrintTo(const FakeStatusList& lines, std::ostream* out) {
    *out << lines.size() << " lines:";
    for (size_t i = 0; i < lines.size(); ++i) {
        *out << "\n  \"" << lines[i] << '"';
    }
}

Platform FakePlatform::platform() {
    return Platform{this,
                    // the dialog
                    readNumberField, countStatusLines, deleteFirstStatusLine, appendStatusLine,
                    checkRadioButton, armTimer, killTimer,
                    // the device
                    openDevice, createEvent, deviceControl, waitForRequest, cancelRequest,
                    closeHandle};
}

std::vector<std::string> linesFrom(const FakePlatform& fake, size_t first) {
    std::vector<std::string> lines;
    for (size_t i = first; i < fake.lines.size(); ++i) {
        lines.emplace_back(fake.lines[i]);
    }
    return lines;
}
