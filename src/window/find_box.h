// Finding in the pane: Ctrl+F opens the system's Find box, F3 and Shift+F3 find the next and the
// previous match without it. Every call is on the window's thread.
#pragma once

#include <windows.h>

// Called once the window's controls are known: the main window, which owns the box and gets its
// messages, and the pane that is searched.
void InitFindBox(HWND dialog, HWND pane);

// Ctrl+F: opens the box, or brings it forward when it is open, with the pane's selection when
// that lies on one line, or else the last search.
void OpenFindBox();

// F3 (down) and Shift+F3 (up): the next or the previous match of the last search, selected in the
// pane and brought into view. Returns null when found; otherwise the window has beeped, and the
// reason is returned, for the window to show. With nothing searched yet, opens the box instead.
const WCHAR* FindAgain(bool down);

// Whether `message` is one the box sends its owner.
bool IsFindBoxMessage(UINT message);

// The box's message: a search (returns as FindAgain does), or the box closing (returns null, and
// `*closed` is then true).
const WCHAR* OnFindBoxMessage(LPARAM lParam, bool* closed);

// Closes the box if it is open, as the window closes.
void CloseFindBox();
