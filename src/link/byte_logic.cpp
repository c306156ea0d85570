// The link's byte logic: what of the interpreter's output is kept, cut and shown.
#include "byte_logic.h"

#include "link_state.h"

size_t InsertSize(size_t pending, bool caughtUp, unsigned long long sinceShownMs) {
    const size_t most = caughtUp ? kCatchUpInsertMax : kFloodInsertMax;
    if (!caughtUp && sinceShownMs < kRefreshMs) return 0;
    return pending < most ? pending : most;
}

size_t EndNotice(unsigned long code, WCHAR* out) {
    const WCHAR* format = code & 0x80000000UL
                              ? L"[The interpreter has ended with exit code %lu (0x%08lX).]\r\n"
                              : L"[The interpreter has ended with exit code %lu.]\r\n";
    const int ended = wsprintfW(out, format, code, code);
    return static_cast<size_t>(ended + wsprintfW(out + ended, L"%s\r\n", kRestartLine));
}

size_t UnreadNotice(const WCHAR* text, size_t count, WCHAR* out) {
    // The end of the line that starts at `at`: its LF, or the text's end.
    auto lineEnd = [&](size_t at) {
        while (at < count && text[at] != '\n')
            ++at;
        return at;
    };
    size_t lines = 0;
    for (size_t at = 0; at < count; at = lineEnd(at) + 1)
        ++lines;
    if (lines == 0) return 0;
    WCHAR* next = out + wsprintfW(out, L"[It did not read %lu line%s: ",
                                  static_cast<unsigned long>(lines), lines == 1 ? L"" : L"s");
    for (size_t at = 0; at < count;) {
        const size_t end = lineEnd(at);
        const size_t length = end - at - (end > at && text[end - 1] == '\r' ? 1 : 0);
        if (at > 0) {
            *next++ = ',';
            *next++ = ' ';
        }
        *next++ = '"';
        CopyMemory(next, text + at, length * sizeof(WCHAR));
        next += length;
        *next++ = '"';
        at = end + 1;
    }
    CopyMemory(next, L".]\r\n", 5 * sizeof(WCHAR));  // with the terminating zero
    return static_cast<size_t>(next + 4 - out);
}
