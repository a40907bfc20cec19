#include "win32_platform.h"

#include "record_layout.h"
#include "resource.h"

namespace {

Win32Platform* self(void* context) {
    return static_cast<Win32Platform*>(context);
}

HANDLE toHandle(PlatformHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

PlatformHandle fromHandle(HANDLE handle) {
    return reinterpret_cast<PlatformHandle>(handle);
}

// The record that belongs to a control code; nullptr for a code the driver
// does not know, which is then refused without reaching it.
OVERLAPPED* overlappedFor(Win32Platform* context, uint32_t controlCode) {
    switch (controlCode) {
    case IOCTL_CF_SET:
        return &context->setRequest;
    case IOCTL_CF_INTERROGATE:
        return &context->interrogateRequest;
    default:
        return nullptr;
    }
}

LRESULT sendToStatusList(Win32Platform* context, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(GetDlgItem(context->dialog, IDC_STATUS_LIST), message, wParam, lParam);
}

unsigned readNumberField(void* context, int controlId, char* buffer, unsigned bufferSize) {
    if (bufferSize == 0) {
        return 0;
    }
    // GetDlgItemTextA leaves the buffer undefined when the control is
    // missing, and the core reads it regardless.
    buffer[0] = '\0';
    return GetDlgItemTextA(self(context)->dialog, controlId, buffer, static_cast<int>(bufferSize));
}

int countStatusLines(void* context) {
    return static_cast<int>(sendToStatusList(self(context), LB_GETCOUNT, 0, 0));
}

void deleteFirstStatusLine(void* context) {
    sendToStatusList(self(context), LB_DELETESTRING, 0, 0);
}

void appendStatusLine(void* context, const char* line) {
    sendToStatusList(self(context), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

void checkRadioButton(void* context, int firstId, int lastId, int checkId) {
    CheckRadioButton(self(context)->dialog, firstId, lastId, checkId);
}

bool armTimer(void* context, unsigned timerId, unsigned intervalMs) {
    // No callback: the ticks arrive as WM_TIMER in the dialog procedure.
    return SetTimer(self(context)->dialog, timerId, intervalMs, nullptr) != 0;
}

void killTimer(void* context, unsigned timerId) {
    KillTimer(self(context)->dialog, timerId);
}

PlatformHandle openDevice(void*, const char* path) {
    // INVALID_HANDLE_VALUE is all ones, which is PLATFORM_INVALID_HANDLE.
    return fromHandle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
}

PlatformHandle createEvent(void*) {
    // Manual reset, not signalled, unnamed; a failure is NULL, which is
    // PLATFORM_NO_HANDLE.
    return fromHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

IoStart deviceControl(void* context, PlatformHandle device, uint32_t controlCode, uint8_t* buffer,
                      uint32_t bufferSize, PlatformHandle event, uint32_t* bytesReturned) {
    OVERLAPPED* overlapped = overlappedFor(self(context), controlCode);
    if (overlapped == nullptr) {
        return IO_REFUSED;
    }
    // The offsets stay zero for the whole run; only the event is new.
    overlapped->hEvent = toHandle(event);
    DWORD bytes = 0;
    if (DeviceIoControl(toHandle(device), controlCode, buffer, bufferSize, buffer, bufferSize,
                        &bytes, overlapped)) {
        *bytesReturned = bytes;
        return IO_COMPLETED;
    }
    return GetLastError() == ERROR_IO_PENDING ? IO_PENDING : IO_REFUSED;
}

bool waitForRequest(void* context, PlatformHandle device, uint32_t controlCode,
                    uint32_t* bytesReturned) {
    OVERLAPPED* overlapped = overlappedFor(self(context), controlCode);
    if (overlapped == nullptr ||
        WaitForSingleObject(overlapped->hEvent, INFINITE) != WAIT_OBJECT_0) {
        return false;
    }
    // The event says the request is over; its outcome is in the buffer
    // whatever this call reports, so only the count is taken.
    DWORD bytes = 0;
    GetOverlappedResult(toHandle(device), overlapped, &bytes, FALSE);
    *bytesReturned = bytes;
    return true;
}

void cancelRequest(void* context, PlatformHandle device, uint32_t controlCode) {
    OVERLAPPED* overlapped = overlappedFor(self(context), controlCode);
    if (overlapped == nullptr) {
        return;
    }
    CancelIo(toHandle(device));
    // Waiting here is what lets the caller release the buffer: the driver
    // may still write it until the cancelled request has ended.
    DWORD bytes = 0;
    GetOverlappedResult(toHandle(device), overlapped, &bytes, TRUE);
}

void closeHandle(void*, PlatformHandle handle) {
    CloseHandle(toHandle(handle));
}

} // namespace

void win32PlatformInit(Win32Platform* context, HWND dialog, Platform* platform) {
    *context = Win32Platform{};
    context->dialog = dialog;

    platform->context = context;
    platform->readNumberField = readNumberField;
    platform->countStatusLines = countStatusLines;
    platform->deleteFirstStatusLine = deleteFirstStatusLine;
    platform->appendStatusLine = appendStatusLine;
    platform->checkRadioButton = checkRadioButton;
    platform->armTimer = armTimer;
    platform->killTimer = killTimer;
    platform->openDevice = openDevice;
    platform->createEvent = createEvent;
    platform->deviceControl = deviceControl;
    platform->waitForRequest = waitForRequest;
    platform->cancelRequest = cancelRequest;
    platform->closeHandle = closeHandle;
}
