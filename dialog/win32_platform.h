// The platform record filled with Win32 calls: the dialog operations act on
// the main dialog's controls, the device operations on the driver's handles.
// Every system call on the device path that fails writes one line for a
// debugger or a debug-output viewer (OutputDebugStringA): the call, the device
// path and the error number. The status lines do not change.
#pragma once

#include <windows.h>

#include "platform.h"

// One per dialog run. The overlapped records must outlive every request that
// carries them, so they live here for the whole run rather than on a
// command's stack.
struct Win32Platform {
    HWND dialog;
    OVERLAPPED setRequest;         // IOCTL_CF_SET
    OVERLAPPED interrogateRequest; // IOCTL_CF_INTERROGATE
    bool pollTimerRunning;         // what the cursor over the dialog shows
};

// Zeroes the context, binds it to the dialog and returns the record of Win32
// operations, whose context is this one.
Platform win32PlatformInit(Win32Platform* context, HWND dialog);

// WM_SETCURSOR: while the poll timer runs, the pointer over the dialog's
// client area is the "working in background" cursor. True when it set one.
bool win32PlatformSetCursor(const Win32Platform* context, LPARAM hitTestAndMessage);
