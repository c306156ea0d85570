// Measures varnel.exe driven through its window, each figure beside a baseline taken in the same
// run, and prints them as one table: the rows of Rows() below, each judged against its target.
//
//   varnel_bench.exe [only=flood,probe,latency,start,memory] [cores=one] [size32=BYTES]
//                    [size64=BYTES] [imports32=A.dll,B.dll] [imports64=...] [allowed=A.dll,...]
//
// only= runs some of the measured parts; rows whose samples were not measured are left out.
// cores=one says that the calling script (scripts/bench) has put all of Wine on one core. The
// script also gives the executables' sizes and imports, read with objdump, and the DLLs they may
// import (scripts/system-dlls.txt). The table goes to standard output, progress to standard error.

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <string.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "harness.h"

namespace {

const uint64_t kFloodBytes = 16 << 20;
const uint64_t kMemoryFloods[2] = {10 << 20, 100 << 20};
const int kFloodRounds = 5;
const int kProbedFloodRounds = 3;
const size_t kPings = 50;
const int kStartRuns = 5;
const double kProbePeriodMs = 10.0;
const DWORD kIdleProbingMs = 1000;
// The floods that are timed start this long after the interpreter's greeting, on both sides, as
// they would when a user types the command: the first moments of a new process and its window
// are start-up, not flood.
const DWORD kSettleMs = 1000;

std::string MiB(uint64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

std::string MedianOf(int count, const std::string& more = "") {
    return " (median of " + std::to_string(count) + more + ")";
}

// The table, with the floods' rows for Wine on `cores`. Samples are named by the parts below that
// measure them; "direct." names the baseline's.
std::vector<Row> Rows(const std::string& cores, const std::vector<std::string>& allowedDlls) {
    using S = Stat;
    using C = Check;
    const std::string flood = MiB(kFloodBytes) + " flood: ", in = ", Wine on " + cores;
    const std::string shown = "flood written -> FLOOD END shown";
    const std::string trip = "WM_NULL round trip during the floods: ";
    const std::string latency = "command latency";
    const std::string small = " (" + MiB(kMemoryFloods[0]);
    return {
        // Under Wine every read and write of a pipe is a request to the wineserver. Across cores
        // the flood's speed depends on where the scheduler puts the wineserver, the interpreter
        // and the reader, and varies widely from run to run (the fastest-slowest rows); with all
        // of Wine on one core it is steady, and what the window adds is its own work alone. The
        // writing time is judged both ways; the end of the flood as the user sees it, with the
        // cores shared.
        {flood + "interpreter's writing time" + MedianOf(kFloodRounds, in), S::kMedian, "writing",
         "direct.writing", " ms", C::kTimesBaseline, 1.5},
        {flood + "writing time, fastest-slowest" + in, S::kRange, "writing", "direct.writing",
         " ms"},
        {shown + MedianOf(kFloodRounds, in), S::kMedian, "tail", "direct.tail", " ms",
         cores == "one core" ? C::kInfo : C::kAtMost, 200},
        {shown + ", fastest-slowest" + in, S::kRange, "tail", "direct.tail", " ms"},
        {trip + "worst", S::kMax, "probed", "idle", " ms", C::kAtMost, 50, " idle"},
        {trip + "p95", S::kP95, "probed", "idle", " ms", C::kBelow, 20, " idle"},
        {trip + "median", S::kMedian, "probed", "idle", " ms", C::kInfo, 0, " idle"},
        {MiB(kFloodBytes) + " flood while probed: writing time" + MedianOf(kProbedFloodRounds),
         S::kMedian, "probed.writing", "", " ms"},
        {latency + " (" + std::to_string(kPings) + " pings): median", S::kMedian, "latency",
         "direct.latency", " ms"},
        {latency + ": p95", S::kP95, "latency", "direct.latency", " ms", C::kAtMost, 110},
        {latency + ": worst", S::kMax, "latency", "direct.latency", " ms"},
        {latency + " with a selection in the pane: p95", S::kP95, "selected", "latency", " ms",
         C::kAtMost, 110, " without"},
        {"start-up to greeting shown" + MedianOf(kStartRuns), S::kMedian, "start", "direct.start",
         " ms", C::kPlusBaseline, 150, " direct"},
        {"start-up: window found", S::kMedian, "window", "", " ms"},
        {"start-up: interpreter running (its start event)", S::kMedian, "spawn", "", " ms"},
        {"peak working set after " + MiB(kMemoryFloods[1]) + " flood", S::kMax, "peak.1", "peak.0",
         " KiB", C::kPlusBaseline, 2048, small + ")"},
        {"peak working set before the flood", S::kMax, "before.1", "before.0", " KiB", C::kInfo, 0,
         small + " run)"},
        {"size of win32/varnel.exe", S::kMax, "size32", "size64", " B", C::kAtMost, 32768,
         " (win64)"},
        {"DLLs imported by win32/varnel.exe", S::kWords, "imports32", "imports64", "",
         C::kOnlyListed, 0, " (win64)", allowedDlls},
    };
}

Measurements g_measured;

void Add(const std::string& name, double value) {
    g_measured[name].values.push_back(value);
}

std::vector<std::string> Words(const std::string& list) {
    std::vector<std::string> words;
    std::istringstream items(list);
    for (std::string word; std::getline(items, word, ',');)
        words.push_back(word);
    return words;
}

// A flood on `side` once it has settled: the interpreter's writing time, and how long after the
// flood its end was seen. `who` starts the samples' names.
void TimeFlood(Side&& side, const std::string& who) {
    Sleep(kSettleMs);
    Flood flood = side.TypeFlood(kFloodBytes);
    Add(who + "writing", flood.writingMs);
    Add(who + "tail", flood.shownMs - flood.endMs);
}

// A 16 MiB flood through varnel.exe against the same flood drained by a tight loop of blocking
// reads, kFloodRounds of each, taken in turns. Nothing but the flood runs meanwhile on either
// side.
void BenchFloodThroughput() {
    for (int round = 1; round <= kFloodRounds; ++round) {
        const std::string of = " " + std::to_string(round) + "/" + std::to_string(kFloodRounds);
        Progress(MiB(kFloodBytes) + " flood drained directly" + of);
        TimeFlood(DirectFake("bench-flood"), "direct.");
        Progress(MiB(kFloodBytes) + " flood through varnel.exe" + of);
        TimeFlood(Varnel("bench-flood"), "");
    }
}

// The round trips of a WM_NULL sent to varnel's window every kProbePeriodMs while `meanwhile`
// runs (10 s when unanswered). They are sent from a thread of their own, so that nothing else the
// benchmark does waits in line.
template <typename F>
std::vector<double> RoundTripsDuring(const VarnelProcess& process, F meanwhile) {
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
    return trips;
}

// The window's answers to a WM_NULL every kProbePeriodMs during 16 MiB floods, against the same
// window idle. The probes are load of their own on Wine, so these floods are not the ones timed
// above; their writing time is shown for comparison.
void BenchFloodResponsiveness() {
    for (int round = 1; round <= kProbedFloodRounds; ++round) {
        Progress(MiB(kFloodBytes) + " flood through varnel.exe, window probed " +
                 std::to_string(round) + "/" + std::to_string(kProbedFloodRounds));
        Varnel varnel("bench-probed-flood");
        if (round == 1) {
            Sleep(200);
            g_measured["idle"].values =
                RoundTripsDuring(varnel.process, [] { Sleep(kIdleProbingMs); });
        }
        auto flood = [&] { Add("probed.writing", varnel.TypeFlood(kFloodBytes).writingMs); };
        for (double trip : RoundTripsDuring(varnel.process, flood))
            Add("probed", trip);
    }
}

// Pings, each after a random pause of up to 100 ms: the time from its line reaching the stand-in
// (its ping event) to its answer being seen. With `selectIn`, that pane's first line is selected
// before each ping, as by a user about to copy it.
void Pings(Side& side, const std::string& name, uint64_t& pauses, HWND selectIn = nullptr) {
    std::vector<double> seen;
    for (size_t i = 1; i <= kPings; ++i) {
        Sleep(static_cast<DWORD>(SplitMixNext(pauses) % 101));
        if (selectIn) SendMessageA(selectIn, EM_SETSEL, 0, strlen(kGreeting) - 2);
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
}

// Typed pings: directly, through varnel.exe, and through varnel.exe with a selection in its pane.
// Wherever the program puts the answer then, the pane shows it.
void BenchLatency() {
    uint64_t pauses = 0x6a09e667f3bcc908ULL;
    Progress("command latency, directly");
    {
        DirectFake direct("bench-ping");
        Pings(direct, "direct.latency", pauses);
    }
    Progress("command latency through varnel.exe");
    {
        Varnel varnel("bench-ping");
        Pings(varnel, "latency", pauses);
    }
    Progress("command latency through varnel.exe, a selection in the pane");
    Varnel varnel("bench-ping");
    Pings(varnel, "selected", pauses, varnel.process.pane);
}

// From CreateProcess to the greeting shown, against the stand-in started on pipes.
void BenchStartUp() {
    Progress("start-up");
    for (int i = 0; i < kStartRuns; ++i) {
        {
            DirectFake direct("bench-start");
            Add("direct.start", direct.readyMs - direct.startMs);
        }
        Varnel varnel("bench-start");
        Add("start", varnel.readyMs - varnel.startMs);
        Add("window", varnel.windowMs - varnel.startMs);
        auto started = varnel.run.EventsNamed("start");
        if (started.size() != 1 || started[0].size() != 1) Fail("no start event");
        Add("spawn", started[0][0] - varnel.startMs);
    }
}

// The peak working set in KiB before and after a small and a large flood, each in its own
// varnel.exe. That of another process from GetProcessMemoryInfo is, under Wine 8, the VmHWM of its
// Unix process (checked against /proc/<pid>/status), so it needs no help from outside.
void BenchMemory() {
    for (int i = 0; i < 2; ++i) {
        Progress(MiB(kMemoryFloods[i]) + " flood for the peak working set");
        Varnel varnel("bench-memory");
        auto peak = [&] {
            PROCESS_MEMORY_COUNTERS counters{};
            if (!GetProcessMemoryInfo(varnel.process.info.hProcess, &counters, sizeof(counters)) ||
                counters.PeakWorkingSetSize == 0) {
                Fail("GetProcessMemoryInfo gave no peak working set");
            }
            return static_cast<double>(counters.PeakWorkingSetSize) / 1024;
        };
        Add("before." + std::to_string(i), peak());
        varnel.TypeFlood(kMemoryFloods[i]);
        Add("peak." + std::to_string(i), peak());
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
    auto part = [&](const char* name) {
        return only == ",," || only.find("," + std::string(name) + ",") != std::string::npos;
    };
    if (part("flood")) BenchFloodThroughput();
    if (part("probe")) BenchFloodResponsiveness();
    if (part("latency")) BenchLatency();
    if (part("start")) BenchStartUp();
    if (part("memory")) BenchMemory();
    for (const char* size : {"size32", "size64"})
        if (args.count(size)) Add(size, atof(args[size].c_str()));
    for (const char* imports : {"imports32", "imports64"})
        if (args.count(imports)) g_measured[imports].words = Words(args[imports]);
    const std::string cores = args["cores"] == "one" ? "one core" : "all cores";
    PrintTable(Rows(cores, Words(args["allowed"])), g_measured);
    return 0;
}
