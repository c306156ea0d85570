// The link's byte logic: what of the interpreter's output is kept, cut and shown.
#include "byte_logic.h"

#include "link_state.h"

size_t DropZeroBytes(char* bytes, size_t count) {
    char* end = bytes + count;
    char* out = static_cast<char*>(memchr(bytes, '\0', count));
    if (!out) return count;
    // Each run between zero bytes moves down in one block.
    for (const char* run = out + 1; run < end;) {
        const char* zero =
            static_cast<const char*>(memchr(run, '\0', static_cast<size_t>(end - run)));
        const size_t length = static_cast<size_t>((zero ? zero : end) - run);
        memmove(out, run, length);
        out += length;
        run += length + 1;
    }
    return static_cast<size_t>(out - bytes);
}

size_t LineStartFrom(const char* text, size_t size, size_t from, size_t reach) {
    if (from == 0 || from > size) return from;
    const size_t limit = size - from < reach ? size : from + reach;
    const void* lineEnd = memchr(text + from - 1, '\n', limit - (from - 1));
    return lineEnd ? static_cast<size_t>(static_cast<const char*>(lineEnd) - text) + 1 : from;
}

size_t InsertSize(size_t pending, bool caughtUp, unsigned long long sinceShownMs) {
    const size_t most = caughtUp ? kCatchUpInsertMax : kFloodInsertMax;
    if (!caughtUp && sinceShownMs < kRefreshMs) return 0;
    return pending < most ? pending : most;
}

size_t EndNotice(unsigned long code, char* out) {
    const char* format = code & 0x80000000UL
                             ? "[The interpreter has ended with exit code %lu (0x%08lX).]\r\n"
                             : "[The interpreter has ended with exit code %lu.]\r\n";
    const int ended = wsprintfA(out, format, code, code);
    return static_cast<size_t>(ended + wsprintfA(out + ended, "%s\r\n", kRestartLine));
}

size_t UnreadNotice(const char* bytes, size_t count, char* out) {
    size_t lines = 0;
    for (size_t at = 0; at < count; ++lines) {
        const void* end = memchr(bytes + at, '\n', count - at);
        at = end ? static_cast<size_t>(static_cast<const char*>(end) - bytes) + 1 : count;
    }
    if (lines == 0) return 0;
    char* next =
        out + wsprintfA(out, "[It did not read %lu line%s: ", static_cast<unsigned long>(lines),
                        lines == 1 ? "" : "s");
    for (size_t at = 0; at < count;) {
        const void* found = memchr(bytes + at, '\n', count - at);
        const size_t end =
            found ? static_cast<size_t>(static_cast<const char*>(found) - bytes) : count;
        const size_t length = end - at - (end > at && bytes[end - 1] == '\r' ? 1 : 0);
        if (at > 0) {
            *next++ = ',';
            *next++ = ' ';
        }
        *next++ = '"';
        memcpy(next, bytes + at, length);
        next += length;
        *next++ = '"';
        at = end + 1;
    }
    memcpy(next, ".]\r\n", 5);  // with the terminating zero
    return static_cast<size_t>(next + 4 - out);
}
