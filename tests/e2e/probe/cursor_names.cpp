// Loaded into the dialog's process by the probe's hook, so that the cursor
// the system reports can be named: standard cursors are per-process handles,
// so only the dialog's own process can say which handle is which. Asked by a
// registered message, it leaves its handles as properties of the dialog.
#include <windows.h>

#include "cursor_names.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK
    probeCursorNames(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == RegisterWindowMessageA(CURSOR_NAMES_MESSAGE)) {
            for (const StandardCursor& cursor : STANDARD_CURSORS) {
                SetPropA(message->hwnd, cursor.property, LoadCursorA(nullptr, cursor.id));
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
