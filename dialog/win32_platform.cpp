// The platform record's operations in Win32: the dialog's controls, the
// device's handles and requests, the wait that keeps the window alive while
// the driver holds a request, and the debug-output line of a failing call.
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

// While it waits for the driver, the thread still looks at its queue at
// least this often: Windows takes a window whose thread has not done so for
// 5 s for hung, ghosts it and offers to close the program.
constexpr DWORD QUEUE_CHECK_MS = 1000;
// Messages served in one round; a window that never validates, or a flood
// of input, cannot keep the wait from the event.
constexpr int MESSAGES_PER_ROUND = 32;

// What the wait wakes for and takes from the queue, spelt out from the flags
// Windows XP knows: the headers of a later Windows put more into QS_INPUT,
// and a Windows before 8 fails a wait or a PeekMessage that names a flag it
// does not know. Touch and pen (QS_TOUCH, QS_POINTER) are added at run time
// where Windows has them.
constexpr DWORD XP_INPUT = QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_KEY | QS_RAWINPUT;
constexpr DWORD POINTER_INPUT = 0x0800 | 0x1000; // QS_TOUCH | QS_POINTER, Windows 8
constexpr DWORD SERVED_ALWAYS = QS_SENDMESSAGE | QS_PAINT;
constexpr UINT takenFromQueue(DWORD input) {
    return PM_REMOVE | ((SERVED_ALWAYS | input) << 16);
}
static_assert((SERVED_ALWAYS | XP_INPUT) == 0x467 && takenFromQueue(XP_INPUT) == 0x04670001,
              "the wait asks Windows XP only what it knows");
static_assert(takenFromQueue(XP_INPUT | POINTER_INPUT) == 0x1c670001,
              "Windows 8 adds touch and pen, nothing more");

static_assert(_WIN32_WINNT == 0x0501 && WINVER == 0x0501,
              "the program is built against the headers of Windows XP, the oldest it runs on");

// Windows 8's pointer messages, which the XP headers do not declare.
constexpr UINT POINTER_NC_FIRST = 0x0241; // WM_NCPOINTERUPDATE, ...DOWN, ...UP
constexpr UINT POINTER_NC_LAST = 0x0243;
constexpr UINT POINTER_DOWN = 0x0246; // WM_POINTERDOWN
constexpr UINT POINTER_UP = 0x0247;   // WM_POINTERUP

// Touch and pen come as pointer messages from Windows 8 on, and turn into
// mouse input only when they are dispatched: the wait must take them too,
// or a tap would run once the request has ended.
bool windowsHasPointerInput() {
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    ULONGLONG atLeast =
        VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL),
                            VER_MINORVERSION, VER_GREATER_EQUAL);
    return VerifyVersionInfoA(&version, VER_MAJORVERSION | VER_MINORVERSION, atLeast) != FALSE;
}

// The title bar, the close box and the system menu button, by mouse, touch
// or pen: the window can be moved and closed while the driver works.
bool isFrameInput(UINT message) {
    return (message >= WM_NCMOUSEMOVE && message <= WM_NCMBUTTONDBLCLK) ||
           (message >= WM_NCXBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK) ||
           (message >= POINTER_NC_FIRST && message <= POINTER_NC_LAST);
}

// A mouse button, a key or a contact going down (not a key's auto-repeat).
bool isPress(const MSG& message) {
    switch (message.message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
    case POINTER_DOWN:
        return true;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        return (message.lParam & (1L << 30)) == 0;
    default:
        return false;
    }
}

// A mouse button, a key or a contact going up.
bool isRelease(UINT message) {
    switch (message) {
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
    case POINTER_UP:
    case WM_KEYUP:
    case WM_SYSKEYUP:
        return true;
    default:
        return false;
    }
}

// Serves what may not wait for the driver: messages other threads send to
// the dialog (PeekMessage delivers them itself), repaints, the frame's input
// and every release, so that a press begun before the wait ends and a button
// does not stay down holding the mouse (what the release completes reaches
// the core, which refuses it). The user's other clicks, keys and touches on
// the dialog are taken out of the queue and dropped, with a beep for each
// press: run later, they would act on a request that has since been answered
// (a second activation, a deactivation of what was just set), and left in
// the queue they would get the window taken for hung. Posted messages and
// timers stay queued, in their order, for the dialog's loop once the request
// has ended; commands sent meanwhile reach the core, which refuses them.
void serveWhileHeld(DWORD input) {
    MSG message;
    for (int served = 0; served < MESSAGES_PER_ROUND &&
                         PeekMessageA(&message, nullptr, 0, 0, takenFromQueue(input));
         ++served) {
        if (message.message == WM_QUIT) {
            // Not ours to act on here: back in the queue for the loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (message.message == WM_PAINT || isFrameInput(message.message) ||
            isRelease(message.message)) {
            DispatchMessageA(&message);
        } else if (isPress(message)) {
            MessageBeep(MB_OK);
        }
    }
}

// Waits without limit for the event, the window staying alive meanwhile
// under the wait cursor. WAIT_OBJECT_0 once the event is signalled, or what
// ended the wait; the error number of a failed wait is left in *error.
DWORD waitServingWindow(const Win32Platform* context, HANDLE event, DWORD* error) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    DWORD woke;
    for (;;) {
        woke = MsgWaitForMultipleObjects(1, &event, FALSE, QUEUE_CHECK_MS,
                                         SERVED_ALWAYS | context->heldInput);
        if (woke != WAIT_OBJECT_0 + 1 && woke != WAIT_TIMEOUT) {
            break;
        }
        serveWhileHeld(context->heldInput);
    }
    *error = GetLastError();
    SetCursor(previous);
    return woke;
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
    if (waitServingWindow(self(context), overlapped->hEvent, &waitError) != WAIT_OBJECT_0) {
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
    BOOL ended = waitServingWindow(self(context), overlapped->hEvent, &waitError) == WAIT_OBJECT_0;
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
    context->heldInput = XP_INPUT | (windowsHasPointerInput() ? POINTER_INPUT : 0);
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
