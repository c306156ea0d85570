// The benchmark's harness: the stand-in interpreter drained directly or shown by varnel.exe's
// window, and the table that judges each figure.
//
// Times from different processes compare directly: QueryPerformanceCounter is system-wide under
// Wine, and the stand-in interpreter stamps its events with it.
#pragma once

#include <windows.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"
#include "link_state.h"
#include "stand_in.h"

inline const double g_benchStart = NowMs();

// Progress goes to standard error, with the seconds since the benchmark started.
inline void Progress(const std::string& text) {
    fprintf(stderr, "bench: %5.1f s  %s\n", (NowMs() - g_benchStart) / 1000, text.c_str());
    fflush(stderr);
}

[[noreturn]] inline void Fail(const std::string& text) {
    Progress("FAILED: " + text);
    ExitProcess(1);
}

// When `done` first held, looked at as often as WaitFor looks; the benchmark fails if it never did
// within `timeoutMs`.
template <typename Done>
double WhenDone(const std::string& what, Done done, int timeoutMs) {
    if (!WaitFor(what.c_str(), done, timeoutMs)) Fail("no sign of " + what);
    return NowMs();
}

// When the pane first held `text` anywhere (a short pane: all of it is read at each look).
inline double WaitForText(HWND pane, const std::string& text, int timeoutMs) {
    return WhenDone(
        "'" + text + "' in the pane",
        [&] { return ControlText(pane).find(text) != std::string::npos; }, timeoutMs);
}

// When the pane first ended with the flood's end. A flood makes the pane's text long: it is read
// only when its last lines fit (the end may follow a flood's partial last line) and its length
// has changed or a while has passed. (EM_GETLINE is not used: sent from another process under Wine
// 8 it can make the pane's process fail its reply and die.)
inline double WaitForFloodEnd(HWND pane, int timeoutMs) {
    const std::string end = kFloodEnd;
    auto send = [&](UINT message, LRESULT wParam) {
        return SendMessageA(pane, message, static_cast<WPARAM>(wParam), 0);
    };
    auto lineLength = [&](LRESULT line) { return send(EM_LINELENGTH, send(EM_LINEINDEX, line)); };
    LRESULT lastLength = -1;
    double lastRead = 0;
    auto ended = [&] {
        LRESULT count = send(EM_GETLINECOUNT, 0), length = send(WM_GETTEXTLENGTH, 0);
        if (count < 2 || lineLength(count - 1) != 0) return false;
        if (lineLength(count - 2) < static_cast<LRESULT>(end.size() - 2)) return false;
        if (length == lastLength && NowMs() - lastRead < 50) return false;
        lastLength = length;
        lastRead = NowMs();
        return EndsWith(ControlText(pane), end);
    };
    return WhenDone("the flood's end in the pane", ended, timeoutMs);
}

// A flood as the stand-in reports it (the time spent writing it, when it ended), and when its end
// was seen.
struct Flood {
    double writingMs = 0, endMs = 0, shownMs = 0;
};

// The stand-in's report of its flood of `bytes`, once it has written it.
inline std::optional<Flood> ReportedFlood(const FakeRun& run, uint64_t bytes) {
    auto floods = run.EventsNamed("flood");
    if (floods.empty() || floods.back().size() < 3) return std::nullopt;
    if (floods.back()[0] != static_cast<double>(bytes)) return std::nullopt;
    return Flood{floods.back()[1], floods.back()[2]};
}

// The stand-in interpreter driven by the benchmark: directly on two pipes (the baseline) or
// through varnel.exe's window. Either is ready once the stand-in's greeting has been seen.
class Side {
public:
    FakeRun run;
    double startMs = NowMs();  // just before the stand-in (or varnel.exe) was started
    double readyMs = 0;        // when the greeting was seen

    virtual ~Side() = default;
    // Sends `line`; returns when `answer` was seen.
    virtual double Answer(const std::string& line, const std::string& answer) = 0;
    // Has the stand-in write a flood of `bytes` and waits until its end has been seen.
    virtual Flood TypeFlood(uint64_t bytes) = 0;

protected:
    explicit Side(const char* name) : run(name) {}
};

// The stand-in started the way varnel.exe starts its interpreter, hidden on two pipes of the
// program's own sizes, and read in the program's chunks by a tight loop of blocking reads.
class DirectFake : public Side {
public:
    explicit DirectFake(const char* name) : Side(name) {
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE inputRead = nullptr, outputWrite = nullptr;
        if (!CreatePipe(&inputRead, &input_, &inheritable, kInputPipeSize) ||
            !CreatePipe(&output_, &outputWrite, &inheritable, kOutputPipeSize)) {
            Fail("no pipes for the stand-in");
        }
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        startup.hStdInput = inputRead;
        startup.hStdOutput = startup.hStdError = outputWrite;
        std::string commandLine = run.Comspec();
        BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info_);
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
        if (!started) Fail("the stand-in did not start on pipes");
        readyMs = ReadUntilEnd(kGreeting);
    }

    // Without its input the stand-in ends (it writes nothing more: each use reads to the end).
    ~DirectFake() override {
        CloseHandle(input_);
        if (WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0) {
            TerminateProcess(info_.hProcess, 99);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
        CloseHandle(output_);
    }

    double Answer(const std::string& line, const std::string& answer) override {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (written != text.size()) Fail("the stand-in did not take " + line);
        return ReadUntilEnd(answer);
    }

    Flood TypeFlood(uint64_t bytes) override {
        double shownMs = Answer("flood " + std::to_string(bytes), kFloodEnd);
        std::optional<Flood> flood = ReportedFlood(run, bytes);
        if (!flood) Fail("no whole flood");
        flood->shownMs = shownMs;
        return *flood;
    }

private:
    // Reads until the output so far ends with `end`; returns the time it was read.
    double ReadUntilEnd(const std::string& end) {
        char buffer[kChunkMax];
        for (DWORD got = 0; ReadFile(output_, buffer, kChunkMax, &got, nullptr) && got > 0;) {
            tail_.append(buffer, got);
            if (tail_.size() > end.size()) tail_.erase(0, tail_.size() - end.size());
            if (tail_ == end) return NowMs();
        }
        Fail("the stand-in's output ended before " + end);
    }

    HANDLE input_ = nullptr, output_ = nullptr;
    PROCESS_INFORMATION info_{};
    std::string tail_;
};

// varnel.exe with a fresh stand-in as its interpreter, closed again at the end.
class Varnel : public Side {
public:
    VarnelProcess process;
    double windowMs = 0;  // when its window was found

    explicit Varnel(const char* name) : Side(name) {
        if (!process.Start(run.Comspec().c_str())) Fail("varnel.exe did not start");
        if (!process.WaitForWindow(30000)) Fail("varnel.exe showed no window");
        windowMs = NowMs();
        readyMs = WaitForText(process.pane, kGreeting, 30000);
    }

    ~Varnel() override {
        process.Close();
        if (process.WaitForExit(10000) == STILL_ACTIVE) Fail("varnel.exe did not close");
    }

    // Types `line` into the entry field; `answer` is looked for anywhere in the pane.
    double Answer(const std::string& line, const std::string& answer) override {
        process.Type(line);
        return WaitForText(process.pane, answer, 10000);
    }

    Flood TypeFlood(uint64_t bytes) override {
        const int kTimeoutMs = 120000;
        process.Type("flood " + std::to_string(bytes));
        // The stand-in reports the flood once it is over. The wait is woken by the change to its
        // event file rather than by polling, so that during the flood the benchmark puts no load
        // of its own on Wine.
        const std::string directory = run.Base().substr(0, run.Base().find_last_of('\\'));
        HANDLE change = FindFirstChangeNotificationA(
            directory.c_str(), FALSE, FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
        if (change == INVALID_HANDLE_VALUE) Fail("cannot watch " + directory);
        std::optional<Flood> flood;
        for (double end = NowMs() + kTimeoutMs; !(flood = ReportedFlood(run, bytes));) {
            if (NowMs() > end) Fail("no whole flood");
            if (WaitForSingleObject(change, 100) == WAIT_OBJECT_0)
                FindNextChangeNotification(change);
        }
        FindCloseChangeNotification(change);
        flood->shownMs = WaitForFloodEnd(process.pane, kTimeoutMs);
        return *flood;
    }
};

// --- The table -----------------------------------------------------------------------------------

// What the parts of the benchmark measured, by name: numbers, or words (the DLLs imported).
struct Samples {
    std::vector<double> values;
    std::vector<std::string> words;
};
using Measurements = std::map<std::string, Samples>;

enum class Stat { kMedian, kP95, kMax, kRange, kWords };
// How a figure is judged: not at all, against a bound, against the baseline, or (kOnlyListed)
// every word of it among the listed ones.
enum class Check { kInfo, kAtMost, kBelow, kTimesBaseline, kPlusBaseline, kOnlyListed };

// One figure: a statistic of measured samples beside the same statistic of the baseline's, and
// its target, from which both the target's text and the verdict come.
struct Row {
    std::string figure;
    Stat stat;
    std::string samples, baseline;  // names in Measurements; "" for no baseline
    std::string unit;               // " ms", " KiB", " B" or ""
    Check check = Check::kInfo;
    double bound = 0;                      // in the unit shown
    std::string baselineNote = "";         // after the baseline's value, e.g. " idle"
    std::vector<std::string> listed = {};  // for kOnlyListed
};

// Nearest-rank percentile; 0 for no samples.
inline double Percentile(std::vector<double> samples, double percent) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    size_t rank = static_cast<size_t>(percent / 100 * static_cast<double>(samples.size()) + 0.999);
    return samples[std::min(std::max<size_t>(rank, 1), samples.size()) - 1];
}

inline std::string Number(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof(text), format, value);
    return text;
}

// "KERNEL32.dll" is shown as "KERNEL32".
inline std::string ShortNames(const std::vector<std::string>& dlls) {
    std::string text;
    for (const std::string& dll : dlls)
        text += (text.empty() ? "" : " ") + dll.substr(0, dll.find(".dll"));
    return text;
}

// Whether there are words and each is one of `listed`, whatever its case.
inline bool AllListed(const std::vector<std::string>& words,
                      const std::vector<std::string>& listed) {
    return !words.empty() && std::all_of(words.begin(), words.end(), [&](const std::string& word) {
        return std::any_of(listed.begin(), listed.end(), [&](const std::string& dll) {
            return lstrcmpiA(dll.c_str(), word.c_str()) == 0;
        });
    });
}

// Whether a row's figure meets its target, and the target's text.
inline std::pair<bool, std::string> Judge(const Row& row, double value, double baseline,
                                          const std::vector<std::string>& words) {
    const std::string bound = Number("%g", row.bound);
    switch (row.check) {
        case Check::kInfo:
            break;
        case Check::kAtMost:
            return {value <= row.bound, "<= " + bound + row.unit};
        case Check::kBelow:
            return {value < row.bound, "< " + bound + row.unit};
        case Check::kTimesBaseline:
            return {value <= row.bound * baseline, "<= " + bound + " x baseline"};
        case Check::kPlusBaseline:
            return {value <= baseline + row.bound, "<= baseline + " + bound + row.unit};
        case Check::kOnlyListed:
            return {AllListed(words, row.listed), ShortNames(row.listed) + " only"};
    }
    return {false, "-"};
}

// The cells of a row: figure, measured value, baseline, target, result. `baseline` is null when
// the row has none.
inline std::vector<std::string> Cells(const Row& row, const Samples& m, const Samples* baseline) {
    const double percent = row.stat == Stat::kMedian ? 50 : row.stat == Stat::kP95 ? 95 : 100;
    auto value = [&](const Samples& s) { return Percentile(s.values, percent); };
    auto shown = [&](const Samples& s) {
        if (row.stat == Stat::kWords) return ShortNames(s.words);
        if (row.stat == Stat::kRange)
            return Number("%.0f", Percentile(s.values, 0)) + Number("-%.0f", value(s)) + row.unit;
        return Number(row.unit == " ms" ? "%.1f" : "%.0f", value(s)) + row.unit;
    };
    const double v = value(m), base = baseline ? value(*baseline) : 0;
    auto [met, target] = Judge(row, v, base, m.words);
    const std::string ratio =
        row.check == Check::kTimesBaseline ? Number(" (x%.2f)", v / base) : "";
    const char* result = row.check == Check::kInfo ? "info" : met ? "met" : "MISSED";
    return {row.figure, shown(m) + ratio, baseline ? shown(*baseline) + row.baselineNote : "-",
            target, result};
}

// Prints the rows whose samples were measured as one table on standard output.
inline void PrintTable(const std::vector<Row>& rows, const Measurements& measured) {
    std::vector<std::vector<std::string>> lines = {
        {"Figure", "Measured", "Baseline", "Target", "Result"}};
    for (const Row& row : rows) {
        auto samples = measured.find(row.samples), baseline = measured.find(row.baseline);
        // A figure is shown only with its baseline, when it has one.
        if (samples == measured.end() || (!row.baseline.empty() && baseline == measured.end()))
            continue;
        lines.push_back(
            Cells(row, samples->second, baseline == measured.end() ? nullptr : &baseline->second));
    }
    int widths[5] = {}, total = 8;
    for (int i = 0; i < 5; ++i) {
        for (const auto& line : lines)
            widths[i] = std::max(widths[i], static_cast<int>(line[i].size()));
        total += widths[i];
    }
    for (const auto& line : lines) {
        for (int i = 0; i < 4; ++i)
            printf("%-*s  ", widths[i], line[i].c_str());
        printf("%s\n", line[4].c_str());
        if (&line == &lines[0]) printf("%s\n", std::string(total, '-').c_str());
    }
    fflush(stdout);
}
