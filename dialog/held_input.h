// What the user's input does while the driver holds a request, and the wait
// that serves the window meanwhile: which input flags this Windows knows,
// what is served, dispatched or dropped. The platform's device operations
// wait here; nothing else of the program depends on these rules.
#pragma once

#include <windows.h>

// The user's input the wait takes from the queue: mouse, keys and raw input,
// plus touch and pen where this Windows has them (Windows 8 on). Decided once,
// at the dialog's start.
DWORD heldInputOfThisWindows();

// Waits without limit for the event, the window staying alive meanwhile
// under the wait cursor. WAIT_OBJECT_0 once the event is signalled, or what
// ended the wait; the error number of a failed wait is left in *error.
DWORD heldInputWait(DWORD heldInput, HANDLE event, DWORD* error);
