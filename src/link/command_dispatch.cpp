// Command dispatch: the Enter key in the entry field, and a paste of lines. The typed line goes
// into the history and, unless it is one of the window's own words, to the interpreter in the OEM
// code page. A line that cannot reach the interpreter as typed, or that finds it ended, goes
// nowhere, and the user is told why; once the end has been told, Enter on an empty line starts a
// new interpreter.
#include <string.h>

#include "command_text.h"
#include "link_state.h"

namespace {

// The entry field's text: one character more than the longest line, so that a longer text is
// seen as such and never sent cut. It is read as UTF-16, the characters the field shows, and
// kept as ANSI text for the history and the window's own words.
WCHAR s_typed[kCommandMaxChars + 2];
char s_ansi[2 * kCommandMaxChars + 1];
WCHAR s_reason[kRefusalReasonMax];
int s_lastSent = -1;

bool IsWord(const char* text, const char* word) {
    return lstrcmpiA(text, word) == 0;
}

// False once the interpreter has ended, and after a new one failed to start.
bool InterpreterRuns() {
    return g_interpreter && !InterpreterEnded();
}

// The history's lookup, kept beside the combo box's list: the list's own search
// (CB_FINDSTRINGEXACT) goes through every entry, so a paste of thousands of lines took time that
// grew with the square of their count. An open-addressed table, at most half full, of the
// entries' numbers by the hash of their text in upper case, the case the history ignores. An
// entry's number is its place in the list, which grows only at its end; the table is made anew
// from the list whenever their counts differ.
struct Slot {
    UINT hash;
    int entry;  // the entry's number + 1; 0 for an empty slot
};
Slot* s_slots;
size_t s_slotCount, s_entryCount;
char s_folded[2 * kCommandMaxChars + 1], s_entry[2 * kCommandMaxChars + 1];

// Puts `text` in upper case in place; returns its hash (FNV-1a).
UINT Fold(char* text) {
    CharUpperA(text);
    UINT hash = 2166136261u;
    for (; *text; ++text)
        hash = (hash ^ static_cast<unsigned char>(*text)) * 16777619u;
    return hash;
}

LRESULT History(UINT message, WPARAM wParam = 0, const char* text = nullptr) {
    return SendMessageA(g_windows.history, message, wParam, reinterpret_cast<LPARAM>(text));
}

// Entry `entry` of the list, folded into s_entry; its hash.
UINT FoldEntry(int entry) {
    s_entry[0] = '\0';
    if (History(CB_GETLBTEXTLEN, entry) < static_cast<LRESULT>(sizeof(s_entry))) {
        History(CB_GETLBTEXT, entry, s_entry);
    }
    return Fold(s_entry);
}

// The slot of `hash` that holds the entry folded in s_folded, or else the empty one where it goes.
Slot* SlotOf(UINT hash) {
    for (size_t at = hash;; ++at) {
        Slot* slot = &s_slots[at & (s_slotCount - 1)];
        if (slot->entry == 0) return slot;
        if (slot->hash == hash && FoldEntry(slot->entry - 1) == hash &&
            strncmp(s_entry, s_folded, sizeof(s_entry)) == 0) {
            return slot;
        }
    }
}

// Makes the table big enough for the list and one entry more, and makes it anew from the list
// when it does not hold the list's entries. False when the memory cannot be had.
bool PrepareLookup() {
    const size_t entries = static_cast<size_t>(History(CB_GETCOUNT));
    if (entries == s_entryCount && 2 * (entries + 1) <= s_slotCount) return true;
    size_t count = 256;
    while (count < 2 * (entries + 1))
        count *= 2;
    auto* slots =
        static_cast<Slot*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof(Slot)));
    if (!slots) return false;
    if (s_slots) HeapFree(GetProcessHeap(), 0, s_slots);
    s_slots = slots;
    s_slotCount = count;
    // No entry is empty: looked up as the empty text, each finds the empty slot where it goes.
    s_folded[0] = '\0';
    for (s_entryCount = 0; s_entryCount < entries; ++s_entryCount) {
        const UINT hash = FoldEntry(static_cast<int>(s_entryCount));
        *SlotOf(hash) = {hash, static_cast<int>(s_entryCount) + 1};
    }
    return true;
}

// The history's entry for `text`, added at the end of the list unless some entry already differs
// from it only in case; its number. -1 when the memory for the lookup cannot be had.
int HistoryEntry(const char* text) {
    if (!PrepareLookup()) return -1;
    lstrcpyA(s_folded, text);
    const UINT hash = Fold(s_folded);
    Slot* slot = SlotOf(hash);
    if (slot->entry == 0) {
        const int entry = static_cast<int>(History(CB_ADDSTRING, 0, text));
        if (entry < 0) return entry;
        *slot = {hash, entry + 1};
        ++s_entryCount;
    }
    return slot->entry - 1;
}

// Empties the pane and shows the empty pane at once, rather than the old text until the
// interpreter next writes.
void ClearPane() {
    SendMessageA(g_windows.pane, WM_SETREDRAW, FALSE, 0);
    SendMessageA(g_windows.pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(g_windows.pane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_windows.pane, nullptr, TRUE);
}

const WCHAR* Refuse(const WCHAR* reason) {
    MessageBeep(MB_OK);
    return reason;
}

// The text stays in the field for the user to mend, what keeps it back selected and in view.
const WCHAR* RefuseLine(HWND entryField, TextRange refused, const WCHAR* reason) {
    SendMessageA(entryField, EM_SETSEL, refused.start, refused.end);
    SendMessageA(entryField, EM_SCROLLCARET, 0, 0);
    return Refuse(reason);
}

// Queues one line made by MakeInterpreterLine, as Enter does once it has been let through.
void Send(size_t count) {
    if (s_ansi[0] != '\0') s_lastSent = HistoryEntry(s_ansi);
    if (IsWord(s_ansi, "cls")) {
        ClearPane();
        if (InterpreterRuns()) QueueInput("\r\n", 2);
    } else {
        QueueInput(g_commandBuffer, count);
    }
}

}  // namespace

const WCHAR* DispatchLines(const WCHAR* text, size_t count, bool send) {
    if (!InterpreterRuns()) return Refuse(kEndedReason);
    // Every line is checked in a first round before any goes in a second one.
    size_t total = 0, number = 0;
    for (int round = 0; round < (send ? 2 : 1); ++round) {
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
            ++number;
            if (made == 0) {
                RefusalReason(text + line.start, static_cast<int>(length), refused, number,
                              s_reason);
                return Refuse(s_reason);
            }
            total += IsWord(s_ansi, "cls") ? 2 : made;
        }
        if (send && round == 0 && !InputTakes(total)) return Refuse(kTooLargeReason);
    }
    if (send) {
        FlushInput();
        ExpectOutput();
    }
    return nullptr;
}

const WCHAR* CommandDispatch(HWND entryField) {
    const int length = static_cast<int>(SendMessageW(entryField, WM_GETTEXT, kCommandMaxChars + 2,
                                                     reinterpret_cast<LPARAM>(s_typed)));
    TextRange refused;
    const size_t count = MakeInterpreterLine(s_typed, length, s_ansi, g_commandBuffer, &refused);
    if (count == 0) {
        const auto all = static_cast<int>(SendMessageW(entryField, WM_GETTEXTLENGTH, 0, 0));
        RefusalReason(s_typed, all, refused, 0, s_reason);
        return RefuseLine(entryField, refused, s_reason);
    }

    if (IsWord(s_ansi, "exit")) {
        HistoryEntry(s_ansi);
        // The close runs to its end before SendMessage returns.
        SendMessageA(g_windows.main, WM_CLOSE, 0, 0);
        SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        return nullptr;
    }
    // Once the interpreter has ended a line would be lost: it stays in the field, whole, and the
    // notice of the end is in view. It was typed for that interpreter, so it starts no other; an
    // empty line does, once the end has been told.
    const bool cls = IsWord(s_ansi, "cls"), runs = InterpreterRuns();
    if (!cls && !runs) {
        if (length == 0 && (!g_interpreter || EndTold())) {
            RestartInterpreter();
            return nullptr;
        }
        RetellEnd();
        return RefuseLine(entryField, {0, -1}, kEndedReason);
    }
    // A line that finds too much waiting stays in the entry field for another Enter.
    if (runs && !InputHasRoom(cls ? 2 : count)) return Refuse(kBusyReason);
    Send(count);
    SendMessageA(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    FlushInput();
    ExpectOutput();
    return nullptr;
}

int LastSentEntry() {
    return s_lastSent;
}
