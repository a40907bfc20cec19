// The program's entry. It needs nothing of the C runtime's start-up (no
// command line, no static constructors, no exit handlers), so it is the
// image's entry point itself and the runtime's start-up code is not linked.
#include <windows.h>

#include "main_dialog.h"
#include "resource.h"

// Windows enters a 32-bit image with the stack aligned to 4 bytes only;
// realigning here keeps the compiler's 16-byte assumption true below.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
    if (DialogBoxParamA(GetModuleHandleA(nullptr), IDD_MAIN_DIALOG_NAME, nullptr, MainDialog, 0) ==
        -1) {
        MessageBoxA(nullptr, "Unable to create root dialog!", "DialogBox failure", MB_ICONERROR);
    }
    ExitProcess(0);
}
