// The interpreter link: the child interpreter, its two pipes, the typed lines going in and the
// output coming back into the pane. The window calls it once for each event: SpawnInterpreter
// while it initialises, OutputPump for every timer tick, CommandDispatch for the Enter key and
// StopInterpreter when it closes. Everything runs on the window's one thread.
#pragma once

#include <windows.h>

// The main window's timers. Each tick of either, whatever its id, is one call of OutputPump.
constexpr UINT_PTR ID_POLL_TIMER = 100;  // the steady tick, started by the window
constexpr UINT kPollPeriodMs = 100;
constexpr UINT_PTR ID_SOON_TIMER = 101;  // set by the link when a pass cannot wait for the tick

// The windows the link works with, given once to SpawnInterpreter.
struct LinkWindows {
    HWND main;     // gets WM_CLOSE for the word "exit", and the link's timer
    HWND pane;     // the output pane, where the interpreter's output is shown
    HWND history;  // the command combo box, whose list is the history
};

// Starts the interpreter named by COMSPEC, hidden, on two fresh pipes, to work with `windows`.
// Returns 1 when it runs, 0 when the launch failed; a failure has been shown to the user in one
// message box, nothing has been started and every handle opened on the way is closed again.
int SpawnInterpreter(const LinkWindows& windows);

// One tick: writes what is queued for the interpreter as far as its pipe takes it, then runs one
// pass of the output pump, which shows what the interpreter has written. A pass never waits and
// always ends, within a fraction of a second however fast the interpreter writes.
void OutputPump();

// The Enter key in `entryField`: the history, the window's own words "cls" and "exit", and the
// typed line to the interpreter.
void CommandDispatch(HWND entryField);

// Sends the stop line behind whatever input is still queued, keeps writing for one second, then
// closes the program's two pipe ends. The interpreter is neither waited for nor terminated.
void StopInterpreter();
