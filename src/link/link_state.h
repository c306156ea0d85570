// What the link's own files share: the contract with the interpreter, the tuning, the state, and
// the input queue.
#pragma once

#include <stddef.h>

#include "command_text.h"
#include "link.h"

// The interpreter's command line, terminating zero included.
constexpr int kComspecMax = 260;

// The tuning, each with what it trades.
// The input pipe: it holds one line at a time, the longest whole.
constexpr DWORD kInputPipeSize = 4096;
static_assert(kLineBytesMax <= kInputPipeSize, "a line must go into the pipe whole");
// The output pipe: large, so that a flooding interpreter writes on while an insertion holds the
// thread, at the cost of that much memory in the system.
constexpr DWORD kOutputPipeSize = 256 * 1024;
// Typed lines are taken while less than this waits for an interpreter that does not read: more
// waits, more the user may queue blind. A paste, which the user has seen and said yes to, goes in
// whatever waits, and is fed to the pipe as the interpreter reads.
constexpr size_t kInputQueueSize = kInputPipeSize + 64 * 1024;
// How long at a time the lines of a paste are made, and go into the history and the input queue:
// longer holds up the window's messages, shorter makes more slices.
constexpr unsigned kPasteSliceMs = 10;
// One read of the output pipe: larger reads mean fewer calls, longer between looks at messages.
constexpr DWORD kChunkMax = 1024;
// How many reads go by between looks at the window's messages and the clock.
constexpr int kReadsPerLook = 32;
// The pane keeps the newest output: past kScrollbackMax characters its oldest whole lines go in
// one block, down to kScrollbackKeep. A wider gap means fewer removals, each of them larger.
constexpr size_t kScrollbackKeep = 256 * 1024;
constexpr size_t kScrollbackMax = kScrollbackKeep + 64 * 1024;
// How far past the cut a line end is looked for before an endless line is cut inside.
constexpr size_t kLongestCutLine = 4096;
// Output read but not shown waits up to the scrollback's size, so that a burst the pane can hold
// loses nothing. Once more than kFloodStreamUnits have come without the pane catching up, the
// interpreter is flooding and only the newest kBacklogMax units wait: after the flood they are
// shown in two insertions. (The pane's text and these sizes are in UTF-16 units.)
constexpr size_t kPendingMax = kScrollbackKeep;
constexpr size_t kFloodStreamUnits = 1024 * 1024;
constexpr size_t kBacklogMax = 64 * 1024;
// One insertion while the interpreter floods, and once it has paused. Under Wine an insertion
// costs about 20 ms whatever its size and 0.3 ms per KiB more: larger ones hold the thread longer,
// smaller ones make the last line wait for more of them.
constexpr size_t kFloodInsertMax = 8 * 1024;
constexpr size_t kCatchUpInsertMax = 32 * 1024;
// While the interpreter writes without pause, the pane is brought up to date this often.
constexpr unsigned kRefreshMs = 500;
// The longest a pass reads before it gives the thread back.
constexpr unsigned kPassMaxMs = 250;
// After the start and after each line, passes come every USER_TIMER_MINIMUM ms for this long, or
// until output comes: an answer shows in about 16 ms instead of at the next tick.
constexpr unsigned kLookForAnswerMs = 500;
// While an interpreter reads each line as it comes, a pass stays to hand it the next one, as long
// as it read the last within this long: longer keeps the window looking at a busy interpreter's
// pipe for longer, shorter makes a paste wait for the next pass more often.
constexpr unsigned kFeedPatienceMs = 20;
// How long a pass hands lines to an interpreter that reads them as they come before it looks at
// its output and the window's messages again.
constexpr unsigned kFeedSliceMs = 5;
// The close waits this long for the interpreter to end by itself, on Ctrl+C or on the end of its
// input; then it is ended, with every program still on its console. Longer lets a slow interpreter
// end on its own; the window is hidden meanwhile, but the process lives on.
constexpr unsigned kStopWaitMs = 450;
// The launch waits this long for the interpreter's console, which the interpreter makes as it
// starts (some 40 ms under Wine): programs it starts must never run where the window cannot reach
// them. An interpreter that makes none, a program with windows of its own, costs all of it, then
// passes look for the console until it comes.
constexpr unsigned kConsoleWaitMs = 1000;
// The exit code of a program ended by Ctrl+Break or by the close, as a console gives it.
constexpr UINT kEndedByBreakCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// The program's own ends of the two pipes and the interpreter's process, valid between a
// successful SpawnInterpreter and StopInterpreter, null otherwise; and the windows given to
// SpawnInterpreter.
extern HANDLE g_inputWrite;   // the interpreter's standard input
extern HANDLE g_inputPeek;    // a read end of it that the window only peeks at, never reads
extern HANDLE g_outputRead;   // its standard output and standard error
extern HANDLE g_interpreter;  // its process, to see it end
extern DWORD g_interpreterId;
extern LinkWindows g_windows;

// Enter on an empty line once the interpreter's end has been told, or after a launch that failed:
// the old interpreter is stopped as the close stops it, then a new one is started from COMSPEC,
// to work with the same windows. A failure is shown as at start-up.
void RestartInterpreter();

// Whether the interpreter has ended, and then its exit code in `code` unless that is null. False
// while none has been started.
bool InterpreterEnded(DWORD* code = nullptr);

// The interpreter's console (console.cpp), which the window joins once for the whole run.
// Joins the console of the interpreter unless the window is on it already; true once it is. It
// cannot be joined before the interpreter has made it, nor once the interpreter has ended.
bool JoinInterpreterConsole();
// Joins it as soon as the interpreter has made it, waiting up to kConsoleWaitMs.
void AwaitInterpreterConsole();
// Ends at once every process on the joined console but this one and `spared`.
void EndConsoleProcesses(DWORD spared);
// Leaves the joined console, which ends once no process is on it.
void LeaveInterpreterConsole();
// The code page in which the interpreter's console writes: what its output is decoded with.
UINT InterpreterOutputPage();

// The command buffer: the interpreter's command line at launch (kComspecMax), then each typed
// line with its CR LF and terminating zero.
extern char g_commandBuffer[kLineBytesMax + 1];

// The input queue: every byte for the interpreter, in order, until it is written to the pipe.
// Whether a typed line of `count` bytes is taken: while little waits (kInputQueueSize) and the
// memory for it can be had.
bool InputHasRoom(size_t count);
// Whether a paste of `count` bytes is taken, however much waits: the memory for it can be had.
bool InputTakes(size_t count);
// Appends a line of `count` bytes made in code page `page` to the input queue, once InputHasRoom
// or InputTakes has said it fits.
void QueueInput(const char* bytes, size_t count, UINT page);
// The lines of pastes that wait to go into the history and the input queue (command_dispatch.cpp):
// sends them as if typed, for up to kPasteSliceMs and while the queue holds less than
// kInputQueueSize, or all of them; true while some still wait.
bool SendPastedLines(bool all);
// Forgets them.
void ForgetPastedLines();
// Writes the next line into the pipe once the interpreter has read all that went before, as far
// as the pipe takes it without waiting, and the next ones as the interpreter reads them, until
// `until` (GetTickCount64) while it reads each within kFeedPatienceMs; true while some still
// waits. Nothing is written once the interpreter has ended: what it never read stays, to be named.
bool FlushInput(ULONGLONG until = 0);
// When the last line went whole into the pipe (GetTickCount64).
ULONGLONG LineWrittenAt();
// Forgets the queue, pastes and all.
void ForgetInput();
// How many bytes queued for the interpreter are not yet written to its pipe.
size_t UnwrittenInputSize();
// The lines the interpreter has not read, oldest first, as they went to it: the one in its pipe,
// then those in the queue, each decoded from the code page it was made in, with its line end.
// UnreadInput writes them to `out`, which has room for `room` units, UnreadInputMax() at the
// most; returns the units written.
size_t UnreadInputMax();
size_t UnreadInput(WCHAR* out, size_t room);

// Output is expected soon: the interpreter has started, or a line went to it.
void ExpectOutput();
// Whether the pane has told the interpreter's end, with the lines it did not read.
bool EndTold();
// Puts the notice of the interpreter's end back at the end of the pane unless it is there, as
// after cls: a refused line always finds it in view.
void RetellEnd();
// Forgets output read but not shown; the interpreter is gone.
void ForgetOutput();
