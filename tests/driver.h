// Drives varnel.exe and the stand-in interpreter from another process, as a user would: through
// the window, and through the stand-in's record of what it read. Shared by the tests, the
// benchmark and the demo.
#pragma once

#include <windows.h>

#include <stdio.h>

#include <string>
#include <utility>
#include <vector>

// The directory of the running program, where varnel.exe and fake_interpreter.exe are.
std::string BuildDir();

// Milliseconds of a clock that all processes share under Wine.
double NowMs();

// Waits until `done` holds, checking every few milliseconds, for at most `timeoutMs`. On giving
// up it says on standard error what it waited for, and returns false.
template <typename F>
bool WaitFor(const char* what, F done, int timeoutMs = 5000) {
    const double end = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > end) {
            fprintf(stderr, "gave up after %d ms waiting for %s\n", timeoutMs, what);
            return false;
        }
        Sleep(5);
    }
    return true;
}

std::string ReadWholeFile(const std::string& path);

// The top-level windows of a class that a process owns, and a window's text.
std::vector<HWND> TopLevelWindows(DWORD processId, const char* className);
std::string WindowTextOf(HWND window);

// A control's text and a combo box's list, asked of the control, in this process or another.
std::string ControlText(HWND control);
std::vector<std::string> ComboItems(HWND combo);
// An edit control's selection, as EM_GETSEL answers it (positions below 65,536).
std::pair<int, int> Selection(HWND control);

bool EndsWith(const std::string& text, const std::string& tail);

// One run of the stand-in interpreter: where its records go. It logs every byte it reads to
// Input() and its notable moments to Events() (see fake_interpreter.cpp); both go with the run.
class FakeRun {
public:
    explicit FakeRun(const char* name);
    ~FakeRun();
    FakeRun(const FakeRun&) = delete;
    FakeRun& operator=(const FakeRun&) = delete;

    // COMSPEC for this run; each extra word is a command the stand-in runs first.
    std::string Comspec(const std::vector<std::string>& startup = {}) const;
    std::string Input() const;
    std::string Events() const;
    // The numbers of the event lines that start with the word `name`, one list per line.
    std::vector<std::vector<double>> EventsNamed(const std::string& name) const;
    const std::string& Base() const { return base_; }  // the records' path, without extension

private:
    std::string base_;
};

// A running varnel.exe and the controls of its window. Ended at the latest when this goes; like
// FakeRun, it owns what it names and cannot be copied.
class VarnelProcess {
public:
    VarnelProcess() = default;
    ~VarnelProcess();
    VarnelProcess(const VarnelProcess&) = delete;
    VarnelProcess& operator=(const VarnelProcess&) = delete;

    // Starts varnel.exe with COMSPEC set to `comspec` (or unset when null) in its environment.
    bool Start(const char* comspec);
    // Waits for the main window and looks up its controls.
    bool WaitForWindow(int timeoutMs = 10000);
    // Puts a line into the entry field and presses Enter; true once the field has taken it.
    bool Type(const std::string& text) const;
    // The same, with the key sent: returns once the line has been handled.
    void TypeAndWait(const std::string& text) const;
    std::string Pane() const { return ControlText(pane); }
    std::string EntryText() const { return ControlText(entry); }
    std::vector<std::string> History() const { return ComboItems(combo); }
    // Waits for the process to end; its exit code, or STILL_ACTIVE on timeout.
    DWORD WaitForExit(int timeoutMs = 5000) const;
    // A message's round trip to the window, in milliseconds (-1 on timeout).
    double RoundTripMs(int timeoutMs = 5000) const;
    void Close() const;  // posts WM_CLOSE

    PROCESS_INFORMATION info{};
    HWND dialog = nullptr;  // the "Varnel" main window
    HWND pane = nullptr;
    HWND combo = nullptr;
    HWND entry = nullptr;  // the combo box's entry field
};
