// Measures varnel.exe driven through its window, each figure beside a baseline taken in the same
// run, and prints the rows of Rows() below as one table on standard output, each judged against
// its target; progress goes to standard error.
//
//   varnel_bench.exe [only=flood,probe,latency,paste,complete,find,start,close,memory] [cores=one]
//                    [size32=BYTES] [size64=BYTES] [imports32=A.dll,B.dll] [imports64=...]
//                    [allowed=A.dll,...] [folder=PATH]
//
// only= runs some parts; rows whose samples were not measured are left out. scripts/bench gives
// cores=one when it has put all of Wine on one core, and the executables' sizes and imports (read
// with objdump) and the DLLs they may import (scripts/system-dlls.txt), and for the complete part
// the folder of many files to complete in (which Wine would take minutes to make).

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <psapi.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "completion.h"
#include "harness.h"
#include "text_search.h"

namespace {

const uint64_t kFloodBytes = 16 << 20;
const uint64_t kMemoryFloods[2] = {10 << 20, 100 << 20};
const int kFloodRounds = 5, kProbedFloodRounds = 3, kStartRuns = 5, kCloseRuns = 5;
const size_t kPings = 50;
const int kPastedLines = 5000, kPasteRounds = 3, kLargePastedLines = 100000;
const int kCompleteRounds = 3;
size_t g_folderEntries;  // in the folder of the complete part
// Two floods that fill the pane to nearly its 320 KiB; each is shown whole, as one burst of more
// than 256 KiB would not be.
const size_t kFullPane = 327000;
const int kFindRounds = 10;
const double kProbePeriodMs = 10.0;
const double kExeMaxBytes = 48 * 1024;  // each build's varnel.exe
const DWORD kIdleProbingMs = 1000;
// The floods that are timed start this long after the interpreter's greeting, on both sides, as
// they would when a user types the command: the first moments of a new process and its window
// are start-up, not flood.
const DWORD kSettleMs = 1000;

std::string MiB(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

const std::string kFlood = MiB(kFloodBytes) + " flood";

std::string MedianOf(int count, const std::string& more = "") {
    return " (median of " + std::to_string(count) + more + ")";
}

// The lines of the benchmark's paste, each with its CR LF: "echo 10000 abcdefghijk" and on, 24
// bytes each; with more than 90,000 lines, from 100000 on, 25 bytes each.
std::string PastedBlock(int lines = kPastedLines) {
    std::string block;
    const int first = lines > 90000 ? 100000 : 10000;
    for (int i = 0; i < lines; ++i)
        block += "echo " + std::to_string(first + i) + " abcdefghijk\r\n";
    return block;
}

// The table, with the floods' rows for Wine on `cores`. Samples are named by the parts below that
// measure them; "direct." names the baseline's.
std::vector<Row> Rows(const std::string& cores, const std::vector<std::string>& allowedDlls) {
    const std::string in = ", Wine on " + cores, shown = "flood written -> FLOOD END shown";
    const std::string trip = "WM_NULL round trip during the floods: ", ping = "command latency";
    const std::string paste = std::to_string(kPastedLines) + "-line paste (" +
                              std::to_string(PastedBlock().size()) + " B)";
    const std::string small = " (" + MiB(kMemoryFloods[0]);
    const std::string large = std::to_string(kLargePastedLines) + "-line paste";
    return {
        // Under Wine every read and write of a pipe is a request to the wineserver. Across cores
        // the flood's speed depends on where the scheduler puts the wineserver, the interpreter
        // and the reader, and varies widely from run to run (the fastest-slowest rows); with all
        // of Wine on one core it is steady, and what the window adds is its own work alone. The
        // writing time is judged both ways; the end of the flood as the user sees it, with the
        // cores shared.
        // On one core, what the window's work costs the interpreter is at most a tenth of its
        // writing time, in the console's default code page and in UTF-8 alike.
        {kFlood + ": interpreter's writing time" + MedianOf(kFloodRounds, in), kMedian, "writing",
         "direct.writing", kTimesBaseline, cores == "one core" ? 1.1 : 1.5},
        {kFlood + " in UTF-8 (chcp 65001): writing time" + MedianOf(kFloodRounds, in), kMedian,
         "utf8.writing", "direct.utf8.writing", kTimesBaseline, cores == "one core" ? 1.1 : 1.5},
        {kFlood + ": writing time, fastest-slowest" + in, kRange, "writing", "direct.writing"},
        {shown + MedianOf(kFloodRounds, in), kMedian, "tail", "direct.tail",
         cores == "one core" ? kInfo : kAtMost, 200},
        {shown + ", fastest-slowest" + in, kRange, "tail", "direct.tail"},
        {trip + "worst", kMax, "probed", "idle", kAtMost, 50, " idle"},
        {trip + "p95", kP95, "probed", "idle", kBelow, 20, " idle"},
        {trip + "median", kMedian, "probed", "idle", kInfo, 0, " idle"},
        {kFlood + " while probed: writing time" + MedianOf(kProbedFloodRounds), kMedian,
         "probed.writing", ""},
        {ping + " (" + std::to_string(kPings) + " pings): median", kMedian, "latency",
         "direct.latency"},
        {ping + ": p95", kP95, "latency", "direct.latency", kAtMost, 110},
        {ping + ": worst", kMax, "latency", "direct.latency"},
        {ping + " with a selection in the pane: p95", kP95, "selected", "latency", kAtMost, 110,
         " without"},
        // A paste is fed to the interpreter as it reads, a pipe's worth at a time, between the
        // window's other work; the baseline writes the same lines straight into the pipe.
        {paste + ": Yes -> last line read" + MedianOf(kPasteRounds), kMedian, "paste",
         "direct.paste", kAtMost, 3000},
        {"WM_NULL round trip from the paste on: worst", kMax, "paste.probed", "", kAtMost, 250},
        // Wine's cmd.exe reads a buffer at a time and runs only its first line: each line goes
        // into its pipe once it has read the one before, and every one of them runs.
        {paste + " into Wine's cmd.exe: Yes -> last line run", kMedian, "paste.cmd", "", kInfo},
        {large + ": Yes -> last line read", kMedian, "paste.large", "", kInfo},
        {"WM_NULL round trip from Yes on (" + large + "): worst", kMax, "paste.large.probed", "",
         kAtMost, 100},
        // A history of that many entries stays: some 8.5 MiB in a combo box under Wine.
        {"working set after the " + large + ", the clipboard emptied", kMax, "paste.large.after",
         "paste.large.before", kInfo, 0, " before", " KiB"},
        // Tab lists the folder on a thread of its own, and the window goes on answering; the
        // baseline lists the same folder in the benchmark's own process.
        {"Tab in a folder of " + std::to_string(g_folderEntries) + " files: Tab -> first name" +
             MedianOf(kCompleteRounds),
         kMedian, "complete", "direct.complete", kInfo, 0, " listed directly"},
        {"WM_NULL round trip during that Tab: worst", kMax, "complete.probed", "", kAtMost, 250},
        // The far end: the greeting, found upward from the end, as a new Find box searches.
        {"Find Next over a full pane (" + std::to_string(kFullPane / 1024) +
             " KiB), the match at its far end: worst of " + std::to_string(kFindRounds),
         kMax, "find", "direct.find", kAtMost, 50, " search alone"},
        {"start-up to greeting shown" + MedianOf(kStartRuns), kMedian, "start", "direct.start",
         kPlusBaseline, 150, " direct"},
        {"start-up: window found", kMedian, "window", ""},
        {"start-up: interpreter running (its start event)", kMedian, "spawn", ""},
        // The close gives the console a Ctrl+C and the interpreter the end of its input, waits
        // under half a second for it to end, then ends whatever still runs on its console. An
        // idle interpreter ends at once on the end of its input; a program that ignores Ctrl+C
        // keeps it waiting for all of that half second.
        {"close to process end, interpreter idle" + MedianOf(kCloseRuns), kMedian, "close.idle",
         "direct.close", kAtMost, 100, " direct stop"},
        {"close to process end, a program running" + MedianOf(kCloseRuns), kMedian, "close.busy",
         "", kAtMost, 500},
        {"close to process end, a program ignoring Ctrl+C" + MedianOf(kCloseRuns), kMedian,
         "close.stubborn", "", kAtMost, 500},
        {"peak working set after " + MiB(kMemoryFloods[1]) + " flood", kMax, "peak.1", "peak.0",
         kPlusBaseline, 2048, small + ")", " KiB"},
        {"peak working set before the flood", kMax, "before.1", "before.0", kInfo, 0,
         small + " run)", " KiB"},
        {"peak working set after " + MiB(kMemoryFloods[1]) + " flood in UTF-8", kMax, "utf8.peak.1",
         "utf8.peak.0", kPlusBaseline, 2048, small + ")", " KiB"},
        // Both builds ship: each stays small, and imports only the system's own DLLs.
        {"size of win32/varnel.exe", kMax, "size32", "", kAtMost, kExeMaxBytes, "", " B"},
        {"size of win64/varnel.exe", kMax, "size64", "", kAtMost, kExeMaxBytes, "", " B"},
        {"DLLs imported by win32/varnel.exe", kWords, "imports32", "", kOnlyListed, 0, "", "",
         allowedDlls},
        {"DLLs imported by win64/varnel.exe", kWords, "imports64", "", kOnlyListed, 0, "", "",
         allowedDlls},
    };
}

std::vector<std::string> Words(const std::string& list) {
    std::vector<std::string> words;
    std::istringstream items(list);
    for (std::string word; std::getline(items, word, ',');)
        words.push_back(word);
    return words;
}

// Adds to `name` the round trips of WM_NULL to `process`'s window while `meanwhile` runs, one every
// kProbePeriodMs (10 s when unanswered), sent from a thread of their own so that nothing else the
// benchmark does waits in line.
template <typename F>
void ProbeDuring(const VarnelProcess& process, const std::string& name, F meanwhile) {
    std::vector<double> trips;
    std::atomic<bool> stop{false};
    std::thread prober([&] {
        for (double next = NowMs(); !stop;
             Sleep(static_cast<DWORD>(std::max(0.0, next - NowMs())))) {
            double trip = process.RoundTripMs(10000);
            trips.push_back(trip < 0 ? 10000 : trip);
            next = std::max(next + kProbePeriodMs, NowMs());
        }
    });
    meanwhile();
    stop = true;
    prober.join();
    g_measured[name].values.insert(g_measured[name].values.end(), trips.begin(), trips.end());
}

// A 16 MiB flood through varnel.exe against the same flood drained directly, kFloodRounds of each,
// taken in turns, each once its side has settled; nothing else runs meanwhile on either side. The
// interpreter's writing time, and how long after the flood its end was seen.
void BenchFloodThroughput() {
    auto time = [](Side&& side, const std::string& who, bool tail = true) {
        Sleep(kSettleMs);
        const Flood flood = side.TypeFlood(kFloodBytes);
        Add(who + "writing", flood.writingMs);
        if (tail) Add(who + "tail", flood.shownMs - flood.endMs);
    };
    for (int round = 1; round <= kFloodRounds; ++round) {
        Progress(kFlood + " drained directly", round, kFloodRounds);
        time(DirectFake("bench-flood"), "direct.");
        Progress(kFlood + " through varnel.exe", round, kFloodRounds);
        time(Varnel("bench-flood"), "");
    }
    // The same in UTF-8, which the window decodes itself, byte by byte.
    const std::vector<std::string> utf8 = {"chcp 65001"};
    for (int round = 1; round <= kFloodRounds; ++round) {
        Progress(kFlood + " in UTF-8 drained directly", round, kFloodRounds);
        time(DirectFake("bench-flood", utf8), "direct.utf8.", false);
        Progress(kFlood + " in UTF-8 through varnel.exe", round, kFloodRounds);
        time(Varnel("bench-flood", false, utf8), "utf8.", false);
    }
}

// The window's answers to a WM_NULL every kProbePeriodMs during 16 MiB floods, against the same
// window idle. The probes are load of their own on Wine, so these floods are not the ones timed
// above; their writing time is shown for comparison.
void BenchFloodResponsiveness() {
    for (int round = 1; round <= kProbedFloodRounds; ++round) {
        Progress(kFlood + " through varnel.exe, window probed", round, kProbedFloodRounds);
        Varnel varnel("bench-probed-flood");
        if (round == 1) {
            Sleep(200);
            ProbeDuring(varnel.process, "idle", [] { Sleep(kIdleProbingMs); });
        }
        ProbeDuring(varnel.process, "probed",
                    [&] { Add("probed.writing", varnel.TypeFlood(kFloodBytes).writingMs); });
    }
}

// Typed pings, each after a random pause of up to 100 ms: the time from its line reaching the
// stand-in (its ping event) to its answer being seen. Directly, through varnel.exe, and through it
// with a selection in its pane: wherever the program puts the answer then, the pane shows it.
void BenchLatency() {
    uint64_t pauses = 0x6a09e667f3bcc908ULL;
    auto pings = [&](Side&& side, const std::string& name) {
        std::vector<double> seen;
        for (size_t i = 1; i <= kPings; ++i) {
            Sleep(static_cast<DWORD>(SplitMixNext(pauses) % 101));
            seen.push_back(
                side.Answer("ping " + std::to_string(i), "pong " + std::to_string(i) + "\r\n"));
        }
        // The stand-in serves the pings in turn.
        const auto reached = side.run.EventsNamed("ping");
        for (size_t i = 0; i < kPings; ++i) {
            if (i >= reached.size() || reached[i].size() != 2 || reached[i][0] != i + 1)
                Fail("ping " + std::to_string(i + 1) + " went missing");
            Add(name, seen[i] - reached[i][1]);
        }
    };
    Progress("command latency, directly");
    pings(DirectFake("bench-ping"), "direct.latency");
    Progress("command latency through varnel.exe");
    pings(Varnel("bench-ping"), "latency");
    Progress("command latency through varnel.exe, a selection in the pane");
    pings(Varnel("bench-ping", true), "selected");
}

// Pastes `text` into `process`'s entry field (posted WM_PASTE, as Ctrl+V sends it) and answers
// its question Yes; returns when it did.
double PasteAnsweredYes(const VarnelProcess& process, HWND owner, const std::wstring& text) {
    if (!PutOnClipboard(owner, text)) Fail("no clipboard");
    PostMessageA(process.entry, WM_PASTE, 0, 0);
    HWND question = nullptr;
    if (!WaitFor(
            "the question",
            [&] {
                for (HWND box : TopLevelWindows(process.info.dwProcessId, "#32770"))
                    if (box != process.dialog) question = box;
                return question != nullptr;
            },
            60000))
        Fail("no question before the paste");
    const double yes = NowMs();
    PostMessageA(question, WM_COMMAND, IDYES, 0);
    return yes;
}

// The working set of a process, in KiB.
double WorkingSetKiB(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(process, &counters, sizeof(counters));
    return counters.WorkingSetSize / 1024.0;
}

// A paste of kPastedLines lines, answered Yes: the time from the answer until the stand-in has
// read the last line, and the window's round trips from the paste on; against the same lines
// written directly into the stand-in's pipe, from the first write until it has read the last line.
// The same paste into Wine's cmd.exe, until the last line has run, each of them. A paste of
// kLargePastedLines lines: the round trips from Yes until the last line was read, and the working
// set before the paste and after it.
void BenchPaste() {
    const std::string block = PastedBlock();
    const std::wstring wide(block.begin(), block.end());
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    auto read = [&](const FakeRun& run, const std::string& lines, double start) {
        if (!WaitFor(
                "the pasted lines", [&] { return FileSize(run.Base() + ".in") >= lines.size(); },
                600000))
            Fail("the paste did not arrive");
        if (run.Input() != lines) Fail("the paste arrived out of order");
        return NowMs() - start;
    };
    for (int round = 1; round <= kPasteRounds; ++round) {
        Progress("paste, directly", round, kPasteRounds);
        {
            DirectFake direct("bench-paste");
            Sleep(kSettleMs);
            const double start = NowMs();
            direct.Write(block);
            Add("direct.paste", read(direct.run, block, start));
        }
        Progress("paste through varnel.exe", round, kPasteRounds);
        Varnel varnel("bench-paste");
        Sleep(kSettleMs);
        // The round trips from the paste on: its lines are checked before the question too.
        ProbeDuring(varnel.process, "paste.probed", [&] {
            const double yes = PasteAnsweredYes(varnel.process, owner, wide);
            Add("paste", read(varnel.run, block, yes));
        });
    }

    Progress("paste into Wine's cmd.exe");
    {
        VarnelProcess cmd;
        if (!cmd.Start("C:\\windows\\system32\\cmd.exe") || !cmd.WaitForWindow(30000))
            Fail("no window on cmd.exe");
        // A short prompt, so that the pane keeps every line's answer, which follows it.
        cmd.Type("prompt $g");
        if (!cmd.PaneShows("\r\n>", 10000)) Fail("cmd.exe shows no prompt");
        Sleep(kSettleMs);
        const double yes = PasteAnsweredYes(cmd, owner, wide);
        auto answer = [](int line) {
            return ">" + std::to_string(10000 + line) + " abcdefghijk\r\n";
        };
        if (!cmd.PaneShows(answer(kPastedLines - 1), 300000))
            Fail("cmd.exe did not run the last pasted line");
        Add("paste.cmd", NowMs() - yes);
        const std::string pane = cmd.Pane();
        for (int i = 0; i < kPastedLines; ++i)
            if (pane.find(answer(i)) == std::string::npos)
                Fail("cmd.exe did not run pasted line " + std::to_string(i + 1));
        cmd.Close();
        if (cmd.WaitForExit(10000) == STILL_ACTIVE) Fail("varnel.exe did not close");
    }

    Progress("a " + std::to_string(kLargePastedLines) + "-line paste through varnel.exe");
    {
        const std::string large = PastedBlock(kLargePastedLines);
        Varnel varnel("bench-paste-large");
        Sleep(kSettleMs);
        Add("paste.large.before", WorkingSetKiB(varnel.process.info.hProcess));
        const double yes = PasteAnsweredYes(varnel.process, owner, {large.begin(), large.end()});
        ProbeDuring(varnel.process, "paste.large.probed",
                    [&] { Add("paste.large", read(varnel.run, large, yes)); });
        // What stays is the window's own, the history among it: the clipboard's text goes, of
        // which the system keeps a copy in every program that has read it.
        if (!OpenClipboard(owner)) Fail("no clipboard");
        EmptyClipboard();
        CloseClipboard();
        Sleep(kSettleMs);
        Add("paste.large.after", WorkingSetKiB(varnel.process.info.hProcess));
    }
    DestroyWindow(owner);
}

// Tab in `folder`, whose files are named f000000 on: the time until the first name is in the
// field, and the window's round trips meanwhile; against the same folder listed in this process.
// The folder is the interpreter's through its prompt.
void BenchCompletion(const std::string& folder) {
    const std::wstring path(folder.begin(), folder.end());
    for (int round = 1; round <= kCompleteRounds; ++round) {
        Progress("Tab in the folder, directly", round, kCompleteRounds);
        NameList names;
        const double start = NowMs();
        if (folder.empty() || ListNames(path.c_str(), L"f", false, 437, &names) != 0)
            Fail("no folder to complete in (folder=)");
        Add("direct.complete", NowMs() - start);
        g_folderEntries = names.Count();
        Progress("Tab in the folder through varnel.exe", round, kCompleteRounds);
        Varnel varnel("bench-complete");
        varnel.Answer("tail " + folder + ">", folder + ">");
        SendMessageA(varnel.process.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("type f"));
        SendMessageA(varnel.process.entry, EM_SETSEL, 6, 6);
        ProbeDuring(varnel.process, "complete.probed", [&] {
            const double start = NowMs();
            PostMessageA(varnel.process.entry, WM_KEYDOWN, VK_TAB, 0x000F0001);
            if (!WaitFor(
                    "the first name", [&] { return varnel.process.EntryText() == "type f000000"; },
                    60000))
                Fail("Tab completed nothing");
            Add("complete", NowMs() - start);
        });
    }
}

// Find Next in a pane of nearly 320 KiB, for the greeting at its top, upward from the end: the
// time from the box's Find Next until the match is selected; against the same search over the
// pane's text in this process.
void BenchFind() {
    Progress("Find in a full pane");
    Varnel varnel("bench-find");
    // Of two sizes, as the wait for a flood knows it by its size.
    varnel.TypeFlood(kFullPane / 2 - 1000);
    varnel.TypeFlood(kFullPane / 2 + 1000);
    const VarnelProcess& window = varnel.process;
    // The first flood's end may be at the end of the pane while the second is still read.
    const size_t full = strlen(kGreeting) + kFullPane + 2 * strlen(kFloodEnd);
    std::string pane;
    if (!WaitFor(
            "the pane full", [&] { return (pane = ControlText(window.pane)).size() >= full; },
            10000) ||
        pane.size() != full)
        Fail("the pane lost text: " + std::to_string(pane.size()) + " characters");
    PostMessageA(window.entry, WM_CHAR, 6, 0x00210001);  // Ctrl+F
    HWND box = nullptr;
    if (!WaitFor("the Find box", [&] {
            for (HWND found : TopLevelWindows(window.info.dwProcessId, "#32770"))
                if (found != window.dialog) box = found;
            return box != nullptr;
        }))
        Fail("no Find box");
    const wchar_t what[] = L"fake ready";
    SendMessageW(GetDlgItem(box, 0x480), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(what));
    const std::wstring text(pane.begin(), pane.end());
    for (int round = 1; round <= kFindRounds; ++round) {
        const double direct = NowMs();
        if (FindInText(text.data(), text.size(), what, wcslen(what), text.size(), false, false) !=
            0)
            Fail("the search alone found no greeting");
        Add("direct.find", NowMs() - direct);
        SendMessageA(window.pane, EM_SETSEL, pane.size(), pane.size());
        const double start = NowMs();
        SendMessageW(box, WM_COMMAND, IDOK, 0);
        Add("find", NowMs() - start);
        if (SendMessageA(window.pane, EM_GETSEL, 0, 0) != MAKELRESULT(0, wcslen(what)))
            Fail("Find Next selected no greeting");
    }
}

// From CreateProcess to the greeting shown, against the stand-in started on pipes.
void BenchStartUp() {
    Progress("start-up");
    for (int i = 0; i < kStartRuns; ++i) {
        Add("direct.start", DirectFake("bench-start").readyMs);
        Varnel varnel("bench-start");
        Add("start", varnel.readyMs);
        Add("window", varnel.windowMs);
        auto started = varnel.run.EventsNamed("start");
        if (started.size() != 1 || started[0].size() != 2) Fail("no start event");
        Add("spawn", started[0][0] - varnel.startMs);
    }
}

// From WM_CLOSE until varnel.exe has ended, with the stand-in idle, with a program of its running
// and with one that ignores Ctrl+C, against the stand-in on pipes ending on the end of its input.
void BenchClose() {
    for (int i = 1; i <= kCloseRuns; ++i) {
        Progress("close", i, kCloseRuns);
        Add("direct.close", DirectFake("bench-close").StopMs());
        Add("close.idle", Varnel("bench-close").CloseMs());
        for (const char* program : {"drip 600 100", "ignore-ctrl-c ; drip 600 100"}) {
            Varnel busy("bench-close-busy");
            busy.Answer(std::string("run ") + program, "drip 2\r\n");
            Add(program[0] == 'd' ? "close.busy" : "close.stubborn", busy.CloseMs());
        }
    }
}

// The peak working set in KiB before and after a small and a large flood, each in its own
// varnel.exe. That of another process from GetProcessMemoryInfo is, under Wine 8, the VmHWM of its
// Unix process (checked against /proc/<pid>/status), so it needs no help from outside.
void BenchMemory() {
    for (const char* page : {"", "utf8."}) {
        for (int i = 0; i < 2; ++i) {
            Progress(MiB(kMemoryFloods[i]) + " flood for the peak working set" +
                     (*page ? ", in UTF-8" : ""));
            Varnel varnel(
                "bench-memory", false,
                *page ? std::vector<std::string>{"chcp 65001"} : std::vector<std::string>{});
            auto peak = [&](const char* name) {
                PROCESS_MEMORY_COUNTERS counters{};  // left at 0 when the call fails
                GetProcessMemoryInfo(varnel.process.info.hProcess, &counters, sizeof(counters));
                if (counters.PeakWorkingSetSize == 0) Fail("GetProcessMemoryInfo gave no peak");
                Add(page + std::string(name) + std::to_string(i),
                    counters.PeakWorkingSetSize / 1024.0);
            };
            peak("before.");
            varnel.TypeFlood(kMemoryFloods[i]);
            peak("peak.");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // the table's lines end in "\n" alone
    std::map<std::string, std::string> args;
    for (int i = 1; i < argc; ++i) {
        const char* equals = strchr(argv[i], '=');
        if (equals) args[std::string(argv[i], static_cast<size_t>(equals - argv[i]))] = equals + 1;
    }
    const std::string only = "," + args["only"] + ",";
    auto part = [&](const std::string& name) {
        return only == ",," || only.find("," + name + ",") != std::string::npos;
    };
    if (part("flood")) BenchFloodThroughput();
    if (part("probe")) BenchFloodResponsiveness();
    if (part("latency")) BenchLatency();
    if (part("paste")) BenchPaste();
    if (part("complete")) BenchCompletion(args["folder"]);
    if (part("find")) BenchFind();
    if (part("start")) BenchStartUp();
    if (part("close")) BenchClose();
    if (part("memory")) BenchMemory();
    // The script's own measurements: the sizes as numbers, the imports as words.
    for (const char* name : {"size32", "size64", "imports32", "imports64"})
        if (args.count(name)) g_measured[name] = {{atof(args[name].c_str())}, Words(args[name])};
    PrintTable(Rows(args["cores"] == "one" ? "one core" : "all cores", Words(args["allowed"])));
    return 0;
}
