// The one dialog of the program: its procedure routes the controls' commands
// and the poll timer's ticks to the forwarding session.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
