// Measures varnel.exe driven through its window, each figure beside a baseline taken in the same
// run, and prints one table: flood throughput, the end of a flood reaching the pane, the
// window's answers during a flood, command latency, start-up, peak memory and size.
//
//   varnel_bench.exe [size32=BYTES] [size64=BYTES] [imports32=A.dll,B.dll] [imports64=...]
//                    [only=flood,probe,latency,start,memory] [cores=one] [save=FILE] [rows=FILE]
//
// The sizes and imports come from the calling script (scripts/bench), which reads them with
// objdump; only= runs some of the measured parts. cores=one says that the script has put all of
// Wine on one core. save= writes the measured rows to a file instead of printing the table, and
// rows= puts the rows saved by an earlier run at the head of this run's table. The table goes to
// standard output, progress to standard error.
//
// Times from different processes compare directly: QueryPerformanceCounter is system-wide under
// Wine, and the stand-in interpreter stamps its events with it. The peak working set of another
// process from GetProcessMemoryInfo is, under Wine 8, the VmHWM of its Unix process (checked
// against /proc/<pid>/status), so it needs no help from outside.

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "splitmix.h"
#include "test_support.h"
#include "window_driver.h"

namespace {

const char kReady[] = "FAKE READY";
const char kFloodEnd[] = "FLOOD END";
const DWORD kDrainRead = 1024;
// The program's pipe capacities, so that the baseline runs on the same pipes.
const DWORD kInputPipeSize = 1024;
const DWORD kOutputPipeSize = 256 * 1024;
const uint64_t kFloodBytes = 16 * 1024 * 1024;
const uint64_t kSmallMemoryFlood = 10 * 1024 * 1024;
const uint64_t kLargeMemoryFlood = 100 * 1024 * 1024;
const int kFloodRounds = 5;
const int kProbedFloodRounds = 3;
const int kPings = 50;
const int kStartRuns = 5;
const double kProbePeriodMs = 10.0;
const int kIdleProbes = 100;
const int kFloodTimeoutMs = 120000;
// The floods that are timed start this long after the interpreter's greeting, on both sides, as
// they would when a user types the command: the first moments of a new process and its window
// are start-up, not flood.
const DWORD kSettleMs = 1000;

const double g_benchStart = NowMs();

void Progress(const std::string& text) {
    fprintf(stderr, "bench: %5.1f s  %s\n", (NowMs() - g_benchStart) / 1000, text.c_str());
    fflush(stderr);
}

[[noreturn]] void Fail(const std::string& text) {
    fprintf(stderr, "bench: FAILED: %s\n", text.c_str());
    fflush(stderr);
    ExitProcess(1);
}

// Nearest-rank percentile; 0 for no samples.
double Percentile(std::vector<double> samples, double percent) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    size_t rank =
        static_cast<size_t>(percent / 100.0 * static_cast<double>(samples.size()) + 0.999);
    if (rank < 1) rank = 1;
    if (rank > samples.size()) rank = samples.size();
    return samples[rank - 1];
}

double Median(const std::vector<double>& samples) {
    return Percentile(samples, 50);
}

double Worst(const std::vector<double>& samples) {
    return samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
}

std::string Fixed(double value, int decimals = 1) {
    char text[64];
    snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

std::string Ms(double value) {
    return Fixed(value) + " ms";
}

std::string KiB(double bytes) {
    return Fixed(bytes / 1024.0, 0) + " KiB";
}

// The lines of `text` that end in `lineEnd`, each split at `separator` (an unfinished last line
// is left out).
std::vector<std::vector<std::string>> Split(const std::string& text, const std::string& lineEnd,
                                            char separator) {
    std::vector<std::vector<std::string>> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(lineEnd, begin);
        if (end == std::string::npos) break;
        std::vector<std::string> fields;
        size_t field = begin;
        while (field <= end) {
            size_t next = text.find(separator, field);
            if (next == std::string::npos || next > end) next = end;
            fields.push_back(text.substr(field, next - field));
            field = next + 1;
        }
        lines.push_back(fields);
        begin = end + lineEnd.size();
    }
    return lines;
}

// The event lines of a stand-in run, each split into words.
std::vector<std::vector<std::string>> Events(const FakeRun& run) {
    return Split(run.Events(), "\r\n", ' ');
}

struct FloodEvent {
    bool seen = false;
    double bytes = 0;
    double writingMs = 0;
    double endMs = 0;
};

FloodEvent FindFlood(const FakeRun& run) {
    FloodEvent flood;
    for (const auto& words : Events(run)) {
        if (words.size() >= 4 && words[0] == "flood") {
            flood.seen = true;
            flood.bytes = atof(words[1].c_str());
            flood.writingMs = atof(words[2].c_str());
            flood.endMs = atof(words[3].c_str());
        }
    }
    return flood;
}

double StartEvent(const FakeRun& run) {
    for (const auto& words : Events(run)) {
        if (words.size() == 2 && words[0] == "start") return atof(words[1].c_str());
    }
    return 0;
}

std::map<int, double> PingEvents(const FakeRun& run) {
    std::map<int, double> pings;
    for (const auto& words : Events(run)) {
        if (words.size() == 3 && words[0] == "ping") {
            pings[atoi(words[1].c_str())] = atof(words[2].c_str());
        }
    }
    return pings;
}

// The stand-in started by the benchmark itself the way varnel.exe starts its interpreter: two
// pipes of the same suggested capacities, this process's ends kept from the child, hidden.
class DirectFake {
public:
    explicit DirectFake(const FakeRun& run) : run_(run) {}

    bool Start() {
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE inputRead = nullptr;
        HANDLE outputWrite = nullptr;
        if (!CreatePipe(&inputRead, &inputWrite_, &inheritable, kInputPipeSize)) return false;
        if (!CreatePipe(&outputRead_, &outputWrite, &inheritable, kOutputPipeSize)) return false;
        SetHandleInformation(inputWrite_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(outputRead_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        startup.hStdInput = inputRead;
        startup.hStdOutput = outputWrite;
        startup.hStdError = outputWrite;
        std::string commandLine = run_.Comspec();
        BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info_);
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
        return started != 0;
    }

    bool Send(const std::string& text) {
        DWORD written = 0;
        return WriteFile(inputWrite_, text.data(), static_cast<DWORD>(text.size()), &written,
                         nullptr) &&
               written == text.size();
    }

    // Reads with blocking reads of kDrainRead bytes until the output read so far ends with
    // `marker` (the stand-in then waits for input). Returns the time the marker was read, or a
    // negative number when the output ended first.
    double ReadUntilEnd(const std::string& marker) {
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(outputRead_, buffer_, kDrainRead, &got, nullptr) || got == 0) return -1;
            if (got >= sizeof(recent_)) {
                memcpy(recent_, buffer_ + got - sizeof(recent_), sizeof(recent_));
                recentCount_ = sizeof(recent_);
            } else {
                size_t keep = sizeof(recent_) - got;
                if (keep > recentCount_) keep = recentCount_;
                memmove(recent_, recent_ + recentCount_ - keep, keep);
                memcpy(recent_ + keep, buffer_, got);
                recentCount_ = keep + got;
            }
            if (recentCount_ >= marker.size() &&
                memcmp(recent_ + recentCount_ - marker.size(), marker.data(), marker.size()) == 0) {
                return NowMs();
            }
        }
    }

    ~DirectFake() {
        if (inputWrite_) CloseHandle(inputWrite_);
        if (info_.hProcess) {
            // Without its input the stand-in ends; whatever it still writes is drained here.
            while (outputRead_ && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
                DWORD available = 0;
                if (!PeekNamedPipe(outputRead_, nullptr, 0, nullptr, &available, nullptr)) break;
                DWORD got = 0;
                if (available > 0) {
                    ReadFile(outputRead_, buffer_, kDrainRead, &got, nullptr);
                } else {
                    Sleep(1);
                }
            }
            if (WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0) {
                TerminateProcess(info_.hProcess, 99);
            }
            CloseHandle(info_.hProcess);
            CloseHandle(info_.hThread);
        }
        if (outputRead_) CloseHandle(outputRead_);
    }

private:
    const FakeRun& run_;
    HANDLE inputWrite_ = nullptr;
    HANDLE outputRead_ = nullptr;
    PROCESS_INFORMATION info_{};
    char buffer_[kDrainRead];
    char recent_[32];
    size_t recentCount_ = 0;
};

// Watches the end of varnel's pane with few, cheap messages: the text length, and when it has
// changed (or a while has passed) the lengths of the last two lines. Only when those fit is the
// whole text read to confirm. (EM_GETLINE is not used: sent from another process under Wine 8 it
// can make the pane's process fail its reply and die.)
class PaneWatch {
public:
    explicit PaneWatch(HWND pane) : pane_(pane) {}

    // Whether the pane ends with `line` and a line end (a flood's end line may follow its last,
    // unfinished line, so `line` need not start the line).
    bool EndsWithLine(const std::string& line) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutA(pane_, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 5000, &length)) {
            return false;
        }
        double now = NowMs();
        if (static_cast<long>(length) == lastLength_ && now - lastCheck_ < 50) return false;
        lastLength_ = static_cast<long>(length);
        lastCheck_ = now;
        int count = static_cast<int>(Send(EM_GETLINECOUNT));
        if (count < 2 || LineLength(count - 1) != 0) return false;
        if (LineLength(count - 2) < static_cast<int>(line.size())) return false;
        const std::string text = Text();
        const std::string end = line + "\r\n";
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    }

    // Polls every millisecond or so until the pane ends with `line`; returns the time that was
    // seen, or a negative number on timeout.
    double WaitForLine(const std::string& line, int timeoutMs) {
        double end = NowMs() + timeoutMs;
        for (;;) {
            if (EndsWithLine(line)) return NowMs();
            if (NowMs() > end) {
                std::string text = Text();
                Progress("the pane has " + std::to_string(text.size()) + " characters, ending '" +
                         text.substr(text.size() > 200 ? text.size() - 200 : 0) + "'");
                return -1;
            }
            Sleep(1);
        }
    }

private:
    LRESULT Send(UINT message, WPARAM wParam = 0) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(pane_, message, wParam, 0, SMTO_NORMAL, 5000, &result);
        return static_cast<LRESULT>(result);
    }

    int LineLength(int line) {
        LRESULT index = Send(EM_LINEINDEX, static_cast<WPARAM>(line));
        return index < 0 ? -1 : static_cast<int>(Send(EM_LINELENGTH, static_cast<WPARAM>(index)));
    }

    std::string Text() {
        int length = static_cast<int>(Send(WM_GETTEXTLENGTH));
        std::string text(static_cast<size_t>(length) + 1, '\0');
        DWORD_PTR got = 0;
        SendMessageTimeoutA(pane_, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                            SMTO_NORMAL, 5000, &got);
        text.resize(got < text.size() ? got : 0);
        return text;
    }

    HWND pane_;
    long lastLength_ = -1;
    double lastCheck_ = 0;
};

// Sends WM_NULL to a window every kProbePeriodMs from its own thread and records each round
// trip, so that nothing else the benchmark does waits in line with it.
class Prober {
public:
    explicit Prober(HWND window) : window_(window) {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    std::vector<double> Stop() {
        InterlockedExchange(&stop_, 1);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        return samples_;
    }

private:
    static DWORD WINAPI Run(void* self) {
        auto* prober = static_cast<Prober*>(self);
        double next = NowMs();
        while (!prober->stop_) {
            double start = NowMs();
            DWORD_PTR result = 0;
            double trip =
                SendMessageTimeoutA(prober->window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)
                    ? NowMs() - start
                    : 10000;
            prober->samples_.push_back(trip);
            next += kProbePeriodMs;
            double now = NowMs();
            if (next > now) {
                Sleep(static_cast<DWORD>(next - now + 0.5));
            } else {
                next = now;
            }
        }
        return 0;
    }

    HWND window_;
    HANDLE thread_;
    volatile LONG stop_ = 0;
    std::vector<double> samples_;
};

// varnel.exe with a fresh stand-in, its window found and the stand-in's greeting shown.
struct Varnel {
    FakeRun run;
    VarnelProcess process;
    double startMs = 0;   // just before CreateProcess
    double windowMs = 0;  // when its window was found
    double readyMs = 0;   // when the greeting was seen in the pane

    explicit Varnel(const char* name) : run(name) {
        startMs = NowMs();
        if (!process.Start(run.Comspec().c_str())) Fail("varnel.exe did not start");
        // Polled every millisecond rather than through WaitForWindow's coarser steps.
        double end = startMs + 30000;
        for (;;) {
            for (HWND window : TopLevelWindows(process.info.dwProcessId, "#32770")) {
                if (WindowTextOf(window) == "Varnel" && IsWindowVisible(window)) {
                    windowMs = NowMs();
                }
            }
            if (windowMs > 0) break;
            if (NowMs() > end) Fail("varnel.exe showed no window");
            Sleep(1);
        }
        if (!process.WaitForWindow(1000)) Fail("varnel.exe's controls were not found");
        readyMs = PaneWatch(process.pane).WaitForLine(kReady, 30000);
        if (readyMs < 0) Fail("varnel.exe did not show the interpreter's greeting");
    }

    void Close() {
        process.Close();
        if (process.WaitForExit(10000) == STILL_ACTIVE) Fail("varnel.exe did not close");
    }

    // Types a flood command and waits until its end is shown; returns the time it was seen.
    double Flood(uint64_t bytes, FloodEvent* event) {
        process.Type("flood " + std::to_string(bytes));
        *event = WaitForFloodEvent(run);
        if (!event->seen) Fail("the flood did not end");
        if (event->bytes != static_cast<double>(bytes)) Fail("the flood was cut short");
        double seen = PaneWatch(process.pane).WaitForLine(kFloodEnd, kFloodTimeoutMs);
        if (seen < 0) Fail("the end of the flood was not shown");
        return seen;
    }

private:
    // The stand-in writes its flood event when the flood is over (the end line follows it). The
    // wait is woken by the change to its event file rather than by polling, so that during the
    // flood the benchmark puts no load of its own on Wine.
    static FloodEvent WaitForFloodEvent(const FakeRun& run) {
        const std::string directory = run.base.substr(0, run.base.find_last_of('\\'));
        HANDLE change = FindFirstChangeNotificationA(
            directory.c_str(), FALSE, FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
        double end = NowMs() + kFloodTimeoutMs;
        FloodEvent event;
        for (;;) {
            event = FindFlood(run);
            if (event.seen || NowMs() > end) break;
            if (change == INVALID_HANDLE_VALUE) {
                Sleep(5);
            } else if (WaitForSingleObject(change, 100) == WAIT_OBJECT_0) {
                FindNextChangeNotification(change);
            }
        }
        if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
        return event;
    }
};

struct Row {
    std::string figure, value, baseline, target, result;
};

std::vector<Row> g_rows;

void AddRow(const std::string& figure, const std::string& value, const std::string& baseline,
            const std::string& target, bool met) {
    g_rows.push_back({figure, value, baseline, target, met ? "met" : "MISSED"});
}

void AddInfo(const std::string& figure, const std::string& value, const std::string& baseline) {
    g_rows.push_back({figure, value, baseline, "-", "info"});
}

// Rows travel between runs one per line, their cells separated by tabs.
void SaveRows(const std::string& path) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) Fail("cannot write " + path);
    for (const Row& row : g_rows) {
        fprintf(file, "%s\t%s\t%s\t%s\t%s\n", row.figure.c_str(), row.value.c_str(),
                row.baseline.c_str(), row.target.c_str(), row.result.c_str());
    }
    fclose(file);
}

void LoadRows(const std::string& path) {
    const std::string text = ReadWholeFile(path);
    if (text.empty()) Fail("no rows in " + path);
    for (const auto& cells : Split(text, "\n", '\t')) {
        if (cells.size() == 5) g_rows.push_back({cells[0], cells[1], cells[2], cells[3], cells[4]});
    }
}

void PrintTable() {
    Row header = {"Figure", "Measured", "Baseline", "Target", "Result"};
    size_t widths[5] = {};
    auto widen = [&](const Row& row) {
        const std::string* cells[5] = {&row.figure, &row.value, &row.baseline, &row.target,
                                       &row.result};
        for (int i = 0; i < 5; ++i)
            widths[i] = std::max(widths[i], cells[i]->size());
    };
    widen(header);
    for (const Row& row : g_rows)
        widen(row);
    auto print = [&](const Row& row) {
        const std::string* cells[5] = {&row.figure, &row.value, &row.baseline, &row.target,
                                       &row.result};
        std::string line;
        for (int i = 0; i < 5; ++i) {
            line += *cells[i];
            if (i < 4) line += std::string(widths[i] - cells[i]->size() + 2, ' ');
        }
        printf("%s\n", line.c_str());
    };
    print(header);
    size_t total = widths[0] + widths[1] + widths[2] + widths[3] + widths[4] + 8;
    printf("%s\n", std::string(total, '-').c_str());
    for (const Row& row : g_rows)
        print(row);
    fflush(stdout);
}

// 1: a 16 MiB flood through varnel.exe against the same flood drained by a tight loop of
// blocking reads, kFloodRounds of each, taken in turns. Nothing but the flood runs meanwhile on
// either side.
//
// Under Wine every read and write of a pipe is a request to the wineserver. Across cores the
// flood's speed depends on where the scheduler puts the wineserver, the interpreter and the
// reader, and varies widely from run to run (the fastest-slowest rows); with all of Wine on one
// core (cores=one) it is steady, and what the window adds is its own work alone. The target is
// judged both ways.
void BenchFloodThroughput(bool oneCore) {
    std::vector<double> directWriting, directTail, writing, tail;
    for (int round = 1; round <= kFloodRounds; ++round) {
        const std::string of =
            " (" + std::to_string(round) + "/" + std::to_string(kFloodRounds) + ")";
        Progress("16 MiB flood, drained directly" + of);
        {
            FakeRun run("bench-direct-flood");
            DirectFake direct(run);
            if (!direct.Start()) Fail("the stand-in did not start on pipes");
            if (direct.ReadUntilEnd(std::string(kReady) + "\r\n") < 0) Fail("no greeting");
            Sleep(kSettleMs);
            direct.Send("flood " + std::to_string(kFloodBytes) + "\r\n");
            double seen = direct.ReadUntilEnd(std::string(kFloodEnd) + "\r\n");
            if (seen < 0) Fail("the direct flood did not end");
            FloodEvent flood = FindFlood(run);
            if (!flood.seen || flood.bytes != static_cast<double>(kFloodBytes)) {
                Fail("no whole flood from the direct run");
            }
            directWriting.push_back(flood.writingMs);
            directTail.push_back(seen - flood.endMs);
        }

        Progress("16 MiB flood through varnel.exe" + of);
        Varnel varnel("bench-flood");
        Sleep(kSettleMs);
        FloodEvent flood;
        double seen = varnel.Flood(kFloodBytes, &flood);
        writing.push_back(flood.writingMs);
        tail.push_back(seen - flood.endMs);
        varnel.Close();
    }

    const std::string where = oneCore ? ", Wine on one core" : ", Wine on all cores";
    const std::string median = " (median of " + std::to_string(kFloodRounds) + where + ")";
    const double ratio = Median(writing) / Median(directWriting);
    const std::string writingFigure = "16 MiB flood: interpreter's writing time" + median;
    const std::string writingValue = Ms(Median(writing)) + " (x" + Fixed(ratio, 2) + ")";
    AddRow(writingFigure, writingValue, Ms(Median(directWriting)), "<= 1.5 x baseline",
           ratio <= 1.5);
    AddInfo("16 MiB flood: writing time, fastest-slowest" + where,
            Fixed(Percentile(writing, 0), 0) + "-" + Fixed(Worst(writing), 0) + " ms",
            Fixed(Percentile(directWriting, 0), 0) + "-" + Fixed(Worst(directWriting), 0) + " ms");
    // The end of the flood is judged as the user sees it, with the cores shared as usual.
    const std::string tailFigure = "flood written -> FLOOD END shown" + median;
    if (oneCore) {
        AddInfo(tailFigure, Ms(Median(tail)), Ms(Median(directTail)));
    } else {
        AddRow(tailFigure, Ms(Median(tail)), Ms(Median(directTail)), "<= 200 ms",
               Median(tail) <= 200);
        AddInfo("flood written -> FLOOD END shown, fastest-slowest" + where,
                Fixed(Percentile(tail, 0), 0) + "-" + Fixed(Worst(tail), 0) + " ms",
                Fixed(Percentile(directTail, 0), 0) + "-" + Fixed(Worst(directTail), 0) + " ms");
    }
}

// 2: the window's answers to a WM_NULL every kProbePeriodMs during 16 MiB floods, against the
// same window idle. The probes are load of their own on Wine, so these floods are not the ones
// timed above; their writing time is shown for comparison.
void BenchFloodResponsiveness() {
    std::vector<double> busy, idle, writing;
    for (int round = 1; round <= kProbedFloodRounds; ++round) {
        Progress("16 MiB flood through varnel.exe, window probed (" + std::to_string(round) + "/" +
                 std::to_string(kProbedFloodRounds) + ")");
        Varnel varnel("bench-probed-flood");
        if (round == 1) {
            Sleep(200);
            Prober idleProber(varnel.process.dialog);
            Sleep(static_cast<DWORD>(kIdleProbes * kProbePeriodMs));
            idle = idleProber.Stop();
        }
        Prober floodProber(varnel.process.dialog);
        FloodEvent flood;
        varnel.Flood(kFloodBytes, &flood);
        std::vector<double> probes = floodProber.Stop();
        busy.insert(busy.end(), probes.begin(), probes.end());
        writing.push_back(flood.writingMs);
        varnel.Close();
    }
    const double worst = Worst(busy);
    const double p95 = Percentile(busy, 95);
    AddRow("WM_NULL round trip during the floods: worst",
           Ms(worst) + " (" + std::to_string(busy.size()) + " probes)", Ms(Worst(idle)) + " idle",
           "<= 50 ms", worst <= 50);
    AddRow("WM_NULL round trip during the floods: p95", Ms(p95), Ms(Percentile(idle, 95)) + " idle",
           "< 20 ms", p95 < 20);
    AddInfo("WM_NULL round trip during the floods: median", Ms(Median(busy)),
            Ms(Median(idle)) + " idle");
    AddInfo("16 MiB flood while probed: writing time (median of " +
                std::to_string(kProbedFloodRounds) + ")",
            Ms(Median(writing)), "-");
}

// 3: typed pings, from the line reaching the interpreter to its answer in the pane.
void BenchLatency() {
    Progress("command latency, directly");
    uint64_t pauses = 0x6a09e667f3bcc908ULL;
    std::vector<double> directLatency;
    {
        FakeRun run("bench-direct-ping");
        std::vector<double> seen;
        {
            DirectFake direct(run);
            if (!direct.Start()) Fail("the stand-in did not start on pipes");
            if (direct.ReadUntilEnd(std::string(kReady) + "\r\n") < 0) Fail("no greeting");
            for (int i = 1; i <= kPings; ++i) {
                Sleep(static_cast<DWORD>(SplitMixNext(pauses) % 101));
                direct.Send("ping " + std::to_string(i) + "\r\n");
                seen.push_back(direct.ReadUntilEnd("\npong " + std::to_string(i) + "\r\n"));
            }
        }
        std::map<int, double> pings = PingEvents(run);
        for (int i = 1; i <= kPings; ++i) {
            if (!pings.count(i) || seen[i - 1] < 0) Fail("a direct ping went missing");
            directLatency.push_back(seen[i - 1] - pings[i]);
        }
    }

    Progress("command latency through varnel.exe");
    Varnel varnel("bench-ping");
    PaneWatch watch(varnel.process.pane);
    std::vector<double> seen;
    for (int i = 1; i <= kPings; ++i) {
        Sleep(static_cast<DWORD>(SplitMixNext(pauses) % 101));
        varnel.process.Type("ping " + std::to_string(i));
        seen.push_back(watch.WaitForLine("pong " + std::to_string(i), 10000));
        if (seen.back() < 0) Fail("a pong was not shown");
    }
    varnel.Close();
    std::map<int, double> pings = PingEvents(varnel.run);
    std::vector<double> latency;
    for (int i = 1; i <= kPings; ++i) {
        if (!pings.count(i)) Fail("a ping did not reach the interpreter");
        latency.push_back(seen[i - 1] - pings[i]);
    }
    AddInfo("command latency (" + std::to_string(kPings) + " pings): median", Ms(Median(latency)),
            Ms(Median(directLatency)));
    double p95 = Percentile(latency, 95);
    AddRow("command latency: p95", Ms(p95), Ms(Percentile(directLatency, 95)), "<= 110 ms",
           p95 <= 110);
    AddInfo("command latency: worst", Ms(Worst(latency)), Ms(Worst(directLatency)));
}

// 4: from CreateProcess to the greeting shown, against the stand-in started on pipes.
void BenchStartUp() {
    Progress("start-up");
    std::vector<double> viaVarnel, direct, window, spawn;
    for (int i = 0; i < kStartRuns; ++i) {
        {
            FakeRun run("bench-direct-start");
            DirectFake fake(run);
            double start = NowMs();
            if (!fake.Start()) Fail("the stand-in did not start on pipes");
            double ready = fake.ReadUntilEnd(std::string(kReady) + "\r\n");
            if (ready < 0) Fail("no greeting");
            direct.push_back(ready - start);
        }
        Varnel varnel("bench-start");
        viaVarnel.push_back(varnel.readyMs - varnel.startMs);
        window.push_back(varnel.windowMs - varnel.startMs);
        spawn.push_back(StartEvent(varnel.run) - varnel.startMs);
        varnel.Close();
    }
    double median = Median(viaVarnel);
    double baseline = Median(direct);
    AddRow("start-up to greeting shown (median of " + std::to_string(kStartRuns) + ")", Ms(median),
           Ms(baseline) + " direct", "<= baseline + 150 ms", median <= baseline + 150);
    AddInfo("start-up: window found", Ms(Median(window)), "-");
    AddInfo("start-up: interpreter running (its start event)", Ms(Median(spawn)), "-");
}

// 5: peak working set after a small and a large flood, each in its own varnel.exe.
void BenchMemory() {
    double peaks[2] = {};
    double before[2] = {};
    const uint64_t sizes[2] = {kSmallMemoryFlood, kLargeMemoryFlood};
    for (int i = 0; i < 2; ++i) {
        Progress(std::to_string(sizes[i] >> 20) + " MiB flood for the peak working set");
        Varnel varnel("bench-memory");
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        if (GetProcessMemoryInfo(varnel.process.info.hProcess, &counters, sizeof(counters))) {
            before[i] = static_cast<double>(counters.PeakWorkingSetSize);
        }
        FloodEvent flood;
        varnel.Flood(sizes[i], &flood);
        if (!GetProcessMemoryInfo(varnel.process.info.hProcess, &counters, sizeof(counters))) {
            Fail("GetProcessMemoryInfo failed");
        }
        peaks[i] = static_cast<double>(counters.PeakWorkingSetSize);
        varnel.Close();
    }
    if (peaks[0] == 0 || peaks[1] == 0) Fail("GetProcessMemoryInfo gave no peak working set");
    AddRow("peak working set after 100 MiB flood", KiB(peaks[1]), KiB(peaks[0]) + " (10 MiB)",
           "<= baseline + 2048 KiB", peaks[1] <= peaks[0] + 2048 * 1024);
    AddInfo("peak working set before the flood", KiB(before[1]), KiB(before[0]) + " (10 MiB run)");
}

// 6: the executables' sizes and imports, as measured by the calling script.
void ReportSize(const std::map<std::string, std::string>& args) {
    auto get = [&](const std::string& key) {
        auto found = args.find(key);
        return found == args.end() ? std::string() : found->second;
    };
    const std::string size32 = get("size32"), size64 = get("size64");
    if (size32.empty()) return;
    AddRow("size of win32/varnel.exe", size32 + " B", size64.empty() ? "-" : size64 + " B (win64)",
           "<= 32768 B", atof(size32.c_str()) <= 32768);
    const std::string allowed[] = {"KERNEL32.dll", "USER32.dll", "GDI32.dll", "msvcrt.dll"};
    auto onlySystem = [&](const std::string& list) {
        if (list.empty()) return false;
        size_t begin = 0;
        while (begin < list.size()) {
            size_t comma = list.find(',', begin);
            if (comma == std::string::npos) comma = list.size();
            std::string dll = list.substr(begin, comma - begin);
            bool known = false;
            for (const std::string& a : allowed)
                known = known || lstrcmpiA(a.c_str(), dll.c_str()) == 0;
            if (!known) return false;
            begin = comma + 1;
        }
        return true;
    };
    // "KERNEL32.dll,USER32.dll" is shown as "KERNEL32 USER32".
    auto shortList = [](std::string list) {
        for (size_t at; (at = list.find(".dll")) != std::string::npos;)
            list.erase(at, 4);
        std::replace(list.begin(), list.end(), ',', ' ');
        return list;
    };
    const std::string imports32 = get("imports32"), imports64 = get("imports64");
    AddRow("DLLs imported by win32/varnel.exe", shortList(imports32),
           imports64.empty() ? "-" : shortList(imports64) + " (win64)",
           "KERNEL32 USER32 GDI32 msvcrt only", onlySystem(imports32));
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // the table's lines end in "\n" alone
    std::map<std::string, std::string> args;
    for (int i = 1; i < argc; ++i) {
        const char* equals = strchr(argv[i], '=');
        if (equals) args[std::string(argv[i], static_cast<size_t>(equals - argv[i]))] = equals + 1;
    }
    // only=flood,probe,latency,start,memory runs some of the parts.
    const std::string only = args.count("only") ? "," + args["only"] + "," : std::string();
    auto part = [&](const char* name) {
        return only.empty() || only.find("," + std::string(name) + ",") != std::string::npos;
    };
    if (args.count("rows")) LoadRows(args["rows"]);
    if (part("flood")) BenchFloodThroughput(args["cores"] == "one");
    if (part("probe")) BenchFloodResponsiveness();
    if (part("latency")) BenchLatency();
    if (part("start")) BenchStartUp();
    if (part("memory")) BenchMemory();
    ReportSize(args);
    if (args.count("save")) {
        SaveRows(args["save"]);
    } else {
        PrintTable();
    }
    return 0;
}
