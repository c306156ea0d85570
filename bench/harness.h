// The benchmark's harness: the stand-in interpreter drained directly or shown by varnel.exe's
// window, and the table that judges each figure.
//
// Times from different processes compare directly: QueryPerformanceCounter is system-wide under
// Wine, and the stand-in interpreter stamps its events with it.
#pragma once

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "driver.h"
#include "link_state.h"
#include "stand_in.h"

inline const double g_benchStart = NowMs();

// Progress goes to standard error, with the seconds since the start ("2/5": round 2 of 5).
inline void Progress(std::string text, int round = 0, int rounds = 0) {
    if (rounds) text += " " + std::to_string(round) + "/" + std::to_string(rounds);
    fprintf(stderr, "bench: %5.1f s  %s\n", (NowMs() - g_benchStart) / 1000, text.c_str());
    fflush(stderr);
}

[[noreturn]] inline void Fail(const std::string& text) {
    Progress("FAILED: " + text);
    ExitProcess(1);
}

// When the pane first ended with the flood's end. A flood makes the pane's text long: it is read
// only when its last lines fit (the end may follow a flood's partial last line) and its length
// has changed or a while has passed. (EM_GETLINE is not used: sent from another process under Wine
// 8 it can make the pane's process fail its reply and die.)
inline double WaitForFloodEnd(HWND pane, int timeoutMs) {
    auto send = [&](UINT message, WPARAM w) { return SendMessageA(pane, message, w, 0); };
    auto lineLength = [&](LRESULT line) { return send(EM_LINELENGTH, send(EM_LINEINDEX, line)); };
    LRESULT lastLength = -1;
    double lastRead = 0;
    auto ended = [&] {
        LRESULT count = send(EM_GETLINECOUNT, 0), length = send(WM_GETTEXTLENGTH, 0);
        if (count < 2 || lineLength(count - 1) != 0) return false;
        if (lineLength(count - 2) < static_cast<LRESULT>(strlen(kFloodEnd) - 2)) return false;
        if (length == lastLength && NowMs() - lastRead < 50) return false;
        lastLength = length;
        lastRead = NowMs();
        return EndsWith(ControlText(pane), kFloodEnd);
    };
    if (!WaitFor("FLOOD END", ended, timeoutMs)) Fail("no sign of the flood's end in the pane");
    return NowMs();
}

// A flood: the stand-in's report (time spent writing it, when it ended), and when its end was seen.
struct Flood {
    double writingMs = 0, endMs = 0, shownMs = 0;
};

// The stand-in interpreter driven by the benchmark: directly on two pipes (the baseline) or
// through varnel.exe's window. Either is ready once the stand-in's greeting has been seen.
class Side {
public:
    FakeRun run;
    double startMs = NowMs();  // just before the stand-in (or varnel.exe) was started
    double readyMs = 0;        // how long after that the greeting was seen

    virtual ~Side() = default;
    // Sends `line`; returns when `answer` was seen.
    virtual double Answer(const std::string& line, const std::string& answer) = 0;

    // Has the stand-in write a flood of `bytes` and waits until its end has been seen.
    Flood TypeFlood(uint64_t bytes) {
        const double shownMs = FloodShown(bytes);
        const std::vector<double> report = Report(bytes);
        if (report.empty()) Fail("no whole flood");
        return {report[1], report[2], shownMs};
    }

protected:
    explicit Side(const char* name) : run(name) {}

    // Starts a flood of `bytes`; returns when its end was seen, here as any answer.
    virtual double FloodShown(uint64_t bytes) {
        return Answer("flood " + std::to_string(bytes), kFloodEnd);
    }

    // The stand-in's report of its flood of `bytes`: the size, the time spent writing, when it
    // ended. It comes once the flood is over, before the flood's end; empty until then.
    std::vector<double> Report(uint64_t bytes) const {
        const auto floods = run.EventsNamed("flood");
        if (floods.empty() || floods.back().size() < 3 || floods.back()[0] != bytes) return {};
        return floods.back();
    }
};

// The stand-in started the way varnel.exe starts its interpreter, hidden on two pipes of the
// program's own sizes with a console of its own, and read in the program's chunks by a tight loop
// of blocking reads.
class DirectFake : public Side {
public:
    // `startup`: commands the stand-in runs first, such as a "chcp".
    explicit DirectFake(const char* name, const std::vector<std::string>& commands = {})
        : Side(name) {
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE inputRead = nullptr, outputWrite = nullptr;
        if (!CreatePipe(&inputRead, &input_, &inheritable, kInputPipeSize) ||
            !CreatePipe(&output_, &outputWrite, &inheritable, kOutputPipeSize))
            Fail("no pipes for the stand-in");
        SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        startup.hStdInput = inputRead;
        startup.hStdOutput = startup.hStdError = outputWrite;
        BOOL started = CreateProcessA(nullptr, run.Comspec(commands).data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info_);
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
        if (!started) Fail("the stand-in did not start on pipes");
        readyMs = ReadUntilEnd(kGreeting) - startMs;
    }

    // Without its input the stand-in ends (it writes nothing more: each use reads to the end).
    ~DirectFake() override {
        if (input_) CloseHandle(input_);
        if (WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0)
            TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
        CloseHandle(output_);
    }

    // Ends the stand-in's input; returns how long it then took to end.
    double StopMs() {
        const double start = NowMs();
        CloseHandle(input_);
        input_ = nullptr;
        if (WaitForSingleObject(info_.hProcess, 10000) != WAIT_OBJECT_0) Fail("no end on exit");
        return NowMs() - start;
    }

    double Answer(const std::string& line, const std::string& answer) override {
        Write(line + "\r\n");
        return ReadUntilEnd(answer);
    }

    // Writes `text` into the stand-in's input, waiting while the pipe is full.
    void Write(const std::string& text) {
        DWORD written = 0;
        WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (written != text.size()) Fail("the stand-in did not take " + text.substr(0, 40));
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

// varnel.exe with a fresh stand-in as its interpreter, closed again at the end. With `selecting`,
// the pane's first line is selected before each line is typed, as by a user about to copy it.
class Varnel : public Side {
public:
    VarnelProcess process;
    double windowMs = 0;  // how long after its start its window was found

    explicit Varnel(const char* name, bool selecting = false,
                    const std::vector<std::string>& startup = {})
        : Side(name), selecting_(selecting) {
        if (!process.Start(run.Comspec(startup).c_str())) Fail("varnel.exe did not start");
        if (!process.WaitForWindow(30000)) Fail("varnel.exe showed no window");
        windowMs = NowMs() - startMs;
        readyMs = Shown(kGreeting, 30000) - startMs;
    }

    ~Varnel() override { CloseMs(); }

    // Closes the window; returns how long after that varnel.exe had ended.
    double CloseMs() {
        const double start = NowMs();
        process.Close();
        if (process.WaitForExit(10000) == STILL_ACTIVE) Fail("varnel.exe did not close");
        return NowMs() - start;
    }

    // Types `line` into the entry field; `answer` is looked for anywhere in the pane.
    double Answer(const std::string& line, const std::string& answer) override {
        if (selecting_) SendMessageA(process.pane, EM_SETSEL, 0, strlen(kGreeting) - 2);
        process.Type(line);
        return Shown(answer, 10000);
    }

private:
    // When the pane first held `text` anywhere (a short pane: all of it is read at each look).
    double Shown(const std::string& text, int timeoutMs) {
        if (!process.PaneShows(text, timeoutMs)) Fail("no sign of " + text + " in the pane");
        return NowMs();
    }

    // The wait for the stand-in's report is woken by the change to its event file rather than by
    // polling, so that during the flood the benchmark puts no load of its own on Wine.
    double FloodShown(uint64_t bytes) override {
        const int kTimeoutMs = 120000;
        process.Type("flood " + std::to_string(bytes));
        const std::string directory = run.Base().substr(0, run.Base().find_last_of('\\'));
        HANDLE change = FindFirstChangeNotificationA(
            directory.c_str(), FALSE, FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE);
        if (change == INVALID_HANDLE_VALUE) Fail("cannot watch " + directory);
        for (double end = NowMs() + kTimeoutMs; Report(bytes).empty();) {
            if (NowMs() > end) Fail("no whole flood");
            if (WaitForSingleObject(change, 100) == WAIT_OBJECT_0)
                FindNextChangeNotification(change);
        }
        FindCloseChangeNotification(change);
        return WaitForFloodEnd(process.pane, kTimeoutMs);
    }

    bool selecting_;
};

// The size of a file that another process may still be writing, without reading it.
inline uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// --- The table -----------------------------------------------------------------------------------

// What the parts of the benchmark measured, by name: numbers, or words (the DLLs imported).
struct Samples {
    std::vector<double> values;
    std::vector<std::string> words;
};
inline std::map<std::string, Samples> g_measured;

inline void Add(const std::string& name, double value) {
    g_measured[name].values.push_back(value);
}

// A figure's statistic, and how it is judged: not at all, against a bound, against the baseline,
// or (kOnlyListed) every word of it among the listed ones.
enum Stat { kMedian, kP95, kMax, kRange, kWords };
enum Check { kInfo, kAtMost, kBelow, kTimesBaseline, kPlusBaseline, kOnlyListed };

// One figure: a statistic of measured samples beside the same statistic of the baseline's, and
// its target, from which both the target's text and the verdict come.
struct Row {
    std::string figure;
    Stat stat;
    std::string samples, baseline;  // names in g_measured; "" for no baseline
    Check check = kInfo;
    double bound = 0;                             // in the unit shown
    std::string baselineNote = "", unit = " ms";  // the note follows the baseline, e.g. " idle"
    std::vector<std::string> listed = {};         // for kOnlyListed
};

inline std::string Number(const char* format, double value) {
    char text[64];
    snprintf(text, sizeof(text), format, value);
    return text;
}

// Nearest-rank percentile; 0 for no samples.
inline double Percentile(std::vector<double> samples, double percent) {
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<size_t>(percent / 100 * samples.size() + 0.999);
    return samples.empty() ? 0 : samples[std::clamp<size_t>(rank, 1, samples.size()) - 1];
}

// "KERNEL32.dll" is shown as "KERNEL32".
inline std::string ShortNames(const std::vector<std::string>& dlls) {
    std::string text;
    for (const std::string& dll : dlls)
        text += (text.empty() ? "" : " ") + dll.substr(0, dll.find(".dll"));
    return text;
}

// The cells of a row: figure, measured value, baseline ("-" for none), target, result.
inline std::vector<std::string> Cells(const Row& row, const Samples& m, const Samples* baseline) {
    const double percent = row.stat == kMedian ? 50 : row.stat == kP95 ? 95 : 100;
    auto value = [&](const Samples& s) { return Percentile(s.values, percent); };
    auto shown = [&](const Samples& s) {
        if (row.stat == kWords) return ShortNames(s.words);
        if (row.stat == kRange)
            return Number("%.0f-", Percentile(s.values, 0)) + Number("%.0f", value(s)) + row.unit;
        return Number(row.unit == " ms" ? "%.1f" : "%.0f", value(s)) + row.unit;
    };
    auto listed = [&](const std::string& word) {  // whatever its case
        auto same = [&](const std::string& dll) { return !lstrcmpiA(dll.c_str(), word.c_str()); };
        return std::any_of(row.listed.begin(), row.listed.end(), same);
    };
    // Each check's target text beside its verdict; the row's own is taken.
    const double v = value(m), base = baseline ? value(*baseline) : 0;
    const std::string bound = Number("%g", row.bound);
    const std::map<Check, std::pair<std::string, bool>> targets = {
        {kInfo, {"-", false}},
        {kAtMost, {"<= " + bound + row.unit, v <= row.bound}},
        {kBelow, {"< " + bound + row.unit, v < row.bound}},
        {kTimesBaseline, {"<= " + bound + " x baseline", v <= row.bound * base}},
        {kPlusBaseline, {"<= baseline + " + bound + row.unit, v <= base + row.bound}},
        {kOnlyListed,
         {ShortNames(row.listed) + " only",
          !m.words.empty() && std::all_of(m.words.begin(), m.words.end(), listed)}},
    };
    const auto& [target, met] = targets.at(row.check);
    const std::string ratio = row.check == kTimesBaseline ? Number(" (x%.2f)", v / base) : "";
    return {row.figure, shown(m) + ratio, baseline ? shown(*baseline) + row.baselineNote : "-",
            target, row.check == kInfo ? "info" : (met ? "met" : "MISSED")};
}

// Prints as one table on standard output the rows whose samples, and baseline's, were measured.
inline void PrintTable(const std::vector<Row>& rows) {
    std::vector<std::vector<std::string>> lines = {
        {"Figure", "Measured", "Baseline", "Target", "Result"}};
    for (const Row& row : rows) {
        auto m = g_measured.find(row.samples), b = g_measured.find(row.baseline);
        const bool hasBaseline = b != g_measured.end();
        if (m != g_measured.end() && (hasBaseline || row.baseline.empty()))
            lines.push_back(Cells(row, m->second, hasBaseline ? &b->second : nullptr));
    }
    size_t widths[4] = {};
    for (const auto& line : lines)
        for (size_t i = 0; i < 4; ++i)
            widths[i] = std::max(widths[i], line[i].size());
    for (const auto& line : lines) {
        std::string text;
        for (size_t i = 0; i < 4; ++i)
            text += line[i] + std::string(widths[i] + 2 - line[i].size(), ' ');
        printf("%s\n", (text += line[4]).c_str());
        // Under the heading a rule as long as it ("Result" is the last column's widest cell).
        if (&line == &lines[0]) printf("%s\n", std::string(text.size(), '-').c_str());
    }
    fflush(stdout);
}
