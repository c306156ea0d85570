// The input queue: every line for the interpreter goes through one ordered queue, and into the
// interpreter's pipe one at a time: a line is written only once the pipe is empty, that is once
// the interpreter has read the line before. An interpreter that reads its input a buffer at a time
// and keeps only the first line of it (Wine's cmd.exe does) so loses nothing, and the lines it has
// yet to read wait here, where the notice of its end can name them. A paste of any size goes in
// whole, and typed lines behind it: the queue is a block of the process heap that grows as needed
// and goes back to the system once it is empty.
#include "link_state.h"

namespace {

// The queue is [s_head, s_tail) of s_bytes, which holds s_room: for each line, the code page it
// was made in (two bytes), then its bytes, up to and with its LF. The first s_started bytes of the
// front line are in the pipe already; s_unwritten counts the lines' bytes not in the pipe yet.
constexpr size_t kPageBytes = sizeof(WORD);
char* s_bytes;
size_t s_head, s_tail, s_room, s_started, s_unwritten;
UINT s_pipePage;          // the page of the line that went into the pipe last
ULONGLONG s_lineWritten;  // when the last whole line went into the pipe

// Makes room for `count` more bytes at the tail: the block grows by that much and
// kInputQueueSize more when it has not room enough, and the waiting bytes move to its start.
// False when the memory cannot be had.
bool Reserve(size_t count) {
    if (s_tail + count <= s_room) return true;
    const size_t size = s_tail - s_head;
    if (size + count > s_room) {
        const size_t room = s_room + count + kInputQueueSize;
        void* bytes = s_bytes ? HeapReAlloc(GetProcessHeap(), 0, s_bytes, room)
                              : HeapAlloc(GetProcessHeap(), 0, room);
        if (!bytes) return false;
        s_bytes = static_cast<char*>(bytes);
        s_room = room;
    }
    MoveMemory(s_bytes, s_bytes + s_head, size);
    s_head = 0;
    s_tail = size;
    return true;
}

// An empty queue keeps a block of a typed line's size; a paste's large one goes back.
void Empty() {
    s_head = s_tail = s_started = s_unwritten = 0;
    if (s_room > 2 * kInputQueueSize) {
        HeapFree(GetProcessHeap(), 0, s_bytes);
        s_bytes = nullptr;
        s_room = 0;
    }
}

// The line that starts at `at`: its page, and its bytes [*start, *end).
UINT LineAt(size_t at, size_t* start, size_t* end) {
    WORD page;
    CopyMemory(&page, s_bytes + at, kPageBytes);
    *start = at + kPageBytes;
    *end = static_cast<size_t>(
        static_cast<const char*>(memchr(s_bytes + *start, '\n', s_tail - *start)) + 1 - s_bytes);
    return page;
}

// Whether the interpreter has read all that was written into its pipe.
bool InputPipeEmpty() {
    DWORD waiting = 0;
    return PeekNamedPipe(g_inputPeek, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0;
}

// Writes up to `size` bytes from the front of the queue. The pipe is in no-wait mode: Wine takes
// a write whole or not at all (reporting success with 0 bytes when it does not fit), Windows may
// take part of it. So a write that takes nothing is tried again with half the size, down to one
// byte. Returns the bytes written, or -1 when the interpreter's end is gone.
int WriteFront(const char* front, DWORD size) {
    for (; size > 0; size /= 2) {
        DWORD written = 0;
        if (!WriteFile(g_inputWrite, front, size, &written, nullptr)) return -1;
        if (written > 0) return static_cast<int>(written);
    }
    return 0;
}

}  // namespace

bool InputHasRoom(size_t count) {
    return s_unwritten + count <= kInputQueueSize && Reserve(kPageBytes + count);
}

bool InputTakes(size_t count) {
    return Reserve(kPageBytes + count);
}

void QueueInput(const char* bytes, size_t count, UINT page) {
    const WORD pageWord = static_cast<WORD>(page);
    CopyMemory(s_bytes + s_tail, &pageWord, kPageBytes);
    CopyMemory(s_bytes + s_tail + kPageBytes, bytes, count);
    s_tail += kPageBytes + count;
    s_unwritten += count;
}

bool FlushInput(ULONGLONG until) {
    for (bool first = true; s_tail > s_head; first = false) {
        if (!first && GetTickCount64() >= until) break;
        // The rest of a line that the pipe took only part of goes on at once; a new line only
        // into an empty pipe.
        if (s_started == 0 && !InputPipeEmpty()) {
            // Right after a line went in, the interpreter may read it any moment.
            if (GetTickCount64() - s_lineWritten >= kFeedPatienceMs) break;
            SwitchToThread();
            continue;
        }
        // Once the interpreter has ended, what is left was typed for it: it is told, not written.
        if (InterpreterEnded()) break;
        size_t start, end;
        s_pipePage = LineAt(s_head, &start, &end);
        const int written =
            WriteFront(s_bytes + start + s_started, static_cast<DWORD>(end - start - s_started));
        if (written <= 0) break;
        s_started += static_cast<size_t>(written);
        s_unwritten -= static_cast<size_t>(written);
        if (start + s_started < end) break;
        s_head = end;
        s_started = 0;
        s_lineWritten = GetTickCount64();
    }
    if (s_head == s_tail) Empty();
    return s_tail > s_head;
}

ULONGLONG LineWrittenAt() {
    return s_lineWritten;
}

void ForgetInput() {
    Empty();
}

size_t UnwrittenInputSize() {
    return s_unwritten;
}

size_t UnreadInputMax() {
    DWORD inPipe = 0;
    if (!g_inputPeek || !PeekNamedPipe(g_inputPeek, nullptr, 0, nullptr, &inPipe, nullptr)) {
        inPipe = 0;
    }
    // Each byte is a unit at the most, and each line may end in one U+FFFD more.
    return 2 * (inPipe + s_unwritten) + 4;
}

size_t UnreadInput(WCHAR* out, size_t room) {
    OutputDecoder decoder = {};
    size_t units = 0;
    DWORD inPipe = 0;
    if (g_inputPeek && PeekNamedPipe(g_inputPeek, nullptr, 0, nullptr, &inPipe, nullptr) &&
        inPipe > 0) {
        // What the pipe holds is the line written last, or its start.
        auto* bytes = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, inPipe));
        DWORD peeked = 0;
        if (bytes && DecodedMax(inPipe) <= room &&
            PeekNamedPipe(g_inputPeek, bytes, inPipe, &peeked, nullptr, nullptr)) {
            units = DecodeOutput(&decoder, s_pipePage, bytes, peeked, out);
        }
        if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
    }
    for (size_t at = s_head; at < s_tail;) {
        size_t start, end;
        const UINT page = LineAt(at, &start, &end);
        if (at == s_head) start += s_started;
        if (units + DecodedMax(end - start) > room) break;
        units += DecodeOutput(&decoder, page, s_bytes + start, end - start, out + units);
        at = end;
    }
    return units + EndDecoding(&decoder, out + units);
}
