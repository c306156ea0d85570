// Command dispatch: the Enter key in the entry field, and a paste of lines. The typed line goes
// into the history and, unless it is one of the window's own words, to the interpreter in its
// console's input code page. A line that cannot reach the interpreter as typed, or that finds it
// ended, goes nowhere, and the user is told why; once the end has been told, Enter on an empty line
// starts a new interpreter.
#include "command_text.h"
#include "link_state.h"

namespace {

// The line being sent, as the field shows it: one unit more than the longest line, so that a
// longer text is seen as such and never sent cut.
WCHAR s_typed[kCommandMaxChars + 2];
int s_typedLength;
WCHAR s_reason[kRefusalReasonMax];
int s_lastSent = -1;

bool IsBlank(WCHAR c) {
    return c == ' ' || c == '\t';
}

// Whether the line being sent is the window's own `word`, as the interpreter reads a command:
// letter case aside, with blanks (spaces, tabs) before and after it.
bool IsWord(const WCHAR* word) {
    int start = 0, end = s_typedLength;
    while (start < end && IsBlank(s_typed[start]))
        ++start;
    while (end > start && IsBlank(s_typed[end - 1]))
        --end;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, s_typed + start, end - start, word,
                          -1) == CSTR_EQUAL;
}

// Takes `length` units of `text` as the line being sent, and makes its bytes in code page `page`
// in the command buffer; their count, or 0 with what keeps the line back in `refused`.
size_t MakeLine(const WCHAR* text, size_t length, UINT page, TextRange* refused) {
    s_typedLength = static_cast<int>(length < kCommandMaxChars + 1 ? length : kCommandMaxChars + 1);
    CopyMemory(s_typed, text, s_typedLength * sizeof(WCHAR));
    s_typed[s_typedLength] = 0;
    return MakeInterpreterLine(s_typed, s_typedLength, page, g_commandBuffer, refused);
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
WCHAR s_folded[kCommandMaxChars + 2], s_entry[kCommandMaxChars + 2];

// Puts `text` in upper case in place, by Unicode's rules; returns its hash (FNV-1a).
UINT Fold(WCHAR* text) {
    CharUpperW(text);
    UINT hash = 2166136261u;
    for (; *text; ++text)
        hash = (hash ^ *text) * 16777619u;
    return hash;
}

LRESULT History(UINT message, WPARAM wParam = 0, const WCHAR* text = nullptr) {
    return SendMessageW(g_windows.history, message, wParam, reinterpret_cast<LPARAM>(text));
}

// Entry `entry` of the list, folded into s_entry; its hash.
UINT FoldEntry(int entry) {
    s_entry[0] = 0;
    if (History(CB_GETLBTEXTLEN, entry) <= kCommandMaxChars) History(CB_GETLBTEXT, entry, s_entry);
    return Fold(s_entry);
}

// The slot of `hash` that holds the entry folded in s_folded, or else the empty one where it goes.
Slot* SlotOf(UINT hash) {
    for (size_t at = hash;; ++at) {
        Slot* slot = &s_slots[at & (s_slotCount - 1)];
        if (slot->entry == 0) return slot;
        if (slot->hash == hash && FoldEntry(slot->entry - 1) == hash &&
            lstrcmpW(s_entry, s_folded) == 0) {
            return slot;
        }
    }
}

// Makes the table big enough for the list and one entry more: a larger one takes the entries by
// the hashes it holds. It is made anew from the list when it does not hold the list's entries.
// False when the memory cannot be had.
bool PrepareLookup() {
    const size_t entries = static_cast<size_t>(History(CB_GETCOUNT));
    const bool held = entries == s_entryCount;
    if (held && 2 * (entries + 1) <= s_slotCount) return true;
    size_t count = 256;
    while (count < 2 * (entries + 1))
        count *= 2;
    auto* slots =
        static_cast<Slot*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, count * sizeof(Slot)));
    if (!slots) return false;
    Slot* old = s_slots;
    const size_t oldCount = s_slotCount;
    s_slots = slots;
    s_slotCount = count;
    if (held) {
        for (size_t i = 0; i < oldCount; ++i) {
            if (old[i].entry == 0) continue;
            size_t at = old[i].hash;
            while (slots[at & (count - 1)].entry != 0)
                ++at;
            slots[at & (count - 1)] = old[i];
        }
    } else {
        // No entry is empty: looked up as the empty text, each finds the empty slot where it goes.
        s_folded[0] = 0;
        for (s_entryCount = 0; s_entryCount < entries; ++s_entryCount) {
            const UINT hash = FoldEntry(static_cast<int>(s_entryCount));
            *SlotOf(hash) = {hash, static_cast<int>(s_entryCount) + 1};
        }
    }
    if (old) HeapFree(GetProcessHeap(), 0, old);
    return true;
}

// The history's entry for the line being sent, added at the end of the list unless some entry
// already differs from it only in case; its number. -1 when the memory for the lookup cannot be
// had.
int HistoryEntry() {
    if (!PrepareLookup()) return -1;
    lstrcpyW(s_folded, s_typed);
    const UINT hash = Fold(s_folded);
    Slot* slot = SlotOf(hash);
    if (slot->entry == 0) {
        const int entry = static_cast<int>(History(CB_ADDSTRING, 0, s_typed));
        if (entry < 0) return entry;
        *slot = {hash, entry + 1};
        ++s_entryCount;
    }
    return slot->entry - 1;
}

// Empties the pane and shows the empty pane at once, rather than the old text until the
// interpreter next writes.
void ClearPane() {
    SendMessageW(g_windows.pane, WM_SETREDRAW, FALSE, 0);
    SendMessageW(g_windows.pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    SendMessageW(g_windows.pane, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_windows.pane, nullptr, TRUE);
}

const WCHAR* Refuse(const WCHAR* reason) {
    MessageBeep(MB_OK);
    return reason;
}

// The text stays in the field for the user to mend, what keeps it back selected and in view.
const WCHAR* RefuseLine(HWND entryField, TextRange refused, const WCHAR* reason) {
    SendMessageW(entryField, EM_SETSEL, refused.start, refused.end);
    SendMessageW(entryField, EM_SCROLLCARET, 0, 0);
    return Refuse(reason);
}

// Queues the line being sent, whose bytes MakeLine made in `page`, as Enter does once it has been
// let through.
void Send(size_t count, UINT page) {
    if (s_typedLength > 0) s_lastSent = HistoryEntry();
    if (IsWord(L"cls")) {
        ClearPane();
        if (InterpreterRuns()) QueueInput("\r\n", 2, page);
    } else {
        QueueInput(g_commandBuffer, count, page);
    }
}

// The lines of pastes that the user has said yes to and that have yet to go into the history and
// the input queue, [s_pasteAt, s_pasteCount) of s_paste (UTF-16), to go in code page s_pastePage,
// in which they were checked: they go a slice at a time, as the queue empties, so that neither a
// paste of any size nor the history's growth holds the window, and the queue holds little.
WCHAR* s_paste;
size_t s_pasteAt, s_pasteCount;
UINT s_pastePage;

// Keeps `count` units of pasted `text`, checked in `page`, behind the pasted lines that wait.
// False when the memory for it cannot be had.
bool KeepPaste(const WCHAR* text, size_t count, UINT page) {
    const size_t waiting = s_pasteCount - s_pasteAt;
    auto* block =
        static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (waiting + 1 + count) * sizeof(WCHAR)));
    if (!block) return false;
    size_t size = waiting;
    CopyMemory(block, s_paste + s_pasteAt, waiting * sizeof(WCHAR));
    // The last line waiting ends where the new text starts (a lone CR becomes CR LF).
    if (size > 0 && block[size - 1] != '\n') block[size++] = '\n';
    CopyMemory(block + size, text, count * sizeof(WCHAR));
    ForgetPastedLines();
    s_paste = block;
    s_pasteCount = size + count;
    s_pastePage = page;
    return true;
}

}  // namespace

bool SendPastedLines(bool all) {
    const ULONGLONG until = GetTickCount64() + kPasteSliceMs;
    while (s_pasteAt < s_pasteCount &&
           (all || (UnwrittenInputSize() < kInputQueueSize && GetTickCount64() < until))) {
        const PastedLine line = PastedLineAt(s_paste, s_pasteCount, s_pasteAt);
        TextRange refused;
        const size_t made =
            MakeLine(s_paste + line.start, line.end - line.start, s_pastePage, &refused);
        if (made > 0 && !InputTakes(IsWord(L"cls") ? 2 : made)) break;  // later, then
        if (made > 0) Send(made, s_pastePage);
        s_pasteAt = line.next;
    }
    if (s_pasteAt >= s_pasteCount) ForgetPastedLines();
    return s_paste != nullptr;
}

void ForgetPastedLines() {
    if (s_paste) HeapFree(GetProcessHeap(), 0, s_paste);
    s_paste = nullptr;
    s_pasteAt = s_pasteCount = 0;
}

const WCHAR* DispatchLines(const WCHAR* text, size_t count, bool send) {
    if (!InterpreterRuns()) return Refuse(kEndedReason);
    // Every line is checked before any goes, in the page in which all of them then go.
    const UINT page = InterpreterInputPage();
    if (send && s_paste && s_pastePage != page) return Refuse(kBusyReason);
    size_t number = 0;
    for (PastedLine line = PastedLineAt(text, count, 0); line.start < count;
         line = PastedLineAt(text, count, line.next)) {
        const size_t length = line.end - line.start;
        TextRange refused = {0, -1};
        ++number;
        if (MakeLine(text + line.start, length, page, &refused) == 0) {
            RefusalReason(text + line.start, static_cast<int>(length), refused, number, page,
                          s_reason);
            return Refuse(s_reason);
        }
    }
    if (!send) return nullptr;
    if (!KeepPaste(text, count, page)) return Refuse(kTooLargeReason);
    SendPastedLines(false);
    FlushInput();
    ExpectOutput();
    return nullptr;
}

const WCHAR* CommandDispatch(HWND entryField) {
    WCHAR typed[kCommandMaxChars + 2];
    const auto length = static_cast<size_t>(SendMessageW(
        entryField, WM_GETTEXT, kCommandMaxChars + 2, reinterpret_cast<LPARAM>(typed)));
    const UINT page = InterpreterInputPage();
    TextRange refused;
    const size_t count = MakeLine(typed, length, page, &refused);
    if (count == 0) {
        const auto all = static_cast<int>(SendMessageW(entryField, WM_GETTEXTLENGTH, 0, 0));
        RefusalReason(s_typed, all, refused, 0, page, s_reason);
        return RefuseLine(entryField, refused, s_reason);
    }

    if (IsWord(L"exit")) {
        HistoryEntry();
        // The close runs to its end before SendMessage returns.
        SendMessageW(g_windows.main, WM_CLOSE, 0, 0);
        SendMessageW(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        return nullptr;
    }
    // Once the interpreter has ended a line would be lost: it stays in the field, whole, and the
    // notice of the end is in view. It was typed for that interpreter, so it starts no other; an
    // empty line does, once the end has been told.
    const bool cls = IsWord(L"cls"), runs = InterpreterRuns();
    if (!cls && !runs) {
        if (length == 0 && (!g_interpreter || EndTold())) {
            RestartInterpreter();
            return nullptr;
        }
        RetellEnd();
        return RefuseLine(entryField, {0, -1}, kEndedReason);
    }
    // A line that finds too much waiting, or a paste, stays in the entry field for another Enter.
    if (runs && (s_paste || !InputHasRoom(cls ? 2 : count))) return Refuse(kBusyReason);
    Send(count, page);
    SendMessageW(entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    FlushInput();
    ExpectOutput();
    return nullptr;
}

int LastSentEntry() {
    return s_lastSent;
}
