// The link driven inside the test program: hidden windows shaped like the console window's, and
// the stand-in interpreter as COMSPEC. The main window records close requests and runs a tick of
// the link for each of its timers, as the console dialog does; it has no steady tick of its own.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link.h"
#include "stand_in.h"
#include "test_support.h"

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the stand-in; each word of `startup` is a command it runs first.
    void Launch(const std::vector<std::string>& startup = {});
    // Stops the interpreter (StopInterpreter), once.
    void Stop();
    // Puts `text` into the entry field and presses Enter.
    void Enter(const std::string& text);
    std::string Pane() const { return PaneText(windows.pane); }
    std::string Entry() const { return PaneText(entry); }
    std::vector<std::string> History() const;
    bool PaneEndsWith(const std::string& tail) const;
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
