// Finding in the pane, through the system's Find box. The box is modeless, and the window runs
// inside the system's modal dialog loop, which passes only the main window's messages through
// IsDialogMessage: the box's Tab, Enter, Escape and Alt+letters would reach its controls as plain
// keys. A message-filter hook sees the loop's messages (the loop's IsDialogMessage calls it for
// each, and on Windows the loop itself too) and passes the box's through the box's own
// IsDialogMessage.
#include "find_box.h"

#include <commdlg.h>
#include <dlgs.h>

#include "pane_text.h"
#include "text_search.h"

namespace {

// The longest text searched for, in units with its terminating zero.
constexpr int kFindMax = 256;

HWND s_dialog, s_pane;
UINT s_findMessage;
HWND s_box;  // while it is open
HHOOK s_boxKeys;
// The box's request, which lives as long as the box: the text searched for, kept as the last
// search once the box has closed, the direction and the case. A new box searches up, from the
// end of the pane where the newest output is.
WCHAR s_what[kFindMax];
FINDREPLACEW s_find;
WCHAR s_reason[kFindMax + 32];

LRESULT CALLBACK BoxKeys(int code, WPARAM wParam, LPARAM lParam) {
    // IsDialogMessage calls this hook itself: the box's messages go through it once.
    static bool inside;
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code >= 0 && !inside && s_box &&
        (message->hwnd == s_box || IsChild(s_box, message->hwnd))) {
        inside = true;
        const BOOL taken = IsDialogMessageW(s_box, message);
        inside = false;
        if (taken) return TRUE;
    }
    return CallNextHookEx(s_boxKeys, code, wParam, lParam);
}

// The system's Find box for `find`, or null. It is in COMDLG32, which is loaded for the first
// search, from the system's folder: most runs search nothing, and the library, with those it
// loads in turn, would add megabytes and milliseconds to every start.
HWND SystemFindBox(FINDREPLACEW* find) {
    using FindText = HWND(WINAPI*)(FINDREPLACEW*);
    static FindText s_findText;
    if (!s_findText) {
        WCHAR path[MAX_PATH + 16];
        const UINT length = GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return nullptr;
        lstrcpyW(path + length, L"\\comdlg32.dll");
        HMODULE library = LoadLibraryW(path);
        if (!library) return nullptr;
        s_findText = reinterpret_cast<FindText>(
            reinterpret_cast<void*>(GetProcAddress(library, "FindTextW")));
    }
    return s_findText ? s_findText(find) : nullptr;
}

// The pane's selection into s_what, when it is on one line and fits; whether it was.
bool TakeSelection() {
    DWORD start = 0, end = 0;
    SendMessageW(s_pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    const LRESULT line = SendMessageW(s_pane, EM_LINEFROMCHAR, start, 0);
    if (end <= start || end - start >= kFindMax ||
        SendMessageW(s_pane, EM_LINEFROMCHAR, end, 0) != line) {
        return false;
    }
    WCHAR text[1024];
    const int length = PaneLine(s_pane, static_cast<int>(line), text, 1024);
    const auto at = start - static_cast<DWORD>(SendMessageW(s_pane, EM_LINEINDEX, line, 0));
    if (length < 0 || at + (end - start) > static_cast<DWORD>(length)) return false;
    CopyMemory(s_what, text + at, (end - start) * sizeof(WCHAR));
    s_what[end - start] = 0;
    return true;
}

// Moves the box off the match at `at` when it covers it, to just below the match's line, or above
// it where the screen has no room below.
void UncoverMatch(size_t at) {
    const LRESULT position = SendMessageW(s_pane, EM_POSFROMCHAR, at, 0);
    if (!s_box || position == -1) return;
    POINT match = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ClientToScreen(s_pane, &match);
    TEXTMETRICW metrics;
    HDC dc = GetDC(s_pane);
    SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(s_pane, WM_GETFONT, 0, 0)));
    GetTextMetricsW(dc, &metrics);
    ReleaseDC(s_pane, dc);
    const int lineHeight = metrics.tmHeight;
    RECT box, screen;
    GetWindowRect(s_box, &box);
    if (match.y + lineHeight <= box.top || match.y >= box.bottom) return;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    const int height = box.bottom - box.top;
    const int below = match.y + 2 * lineHeight;
    const int top = below + height <= screen.bottom ? below : match.y - lineHeight - height;
    SetWindowPos(s_box, nullptr, box.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void InitFindBox(HWND dialog, HWND pane) {
    s_dialog = dialog;
    s_pane = pane;
    s_findMessage = RegisterWindowMessageW(FINDMSGSTRINGW);
    s_find.Flags = FR_HIDEWHOLEWORD;
}

void OpenFindBox() {
    const bool selected = TakeSelection();
    // An open box keeps what the user typed into it, unless the pane's selection replaces it.
    if (s_box) {
        if (selected) SetDlgItemTextW(s_box, edt1, s_what);
        SetActiveWindow(s_box);
        return;
    }
    s_find.lStructSize = sizeof(s_find);
    s_find.hwndOwner = s_dialog;
    s_find.Flags &= FR_DOWN | FR_MATCHCASE | FR_HIDEWHOLEWORD;
    s_find.lpstrFindWhat = s_what;
    // In bytes for the system, in units for Wine: either way within the buffer.
    s_find.wFindWhatLen = kFindMax;
    s_box = SystemFindBox(&s_find);
    if (s_box) s_boxKeys = SetWindowsHookExW(WH_MSGFILTER, BoxKeys, nullptr, GetCurrentThreadId());
}

const WCHAR* FindAgain(bool down) {
    const size_t count = static_cast<size_t>(lstrlenW(s_what));
    if (count == 0) {
        OpenFindBox();
        return nullptr;
    }
    DWORD start = 0, end = 0;
    SendMessageW(s_pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    const PaneText text(s_pane);
    const size_t at = FindInText(text.Units(), text.Count(), s_what, count, down ? end : start,
                                 down, (s_find.Flags & FR_MATCHCASE) != 0);
    if (at == kNotFound) {
        MessageBeep(MB_OK);
        wsprintfW(s_reason, L"Cannot find \"%s\".", s_what);
        return s_reason;
    }
    SendMessageW(s_pane, EM_SETSEL, at, static_cast<LPARAM>(at + count));
    SendMessageW(s_pane, EM_SCROLLCARET, 0, 0);
    UncoverMatch(at);
    return nullptr;
}

bool IsFindBoxMessage(UINT message) {
    return s_findMessage != 0 && message == s_findMessage;
}

const WCHAR* OnFindBoxMessage(LPARAM lParam, bool* closed) {
    const auto* find = reinterpret_cast<const FINDREPLACEW*>(lParam);
    *closed = (find->Flags & FR_DIALOGTERM) != 0;
    if (*closed) {
        UnhookWindowsHookEx(s_boxKeys);
        s_box = nullptr;
        return nullptr;
    }
    return find->Flags & FR_FINDNEXT ? FindAgain((find->Flags & FR_DOWN) != 0) : nullptr;
}

void CloseFindBox() {
    if (!s_box) return;
    UnhookWindowsHookEx(s_boxKeys);
    DestroyWindow(s_box);
    s_box = nullptr;
}
