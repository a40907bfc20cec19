// The platform record's operations in Win32: the dialog's controls, the
// device's handles and requests, and the debug-output line of a failing call.
// What the user's input does while a request is held, and the wait that
// serves the window meanwhile, are in held_input.cpp.
#include "win32_platform.h"

#include "held_input.h"
#include "record_layout.h"
#include "resource.h"

namespace {

Win32Platform* self(void* context) {
    return static_cast<Win32Platform*>(context);
}

HANDLE toHandle(PlatformHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The core knows one failure value, PLATFORM_NO_HANDLE (0); CreateFileA's is
// INVALID_HANDLE_VALUE, so it is mapped here and nowhere else.
PlatformHandle fromHandle(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? PLATFORM_NO_HANDLE
                                          : reinterpret_cast<PlatformHandle>(handle);
}

// One line per failing system call, for whoever supports the user: "Failed to
// Open Driver" cannot tell a driver that is not installed (2) from one that
// refuses this user (5). The caller reads the error number right after the
// failing call, before any other call can change it.
void reportFailure(DWORD error, const char* call, const char* detail) {
    char line[160];
    wsprintfA(line, "CallForwardingSetting: %s%s%s failed, error %lu\n", call,
              detail[0] != '\0' ? " " : "", detail, error);
    OutputDebugStringA(line);
}

HWND statusList(Win32Platform* context) {
    return GetDlgItem(context->dialog, IDC_STATUS_LIST);
}

// Whole lines the list shows at once.
int visibleStatusLines(HWND list) {
    RECT client;
    GetClientRect(list, &client);
    LRESULT lineHeight = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
    if (lineHeight <= 0) { // LB_ERR included
        return 1;
    }
    int rows = static_cast<int>((client.bottom - client.top) / lineHeight);
    return rows > 0 ? rows : 1;
}

} // namespace

void win32PlatformRefreshCursor(HWND dialog) {
    POINT point;
    if (!GetCursorPos(&point)) {
        return;
    }
    HWND under = WindowFromPoint(point);
    if (under != dialog && !IsChild(dialog, under)) {
        return;
    }
    LRESULT hit = SendMessageA(under, WM_NCHITTEST, 0, MAKELPARAM(point.x, point.y));
    SendMessageA(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                 MAKELPARAM(static_cast<WORD>(hit), WM_MOUSEMOVE));
}

namespace {

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
    return static_cast<int>(SendMessageA(statusList(self(context)), LB_GETCOUNT, 0, 0));
}

// The oldest line goes, and the view stays on the lines it showed: without
// this the list would move every line up under a reader's eyes.
void deleteFirstStatusLine(void* context) {
    HWND list = statusList(self(context));
    LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    SendMessageA(list, LB_DELETESTRING, 0, 0);
    if (top > 0) { // LB_ERR is negative
        SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(top - 1), 0);
    }
}

// The newest line stays in view while the view shows the end of the list, so
// the outcome of the latest command is always seen; a view the user has
// scrolled up to older lines is left where it is.
void appendStatusLine(void* context, const char* line) {
    HWND list = statusList(self(context));
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    bool showsEnd = count <= 0 || top + visibleStatusLines(list) >= count;
    LRESULT added = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    if (showsEnd && added >= 0) {
        // The list box stops at the last full page, so this brings the new
        // line to the bottom row.
        SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(added), 0);
    }
}

void checkRadioButton(void* context, int firstId, int lastId, int checkId) {
    CheckRadioButton(self(context)->dialog, firstId, lastId, checkId);
}

bool armTimer(void* context, unsigned timerId, unsigned intervalMs) {
    // No callback: the ticks arrive as WM_TIMER in the dialog procedure.
    if (SetTimer(self(context)->dialog, timerId, intervalMs, nullptr) == 0) {
        reportFailure(GetLastError(), "SetTimer", "");
        return false;
    }
    return true;
}

void killTimer(void* context, unsigned timerId) {
    KillTimer(self(context)->dialog, timerId);
}

PlatformHandle openDevice(void*, const char* path) {
    HANDLE device =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        reportFailure(GetLastError(), "CreateFileA", path);
    }
    return fromHandle(device);
}

PlatformHandle createEvent(void*) {
    // Manual reset, not signalled, unnamed; a failure is NULL, which is
    // PLATFORM_NO_HANDLE.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        reportFailure(GetLastError(), "CreateEventA", "");
    }
    return fromHandle(event);
}

IoStart deviceControl(void* context, PlatformHandle device, uint32_t controlCode, uint8_t* buffer,
                      uint32_t bufferSize, PlatformHandle event, uint32_t* bytesReturned) {
    // The offsets stay zero for the whole run; only the event is new.
    OVERLAPPED* overlapped = &self(context)->request;
    overlapped->hEvent = toHandle(event);
    DWORD bytes = 0;
    if (DeviceIoControl(toHandle(device), controlCode, buffer, bufferSize, buffer, bufferSize,
                        &bytes, overlapped)) {
        *bytesReturned = bytes;
        return IO_COMPLETED;
    }
    DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) {
        return IO_PENDING;
    }
    // An interrogation ends this way too: the line says which error ended it.
    char call[32];
    wsprintfA(call, "DeviceIoControl 0x%08lX", static_cast<unsigned long>(controlCode));
    reportFailure(error, call, DEVICE_PATH);
    return IO_REFUSED;
}

IoEnd waitForRequest(void* context, PlatformHandle device, uint32_t* bytesReturned) {
    OVERLAPPED* overlapped = &self(context)->request;
    DWORD waitError = 0;
    if (heldInputWait(self(context)->heldInput, overlapped->hEvent, &waitError) != WAIT_OBJECT_0) {
        reportFailure(waitError, "MsgWaitForMultipleObjects", DEVICE_PATH);
        return IO_WAIT_FAILED;
    }
    // The event says the request is over. FALSE here is an error or a
    // warning status: after an error the buffer still holds the request as
    // sent; after a warning (a buffer overflow, ERROR_MORE_DATA) the
    // driver's bytes were copied back, but the request did not succeed.
    // Either way there is no result to read.
    DWORD bytes = 0;
    if (!GetOverlappedResult(toHandle(device), overlapped, &bytes, FALSE)) {
        reportFailure(GetLastError(), "GetOverlappedResult", DEVICE_PATH);
        return IO_ENDED_FAILED;
    }
    *bytesReturned = bytes;
    return IO_ENDED_SUCCEEDED;
}

void cancelRequest(void* context, PlatformHandle device) {
    OVERLAPPED* overlapped = &self(context)->request;
    CancelIo(toHandle(device));
    // Waiting here is what lets the caller release the buffer: the driver
    // may still write it until the cancelled request has ended, and it may
    // take its time to honour the cancel, so the window is served meanwhile.
    // Should that wait fail, the plain wait that serves nothing is all that
    // is left. A request that ended by the cancel reports "aborted", which
    // is no failure.
    DWORD waitError = 0;
    BOOL ended =
        heldInputWait(self(context)->heldInput, overlapped->hEvent, &waitError) == WAIT_OBJECT_0;
    if (!ended) {
        reportFailure(waitError, "MsgWaitForMultipleObjects", DEVICE_PATH);
    }
    DWORD bytes = 0;
    if (!GetOverlappedResult(toHandle(device), overlapped, &bytes, !ended)) {
        DWORD error = GetLastError();
        if (error != ERROR_OPERATION_ABORTED) {
            reportFailure(error, "GetOverlappedResult", DEVICE_PATH);
        }
    }
}

void closeHandle(void*, PlatformHandle handle) {
    CloseHandle(toHandle(handle));
}

} // namespace

Platform win32PlatformInit(Win32Platform* context, HWND dialog) {
    *context = Win32Platform{};
    context->dialog = dialog;
    context->heldInput = heldInputOfThisWindows();
    return Platform{
        context,
        // the dialog
        readNumberField,
        countStatusLines,
        deleteFirstStatusLine,
        appendStatusLine,
        checkRadioButton,
        armTimer,
        killTimer,
        // the device
        openDevice,
        createEvent,
        deviceControl,
        waitForRequest,
        cancelRequest,
        closeHandle,
    };
}

bool win32PlatformSetCursor(bool requestHeld, bool pollTimerArmed, LPARAM hitTestAndMessage) {
    if (requestHeld) {
        // Taking the mouse input out of the queue during the wait makes the
        // system ask for the cursor: over every part of the dialog it says
        // that clicks are not taken now.
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        return true;
    }
    if (!pollTimerArmed || LOWORD(hitTestAndMessage) != HTCLIENT) {
        return false;
    }
    SetCursor(LoadCursorA(nullptr, IDC_APPSTARTING));
    return true;
}
