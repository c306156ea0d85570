// The input queue: every byte for the interpreter goes through one ordered queue, written as far
// as the pipe takes it without waiting, so that a busy interpreter never freezes the window. A
// paste of any size goes in whole, and typed lines behind it: the queue is a block of the process
// heap that grows as needed, and the next pass of the pump writes on where the pipe stopped.
#include "link_state.h"

namespace {

// The bytes waiting are [s_head, s_tail) of s_bytes, which holds s_room.
char* s_bytes;
size_t s_head, s_tail, s_room;

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
    return UnwrittenInputSize() + count <= kInputQueueSize && Reserve(count);
}

bool InputTakes(size_t count) {
    return Reserve(count);
}

void QueueInput(const char* bytes, size_t count) {
    CopyMemory(s_bytes + s_tail, bytes, count);
    s_tail += count;
}

bool FlushInput() {
    // Once the interpreter has ended, what is left was typed for it: it is told, not written.
    if (InterpreterEnded()) return s_tail > s_head;
    while (s_tail > s_head) {
        const size_t size = s_tail - s_head;
        const int written = WriteFront(
            s_bytes + s_head, static_cast<DWORD>(size < kInputPipeSize ? size : kInputPipeSize));
        if (written <= 0) break;
        s_head += static_cast<size_t>(written);
    }
    if (s_head == s_tail) s_head = s_tail = 0;
    return s_tail > s_head;
}

void ForgetInput() {
    s_head = s_tail = 0;
}

size_t UnwrittenInputSize() {
    return s_tail - s_head;
}

size_t CopyUnwrittenInput(char* out, size_t room) {
    const size_t count = UnwrittenInputSize() < room ? UnwrittenInputSize() : room;
    CopyMemory(out, s_bytes + s_head, count);
    return count;
}
