// The link's logic over the output's text, with no window and no pipe: a queue of units, and the
// rules for what is shown of the interpreter's output. Tests call these directly.
#pragma once

#include <windows.h>

#include <stddef.h>
#include <string.h>

// A queue of at most N units of type T, copied in and out in blocks. The caller makes room before
// Push.
template <typename T, size_t N>
class Ring {
public:
    size_t Size() const { return count_; }
    size_t Room() const { return N - count_; }

    void Push(const T* units, size_t count) {
        const size_t end = (head_ + count_) % N;
        const size_t first = count < N - end ? count : N - end;
        memcpy(data_ + end, units, first * sizeof(T));
        memcpy(data_, units + first, (count - first) * sizeof(T));
        count_ += count;
    }

    // Removes the `count` oldest units (at most Size()).
    void Drop(size_t count) {
        count_ -= count;
        head_ = count_ == 0 ? 0 : (head_ + count) % N;
    }

    // Moves up to `count` of the oldest units to `out`; returns how many.
    size_t Take(T* out, size_t count) {
        if (count > count_) count = count_;
        const size_t first = count < N - head_ ? count : N - head_;
        memcpy(out, data_ + head_, first * sizeof(T));
        memcpy(out + first, data_, (count - first) * sizeof(T));
        Drop(count);
        return count;
    }

    void Clear() { head_ = count_ = 0; }

private:
    // All members are given their values, so that a static ring is made at compile time.
    T data_[N] = {};
    size_t head_ = 0;
    size_t count_ = 0;
};

// Where text that must lose at least its first `from` units is cut so that it starts with a whole
// line: just past the first line end ('\n') at or after `from` - 1. Inside a line that goes on for
// `reach` units past `from` without an end, or when `from` lies beyond `size`, the cut is `from`
// itself: an endless line is cut rather than dropped whole.
template <typename C>
size_t LineStartFrom(const C* text, size_t size, size_t from, size_t reach) {
    if (from == 0 || from > size) return from;
    const size_t limit = size - from < reach ? size : from + reach;
    for (size_t at = from - 1; at < limit; ++at)
        if (text[at] == '\n') return at + 1;
    return from;
}

// How many of `pending` bytes read but not shown go into the pane now, in one insertion: as much
// as one insertion takes once the interpreter has paused (`caughtUp`: the pipe was found empty),
// less and only every so often while it writes without pause; 0 for not yet.
size_t InsertSize(size_t pending, bool caughtUp, unsigned long long sinceShownMs);

// The notice that tells the user that the interpreter has ended, and with which exit code: in
// decimal, and in hexadecimal too for a code with its high bit set (a status of the system's own,
// such as that of a program ended by Ctrl+C); then how to start a new one. Two lines, each with
// its CR LF; writes them and a terminating zero to `out`, which has room for kEndNoticeMax units,
// and returns their length.
constexpr size_t kEndNoticeMax = 128;
size_t EndNotice(unsigned long code, WCHAR* out);
// The notice's last line, without its CR LF.
constexpr WCHAR kRestartLine[] = L"[Press Enter to start it again.]";

// The line that names the lines an interpreter never read: `text` holds them as they were sent to
// it, each ended by CR LF or LF, the last one perhaps by nothing. Each is named in quotes as it
// stands, in order: [It did not read 2 lines: "echo b", "echo c".] with its CR LF. Writes it to
// `out`, which has room for UnreadNoticeMax(count) units, and returns its length; 0 when there
// are none.
constexpr size_t UnreadNoticeMax(size_t count) {
    return 64 + 4 * count;
}
size_t UnreadNotice(const WCHAR* text, size_t count, WCHAR* out);
