// The fixture of the tests that drive the shipped executable: a run of the stand-in interpreter,
// and varnel.exe started with it as COMSPEC.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stand_in.h"
#include "test_support.h"
#include "window_driver.h"

class VarnelWindowTest : public ::testing::Test {
protected:
    explicit VarnelWindowTest(const char* name) : run(name) {}

    // Starts varnel.exe; each word of `startup` is a command the stand-in runs first.
    void Start(const std::vector<std::string>& startup = {}) {
        ASSERT_TRUE(varnel.Start(run.Comspec(startup).c_str()));
        ASSERT_TRUE(varnel.WaitForWindow());
    }
    bool PaneShows(const std::string& text, int timeoutMs = 10000) {
        return WaitFor([&] { return varnel.Pane().find(text) != std::string::npos; }, timeoutMs);
    }
    bool PaneEndsWith(const std::string& tail, int timeoutMs = 20000) {
        return WaitFor(
            [&] {
                std::string text = varnel.Pane();
                return text.size() >= tail.size() &&
                       text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
            },
            timeoutMs);
    }

    FakeRun run;
    VarnelProcess varnel;
};
