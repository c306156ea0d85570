// Command dispatch: the Enter key in the entry field. The typed line goes into the history and,
// unless it is one of the window's own words, to the interpreter in the OEM code page.
#include "link.h"

namespace {

bool IsWord(const char* text, const char* word) {
    return lstrcmpiA(text, word) == 0;
}

void AddToHistory(const char* text) {
    if (text[0] == '\0') return;
    if (SendMessageA(g_commandCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(text)) != CB_ERR) {
        return;
    }
    SendMessageA(g_commandCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

// Empties the pane and shows the empty pane at once, rather than the old text until the
// interpreter next writes.
void ClearPane() {
    SendMessageA(g_outputPane, WM_SETREDRAW, FALSE, 0);
    SendMessageA(g_outputPane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(g_outputPane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_outputPane, nullptr, TRUE);
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
        SendMessageA(g_mainWindow, WM_CLOSE, 0, 0);
    } else if (IsWord(g_commandBuffer, "cls")) {
        // A line that finds no room in the queue stays in the entry field for another Enter.
        if (!QueueInput(kLineEnd, 2)) return;
        AddToHistory(g_commandBuffer);
        ClearPane();
    } else {
        DWORD count = static_cast<DWORD>(length) + 2;
        if (!InputHasRoom(count)) return;
        // The history keeps the ANSI text; the interpreter gets it in the OEM code page.
        AddToHistory(g_commandBuffer);
        lstrcatA(g_commandBuffer, kLineEnd);
        CharToOemA(g_commandBuffer, g_commandBuffer);
        QueueInput(g_commandBuffer, count);
    }
    SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    FlushInput();
    // The answer to a line usually follows at once.
    if (g_inputWrite) LookForOutputSoon(kEarlyLookMs);
}
