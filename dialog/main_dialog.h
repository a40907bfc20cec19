// The one dialog of the program. Its procedure routes the controls' commands
// and the poll timer's ticks to the forwarding session; besides, it cuts a
// number field that another program filled beyond 25 characters, shows the
// wait and background-working cursors, gives the forwarded-to field a name
// for screen readers, and keeps a close that comes while a request is held
// until the request's outcome is logged.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
