// Command dispatch through real hidden controls and the real link: the bytes the interpreter
// reads, the history, the window's own words, and an input side that never blocks.
#include "link_fixture.h"
#include "window_driver.h"

namespace {

class DispatchTest : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        Launch(startup);
        ASSERT_TRUE(RunLinkUntil([&] { return Pane() == kGreeting; }));
    }
    std::vector<std::string> startup;
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
    EXPECT_EQ(closeRequests, 0);
    // The typed line is never echoed into the pane.
    EXPECT_EQ(Pane(), std::string(kGreeting) + "caf\x82\r\n");
}

// The longest line goes whole; a longer one is never sent cut: it stays in the entry field with
// its excess selected, and the history does not take it.
TEST_F(DispatchTest, LongestLineIs259CharactersAnd261Bytes) {
    std::string longest(259, 'x');
    Enter(longest + "yyyy");
    EXPECT_EQ(Entry(), longest + "yyyy");
    auto selection = static_cast<DWORD>(SendMessageA(entry, EM_GETSEL, 0, 0));
    EXPECT_EQ(LOWORD(selection), 259);
    EXPECT_EQ(HIWORD(selection), 263);
    EXPECT_TRUE(History().empty());
    Enter(longest);
    EXPECT_EQ(InputAfter(261), longest + "\r\n");
    EXPECT_EQ(History(), std::vector<std::string>{longest});
}

TEST_F(DispatchTest, ClsInAnyCaseEmptiesThePaneAndSendsAnEmptyLine) {
    ShowWindow(windows.pane, SW_SHOWNA);
    for (const char* word : {"CLS", "Cls", "cls"}) {
        Enter("echo before " + std::string(word));
        ASSERT_TRUE(RunLinkUntil([&] { return Pane().find(word) != std::string::npos; }));
        Enter(word);
        EXPECT_EQ(Pane(), "") << word;
        EXPECT_EQ(Entry(), "");
    }
    const std::string expected =
        "echo before CLS\r\n\r\necho before Cls\r\n\r\necho before cls\r\n\r\n";
    EXPECT_EQ(InputAfter(expected.size()), expected);
    // One history entry for all spellings: the first.
    EXPECT_EQ(History(), (std::vector<std::string>{"echo before CLS", "CLS"}));
    // Drawing is not left switched off until the interpreter writes again.
    EXPECT_NE(GetWindowLongPtrA(windows.pane, GWL_STYLE) & WS_VISIBLE, 0);
}

TEST_F(DispatchTest, ExitInAnyCaseRequestsCloseAndWritesNothing) {
    Enter("eXiT");
    EXPECT_EQ(closeRequests, 1);
    EXPECT_EQ(Entry(), "");
    Enter("EXIT");
    EXPECT_EQ(closeRequests, 2);
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

// This window has no steady tick: only the passes that the link asks for itself after a line
// bring the answer, even one that is a while coming. Once it has come, or when none comes, those
// passes stop: an idle window is not woken.
TEST_F(DispatchTest, AnswerComingLaterIsFetchedWithoutATickAndThenTheWindowRests) {
    Enter("sleep 100");
    Enter("echo late");
    EXPECT_TRUE(WaitFor(
        [&] {
            PumpMessages(0);
            return Pane().find("late\r\n") != std::string::npos;
        },
        3000))
        << "no pass brought the answer";
    for (const char* line : {"echo again", ""}) {
        Enter(line);
        PumpMessages(1000);
        const int before = ticks;
        PumpMessages(500);
        EXPECT_LE(ticks - before, 1) << "the window is still woken after \"" << line << "\"";
    }
    EXPECT_EQ(Pane(), std::string(kGreeting) + "late\r\nagain\r\n");
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
    ASSERT_LT(run.Input().size(), expected.size()) << "nothing waited in the queue";
    Stop();
    EXPECT_EQ(InputAfter(expected.size() + 6), expected + "exit\r\n");
}

}  // namespace
