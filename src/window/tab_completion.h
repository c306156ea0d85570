// Tab and Shift+Tab in the entry field: the names that may complete the word at the caret, listed
// on a thread of their own, offered one after the other in the field. Every call is on the
// window's thread.
#pragma once

#include <windows.h>

// Posted to the main window when a listing has come back, with the listing in lParam, which
// TakeListedNames takes.
constexpr UINT WM_NAMES_LISTED = WM_APP + 1;

// Called once the window's controls are known: the main window, to which listings come back, and
// the pane, where the interpreter's prompts are read. The interpreter's folder is the window's own
// until a prompt says otherwise.
void InitTabCompletion(HWND dialog, HWND pane);

// Reads the pane's last line for a prompt of the interpreter's ($P$G): a folder's full path and
// ">". Called whenever output may have been shown.
void NotePrompt();

// Tab (or Shift+Tab, `backwards`) in `field`: the next (or the previous) name while a cycle goes
// on, or else a listing for the word at the caret, whose names come with WM_NAMES_LISTED. Changes
// nothing but the field, and never waits for the system.
void OnTabKey(HWND field, bool backwards);

// Any other key: the cycle ends, and a listing that has not come back yet is forgotten.
void EndCompletion();

// A listing has come back (WM_NAMES_LISTED): the field shows its first name (its last, for
// Shift+Tab) unless the field has changed since the Tab. Returns null, or why nothing fits, for
// the window to show; the window has then beeped and the field is as it was.
const WCHAR* TakeListedNames(HWND field, LPARAM listing);
