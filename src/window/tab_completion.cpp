// Tab completion in the entry field. The window does not know the interpreter's folder: it reads
// it from the prompts the interpreter shows. Folders are listed on a thread of their own, each
// Tab that needs one starting one, as the system may take long to list a folder (a network share
// that has gone away takes as long as the system waits for it): the window goes on answering,
// and a key pressed meanwhile forgets the listing, which ends with its thread.
#include "tab_completion.h"

#include <new>

#include "completion.h"
#include "link.h"
#include "pane_text.h"

namespace {

// The longest line the field is completed in, in units with its terminating zero.
constexpr int kLineMax = 1024;
// The prompts kept for the next listing to look at, newest last.
constexpr int kPromptsKept = 8;

// One listing, made by the window, filled by its thread, and posted back to the window, which
// frees it; or freed by the thread when the window is gone.
struct Listing {
    UINT serial;  // which Tab asked for it
    HWND window;
    // The candidates for the interpreter's folder, newest first: the folders of `prompts`
    // prompts not yet looked at, the newest of them numbered `newestPrompt`, then the folder
    // found last.
    WCHAR folders[kPromptsKept + 1][kPathMax];
    int prompts;
    UINT newestPrompt;
    WCHAR typed[kPathMax];  // the word's folder part, as typed, without quotes
    WCHAR part[kPathMax];   // what the names start with
    bool foldersOnly;
    UINT page;  // the interpreter's code page, in which a name must go
    // The thread's answer: the folder taken as the interpreter's, the folder listed, and either
    // the names or why there are none.
    int chosen;
    WCHAR listed[kPathMax];
    DWORD error;
    NameList names;
};

void DeleteListing(Listing* listing) {
    listing->~Listing();
    HeapFree(GetProcessHeap(), 0, listing);
}

// The interpreter's folder: the newest folder of a prompt that exists; the window's own before
// any. A prompt is only a candidate until a listing's thread has seen that its folder exists.
HWND s_window, s_pane;
WCHAR s_folder[kPathMax];
struct Prompt {
    UINT number;
    WCHAR folder[kPathMax];
};
Prompt s_prompts[kPromptsKept];
int s_promptCount;
UINT s_promptNumber;  // the number of the newest prompt seen
UINT s_promptsTaken;  // the newest prompt that a listing has looked at

// The field as a Tab found it: the line and the caret.
struct FieldLine {
    WCHAR text[kLineMax];
    int length;
    int caret;
};

// The listing the field waits for (0 for none), and the field it is for.
UINT s_serial, s_lastSerial;
FieldLine s_asked;
bool s_backwards;
LineWord s_word;

// The cycle: the names on offer, the one shown, and the field as the window left it.
Listing* s_cycle;
size_t s_offered;
FieldLine s_shown;

WCHAR s_reason[2 * kPathMax + 160];

bool ReadField(HWND field, FieldLine* line) {
    line->length = static_cast<int>(
        SendMessageW(field, WM_GETTEXT, kLineMax, reinterpret_cast<LPARAM>(line->text)));
    DWORD start = 0, end = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    line->caret = static_cast<int>(end);
    return line->length < kLineMax - 1;
}

bool Same(const FieldLine& a, const FieldLine& b) {
    return a.length == b.length && a.caret == b.caret &&
           CompareStringOrdinal(a.text, a.length, b.text, b.length, FALSE) == CSTR_EQUAL;
}

bool SameFolder(const WCHAR* a, const WCHAR* b) {
    return CompareStringOrdinal(a, -1, b, -1, FALSE) == CSTR_EQUAL;
}

// The thread of one listing: which candidate is the interpreter's folder, then the names.
DWORD WINAPI ListInBackground(void* parameter) {
    auto* listing = static_cast<Listing*>(parameter);
    listing->chosen = listing->prompts;
    for (int i = 0; i < listing->prompts; ++i) {
        const DWORD attributes = GetFileAttributesW(listing->folders[i]);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            listing->chosen = i;
            break;
        }
    }
    listing->error =
        ResolveFolder(listing->folders[listing->chosen], listing->typed, listing->listed)
            ? ListNames(listing->listed, listing->part, listing->foldersOnly, listing->page,
                        &listing->names)
            : ERROR_FILENAME_EXCED_RANGE;
    if (!PostMessageW(listing->window, WM_NAMES_LISTED, 0, reinterpret_cast<LPARAM>(listing))) {
        DeleteListing(listing);
    }
    return 0;
}

// What a listing found of the interpreter's folder: the prompts it looked at are done with,
// unless a later listing has come back first.
void TakeFolder(const Listing& listing) {
    if (listing.prompts == 0 || listing.newestPrompt <= s_promptsTaken) return;
    s_promptsTaken = listing.newestPrompt;
    if (listing.chosen < listing.prompts) lstrcpyW(s_folder, listing.folders[listing.chosen]);
    int kept = 0;
    for (int i = 0; i < s_promptCount; ++i)
        if (s_prompts[i].number > listing.newestPrompt) s_prompts[kept++] = s_prompts[i];
    s_promptCount = kept;
}

// Asks for the names that may complete the word at the caret of `line`, on a thread of their own.
void AskForNames(const FieldLine& line) {
    auto* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Listing));
    if (!memory) return;
    auto* listing = new (memory) Listing();
    listing->serial = ++s_lastSerial;
    listing->window = s_window;
    for (int i = s_promptCount; i-- > 0;)
        lstrcpyW(listing->folders[listing->prompts++], s_prompts[i].folder);
    listing->newestPrompt = s_promptCount > 0 ? s_prompts[s_promptCount - 1].number : 0;
    lstrcpyW(listing->folders[listing->prompts], s_folder);
    s_word = WordAtCaret(line.text, line.length, line.caret);
    WCHAR path[kLineMax];
    const int folder = WordPath(line.text + s_word.start, s_word.end - s_word.start, path);
    if (folder >= kPathMax || lstrlenW(path + folder) >= kPathMax) return DeleteListing(listing);
    CopyMemory(listing->typed, path, folder * sizeof(WCHAR));
    lstrcpyW(listing->part, path + folder);
    listing->foldersOnly = WantsFolders(line.text, line.length, s_word.start);
    listing->page = InterpreterInputPage();
    HANDLE thread = CreateThread(nullptr, 0, ListInBackground, listing, 0, nullptr);
    if (!thread) return DeleteListing(listing);
    CloseHandle(thread);
    s_serial = listing->serial;
    s_asked = line;
}

// Shows the name on offer in the field, in place of the word, with the caret after it.
void ShowOffered(HWND field) {
    s_shown.length =
        CompletedLine(s_asked.text, s_asked.length, s_word, s_cycle->typed,
                      s_cycle->names.Name(s_offered), s_shown.text, kLineMax, &s_shown.caret);
    if (s_shown.length == 0) {
        MessageBeep(MB_OK);
        return;
    }
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s_shown.text));
    SendMessageW(field, EM_SETSEL, static_cast<WPARAM>(s_shown.caret), s_shown.caret);
}

// Why a listing has no names: nothing starts with the word, or the folder could not be listed.
const WCHAR* NoNames(const Listing& listing) {
    MessageBeep(MB_OK);
    const WCHAR* what = listing.foldersOnly ? L"No folder" : L"Nothing";
    if (listing.error == ERROR_FILE_NOT_FOUND) {
        wsprintfW(s_reason, L"%s in %s starts with \"%s\".", what, listing.listed, listing.part);
        return s_reason;
    }
    WCHAR* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, listing.error, 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr);
    int length = text ? lstrlenW(text) : 0;
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        text[--length] = 0;
    const WCHAR* folder =
        listing.error == ERROR_FILENAME_EXCED_RANGE ? L"the folder" : listing.listed;
    if (length > 0 && length < 160) {
        wsprintfW(s_reason, L"Cannot list %s: %s", folder, text);
    } else {
        wsprintfW(s_reason, L"Cannot list %s: error %u.", folder, listing.error);
    }
    if (text) LocalFree(text);
    return s_reason;
}

}  // namespace

void InitTabCompletion(HWND dialog, HWND pane) {
    s_window = dialog;
    s_pane = pane;
    if (GetCurrentDirectoryW(kPathMax, s_folder) >= static_cast<DWORD>(kPathMax)) s_folder[0] = 0;
}

void NotePrompt() {
    WCHAR line[kPathMax + 1], folder[kPathMax];
    const int length = PaneLine(s_pane, -1, line, kPathMax + 1);
    if (length <= 0 || !PromptFolder(line, length, folder)) return;
    const WCHAR* newest = s_promptCount > 0 ? s_prompts[s_promptCount - 1].folder : s_folder;
    if (SameFolder(newest, folder)) return;
    if (s_promptCount == kPromptsKept) {
        MoveMemory(s_prompts, s_prompts + 1, (kPromptsKept - 1) * sizeof(Prompt));
        --s_promptCount;
    }
    s_prompts[s_promptCount].number = ++s_promptNumber;
    lstrcpyW(s_prompts[s_promptCount++].folder, folder);
}

void OnTabKey(HWND field, bool backwards) {
    FieldLine now;
    if (!ReadField(field, &now)) {
        MessageBeep(MB_OK);
        return;
    }
    if (s_cycle && Same(now, s_shown)) {
        const size_t count = s_cycle->names.Count();
        s_offered = (s_offered + (backwards ? count - 1 : 1)) % count;
        ShowOffered(field);
        return;
    }
    // Still listing for this very line: the names come when the system has listed them.
    if (s_serial != 0 && Same(now, s_asked)) return;
    EndCompletion();
    s_backwards = backwards;
    NotePrompt();
    AskForNames(now);
}

void EndCompletion() {
    s_serial = 0;
    if (s_cycle) DeleteListing(s_cycle);
    s_cycle = nullptr;
}

const WCHAR* TakeListedNames(HWND field, LPARAM lParam) {
    auto* listing = reinterpret_cast<Listing*>(lParam);
    TakeFolder(*listing);
    FieldLine now;
    if (listing->serial != s_serial || !ReadField(field, &now) || !Same(now, s_asked)) {
        DeleteListing(listing);
        return nullptr;
    }
    s_serial = 0;
    if (listing->error != 0) {
        const WCHAR* reason = NoNames(*listing);
        DeleteListing(listing);
        return reason;
    }
    s_cycle = listing;
    s_offered = s_backwards ? listing->names.Count() - 1 : 0;
    ShowOffered(field);
    return nullptr;
}
