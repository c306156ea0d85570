// Command dispatch: the Enter key in the entry field. The typed line goes into the history and,
// unless it is one of the window's own words, to the interpreter in the OEM code page. A line
// that cannot reach the interpreter as typed goes nowhere.
#include "command_text.h"
#include "link.h"

namespace {

// The entry field's text: one character more than the longest line, so that a longer text is
// seen as such and never sent cut.
char s_typed[kCommandMaxChars + 2];

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

// The text stays in the field for the user to mend, what keeps it back selected and in view.
void RefuseLine(HWND entryField, TextRange refused) {
    SendMessageA(entryField, EM_SETSEL, refused.start, refused.end);
    SendMessageA(entryField, EM_SCROLLCARET, 0, 0);
    MessageBeep(MB_OK);
}

}  // namespace

void CommandDispatch(HWND entryField) {
    int length = static_cast<int>(
        SendMessageA(entryField, WM_GETTEXT, sizeof(s_typed), reinterpret_cast<LPARAM>(s_typed)));
    if (length < 0) length = 0;
    if (length > kCommandMaxChars + 1) length = kCommandMaxChars + 1;
    s_typed[length] = '\0';
    TextRange refused;
    DWORD count = MakeInterpreterLine(s_typed, length, g_commandBuffer, &refused);
    if (count == 0) {
        RefuseLine(entryField, refused);
        return;
    }

    if (IsWord(s_typed, "exit")) {
        AddToHistory(s_typed);
        // The close runs to its end, stop line and all, before SendMessage returns.
        SendMessageA(g_mainWindow, WM_CLOSE, 0, 0);
    } else if (IsWord(s_typed, "cls")) {
        // A line that finds no room in the queue stays in the entry field for another Enter.
        if (!QueueInput(kLineEnd, 2)) return;
        AddToHistory(s_typed);
        ClearPane();
    } else {
        if (!InputHasRoom(count)) return;
        // The history keeps the ANSI text; the interpreter gets it in the OEM code page.
        AddToHistory(s_typed);
        QueueInput(g_commandBuffer, count);
    }
    SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    FlushInput();
    // The answer to a line usually follows at once.
    if (g_inputWrite) LookForOutputSoon(kEarlyLookMs);
}
