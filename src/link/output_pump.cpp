// The output pump: moves what the interpreter writes into the pane. It reads only what is
// already pending, and works while the window has nothing else to do: a pass goes on reading and
// showing until the pipe is empty, and gives the thread back as soon as any message waits, so the
// window answers at once however fast the interpreter writes.
//
// Under Wine a read of 1 KiB costs about 0.06 ms, while every insertion into the visible pane
// costs about 20 ms whatever its size, plus about 0.3 ms per KiB: the edit control updates both
// scroll bars several times per insertion, and each update redraws the bar (about 4.5 ms) even
// while the pane's redrawing is off. So reads go on all the time, and insertions gather what was
// read: during a flood a few times a second, at its end back to back.
#include "link.h"

#include <string.h>

char g_outputChunk[kChunkMax + 1];

namespace {

// How much one insertion takes: less while the interpreter is still writing (so that the window
// is rarely busy for long and the interpreter rarely waits on a full pipe meanwhile), more once
// it has paused (so that its last line shows soon). Under Wine, with the interpreter and the
// wineserver busy beside it, replacing the pane's text with 8 KiB takes 15 to 40 ms, with
// 32 KiB 25 to 40 ms: most of it is the fixed cost described above.
constexpr DWORD kFloodInsertMax = 8 * 1024;
constexpr DWORD kCatchUpInsertMax = 32 * 1024;
// While the interpreter writes without pause, the pane is brought up to date this often.
constexpr double kRefreshMs = 500.0;
// A pass that has run this long lets painting and the other timers have the thread.
constexpr double kPassMaxMs = 250.0;
// How many reads go by between looks at the message queue.
constexpr int kReadsPerQueueCheck = 32;

// Output read but not shown yet, without its zero bytes. When it overflows, its oldest bytes and
// everything in the pane are older than what will be shown: they are dropped instead of being
// inserted only to be removed again.
constexpr DWORD kPendingSize = static_cast<DWORD>(kScrollbackKeep);
static_assert(kChunkMax <= kBacklogMax, "one read always fits in what may wait");
char s_pending[kPendingSize];
DWORD s_pendingHead;
DWORD s_pendingCount;
bool s_paneObsolete;
DWORD s_streamBytes;  // read since the pane last caught up with the pipe
double s_lastShown;
double s_busySince;     // start of the passes that ran without letting low-priority work in
ULONGLONG s_lookUntil;  // early passes go on until then while no output comes

char s_insert[kCatchUpInsertMax + 1];

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Appends `count` bytes (from one read, so at most kChunkMax) to the pending ring, dropping its
// oldest bytes when they do not fit in what a burst, or a flood, may keep waiting.
void Append(const char* bytes, DWORD count) {
    if (count == 0) return;
    if (s_streamBytes <= kFloodStreamBytes) s_streamBytes += count;
    const DWORD capacity = s_streamBytes > kFloodStreamBytes ? kBacklogMax : kPendingSize;
    if (s_pendingCount + count > capacity) {
        DWORD dropped = s_pendingCount + count - capacity;
        s_pendingHead = (s_pendingHead + dropped) % kPendingSize;
        s_pendingCount -= dropped;
        s_paneObsolete = true;
    }
    DWORD end = (s_pendingHead + s_pendingCount) % kPendingSize;
    DWORD first = count < kPendingSize - end ? count : kPendingSize - end;
    memcpy(s_pending + end, bytes, first);
    memcpy(s_pending, bytes + first, count - first);
    s_pendingCount += count;
}

// Takes what was read into the pending ring, without its zero bytes.
void Gather(const char* bytes, DWORD count) {
    while (count > 0) {
        const char* zero = static_cast<const char*>(memchr(bytes, '\0', count));
        DWORD run = zero ? static_cast<DWORD>(zero - bytes) : count;
        Append(bytes, run);
        if (!zero) return;
        bytes += run + 1;
        count -= run + 1;
    }
}

// After an overflow the oldest pending line has lost its start: the pane begins at the next one,
// unless that line is so long that its tail is most of what there is to show.
void DropPartialLine() {
    constexpr DWORD kLongestDropped = 4096;
    for (DWORD i = 0; i + 1 < s_pendingCount && i < kLongestDropped; ++i) {
        if (s_pending[(s_pendingHead + i) % kPendingSize] == '\n') {
            s_pendingHead = (s_pendingHead + i + 1) % kPendingSize;
            s_pendingCount -= i + 1;
            return;
        }
    }
}

// Takes up to `limit` pending bytes into s_insert, zero-terminated.
DWORD TakePending(DWORD limit) {
    DWORD count = s_pendingCount < limit ? s_pendingCount : limit;
    DWORD first = count < kPendingSize - s_pendingHead ? count : kPendingSize - s_pendingHead;
    memcpy(s_insert, s_pending + s_pendingHead, first);
    memcpy(s_insert + first, s_pending, count - first);
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

// Shows up to `limit` pending bytes where the pane's selection stands, and paints the pane once.
void ShowPending(DWORD limit) {
    if (s_paneObsolete) DropPartialLine();
    DWORD count = TakePending(limit);
    // An edit control takes 30,000 characters by default; the pane's bound is the scrollback.
    Pane(EM_SETLIMITTEXT, 0);
    Pane(WM_SETREDRAW, FALSE);
    if (s_paneObsolete) {
        // Everything shown is older than the scrollback: replaced in the same insertion.
        Pane(EM_SETSEL, 0, -1);
        s_paneObsolete = false;
    } else {
        int cut = TrimPoint(static_cast<int>(Pane(WM_GETTEXTLENGTH)), count);
        if (cut > 0) RemoveOldest(cut);
    }
    Pane(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(s_insert));
    Pane(WM_SETREDRAW, TRUE);
    InvalidateRect(g_outputPane, nullptr, TRUE);
    Pane(EM_SCROLLCARET);
    UpdateWindow(g_outputPane);
    s_lastShown = NowMs();
}

// What the window's queue holds besides this pump's own timer.
enum class Waiting { kNothing, kSentMessage, kOtherMessage };

Waiting WaitingMessages() {
    DWORD status = HIWORD(GetQueueStatus(QS_ALLINPUT));
    if (status & (QS_INPUT | QS_POSTMESSAGE | QS_HOTKEY | QS_PAINT)) return Waiting::kOtherMessage;
    if (status & QS_SENDMESSAGE) return Waiting::kSentMessage;
    return Waiting::kNothing;
}

enum class ReadResult { kDrained, kMessageWaiting };

// Reads what the pipe holds, in reads of at most kChunkMax bytes, until it is empty (or broken)
// or a message waits for the window. `readAny` is set when anything was read.
ReadResult ReadAvailable(bool& readAny) {
    int reads = 0;
    for (;;) {
        DWORD available = 0;
        if (!g_outputRead ||
            !PeekNamedPipe(g_outputRead, nullptr, 0, nullptr, &available, nullptr) ||
            available == 0) {
            return ReadResult::kDrained;
        }
        // What the peek reported can be read without waiting, in several reads.
        while (available > 0) {
            DWORD got = 0;
            DWORD want = available < kChunkMax ? available : kChunkMax;
            if (!ReadFile(g_outputRead, g_outputChunk, want, &got, nullptr) || got == 0) {
                return ReadResult::kDrained;
            }
            g_outputChunk[got] = '\0';
            readAny = true;
            Gather(g_outputChunk, got);
            available -= got;
            if (++reads % kReadsPerQueueCheck == 0 && g_mainWindow &&
                WaitingMessages() != Waiting::kNothing) {
                return ReadResult::kMessageWaiting;
            }
        }
    }
}

// The next pass: a posted timer message comes right after the sent messages that interrupted
// this one; the real timer comes only once input, painting and everything else has been handled.
void ContinueSoon(bool beforeOtherWork) {
    if (!g_mainWindow) return;
    if (beforeOtherWork) {
        PostMessageA(g_mainWindow, WM_TIMER, kPumpAgainTimer, 0);
    } else {
        SetTimer(g_mainWindow, kPumpAgainTimer, USER_TIMER_MINIMUM, nullptr);
    }
}

}  // namespace

void OutputPump() {
    double start = NowMs();
    if (s_busySince == 0) s_busySince = start;
    bool readAny = false;
    for (;;) {
        bool drained = ReadAvailable(readAny) == ReadResult::kDrained;
        double now = NowMs();
        if (s_pendingCount > 0 && g_outputPane && (drained || now - s_lastShown >= kRefreshMs)) {
            ShowPending(drained ? kCatchUpInsertMax : kFloodInsertMax);
        }
        if (drained && (s_pendingCount == 0 || !g_outputPane)) {
            s_streamBytes = 0;
            if (readAny) s_lookUntil = 0;
            if (g_mainWindow && GetTickCount64() >= s_lookUntil) {
                KillTimer(g_mainWindow, kPumpAgainTimer);
            }
            s_busySince = 0;
            return;
        }
        Waiting waiting = g_mainWindow ? WaitingMessages() : Waiting::kNothing;
        now = NowMs();
        if (waiting == Waiting::kOtherMessage || now - s_busySince >= kPassMaxMs) {
            ContinueSoon(false);
            s_busySince = 0;
            return;
        }
        if (waiting == Waiting::kSentMessage || now - start >= kPassMaxMs) {
            ContinueSoon(true);
            return;
        }
    }
}

void LookForOutputSoon(DWORD forMs) {
    if (!g_mainWindow) return;
    s_lookUntil = GetTickCount64() + forMs;
    SetTimer(g_mainWindow, kPumpAgainTimer, USER_TIMER_MINIMUM, nullptr);
}

bool OutputPending() {
    return s_pendingCount > 0;
}

void DiscardPendingOutput() {
    s_pendingHead = 0;
    s_pendingCount = 0;
    s_streamBytes = 0;
    s_paneObsolete = false;
}
