// The link's logic over bytes, with no window and no pipe: a byte queue, and the rules for what
// is shown of the interpreter's output. Tests call these directly.
#pragma once

#include <stddef.h>
#include <string.h>

// A queue of at most N bytes, copied in and out in blocks. The caller makes room before Push.
template <size_t N>
class ByteRing {
public:
    size_t Size() const { return count_; }
    size_t Room() const { return N - count_; }

    void Push(const char* bytes, size_t count) {
        const size_t end = (head_ + count_) % N;
        const size_t first = count < N - end ? count : N - end;
        memcpy(data_ + end, bytes, first);
        memcpy(data_, bytes + first, count - first);
        count_ += count;
    }

    // The oldest bytes that lie in one block; `*size` is how many (0 when the ring is empty).
    const char* Front(size_t* size) const {
        *size = count_ < N - head_ ? count_ : N - head_;
        return data_ + head_;
    }

    // Removes the `count` oldest bytes (at most Size()).
    void Drop(size_t count) {
        count_ -= count;
        head_ = count_ == 0 ? 0 : (head_ + count) % N;
    }

    // Moves up to `count` of the oldest bytes to `out`; returns how many.
    size_t Take(char* out, size_t count) {
        if (count > count_) count = count_;
        const size_t first = count < N - head_ ? count : N - head_;
        memcpy(out, data_ + head_, first);
        memcpy(out + first, data_, count - first);
        Drop(count);
        return count;
    }

    void Clear() { head_ = count_ = 0; }

private:
    char data_[N];
    size_t head_ = 0;
    size_t count_ = 0;
};

// Removes the zero bytes from `bytes` in place, keeping the order of the rest; returns how many
// bytes are left. The pane takes zero-terminated text, so a zero byte would cut what follows it.
size_t DropZeroBytes(char* bytes, size_t count);

// Where text that must lose at least its first `from` bytes is cut so that it starts with a whole
// line: just past the first line end ('\n') at or after `from` - 1. Inside a line that goes on for
// `reach` bytes past `from` without an end, or when `from` lies beyond `size`, the cut is `from`
// itself: an endless line is cut rather than dropped whole.
size_t LineStartFrom(const char* text, size_t size, size_t from, size_t reach);

// How many of `pending` bytes read but not shown go into the pane now, in one insertion: as much
// as one insertion takes once the interpreter has paused (`caughtUp`: the pipe was found empty),
// less and only every so often while it writes without pause; 0 for not yet.
size_t InsertSize(size_t pending, bool caughtUp, unsigned long long sinceShownMs);

// The notice that tells the user that the interpreter has ended, and with which exit code: in
// decimal, and in hexadecimal too for a code with its high bit set (a status of the system's own,
// such as that of a program ended by Ctrl+C); then how to start a new one. Two lines, each with
// its CR LF; writes them and a terminating zero to `out`, which has room for kEndNoticeMax bytes,
// and returns their length.
constexpr size_t kEndNoticeMax = 128;
size_t EndNotice(unsigned long code, char* out);
// The notice's last line, without its CR LF.
constexpr char kRestartLine[] = "[Press Enter to start it again.]";

// The line that names the lines an interpreter never read: `bytes` holds them as they were
// written to it, each ended by CR LF or LF, the last one perhaps by nothing. Each is named in
// quotes as it stands, in order: [It did not read 2 lines: "echo b", "echo c".] with its CR LF.
// Writes it to `out`, which has room for UnreadNoticeMax(count) bytes, and returns its length; 0
// when there are none.
constexpr size_t UnreadNoticeMax(size_t count) {
    return 64 + 4 * count;
}
size_t UnreadNotice(const char* bytes, size_t count, char* out);
