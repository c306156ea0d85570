// The input queue: every byte for the interpreter goes through one ordered queue, written as far
// as the pipe takes it without waiting, so that a busy interpreter never freezes the window.
#include "link.h"

namespace {

char s_queue[kInputQueueSize];
DWORD s_head;   // index of the oldest queued byte
DWORD s_count;  // bytes queued

DWORD Room() {
    return kInputQueueSize - s_count;
}

void Append(const char* bytes, DWORD count) {
    for (DWORD i = 0; i < count; ++i)
        s_queue[(s_head + s_count + i) % kInputQueueSize] = bytes[i];
    s_count += count;
}

// Writes up to `size` bytes from the front of the queue. The pipe is in no-wait mode: Wine takes
// a write whole or not at all (reporting success with 0 bytes when it does not fit), Windows may
// take part of it. So a write that takes nothing is tried again with half the size, down to one
// byte. Returns the bytes written, or -1 when the interpreter's end is gone.
int WriteFront(DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(g_inputWrite, s_queue + s_head, size, &written, nullptr)) return -1;
        if (written > 0) return static_cast<int>(written);
        size /= 2;
    }
    return 0;
}

}  // namespace

bool InputHasRoom(DWORD count) {
    return count + kStopLineLength <= Room();
}

bool QueueInput(const char* bytes, DWORD count) {
    if (!InputHasRoom(count)) return false;
    Append(bytes, count);
    return true;
}

void QueueStopLine() {
    if (kStopLineLength <= Room()) Append(kStopLine, kStopLineLength);
}

DWORD QueuedInput() {
    return s_count;
}

DWORD FlushInput() {
    while (s_count > 0) {
        DWORD contiguous = kInputQueueSize - s_head;
        if (contiguous > s_count) contiguous = s_count;
        if (contiguous > kInputPipeSize) contiguous = kInputPipeSize;
        int written = g_inputWrite ? WriteFront(contiguous) : -1;
        if (written < 0) {
            // The interpreter has gone (or was never there): what it would have read is dropped.
            s_head = 0;
            s_count = 0;
            break;
        }
        if (written == 0) break;
        s_head = (s_head + static_cast<DWORD>(written)) % kInputQueueSize;
        s_count -= static_cast<DWORD>(written);
    }
    if (s_count == 0) s_head = 0;
    return s_count;
}
