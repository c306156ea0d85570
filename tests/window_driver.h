// Drives a running varnel.exe from another process, as a user would, through its window.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

struct VarnelProcess {
    PROCESS_INFORMATION info{};
    HWND dialog = nullptr;  // the "Varnel" main window
    HWND pane = nullptr;    // the output pane
    HWND combo = nullptr;   // the command combo box
    HWND entry = nullptr;   // its entry field

    // Starts `exe` (varnel.exe beside the test by default) with COMSPEC set to `comspec` (or
    // unset when null) in its environment. Returns false if the process could not start.
    bool Start(const char* comspec, const std::string& exe = std::string());
    // Waits for the main window and looks up its controls.
    bool WaitForWindow(int timeoutMs = 10000);
    // Types a line into the entry field and presses Enter; true once the field has taken it.
    bool Type(const std::string& text) const;
    // The same, with the key sent rather than posted: returns when the line has been handled.
    void TypeAndWait(const std::string& text) const;
    std::string Pane() const;
    std::string EntryText() const;
    std::vector<std::string> History() const;
    // The selection of one of its edit controls (the pane or the entry field): {start, end}.
    std::pair<int, int> Selection(HWND control) const;
    // Waits for the process to end and returns its exit code, or STILL_ACTIVE on timeout.
    DWORD WaitForExit(int timeoutMs = 10000) const;
    // Round trip of a message to the window, in milliseconds (-1 on timeout).
    double RoundTripMs(int timeoutMs = 5000) const;
    void Close() const;  // posts WM_CLOSE
    ~VarnelProcess();
};

// Milliseconds of a monotonic clock shared by all processes under Wine.
double NowMs();

// Waits until `done` holds or `timeoutMs` passes; checks every few milliseconds.
template <typename F>
bool WaitFor(F done, int timeoutMs = 10000) {
    double end = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > end) return false;
        Sleep(5);
    }
    return true;
}

// Handles open in another process: the handle values that can be duplicated from it. (Wine's
// GetProcessHandleCount reports 0; its handle values are small multiples of 4.)
DWORD RemoteHandleCount(HANDLE process);
