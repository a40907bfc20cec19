#include "main_dialog.h"

#include <type_traits>

#include "command_routing.h"
#include "forwarding_session.h"
#include "interrogation_poller.h"
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
// The program starts without the C runtime, so no constructor ever runs: the
// run state is right at start only because it is zero-initialised by the
// loader, which holds only while it needs no construction.
static_assert(std::is_trivially_default_constructible_v<Win32Platform> &&
                  std::is_trivially_default_constructible_v<ForwardingSession>,
              "the run state must be constant-initialised");

// A screen reader names a field by the static text that comes just before it
// in the z-order. The template puts "Forwarded-to Number :" after its field,
// so it is moved to just before it; the tab stops keep their order. The label
// starts no group there, so the field stays in the group of the buttons
// before it, as the arrow keys have always found it.
void nameForwardedToField(HWND dialog) {
    HWND field = GetDlgItem(dialog, IDC_FORWARDED_TO_NUMBER);
    HWND label = GetWindow(field, GW_HWNDNEXT);
    HWND before = GetWindow(field, GW_HWNDPREV);
    if (label == nullptr || before == nullptr) {
        return;
    }
    SetWindowPos(label, before, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowLongPtrA(label, GWL_STYLE, GetWindowLongPtrA(label, GWL_STYLE) & ~WS_GROUP);
}

void startDialog(HWND dialog) {
    Platform platform = win32PlatformInit(&platformContext, dialog);
    forwardingSessionInit(&session, &platform);
    sessionStarted = true;

    SendMessageA(GetDlgItem(dialog, IDC_STATUS_LIST), WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), TRUE);
    statusLogStart(&session.log);
    // What a field shows is what a command sends: typing and pasting stop at
    // the 25 characters a number may have. Text another program sets with
    // WM_SETTEXT is not held to this; the commands cut it.
    const int numberFields[] = {IDC_SERVED_USER_NUMBER, IDC_FORWARDED_TO_NUMBER};
    for (int field : numberFields) {
        SendDlgItemMessageA(dialog, field, EM_LIMITTEXT, NUMBER_MAX_LENGTH, 0);
    }
    nameForwardedToField(dialog);
    SetFocus(GetDlgItem(dialog, IDC_SERVED_USER_NUMBER));
    // The control byte starts at 0, which is "Immediately".
    SendMessageA(GetDlgItem(dialog, IDC_IMMEDIATELY), BM_SETCHECK, BST_CHECKED, 0);
}

// Typing and pasting stop at 25 characters, but text another program sets
// (automation, dictation) does not: a field holding more is cut in place to
// the characters a command would send, so the field never shows more than
// goes out. This is no command: it runs while a request is held too. The
// cut text changes the field again, which then holds no more than 25.
void keepNumberSendable(HWND dialog, int controlId) {
    if (controlId != IDC_SERVED_USER_NUMBER && controlId != IDC_FORWARDED_TO_NUMBER) {
        return;
    }
    HWND field = GetDlgItem(dialog, controlId);
    if (GetWindowTextLengthA(field) <= static_cast<int>(NUMBER_MAX_LENGTH)) {
        return;
    }
    char kept[NUMBER_MAX_LENGTH + 1];
    GetWindowTextA(field, kept, sizeof kept);
    SetWindowTextA(field, kept);
}

INT_PTR routeCommand(HWND dialog, WPARAM wParam) {
    if (!sessionStarted) {
        return FALSE;
    }
    bool wasPolling = interrogationPollerTimerArmed(&session);
    CommandRoute route = commandRoutingDispatch(&session, static_cast<uint32_t>(wParam));
    if (interrogationPollerTimerArmed(&session) != wasPolling) {
        // A check started or ended polling: the pointer shows it at once.
        win32PlatformRefreshCursor(dialog);
    }
    switch (route) {
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
        if (HIWORD(wParam) == EN_CHANGE) {
            keepNumberSendable(dialog, LOWORD(wParam));
        }
        return routeCommand(dialog, wParam);
    case WM_NEXTDLGCTL:
        // The arrow keys move on from Check Current Setting to the control
        // after it, which is now the moved label; a label takes no focus, so
        // it goes on to the label's field, as it did before the move.
        if (LOWORD(lParam) != 0 && reinterpret_cast<HWND>(wParam) != nullptr &&
            reinterpret_cast<HWND>(wParam) ==
                GetWindow(GetDlgItem(dialog, IDC_FORWARDED_TO_NUMBER), GW_HWNDPREV)) {
            SendMessageA(dialog, WM_NEXTDLGCTL,
                         reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_FORWARDED_TO_NUMBER)),
                         TRUE);
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        // Every tick is a press of Check Current Setting, whatever the timer,
        // and the poll has run by the time the tick returns.
        SendMessageA(dialog, WM_COMMAND, IDC_CHECK_CURRENT_SETTING, 0);
        return FALSE;
    case WM_SETCURSOR:
        // A dialog procedure answers through DWLP_MSGRESULT: TRUE there
        // keeps the default handling from putting the arrow back.
        if (sessionStarted && win32PlatformSetCursor(session.channel.requestHeld,
                                                     interrogationPollerTimerArmed(&session),
                                                     lParam)) {
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
