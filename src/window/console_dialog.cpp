// The main window: starts the interpreter while it initialises, drives the output pump from its
// timer, colours the edit controls and stops the interpreter when it closes.
#include "console_dialog.h"

#include "link.h"
#include "resource.h"

HINSTANCE g_instance;

namespace {

constexpr COLORREF kTextColour = RGB(255, 255, 255);
constexpr COLORREF kBackColour = RGB(0, 0, 0);

// Installs EntryFieldProc on the entry field; the field's own procedure goes into its user-data
// slot, where EntryFieldProc finds it.
void SubclassEntryField(HWND field) {
    LONG_PTR previous =
        SetWindowLongPtrA(field, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EntryFieldProc));
    SetWindowLongPtrA(field, GWLP_USERDATA, previous);
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
    HWND entry = GetWindow(combo, GW_CHILD);
    SubclassEntryField(entry);
    SetFocus(entry);
    SetTimer(dialog, ID_POLL_TIMER, kPollPeriodMs, nullptr);
    return FALSE;
}

// Every tick of either timer, whatever its id.
INT_PTR OnTimer() {
    OutputPump();
    return TRUE;
}

INT_PTR OnClose(HWND dialog) {
    EndDialog(dialog, 0);
    StopInterpreter();
    return TRUE;
}

INT_PTR OnCtlColorEdit(HDC dc) {
    SetTextColor(dc, kTextColour);
    SetBkColor(dc, kBackColour);
    return reinterpret_cast<INT_PTR>(GetStockObject(BLACK_BRUSH));
}

}  // namespace

INT_PTR CALLBACK ConsoleDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_TIMER:
            return OnTimer();
        case WM_CLOSE:
            return OnClose(dialog);
        case WM_CTLCOLOREDIT:
            return OnCtlColorEdit(reinterpret_cast<HDC>(wParam));
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
    auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(field, GWLP_USERDATA));
    return CallWindowProcA(previous, field, message, wParam, lParam);
}
