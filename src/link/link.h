// The interpreter link: the child interpreter, its two pipes, the typed lines going in and the
// output coming back into the pane. The window calls it once for each event: SpawnInterpreter
// while it initialises, OutputPump for every timer tick, CommandDispatch for the Enter key,
// DispatchLines for a paste of several lines, InterruptInterpreter and EndInterpreterPrograms for
// Ctrl+C and Ctrl+Break, and StopInterpreter when it closes. Everything runs on the window's one
// thread.
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

// Starts the interpreter named by COMSPEC, on two fresh pipes and a console of its own that has
// no window, to work with `windows`, and joins that console as soon as the interpreter has made
// it. A COMSPEC that holds a blank and names an existing file as a whole starts that very file.
// Returns 1 when it runs, 0 when the launch failed; a failure has been shown to the user in one
// message box, nothing has been started and every handle opened on the way is closed again.
int SpawnInterpreter(const LinkWindows& windows);

// One tick: writes what is queued for the interpreter as far as its pipe takes it, then runs one
// pass of the output pump, which shows what the interpreter has written. A pass never waits and
// always ends, within a fraction of a second however fast the interpreter writes. Once the
// interpreter has ended, a pass that has shown all it wrote says so, with its exit code and every
// line it never read, however busy the pipe is with programs it left running.
void OutputPump();

// The Enter key in `entryField`: the history, the window's own words "cls" and "exit", and the
// typed line to the interpreter. Once the interpreter has ended a line is refused, as any line
// that cannot reach it: it stays in the field, selected, the window beeps, and the notice of the
// end is put back in view. Once that end has been told, an empty line starts a new interpreter.
void CommandDispatch(HWND entryField);

// A paste of lines into `entryField`, `count` units of `text`: each line as if typed and entered,
// in order, with the same rules, but "exit" goes to the interpreter like any line. Every line is
// checked before any is sent; with `send` false, they are only checked. Returns true when all of
// them can go (and, with `send`, have gone). Otherwise nothing is sent: the first line that cannot
// go is put into the field with what keeps it back selected, and the window beeps. A zero follows
// the `count` units of `text`, which is written to while the call runs and is as it was after.
bool DispatchLines(HWND entryField, WCHAR* text, size_t count, bool send);

// Ctrl+C: the interrupt a console gives for it, to every program on the interpreter's console,
// the interpreter among them, and to those it left running once it has ended. False when it could
// not be sent: the window is on no console.
bool InterruptInterpreter();

// Ctrl+Break: ends at once every program on the interpreter's console but the interpreter itself,
// which goes on reading lines; also after the interpreter has ended. False when the window is on
// no console.
bool EndInterpreterPrograms();

// The close, as a console window's: a Ctrl+C to the console and the end of its input to the
// interpreter, a wait of at most kStopWaitMs for it to end, then every process still on its
// console is ended, the interpreter included, and the window leaves the console. Nothing is
// written to the interpreter. Programs in consoles or windows of their own are not touched.
void StopInterpreter();
