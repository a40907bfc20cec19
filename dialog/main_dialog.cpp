// The main dialog's procedure: its start, the routing of commands and ticks
// to the core, the cut of an over-long number field, the cursors, the name
// of the forwarded-to field for screen readers, and a close kept until a
// held request's outcome is logged. What the user's input does during the
// hold is decided in held_input.cpp.
#include "main_dialog.h"

#include <type_traits>

#include "command_routing.h"
#include "forwarding_session.h"
#include "interrogation_poller.h"
#include "resource.h"
#include "status_copy.h"
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

// A close (the close box, Alt+F4, the system menu's Close) that came while
// a request was held: refused then, it ends the dialog once the request's
// outcome is logged.
bool closeWhenAnswered;
// The cut of a number field changes the field, which reports the change.
bool cuttingField;

// A screen reader names a field by the static text just before it in the
// z-order, and the template puts "Forwarded-to Number :" after its field.
// An invisible copy of the label goes just before the field: Tab and the
// arrow keys pass over invisible controls, so they go where the template
// sends them.
void nameForwardedToField(HWND dialog) {
    HWND field = GetDlgItem(dialog, IDC_FORWARDED_TO_NUMBER);
    HWND before = GetWindow(field, GW_HWNDPREV);
    if (before == nullptr) {
        return;
    }
    // The id the template's labels carry: IDC_STATIC, which a template keeps
    // as a word.
    HWND label = CreateWindowExA(
        0, "Static", FORWARDED_TO_LABEL, WS_CHILD | SS_LEFT, 0, 0, 0, 0, dialog,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(static_cast<WORD>(IDC_STATIC))),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)), nullptr);
    if (label != nullptr) {
        SetWindowPos(label, before, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

void startDialog(HWND dialog) {
    Platform platform = win32PlatformInit(&platformContext, dialog);
    forwardingSessionInit(&session, &platform);
    sessionStarted = true;

    SendMessageA(GetDlgItem(dialog, IDC_STATUS_LIST), WM_SETFONT,
                 reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), TRUE);
    statusLogStart(&session.log);
    statusCopyInstall(GetDlgItem(dialog, IDC_STATUS_LIST));
    // What a field shows is what a command sends: typing and pasting stop at
    // the 25 characters a number may have. Text another program sets with
    // WM_SETTEXT is not held to this; the field is cut in place as it changes.
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
// goes out. This is no command: it runs while a request is held too. It
// decides on a copy of the text, one character longer than a number may be,
// not on the length Windows reports, which an ANSI call may overstate for a
// Unicode control: the same text written back would change the field again,
// without end.
void keepNumberSendable(HWND dialog, int controlId) {
    if (cuttingField ||
        (controlId != IDC_SERVED_USER_NUMBER && controlId != IDC_FORWARDED_TO_NUMBER)) {
        return;
    }
    HWND field = GetDlgItem(dialog, controlId);
    char text[NUMBER_FIELD_SIZE + 1] = {};
    GetWindowTextA(field, text, sizeof text);
    if (text[NUMBER_MAX_LENGTH] == '\0') {
        return;
    }
    text[NUMBER_MAX_LENGTH] = '\0';
    cuttingField = true;
    SetWindowTextA(field, text);
    cuttingField = false;
}

INT_PTR routeCommand(HWND dialog, WPARAM wParam) {
    if (!sessionStarted) {
        return FALSE;
    }
    bool wasPolling = interrogationPollerTimerArmed(&session);
    CommandRoute route = commandRoutingDispatch(&session, static_cast<uint32_t>(wParam));
    if (closeWhenAnswered && !session.channel.requestHeld && route != ROUTE_END_DIALOG) {
        // The request a close waited for has ended and its outcome is
        // logged: the close takes effect now, as Cancel.
        closeWhenAnswered = false;
        route = commandRoutingDispatch(&session, COMMAND_CANCEL);
    }
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
    case WM_CLOSE:
        // The default posts Cancel, which the core refuses while a request
        // is held, and the close would be lost in any modal loop that runs
        // meanwhile (a drag of the title bar, the system menu), since such a
        // loop runs the whole queue, not the wait's rules.
        if (sessionStarted && session.channel.requestHeld) {
            closeWhenAnswered = true;
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
        if (sessionStarted &&
            win32PlatformSetCursor(session.channel.requestHeld,
                                   interrogationPollerTimerArmed(&session), lParam)) {
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
