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
// it. A COMSPEC that holds a blank and names an existing file as a whole starts that very file. On
// 64-bit Windows the 32-bit build, too, starts the native interpreter, as a console would: from
// the native system folder, with a 64-bit program's environment.
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
// typed line to the interpreter. Returns null when the line went (or closed the window, or
// started a new interpreter). A line that cannot reach the interpreter, as typed or because it has
// ended, is refused: it stays in the field with what keeps it back selected, the window beeps, and
// the reason is returned, for the window to show; once the interpreter has ended, the notice of
// its end is put back in view too. Once that end has been told, an empty line starts a new
// interpreter. A line that finds too much waiting for the interpreter stays as it is, with a beep
// and the reason. The reason lives until the next call.
const WCHAR* CommandDispatch(HWND entryField);

// A paste of lines, `count` units of `text`: each line as if typed and entered, in order, with the
// same rules, but "exit" goes to the interpreter like any line. Every line is checked before any is
// sent; with `send` false, they are only checked. Returns null when all of them can go (and, with
// `send`, have gone into the history and behind what waits for the interpreter, however much that
// is). Otherwise nothing is sent, nothing enters the history, the window beeps, and the reason is
// returned, with the number of the line that cannot go.
const WCHAR* DispatchLines(const WCHAR* text, size_t count, bool send);

// The history entry of the last line sent, which the first Up recalls; -1 while there is none.
int LastSentEntry();

// The code page in which the interpreter reads its input: its console's input page, which its
// "chcp" changes. Lines are sent in it, and a name Tab offers must go in it.
UINT InterpreterInputPage();

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
