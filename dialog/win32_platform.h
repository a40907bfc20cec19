// The platform record filled with Win32 calls: the dialog operations act on
// the main dialog's controls, the device operations on the driver's handles.
// When CreateFileA, CreateEventA, DeviceIoControl (other than pending),
// MsgWaitForMultipleObjects, GetOverlappedResult (other than a cancelled
// request's "aborted") or SetTimer fails, one line goes to a debugger or a
// debug-output viewer (OutputDebugStringA): the call (with the control code
// for DeviceIoControl), the device path for the calls on the device (the
// CreateEventA and SetTimer lines have none) and the error number. Other
// failing calls (CancelIo, CloseHandle, the window's own) write nothing. The
// status lines do not change.
#pragma once

#include <windows.h>

#include "platform.h"

// One per dialog run. The overlapped record must outlive every request that
// carries it, so it lives here for the whole run rather than on a command's
// stack; one request at most is in flight, so one record serves both.
struct Win32Platform {
    HWND dialog;
    OVERLAPPED request; // offsets 0 for the run; the event is set per request
    // The user's input a wait for the driver takes from the queue: what this
    // Windows has of mouse, keys, touch and pen.
    DWORD heldInput;
};

// Zeroes the context, binds it to the dialog and returns the record of Win32
// operations, whose context is this one.
Platform win32PlatformInit(Win32Platform* context, HWND dialog);

// WM_SETCURSOR: while a request is held, the pointer over any part of the
// dialog is the wait cursor; while the poll timer is armed, the pointer over
// the dialog's client area is the "working in background" cursor. True when
// it set one.
bool win32PlatformSetCursor(bool requestHeld, bool pollTimerArmed, LPARAM hitTestAndMessage);

// Shows the cursor that fits the dialog's state now, rather than at the next
// move of the pointer, when the pointer is over the dialog.
void win32PlatformRefreshCursor(HWND dialog);
