// What the user's input does while the driver holds a request: the flags the
// wait asks each Windows for, what it serves, dispatches or drops, and the
// wait itself. A maintainer who changes what the user can do during a hold
// changes this file.
//
// Not covered: a modal loop that the user starts during a hold (a drag of the
// title bar, the system menu, its Move, the scroll bar's thumb) runs the
// whole queue until it ends, not these rules. A poll tick then reaches the
// core, which refuses it, and a close is carried out: the dialog's procedure
// keeps it until the request's outcome is logged.
#include "held_input.h"

namespace {

// While it waits for the driver, the thread still looks at its queue at
// least this often: Windows takes a window whose thread has not done so for
// 5 s for hung, ghosts it and offers to close the program.
constexpr DWORD QUEUE_CHECK_MS = 1000;
// Messages served in one round; a window that never validates, or a flood
// of input, cannot keep the wait from the event.
constexpr int MESSAGES_PER_ROUND = 32;

// What the wait wakes for and takes from the queue, spelt out from the flags
// Windows XP knows: the headers of a later Windows put more into QS_INPUT,
// and a Windows before 8 fails a wait or a PeekMessage that names a flag it
// does not know. Touch and pen (QS_TOUCH, QS_POINTER) are added at run time
// where Windows has them.
constexpr DWORD XP_INPUT = QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_KEY | QS_RAWINPUT;
constexpr DWORD POINTER_INPUT = 0x0800 | 0x1000; // QS_TOUCH | QS_POINTER, Windows 8
constexpr DWORD SERVED_ALWAYS = QS_SENDMESSAGE | QS_PAINT;
constexpr UINT takenFromQueue(DWORD input) {
    return PM_REMOVE | ((SERVED_ALWAYS | input) << 16);
}
// Only posted messages: what the system posts on its own for input the wait
// dropped.
constexpr UINT POSTED_ONLY = PM_REMOVE | PM_QS_POSTMESSAGE;
static_assert((SERVED_ALWAYS | XP_INPUT) == 0x467 && takenFromQueue(XP_INPUT) == 0x04670001 &&
                  POSTED_ONLY == 0x00980001,
              "the wait asks Windows XP only what it knows");
static_assert(takenFromQueue(XP_INPUT | POINTER_INPUT) == 0x1c670001,
              "Windows 8 adds touch and pen, nothing more");

static_assert(_WIN32_WINNT == 0x0501 && WINVER == 0x0501,
              "the program is built against the headers of Windows XP, the oldest it runs on");

// Windows 8's pointer messages, which the XP headers do not declare.
constexpr UINT POINTER_FIRST = 0x0241;   // WM_NCPOINTERUPDATE
constexpr UINT POINTER_NC_LAST = 0x0243; // ...DOWN, WM_NCPOINTERUP
constexpr UINT POINTER_DOWN = 0x0246;    // WM_POINTERDOWN
constexpr UINT POINTER_UP = 0x0247;      // WM_POINTERUP
constexpr UINT POINTER_LAST = 0x024F;    // WM_POINTERHWHEEL

// The title bar, the close box and the system menu button, by mouse, touch
// or pen: the window can be moved and closed while the driver works.
bool isFrameInput(UINT message) {
    return (message >= WM_NCMOUSEMOVE && message <= WM_NCMBUTTONDBLCLK) ||
           (message >= WM_NCXBUTTONDOWN && message <= WM_NCXBUTTONDBLCLK) ||
           (message >= POINTER_FIRST && message <= POINTER_NC_LAST);
}

// Presses that are no press on the dialog: Shift, Ctrl, Alt and the Windows
// keys, as in Alt+Tab to another window. Alt alone is the exception: its
// release, which is dispatched (below), may enter the keyboard menu, the
// system menu that Alt+Space opens too, which is allowed during a hold.
bool isModifier(WPARAM key) {
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU ||
           (key >= VK_LSHIFT && key <= VK_RMENU) || key == VK_LWIN || key == VK_RWIN;
}

enum HeldAction {
    DISPATCH,    // to the window, as the dialog's loop would
    DROP,        // silently
    BEEP,        // dropped, with a beep: a press that would have acted
    CLOSE,       // Alt+F4: as the close box
    SYSTEM_MENU, // Alt+Space: as a click on the title bar's icon
};

HeldAction heldAction(const MSG& message) {
    if (message.message == WM_PAINT || isFrameInput(message.message)) {
        return DISPATCH;
    }
    switch (message.message) {
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
    case POINTER_UP:
        // A press begun before the hold leaves the mouse captured (a button
        // keeps the capture until its release): its release ends it, and the
        // click it completes reaches the core, which refuses it. Any other
        // release would reach a control that saw no press, and a right
        // button's turns into a context menu, whose loop would hold the wait.
        return GetCapture() != nullptr ? DISPATCH : DROP;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        // The menu key's release makes the context menu: Windows says the
        // release generates WM_CONTEXTMENU, and Wine posts it as soon as the
        // release is taken from the queue, whatever is done with it. Dropping
        // the release covers the one; only the drain of posted context menus
        // below covers the other, and so is what the tests under Wine show.
        return message.wParam == VK_APPS ? DROP : DISPATCH;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        if ((message.lParam & (1L << 30)) != 0 || isModifier(message.wParam)) {
            return DROP; // a key's auto-repeat, or a modifier
        }
        if (message.message == WM_SYSKEYDOWN && (message.lParam & (1L << 29)) != 0) { // Alt
            if (message.wParam == VK_F4) {
                return CLOSE;
            }
            if (message.wParam == VK_SPACE) {
                return SYSTEM_MENU;
            }
        }
        // Escape among them: it is Cancel, and the request cannot be
        // cancelled.
        return BEEP;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
    case WM_XBUTTONDOWN:
    case WM_XBUTTONDBLCLK:
    case POINTER_DOWN:
        return BEEP;
    default: // moves, the wheel, raw input, a contact's updates
        return DROP;
    }
}

// Takes the messages of [first, last] that the flags select, at most a
// round's worth, and serves, dispatches or drops each as heldAction says.
void serveQueued(UINT first, UINT last, UINT flags) {
    MSG message;
    for (int served = 0;
         served < MESSAGES_PER_ROUND && PeekMessageA(&message, nullptr, first, last, flags);
         ++served) {
        if (message.message == WM_QUIT) {
            // Not ours to act on here: back in the queue for the loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        switch (heldAction(message)) {
        case DISPATCH:
            DispatchMessageA(&message);
            break;
        case BEEP:
            MessageBeep(MB_OK);
            break;
        case CLOSE:
            SendMessageA(GetAncestor(message.hwnd, GA_ROOT), WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case SYSTEM_MENU:
            SendMessageA(GetAncestor(message.hwnd, GA_ROOT), WM_SYSCOMMAND, SC_KEYMENU, ' ');
            break;
        case DROP:
            break;
        }
    }
}

// Serves what may not wait for the driver: messages other threads send to
// the dialog (PeekMessage delivers them itself), repaints, the frame's input
// from mouse and keyboard, and the releases that end a press begun before
// the wait. The user's other clicks, keys and touches on the dialog are
// taken out of the queue and dropped, with a beep for each press that would
// have acted: run later, they would act on a request that has since been
// answered (a second activation, a deactivation of what was just set), and
// left in the queue they would get the window taken for hung. Posted
// messages and timers stay queued, in their order, for the dialog's loop once
// the request has ended; commands sent meanwhile reach the core, which
// refuses them. Taken all the same: touch and pen by their numbers, the
// system menu's commands, and the context menus the system posts for input
// that was dropped.
void serveWhileHeld(DWORD input) {
    serveQueued(0, 0, takenFromQueue(input));
    // Touch and pen by their numbers as well, which no Windows before 8
    // ever posts: a compatibility mode that hides Windows 8 or later from
    // the version check would otherwise leave a tap queued, to click once
    // the request has ended. Wine has no touch input, so no test here sees
    // this; it stands on the documented messages alone.
    serveQueued(POINTER_FIRST, POINTER_LAST, PM_REMOVE);
    MSG message;
    // A command chosen from the system menu, which the menu posts: Move
    // starts its loop at once, as a drag of the title bar does, and Close
    // reaches the dialog's procedure, which keeps it until the answer.
    if (PeekMessageA(&message, nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, POSTED_ONLY)) {
        DispatchMessageA(&message);
    }
    // A context menu for the menu key's release would open once the request
    // has ended.
    while (PeekMessageA(&message, nullptr, WM_CONTEXTMENU, WM_CONTEXTMENU, POSTED_ONLY)) {
    }
}

} // namespace

// Touch and pen come as pointer messages from Windows 8 on, and turn into
// mouse input only when they are dispatched: the wait must take them too,
// or a tap would run once the request has ended. Before Windows 8 they come
// as mouse input.
DWORD heldInputOfThisWindows() {
    OSVERSIONINFOEXA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    ULONGLONG atLeast =
        VerSetConditionMask(VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL),
                            VER_MINORVERSION, VER_GREATER_EQUAL);
    bool pointers =
        VerifyVersionInfoA(&version, VER_MAJORVERSION | VER_MINORVERSION, atLeast) != FALSE;
    return XP_INPUT | (pointers ? POINTER_INPUT : 0);
}

DWORD heldInputWait(DWORD heldInput, HANDLE event, DWORD* error) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    DWORD woke;
    for (;;) {
        woke = MsgWaitForMultipleObjects(1, &event, FALSE, QUEUE_CHECK_MS,
                                         SERVED_ALWAYS | heldInput);
        if (woke != WAIT_OBJECT_0 + 1 && woke != WAIT_TIMEOUT) {
            break;
        }
        serveWhileHeld(heldInput);
    }
    *error = GetLastError();
    SetCursor(previous);
    return woke;
}
