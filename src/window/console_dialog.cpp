// The main window: starts the interpreter while it initialises, drives the output pump from its
// timer, colours the edit controls, keeps the keyboard focus where the user left it, takes Ctrl+C
// and Ctrl+Break as a console window does, says why a line or a paste is refused, hands Tab to
// completion and Ctrl+F and F3 to Find, and stops the interpreter when it closes.
#include "console_dialog.h"

#include "command_text.h"
#include "find_box.h"
#include "link.h"
#include "resource.h"
#include "tab_completion.h"

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

// The reason for a refusal, shown just above the entry field until the next key: a popup of the
// system's own static control, made when first needed.
HWND s_tip;

// Whether the paste's question is open.
bool s_asking;

// Shows `reason`, when there is one, in the tip, wrapped to the width of the entry field. The tip
// never takes the focus: the user goes on typing, and the next key takes it away.
void ShowTip(const WCHAR* reason) {
    if (!reason) return;
    HWND combo = GetParent(s_entry);
    // The GUI font, whose faces hold the characters that a reason may name: the system's bitmap
    // font has no "€".
    HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
    if (!s_tip) {
        s_tip = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"STATIC", nullptr,
                                WS_POPUP | WS_BORDER | SS_CENTER | SS_NOPREFIX, 0, 0, 0, 0,
                                GetParent(combo), nullptr, g_instance, nullptr);
        SendMessageW(s_tip, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    SetWindowTextW(s_tip, reason);
    RECT field, text = {};
    GetWindowRect(combo, &field);
    text.right = field.right - field.left - 8;
    HDC dc = GetDC(s_tip);  // a common device context, made anew at the next GetDC
    SelectObject(dc, font);
    DrawTextW(dc, reason, -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ReleaseDC(s_tip, dc);
    const int width = text.right + 8, height = text.bottom + 4;
    SetWindowPos(s_tip, HWND_TOP, field.left, field.top - height, width, height,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void HideTip() {
    if (s_tip) ShowWindow(s_tip, SW_HIDE);
}

// Installs `procedure` on `control`; the control's own procedure goes into its user-data slot,
// where `procedure` finds it. The controls are Unicode ones, and keep every character.
void Subclass(HWND control, WNDPROC procedure) {
    LONG_PTR previous =
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    SetWindowLongPtrW(control, GWLP_USERDATA, previous);
}

// The pane's font, fixed-pitch and with the characters of the code pages the interpreter may write
// in: a console's own TrueType font, Consolas or else Lucida Console, at the cell height of the
// system's OEM font; that font itself where the system has neither. Made once, for the whole run.
HGDIOBJ PaneFont(HWND pane) {
    HDC dc = GetDC(pane);
    HGDIOBJ font = GetStockObject(OEM_FIXED_FONT);
    HGDIOBJ kept = SelectObject(dc, font);
    TEXTMETRICW oem;
    GetTextMetricsW(dc, &oem);
    static const WCHAR* const kFaces[] = {L"Consolas", L"Lucida Console"};
    for (const WCHAR* face : kFaces) {
        HFONT made = CreateFontW(oem.tmHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS,
                                 DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, face);
        // The system makes a font of another face where it has none of this one.
        WCHAR chosen[LF_FACESIZE] = {};
        SelectObject(dc, made);
        GetTextFaceW(dc, LF_FACESIZE, chosen);
        SelectObject(dc, font);
        if (lstrcmpiW(chosen, face) == 0) {
            font = made;
            break;
        }
        DeleteObject(made);
    }
    SelectObject(dc, kept);
    ReleaseDC(pane, dc);
    return font;
}

INT_PTR OnInitDialog(HWND dialog) {
    HWND pane = GetDlgItem(dialog, IDC_OUTPUT);
    HWND combo = GetDlgItem(dialog, IDC_COMMAND);
    SendMessageW(pane, WM_SETFONT, reinterpret_cast<WPARAM>(PaneFont(pane)), FALSE);
    if (!SpawnInterpreter({dialog, pane, combo})) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    HICON icon = LoadIconW(g_instance, MAKEINTRESOURCEW(IDI_CONSOLE));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    s_pane = pane;
    s_entry = GetWindow(combo, GW_CHILD);
    Subclass(s_entry, EntryFieldProc);
    Subclass(pane, PaneProc);
    InitFindBox(dialog, pane);
    InitTabCompletion(dialog, pane);
    SetFocus(s_entry);
    SetTimer(dialog, ID_POLL_TIMER, kPollPeriodMs, nullptr);
    return FALSE;
}

// Every tick of either timer, whatever its id; the interpreter's folder is read from the prompt
// it may have shown.
INT_PTR OnTimer() {
    OutputPump();
    NotePrompt();
    return TRUE;
}

// The window goes from the screen at once; the process ends as soon as the interpreter has. The
// paste's question runs a message loop of its own, which would keep the process until it was
// answered: a close meanwhile answers it No, and comes again, to be taken once the question has
// gone (its loop ends before it takes another message).
INT_PTR OnClose(HWND dialog) {
    if (s_asking) {
        // The question is the message box that this window owns. (Wine's GetWindow has no
        // GW_ENABLEDPOPUP.)
        HWND box = nullptr;
        while ((box = FindWindowExA(nullptr, box, "#32770", nullptr)))
            if (GetWindow(box, GW_OWNER) == dialog) EndDialog(box, IDNO);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        return TRUE;
    }
    CloseFindBox();
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

// The tip, the one static control of this window, in the colours of the system's own tips.
INT_PTR OnCtlColorStatic(HDC dc) {
    SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
    SetBkColor(dc, GetSysColor(COLOR_INFOBK));
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_INFOBK));
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

// A search from the Find box, or its close, which gives the focus back where it was.
INT_PTR OnFindBox(HWND dialog, LPARAM lParam) {
    HideTip();
    bool closed = false;
    ShowTip(OnFindBoxMessage(lParam, &closed));
    if (closed) RestoreFocus(dialog);
    return TRUE;
}

INT_PTR OnNamesListed(LPARAM lParam) {
    ShowTip(TakeListedNames(s_entry, lParam));
    return TRUE;
}

// Tab and Shift+Tab in the pane lead back to the entry field, which is no tab stop: its every
// key, Tab included, belongs to it.
INT_PTR OnNextDlgCtl(LPARAM lParam) {
    if (LOWORD(lParam) != 0 || !s_entry || GetFocus() != s_pane) return FALSE;
    SetFocus(s_entry);
    return TRUE;
}

// The clipboard's text, copied as the user copied it: the Unicode form (an ANSI one would carry
// "?" and best-fit guesses), up to its first zero and with a zero after it. Empty when there is
// none; the copy is freed with the holder.
class ClipboardText {
public:
    explicit ClipboardText(HWND owner) {
        if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(owner)) return;
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        const auto* text = data ? static_cast<const WCHAR*>(GlobalLock(data)) : nullptr;
        if (text) {
            const size_t most = GlobalSize(data) / sizeof(WCHAR);
            while (count_ < most && text[count_] != 0)
                ++count_;
            units_ =
                static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, (count_ + 1) * sizeof(WCHAR)));
            if (units_) {
                CopyMemory(units_, text, count_ * sizeof(WCHAR));
                units_[count_] = 0;
            }
            GlobalUnlock(data);
        }
        CloseClipboard();
        if (!units_) count_ = 0;
    }
    ~ClipboardText() {
        if (units_) HeapFree(GetProcessHeap(), 0, units_);
    }
    ClipboardText(const ClipboardText&) = delete;
    ClipboardText& operator=(const ClipboardText&) = delete;
    WCHAR* Units() { return units_; }
    size_t Count() const { return count_; }

private:
    WCHAR* units_ = nullptr;
    size_t count_ = 0;
};

// A paste into the entry field. One line goes in without its line end, as a line copied from the
// pane comes with one. Several lines are sent as if each were typed and entered, but only once the
// user has seen how many and the first of them, and said yes: a paste can carry lines the user
// did not see. A refused paste leaves the field as it was, and the tip says why.
LRESULT OnPaste(HWND field) {
    ClipboardText clipboard(field);
    WCHAR* text = clipboard.Units();
    const size_t count = clipboard.Count();
    if (PastedLineCount(text, count) <= 1) {
        if (!text) return 0;
        text[PastedLineAt(text, count, 0).end] = 0;
        SendMessageW(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text));
        return 0;
    }
    if (const WCHAR* reason = DispatchLines(text, count, false)) {
        ShowTip(reason);
        return 0;
    }
    static WCHAR question[kPasteQuestionMax];
    PasteQuestion(text, count, question);
    s_asking = true;
    const int answer = MessageBoxW(GetAncestor(field, GA_ROOT), question, L"Varnel",
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    s_asking = false;
    if (answer == IDYES) ShowTip(DispatchLines(text, count, true));
    return 0;
}

// Whether the field shows the history's current entry as it was recalled.
bool ShowsCurrentEntry(HWND field, HWND combo) {
    const LRESULT current = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (current == CB_ERR || SendMessageW(combo, CB_GETLBTEXTLEN, current, 0) > kCommandMaxChars) {
        return false;
    }
    static WCHAR entry[kCommandMaxChars + 1], shown[kCommandMaxChars + 2];
    SendMessageW(combo, CB_GETLBTEXT, current, reinterpret_cast<LPARAM>(entry));
    SendMessageW(field, WM_GETTEXT, kCommandMaxChars + 2, reinterpret_cast<LPARAM>(shown));
    return lstrcmpW(entry, shown) == 0;
}

// The keys that the field takes for the history, the pane, completion and clearing the line while
// its drop-down list is closed. Tab and Shift+Tab complete the name at the caret, Escape clears
// the line, as in a console. Up with no current entry (a line was just sent, the field was emptied,
// or the user typed) recalls the last line sent, wherever the history keeps it, as a console
// recalls it; from an entry the combo box steps on itself. The page keys and Ctrl+Home and Ctrl+End
// read back the pane, the draft and the focus staying where they are.
bool OnFieldKey(HWND field, WPARAM key) {
    HWND combo = GetParent(field);
    if (SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0)) return false;
    const bool control = GetKeyState(VK_CONTROL) < 0;
    if (key == VK_TAB && !control) {
        OnTabKey(field, GetKeyState(VK_SHIFT) < 0);
        return true;
    }
    if (key == VK_ESCAPE) {
        // Undoable, as the field's own deletions are.
        SendMessageW(field, EM_SETSEL, 0, -1);
        SendMessageW(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
        return true;
    }
    const bool scrolls =
        key == VK_PRIOR || key == VK_NEXT || (control && (key == VK_HOME || key == VK_END));
    if (scrolls) {
        const WORD scroll = key == VK_PRIOR  ? SB_PAGEUP
                            : key == VK_NEXT ? SB_PAGEDOWN
                            : key == VK_HOME ? SB_TOP
                                             : SB_BOTTOM;
        SendMessageW(s_pane, WM_VSCROLL, MAKEWPARAM(scroll, 0), 0);
        return true;
    }
    if (key != VK_UP || ShowsCurrentEntry(field, combo)) return false;
    const int entry = LastSentEntry();
    if (entry >= 0) SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
    return true;
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
    SendMessageW(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    if (start != end) return false;
    if (!InterruptInterpreter()) MessageBeep(MB_OK);
    return true;
}

// Ctrl+A, which arrives as its character, selects all of `control`'s text: the system's edit
// control, as this window has it (not the version-6 one), has no Ctrl+A of its own. Ctrl+F (also a
// character) opens the Find box, F3 and Shift+F3 find again. Every key takes the tip away.
bool OnCommonKey(HWND control, UINT message, WPARAM wParam) {
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) HideTip();
    if (message == WM_KEYDOWN && wParam == VK_F3) {
        ShowTip(FindAgain(GetKeyState(VK_SHIFT) >= 0));
        return true;
    }
    if (message == WM_CHAR && wParam == 6) {
        OpenFindBox();
        return true;
    }
    if (message != WM_CHAR || wParam != 1) return false;
    SendMessageW(control, EM_SETSEL, 0, -1);
    return true;
}

// Whether a key ends a cycle of completion: any but Tab and the keys held with it.
bool EndsCompletion(UINT message, WPARAM key) {
    return (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) && key != VK_TAB &&
           key != VK_SHIFT && key != VK_CONTROL && key != VK_MENU;
}

}  // namespace

INT_PTR CALLBACK ConsoleDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (IsFindBoxMessage(message)) return OnFindBox(dialog, lParam);
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_TIMER:
            return OnTimer();
        case WM_CLOSE:
            return OnClose(dialog);
        case WM_CTLCOLOREDIT:
            return OnCtlColorEdit(reinterpret_cast<HDC>(wParam));
        case WM_CTLCOLORSTATIC:
            return OnCtlColorStatic(reinterpret_cast<HDC>(wParam));
        case WM_COMMAND:
            return OnCommand(wParam);
        case WM_ACTIVATE:
            return OnActivate(dialog, wParam);
        case WM_SETFOCUS:
            return RestoreFocus(dialog);
        case WM_NEXTDLGCTL:
            return OnNextDlgCtl(lParam);
        case WM_NAMES_LISTED:
            return OnNamesListed(lParam);
    }
    return FALSE;
}

LRESULT CALLBACK EntryFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam) {
    if (EndsCompletion(message, wParam)) EndCompletion();
    if (OnCommonKey(field, message, wParam)) return 0;
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        ShowTip(CommandDispatch(field));
        return 0;
    }
    // Every key, Enter, Escape and Tab included, belongs to the field, not to dialog navigation.
    if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS;
    if (OnInterruptKey(field, message, wParam)) return 0;
    if (message == WM_PASTE) return OnPaste(field);
    if (message == WM_KEYDOWN && OnFieldKey(field, wParam)) return 0;
    // Wine's edit control pastes for Shift+Insert without sending itself WM_PASTE.
    if (message == WM_KEYDOWN && wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0) {
        SendMessageW(field, WM_PASTE, 0, 0);
        return 0;
    }
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(field, GWLP_USERDATA));
    return CallWindowProcW(previous, field, message, wParam, lParam);
}

LRESULT CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    if (OnCommonKey(pane, message, wParam) || OnInterruptKey(pane, message, wParam)) return 0;
    // A multi-line edit control in a dialog closes the dialog for Escape, which in a console only
    // clears the line: one stray press would end the running program and lose the scrollback.
    if ((message == WM_KEYDOWN && wParam == VK_ESCAPE) || (message == WM_CHAR && wParam == 27)) {
        return 0;
    }
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(pane, GWLP_USERDATA));
    return CallWindowProcW(previous, pane, message, wParam, lParam);
}
