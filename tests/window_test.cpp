// The shipped executable end to end: varnel.exe started as a user would, with the stand-in
// interpreter (or Wine's cmd.exe) as COMSPEC, driven through its window from this process.
#include <gtest/gtest.h>

#include "test_support.h"
#include "window_driver.h"

namespace {

const char kReady[] = "FAKE READY\r\n";

class WindowTest : public ::testing::Test {
protected:
    void Start(const std::vector<std::string>& startup = {}) {
        ASSERT_TRUE(varnel.Start(run.Comspec(startup).c_str()));
        ASSERT_TRUE(varnel.WaitForWindow());
    }
    bool PaneShows(const std::string& text, int timeoutMs = 10000) {
        return WaitFor([&] { return varnel.Pane().find(text) != std::string::npos; }, timeoutMs);
    }
    FakeRun run{"window"};
    VarnelProcess varnel;
};

TEST_F(WindowTest, TypedLineArrivesExactlyAndTheAnswerIsShown) {
    Start();
    ASSERT_TRUE(PaneShows(kReady));
    varnel.Type("echo hello from varnel");
    ASSERT_TRUE(PaneShows("hello from varnel\r\n")) << varnel.Pane();
    EXPECT_EQ(run.Input(), "echo hello from varnel\r\n");
    EXPECT_EQ(varnel.Pane(), std::string(kReady) + "hello from varnel\r\n");
    EXPECT_EQ(varnel.EntryText(), "");
}

TEST_F(WindowTest, ExitIsSentOnceAndTheProgramEndsWithZero) {
    Start();
    ASSERT_TRUE(PaneShows(kReady));
    double start = NowMs();
    varnel.Type("Exit");
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    double took = NowMs() - start;
    EXPECT_GE(took, 900.0);
    EXPECT_LT(took, 3000.0);
    EXPECT_EQ(run.Input(), "exit\r\n");
}

TEST_F(WindowTest, CloseBoxSendsExitOnceAndEndsWithZero) {
    Start();
    ASSERT_TRUE(PaneShows(kReady));
    PostMessageA(varnel.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    EXPECT_EQ(run.Input(), "exit\r\n");
}

}  // namespace
