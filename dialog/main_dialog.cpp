#include "main_dialog.h"

#include "command_routing.h"
#include "forwarding_session.h"
#include "resource.h"
#include "status_log.h"
#include "win32_platform.h"

namespace {

// The run state lives as long as the dialog, and there is only ever one
// dialog per process. The session keeps pointers into itself, so it stays
// where it is.
Win32Platform platformContext;
ForwardingSession session;
// Commands and ticks reach the session only once it is bound to the window:
// before that its platform record holds no operations.
bool sessionStarted;

void startDialog(HWND dialog) {
    Platform platform = win32PlatformInit(&platformContext, dialog);
    forwardingSessionInit(&session, &platform);
    sessionStarted = true;

    SendMessageA(GetDlgItem(dialog, IDC_STATUS_LIST), WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), TRUE);
    statusLogStart(&session.log);
    SetFocus(GetDlgItem(dialog, IDC_SERVED_USER_NUMBER));
    // The control byte starts at 0, which is "Immediately".
    SendMessageA(GetDlgItem(dialog, IDC_IMMEDIATELY), BM_SETCHECK, BST_CHECKED, 0);
}

INT_PTR routeCommand(HWND dialog, WPARAM wParam) {
    if (!sessionStarted) {
        return FALSE;
    }
    switch (commandRoutingDispatch(&session, static_cast<uint32_t>(wParam))) {
    case ROUTE_HANDLED:
        return TRUE;
    case ROUTE_END_DIALOG:
        // The routing has closed the driver handle; nothing may reopen it
        // between now and the window's destruction.
        sessionStarted = false;
        EndDialog(dialog, 0);
        return FALSE;
    case ROUTE_NOT_HANDLED:
        break;
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        startDialog(dialog);
        return FALSE; // the focus is set already
    case WM_COMMAND:
        return routeCommand(dialog, wParam);
    case WM_TIMER:
        // Every tick is a press of Check Current Setting, whatever the timer,
        // and the poll has run by the time the tick returns.
        SendMessageA(dialog, WM_COMMAND, IDC_CHECK_CURRENT_SETTING, 0);
        return FALSE;
    case WM_SETCURSOR:
        // A dialog procedure answers through DWLP_MSGRESULT: TRUE there
        // keeps the default handling from putting the arrow back.
        if (sessionStarted && win32PlatformSetCursor(&platformContext, lParam)) {
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
