// The output pump: moves what the interpreter writes into the pane. Reads only what is already
// pending, gathers a pass's reads and shows them in one insertion, and bounds each pass in time
// so that the window keeps answering while the interpreter writes without pause.
#include "link.h"

char g_outputChunk[kChunkMax + 1];

namespace {

// How long one pass may read, and how much it may insert: each insertion into the visible pane
// costs a fixed ~20 ms under Wine plus ~0.2 ms per KiB.
constexpr double kReadBudgetMs = 15.0;
constexpr DWORD kInsertMax = 32 * 1024;

// Output read but not shown yet, without its zero bytes. It never holds more than the pane
// keeps: when it overflows, its oldest bytes and everything in the pane are older than the
// scrollback, so they are dropped instead of being inserted only to be removed again.
constexpr DWORD kPendingSize = kScrollbackKeep;
char s_pending[kPendingSize];
DWORD s_pendingHead;
DWORD s_pendingCount;
bool s_paneObsolete;

char s_insert[kInsertMax + 1];

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Gather(const char* bytes, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        if (bytes[i] == '\0') continue;
        if (s_pendingCount == kPendingSize) {
            s_pendingHead = (s_pendingHead + 1) % kPendingSize;
            --s_pendingCount;
            s_paneObsolete = true;
        }
        s_pending[(s_pendingHead + s_pendingCount) % kPendingSize] = bytes[i];
        ++s_pendingCount;
    }
}

// Takes up to kInsertMax pending bytes into s_insert, zero-terminated.
DWORD TakePending() {
    DWORD count = s_pendingCount < kInsertMax ? s_pendingCount : kInsertMax;
    for (DWORD i = 0; i < count; ++i)
        s_insert[i] = s_pending[(s_pendingHead + i) % kPendingSize];
    s_insert[count] = '\0';
    s_pendingHead = (s_pendingHead + count) % kPendingSize;
    s_pendingCount -= count;
    if (s_pendingCount == 0) s_pendingHead = 0;
    return count;
}

LRESULT Pane(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return SendMessageA(g_outputPane, message, wParam, lParam);
}

// Where the oldest text must go to make room for `incoming` more characters: the start of the
// first whole line past the excess, or the excess itself inside one endless line. 0 when nothing
// needs to go.
int TrimPoint(int length, DWORD incoming) {
    if (length + static_cast<int>(incoming) <= kScrollbackMax) return 0;
    int excess = length + static_cast<int>(incoming) - kScrollbackKeep;
    if (excess >= length) return length;
    int line = static_cast<int>(Pane(EM_LINEFROMCHAR, excess));
    if (static_cast<int>(Pane(EM_LINEINDEX, line)) == excess) return excess;
    int next = static_cast<int>(Pane(EM_LINEINDEX, line + 1));
    return next > 0 ? next : excess;
}

// Removes the first `count` characters, keeping the user's caret or selection on the same text.
void RemoveOldest(int count) {
    DWORD start = 0, end = 0;
    Pane(EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    Pane(EM_SETSEL, 0, count);
    Pane(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
    int newStart = static_cast<int>(start) > count ? static_cast<int>(start) - count : 0;
    int newEnd = static_cast<int>(end) > count ? static_cast<int>(end) - count : 0;
    Pane(EM_SETSEL, newStart, newEnd);
}

// After an overflow the oldest pending line has lost its start: the pane begins at the next one.
void DropPartialLine() {
    for (DWORD i = 0; i < s_pendingCount; ++i) {
        if (s_pending[(s_pendingHead + i) % kPendingSize] == '\n') {
            if (i + 1 == s_pendingCount) return;  // nothing would be left to show
            s_pendingHead = (s_pendingHead + i + 1) % kPendingSize;
            s_pendingCount -= i + 1;
            return;
        }
    }
}

void ShowPending() {
    if (s_paneObsolete) DropPartialLine();
    DWORD count = TakePending();
    // An edit control takes 30,000 characters by default; the pane's bound is the scrollback.
    Pane(EM_SETLIMITTEXT, 0);
    Pane(WM_SETREDRAW, FALSE);
    if (s_paneObsolete) {
        Pane(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        s_paneObsolete = false;
    } else {
        int cut = TrimPoint(static_cast<int>(Pane(WM_GETTEXTLENGTH)), count);
        if (cut > 0) RemoveOldest(cut);
    }
    Pane(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(s_insert));
    Pane(WM_SETREDRAW, TRUE);
    InvalidateRect(g_outputPane, nullptr, TRUE);
    Pane(EM_SCROLLCARET);
}

// Reads what is pending, in reads of at most kChunkMax bytes, until the pipe is empty or the
// read budget is spent. Returns true when output may still be pending.
bool ReadPending(double start) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(g_outputRead, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return false;
        while (available > 0) {
            DWORD got = 0;
            DWORD want = available < kChunkMax ? available : kChunkMax;
            if (!ReadFile(g_outputRead, g_outputChunk, want, &got, nullptr) || got == 0) {
                return false;
            }
            g_outputChunk[got] = '\0';
            Gather(g_outputChunk, got);
            available -= got;
        }
        if (NowMs() - start >= kReadBudgetMs) return true;
    }
}

void ScheduleNextPass(bool soon) {
    if (!g_mainWindow) return;
    if (soon) {
        SetTimer(g_mainWindow, kPumpAgainTimer, USER_TIMER_MINIMUM, nullptr);
    } else {
        KillTimer(g_mainWindow, kPumpAgainTimer);
    }
}

}  // namespace

void OutputPump() {
    bool more = g_outputRead && ReadPending(NowMs());
    if (s_pendingCount > 0 && g_outputPane) ShowPending();
    ScheduleNextPass(more || s_pendingCount > 0);
}

bool OutputPending() {
    return s_pendingCount > 0;
}

void DiscardPendingOutput() {
    s_pendingHead = 0;
    s_pendingCount = 0;
    s_paneObsolete = false;
}
