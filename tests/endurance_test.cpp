// The shipped executable under bad input and long runs: random byte streams, endless lines,
// thousands of commands, interpreters that stall or die, and handles over time.
#include <gtest/gtest.h>

#include "splitmix.h"
#include "window_fixture.h"

namespace {

class EnduranceTest : public VarnelWindowTest {
protected:
    EnduranceTest() : VarnelWindowTest("endurance") {}

    // The pane holds `full` (without its zero bytes), or its tail once the scrollback applies.
    void ExpectPaneHolds(const std::string& full, const std::string& context) {
        const size_t scrollbackKeep = 256 * 1024, scrollbackMax = 320 * 1024;
        std::string text = varnel.Pane();
        if (full.size() <= scrollbackKeep) {
            EXPECT_EQ(text.size(), full.size()) << context;
            EXPECT_TRUE(text == full) << context;
            return;
        }
        // Output beyond the scrollback keeps its newest part, less what goes with whole lines
        // (those of a random stream are long: CR LF comes once in 64 KiB); a flood keeps at least
        // its newest backlog.
        EXPECT_LE(text.size(), scrollbackMax) << context;
        const size_t least = full.size() <= 1024 * 1024 ? scrollbackKeep / 2 : 60 * 1024;
        EXPECT_GE(text.size(), least) << context;
        ASSERT_LE(text.size(), full.size()) << context;
        EXPECT_TRUE(full.compare(full.size() - text.size(), text.size(), text) == 0)
            << context << ": the pane is not the tail of the output";
    }
};

TEST_F(EnduranceTest, RandomByteStreamsAreShownExactlyWithoutTheirZeroBytes) {
    const uint64_t seeds[] = {1, 20261209, static_cast<uint64_t>(GetTickCount64())};
    const size_t sizes[] = {90000, 250000, 600000};
    Start();
    ASSERT_TRUE(PaneEndsWith(kGreeting));
    std::string full;
    for (int i = 0; i < 3; ++i) {
        std::string context =
            "seed " + std::to_string(seeds[i]) + " size " + std::to_string(sizes[i]);
        varnel.TypeAndWait("cls");
        varnel.TypeAndWait("rand " + std::to_string(seeds[i]) + " " + std::to_string(sizes[i]));
        varnel.TypeAndWait("echo END-OF-RANDOM");
        ASSERT_TRUE(PaneEndsWith("END-OF-RANDOM\r\n")) << context;
        std::string stream;
        RandomStream(seeds[i], sizes[i], stream);
        full.clear();
        for (char c : stream) {
            if (c != '\0') full += c;
        }
        full += "END-OF-RANDOM\r\n";
        ExpectPaneHolds(full, context);
    }
}

TEST_F(EnduranceTest, LinesWithoutAnyBreakAreShown) {
    Start();
    ASSERT_TRUE(PaneEndsWith(kGreeting));
    varnel.TypeAndWait("cls");
    varnel.TypeAndWait("flood 500000 250000");
    ASSERT_TRUE(PaneEndsWith(kFloodEnd));
    ExpectPaneHolds(FloodText(500000, 250000) + kFloodEnd, "two lines of 250000 bytes");
}

TEST_F(EnduranceTest, ThousandsOfCommandsArriveInOrderAndTheHistoryKeepsFirstSpellings) {
    Start();
    ASSERT_TRUE(PaneEndsWith(kGreeting));
    std::string expected;
    std::vector<std::string> history;
    for (int i = 0; i < 2000; ++i) {
        // 150 distinct commands, each typed in three spellings.
        int k = (i * 7) % 150;
        std::string word = i % 3 == 0 ? "ECHO" : (i % 3 == 1 ? "echo" : "Echo");
        std::string line = word + " command " + std::to_string(k);
        varnel.TypeAndWait(line);
        expected += line + "\r\n";
        bool known = false;
        for (const std::string& h : history) {
            known = known || lstrcmpiA(h.c_str(), line.c_str()) == 0;
        }
        if (!known) history.push_back(line);
    }
    ASSERT_TRUE(WaitFor([&] { return run.Input().size() >= expected.size(); }));
    EXPECT_TRUE(run.Input() == expected) << "lines lost or out of order";
    EXPECT_EQ(varnel.History(), history);
    EXPECT_TRUE(PaneEndsWith("command " + std::to_string((1999 * 7) % 150) + "\r\n"));
}

TEST_F(EnduranceTest, InterpreterDyingInTheMiddleOfAFloodHasAllItsOutputShown) {
    Start({"flood 1000000", "echo last words", "exit 3"});
    ASSERT_TRUE(PaneEndsWith(std::string(kFloodEnd) + "last words\r\n"));
    // The window stays usable; lines for the dead interpreter go nowhere, quietly.
    EXPECT_TRUE(varnel.Type("echo anyone there"));
    EXPECT_TRUE(varnel.Type("dir"));
    EXPECT_EQ(varnel.History(), (std::vector<std::string>{"echo anyone there", "dir"}));
    EXPECT_GE(varnel.RoundTripMs(), 0);
    varnel.Close();
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

TEST_F(EnduranceTest, InterpreterExitingAtOnceLeavesAUsableWindow) {
    Start({"exit 0"});
    ASSERT_TRUE(PaneEndsWith(kGreeting));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(varnel.Type("echo " + std::to_string(i)));
    EXPECT_EQ(varnel.History().size(), 50u);
    EXPECT_GE(varnel.RoundTripMs(), 0);
    EXPECT_EQ(varnel.Pane(), kGreeting);
    varnel.Type("exit");
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

TEST_F(EnduranceTest, LastLineWithoutLineEndIsShown) {
    Start({"echo first", "tail no line end"});
    ASSERT_TRUE(PaneEndsWith("no line end"));
    EXPECT_EQ(varnel.Pane(), std::string(kGreeting) + "first\r\nno line end");
}

TEST_F(EnduranceTest, HandleCountStaysLevelOverCommandsAndFloods) {
    Start();
    ASSERT_TRUE(PaneEndsWith(kGreeting));
    varnel.TypeAndWait("echo warm up");
    varnel.TypeAndWait("flood 100000");
    ASSERT_TRUE(PaneEndsWith(kFloodEnd));
    DWORD before = RemoteHandleCount(varnel.info.hProcess);
    ASSERT_GT(before, 0u);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 100; ++i)
            varnel.TypeAndWait("echo round " + std::to_string(i));
        varnel.TypeAndWait("flood 1000000");
        varnel.TypeAndWait("cls");
        varnel.TypeAndWait("echo done " + std::to_string(round));
        ASSERT_TRUE(PaneEndsWith("done " + std::to_string(round) + "\r\n"));
    }
    DWORD after = RemoteHandleCount(varnel.info.hProcess);
    EXPECT_LE(after, before + 2) << "before " << before;
    EXPECT_GE(after + 2, before);
}

}  // namespace
