#include "fake_platform.h"

#include <cstring>

#include "command_ids.h"

namespace {

FakePlatform* self(void* context) {
    return static_cast<FakePlatform*>(context);
}

unsigned readNumberField(void* context, int controlId, char* buffer, unsigned bufferSize) {
    FakePlatform* f = self(context);
    f->calls.push_back("read");
    static const std::string none;
    const std::string& text = controlId == IDC_SERVED_USER_NUMBER    ? f->servedUserNumber
                              : controlId == IDC_FORWARDED_TO_NUMBER ? f->forwardedToNumber
                                                                     : none;
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
    if (!f->refuseDelete && !f->lines.empty()) {
        f->lines.erase(f->lines.begin());
    }
}

void appendStatusLine(void* context, const char* line) {
    FakePlatform* f = self(context);
    f->calls.push_back("append");
    f->lines.push_back(line);
}

void checkRadioButton(void* context, int firstId, int lastId, int checkId) {
    FakePlatform* f = self(context);
    f->calls.push_back("radio");
    if (checkId >= firstId && checkId <= lastId) {
        f->checkedRadio = checkId;
    }
}

bool armTimer(void* context, unsigned timerId, unsigned intervalMs) {
    FakePlatform* f = self(context);
    f->calls.push_back("arm");
    ++f->armCalls;
    if (f->armFails || timerId != 1 || intervalMs != 500) {
        return false;
    }
    f->timerArmed = true;
    return true;
}

void killTimer(void* context, unsigned timerId) {
    FakePlatform* f = self(context);
    f->calls.push_back("kill");
    ++f->killCalls;
    if (timerId == 1) {
        f->timerArmed = false;
    }
}

PlatformHandle openDevice(void* context, const char* path) {
    FakePlatform* f = self(context);
    f->calls.push_back("open");
    ++f->opens;
    f->openedPath = path;
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
        return PLATFORM_NO_HANDLE;
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
    bool isSet = controlCode == IOCTL_CF_SET;
    f->calls.push_back(isSet ? "set" : "interrogate");
    if (f->openDevices.count(device) == 0 || f->openEvents.count(event) == 0) {
        f->calls.push_back("bad-handle");
        return IO_REFUSED;
    }
    std::vector<uint8_t> sent(buffer, buffer + bufferSize);
    FakeAnswer answer;
    if (isSet) {
        f->setRequests.push_back(sent);
        if (!f->setAnswers.empty()) {
            answer = f->setAnswers.front();
            f->setAnswers.pop_front();
        }
    } else {
        f->interrogationRequests.push_back(sent);
        answer.start = IO_REFUSED;
        if (!f->interrogationAnswers.empty()) {
            answer = f->interrogationAnswers.front();
            f->interrogationAnswers.pop_front();
        }
    }
    if (answer.start == IO_COMPLETED) {
        complete(buffer, bufferSize, answer);
        *bytesReturned = answer.bytesReturned;
    } else if (answer.start == IO_PENDING) {
        f->pendingBuffer = buffer;
        f->pendingAnswer = answer;
    }
    return answer.start;
}

bool waitForRequest(void* context, PlatformHandle, uint32_t controlCode, uint32_t* bytes) {
    FakePlatform* f = self(context);
    f->calls.push_back("wait");
    ++f->waits;
    if (f->pendingBuffer == nullptr || f->pendingAnswer.waitFails) {
        return false;
    }
    uint32_t size =
        controlCode == IOCTL_CF_SET ? FORWARDING_REQUEST_SIZE : INTERROGATION_RECORD_SIZE;
    complete(f->pendingBuffer, size, f->pendingAnswer);
    *bytes = f->pendingAnswer.bytesReturned;
    f->pendingBuffer = nullptr;
    return true;
}

void cancelRequest(void* context, PlatformHandle, uint32_t) {
    FakePlatform* f = self(context);
    f->calls.push_back("cancel");
    ++f->cancels;
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

Platform FakePlatform::platform() {
    Platform p;
    p.context = this;
    p.readNumberField = readNumberField;
    p.countStatusLines = countStatusLines;
    p.deleteFirstStatusLine = deleteFirstStatusLine;
    p.appendStatusLine = appendStatusLine;
    p.checkRadioButton = checkRadioButton;
    p.armTimer = armTimer;
    p.killTimer = killTimer;
    p.openDevice = openDevice;
    p.createEvent = createEvent;
    p.deviceControl = deviceControl;
    p.waitForRequest = waitForRequest;
    p.cancelRequest = cancelRequest;
    p.closeHandle = closeHandle;
    return p;
}

std::vector<std::string> linesFrom(const FakePlatform& fake, size_t first) {
    if (first >= fake.lines.size()) {
        return {};
    }
    return std::vector<std::string>(fake.lines.begin() + static_cast<long>(first),
                                    fake.lines.end());
}
