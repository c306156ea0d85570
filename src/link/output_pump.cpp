// The output pump: moves what the interpreter writes into the pane, one pass per tick. A pass
// reads what is already pending, until the pipe is empty, a message waits for the window or its
// time is up, and shows what it has read. What is left waits for the next pass, which the pass
// asks for in USER_TIMER_MINIMUM ms.
//
// Under Wine a read of 1 KiB costs about 0.06 ms, while every insertion into the visible pane
// costs about 20 ms whatever its size: the edit control updates both scroll bars several times
// per insertion, and each update redraws the bar (about 4.5 ms) even while the pane's redrawing is
// off. So reads go on all the time, and insertions gather what was read: while the interpreter
// floods, twice a second; once it pauses, one after the other.
//
// The output is decoded as it is read, with the code page its console writes in as the pass
// starts: a "chcp" takes effect from the next pass's output on. The pane holds UTF-16 text, and
// counts in its units.
#include "byte_logic.h"
#include "link_state.h"

namespace {

Ring<WCHAR, kPendingMax> s_pending;  // read and decoded but not shown yet
OutputDecoder s_decoder;
UINT s_outputPage;      // the page of the interpreter's console, as last asked
bool s_paneStale;       // pending output was dropped: the pane's text is older than what is left
size_t s_streamUnits;   // read since the pane last caught up with the pipe
ULONGLONG s_lastShown;  // when the last insertion was made
ULONGLONG s_lookUntil;  // passes come early until then, while no output comes
// Once the interpreter's end has been seen: its exit code, and how many of the bytes in the pipe
// then are still to be read, all that it wrote. The notice follows them, and whatever programs it
// left running write after it.
bool s_endSeen;
DWORD s_exitCode;
DWORD s_endUnread;
bool s_endTold;  // the pane has told the end
WCHAR s_endNotice[kEndNoticeMax];
size_t s_endNoticeLength;

char s_chunk[kChunkMax];
WCHAR s_decoded[DecodedMax(kChunkMax)];
// The pane's oldest text while the scrollback is cut, then the text of one insertion.
WCHAR s_text[kScrollbackMax - kScrollbackKeep + kCatchUpInsertMax + kLongestCutLine + 1];

LRESULT Pane(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageW(g_windows.pane, message, wParam, lParam);
}

// Answers the messages that other threads have sent to the window, and tells whether it has
// anything else to do besides its timers: input, painting, or a posted message. A program that
// asks the window something gets its answer while the pass reads on; everything else waits for
// the pass to end. What a sent message does runs inside the pass: a line sent to the entry field,
// even the window closed (the pipe is then gone, and the pass ends at its next read).
bool MessageWaiting() {
    const DWORD waiting = HIWORD(GetQueueStatus(QS_ALLINPUT & ~QS_TIMER));
    MSG message;
    if (waiting & QS_SENDMESSAGE) {
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return (waiting & ~QS_SENDMESSAGE) != 0;
}

// Takes `count` decoded units into the pending ring. What a flood brings beyond the ring's bound
// pushes out its oldest units, which are then never shown.
void Gather(const WCHAR* units, size_t count) {
    if (s_streamUnits <= kFloodStreamUnits) s_streamUnits += count;
    const size_t bound = s_streamUnits > kFloodStreamUnits ? kBacklogMax : kPendingMax;
    if (s_pending.Size() + count > bound) {
        s_pending.Drop(s_pending.Size() + count - bound);
        s_paneStale = true;
    }
    s_pending.Push(units, count);
}

// Reads what the pipe holds, in reads of at most kChunkMax bytes, until it is empty or broken (then
// true), or a message waits, or it is time to show what was read or to give the thread back.
// Once the end has been seen, the reads stop where the interpreter's own output stops, as if the
// pipe were empty, until the end has been told.
bool ReadUntilDrained(ULONGLONG passStart) {
    DWORD available = 0;
    for (int reads = 1;; ++reads) {
        // What the peek reported can be read without waiting, in several reads.
        if (available == 0 &&
            (!PeekNamedPipe(g_outputRead, nullptr, 0, nullptr, &available, nullptr) ||
             available == 0)) {
            return true;
        }
        const bool ending = s_endSeen && !s_endTold;
        if (ending && s_endUnread < available) available = s_endUnread;
        if (available == 0) return true;
        DWORD got = 0;
        if (!ReadFile(g_outputRead, s_chunk, available < kChunkMax ? available : kChunkMax, &got,
                      nullptr) ||
            got == 0) {
            return true;
        }
        available -= got;
        if (ending) s_endUnread -= got;
        s_lookUntil = 0;  // the output that early passes look for has come
        Gather(s_decoded, DecodeOutput(&s_decoder, s_outputPage, s_chunk, got, s_decoded));
        if (reads % kReadsPerLook != 0) continue;
        const ULONGLONG now = GetTickCount64();
        if (MessageWaiting() || now - passStart >= kPassMaxMs ||
            InsertSize(s_pending.Size(), false, now - s_lastShown) > 0) {
            return false;
        }
    }
}

// Where the pane's oldest text ends that must go, as whole lines, so that `incoming` more
// characters fit in the scrollback; 0 while nothing must go.
size_t ScrollbackCut(size_t length, size_t incoming) {
    if (length + incoming <= kScrollbackMax) return 0;
    const size_t excess = length + incoming - kScrollbackKeep;
    if (excess >= length) return length;
    size_t head = excess + kLongestCutLine < length ? excess + kLongestCutLine : length;
    if (head >= ARRAYSIZE(s_text)) head = ARRAYSIZE(s_text) - 1;
    const size_t got =
        static_cast<size_t>(Pane(WM_GETTEXT, head + 1, reinterpret_cast<LPARAM>(s_text)));
    return LineStartFrom(s_text, got, excess, kLongestCutLine);
}

// Whether the end of the pane's text is in view.
bool EndInView(size_t length) {
    if (length == 0) return true;
    RECT area;
    Pane(EM_GETRECT, 0, reinterpret_cast<LPARAM>(&area));
    const LRESULT position = Pane(EM_POSFROMCHAR, length - 1);
    const int y = static_cast<short>(HIWORD(position));
    return position != -1 && y >= area.top && y < area.bottom;
}

// Appends up to `limit` pending units at the end of the pane and paints it once. The user's caret
// or selection stays on its text, through the removal of the oldest text too. The view follows
// the new output only while the end of the pane is in view, whatever is selected.
void Show(size_t limit) {
    DWORD start = 0, end = 0;
    Pane(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const size_t length = static_cast<size_t>(Pane(WM_GETTEXTLENGTH));
    const bool caretAtEnd = start == end && end == length;
    const bool follow = EndInView(length);
    const LRESULT firstLine = Pane(EM_GETFIRSTVISIBLELINE);
    const int column = GetScrollPos(g_windows.pane, SB_HORZ);

    // After a dropped backlog everything in the pane is older than what is left: it all goes.
    const size_t pending = s_pending.Size();
    const size_t cut =
        s_paneStale ? length : ScrollbackCut(length, pending < limit ? pending : limit);
    const LRESULT cutLines = cut > 0 ? Pane(EM_LINEFROMCHAR, cut) : 0;
    size_t count = s_pending.Take(s_text, limit);
    const WCHAR* text = s_text;
    if (s_paneStale) {
        // The oldest pending line has lost its start: the pane begins with the next one.
        const size_t skip = LineStartFrom(s_text, count - 1, 1, kLongestCutLine);
        text += skip;
        count -= skip;
        s_paneStale = false;
    }
    s_text[text - s_text + count] = '\0';

    Pane(WM_SETREDRAW, FALSE);
    if (cut > 0) {
        Pane(EM_SETSEL, 0, static_cast<LPARAM>(cut));
        Pane(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    Pane(EM_SETSEL, length - cut, static_cast<LPARAM>(length - cut));
    Pane(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
    if (!caretAtEnd) Pane(EM_SETSEL, start > cut ? start - cut : 0, end > cut ? end - cut : 0);
    if (follow && caretAtEnd) {
        Pane(EM_SCROLLCARET);
    } else if (follow) {
        Pane(EM_LINESCROLL, 0, Pane(EM_GETLINECOUNT));
    } else {
        const LRESULT target = firstLine > cutLines ? firstLine - cutLines : 0;
        Pane(EM_LINESCROLL, 0, target - Pane(EM_GETFIRSTVISIBLELINE));
        if (GetScrollPos(g_windows.pane, SB_HORZ) != column) {
            Pane(WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, column));
        }
    }
    Pane(WM_SETREDRAW, TRUE);
    InvalidateRect(g_windows.pane, nullptr, TRUE);
    UpdateWindow(g_windows.pane);
    s_lastShown = GetTickCount64();
}

// Whether the last line of the pane holds text.
bool LastLineOpen() {
    return Pane(EM_LINELENGTH, Pane(EM_LINEINDEX, Pane(EM_GETLINECOUNT) - 1)) > 0;
}

// Shows `count` units of `text` at the end of the pane, on lines of their own, whatever their
// size; nothing is pending.
void ShowWhole(const WCHAR* text, size_t count) {
    if (LastLineOpen()) {
        s_pending.Push(L"\r\n", 2);
    }
    while (count > 0 || s_pending.Size() > 0) {
        const size_t room = s_pending.Room();
        const size_t take = count < room ? count : room;
        s_pending.Push(text, take);
        text += take;
        count -= take;
        while (s_pending.Size() > 0)
            Show(kCatchUpInsertMax);
    }
}

// Tells that the interpreter has ended, and names the lines it never read: the one still in its
// input pipe, then those still queued, with every pasted line still to go. They are forgotten
// then, never written.
void TellEnd() {
    // A character the interpreter left unfinished goes on its last line.
    WCHAR cut[2];
    if (const size_t count = EndDecoding(&s_decoder, cut)) {
        Gather(cut, count);
        Show(count);
    }
    s_endNoticeLength = EndNotice(s_exitCode, s_endNotice);
    SendPastedLines(true);
    HANDLE heap = GetProcessHeap();
    const size_t most = UnreadInputMax();
    auto* unread = static_cast<WCHAR*>(HeapAlloc(heap, 0, most * sizeof(WCHAR)));
    auto* named = static_cast<WCHAR*>(HeapAlloc(heap, 0, UnreadNoticeMax(most) * sizeof(WCHAR)));
    const size_t namedLength =
        unread && named ? UnreadNotice(unread, UnreadInput(unread, most), named) : 0;
    ForgetInput();
    // The exit code, then the unread lines, then how to go on.
    const size_t ended = static_cast<size_t>(wcschr(s_endNotice, '\n') + 1 - s_endNotice);
    ShowWhole(s_endNotice, ended);
    if (namedLength > 0) ShowWhole(named, namedLength);
    ShowWhole(s_endNotice + ended, s_endNoticeLength - ended);
    if (unread) HeapFree(heap, 0, unread);
    if (named) HeapFree(heap, 0, named);
    s_endTold = true;
}

// Lines wait for an interpreter that has read the last one within kFeedPatienceMs: it reads as
// they come, and the pass stays to hand it the next one as soon as it has read this one.
bool Feeding(bool linesWait) {
    return linesWait && GetTickCount64() - LineWrittenAt() < kFeedPatienceMs;
}

}  // namespace

void OutputPump() {
    JoinInterpreterConsole();
    // Looked at before the reads: all that an ended interpreter wrote is in the pipe by then, and
    // the notice follows it, though programs it left running in the background write on.
    if (!s_endSeen && InterpreterEnded(&s_exitCode)) {
        s_endSeen = true;
        if (!PeekNamedPipe(g_outputRead, nullptr, 0, nullptr, &s_endUnread, nullptr)) {
            s_endUnread = 0;
        }
    }
    // The console's page, asked once a pass: the interpreter's console answers each question
    // through the process that keeps it, which a pass of a flood would ask hundreds of times.
    s_outputPage = InterpreterOutputPage();
    const ULONGLONG start = GetTickCount64();
    // While the interpreter floods, one insertion ends the pass; once it has paused, what it
    // wrote goes in one insertion after another while the window has nothing else to do. Lines
    // waiting for it go into its pipe one by one as it reads them.
    for (;;) {
        // While the interpreter reads line after line, its answers are shown only every so often,
        // as during a flood: each insertion would hold up the next line.
        const bool pasting = SendPastedLines(false);
        const bool feeding = Feeding(FlushInput(GetTickCount64() + kFeedSliceMs) || pasting);
        const bool drained = ReadUntilDrained(start);
        const size_t count =
            InsertSize(s_pending.Size(), drained && !feeding, GetTickCount64() - s_lastShown);
        if (count > 0) {
            MessageWaiting();  // what other threads have sent is answered first: this takes a while
            Show(count);
        }
        if (drained && !feeding && s_pending.Size() == 0) break;
        if (!drained || MessageWaiting() || GetTickCount64() - start >= kPassMaxMs) {
            SetTimer(g_windows.main, ID_SOON_TIMER, USER_TIMER_MINIMUM, nullptr);
            return;
        }
        // Unless the interpreter has just taken a line, a moment for it to read, or for a
        // message to come.
        if (drained && GetTickCount64() - LineWrittenAt() > 1) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        }
    }
    // Caught up: early passes go on while output is still looked for, and while lines wait for
    // the interpreter, which may read them any moment.
    s_streamUnits = 0;
    if (s_endSeen && !s_endTold) TellEnd();
    if (SendPastedLines(false) || FlushInput() || GetTickCount64() < s_lookUntil) {
        SetTimer(g_windows.main, ID_SOON_TIMER, USER_TIMER_MINIMUM, nullptr);
    } else {
        KillTimer(g_windows.main, ID_SOON_TIMER);
    }
}

void ExpectOutput() {
    s_lookUntil = GetTickCount64() + kLookForAnswerMs;
    SetTimer(g_windows.main, ID_SOON_TIMER, USER_TIMER_MINIMUM, nullptr);
}

bool EndTold() {
    return s_endTold;
}

void RetellEnd() {
    // Not while a new interpreter's end is still to be told: the notice kept is the old one's.
    if (s_endNoticeLength == 0 || (g_interpreter && !s_endTold)) return;
    // The pane shows the notice when the line before its empty last one is the notice's last.
    constexpr size_t kLength = ARRAYSIZE(kRestartLine) - 1;
    WCHAR shown[kLength + 1];
    const WORD room = ARRAYSIZE(shown);  // EM_GETLINE finds the buffer's size in its first word
    CopyMemory(shown, &room, sizeof(room));
    const LRESULT lines = Pane(EM_GETLINECOUNT);
    const bool there =
        lines >= 2 && !LastLineOpen() &&
        Pane(EM_GETLINE, lines - 2, reinterpret_cast<LPARAM>(shown)) ==
            static_cast<LRESULT>(kLength) &&
        CompareStringOrdinal(shown, kLength, kRestartLine, kLength, FALSE) == CSTR_EQUAL;
    if (!there) ShowWhole(s_endNotice, s_endNoticeLength);
}

void ForgetOutput() {
    s_endSeen = s_endTold = false;
    s_endUnread = 0;
    s_pending.Clear();
    s_decoder = OutputDecoder();
    s_paneStale = false;
    s_streamUnits = 0;
}
