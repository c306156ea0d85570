// Command dispatch: the Enter key in the entry field. The typed line goes into the history and,
// unless it is one of the window's own words, to the interpreter in the OEM code page.
#include "link_state.h"

namespace {

bool IsWord(const char* text, const char* word) {
    return lstrcmpiA(text, word) == 0;
}

void AddToHistory(const char* text) {
    if (text[0] == '\0') return;
    if (SendMessageA(g_windows.history, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(text)) != CB_ERR) {
        return;
    }
    SendMessageA(g_windows.history, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

// Empties the pane and shows the empty pane at once, rather than the old text until the
// interpreter next writes.
void ClearPane() {
    SendMessageA(g_windows.pane, WM_SETREDRAW, FALSE, 0);
    SendMessageA(g_windows.pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(g_windows.pane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_windows.pane, nullptr, TRUE);
}

}  // namespace

void CommandDispatch(HWND entryField) {
    int length = static_cast<int>(SendMessageA(entryField, WM_GETTEXT, kCommandMaxChars + 1,
                                               reinterpret_cast<LPARAM>(g_commandBuffer)));
    if (length < 0) length = 0;
    if (length > kCommandMaxChars) length = kCommandMaxChars;
    g_commandBuffer[length] = '\0';

    if (IsWord(g_commandBuffer, "exit")) {
        AddToHistory(g_commandBuffer);
        // The close runs to its end, stop line and all, before SendMessage returns.
        SendMessageA(g_windows.main, WM_CLOSE, 0, 0);
        SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        return;
    }
    // A line that finds no room in the queue stays in the entry field for another Enter.
    const bool cls = IsWord(g_commandBuffer, "cls");
    const size_t count = cls ? 2 : static_cast<size_t>(length) + 2;
    if (!InputHasRoom(count)) return;
    AddToHistory(g_commandBuffer);
    if (cls) {
        ClearPane();
        QueueInput("\r\n", 2);
    } else {
        // The history keeps the ANSI text; the interpreter gets it in the OEM code page.
        lstrcatA(g_commandBuffer, "\r\n");
        CharToOemA(g_commandBuffer, g_commandBuffer);
        QueueInput(g_commandBuffer, count);
    }
    SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    FlushInput();
    ExpectOutput();
}
