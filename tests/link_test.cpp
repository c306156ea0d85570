// The interpreter link against real pipes and a real child: the stand-in interpreter, and Wine's
// own cmd.exe.
#include "link_fixture.h"
#include "splitmix.h"
#include "window_driver.h"

namespace {

TEST_F(LinkTest, StopLineIsExactlyExitCrLfAndNoHandleStaysOpen) {
    // The first launch of a process opens handles of Wine's own that stay; count from the second.
    FakeRun warmUp("warmup");
    SetComspec(warmUp.Comspec().c_str());
    ASSERT_EQ(SpawnInterpreter(windows), 1);
    StopInterpreter();

    DWORD before = HandleCount();
    Launch();
    // Exactly the two pipe ends are kept: no process or thread handle.
    EXPECT_EQ(HandleCount(), before + 2);
    ASSERT_TRUE(RunLinkUntil([&] { return Pane() == kGreeting; }));
    Stop();
    EXPECT_EQ(run.Input(), "exit\r\n");
    EXPECT_EQ(HandleCount(), before);
}

TEST_F(LinkTest, StopTakesAboutOneSecond) {
    Launch();
    DWORD start = GetTickCount();
    Stop();
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 950u);
    EXPECT_LT(took, 2000u);
}

TEST_F(LinkTest, StandardOutputAndErrorArriveInOrderInOnePane) {
    Launch();
    for (const char* line : {"echo one", "err two", "echo three", "err four"})
        Enter(line);
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith("four\r\n"); })) << Pane();
    EXPECT_EQ(Pane(), std::string(kGreeting) + "one\r\ntwo\r\nthree\r\nfour\r\n");
}

TEST_F(LinkTest, ZeroBytesAreDroppedAndNothingElse) {
    Launch();
    Enter("hex 41 00 42 00 00 43 0D 0A 00 FF 80 0A 0D");
    Enter("echo end");
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith("end\r\n"); })) << Pane();
    EXPECT_EQ(Pane(), std::string(kGreeting) + "ABC\r\n\xFF\x80\n\rend\r\n");
}

TEST_F(LinkTest, OutputBeyondThirtyThousandCharactersIsStillShown) {
    Launch();
    for (int i = 1; i <= 3; ++i) {
        Enter("flood 40000");
        Enter("echo part " + std::to_string(i));
        ASSERT_TRUE(RunLinkUntil([&] {
            return PaneEndsWith("part " + std::to_string(i) + "\r\n");
        })) << Pane().size();
    }
    EXPECT_EQ(Pane().size(), sizeof(kGreeting) - 1 + 3 * (40000 + 11 + 8));
}

// A burst that the scrollback can hold is shown whole, however fast it comes: here all of it is
// in the pipe before the first pass reads it.
TEST_F(LinkTest, RandomStreamIsShownExactlyWithoutItsZeroBytes) {
    Launch();
    const uint64_t seed = 20261209;
    const size_t size = 250000;
    Enter("rand " + std::to_string(seed) + " " + std::to_string(size));
    Enter("echo END-OF-RANDOM");
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith("END-OF-RANDOM\r\n"); }, 30000))
        << "seed " << seed;
    std::string stream;
    RandomStream(seed, size, stream);
    std::string expected = kGreeting;
    for (char c : stream) {
        if (c != '\0') expected += c;
    }
    expected += "END-OF-RANDOM\r\n";
    std::string text = Pane();
    ASSERT_EQ(text.size(), expected.size()) << "seed " << seed;
    EXPECT_TRUE(text == expected) << "seed " << seed;
}

// A pass always ends: while the interpreter writes without pause, into a hidden pane, and no
// message ever arrives, no tick holds the thread for long and the pane is kept up to date.
TEST_F(LinkTest, PassesEndAndThePaneKeepsUpWhileTheInterpreterNeverPauses) {
    Launch({"flood 2000000000"});
    const double begin = NowMs();
    double lastChange = begin, longestTick = 0, longestUnchanged = 0;
    std::string shown;
    int changes = 0;
    while (NowMs() - begin < 5000) {
        const double start = NowMs();
        OutputPump();
        const double end = NowMs();
        longestTick = std::max(longestTick, end - start);
        std::string text = Pane();
        if (text != shown) {
            longestUnchanged = std::max(longestUnchanged, end - lastChange);
            lastChange = end;
            shown.swap(text);
            ++changes;
        }
        Sleep(10);
    }
    longestUnchanged = std::max(longestUnchanged, NowMs() - lastChange);
    EXPECT_LT(longestTick, 600) << "one tick held the thread";
    EXPECT_LT(longestUnchanged, 600) << "the pane was left behind (" << changes << " changes)";
    EXPECT_NE(shown.find(" abcdefghijklmnopqrstuvwxyz"), std::string::npos) << "no flood shown";
}

// An interpreter that ignores the stop line still ends: the program's own ends are not
// inherited, so closing them is the end of its input.
TEST_F(LinkTest, InterpreterIgnoringExitSeesEndOfInputAfterStop) {
    Launch({"ignore-exit"});
    ASSERT_TRUE(RunLinkUntil([&] { return Pane() == kGreeting; }));
    Stop();
    EXPECT_TRUE(WaitFor([&] { return run.Events().find("eof") != std::string::npos; }, 5000))
        << run.Events();
    EXPECT_EQ(run.Input(), "exit\r\n");
}

TEST_F(LinkTest, WineCmdAnswersAnEcho) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    SetComspec((std::string(system) + "\\cmd.exe").c_str());
    ASSERT_EQ(SpawnInterpreter(windows), 1);
    running = true;
    Enter("echo varnel-was-here");
    ASSERT_TRUE(RunLinkUntil([&] {
        // The typed line is never put into the pane, so the text can only be cmd's answer.
        return Pane().find("varnel-was-here\r\n") != std::string::npos;
    })) << Pane();
}

TEST_F(LinkTest, FloodOfSeveralMegabytesKeepsItsTailWithinTheScrollback) {
    Launch();
    const size_t size = 4 * 1024 * 1024;
    Enter("flood " + std::to_string(size));
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith(kFloodEnd); }, 20000))
        << Pane().size() << " tail "
        << Pane().substr(Pane().size() > 100 ? Pane().size() - 100 : 0);
    std::string text = Pane();
    std::string expected = FloodText(size) + kFloodEnd;
    EXPECT_LE(text.size(), 330u * 1024);
    EXPECT_GE(text.size(), 60u * 1024);
    ASSERT_LE(text.size(), expected.size());
    EXPECT_TRUE(expected.compare(expected.size() - text.size(), text.size(), text) == 0)
        << "the pane is not the tail of the flood";
    // The pane starts with a whole line.
    EXPECT_EQ(text.find("\r\n") % 80, 78u);
}

TEST_F(LinkTest, ScrollbackRemovesOldestWholeLinesAndKeepsTheUsersSelection) {
    const size_t scrollbackMax = 320 * 1024;  // the pane's bound, past which its oldest text goes
    Launch();
    // Fill the pane to just under the bound in small steps, so that nothing is skipped.
    const size_t step = 60000;
    size_t sent = 0;
    while (sent + step < scrollbackMax) {
        Enter("flood " + std::to_string(step));
        sent += step;
        size_t want = sent + 12 + (sent / step) * 11;
        ASSERT_TRUE(RunLinkUntil([&] { return Pane().size() >= want; }));
    }
    // The user selects a word of the newest line: it stays selected, on the same text, while
    // output comes and the oldest text goes.
    std::string before = Pane();
    size_t lineStart = before.rfind("\r\n", before.size() - 3) + 2;
    SendMessageA(windows.pane, EM_SETSEL, lineStart, lineStart + 8);
    std::string full = before + FloodText(step) + kFloodEnd + "marker\r\n";
    ASSERT_GT(full.size(), scrollbackMax);

    Enter("flood " + std::to_string(step));
    Enter("echo marker");
    ASSERT_TRUE(RunLinkUntil([&] { return PaneEndsWith("marker\r\n"); }));

    std::string after = Pane();
    EXPECT_LE(after.size(), scrollbackMax);
    EXPECT_GE(after.size(), 200u * 1024);
    size_t cut = full.size() - after.size();
    EXPECT_EQ(full.substr(cut), after) << "the pane is not the tail of its text";
    EXPECT_EQ(full[cut - 1], '\n') << "the oldest text did not go as whole lines";
    DWORD start = 0, end = 0;
    SendMessageA(windows.pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, lineStart - cut) << "the selection left its text";
    EXPECT_EQ(end, lineStart + 8 - cut);
}

// Failed launches: one message box with the platform's text, its inserts filled, and under it
// what was to be started; nothing started, and no handle left open.
struct FailedLaunchCase {
    const char* name;
    std::string comspec;  // empty: COMSPEC unset
};

void PrintTo(const FailedLaunchCase& value, std::ostream* out) {
    *out << value.name;
}

class FailedLaunch : public LinkTest, public ::testing::WithParamInterface<FailedLaunchCase> {
protected:
    // Runs the launch several times and reports the boxes of the last. The first message box of
    // a process opens handles of Wine's own that stay, and Wine opens one now and then; a handle
    // left by each launch shows as one more per launch.
    std::vector<BoxWatcher::Box> Spawn(const char* comspec) {
        SetComspec(comspec);
        Once();
        DWORD before = HandleCount();
        std::vector<BoxWatcher::Box> boxes;
        for (int i = 0; i < kLaunches; ++i)
            boxes = Once();
        newHandles = static_cast<int>(HandleCount()) - static_cast<int>(before);
        return boxes;
    }
    std::vector<BoxWatcher::Box> Once() {
        BoxWatcher watcher;
        if (SpawnInterpreter(windows) != 0) {
            ADD_FAILURE() << "the launch succeeded";
            StopInterpreter();
        }
        PumpMessages(50);
        return watcher.Stop();
    }
    // The one box of a failed launch, checked for what every such box holds.
    std::string OneBox(const std::vector<BoxWatcher::Box>& boxes) {
        EXPECT_EQ(boxes.size(), 1u);
        if (boxes.empty()) return std::string();
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].text.find("%"), std::string::npos) << "an insert left unfilled";
        EXPECT_LT(newHandles, kLaunches - 2) << "handles left open by each launch";
        return boxes[0].text;
    }
    static constexpr int kLaunches = 5;
    int newHandles = 0;
};

std::string TextFile() {
    std::string path = BuildDir() + "\\not-a-program.txt";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "just text\r\n", 11, &written, nullptr);
    CloseHandle(file);
    return path;
}

TEST_P(FailedLaunch, OneBoxNamesWhatWasToBeStarted) {
    const std::string& comspec = GetParam().comspec;
    std::string text = OneBox(Spawn(comspec.empty() ? nullptr : comspec.c_str()));
    if (comspec.empty()) {
        EXPECT_NE(text.find("COMSPEC is not set."), std::string::npos) << text;
    } else {
        EXPECT_NE(text.find("COMSPEC: " + comspec), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Comspec, FailedLaunch,
    ::testing::Values(FailedLaunchCase{"Unset", ""},
                      FailedLaunchCase{"MissingFile", "C:\\no\\such\\interpreter.exe"},
                      FailedLaunchCase{"Directory", "C:\\windows"},
                      FailedLaunchCase{"TextFile", TextFile()},
                      FailedLaunchCase{"TooLong", "C:\\" + std::string(300, 'x') + ".exe"}),
    [](const ::testing::TestParamInfo<FailedLaunchCase>& info) { return info.param.name; });

// A file that is no program: the platform's text has an insert, and it names the file.
TEST_F(FailedLaunch, TextFileIsNamedInThePlatformsText) {
    const std::string path = TextFile();
    std::string text = OneBox(Spawn(path.c_str()));
    ASSERT_GT(text.find("COMSPEC: "), 0u);
    EXPECT_NE(text.substr(0, text.find("COMSPEC: ")).find(path), std::string::npos) << text;
}

// A truncated command line is never started, however close it is to a real one.
TEST_F(FailedLaunch, TooLongStartsNothing) {
    std::string line = run.Comspec() + std::string(300, ' ') + "x";
    std::string text = OneBox(Spawn(line.c_str()));
    EXPECT_EQ(text.find(SystemText(ERROR_FILENAME_EXCED_RANGE).substr(0, 20)), 0u) << text;
    Sleep(300);
    EXPECT_EQ(run.Events(), "");
}

// The calls that keep the program's pipe ends its own and make writes never wait: if one fails,
// nothing is started and the launch fails like any other.
BOOL WINAPI RefusedSetHandleInformation(HANDLE, DWORD, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
BOOL WINAPI RefusedSetNamedPipeHandleState(HANDLE, LPDWORD, LPDWORD, LPDWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
BOOL WINAPI CreateProcessWithUnknownError(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES,
                                          LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                                          LPSTARTUPINFOA, LPPROCESS_INFORMATION) {
    SetLastError(0x20001234);  // a code of an application's own, without a system text
    return FALSE;
}

TEST_F(FailedLaunch, UncheckedPipeSetUpStartsNothing) {
    const std::string comspec = run.Comspec();
    for (int call = 0; call < 2; ++call) {
        ImportPatch refused(call == 0 ? "SetHandleInformation" : "SetNamedPipeHandleState",
                            call == 0 ? reinterpret_cast<void*>(RefusedSetHandleInformation)
                                      : reinterpret_cast<void*>(RefusedSetNamedPipeHandleState));
        std::string text = OneBox(Spawn(comspec.c_str()));
        EXPECT_EQ(text.find(SystemText(ERROR_ACCESS_DENIED).substr(0, 10)), 0u) << text;
    }
    Sleep(300);
    EXPECT_EQ(run.Events(), "") << "an interpreter was started";
}

TEST_F(FailedLaunch, CodeWithoutTextNamesTheCode) {
    ImportPatch failing("CreateProcessA", reinterpret_cast<void*>(CreateProcessWithUnknownError));
    std::string text = OneBox(Spawn(run.Comspec().c_str()));
    EXPECT_NE(text.find("0x20001234"), std::string::npos) << text;
}

}  // namespace
