// The benchmark's harness: the stand-in interpreter drained directly, varnel.exe started and
// watched through its window, a prober of the window, and the table that judges each figure.
//
// Times from different processes compare directly: QueryPerformanceCounter is system-wide under
// Wine, and the stand-in interpreter stamps its events with it.
#pragma once

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "stand_in.h"

const std::string kReadyLine = kGreeting;

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

// The numbers of the stand-in's event lines that start with the word `name`, one list per line.
inline std::vector<std::vector<double>> EventsNamed(const FakeRun& run, const std::string& name) {
    std::vector<std::vector<double>> events;
    const std::string text = run.Events(), start = name + " ";
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        if (text.compare(at, start.size(), start) != 0) continue;
        std::vector<double> numbers;
        char* next = nullptr;
        for (const char* word = text.c_str() + at + start.size();; word = next) {
            double number = strtod(word, &next);
            if (next == word || next > text.c_str() + end) break;
            numbers.push_back(number);
        }
        events.push_back(numbers);
    }
    return events;
}

// A flood as the stand-in reports it (bytes written, the time spent writing them, when it ended)
// and when its end was seen.
struct Flood {
    double bytes = 0, writingMs = 0, endMs = 0, shownMs = 0;
};

// Whether the stand-in has reported a flood of `bytes`.
inline bool FindFlood(const FakeRun& run, uint64_t bytes, Flood* flood) {
    auto events = EventsNamed(run, "flood");
    if (events.empty() || events.back().size() < 3) return false;
    *flood = {events.back()[0], events.back()[1], events.back()[2]};
    return flood->bytes == static_cast<double>(bytes);
}

// Watches varnel's pane from this process, looking every millisecond or so. Each wait returns the
// time its condition was first seen, or fails after `timeoutMs`. (EM_GETLINE is not used: sent
// from another process under Wine 8 it can make the pane's process fail its reply and die.)
class PaneWatch {
public:
    explicit PaneWatch(HWND pane) : pane_(pane) {}

    // The pane ends with `end`, a line and its line end. The whole text, which a flood makes
    // long, is read only when its length has changed (or a while has passed) and its last lines
    // fit.
    double WaitForEnd(const std::string& end, int timeoutMs) {
        const std::string line = end.substr(0, end.size() - 2);
        long lastLength = -1;
        double lastLook = 0;
        return Wait(end, timeoutMs, [&] {
            long length = static_cast<long>(Send(WM_GETTEXTLENGTH));
            if (length == lastLength && NowMs() - lastLook < 50) return false;
            lastLength = length;
            lastLook = NowMs();
            int count = static_cast<int>(Send(EM_GETLINECOUNT));
            if (count < 2 || LineLength(count - 1) != 0) return false;
            if (LineLength(count - 2) < static_cast<int>(line.size())) return false;
            const std::string text = Text();
            return text.size() >= end.size() &&
                   text.compare(text.size() - end.size(), end.size(), end) == 0;
        });
    }

    // The pane holds `text` anywhere (a short pane: its text is read on every look).
    double WaitForText(const std::string& text, int timeoutMs) {
        return Wait(text, timeoutMs, [&] { return Text().find(text) != std::string::npos; });
    }

private:
    template <typename Seen>
    double Wait(const std::string& what, int timeoutMs, Seen seen) {
        for (double end = NowMs() + timeoutMs; NowMs() < end; Sleep(1)) {
            if (seen()) return NowMs();
        }
        const std::string text = Text();
        Fail("the pane did not show " + what + "; it has " + std::to_string(text.size()) +
             " characters, ending '" + text.substr(text.size() > 200 ? text.size() - 200 : 0) +
             "'");
    }

    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(pane_, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
        return static_cast<LRESULT>(result);
    }

    int LineLength(int line) {
        LRESULT index = Send(EM_LINEINDEX, static_cast<WPARAM>(line));
        return index < 0 ? -1 : static_cast<int>(Send(EM_LINELENGTH, static_cast<WPARAM>(index)));
    }

    std::string Text() {
        std::string text(static_cast<size_t>(Send(WM_GETTEXTLENGTH)) + 1, '\0');
        size_t got =
            static_cast<size_t>(Send(WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
        text.resize(got < text.size() ? got : 0);
        return text;
    }

    HWND pane_;
};

// Sends WM_NULL to varnel's window every `periodMs` from a thread of its own and records each
// round trip (10 s when unanswered), so that nothing else the benchmark does waits in line.
class Prober {
public:
    Prober(const VarnelProcess& process, double periodMs)
        : thread_([this, &process, periodMs] {
              for (double next = NowMs(); !stop_;) {
                  double trip = process.RoundTripMs(10000);
                  samples_.push_back(trip < 0 ? 10000 : trip);
                  next = std::max(next + periodMs, NowMs());
                  Sleep(static_cast<DWORD>(std::max(0.0, next - NowMs())));
              }
          }) {}

    std::vector<double> Stop() {
        stop_ = true;
        thread_.join();
        return samples_;
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<double> samples_;
    std::thread thread_;  // declared last: it starts once the members it uses exist
};

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

// The stand-in started the way varnel.exe starts its interpreter, hidden on two pipes, and read
// by a tight loop of blocking reads.
class DirectFake : public Side {
public:
    // The program's own pipe sizes, mirrored: input 1024 bytes, output 256 KiB.
    static const DWORD kInputPipeSize = 1024, kOutputPipeSize = 256 * 1024, kDrainRead = 1024;

    explicit DirectFake(const char* name) : Side(name) {
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE inputRead = nullptr, outputWrite = nullptr;
        if (!CreatePipe(&inputRead, &inputWrite_, &inheritable, kInputPipeSize) ||
            !CreatePipe(&outputRead_, &outputWrite, &inheritable, kOutputPipeSize)) {
            Fail("no pipes for the stand-in");
        }
        SetHandleInformation(inputWrite_, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(outputRead_, HANDLE_FLAG_INHERIT, 0);
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
        readyMs = ReadUntilEnd(kReadyLine);
    }

    // Without its input the stand-in ends (it writes nothing more: each use reads to the end).
    ~DirectFake() override {
        CloseHandle(inputWrite_);
        if (WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0) {
            TerminateProcess(info_.hProcess, 99);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
        CloseHandle(outputRead_);
    }

    double Answer(const std::string& line, const std::string& answer) override {
        const std::string text = line + "\r\n";
        DWORD written = 0;
        WriteFile(inputWrite_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (written != text.size()) Fail("the stand-in did not take " + line);
        return ReadUntilEnd(answer);
    }

    Flood TypeFlood(uint64_t bytes) override {
        double shown = Answer("flood " + std::to_string(bytes), kFloodEnd);
        Flood flood;
        if (!FindFlood(run, bytes, &flood)) Fail("no whole flood");
        flood.shownMs = shown;
        return flood;
    }

private:
    // Reads until the output so far ends with `marker`; returns the time it was read.
    double ReadUntilEnd(const std::string& marker) {
        char buffer[kDrainRead];
        for (DWORD got = 0; ReadFile(outputRead_, buffer, kDrainRead, &got, nullptr) && got > 0;) {
            tail_.append(buffer, got);
            if (tail_.size() > marker.size()) tail_.erase(0, tail_.size() - marker.size());
            if (tail_ == marker) return NowMs();
        }
        Fail("the stand-in's output ended before " + marker);
    }

    HANDLE inputWrite_ = nullptr, outputRead_ = nullptr;
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
        // Looked for every millisecond rather than through WaitForWindow's coarser steps.
        for (; windowMs == 0; Sleep(1)) {
            for (HWND window : TopLevelWindows(process.info.dwProcessId, "#32770")) {
                if (WindowTextOf(window) == "Varnel" && IsWindowVisible(window)) windowMs = NowMs();
            }
            if (NowMs() > startMs + 30000) Fail("varnel.exe showed no window");
        }
        if (!process.WaitForWindow(1000)) Fail("varnel.exe's controls were not found");
        readyMs = PaneWatch(process.pane).WaitForText(kReadyLine, 30000);
    }

    ~Varnel() override {
        process.Close();
        if (process.WaitForExit(10000) == STILL_ACTIVE) Fail("varnel.exe did not close");
    }

    // Types `line` into the entry field; `answer` is looked for anywhere in the pane.
    double Answer(const std::string& line, const std::string& answer) override {
        process.Type(line);
        return PaneWatch(process.pane).WaitForText(answer, 10000);
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
        Flood flood;
        for (double end = NowMs() + kTimeoutMs; !FindFlood(run, bytes, &flood);) {
            if (NowMs() > end) Fail("no whole flood");
            if (WaitForSingleObject(change, 100) == WAIT_OBJECT_0) {
                FindNextChangeNotification(change);
            }
        }
        FindCloseChangeNotification(change);
        flood.shownMs = PaneWatch(process.pane).WaitForEnd(kFloodEnd, kTimeoutMs);
        return flood;
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
enum class Unit { kMs, kKiB, kBytes, kNone };
// How a figure is judged: not at all, against a bound, against the baseline, or (kOnlyListed)
// every word of it among the listed ones.
enum class Check { kInfo, kAtMost, kBelow, kTimesBaseline, kPlusBaseline, kOnlyListed };

// One figure: a statistic of measured samples beside the same statistic of the baseline's, and
// its target, from which both the target's text and the verdict come.
struct Row {
    std::string figure;
    Stat stat;
    std::string samples, baseline;  // names in Measurements; "" for no baseline
    Unit unit;
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

inline std::string Number(double value, int decimals) {
    char text[64];
    snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

// "KERNEL32.dll" is shown as "KERNEL32".
inline std::string ShortNames(const std::vector<std::string>& dlls) {
    std::string text;
    for (const std::string& dll : dlls)
        text += (text.empty() ? "" : " ") + dll.substr(0, dll.find(".dll"));
    return text;
}

// The cells of a row: measured value, baseline, target, result.
inline std::vector<std::string> Judge(const Row& row, const Samples& m, const Samples* baseline) {
    const char* const units[] = {" ms", " KiB", " B", ""};
    const char* unit = units[static_cast<int>(row.unit)];
    const int percent = row.stat == Stat::kMedian ? 50 : row.stat == Stat::kP95 ? 95 : 100;
    auto value = [&](const Samples& s) {
        return Percentile(s.values, percent) / (row.unit == Unit::kKiB ? 1024 : 1);
    };
    auto shown = [&](const Samples& s) {
        if (row.stat == Stat::kWords) return ShortNames(s.words);
        const bool tenths = row.unit == Unit::kMs && row.stat != Stat::kRange;
        std::string text = Number(value(s), tenths ? 1 : 0) + unit;
        return row.stat == Stat::kRange ? Number(Percentile(s.values, 0), 0) + "-" + text : text;
    };
    const double v = value(m), base = baseline ? value(*baseline) : 0;
    const std::string bound = Number(row.bound, row.bound == static_cast<int>(row.bound) ? 0 : 1);
    std::string target = "-", ratio;
    bool met = false;
    switch (row.check) {
        case Check::kInfo:
            break;
        case Check::kAtMost:
            met = v <= row.bound;
            target = "<= " + bound + unit;
            break;
        case Check::kBelow:
            met = v < row.bound;
            target = "< " + bound + unit;
            break;
        case Check::kTimesBaseline:
            met = baseline && v <= row.bound * base;
            target = "<= " + bound + " x baseline";
            ratio = " (x" + Number(v / base, 2) + ")";
            break;
        case Check::kPlusBaseline:
            met = baseline && v <= base + row.bound;
            target = "<= baseline + " + bound + unit;
            break;
        case Check::kOnlyListed:
            met = !m.words.empty();
            for (const std::string& word : m.words) {
                met = met && std::any_of(row.listed.begin(), row.listed.end(), [&](auto& allowed) {
                          return lstrcmpiA(allowed.c_str(), word.c_str()) == 0;
                      });
            }
            target = ShortNames(row.listed) + " only";
            break;
    }
    const char* result = row.check == Check::kInfo ? "info" : met ? "met" : "MISSED";
    return {shown(m) + ratio, baseline ? shown(*baseline) + row.baselineNote : "-", target, result};
}

// Prints the rows whose samples were measured as one table on standard output.
inline void PrintTable(const std::vector<Row>& rows, const Measurements& measured) {
    std::vector<std::vector<std::string>> lines = {
        {"Figure", "Measured", "Baseline", "Target", "Result"}};
    for (const Row& row : rows) {
        if (!measured.count(row.samples)) continue;
        auto baseline = measured.find(row.baseline);
        lines.push_back(Judge(row, measured.at(row.samples),
                              baseline == measured.end() ? nullptr : &baseline->second));
        lines.back().insert(lines.back().begin(), row.figure);
    }
    size_t widths[5] = {}, total = 8;
    for (size_t i = 0; i < 5; ++i) {
        for (const auto& line : lines)
            widths[i] = std::max(widths[i], line[i].size());
        total += widths[i];
    }
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string text;
        for (size_t i = 0; i < 5; ++i)
            text += lines[n][i] + std::string(i < 4 ? widths[i] - lines[n][i].size() + 2 : 0, ' ');
        printf("%s\n", n == 0 ? (text + "\n" + std::string(total, '-')).c_str() : text.c_str());
    }
    fflush(stdout);
}
