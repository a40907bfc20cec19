// The yardstick for the program's start-up: the same dialog template, icon
// and manifest, the same entry without the C runtime, and a dialog procedure
// that does nothing but end on OK or Cancel.
#include <windows.h>

#include "resource.h"

namespace {

INT_PTR CALLBACK MinimalDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, 0);
    }
    return FALSE;
}

} // namespace

extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
    DialogBoxParamA(GetModuleHandleA(nullptr), RESOURCE_NAME_TEXT(IDD_MAIN_DIALOG), nullptr,
                    MinimalDialog, 0);
    ExitProcess(0);
}
