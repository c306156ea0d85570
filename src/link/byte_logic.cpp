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
    return static_cast<size_t>(wsprintfA(out, format, code, code));
}
