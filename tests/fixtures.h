// What only the tests need: the link driven inside the test program, varnel.exe driven from
// outside, and a few helpers of this process.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "link.h"
#include "stand_in.h"

// Sets or (with nullptr) removes COMSPEC in this process.
void SetComspec(const char* value);

// The platform's text for an error code, without its line end.
std::string SystemText(DWORD error);

// The handles open in a process, this one included. (Wine's GetProcessHandleCount reports 0; its
// handle values are small multiples of 4, so the ones that can be duplicated are counted.)
DWORD HandleCount(HANDLE process);

// Puts `text` on the clipboard as Unicode text, owned by `owner`, a window of this process.
bool PutOnClipboard(HWND owner, const std::wstring& text);

// Records and dismisses the message boxes of this process, from a thread of its own.
class BoxWatcher {
public:
    struct Box {
        std::string caption;
        std::string text;
    };
    BoxWatcher();
    ~BoxWatcher() { Stop(); }
    BoxWatcher(const BoxWatcher&) = delete;
    BoxWatcher& operator=(const BoxWatcher&) = delete;
    std::vector<Box> Stop();  // the boxes seen

private:
    std::atomic<bool> stop_{false};
    std::vector<Box> boxes_;
    std::thread thread_;
};

// Replaces, in this program's import table, a function imported from kernel32.dll with
// `replacement` while it lives: a way to make a call fail that real conditions cannot.
class ImportPatch {
public:
    ImportPatch(const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// The link inside the test program, on hidden windows shaped like the console window's, with the
// stand-in as COMSPEC. The main window counts close requests, and runs a tick of the link for
// each timer as the console dialog does; it has no steady tick of its own.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void Launch(const std::vector<std::string>& startup = {});
    void Stop();  // StopInterpreter, once
    // Puts `text` into the entry field and presses Enter.
    void Enter(const std::string& text);
    std::string Pane() const { return ControlText(windows.pane); }
    std::string Entry() const { return ControlText(entry); }
    std::vector<std::string> History() const { return ComboItems(windows.history); }
    // Runs ticks of the link and this thread's messages until `done` holds.
    bool RunUntil(const char* what, const std::function<bool()>& done, int timeoutMs = 5000);
    bool ShowsAtEnd(const std::string& tail, int timeoutMs = 5000);
    // Waits until the interpreter has read `bytes` in all, then a moment more for anything extra.
    std::string InputAfter(size_t bytes);

    FakeRun run{"link"};
    LinkWindows windows{};
    HWND entry = nullptr;
    bool running = false;

public:
    static int closeRequests;  // WM_CLOSE messages the main window has had
    static int ticks;          // and timer messages
};

// Handles this thread's messages for `ms` milliseconds.
void PumpMessages(int ms);

// varnel.exe with the stand-in as COMSPEC, driven through its window.
class VarnelTest : public ::testing::Test {
protected:
    // Starts varnel.exe and waits for the greeting; each word of `startup` is a command the
    // stand-in runs first.
    void Start(const std::vector<std::string>& startup = {});
    bool PaneShows(const std::string& text, int timeoutMs = 5000);
    bool PaneEndsWith(const std::string& tail, int timeoutMs = 5000);

    FakeRun run{"window"};
    VarnelProcess varnel;
};
