// The input queue: every byte for the interpreter goes through one ordered queue, written as far
// as the pipe takes it without waiting, so that a busy interpreter never freezes the window.
#include "byte_logic.h"
#include "link_state.h"

namespace {

ByteRing<kInputQueueSize> s_queue;

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
    return count <= s_queue.Room();
}

void QueueInput(const char* bytes, size_t count) {
    s_queue.Push(bytes, count);
}

bool FlushInput() {
    // Once the interpreter has ended, what is left was typed for it: it is told, not written.
    if (InterpreterEnded()) return s_queue.Size() > 0;
    while (s_queue.Size() > 0) {
        size_t size = 0;
        const char* front = s_queue.Front(&size);
        const int written =
            WriteFront(front, static_cast<DWORD>(size < kInputPipeSize ? size : kInputPipeSize));
        if (written < 0) s_queue.Clear();  // what the interpreter would have read is dropped
        if (written <= 0) break;
        s_queue.Drop(static_cast<size_t>(written));
    }
    return s_queue.Size() > 0;
}

size_t UnwrittenInputSize() {
    return s_queue.Size();
}

size_t CopyUnwrittenInput(char* out, size_t room) {
    return s_queue.Peek(out, room);
}

void ForgetInput() {
    s_queue.Clear();
}
