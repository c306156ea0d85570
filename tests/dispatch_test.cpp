// Command dispatch through real hidden controls and the real link: the bytes the interpreter
// reads, the history, the window's own words, and an input side that never blocks.
#include <gtest/gtest.h>

#include "link.h"
#include "test_support.h"

namespace {

const char kReady[] = "FAKE READY\r\n";
int g_closeRequests;
int g_earlyPasses;  // passes brought by the second timer, which run the link as the window does

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        ++g_closeRequests;
        return 0;
    }
    if (message == WM_TIMER && wParam == kPumpAgainTimer) {
        ++g_earlyPasses;
        FlushInput();
        OutputPump();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = RecordingWindowProc;
        windowClass.lpszClassName = "VarnelTestMain";
        RegisterClassA(&windowClass);
        g_mainWindow = CreateWindowExA(0, "VarnelTestMain", "main", WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, nullptr, nullptr);
        g_outputPane = MakePane();
        g_commandCombo = CreateWindowExA(0, "COMBOBOX", "", WS_POPUP | WS_VSCROLL | CBS_DROPDOWN, 0,
                                         0, 600, 200, nullptr, nullptr, nullptr, nullptr);
        g_entryField = GetWindow(g_commandCombo, GW_CHILD);
        g_closeRequests = 0;
        g_earlyPasses = 0;
        SetComspec(run.Comspec(startup).c_str());
        ASSERT_EQ(SpawnInterpreter(), 1);
        ASSERT_TRUE(RunLinkUntil([&] { return PaneText(g_outputPane) == kReady; }));
    }
    void TearDown() override {
        if (g_inputWrite) StopInterpreter();
        DestroyWindow(g_commandCombo);
        DestroyWindow(g_outputPane);
        DestroyWindow(g_mainWindow);
        g_mainWindow = g_outputPane = g_commandCombo = g_entryField = nullptr;
    }
    void Enter(const std::string& text) {
        SendMessageA(g_entryField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        CommandDispatch(g_entryField);
    }
    // Waits until the interpreter has read `bytes` in all, then gives it a moment to read more.
    std::string InputAfter(size_t bytes) {
        RunLinkUntil([&] { return run.Input().size() >= bytes; });
        RunLinkUntil([] { return false; }, 200);
        return run.Input();
    }
    std::vector<std::string> History() {
        std::vector<std::string> entries;
        int count = static_cast<int>(SendMessageA(g_commandCombo, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[512];
            SendMessageA(g_commandCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }
    std::string Entry() { return PaneText(g_entryField); }

    std::vector<std::string> startup;
    FakeRun run{"dispatch"};
};

TEST_F(DispatchTest, TypedLinesArriveAsOemTextAndCrLf) {
    Enter("dir");
    Enter("echo caf\xE9");  // "é" in the ANSI page 1252 is 0x82 in the OEM page 437
    Enter("");
    Enter(" cls");
    Enter("cls x");
    Enter("exit x");
    const std::string expected = "dir\r\necho caf\x82\r\n\r\n cls\r\ncls x\r\nexit x\r\n";
    EXPECT_EQ(InputAfter(expected.size()), expected);
    EXPECT_EQ(Entry(), "");
    // The history keeps the ANSI text, and never the empty line.
    EXPECT_EQ(History(),
              (std::vector<std::string>{"dir", "echo caf\xE9", " cls", "cls x", "exit x"}));
    EXPECT_EQ(g_closeRequests, 0);
    // The typed line is never echoed into the pane.
    EXPECT_EQ(PaneText(g_outputPane), std::string(kReady) + "caf\x82\r\n");
}

// The longest line goes whole; a longer one is never sent cut: it stays in the entry field with
// its excess selected, and the history does not take it.
TEST_F(DispatchTest, LongestLineIs259CharactersAnd261Bytes) {
    std::string longest(259, 'x');
    Enter(longest + "yyyy");
    EXPECT_EQ(Entry(), longest + "yyyy");
    auto selection = static_cast<DWORD>(SendMessageA(g_entryField, EM_GETSEL, 0, 0));
    EXPECT_EQ(LOWORD(selection), 259);
    EXPECT_EQ(HIWORD(selection), 263);
    EXPECT_TRUE(History().empty());
    Enter(longest);
    EXPECT_EQ(InputAfter(261), longest + "\r\n");
    EXPECT_EQ(History(), std::vector<std::string>{longest});
}

TEST_F(DispatchTest, ClsInAnyCaseEmptiesThePaneAndSendsAnEmptyLine) {
    ShowWindow(g_outputPane, SW_SHOWNA);
    for (const char* word : {"CLS", "Cls", "cls"}) {
        Enter("echo before " + std::string(word));
        ASSERT_TRUE(
            RunLinkUntil([&] { return PaneText(g_outputPane).find(word) != std::string::npos; }));
        Enter(word);
        EXPECT_EQ(PaneText(g_outputPane), "") << word;
        EXPECT_EQ(Entry(), "");
    }
    const std::string expected =
        "echo before CLS\r\n\r\necho before Cls\r\n\r\necho before cls\r\n\r\n";
    EXPECT_EQ(InputAfter(expected.size()), expected);
    // One history entry for all spellings: the first.
    EXPECT_EQ(History(), (std::vector<std::string>{"echo before CLS", "CLS"}));
    // Drawing is not left switched off until the interpreter writes again.
    EXPECT_NE(GetWindowLongPtrA(g_outputPane, GWL_STYLE) & WS_VISIBLE, 0);
}

TEST_F(DispatchTest, ExitInAnyCaseRequestsCloseAndWritesNothing) {
    Enter("eXiT");
    EXPECT_EQ(g_closeRequests, 1);
    EXPECT_EQ(Entry(), "");
    Enter("EXIT");
    EXPECT_EQ(g_closeRequests, 2);
    EXPECT_EQ(History(), (std::vector<std::string>{"eXiT"}));
    Enter("echo after");
    EXPECT_EQ(InputAfter(12), "echo after\r\n");
}

TEST_F(DispatchTest, HistoryIsDistinctIgnoringCaseInOrderOfEntry) {
    for (const char* line : {"dir", "ver", "DIR", "cls", "exit", "Ver", "a", "dir", "b"}) {
        Enter(line);
    }
    EXPECT_EQ(History(), (std::vector<std::string>{"dir", "ver", "cls", "exit", "a", "b"}));
}

// This window has no tick of its own: after a line is sent, passes come early through the second
// timer until the answer has been read, even when it is a while coming; then that timer stops.
TEST_F(DispatchTest, EarlyPassesFetchALateAnswerAndThenStop) {
    Enter("sleep 100");
    Enter("echo late");
    DWORD end = GetTickCount() + 3000;
    while (PaneText(g_outputPane).find("late\r\n") == std::string::npos &&
           static_cast<LONG>(GetTickCount() - end) < 0)
        PumpMessages(5);
    ASSERT_NE(PaneText(g_outputPane).find("late\r\n"), std::string::npos)
        << "the early passes did not bring the answer";
    EXPECT_GT(g_earlyPasses, 1);
    PumpMessages(100);
    const int passes = g_earlyPasses;
    PumpMessages(400);
    EXPECT_EQ(g_earlyPasses, passes) << "the early timer kept running after the answer";
}

// A line that brings no answer: the early passes give up after a while.
TEST_F(DispatchTest, EarlyPassesStopWhenNoAnswerComes) {
    Enter("");
    PumpMessages(kEarlyLookMs + 300);
    const int passes = g_earlyPasses;
    EXPECT_GT(passes, 5) << "no early passes while the answer was awaited";
    PumpMessages(400);
    EXPECT_EQ(g_earlyPasses, passes) << "the early timer kept running";
    EXPECT_EQ(PaneText(g_outputPane), kReady);
}

// The interpreter stops reading: lines wait in the queue, nothing blocks, and once it reads
// again every line arrives in order. A line that finds the queue full stays in the entry field.
class StalledDispatchTest : public DispatchTest {
protected:
    StalledDispatchTest() { startup = {"sleep 3000"}; }
};

TEST_F(StalledDispatchTest, LinesWaitInTheQueueWithoutBlockingAndArriveInOrder) {
    std::string expected;
    DWORD slowest = 0;
    int accepted = 0;
    for (int i = 0; i < 400; ++i) {
        char line[300];
        wsprintfA(line, "echo %04d %s", i, std::string(240, 'q').c_str());
        DWORD start = GetTickCount();
        Enter(line);
        DWORD took = GetTickCount() - start;
        if (took > slowest) slowest = took;
        if (Entry().empty()) {
            ++accepted;
            expected += std::string(line) + "\r\n";
        } else {
            // Full: the text stays for another Enter, and the history does not take it.
            EXPECT_EQ(Entry(), line);
            EXPECT_EQ(History().size(), static_cast<size_t>(accepted));
            break;
        }
    }
    EXPECT_LT(slowest, 100u) << "a write waited for the interpreter";
    EXPECT_GT(accepted, 200);  // 64 KiB of lines fit
    EXPECT_LT(accepted, 400) << "the queue never filled";
    EXPECT_EQ(InputAfter(expected.size()), expected);
}

class SlowDispatchTest : public DispatchTest {
protected:
    SlowDispatchTest() { startup = {"sleep 400"}; }
};

// Closing while lines wait: the stop line goes behind them, and they are written during the
// second that the stop allows.
TEST_F(SlowDispatchTest, StopLineFollowsTheQueuedLines) {
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        std::string line = "echo queued " + std::to_string(i) + " " + std::string(100, 'z');
        Enter(line);
        expected += line + "\r\n";
    }
    ASSERT_GT(QueuedInput(), 0u) << "nothing waited in the queue";
    StopInterpreter();
    EXPECT_EQ(InputAfter(expected.size() + 6), expected + "exit\r\n");
}

}  // namespace
