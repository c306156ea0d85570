// The interpreter link: the child interpreter, its two pipes, the typed lines going in and the
// output coming back into the pane. Everything here runs on the window's one thread.
#pragma once

#include <windows.h>

// What passes between the window and the interpreter.
constexpr char kStopLine[] = "exit\r\n";
constexpr DWORD kStopLineLength = sizeof(kStopLine) - 1;
constexpr char kLineEnd[] = "\r\n";
constexpr int kCommandMaxChars = 259;  // the longest line read from the entry field
constexpr int kComspecMax = 260;       // the interpreter's command line, terminating zero included
constexpr DWORD kChunkMax = 1024;      // the most one read of the output pipe takes

// Suggested pipe capacities. The output pipe is large so that an interpreter writing without
// pause runs ahead while the window is busy showing what it already read.
constexpr DWORD kInputPipeSize = 1024;
constexpr DWORD kOutputPipeSize = 256 * 1024;

// Typed lines waiting for room in the input pipe: the pipe's capacity and 64 KiB more.
constexpr DWORD kInputQueueSize = kInputPipeSize + 64 * 1024;

// The pane keeps the newest output: past kScrollbackMax characters its oldest whole lines are
// removed in one block, down to kScrollbackKeep.
constexpr int kScrollbackKeep = 256 * 1024;
constexpr int kScrollbackMax = kScrollbackKeep + 64 * 1024;

// Output read but not shown yet is kept up to the scrollback's size, so that a burst the pane can
// hold loses nothing. An interpreter that goes on writing faster than the pane can show (under
// Wine about 1 MB/s) is flooding: once more than kFloodStreamBytes have come without the pane
// catching up, only the newest kBacklogMax bytes wait, and after the flood the pane holds at
// least that much of its end, shown in two insertions.
constexpr DWORD kBacklogMax = 64 * 1024;
constexpr DWORD kFloodStreamBytes = 1024 * 1024;

// A second timer on the main window that brings the next pass early: while output is pending,
// and while output is expected soon (see LookForOutputSoon).
constexpr UINT_PTR kPumpAgainTimer = 101;
// How long output is looked for early after the interpreter starts or a line is sent to it.
constexpr DWORD kEarlyLookMs = 500;

// The link state: the program's own ends of the two pipes, valid between a successful
// SpawnInterpreter and StopInterpreter, null otherwise.
extern HANDLE g_inputWrite;  // the interpreter's standard input
extern HANDLE g_outputRead;  // the interpreter's standard output and standard error

// The command buffer: the interpreter's command line at launch, then each typed line with its
// CR LF and terminating zero.
extern char g_commandBuffer[kCommandMaxChars + 3];

// One read of the output pipe and its terminating zero.
extern char g_outputChunk[kChunkMax + 1];

// The window's handles, recorded by the console dialog once the interpreter runs.
extern HWND g_mainWindow;
extern HWND g_outputPane;
extern HWND g_commandCombo;
extern HWND g_entryField;

// Starts the interpreter named by COMSPEC, hidden, on two fresh pipes. Returns 1 when it runs,
// 0 when the launch failed; a failure has been shown to the user in a message box and every
// handle opened on the way is closed again.
int SpawnInterpreter();

// Sends the stop line behind whatever input is still queued, keeps writing for one second, then
// closes the program's two pipe ends. The interpreter is neither waited for nor terminated.
void StopInterpreter();

// Shows the platform's text for the calling thread's last error in a message box.
void ReportLastError();

// Appends bytes to the input queue; false, and nothing queued, when they do not fit. Room for
// the stop line is always kept free.
bool QueueInput(const char* bytes, DWORD count);

// Whether `count` more bytes fit in the input queue, room for the stop line kept free.
bool InputHasRoom(DWORD count);

// Queues the stop line, in the room kept free for it.
void QueueStopLine();

// Writes as much of the input queue as the pipe takes without waiting. Returns the bytes still
// queued. Once the interpreter is gone the queue is emptied quietly.
DWORD FlushInput();

// Bytes waiting in the input queue.
DWORD QueuedInput();

// One pass of the output pump: reads what the interpreter has written and shows it in the pane.
void OutputPump();

// Output is expected soon (the interpreter has started, or a line went to it): passes come every
// USER_TIMER_MINIMUM ms rather than every tick, until some output has been read or `forMs` have
// passed.
void LookForOutputSoon(DWORD forMs);

// Whether output has been read that the pane does not show yet.
bool OutputPending();

// Forgets output read but not shown yet; the pane it was meant for is going away.
void DiscardPendingOutput();

// Handles the Enter key in the entry field: history, the built-in words, and the typed line to
// the interpreter.
void CommandDispatch(HWND entryField);
