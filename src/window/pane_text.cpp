// The pane's text as shown: the pane holds the interpreter's output decoded into UTF-16, and is
// read with the wide messages, its positions its own.
#include "pane_text.h"

PaneText::PaneText(HWND pane) {
    const auto length = static_cast<size_t>(SendMessageW(pane, WM_GETTEXTLENGTH, 0, 0));
    units_ = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(WCHAR)));
    if (units_) {
        count_ = static_cast<size_t>(
            SendMessageW(pane, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(units_)));
        units_[count_] = 0;
    }
}

PaneText::~PaneText() {
    if (units_) HeapFree(GetProcessHeap(), 0, units_);
}

int PaneLine(HWND pane, int line, WCHAR* out, int room) {
    if (line < 0) line = static_cast<int>(SendMessageW(pane, EM_GETLINECOUNT, 0, 0)) - 1;
    const LRESULT start = SendMessageW(pane, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
    if (start < 0) return -1;
    const auto length = static_cast<int>(SendMessageW(pane, EM_LINELENGTH, start, 0));
    if (length >= room || room > 0xFFFF) return -1;
    // EM_GETLINE finds the buffer's size in its first word, and adds no zero.
    const WORD size = static_cast<WORD>(room);
    CopyMemory(out, &size, sizeof(size));
    const auto got = static_cast<int>(
        SendMessageW(pane, EM_GETLINE, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(out)));
    const int count = got < length ? got : length;
    out[count] = 0;
    return count;
}
