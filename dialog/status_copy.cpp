// Ctrl+C on the status list: every line, in the order shown, as text on the
// clipboard, one line each, separated by CR LF. Copying changes nothing else:
// no line is added to the list. While a request is held the key is dropped
// with the user's other presses, so it never reaches the list.
#include "status_copy.h"

namespace {

WNDPROC listProcedure;

// The clipboard's own copy of the text; NULL when a line could not be read
// or the memory could not be had.
HGLOBAL linesAsText(HWND list) {
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    SIZE_T size = 1; // the terminator
    for (LRESULT line = 0; line < count; ++line) {
        LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(line), 0);
        if (length < 0) { // LB_ERR
            return nullptr;
        }
        size += static_cast<SIZE_T>(length) + 2;
    }
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    char* text = memory != nullptr ? static_cast<char*>(GlobalLock(memory)) : nullptr;
    if (text == nullptr) {
        GlobalFree(memory); // NULL is ignored
        return nullptr;
    }
    // Each line's own terminator lands where the separator or the text's
    // terminator goes, within the size counted above.
    char* end = text;
    for (LRESULT line = 0; line < count; ++line) {
        if (line > 0) {
            *end++ = '\r';
            *end++ = '\n';
        }
        LRESULT copied = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(line),
                                      reinterpret_cast<LPARAM>(end));
        end += copied > 0 ? copied : 0;
    }
    *end = '\0';
    GlobalUnlock(memory);
    return memory;
}

// Another program may hold the clipboard open for a moment: clipboard
// history, a remote desktop's redirection and clipboard managers open it
// right after every change. It is tried for about a second, as well-kept
// libraries do, before the copy is given up.
constexpr int CLIPBOARD_TRIES = 10;
constexpr DWORD CLIPBOARD_RETRY_MS = 100;

bool openClipboard(HWND owner) {
    for (int tries = 1;; ++tries) {
        if (OpenClipboard(owner)) {
            return true;
        }
        if (tries == CLIPBOARD_TRIES) {
            return false;
        }
        Sleep(CLIPBOARD_RETRY_MS);
    }
}

// A clipboard still held after that, or no memory: a beep says nothing was
// copied.
void copyLines(HWND list) {
    HGLOBAL text = linesAsText(list);
    bool copied = false;
    if (text != nullptr && openClipboard(list)) {
        copied = EmptyClipboard() && SetClipboardData(CF_TEXT, text) != nullptr;
        CloseClipboard();
    }
    if (!copied) {
        GlobalFree(text); // the clipboard's once set; NULL is ignored
        MessageBeep(MB_ICONWARNING);
    }
}

LRESULT CALLBACK statusListProcedure(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    // Ctrl+C arrives as the character 3 once the key is translated.
    if (message == WM_CHAR && wParam == 3) {
        copyLines(list);
        return 0;
    }
    return CallWindowProcA(listProcedure, list, message, wParam, lParam);
}

} // namespace

void statusCopyInstall(HWND list) {
    // On failure the list keeps its own procedure, and this one is never
    // called.
    listProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(statusListProcedure)));
}
