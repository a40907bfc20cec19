// The program's entry. It needs nothing of the C runtime's start-up (no
// command line, no static constructors, no exit handlers), so it is the
// image's entry point itself and the runtime's start-up code is not linked.
#include <windows.h>

#include <commctrl.h>

#include "main_dialog.h"
#include "resource.h"
#include "user_texts.h"

extern "C" void WinMainCRTStartup() {
    // The manifest asks for version 6 of the common controls, which redirects
    // the standard control classes to it. Windows XP loads that DLL only for
    // a program that links it; without this call neither the dialog nor the
    // message box below could be created there. Later versions load it on
    // demand, so only XP shows the difference.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (DialogBoxParamA(GetModuleHandleA(nullptr), RESOURCE_NAME_TEXT(IDD_MAIN_DIALOG), nullptr,
                        MainDialogProc, 0) == -1) {
        MessageBoxA(nullptr, TEXT_DIALOG_FAILURE, TEXT_DIALOG_FAILURE_CAPTION, MB_ICONERROR);
    }
    ExitProcess(0);
}
