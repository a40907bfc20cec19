// Drives the running "Call Forwarding Setting" dialog from another process
// through window messages only, and talks to the stand-in driver's test
// control device. Verbs come from the command line and run in order; each
// prints plain lines "<key> <fields...>" with free text always last, so a
// shell can parse them. The first failing verb prints "error <verb> <why>"
// and ends the run with exit code 1 (2 for a usage error).
//
//   probe wait 10000 set 1010 821 set 1009 739 click 1021 click 1032 lines
//
// "probe serve" takes such runs from standard input, a line each with its
// words between tabs, and ends each with "end CODE": one process for many
// questions, where starting a Wine process costs far more than asking.
#include <windows.h>
#include <oleacc.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cursor_names.h"
#include "probe_driver.h"
#include "probe_util.h"

namespace {

constexpr char DIALOG_TITLE[] = "Call Forwarding Setting";
constexpr int STATUS_LIST_ID = 1005;
constexpr int SERVED_USER_NUMBER_ID = 1010;
constexpr DWORD DEFAULT_FIND_MS = 15000;
constexpr int MAX_TEXT = 1024;

HWND dialog = nullptr;
// How long one message to the dialog may take before the probe gives up; an
// activation waits for the network, so this is generous.
constexpr DWORD MESSAGE_TIMEOUT_MS = 30000;

bool isDialogReady(HWND window) {
    if (!IsWindow(window) || !IsWindowVisible(window))
        return false;
    HWND list = GetDlgItem(window, STATUS_LIST_ID);
    if (list == nullptr || GetDlgItem(window, SERVED_USER_NUMBER_ID) == nullptr)
        return false;
    // The banner is logged while the dialog starts: once the list answers
    // with it, start-up is over.
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 1000, &count))
        return false;
    return static_cast<LRESULT>(count) >= 1;
}

enum PollEnd { POLL_DONE, POLL_TIMED_OUT, POLL_FAILED };
enum PollStep { STEP_DONE, STEP_NOT_YET, STEP_FAILED };

// Asks step() every 20 ms until it is done or fails, or timeoutMs has passed.
template <typename Step> PollEnd pollUntil(DWORD timeoutMs, Step step) {
    DWORD start = GetTickCount();
    for (;;) {
        switch (step()) {
        case STEP_DONE:
            return POLL_DONE;
        case STEP_FAILED:
            return POLL_FAILED;
        case STEP_NOT_YET:
            break;
        }
        if (GetTickCount() - start >= timeoutMs)
            return POLL_TIMED_OUT;
        Sleep(20);
    }
}

bool findDialog(DWORD timeoutMs) {
    return pollUntil(timeoutMs, [] {
               HWND window = FindWindowA(nullptr, DIALOG_TITLE);
               if (window == nullptr || !isDialogReady(window))
                   return STEP_NOT_YET;
               dialog = window;
               return STEP_DONE;
           }) == POLL_DONE;
}

bool needDialog() {
    if (dialog != nullptr && IsWindow(dialog))
        return true;
    dialog = nullptr;
    if (findDialog(DEFAULT_FIND_MS))
        return true;
    fail("no visible dialog titled \"%s\"", DIALOG_TITLE);
    return false;
}

HWND needControl(int id) {
    if (!needDialog())
        return nullptr;
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr)
        fail("no control %d", id);
    return control;
}

// Sends and waits for the answer; false (with an error) when the dialog does
// not answer in time, so a hung dialog ends the run instead of the probe.
bool send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, MESSAGE_TIMEOUT_MS,
                             &answer)) {
        fail("message 0x%04x not answered within %lu ms (error %lu)", message,
             static_cast<unsigned long>(MESSAGE_TIMEOUT_MS),
             static_cast<unsigned long>(GetLastError()));
        return false;
    }
    if (result != nullptr)
        *result = static_cast<LRESULT>(answer);
    return true;
}

bool windowText(HWND window, char* text, int size) {
    WCHAR wide[MAX_TEXT];
    LRESULT length = 0;
    if (!send(window, WM_GETTEXT, MAX_TEXT, reinterpret_cast<LPARAM>(wide), &length))
        return false;
    if (length < 0 || length >= MAX_TEXT)
        length = 0;
    wide[length] = 0;
    toNarrow(wide, text, size);
    return true;
}

// LB_GETTEXT goes as the wide variant: Wine marshals the narrow one across
// processes as UTF-16 and overruns a narrow-sized buffer.
enum LineRead { LINE_READ, LINE_GONE, LINE_FAILED };

// LINE_GONE when the line no longer exists: a poll tick of the running
// dialog may delete old lines between two messages of the probe.
LineRead statusLine(HWND list, int index, char* text, int size) {
    LRESULT length = 0;
    if (!send(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0, &length))
        return LINE_FAILED;
    if (length == LB_ERR)
        return LINE_GONE;
    if (length < 0 || length >= MAX_TEXT) {
        fail("status line %d is %ld characters long", index, static_cast<long>(length));
        return LINE_FAILED;
    }
    WCHAR wide[MAX_TEXT + 1];
    wide[0] = 0;
    if (!send(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(wide),
              &length))
        return LINE_FAILED;
    if (length == LB_ERR)
        return LINE_GONE;
    if (length < 0 || length >= MAX_TEXT)
        length = 0;
    wide[length] = 0;
    toNarrow(wide, text, size);
    return LINE_READ;
}

bool statusCount(int* count) {
    HWND list = needControl(STATUS_LIST_ID);
    if (list == nullptr)
        return false;
    LRESULT answer = 0;
    if (!send(list, LB_GETCOUNT, 0, 0, &answer))
        return false;
    *count = static_cast<int>(answer);
    return true;
}

// The last line, or an empty text for an empty list.
bool lastStatusLine(char* text, int size, int* count) {
    for (;;) {
        text[0] = 0;
        if (!statusCount(count))
            return false;
        if (*count == 0)
            return true;
        LineRead read = statusLine(GetDlgItem(dialog, STATUS_LIST_ID), *count - 1, text, size);
        if (read != LINE_GONE)
            return read == LINE_READ;
    }
}

// --- verbs -----------------------------------------------------------------

bool verbWait(char** args) {
    DWORD timeoutMs = 0;
    if (!parseMs(args[0], &timeoutMs))
        return false;
    DWORD start = GetTickCount();
    if (!findDialog(timeoutMs)) {
        fail("no visible dialog titled \"%s\" within %s ms", DIALOG_TITLE, args[0]);
        return false;
    }
    out("dialog ready %lu", static_cast<unsigned long>(GetTickCount() - start));
    return true;
}

bool verbGone(char** args) {
    DWORD timeoutMs = 0;
    if (!parseMs(args[0], &timeoutMs))
        return false;
    DWORD start = GetTickCount();
    if (pollUntil(timeoutMs, [] {
            return FindWindowA(nullptr, DIALOG_TITLE) == nullptr ? STEP_DONE : STEP_NOT_YET;
        }) != POLL_DONE) {
        fail("dialog still there after %s ms", args[0]);
        return false;
    }
    dialog = nullptr;
    out("dialog gone %lu", static_cast<unsigned long>(GetTickCount() - start));
    return true;
}

bool verbSleep(char** args) {
    DWORD ms = 0;
    if (!parseMs(args[0], &ms))
        return false;
    Sleep(ms);
    return true;
}

bool setText(const char* idText, const char* text) {
    int id = 0;
    if (!parseInt(idText, &id))
        return false;
    HWND control = needControl(id);
    if (control == nullptr)
        return false;
    WCHAR wide[MAX_TEXT];
    toWide(text, wide, MAX_TEXT);
    LRESULT ok = 0;
    if (!send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide), &ok))
        return false;
    if (!ok) {
        fail("control %d refused its text", id);
        return false;
    }
    return true;
}

bool verbSet(char** args) {
    return setText(args[0], args[1]);
}
bool verbClear(char** args) {
    return setText(args[0], "");
}

// BM_CLICK makes the button send its own notification, as a mouse click
// would; the answer comes once the dialog has handled the command, so the
// elapsed time shows how long the dialog was busy with it.
bool verbClick(char** args) {
    int id = 0;
    if (!parseInt(args[0], &id))
        return false;
    HWND control = needControl(id);
    if (control == nullptr)
        return false;
    DWORD start = GetTickCount();
    if (!send(control, BM_CLICK, 0, 0, nullptr))
        return false;
    out("clicked %d %lu", id, static_cast<unsigned long>(GetTickCount() - start));
    return true;
}

// Invalidates a control and waits until its thread has painted it again.
bool verbRepaint(char** args) {
    int id = 0;
    DWORD timeoutMs = 0;
    DWORD start = GetTickCount();
    HWND control =
        parseInt(args[0], &id) && parseMs(args[1], &timeoutMs) ? needControl(id) : nullptr;
    if (control == nullptr || !InvalidateRect(control, nullptr, TRUE) ||
        pollUntil(timeoutMs,
                  [control] {
                      return GetUpdateRect(control, nullptr, FALSE) ? STEP_NOT_YET : STEP_DONE;
                  }) != POLL_DONE ||
        GetTickCount() - start > timeoutMs) { // Wine's InvalidateRect can wait for the thread
        fail("control %s not repainted within %s ms", args[0], args[1]);
        return false;
    }
    out("repainted %d %lu", id, static_cast<unsigned long>(GetTickCount() - start));
    return true;
}

bool sendCommand(int id, int code) {
    if (!needDialog())
        return false;
    HWND control = GetDlgItem(dialog, id);
    WPARAM wParam = MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(code));
    DWORD start = GetTickCount();
    if (!send(dialog, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(control), nullptr))
        return false;
    out("commanded %d %d %lu", id, code, static_cast<unsigned long>(GetTickCount() - start));
    return true;
}

bool verbCommand(char** args) {
    int id = 0;
    int code = 0;
    if (!parseInt(args[0], &id) || !parseInt(args[1], &code))
        return false;
    return sendCommand(id, code);
}

bool verbTimer(char** args) {
    int id = 0;
    if (!parseInt(args[0], &id))
        return false;
    if (!needDialog())
        return false;
    DWORD start = GetTickCount();
    if (!send(dialog, WM_TIMER, static_cast<WPARAM>(id), 0, nullptr))
        return false;
    out("timed %d %lu", id, static_cast<unsigned long>(GetTickCount() - start));
    return true;
}

// Ends the dialog the way Escape or the close box would. Posted: the answer
// would race with the window's destruction.
bool verbClose(char** args) {
    if (!needDialog())
        return false;
    bool byCommand = strcmp(args[0], "cancel") == 0;
    bool byOk = strcmp(args[0], "ok") == 0;
    bool byCloseBox = strcmp(args[0], "wmclose") == 0;
    if (!byCommand && !byOk && !byCloseBox) {
        fail("close takes cancel, ok or wmclose, not \"%s\"", args[0]);
        return false;
    }
    BOOL posted = byCloseBox ? PostMessageW(dialog, WM_CLOSE, 0, 0)
                             : PostMessageW(dialog, WM_COMMAND, byOk ? IDOK : IDCANCEL, 0);
    if (!posted) {
        fail("cannot post to the dialog (error %lu)", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    return true;
}

// The whole list as one consistent snapshot: read again when the list
// changed while it was being read (a poll tick of the running dialog).
bool verbLines(char**) {
    constexpr int MAX_LINES = 1024;
    static char lines[MAX_LINES][MAX_TEXT];
    for (int attempt = 0; attempt < 50; ++attempt) {
        int count = 0;
        if (!statusCount(&count))
            return false;
        if (count > MAX_LINES) {
            fail("%d status lines, more than the probe reads", count);
            return false;
        }
        HWND list = GetDlgItem(dialog, STATUS_LIST_ID);
        bool changed = false;
        for (int i = 0; i < count && !changed; ++i) {
            LineRead read = statusLine(list, i, lines[i], MAX_TEXT);
            if (read == LINE_FAILED)
                return false;
            changed = read == LINE_GONE;
        }
        int countAfter = 0;
        if (!statusCount(&countAfter))
            return false;
        if (changed || countAfter != count)
            continue;
        out("count %d", count);
        for (int i = 0; i < count; ++i)
            out("line %d %s", i, lines[i]);
        return true;
    }
    fail("the status list kept changing while it was read");
    return false;
}

bool verbCount(char**) {
    int count = 0;
    if (!statusCount(&count))
        return false;
    out("count %d", count);
    return true;
}

// Waits until the last status line is the given text.
bool verbUntil(char** args) {
    DWORD timeoutMs = 0;
    if (!parseMs(args[1], &timeoutMs))
        return false;
    DWORD start = GetTickCount();
    char text[MAX_TEXT];
    int count = 0;
    PollEnd end = pollUntil(timeoutMs, [&] {
        if (!lastStatusLine(text, MAX_TEXT, &count))
            return STEP_FAILED;
        return strcmp(text, args[0]) == 0 ? STEP_DONE : STEP_NOT_YET;
    });
    if (end == POLL_FAILED)
        return false;
    if (end == POLL_TIMED_OUT) {
        fail("last line still \"%s\" (of %d) after %s ms", text, count, args[1]);
        return false;
    }
    out("until %lu %d", static_cast<unsigned long>(GetTickCount() - start), count);
    return true;
}

// Waits until the status list holds at least N lines.
bool verbAtLeast(char** args) {
    int wanted = 0;
    DWORD timeoutMs = 0;
    if (!parseInt(args[0], &wanted) || !parseMs(args[1], &timeoutMs))
        return false;
    DWORD start = GetTickCount();
    int count = 0;
    PollEnd end = pollUntil(timeoutMs, [&] {
        if (!statusCount(&count))
            return STEP_FAILED;
        return count >= wanted ? STEP_DONE : STEP_NOT_YET;
    });
    if (end == POLL_FAILED)
        return false;
    if (end == POLL_TIMED_OUT) {
        fail("%d status lines, not %d, after %s ms", count, wanted, args[1]);
        return false;
    }
    out("atleast %lu %d", static_cast<unsigned long>(GetTickCount() - start), count);
    return true;
}

bool verbCheck(char** args) {
    int id = 0;
    if (!parseInt(args[0], &id))
        return false;
    HWND control = needControl(id);
    if (control == nullptr)
        return false;
    // The check state, and 4 while the button is held down.
    LRESULT state = 0;
    if (!send(control, BM_GETSTATE, 0, 0, &state))
        return false;
    out("check %d %ld", id,
        static_cast<long>(state & (BST_CHECKED | BST_INDETERMINATE | BST_PUSHED)));
    return true;
}

bool verbText(char** args) {
    int id = 0;
    if (!parseInt(args[0], &id))
        return false;
    HWND control = needControl(id);
    if (control == nullptr)
        return false;
    char text[MAX_TEXT];
    if (!windowText(control, text, MAX_TEXT))
        return false;
    out("text %d %s", id, text);
    return true;
}

// Every child in creation (tab) order, positions in the dialog's client
// coordinates: "control <id> <class> <style> <exstyle> <x> <y> <w> <h> <text>".
bool verbControls(char**) {
    if (!needDialog())
        return false;
    int index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT), ++index) {
        char className[64];
        if (GetClassNameA(child, className, sizeof className) == 0)
            className[0] = 0;
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        char text[MAX_TEXT];
        if (!windowText(child, text, MAX_TEXT))
            return false;
        out("control %d %s %08lx %08lx %ld %ld %ld %ld %s", GetDlgCtrlID(child), className,
            static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)),
            static_cast<unsigned long>(GetWindowLongA(child, GWL_EXSTYLE)), rect.left, rect.top,
            rect.right - rect.left, rect.bottom - rect.top, text);
    }
    out("controls %d", index);
    return true;
}

// The dialog's window and client rectangles on the screen, its styles and
// its title.
bool verbWindow(char**) {
    if (!needDialog())
        return false;
    RECT window;
    RECT client;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    char title[MAX_TEXT];
    if (!windowText(dialog, title, MAX_TEXT))
        return false;
    out("window %ld %ld %ld %ld", window.left, window.top, window.right, window.bottom);
    out("client %ld %ld %ld %ld", client.left, client.top, client.right, client.bottom);
    out("style %08lx %08lx", static_cast<unsigned long>(GetWindowLongA(dialog, GWL_STYLE)),
        static_cast<unsigned long>(GetWindowLongA(dialog, GWL_EXSTYLE)));
    out("title %s", title);
    return true;
}

INT_PTR CALLBACK measuringDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// The dialog base units of the template's font, measured on a hidden dialog
// of this process made with the same font, so positions in dialog units can
// be turned into pixels independently of the program under test.
bool verbUnits(char**) {
    alignas(4) WORD buffer[64] = {};
    DLGTEMPLATE* header = reinterpret_cast<DLGTEMPLATE*>(buffer);
    header->style = WS_POPUP | DS_SETFONT;
    header->cx = 10;
    header->cy = 10;
    WORD* tail = reinterpret_cast<WORD*>(header + 1);
    *tail++ = 0; // no menu
    *tail++ = 0; // predefined dialog class
    *tail++ = 0; // no title
    *tail++ = 8; // point size
    const char face[] = "System";
    for (const char* c = face; *c != 0; ++c)
        *tail++ = static_cast<WORD>(*c);
    *tail++ = 0;
    HWND probeDialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), header, nullptr,
                                                  measuringDialogProc, 0);
    if (probeDialog == nullptr) {
        fail("cannot create a measuring dialog (error %lu)",
             static_cast<unsigned long>(GetLastError()));
        return false;
    }
    RECT units = {0, 0, 4, 8};
    MapDialogRect(probeDialog, &units);
    DestroyWindow(probeDialog);
    out("units %ld %ld", units.right, units.bottom);
    return true;
}

bool verbFocus(char**) {
    if (!needDialog())
        return false;
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) {
        fail("no thread information (error %lu)", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    int id = 0;
    if (info.hwndFocus != nullptr && GetParent(info.hwndFocus) == dialog) {
        id = GetDlgCtrlID(info.hwndFocus);
    }
    out("focus %d", id);
    out("active %d", info.hwndActive == dialog ? 1 : 0);
    return true;
}

// The name a screen reader reads for a control: "accname ID NAME".
bool verbAccName(char** args) {
    int id = 0;
    HWND control = parseInt(args[0], &id) ? needControl(id) : nullptr;
    IAccessible* object = nullptr;
    VARIANT self = {}; // lVal 0: CHILDID_SELF
    BSTR name = nullptr;
    // Not IID_IAccessible, which the x86_64 import library makes a call stub.
    if (control == nullptr || FAILED(CoInitialize(nullptr)) ||
        FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&object)))) {
        fail("no accessible object for control %s", args[0]);
        return false;
    }
    self.vt = VT_I4;
    out("accname %d %ls", id, object->get_accName(self, &name) == S_OK && name ? name : L"");
    SysFreeString(name);
    object->Release();
    return true;
}

// Where a mouse click closes the dialog: the middle of the caption's close
// button, found by asking the window itself what lies under each point of
// its caption row. "closebox X Y" in screen coordinates.
bool verbCloseBox(char**) {
    if (!needDialog())
        return false;
    RECT window;
    RECT client;
    GetWindowRect(dialog, &window);
    GetClientRect(dialog, &client);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
    for (LONG y = window.top; y < client.top; ++y) {
        LONG first = -1;
        LONG last = -1;
        for (LONG x = window.left; x < window.right; ++x) {
            LRESULT hit = 0;
            if (!send(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y), &hit))
                return false;
            if (hit == HTCLOSE) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        if (first >= 0) {
            // The first row that hits is the button's top edge: take the
            // middle of the button, which is about as tall as it is wide.
            out("closebox %ld %ld", (first + last) / 2, y + (last - first) / 2);
            return true;
        }
    }
    fail("no close button on the caption");
    return false;
}

// What the status list shows: the first line in view, how many whole lines
// fit, and how many there are. The newest line is in view when
// top + rows >= count.
bool verbView(char**) {
    HWND list = needControl(STATUS_LIST_ID);
    if (list == nullptr)
        return false;
    LRESULT top = 0, count = 0, height = 0;
    if (!send(list, LB_GETTOPINDEX, 0, 0, &top) || !send(list, LB_GETCOUNT, 0, 0, &count) ||
        !send(list, LB_GETITEMHEIGHT, 0, 0, &height))
        return false;
    RECT client = {};
    GetClientRect(list, &client);
    long rows = height > 0 ? (client.bottom - client.top) / static_cast<long>(height) : 0;
    out("view %ld %ld %ld", static_cast<long>(top), rows, static_cast<long>(count));
    return true;
}

// The cursor the system shows now, named by the dialog's own process: a
// hook loads a small library there that leaves the handles of its standard
// cursors on the dialog (see cursor_names.cpp).
bool verbCursor(char**) {
    if (!needDialog())
        return false;
    // Found beside the probe: the program's own folder is searched first.
    HMODULE library = LoadLibraryA(CURSOR_NAMES_LIBRARY);
    FARPROC hook = library != nullptr ? GetProcAddress(library, CURSOR_NAMES_HOOK) : nullptr;
    HHOOK installed =
        hook == nullptr
            ? nullptr
            : SetWindowsHookExA(WH_CALLWNDPROC,
                                reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(hook)), library,
                                GetWindowThreadProcessId(dialog, nullptr));
    bool asked = installed != nullptr &&
                 send(dialog, RegisterWindowMessageA(CURSOR_NAMES_MESSAGE), 0, 0, nullptr);
    if (installed != nullptr)
        UnhookWindowsHookEx(installed);
    if (library != nullptr)
        FreeLibrary(library);
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    if (!asked || !GetCursorInfo(&info)) {
        fail("no cursor read through %s (error %lu)", CURSOR_NAMES_LIBRARY,
             static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const char* name = "other";
    for (const StandardCursor& cursor : STANDARD_CURSORS) {
        HANDLE own = GetPropA(dialog, cursor.property);
        if (own == nullptr) {
            fail("the dialog's process did not name its cursors");
            return false;
        }
        if (own == info.hCursor)
            name = cursor.name;
    }
    out("cursor %s", name);
    return true;
}

// Where status line I is drawn, in the dialog's client coordinates, for
// looking at a screenshot: "itemrect I L T R B TOP" with TOP the first line
// in view.
bool verbItemRect(char** args) {
    int index = 0;
    if (!parseInt(args[0], &index))
        return false;
    HWND list = needControl(STATUS_LIST_ID);
    if (list == nullptr)
        return false;
    RECT rect = {};
    LRESULT ok = 0;
    if (!send(list, LB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&rect),
              &ok))
        return false;
    if (ok == LB_ERR) {
        fail("no status line %d", index);
        return false;
    }
    LRESULT top = 0;
    if (!send(list, LB_GETTOPINDEX, 0, 0, &top))
        return false;
    MapWindowPoints(list, dialog, reinterpret_cast<POINT*>(&rect), 2);
    out("itemrect %d %ld %ld %ld %ld %ld", index, rect.left, rect.top, rect.right, rect.bottom,
        static_cast<long>(top));
    return true;
}

// Context menus are top-level windows of the class "#32768": "menus N"
// visible ones.
bool verbMenus(char**) {
    int count = 0;
    for (HWND menu = nullptr; (menu = FindWindowExA(nullptr, menu, "#32768", nullptr)) != nullptr;)
        count += IsWindowVisible(menu) ? 1 : 0;
    out("menus %d", count);
    return true;
}

// Whether the dialog's thread runs a move or size loop: "movesize 0|1".
bool verbMoveSize(char**) {
    GUITHREADINFO info = {sizeof info, 0, {}, {}, {}, {}, {}, {}, {}};
    bool read = needDialog() && GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    read ? out("movesize %d", (info.flags & GUI_INMOVESIZE) != 0) : fail("no thread information");
    return read;
}

// The dialog's thread, as Wine's traces name it, and where its program is
// loaded: what tells the program's traced calls from those of others.
bool verbThread(char**) {
    if (!needDialog())
        return false;
    out("thread %04lx %p", GetWindowThreadProcessId(dialog, nullptr),
        reinterpret_cast<void*>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)));
    return true;
}

// Another program holding the clipboard for MS, emptied, while Ctrl+C's
// character is posted to the status list.
bool verbHoldClipboard(char** args) {
    DWORD ms = 0;
    HWND list = needControl(STATUS_LIST_ID);
    bool held = list != nullptr && parseMs(args[0], &ms) && OpenClipboard(nullptr);
    if (held && EmptyClipboard() && PostMessageA(list, WM_CHAR, 3, 0))
        Sleep(ms);
    held ? (void)CloseClipboard() : fail("clipboard not held");
    return held;
}

// The clipboard's text, byte for byte, once it can be opened and holds
// text within MS (the program may be copying): "clipboard HEX".
bool verbClipboard(char** args) {
    DWORD ms = 0;
    char hex[2 * MAX_TEXT * 8 + 1] = "";
    DWORD error = 0;
    if (!parseMs(args[0], &ms))
        return false;
    if (pollUntil(ms, [&] {
            if (!OpenClipboard(nullptr)) {
                error = GetLastError();
                return STEP_NOT_YET;
            }
            HANDLE data = GetClipboardData(CF_TEXT);
            const unsigned char* text = static_cast<const unsigned char*>(GlobalLock(data));
            for (int i = 0; text != nullptr && text[i] != 0 && i < MAX_TEXT * 8; ++i)
                snprintf(hex + 2 * i, 3, "%02x", text[i]);
            if (text != nullptr)
                GlobalUnlock(data);
            CloseClipboard();
            error = 0;
            return text != nullptr ? STEP_DONE : STEP_NOT_YET;
        }) != POLL_DONE) {
        error != 0 ? fail("clipboard not opened within %s ms (error %lu)", args[0],
                          static_cast<unsigned long>(error))
                   : fail("no text on the clipboard within %s ms", args[0]);
        return false;
    }
    out("clipboard %s", hex);
    return true;
}

// --- the table of verbs ----------------------------------------------------

struct Verb {
    const char* name;
    int argumentCount;
    bool (*run)(char** args);
    const char* usage;
};

const Verb VERBS[] = {
    {"wait", 1, verbWait, "wait MS            until the dialog is visible and its list answers"},
    {"gone", 1, verbGone, "gone MS            until no window has the dialog's title"},
    {"sleep", 1, verbSleep, "sleep MS"},
    {"set", 2, verbSet, "set ID TEXT        WM_SETTEXT"},
    {"clear", 1, verbClear, "clear ID           WM_SETTEXT with an empty text"},
    {"click", 1, verbClick, "click ID           BM_CLICK, then: clicked ID MS"},
    {"repaint", 2, verbRepaint,
     "repaint ID MS      invalidate a control, until it is painted again"},
    {"command", 2, verbCommand, "command ID CODE    WM_COMMAND from that control"},
    {"timer", 1, verbTimer, "timer ID           WM_TIMER with that identifier"},
    {"close", 1, verbClose, "close cancel|ok|wmclose"},
    {"lines", 0, verbLines, "lines              count N, then line I TEXT for each"},
    {"count", 0, verbCount, "count              count N"},
    {"until", 2, verbUntil, "until TEXT MS      until the last line is TEXT"},
    {"atleast", 2, verbAtLeast, "atleast N MS       until the list holds at least N lines"},
    {"check", 1, verbCheck, "check ID           check ID STATE: 1 checked, +4 held down"},
    {"text", 1, verbText, "text ID            text ID TEXT"},
    {"controls", 0, verbControls, "controls           control ID CLASS STYLE EXSTYLE X Y W H TEXT"},
    {"window", 0, verbWindow, "window             window/client rectangles, style, title"},
    {"units", 0, verbUnits, "units              dialog base units of System 8"},
    {"focus", 0, verbFocus, "focus              focus ID, active 0|1"},
    {"accname", 1, verbAccName, "accname ID         accname ID NAME, as a screen reader reads it"},
    {"closebox", 0, verbCloseBox,
     "closebox           closebox X Y, the close button's middle on screen"},
    {"itemrect", 1, verbItemRect,
     "itemrect I         itemrect I L T R B (dialog client), top index"},
    {"view", 0, verbView, "view               view TOP ROWS COUNT of the status list"},
    {"cursor", 0, verbCursor,
     "cursor             cursor NAME: arrow, appstarting, wait, ibeam or other"},
    {"menus", 0, verbMenus, "menus              menus N: context menus open"},
    {"clipboard", 1, verbClipboard, "clipboard MS       clipboard HEX: its text, once there"},
    {"holdclipboard", 1, verbHoldClipboard, "holdclipboard MS   held, emptied, Ctrl+C posted"},
    {"movesize", 0, verbMoveSize, "movesize           movesize 1: the dialog's thread moves"},
    {"thread", 0, verbThread, "thread             thread TID BASE: the dialog's, its program's"},
    {"repeat", 1, nullptr, "repeat N VERB ...  runs the next verb N times"},
    {"drv-reset", 0, driverReset, "drv-reset          stand-in back to its start state"},
    {"drv-config", 2, driverConfigure,
     "drv-config delay|timeout|idle MS, unreachable N,N|none, forward P:S:SERVED:TO, "
     "failset|pendquery 1|0, canceldelay MS"},
    {"drv-received", 0, driverReceived, "drv-received       received N, then request ... HEX"},
    {"drv-stats", 0, driverStatistics, "drv-stats          stat KEY VALUE lines"},
    {"drv-fill", 0, driverFill,
     "drv-fill           fill the driver's queue until it refuses: filled N ERROR"},
    {"drv-release", 0, driverRelease,
     "drv-release        cancel what drv-fill left: released N CANCELLED"},
    {"drv-forwardings", 0, driverForwardings,
     "drv-forwardings    forwardings N, then forwarding P S SERVED TO"},
};

void usage() {
    fprintf(stderr, "usage: probe VERB [ARGS] [VERB [ARGS] ...] | probe serve\n");
    for (const Verb& verb : VERBS)
        fprintf(stderr, "  %s\n", verb.usage);
}

int runVerbs(int argc, char** argv) {
    if (argc < 2) {
        usage();
        return 2;
    }
    int i = 1;
    int repeat = 1;
    while (i < argc) {
        const Verb* verb = nullptr;
        for (const Verb& candidate : VERBS) {
            if (strcmp(candidate.name, argv[i]) == 0)
                verb = &candidate;
        }
        if (verb == nullptr || i + verb->argumentCount >= argc) {
            fprintf(stderr, "probe: unknown verb or missing arguments at \"%s\"\n", argv[i]);
            usage();
            return 2;
        }
        setVerb(verb->name);
        if (verb->run == nullptr) {
            if (!parseInt(argv[i + 1], &repeat) || repeat < 0)
                return 2;
        } else {
            for (int n = 0; n < repeat; ++n) {
                if (!verb->run(argv + i + 1))
                    return 1;
            }
            repeat = 1;
        }
        i += 1 + verb->argumentCount;
    }
    return 0;
}

// Each line a run of its own, as if the probe were started for it: the
// dialog is looked for again, since the program may have been restarted.
// A line too long or with too many words is refused whole, never split.
int serve(char* name) {
    static char line[8192];
    char* words[512];
    while (fgets(line, sizeof line, stdin) != nullptr) {
        bool whole = strchr(line, '\n') != nullptr || feof(stdin);
        for (int c = 0; !whole && c != '\n' && c != EOF;)
            c = getchar();
        line[strcspn(line, "\r\n")] = 0;
        int count = 0;
        words[count++] = name;
        char* word = line;
        while (word != nullptr && count < 512) {
            words[count++] = word;
            if ((word = strchr(word, '\t')) != nullptr)
                *word++ = 0;
        }
        dialog = nullptr;
        if (whole && word == nullptr) {
            out("end %d", runVerbs(count, words));
            continue;
        }
        setVerb("serve");
        fail("a run's line holds at most %d bytes and %d words; not run", int(sizeof line) - 2, 511);
        out("end 2");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return argc == 2 && strcmp(argv[1], "serve") == 0 ? serve(argv[0]) : runVerbs(argc, argv);
}
