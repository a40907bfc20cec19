// Shared by the probe and the library its hook loads into the dialog's
// process: the standard cursors it names and how it asks for them.
#pragma once

#include <windows.h>

constexpr char CURSOR_NAMES_LIBRARY[] = "cursor_names.dll";
constexpr char CURSOR_NAMES_HOOK[] = "probeCursorNames";
constexpr char CURSOR_NAMES_MESSAGE[] = "Call Forwarding Setting probe: cursor names";

struct StandardCursor {
    LPCSTR id;
    const char* name;
    const char* property;
};

const StandardCursor STANDARD_CURSORS[] = {
    {IDC_ARROW, "arrow", "probe.cursor.arrow"},
    {IDC_APPSTARTING, "appstarting", "probe.cursor.appstarting"},
    {IDC_WAIT, "wait", "probe.cursor.wait"},
    {IDC_IBEAM, "ibeam", "probe.cursor.ibeam"},
};
