// What Tab completes. The rules are the interpreter's own completion's: the word at the caret,
// quotes around a name that holds a blank or one of the characters that the interpreter takes for
// its own, folders alone after the commands that take a folder, and names in the order of a
// folder listed by the system (by name, letter case aside).
#include "completion.h"

#include <stdlib.h>

#include "command_text.h"

namespace {

bool IsBlank(WCHAR c) {
    return c == ' ' || c == '\t';
}

bool IsLetter(WCHAR c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

WCHAR Upper(WCHAR c) {
    return c >= 'a' && c <= 'z' ? static_cast<WCHAR>(c - 'a' + 'A') : c;
}

bool IsUnc(const WCHAR* path) {
    return path[0] == '\\' && path[1] == '\\';
}

bool HasDrive(const WCHAR* path) {
    return IsLetter(path[0]) && path[1] == ':';
}

// Whether a name must be quoted for the interpreter: a blank, or a character it takes for its own.
bool NeedsQuotes(const WCHAR* text) {
    for (; *text; ++text) {
        for (const WCHAR* special = L" &()[]{}^=;!'+,`~"; *special; ++special)
            if (*text == *special) return true;
    }
    return false;
}

bool SameText(const WCHAR* a, int aLength, const WCHAR* b, int bLength) {
    return CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

// Appends `text` to `out` at `*at`, within `room` units counting a terminating zero; false when
// it does not fit.
bool Append(WCHAR* out, int room, int* at, const WCHAR* text, int length) {
    if (*at + length >= room) return false;
    CopyMemory(out + *at, text, length * sizeof(WCHAR));
    *at += length;
    out[*at] = 0;
    return true;
}

int CompareListed(const void* a, const void* b) {
    return CompareNames(*static_cast<const WCHAR* const*>(a), *static_cast<const WCHAR* const*>(b));
}

template <typename T>
bool Grow(T** items, size_t* room, size_t needed) {
    if (needed <= *room) return true;
    size_t count = *room ? *room : 256;
    while (count < needed)
        count *= 2;
    HANDLE heap = GetProcessHeap();
    void* grown = *items ? HeapReAlloc(heap, 0, *items, count * sizeof(T))
                         : HeapAlloc(heap, 0, count * sizeof(T));
    if (!grown) return false;
    *items = static_cast<T*>(grown);
    *room = count;
    return true;
}

}  // namespace

LineWord WordAtCaret(const WCHAR* line, int length, int caret) {
    bool quoted = false;
    int start = 0;
    for (int at = 0; at <= length; ++at) {
        const bool ends = at == length || (!quoted && IsBlank(line[at]));
        if (!ends) {
            if (line[at] == '"') quoted = !quoted;
            continue;
        }
        if (caret >= start && caret <= at) return {start, at};
        start = at + 1;
    }
    return {caret, caret};
}

int WordPath(const WCHAR* word, int length, WCHAR* path) {
    int count = 0, folder = 0;
    for (int at = 0; at < length; ++at) {
        if (word[at] == '"') continue;
        path[count++] = word[at];
        if (word[at] == '\\' || (count == 2 && HasDrive(path))) folder = count;
    }
    path[count] = 0;
    return folder;
}

bool WantsFolders(const WCHAR* line, int length, int wordStart) {
    int start = 0;
    while (start < length && IsBlank(line[start]))
        ++start;
    int end = start;
    while (end < length && !IsBlank(line[end]))
        ++end;
    if (wordStart <= start) return false;
    static const WCHAR* const kTakeFolders[] = {L"cd",    L"chdir", L"pushd", L"rd",
                                                L"rmdir", L"md",    L"mkdir"};
    for (const WCHAR* command : kTakeFolders)
        if (SameText(line + start, end - start, command, -1)) return true;
    return false;
}

bool ResolveFolder(const WCHAR* base, const WCHAR* typed, WCHAR* out) {
    WCHAR joined[2 * kPathMax];
    int at = 0;
    const int room = 2 * kPathMax, typedLength = lstrlenW(typed);
    bool fits = true;
    if (IsUnc(typed) || (HasDrive(typed) && typed[2] == '\\')) {
        fits = Append(joined, room, &at, typed, typedLength);
    } else if (HasDrive(typed) && !(HasDrive(base) && Upper(base[0]) == Upper(typed[0]))) {
        // Another drive, whose folder in the interpreter is not known: its root.
        fits = Append(joined, room, &at, typed, 2) && Append(joined, room, &at, L"\\", 1) &&
               Append(joined, room, &at, typed + 2, typedLength - 2);
    } else if (typed[0] == '\\') {
        // The root of the base's drive or share.
        int root = HasDrive(base) ? 2 : 0;
        // A share's root ends before the fourth backslash: \\server\share.
        for (int slashes = 0; IsUnc(base) && base[root]; ++root)
            if (base[root] == '\\' && ++slashes == 4) break;
        fits =
            Append(joined, room, &at, base, root) && Append(joined, room, &at, typed, typedLength);
    } else {
        const WCHAR* rest = HasDrive(typed) ? typed + 2 : typed;
        fits = Append(joined, room, &at, base, lstrlenW(base)) &&
               Append(joined, room, &at, L"\\", 1) &&
               Append(joined, room, &at, rest, lstrlenW(rest));
    }
    if (!fits) return false;
    const DWORD length = GetFullPathNameW(joined, kPathMax, out, nullptr);
    if (length == 0 || length >= static_cast<DWORD>(kPathMax)) return false;
    // No backslash at the end, but for a drive's root.
    if (length > 3 && out[length - 1] == '\\') out[length - 1] = 0;
    return true;
}

int PromptFolder(const WCHAR* line, int length, WCHAR* folder) {
    const int path = length - 1;
    if (path < 3 || path >= kPathMax || line[path] != '>') return 0;
    if (!(IsUnc(line) || (HasDrive(line) && line[2] == '\\'))) return 0;
    for (int at = 0; at < path; ++at) {
        const WCHAR c = line[at];
        if (c < ' ' || c == '<' || c == '>' || c == '|' || c == '"' || c == '*' || c == '?')
            return 0;
    }
    CopyMemory(folder, line, path * sizeof(WCHAR));
    folder[path] = 0;
    return path;
}

int CompletedLine(const WCHAR* line, int length, LineWord word, const WCHAR* folder,
                  const WCHAR* name, WCHAR* out, int room, int* caret) {
    const bool quote = (word.end > word.start && line[word.start] == '"') || NeedsQuotes(folder) ||
                       NeedsQuotes(name);
    int at = 0;
    out[0] = 0;
    const bool fits = Append(out, room, &at, line, word.start) &&
                      Append(out, room, &at, L"\"", quote ? 1 : 0) &&
                      Append(out, room, &at, folder, lstrlenW(folder)) &&
                      Append(out, room, &at, name, lstrlenW(name)) &&
                      Append(out, room, &at, L"\"", quote ? 1 : 0);
    *caret = at;
    return fits && Append(out, room, &at, line + word.end, length - word.end) ? at : 0;
}

int CompareNames(const WCHAR* a, const WCHAR* b) {
    const int folded = CompareStringOrdinal(a, -1, b, -1, TRUE);
    return folded != CSTR_EQUAL ? folded - CSTR_EQUAL
                                : CompareStringOrdinal(a, -1, b, -1, FALSE) - CSTR_EQUAL;
}

// The one place that asks whether a name can be sent; the line it makes is not kept.
bool NameCanBeSent(const WCHAR* name, int length, UINT page) {
    char line[kLineBytesMax + 1];
    TextRange refused;
    return MakeInterpreterLine(name, length, page, line, &refused) != 0;
}

NameList::~NameList() {
    Free();
}

NameList::NameList(NameList&& other) {
    *this = static_cast<NameList&&>(other);
}

NameList& NameList::operator=(NameList&& other) {
    if (this == &other) return *this;
    Free();
    units_ = other.units_;
    used_ = other.used_;
    room_ = other.room_;
    starts_ = other.starts_;
    names_ = other.names_;
    count_ = other.count_;
    slots_ = other.slots_;
    other.units_ = nullptr;
    other.starts_ = nullptr;
    other.names_ = nullptr;
    other.used_ = other.room_ = other.count_ = other.slots_ = 0;
    return *this;
}

void NameList::Free() {
    HANDLE heap = GetProcessHeap();
    if (units_) HeapFree(heap, 0, units_);
    if (starts_) HeapFree(heap, 0, starts_);
    if (names_) HeapFree(heap, 0, names_);
    units_ = nullptr;
    starts_ = nullptr;
    names_ = nullptr;
}

bool NameList::Add(const WCHAR* name, size_t length) {
    if (!Grow(&units_, &room_, used_ + length + 1) || !Grow(&starts_, &slots_, count_ + 1)) {
        return false;
    }
    CopyMemory(units_ + used_, name, length * sizeof(WCHAR));
    units_[used_ + length] = 0;
    starts_[count_++] = used_;
    used_ += length + 1;
    return true;
}

bool NameList::Sort() {
    if (names_) HeapFree(GetProcessHeap(), 0, names_);
    names_ = static_cast<const WCHAR**>(
        HeapAlloc(GetProcessHeap(), 0, (count_ ? count_ : 1) * sizeof(*names_)));
    if (!names_) return false;
    for (size_t i = 0; i < count_; ++i)
        names_[i] = units_ + starts_[i];
    qsort(names_, count_, sizeof(*names_), CompareListed);
    return true;
}

DWORD ListNames(const WCHAR* folder, const WCHAR* part, bool foldersOnly, UINT page,
                NameList* names) {
    WCHAR pattern[2 * kPathMax];
    const int folderLength = lstrlenW(folder), partLength = lstrlenW(part);
    int at = 0;
    const bool separated = folderLength > 0 && folder[folderLength - 1] == '\\';
    if (!Append(pattern, 2 * kPathMax, &at, folder, folderLength) ||
        !Append(pattern, 2 * kPathMax, &at, L"\\", separated ? 0 : 1) ||
        !Append(pattern, 2 * kPathMax, &at, part, partLength) ||
        !Append(pattern, 2 * kPathMax, &at, L"*", 1)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    bool wildcard = false;
    for (const WCHAR* c = part; *c; ++c)
        wildcard = wildcard || *c == '*' || *c == '?';
    WIN32_FIND_DATAW found;
    HANDLE find =
        FindFirstFileExW(pattern, FindExInfoBasic, &found,
                         foldersOnly ? FindExSearchLimitToDirectories : FindExSearchNameMatch,
                         nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD error = 0;
    do {
        const WCHAR* name = found.cFileName;
        const int length = lstrlenW(name);
        const bool dots = name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'));
        // The system matches a pattern against short names too: a part is matched here again.
        if (dots || (foldersOnly && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ||
            (!wildcard && (length < partLength || !SameText(name, partLength, part, partLength))) ||
            !NameCanBeSent(name, length, page)) {
            continue;
        }
        if (!names->Add(name, static_cast<size_t>(length))) error = ERROR_NOT_ENOUGH_MEMORY;
    } while (!error && FindNextFileW(find, &found));
    if (!error) error = GetLastError();
    FindClose(find);
    if (error != ERROR_NO_MORE_FILES) return error;
    if (names->Count() == 0) return ERROR_FILE_NOT_FOUND;
    return names->Sort() ? 0 : ERROR_NOT_ENOUGH_MEMORY;
}
