// The main window: starts the interpreter while it initialises, drives the output pump from its
// timer, colours the edit controls, keeps the keyboard focus where the user left it, takes Ctrl+C
// and Ctrl+Break as a console window does, and stops the interpreter when it closes.
#include "console_dialog.h"

#include "command_text.h"
#include "link.h"
#include "resource.h"

HINSTANCE g_instance;

namespace {

constexpr COLORREF kTextColour = RGB(255, 255, 255);
constexpr COLORREF kBackColour = RGB(0, 0, 0);

// The controls the focus moves between, recorded once the interpreter runs.
HWND s_pane;
HWND s_entry;

// Where the keyboard focus goes back to: the pane if the user was there last, else the entry
// field. Followed from the controls' own notices, as the focus can leave both without the window
// being deactivated (a minimised window stays active, and under Wine keeps its focus control).
bool s_focusInPane;

// Installs EntryFieldProc on the entry field; the field's own procedure goes into its user-data
// slot, where EntryFieldProc finds it. The wide functions, so that EntryFieldProc sees each typed
// character itself rather than the ANSI code page's "?" for it.
void SubclassEntryField(HWND field) {
    LONG_PTR previous =
        SetWindowLongPtrW(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EntryFieldProc));
    SetWindowLongPtrW(field, GWLP_USERDATA, previous);
}

// Installs PaneProc on the pane, its own procedure going into its user-data slot. The ANSI
// functions: the pane shows the interpreter's bytes as they came, and no message to it may pass
// through a code page on its way.
void SubclassPane(HWND pane) {
    LONG_PTR previous = SetWindowLongPtrA(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PaneProc));
    SetWindowLongPtrA(pane, GWLP_USERDATA, previous);
}

INT_PTR OnInitDialog(HWND dialog) {
    HWND pane = GetDlgItem(dialog, IDC_OUTPUT);
    HWND combo = GetDlgItem(dialog, IDC_COMMAND);
    SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(OEM_FIXED_FONT)), FALSE);
    if (!SpawnInterpreter({dialog, pane, combo})) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    HICON icon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_CONSOLE));
    SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    s_pane = pane;
    s_entry = GetWindow(combo, GW_CHILD);
    SubclassEntryField(s_entry);
    SubclassPane(pane);
    SetFocus(s_entry);
    SetTimer(dialog, ID_POLL_TIMER, kPollPeriodMs, nullptr);
    return FALSE;
}

// Every tick of either timer, whatever its id.
INT_PTR OnTimer() {
    OutputPump();
    return TRUE;
}

// The window goes from the screen at once; the process ends as soon as the interpreter has.
INT_PTR OnClose(HWND dialog) {
    ShowWindow(dialog, SW_HIDE);
    EndDialog(dialog, 0);
    StopInterpreter();
    return TRUE;
}

INT_PTR OnCtlColorEdit(HDC dc) {
    SetTextColor(dc, kTextColour);
    SetBkColor(dc, kBackColour);
    return reinterpret_cast<INT_PTR>(GetStockObject(BLACK_BRUSH));
}

// The dialog manager's own focus restore (when this procedure answers FALSE to WM_ACTIVATE or
// WM_SETFOCUS) picks the first tab stop, the pane, and selects all its text: the next key typed
// would replace it. So the focus goes back where the user left it, and the answer is TRUE.
// Before the controls are recorded (a failed launch) the dialog manager does as it does.
INT_PTR RestoreFocus(HWND dialog) {
    if (!s_entry) return FALSE;
    if (!IsIconic(dialog)) SetFocus(s_focusInPane ? s_pane : s_entry);
    return TRUE;
}

INT_PTR OnActivate(HWND dialog, WPARAM wParam) {
    return LOWORD(wParam) == WA_INACTIVE ? FALSE : RestoreFocus(dialog);
}

INT_PTR OnCommand(WPARAM wParam) {
    if (LOWORD(wParam) == IDC_OUTPUT && HIWORD(wParam) == EN_SETFOCUS) s_focusInPane = true;
    if (LOWORD(wParam) == IDC_COMMAND && HIWORD(wParam) == CBN_SETFOCUS) s_focusInPane = false;
    return FALSE;
}

// Tab and Shift+Tab in the pane lead back to the entry field, which is no tab stop: its every
// key, Tab included, belongs to it.
INT_PTR OnNextDlgCtl(LPARAM lParam) {
    if (LOWORD(lParam) != 0 || !s_entry || GetFocus() != s_pane) return FALSE;
    SetFocus(s_entry);
    return TRUE;
}

// Whether the clipboard's text can go into the entry field as it is. The Unicode form is the
// text as it was copied; an ANSI paste would get it with "?" and best-fit guesses.
bool ClipboardFitsEntryField(HWND field) {
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT)) return true;  // the paste takes nothing
    if (!OpenClipboard(field)) return false;
    bool fits = true;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* text = data ? static_cast<const WCHAR*>(GlobalLock(data)) : nullptr;
    if (text) {
        fits = FieldTakesPaste(text, GlobalSize(data) / sizeof(WCHAR));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return fits;
}

// Ctrl+Break, and Ctrl+C with nothing selected in `control`, as a console window takes them: true
// for either key, which is then done with. Ctrl+C with a selection is the control's own copy.
bool OnInterruptKey(HWND control, UINT message, WPARAM wParam) {
    if (message == WM_KEYDOWN && wParam == VK_CANCEL) {
        if (!EndInterpreterPrograms()) MessageBeep(MB_OK);
        return true;
    }
    // Ctrl+C arrives as its character, which is also what Ctrl+Break makes.
    if (message != WM_CHAR || wParam != 3) return false;
    if (GetKeyState(VK_CANCEL) < 0) return true;
    DWORD start = 0, end = 0;
    SendMessageA(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    if (start != end) return false;
    if (!InterruptInterpreter()) MessageBeep(MB_OK);
    return true;
}

LRESULT RefuseInput(WCHAR character) {
    // A character beyond the BMP comes as two WM_CHAR messages: one beep for both.
    if (!IS_LOW_SURROGATE(character)) MessageBeep(MB_OK);
    return 0;
}

}  // namespace

INT_PTR CALLBACK ConsoleDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_TIMER:
            return OnTimer();
        case WM_CLOSE:
            return OnClose(dialog);
        case WM_CTLCOLOREDIT:
            return OnCtlColorEdit(reinterpret_cast<HDC>(wParam));
        case WM_COMMAND:
            return OnCommand(wParam);
        case WM_ACTIVATE:
            return OnActivate(dialog, wParam);
        case WM_SETFOCUS:
            return RestoreFocus(dialog);
        case WM_NEXTDLGCTL:
            return OnNextDlgCtl(lParam);
    }
    return FALSE;
}

LRESULT CALLBACK EntryFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        CommandDispatch(field);
        return 0;
    }
    // Every key, Enter, Escape and Tab included, belongs to the field, not to dialog navigation.
    if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS;
    if (OnInterruptKey(field, message, wParam)) return 0;
    // The field holds only what the ANSI code page holds exactly, as one line.
    if (message == WM_CHAR && !FieldTakesCharacter(static_cast<WCHAR>(wParam))) {
        return RefuseInput(static_cast<WCHAR>(wParam));
    }
    if (message == WM_PASTE && !ClipboardFitsEntryField(field)) return RefuseInput(0);
    // Wine's edit control pastes for Shift+Insert without sending itself WM_PASTE.
    if (message == WM_KEYDOWN && wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0) {
        SendMessageW(field, WM_PASTE, 0, 0);
        return 0;
    }
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(field, GWLP_USERDATA));
    return CallWindowProcW(previous, field, message, wParam, lParam);
}

LRESULT CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    if (OnInterruptKey(pane, message, wParam)) return 0;
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(pane, GWLP_USERDATA));
    return CallWindowProcA(previous, pane, message, wParam, lParam);
}
