// The platform record filled with Win32 calls: the dialog operations act on
// the main dialog's controls, the device operations on the driver's handles.
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
};

// Zeroes the context, binds it to the dialog and fills the record with the
// Win32 operations; platform->context points at the context.
void win32PlatformInit(Win32Platform* context, HWND dialog, Platform* platform);
