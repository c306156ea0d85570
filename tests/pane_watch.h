// What the window tests and pane_watch.dll share: the watch that the tests load into varnel.exe
// through a message hook, to see the pane as the screen shows it.
//
// Under Wine's null display driver a window's pixels can be read back only through its own DC in
// the process that owns it: from another process, its DC and the screen's read back nothing.
//
// Under Wine the edit control ignores WM_SETREDRAW: it paints whenever it is asked to, and keeps
// WS_VISIBLE. On Windows a window whose redrawing is off is not drawn at all, and the screen goes
// on showing its old picture. So the watch keeps the redrawing state the pane has been given,
// and answers a look, inside varnel.exe's own thread, with what Windows would show.
#pragma once

#include <windows.h>

#include <stdio.h>

// A look at the pane: sent to the pane, seen by the watch before the pane gets it.
constexpr char kPaneLookMessage[] = "VarnelPaneWatchLook";

// The shared state, in a mapping of the name PaneWatchName gives for varnel.exe's process id.
struct PaneWatchState {
    ULONGLONG pane;  // the pane's window handle, written by the test
    LONG redrawOff;  // the last WM_SETREDRAW the pane received switched its redrawing off
    LONG looks;      // looks answered
    LONG marked;     // at the last look: -1 while redrawing is off, else how many of the pane's
                     // client pixels differ from its background colour (0 for a blank pane)
};

inline void PaneWatchName(DWORD processId, char (&name)[64]) {
    snprintf(name, sizeof(name), "Local\\VarnelPaneWatch-%lu", processId);
}

// Exported by pane_watch.dll: hooks the window procedure calls of `threadId`, a thread of
// varnel.exe, which loads the DLL; the hook goes with UnhookWindowsHookEx.
using WatchPaneFunction = HHOOK (*)(DWORD threadId);
constexpr char kWatchPaneFunction[] = "WatchPane";
