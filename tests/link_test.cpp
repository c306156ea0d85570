// The interpreter link against real pipes and a real child: the stand-in interpreter, and
// Wine's own cmd.exe.
#include <gtest/gtest.h>

#include "link.h"
#include "splitmix.h"
#include "test_support.h"

namespace {

const char kReady[] = "FAKE READY\r\n";

// A launched stand-in interpreter with a hidden pane; stopped at the end if still running.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { g_outputPane = MakePane(); }
    void TearDown() override {
        if (g_inputWrite) StopInterpreter();
        DestroyWindow(g_outputPane);
        g_outputPane = nullptr;
    }
    void Launch(const FakeRun& run, const std::vector<std::string>& startup = {}) {
        SetComspec(run.Comspec(startup).c_str());
        ASSERT_EQ(SpawnInterpreter(), 1);
        ASSERT_TRUE(g_inputWrite != nullptr && g_outputRead != nullptr);
    }
    void Send(const std::string& bytes) {
        ASSERT_TRUE(QueueInput(bytes.data(), static_cast<DWORD>(bytes.size())));
    }
    std::string Pane() const { return PaneText(g_outputPane); }
    // No output read and waiting to be shown, and none pending in the pipe.
    bool PaneSettled() const {
        DWORD available = 0;
        PeekNamedPipe(g_outputRead, nullptr, 0, nullptr, &available, nullptr);
        return available == 0 && !OutputPending();
    }
    bool PaneEndsWith(const std::string& tail) const {
        std::string text = Pane();
        return text.size() >= tail.size() &&
               text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }
};

TEST_F(LinkTest, StopLineIsExactlyExitCrLfAndNoHandleStaysOpen) {
    // The first launch of a process opens handles of Wine's own that stay; count from the second.
    FakeRun warmUp("warmup");
    Launch(warmUp);
    StopInterpreter();

    FakeRun run("stop");
    DWORD before = HandleCount();
    Launch(run);
    // Exactly the two pipe ends are kept: no process or thread handle.
    EXPECT_EQ(HandleCount(), before + 2);
    ASSERT_TRUE(RunLinkUntil([&] { return Pane() == kReady; }));
    StopInterpreter();
    EXPECT_EQ(g_inputWrite, nullptr);
    EXPECT_EQ(g_outputRead, nullptr);
    EXPECT_EQ(run.Input(), "exit\r\n");
    EXPECT_EQ(HandleCount(), before);
}

TEST_F(LinkTest, StopTakesAboutOneSecond) {
    FakeRun run("stoptime");
    Launch(run);
    DWORD start = GetTickCount();
    StopInterpreter();
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 950u);
    EXPECT_LT(took, 2000u);
}

TEST_F(LinkTest, StandardOutputAndErrorArriveInOrderInOnePane) {
    FakeRun run("order");
    Launch(run);
    Send("echo one\r\nerr two\r\necho three\r\nerr four\r\n");
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith("four\r\n"); })) << Pane();
    EXPECT_EQ(Pane(), std::string(kReady) + "one\r\ntwo\r\nthree\r\nfour\r\n");
}

TEST_F(LinkTest, ZeroBytesAreDroppedAndNothingElse) {
    FakeRun run("zeros");
    Launch(run);
    Send("hex 41 00 42 00 00 43 0D 0A 00 FF 80 0A 0D\r\necho end\r\n");
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith("end\r\n"); })) << Pane();
    EXPECT_EQ(Pane(), std::string(kReady) + "ABC\r\n\xFF\x80\n\rend\r\n");
}

TEST_F(LinkTest, OutputBeyondThirtyThousandCharactersIsStillShown) {
    FakeRun run("limit");
    Launch(run);
    for (int i = 1; i <= 3; ++i) {
        Send("flood 40000\r\necho part " + std::to_string(i) + "\r\n");
        ASSERT_TRUE(RunLinkUntil([&] {
            return PaneEndsWith("part " + std::to_string(i) + "\r\n");
        })) << Pane().size();
    }
    EXPECT_EQ(Pane().size(), sizeof(kReady) - 1 + 3 * (40000 + 11 + 8));
}

// A burst that the scrollback can hold is shown whole, however fast it comes: here all of it is
// in the pipe before the first pass reads it.
TEST_F(LinkTest, RandomStreamIsShownExactlyWithoutItsZeroBytes) {
    FakeRun run("random");
    Launch(run);
    const uint64_t seed = 20261209;
    const size_t size = 250000;
    Send("rand " + std::to_string(seed) + " " + std::to_string(size) +
         "\r\necho END-OF-RANDOM\r\n");
    ASSERT_TRUE(
        RunLinkUntil([&] { return PaneEndsWith("END-OF-RANDOM\r\n") && PaneSettled(); }, 30000))
        << "seed " << seed;
    std::string stream;
    RandomStream(seed, size, stream);
    std::string expected = kReady;
    for (char c : stream) {
        if (c != '\0') expected += c;
    }
    expected += "END-OF-RANDOM\r\n";
    std::string text = Pane();
    ASSERT_EQ(text.size(), expected.size()) << "seed " << seed;
    EXPECT_TRUE(text == expected) << "seed " << seed;
}

// An interpreter that ignores the stop line still ends: the program's own ends are not
// inherited, so closing them is the end of its input.
TEST_F(LinkTest, InterpreterIgnoringExitSeesEndOfInputAfterStop) {
    FakeRun run("inherit");
    Launch(run, {"ignore-exit"});
    ASSERT_TRUE(RunLinkUntil([&] { return Pane() == kReady; }));
    StopInterpreter();
    DWORD end = GetTickCount() + 5000;
    while (run.Events().find("eof") == std::string::npos && GetTickCount() < end)
        Sleep(20);
    EXPECT_NE(run.Events().find("eof"), std::string::npos) << run.Events();
    EXPECT_EQ(run.Input(), "exit\r\n");
}

TEST_F(LinkTest, WineCmdAnswersAnEcho) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    SetComspec((std::string(system) + "\\cmd.exe").c_str());
    ASSERT_EQ(SpawnInterpreter(), 1);
    Send("echo varnel-was-here\r\n");
    ASSERT_TRUE(RunLinkUntil([&] {
        // The typed line is never put into the pane, so the text can only be cmd's answer.
        return Pane().find("varnel-was-here\r\n") != std::string::npos;
    })) << Pane();
}

// Failed launches: one message box with the platform's text and the default caption, and no
// handle left open.
class FailedLaunch : public ::testing::Test {
protected:
    // Runs the launch several times and reports the boxes of the last. The first message box of
    // a process opens handles of Wine's own that stay, and Wine opens one now and then; a handle
    // left by each launch shows as one more per launch.
    std::vector<BoxWatcher::Box> Spawn(int expectedResult = 0) {
        Once(expectedResult);
        DWORD before = HandleCount();
        std::vector<BoxWatcher::Box> boxes;
        for (int i = 0; i < kLaunches; ++i)
            boxes = Once(expectedResult);
        DWORD after = HandleCount();
        newHandles_ = static_cast<int>(after) - static_cast<int>(before);
        return boxes;
    }
    std::vector<BoxWatcher::Box> Once(int expectedResult) {
        BoxWatcher watcher;
        EXPECT_EQ(SpawnInterpreter(), expectedResult);
        PumpMessages(50);
        return watcher.Stop();
    }
    static constexpr int kLaunches = 5;
    int newHandles_ = 0;
};

TEST_F(FailedLaunch, MissingProgram) {
    SetComspec("C:\\no\\such\\interpreter.exe");
    auto boxes = Spawn();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_TRUE(boxes[0].text == SystemText(ERROR_FILE_NOT_FOUND) ||
                boxes[0].text == SystemText(ERROR_PATH_NOT_FOUND))
        << boxes[0].text;
    EXPECT_LT(newHandles_, kLaunches - 2) << "handles left open by each launch";
    EXPECT_EQ(g_inputWrite, nullptr);
}

TEST_F(FailedLaunch, ComspecUnset) {
    SetComspec(nullptr);
    auto boxes = Spawn();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_FALSE(boxes[0].text.empty());
    EXPECT_LT(newHandles_, kLaunches - 2) << "handles left open by each launch";
}

TEST_F(FailedLaunch, ComspecTooLongStartsNothing) {
    // A valid interpreter path padded past the limit: a truncated line must not start it.
    FakeRun run("toolong");
    std::string line = run.Comspec() + std::string(300, ' ') + "x";
    SetComspec(line.c_str());
    auto boxes = Spawn();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, SystemText(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_LT(newHandles_, kLaunches - 2) << "handles left open by each launch";
    Sleep(300);
    EXPECT_EQ(run.Events(), "");  // the interpreter never started
}

TEST(ReportLastError, CodeWithoutTextNamesTheCode) {
    BoxWatcher watcher;
    SetLastError(0x20001234);
    ReportLastError();
    auto boxes = watcher.Stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("0x20001234"), std::string::npos) << boxes[0].text;
}

TEST(ReportLastError, TextWithInsertsIsShownUnfilled) {
    BoxWatcher watcher;
    SetLastError(ERROR_BAD_EXE_FORMAT);
    ReportLastError();
    auto boxes = watcher.Stop();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, SystemText(ERROR_BAD_EXE_FORMAT));
    EXPECT_NE(boxes[0].text.find("%1"), std::string::npos) << boxes[0].text;
}

}  // namespace

namespace {

// The stand-in's flood: line k is k in eight digits, a blank, letters from 'a' on, CR LF.
std::string FloodText(size_t bytes, size_t lineLength = 80) {
    std::string text;
    text.reserve(bytes + lineLength);
    for (size_t line = 0; text.size() < bytes; ++line) {
        char number[16];
        wsprintfA(number, "%08u ", static_cast<unsigned>(line % 100000000));
        std::string row = number;
        for (size_t i = 0; row.size() < lineLength - 2; ++i)
            row += static_cast<char>('a' + i % 26);
        text += row + "\r\n";
    }
    text.resize(bytes);
    return text;
}

TEST_F(LinkTest, FloodOfSeveralMegabytesKeepsItsTailWithinTheScrollback) {
    FakeRun run("flood");
    Launch(run);
    const size_t size = 4 * 1024 * 1024;
    Send("flood " + std::to_string(size) + "\r\n");
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith("FLOOD END\r\n") && PaneSettled(); }, 20000))
        << Pane().size() << " pending " << OutputPending() << " tail "
        << Pane().substr(Pane().size() > 100 ? Pane().size() - 100 : 0);
    std::string text = Pane();
    std::string expected = FloodText(size) + "FLOOD END\r\n";
    EXPECT_LE(text.size(), static_cast<size_t>(kScrollbackMax));
    EXPECT_GE(text.size(), static_cast<size_t>(kBacklogMax) - 80);
    ASSERT_LE(text.size(), expected.size());
    EXPECT_TRUE(expected.compare(expected.size() - text.size(), text.size(), text) == 0)
        << "the pane is not the tail of the flood";
    // The pane starts with a whole line.
    EXPECT_EQ(text.find("\r\n") % 80, 78u);
}

TEST_F(LinkTest, ScrollbackRemovesOldestWholeLinesAndKeepsTheUsersSelection) {
    FakeRun run("trim");
    Launch(run);
    // Fill the pane to just under the cap in small steps, so that nothing is skipped.
    const size_t step = 60000;
    size_t sent = 0;
    while (sent + step < static_cast<size_t>(kScrollbackMax)) {
        Send("flood " + std::to_string(step) + "\r\n");
        sent += step;
        size_t want = sent + 12 + (sent / step) * 11;
        ASSERT_TRUE(RunLinkUntil([&] { return Pane().size() >= want; }));
    }
    // The user selects a word of the newest line; the next output takes its place.
    std::string before = Pane();
    size_t lineStart = before.rfind("\r\n", before.size() - 3) + 2;
    SendMessageA(g_outputPane, EM_SETSEL, lineStart, lineStart + 8);
    std::string inserted = FloodText(step) + "FLOOD END\r\n";
    std::string full = before.substr(0, lineStart) + inserted + before.substr(lineStart + 8);
    ASSERT_GT(full.size(), static_cast<size_t>(kScrollbackMax));

    Send("flood " + std::to_string(step) + "\r\n");
    // Settled once the last flood has been written and everything read has been shown.
    size_t floods = sent / step + 1;
    std::string seam = inserted.substr(inserted.size() - 40) + before.substr(lineStart + 8, 30);
    ASSERT_TRUE(RunLinkUntil([&] {
        std::string events = run.Events();
        size_t count = 0;
        for (size_t at = events.find("flood "); at != std::string::npos;
             at = events.find("flood ", at + 1)) {
            ++count;
        }
        return count == floods && PaneSettled() && Pane().find(seam) != std::string::npos;
    }));

    std::string after = Pane();
    EXPECT_LE(after.size(), static_cast<size_t>(kScrollbackMax));
    EXPECT_GE(after.size(), static_cast<size_t>(kScrollbackKeep) - 80);
    size_t cut = full.size() - after.size();
    EXPECT_EQ(full.substr(cut), after) << "the pane is not the tail of its text";
    EXPECT_EQ(full[cut - 1], '\n') << "the oldest text did not go as whole lines";
    DWORD start = 0, end = 0;
    SendMessageA(g_outputPane, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, end);
    EXPECT_EQ(start, lineStart + inserted.size() - cut) << "the caret left its text";
}

}  // namespace
