// What Tab completes in a typed line: the word at the caret, the folder it names, the names in
// that folder that may take its place, and the line each of them makes. All of it is text logic
// with no window, but ListNames, which reads a folder: the system may take long to list one (a
// network share that has gone away), so the window calls it on a thread of its own.
#pragma once

#include <windows.h>

#include <stddef.h>

// The longest folder the window completes in, and the longest name part of a word, in UTF-16
// units with their terminating zero: a typed word and a folder of the prompt's, with room to spare.
constexpr int kPathMax = 2 * MAX_PATH + 8;

// The word at the caret: units [start, end) of the line. Blanks end it, but not inside quotes.
struct LineWord {
    int start;
    int end;
};
LineWord WordAtCaret(const WCHAR* line, int length, int caret);

// The word, `length` units, as a path: its quotes taken out, written with a terminating zero to
// `path`, which has room for length + 1 units. Returns the length of its folder part, through its
// last backslash or a drive's colon: the rest is what the names offered start with.
int WordPath(const WCHAR* word, int length, WCHAR* path);

// Whether only folders may complete a word that starts at `wordStart` of the line: it follows
// one of the commands that take a folder (cd, chdir, pushd, rd, rmdir, md, mkdir).
bool WantsFolders(const WCHAR* line, int length, int wordStart);

// The folder that `typed` (a word's folder part, as WordPath gives it) names from `base`, the
// interpreter's folder, written to `out` (kPathMax units) as the system's full path. False when
// it does not fit. A drive other than the base's stands for its root: the interpreter's folder on
// another drive is not known.
bool ResolveFolder(const WCHAR* base, const WCHAR* typed, WCHAR* out);

// The folder of a prompt like the interpreter's own ($P$G): a line that is the full path of a
// folder, and ">". Writes it with a terminating zero to `folder` (kPathMax units) and returns its
// length; 0 when the line is no such prompt. Whether the folder exists is for the caller to ask.
int PromptFolder(const WCHAR* line, int length, WCHAR* folder);

// The line that offering `name` makes of `line` (`length` units) in place of `word`: the word's
// folder part as typed (`folder`, unquoted) and the name, in quotes when either holds a blank or
// a character that the interpreter would take for its own, or when the word began with a quote.
// Writes it with a terminating zero to `out`, which has room for `room` units, and returns its
// length, with the caret's place after the name in `*caret`; 0 when it does not fit.
int CompletedLine(const WCHAR* line, int length, LineWord word, const WCHAR* folder,
                  const WCHAR* name, WCHAR* out, int room, int* caret);

// The order names are offered in, the interpreter's own: by name, letter case aside. Below zero,
// zero or above, as for qsort.
int CompareNames(const WCHAR* a, const WCHAR* b);

// Whether a name can go to the interpreter exactly as it is, in its code page `page`: one that
// cannot is never offered.
bool NameCanBeSent(const WCHAR* name, int length, UINT page);

// The names a folder's listing found, in the order CompareNames gives once Sort has run. Owns
// its memory; moves, does not copy.
class NameList {
public:
    NameList() = default;
    ~NameList();
    NameList(NameList&& other);
    NameList& operator=(NameList&& other);
    NameList(const NameList&) = delete;
    NameList& operator=(const NameList&) = delete;

    size_t Count() const { return count_; }
    const WCHAR* Name(size_t index) const { return names_[index]; }
    // Adds a name of `length` units; false when the memory for it cannot be had.
    bool Add(const WCHAR* name, size_t length);
    // Puts the names in order; false when the memory for it cannot be had.
    bool Sort();

private:
    void Free();
    WCHAR* units_ = nullptr;         // the names, each with its terminating zero
    size_t used_ = 0, room_ = 0;     // in units
    size_t* starts_ = nullptr;       // where each name starts in units_
    const WCHAR** names_ = nullptr;  // each name, in order, once sorted
    size_t count_ = 0, slots_ = 0;
};

// Lists the names in `folder` that start with `part` (letter case aside; a part holding a
// wildcard is the system's pattern), folders only when `foldersOnly` says so, never "." and "..",
// and none that NameCanBeSent refuses in `page`, into `names`, in order. Returns 0, or the
// system's error when the folder cannot be listed; no name fitting is ERROR_FILE_NOT_FOUND. Runs as
// long as the system takes: call it off the window's thread.
DWORD ListNames(const WCHAR* folder, const WCHAR* part, bool foldersOnly, UINT page,
                NameList* names);
