// Ctrl+C on the status list copies all its lines to the clipboard, for
// whoever supports the user: a report of several forwardings need not be
// typed out by hand.
#pragma once

#include <windows.h>

// Takes the list's keys before the list box does; a list that cannot be
// subclassed simply copies nothing.
void statusCopyInstall(HWND list);
