// Command dispatch: the Enter key in the entry field. The typed line goes into the history and,
// unless it is one of the window's own words, to the interpreter in the OEM code page. A line
// that cannot reach the interpreter as typed, or that finds it ended, goes nowhere; once the end
// has been told, Enter on an empty line starts a new interpreter.
#include "command_text.h"
#include "link_state.h"

namespace {

// The entry field's text: one character more than the longest line, so that a longer text is
// seen as such and never sent cut. It is read as UTF-16, the characters the field shows, and
// kept as ANSI text for the history and the window's own words.
WCHAR s_typed[kCommandMaxChars + 2];
char s_ansi[2 * kCommandMaxChars + 1];

bool IsWord(const char* text, const char* word) {
    return lstrcmpiA(text, word) == 0;
}

// False once the interpreter has ended, and after a new one failed to start.
bool InterpreterRuns() {
    return g_interpreter && !InterpreterEnded();
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

// The text stays in the field for the user to mend, what keeps it back selected and in view.
void RefuseLine(HWND entryField, TextRange refused) {
    SendMessageA(entryField, EM_SETSEL, refused.start, refused.end);
    SendMessageA(entryField, EM_SCROLLCARET, 0, 0);
    MessageBeep(MB_OK);
}

// Queues one line made by MakeInterpreterLine, as Enter does once it has been let through.
void Send(size_t count) {
    AddToHistory(s_ansi);
    if (IsWord(s_ansi, "cls")) {
        ClearPane();
        if (InterpreterRuns()) QueueInput("\r\n", 2);
    } else {
        QueueInput(g_commandBuffer, count);
    }
}

}  // namespace

bool DispatchLines(HWND entryField, WCHAR* text, size_t count, bool send) {
    // Every line is checked in a first round before any goes in a second one, as the queue's room
    // is for the block as a whole.
    const bool ended = !InterpreterRuns();
    for (int round = 0; round < (send ? 2 : 1); ++round) {
        size_t total = 0;
        for (PastedLine line = PastedLineAt(text, count, 0); line.start < count;
             line = PastedLineAt(text, count, line.next)) {
            const size_t length = line.end - line.start;
            TextRange refused = {0, -1};
            const size_t made = MakeInterpreterLine(
                text + line.start,
                static_cast<int>(length < kCommandMaxChars + 1 ? length : kCommandMaxChars + 1),
                s_ansi, g_commandBuffer, &refused);
            if (round == 1) {
                Send(made);
                continue;
            }
            total += made > 0 && IsWord(s_ansi, "cls") ? 2 : made;
            if (made == 0 || ended || !InputHasRoom(total)) {
                const WCHAR after = text[line.end];
                text[line.end] = 0;
                SendMessageW(entryField, WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(text + line.start));
                text[line.end] = after;
                RefuseLine(entryField, refused);
                return false;
            }
        }
    }
    if (send) {
        FlushInput();
        ExpectOutput();
    }
    return true;
}

void CommandDispatch(HWND entryField) {
    const int length = static_cast<int>(SendMessageW(entryField, WM_GETTEXT, kCommandMaxChars + 2,
                                                     reinterpret_cast<LPARAM>(s_typed)));
    TextRange refused;
    const size_t count = MakeInterpreterLine(s_typed, length, s_ansi, g_commandBuffer, &refused);
    if (count == 0) {
        RefuseLine(entryField, refused);
        return;
    }

    if (IsWord(s_ansi, "exit")) {
        AddToHistory(s_ansi);
        // The close runs to its end before SendMessage returns.
        SendMessageA(g_windows.main, WM_CLOSE, 0, 0);
        SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        return;
    }
    // Once the interpreter has ended a line would be lost: it stays in the field, whole, and the
    // notice of the end is in view. It was typed for that interpreter, so it starts no other; an
    // empty line does, once the end has been told.
    const bool cls = IsWord(s_ansi, "cls");
    if (!cls && !InterpreterRuns()) {
        if (length == 0 && (!g_interpreter || EndTold())) {
            RestartInterpreter();
            return;
        }
        RefuseLine(entryField, {0, -1});
        RetellEnd();
        return;
    }
    // A line that finds no room in the queue stays in the entry field for another Enter.
    if (!InputHasRoom(cls ? 2 : count)) return;
    Send(count);
    SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    FlushInput();
    ExpectOutput();
}
