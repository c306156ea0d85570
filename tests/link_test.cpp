// The interpreter link inside the test program, on hidden windows, against real pipes and the
// stand-in interpreter: launch and stop, the output pump, command dispatch.
#include "fixtures.h"
#include "link_state.h"

#include <optional>

namespace {

// The stop types nothing into the interpreter: an idle one ends on the end of its input. Nothing
// is left open then: the pipe ends, the read end kept to see what the interpreter did not read,
// its process and its console all go.
TEST_F(LinkTest, StopTypesNothingEndsTheInterpreterAndLeavesNothingOpen) {
    // The first launch and console of a process open handles of Wine's own that stay; count from
    // the second.
    FakeRun warmUp("warmup");
    SetEnvironmentVariableA("COMSPEC", warmUp.Comspec().c_str());
    ASSERT_EQ(SpawnInterpreter(windows), 1);
    ASSERT_TRUE(ShowsAtEnd(kGreeting));
    ASSERT_TRUE(RunUntil("the console joined", [] { return JoinInterpreterConsole(); }));
    StopInterpreter();
    SendMessageA(windows.pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));

    const DWORD before = HandleCount(GetCurrentProcess());
    Launch();
    ASSERT_TRUE(RunUntil("the console joined", [] { return JoinInterpreterConsole(); }));
    Stop();
    EXPECT_EQ(HandleCount(GetCurrentProcess()), before);
    EXPECT_EQ(run.EventsNamed("eof").size(), 1u) << run.Events();
    EXPECT_EQ(run.EventsNamed("exit"), std::vector<std::vector<double>>{{0}}) << run.Events();
    EXPECT_EQ(run.Input(), "");
}

// Standard output and standard error in one pane, in the order written, up to a last line that
// has no line end; zero bytes dropped and every other byte shown as it came.
TEST_F(LinkTest, OutputIsShownInOrderAsItCameWithoutItsZeroBytes) {
    Launch();
    for (const char* line : {"echo one", "err two", "echo three", "err four",
                             "hex 41 00 42 00 00 43 0D 0A 00 FF 80 0A 0D", "tail no line end"})
        Enter(line);
    ASSERT_TRUE(ShowsAtEnd("no line end")) << Pane();
    // FF and 80 in the OEM page 437: a no-break space and a C with cedilla.
    EXPECT_EQ(PaneW(),
              L"FAKE READY\r\none\r\ntwo\r\nthree\r\nfour\r\nABC\r\n\x00A0\x00C7\n\rno line "
              L"end");
}

// Bursts of random bytes, of ordinary lines and of lines without end. One that the scrollback
// holds is shown whole and decoded, however fast it comes and however the reads cut it; of a
// larger one the pane
// keeps the newest output, far more than an edit control's default 30,000 characters, from the
// start of a line where there is one within reach.
TEST_F(LinkTest, BurstsAreShownWholeOrTheirTailWithinTheScrollback) {
    Launch();
    const uint64_t seeds[] = {20261209, GetTickCount64()};
    const struct {
        std::string command, text;
        size_t least = 0;  // the least the pane keeps of a burst too large for it
    } bursts[] = {{"rand " + std::to_string(seeds[0]) + " 250000", RandomStream(seeds[0], 250000)},
                  {"rand " + std::to_string(seeds[1]) + " 600000", RandomStream(seeds[1], 600000),
                   128 * 1024},
                  {"flood 4194304", FloodText(4194304) + kFloodEnd, 60 * 1024},
                  {"flood 500000 250000", FloodText(500000, 250000) + kFloodEnd, 60 * 1024}};
    for (const auto& burst : bursts) {
        Enter("cls");
        Enter(burst.command);
        Enter("echo END-OF-BURST");
        ASSERT_TRUE(ShowsAtEnd("END-OF-BURST\r\n", 20000)) << burst.command;
        const std::wstring expected = ShownText(burst.text + "END-OF-BURST\r\n");
        const std::wstring text = PaneW();
        if (!burst.least) {
            EXPECT_TRUE(text == expected) << burst.command << ": " << text.size() << " shown";
            continue;
        }
        EXPECT_LE(text.size(), 320u * 1024) << burst.command;
        EXPECT_GE(text.size(), burst.least) << burst.command;
        EXPECT_TRUE(expected.size() >= text.size() &&
                    expected.compare(expected.size() - text.size(), text.size(), text) == 0)
            << burst.command << ": not the tail of the burst";
        if (burst.command == "flood 4194304") {
            EXPECT_EQ(text.find(L"\r\n"), 78u) << "no whole first line";
        }
    }
}

// A pass always ends: while the interpreter writes without pause, into a hidden pane, and no
// message ever arrives, no tick holds the thread for long and the pane is kept up to date.
TEST_F(LinkTest, PassesEndAndThePaneKeepsUpWhileTheInterpreterNeverPauses) {
    Launch({"flood 2000000000"}, false);
    const double begin = NowMs();
    double lastChange = begin, longestTick = 0, longestUnchanged = 0;
    std::string shown;
    for (; NowMs() - begin < 5000; Sleep(10)) {
        const double start = NowMs();
        OutputPump();
        const double end = NowMs();
        longestTick = std::max(longestTick, end - start);
        std::string text = Pane();
        if (text == shown) continue;
        longestUnchanged = std::max(longestUnchanged, end - lastChange);
        lastChange = end;
        shown.swap(text);
    }
    longestUnchanged = std::max(longestUnchanged, NowMs() - lastChange);
    EXPECT_LT(longestTick, 600) << "one tick held the thread";
    EXPECT_LT(longestUnchanged, 600) << "the pane was left behind";
    EXPECT_NE(shown.find(" abcdefghijklmnopqrstuvwxyz"), std::string::npos) << "no flood shown";
}

TEST_F(LinkTest, ScrollbackRemovesOldestWholeLinesAndKeepsTheUsersSelection) {
    const size_t scrollbackMax = 320 * 1024;  // the pane's bound, past which its oldest text goes
    Launch();
    // Fill the pane to just under the bound in small steps, so that nothing is skipped.
    const size_t step = 60000;
    for (size_t sent = step; sent < scrollbackMax; sent += step) {
        Enter("flood " + std::to_string(step));
        ASSERT_TRUE(
            RunUntil("a flood", [&] { return Pane().size() >= sent + 12 + sent / step * 11; }));
    }
    // The user selects a word of the newest line: it stays selected, on the same text, while
    // output comes and the oldest text goes.
    const std::string before = Pane();
    const int word = static_cast<int>(before.rfind("\r\n", before.size() - 3) + 2);
    SendMessageA(windows.pane, EM_SETSEL, word, word + 8);
    const std::string full = before + FloodText(step) + kFloodEnd + "marker\r\n";
    ASSERT_GT(full.size(), scrollbackMax);
    Enter("flood " + std::to_string(step));
    Enter("echo marker");
    ASSERT_TRUE(ShowsAtEnd("marker\r\n"));

    const std::string after = Pane();
    EXPECT_LE(after.size(), scrollbackMax);
    EXPECT_GE(after.size(), 200u * 1024);
    const size_t cut = full.size() - after.size();
    EXPECT_EQ(full.substr(cut), after) << "the pane is not the tail of its text";
    EXPECT_EQ(full[cut - 1], '\n') << "the oldest text did not go as whole lines";
    EXPECT_EQ(Selection(windows.pane),
              std::make_pair(word - static_cast<int>(cut), word + 8 - static_cast<int>(cut)))
        << "the selection left its text";
}

// Failed launches: one message box with the platform's text, its inserts filled, and under it
// what was to be started; nothing started, and no handle left open.
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

struct FailedLaunchCase {
    const char* name;
    const char* comspec;  // null: unset; "stand-in" or "too long": made from the stand-in's
    std::string says;     // what the box says above that, among other things
    const char* failingCall = nullptr;  // a call made to fail, and what replaces it
    void* replacement = nullptr;
};

void PrintTo(const FailedLaunchCase& value, std::ostream* out) {
    *out << value.name;
}

class FailedLaunch : public LinkTest, public ::testing::WithParamInterface<FailedLaunchCase> {};

TEST_P(FailedLaunch, ShowsOneBoxNamingWhatWasToBeStartedAndStartsNothing) {
    const FailedLaunchCase& failure = GetParam();
    std::string comspec = failure.comspec ? failure.comspec : "";
    if (comspec == "stand-in") comspec = run.Comspec();
    if (comspec == "too long") comspec = run.Comspec() + std::string(300, ' ') + "x";
    SetEnvironmentVariableA("COMSPEC", failure.comspec ? comspec.c_str() : nullptr);
    std::optional<ImportPatch> patch;
    if (failure.failingCall) patch.emplace(failure.failingCall, failure.replacement);
    auto launch = [&] {
        return BoxesDuring([&] {
            EXPECT_EQ(SpawnInterpreter(windows), 0) << "the launch succeeded";
            PumpMessages(50);
        });
    };
    // The first message box of a process opens handles of Wine's own that stay, and Wine opens
    // one now and then; a handle left by each launch shows as one more per launch.
    launch();
    const DWORD before = HandleCount(GetCurrentProcess());
    for (int i = 0; i < 4; ++i)
        launch();
    const auto boxes = launch();
    EXPECT_LT(HandleCount(GetCurrentProcess()), before + 3) << "handles left open by each launch";
    ASSERT_EQ(boxes.size(), 1u);
    const std::string& text = boxes[0].second;
    EXPECT_EQ(boxes[0].first, "Error");
    EXPECT_EQ(text.find('%'), std::string::npos) << "an insert left unfilled: " << text;
    const size_t named =
        text.find(failure.comspec ? "\r\nCOMSPEC: " + comspec : "\r\nCOMSPEC is not set.");
    ASSERT_NE(named, std::string::npos) << text;
    EXPECT_NE(text.substr(0, named).find(failure.says), std::string::npos) << text;
    Sleep(300);
    EXPECT_EQ(run.Events(), "") << "an interpreter was started";
}

INSTANTIATE_TEST_SUITE_P(
    Comspec, FailedLaunch,
    ::testing::Values(
        FailedLaunchCase{"Unset", nullptr, ""},
        FailedLaunchCase{"MissingFile", "C:\\no\\such.exe", ""},
        FailedLaunchCase{"Directory", "C:\\windows", ""},
        // "%1 is not a valid Win32 application.": the insert names the file.
        FailedLaunchCase{"TextFile", "C:\\windows\\win.ini", "C:\\windows\\win.ini"},
        // A truncated command line is never started, however close it is to a real one.
        FailedLaunchCase{"TooLong", "too long", SystemText(ERROR_FILENAME_EXCED_RANGE)},
        // The calls that keep the program's pipe ends its own and make its writes never wait.
        FailedLaunchCase{"PipeEndsNotKept", "stand-in", SystemText(ERROR_ACCESS_DENIED),
                         "SetHandleInformation",
                         reinterpret_cast<void*>(RefusedSetHandleInformation)},
        FailedLaunchCase{"WritesNotMadeToReturn", "stand-in", SystemText(ERROR_ACCESS_DENIED),
                         "SetNamedPipeHandleState",
                         reinterpret_cast<void*>(RefusedSetNamedPipeHandleState)},
        FailedLaunchCase{"CodeWithoutText", "stand-in", "0x20001234", "CreateProcessA",
                         reinterpret_cast<void*>(CreateProcessWithUnknownError)}),
    [](const ::testing::TestParamInfo<FailedLaunchCase>& info) { return info.param.name; });

// A COMSPEC holding a blank that names a file as a whole starts that very file, even beside a
// namesake of its first word, which the platform would start for the line as it stands. A quoted
// value, and one with an argument after the file, start as they stand.
TEST_F(LinkTest, ComspecNamingAFileWithABlankStartsThatFile) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = temp + ("varnel-blank-" + std::to_string(GetCurrentProcessId()));
    const std::string interpreter = folder + "\\acc q\\interp.exe", namesake = folder + "\\acc.exe";
    const std::string standIn = BuildDir() + "\\fake_interpreter.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "\\acc q").c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(standIn.c_str(), interpreter.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(standIn.c_str(), namesake.c_str(), FALSE));
    FakeRun runs[3] = {FakeRun("blank"), FakeRun("quoted"), FakeRun("argument")};
    const std::string values[3] = {interpreter, "\"" + interpreter + "\"",
                                   "\"" + interpreter + "\" " + runs[2].Base()};
    for (int i = 0; i < 3; ++i) {
        // Started with no argument, the stand-in keeps its records where this names.
        SetEnvironmentVariableA("VARNEL_FAKE_BASE", runs[i].Base().c_str());
        SetEnvironmentVariableA("COMSPEC", values[i].c_str());
        ASSERT_EQ(SpawnInterpreter(windows), 1) << values[i];
        running = true;
        EXPECT_TRUE(ShowsAtEnd(kGreeting)) << values[i] << ": " << Pane();
        EXPECT_EQ(runs[i].EventsNamed("start").size(), 1u) << values[i];
        Stop();
        SendMessageA(windows.pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    }
    SetEnvironmentVariableA("VARNEL_FAKE_BASE", nullptr);
    WaitFor("the copies to be free", [&] { return Deleted(interpreter) && Deleted(namesake); });
    RemoveDirectoryA((folder + "\\acc q").c_str());
    RemoveDirectoryA(folder.c_str());
}

// Each line goes as typed, in the console's input code page with CR LF, and the longest whole; the
// history keeps it as typed, never the empty line; the pane shows only what the interpreter writes,
// decoded from the console's output page. A longer line is never sent cut, nor one with a
// character the page lacks: it stays in the field with what keeps it back selected. After the
// interpreter's "chcp 65001" both go in UTF-8, whatever they hold, and a character whose bytes it
// writes apart shows whole. The history takes each line once, letter case aside, in Unicode.
TEST_F(LinkTest, LinesAndOutputGoInTheConsolesCodePages) {
    Launch();
    const std::string longest(259, 'x');
    EXPECT_EQ(Enter(longest + "yyyy"), L"263 characters: the interpreter takes at most 259.");
    EXPECT_EQ(Entry(), longest + "yyyy");
    EXPECT_EQ(Selection(entry), std::make_pair(259, 263));
    EXPECT_EQ(EnterW(L"echo \x0416 caf\x00E9"),
              L"The interpreter's code page (OEM 437) has no \"\x0416\".");
    EXPECT_EQ(Selection(entry), std::make_pair(5, 6));
    EXPECT_TRUE(History().empty());
    // "é" is 0x82 in the OEM page 437, which the stand-in's console has at first.
    for (const wchar_t* line : {L"dir", L"echo caf\x00E9", L"", L"hex 63 61 66 82 0D 0A"})
        EnterW(line);
    Enter(longest);
    std::string expected =
        "dir\r\necho caf\x82\r\n\r\nhex 63 61 66 82 0D 0A\r\n" + longest + "\r\n";
    EXPECT_EQ(InputAfter(expected.size()), expected);
    EXPECT_EQ(Entry(), "");
    EXPECT_EQ(History(),
              (std::vector<std::string>{"dir", "echo caf\xE9", "hex 63 61 66 82 0D 0A", longest}));
    EXPECT_EQ(closeRequests, 0);
    EXPECT_EQ(PaneW(), L"FAKE READY\r\ncaf\x00E9\r\ncaf\x00E9\r\n");

    // A line is checked in the page the console has when it is typed: once "chcp" has run.
    EXPECT_EQ(Enter("chcp 65001"), L"");
    EXPECT_EQ(Enter("echo switched"), L"");
    ASSERT_TRUE(ShowsAtEnd("switched\r\n"));
    for (const wchar_t* line : {L"echo \x0416 caf\x00E9", L"echo \x0436 CAF\x00C9", L"hex D0",
                                L"sleep 300", L"hex 96 0D 0A"})
        EXPECT_EQ(EnterW(line), L"") << line;
    expected +=
        "chcp 65001\r\necho switched\r\necho \xD0\x96 caf\xC3\xA9\r\n"
        "echo \xD0\xB6 CAF\xC3\x89\r\nhex D0\r\nsleep 300\r\nhex 96 0D 0A\r\n";
    EXPECT_EQ(InputAfter(expected.size()), expected);
    ASSERT_TRUE(RunUntil("the last character", [&] { return PaneW().back() == L'\n'; }));
    EXPECT_EQ(PaneW(),
              L"FAKE READY\r\ncaf\x00E9\r\ncaf\x00E9\r\nswitched\r\n\x0416 "
              L"caf\x00E9\r\n\x0436 CAF\x00C9\r\n\x0416\r\n");
    const std::vector<std::string> history = History();
    EXPECT_EQ(history.size(), 10u);
    EXPECT_TRUE(std::none_of(history.begin(), history.end(), [](const std::string& entry) {
        return entry.find("CAF") != std::string::npos;
    })) << "a line kept in two cases";
}

// The window answers "cls" and "exit" itself as the interpreter reads them: in any case, with
// blanks before or after. cls empties the pane and sends an empty line; "exit" asks the window to
// close and writes nothing. Either word with more on its line goes to the interpreter. The history
// keeps each line once, whatever its case, in the order first entered.
TEST_F(LinkTest, ClsAndExitAreAnsweredInAnyCaseAndTheHistoryKeepsEachLineOnce) {
    Launch();
    for (const std::string word : {"CLS", "Cls", " cls", "cls\t "}) {
        Enter("echo before " + word);
        ASSERT_TRUE(ShowsAtEnd(word + "\r\n"));
        Enter(word);
        EXPECT_EQ(Pane(), "") << word;
    }
    for (const char* line : {"dir", "eXiT", "ver", "DIR", " exit", "Ver", "exit\t", "dir", "cls x",
                             "exit /b", "exit&echo x"})
        Enter(line);
    EXPECT_EQ(closeRequests, 3);
    EXPECT_EQ(Entry(), "");
    EXPECT_EQ(History(),
              (std::vector<std::string>{"echo before CLS", "CLS", "echo before  cls", " cls",
                                        "echo before cls\t ", "cls\t ", "dir", "eXiT", "ver",
                                        " exit", "exit\t", "cls x", "exit /b", "exit&echo x"}));
    const std::string expected =
        "echo before CLS\r\n\r\necho before Cls\r\n\r\necho before  cls\r\n\r\n"
        "echo before cls\t \r\n\r\ndir\r\nver\r\nDIR\r\nVer\r\ndir\r\ncls x\r\nexit /b\r\n"
        "exit&echo x\r\n";
    EXPECT_EQ(InputAfter(expected.size()), expected);
}

// A pasted block: every line is checked before any is sent. A block whose last line cannot go
// sends nothing and enters nothing into the history, and the reason names that line. A block far
// larger than the input queue goes whole and in order, fed to an interpreter that does not read
// yet as it reads; what waits in the queue meanwhile stays within its bound, and a typed line is
// refused until the block has gone into it, then goes behind the block.
TEST_F(LinkTest, APastedBlockGoesWholeAndInOrderOrNotAtAll) {
    Launch({"sleep 1000"});
    auto paste = [](const std::wstring& block) {
        const WCHAR* reason = DispatchLines(block.c_str(), block.size(), true);
        return std::wstring(reason ? reason : L"");
    };
    EXPECT_EQ(paste(L"echo one\r\necho two\r\necho caf\x20AC"),
              L"Line 3 of the paste: the interpreter's code page (OEM 437) has no \"\x20AC\".");
    // The check counts every character of a long line, not only the most that can go.
    EXPECT_EQ(paste(L"echo one\r\n" + std::wstring(305, L'x') + L"\r\necho three"),
              L"Line 2 of the paste: 305 characters: the interpreter takes at most 259.");
    EXPECT_TRUE(History().empty());
    EXPECT_EQ(UnwrittenInputSize() + run.Input().size(), 0u);

    std::wstring block;
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const std::string line = "echo " + std::to_string(10000 + i) + " abcdefghijk";
        block += std::wstring(line.begin(), line.end()) + L"\r\n";
        expected += line + "\r\n";
    }
    ASSERT_EQ(paste(block), L"");
    EXPECT_GT(UnwrittenInputSize(), 1000u);
    EXPECT_LE(UnwrittenInputSize(), kInputQueueSize + 300);
    // The first line has gone into the pipe, the next ones wait.
    std::wstring unread(UnreadInputMax(), L'\0');
    unread.resize(UnreadInput(&unread[0], unread.size()));
    EXPECT_EQ(expected.find(std::string(unread.begin(), unread.end())), 0u)
        << "not the block's first lines";
    EXPECT_EQ(unread.size(), UnwrittenInputSize() + expected.find("echo 10001"));
    EXPECT_EQ(Enter("echo typed"), kBusyReason);
    EXPECT_EQ(Entry(), "echo typed");
    size_t most = 0;
    ASSERT_TRUE(RunUntil(
        "the block in the queue",
        [&] {
            most = std::max(most, UnwrittenInputSize());
            return Enter("echo typed").empty();
        },
        30000));
    EXPECT_LE(most, kInputQueueSize + 300);
    EXPECT_TRUE(InputAfter(expected.size() + 12) == expected + "echo typed\r\n")
        << run.Input().size() << " bytes read";

    // Behind a line that ends the interpreter, most of the block is never written: the notice of
    // the end names those lines, and they are dropped. "cls" still clears the pane then.
    Enter("sleep 300");
    Enter("exit 3");
    ASSERT_EQ(paste(block), L"");
    ASSERT_TRUE(RunUntil("the interpreter's end", [] { return InterpreterEnded(); }));
    ASSERT_TRUE(RunUntil("the end told", [] { return EndTold(); }));
    EXPECT_EQ(UnwrittenInputSize(), 0u);
    const std::string told = Pane();
    // The first line of the block may have gone into the pipe before the end was seen.
    EXPECT_TRUE(told.find("[It did not read 5000 lines: \"echo 10000 ") != std::string::npos ||
                told.find("[It did not read 4999 lines: \"echo 10001 ") != std::string::npos)
        << told.substr(0, 200);
    EXPECT_TRUE(
        EndsWith(told, "\"echo 14999 abcdefghijk\".]\r\n[Press Enter to start it again.]\r\n"));
    EXPECT_EQ(Enter("cls"), L"");
    EXPECT_TRUE(Pane().empty()) << Pane().size() << " characters left";
}

// An interpreter that reads its input a buffer at a time and runs only the first line of each, as
// Wine's cmd.exe does, loses none of the lines typed ahead or pasted while it was busy: each goes
// into its pipe only once it has read the one before.
TEST_F(LinkTest, AnInterpreterThatRunsOnlyTheFirstLineOfEachReadRunsEveryLine) {
    Launch({"first-lines", "sleep 500"});
    std::string lines, shown;
    for (int i = 0; i < 5; ++i) {
        Enter("echo typed " + std::to_string(i));
        lines += "echo typed " + std::to_string(i) + "\r\n";
        shown += "typed " + std::to_string(i) + "\r\n";
    }
    std::wstring block;
    for (int i = 0; i < 300; ++i) {
        const std::string line = "echo pasted " + std::to_string(i);
        block += std::wstring(line.begin(), line.end()) + L"\r\n";
        lines += line + "\r\n";
        shown += line.substr(5) + "\r\n";
    }
    ASSERT_EQ(DispatchLines(block.c_str(), block.size(), true), nullptr);
    EXPECT_EQ(Enter("echo last"), L"");
    ASSERT_TRUE(ShowsAtEnd("last\r\n", 20000)) << Pane().substr(0, 300);
    EXPECT_EQ(Pane(), kGreeting + shown + "last\r\n");
    EXPECT_EQ(run.Input(), lines + "echo last\r\n");
}

// An interpreter that writes much, then its last words, and ends, all before the window has read
// any of it: the pane shows all it wrote, its last words last, and only then the notice.
TEST_F(LinkTest, TheEndIsToldAfterAllTheInterpreterWrote) {
    Launch({"flood 100000", "echo last words", "exit 3"}, false);
    ASSERT_TRUE(WaitFor("the interpreter's end", [] { return InterpreterEnded(); }));
    const std::string notice =
        "last words\r\n"
        "[The interpreter has ended with exit code 3.]\r\n"
        "[Press Enter to start it again.]\r\n";
    ASSERT_TRUE(ShowsAtEnd(notice)) << Pane().substr(0, 200);
    EXPECT_TRUE(Pane() == kGreeting + FloodText(100000) + kFloodEnd + notice);
}

// This window has no steady tick: only the passes that the link asks for itself after a line
// bring the answer, even one that comes 100 ms later, and soon after it is written. Once it has
// come, or when none comes, those passes stop: an idle window is not woken.
TEST_F(LinkTest, LateAnswerShowsSoonWithoutATickAndThenTheWindowRests) {
    Launch();
    Enter("sleep 100");
    Enter("ping 1");
    double shown = 0;
    ASSERT_TRUE(WaitFor("the late answer", [&] {
        PumpMessages(0);
        shown = NowMs();
        return EndsWith(Pane(), "pong 1\r\n");
    }));
    const auto pings = run.EventsNamed("ping");  // each: its number, when it was answered
    ASSERT_EQ(pings.size(), 1u) << run.Events();
    EXPECT_LT(shown - pings[0].at(1), 60) << "the answer waited for a tick";
    for (const char* line : {"echo again", ""}) {
        Enter(line);
        PumpMessages(1000);
        const int before = ticks;
        PumpMessages(500);
        EXPECT_LE(ticks - before, 1) << "the window is still woken after \"" << line << "\"";
    }
    EXPECT_EQ(Pane(), std::string(kGreeting) + "pong 1\r\nagain\r\n");
}

// The interpreter stops reading: lines wait in the queue, nothing blocks, and once it reads
// again every line arrives in order. A line that finds the queue full stays in the entry field.
TEST_F(LinkTest, LinesWaitForAStalledInterpreterWithoutBlockingAndArriveInOrder) {
    Launch({"sleep 3000"});
    std::string expected;
    double slowest = 0;
    int accepted = 0;
    for (; accepted < 400; ++accepted) {
        const std::string line = "echo " + std::to_string(1000 + accepted) + std::string(240, 'q');
        const double start = NowMs();
        Enter(line);
        slowest = std::max(slowest, NowMs() - start);
        if (!Entry().empty()) {
            // Full: the text stays for another Enter, and the history does not take it.
            EXPECT_EQ(Entry(), line);
            EXPECT_EQ(History().size(), static_cast<size_t>(accepted));
            break;
        }
        expected += line + "\r\n";
    }
    EXPECT_LT(slowest, 100) << "a write waited for the interpreter";
    EXPECT_GT(accepted, 200);  // 64 KiB of lines fit
    EXPECT_LT(accepted, 400) << "the queue never filled";
    EXPECT_EQ(InputAfter(expected.size()), expected);
}

// An interpreter that ends without reading what was typed for it: every line left in its input
// pipe and in the queue is named in order with the notice, and none is written into the pipe, nor
// taken from it, afterwards: a program left running may still read it. The interpreter ends with
// a line in its pipe, or on the line it read last, with its pipe empty.
TEST_F(LinkTest, TheEndNamesEveryLineTheInterpreterDidNotReadAndLeavesThePipeAlone) {
    const std::vector<std::string> startups[] = {{"sleep 1500", "exit 3"}, {"sleep 1500"}};
    std::string shown = kGreeting;
    for (const auto& startup : startups) {
        const bool endsOnALine = startup.size() == 1;
        SetEnvironmentVariableA("COMSPEC", run.Comspec(startup).c_str());
        if (running) {
            Enter("");  // a new interpreter, once the end of the last has been told
        } else {
            Launch(startup);
        }
        ASSERT_TRUE(ShowsAtEnd(shown += endsOnALine ? kGreeting : ""));
        if (endsOnALine) Enter("exit 3");
        std::string named;
        for (int i = 0; i < 30; ++i) {
            const std::string line =
                "echo unread " + std::to_string(i) + " " + std::string(50, 'u');
            Enter(line);
            named += (i ? ", \"" : "\"") + line + "\"";
        }
        Enter("");
        Enter("echo caf\xE9");  // sent in the OEM code page, named as typed
        named += ", \"\", \"echo caf\xE9\"";
        ASSERT_GT(UnwrittenInputSize(), 0u) << "nothing left in the queue";
        // No pass runs until the interpreter has ended.
        ASSERT_TRUE(WaitFor("the interpreter's end", [] { return InterpreterEnded(); }));
        auto inPipe = [] {
            DWORD bytes = 0;
            PeekNamedPipe(g_inputPeek, nullptr, 0, nullptr, &bytes, nullptr);
            return bytes;
        };
        const DWORD before = inPipe();
        EXPECT_EQ(before == 0, endsOnALine) << before << " bytes in the pipe";
        const std::string notice =
            "[The interpreter has ended with exit code 3.]\r\n"
            "[It did not read 32 lines: " +
            named +
            ".]\r\n"
            "[Press Enter to start it again.]\r\n";
        ASSERT_TRUE(ShowsAtEnd(notice, 5000)) << Pane();
        EXPECT_EQ(Pane(), shown += notice);
        EXPECT_EQ(inPipe(), before) << "the pipe was written or read after the end";
        EXPECT_EQ(UnwrittenInputSize(), 0u);
    }
    EXPECT_EQ(run.Input(), "exit 3\r\n");
}

// A program left running in the background writes without pause after the interpreter has
// ended: the end is told all the same, while that program still writes.
TEST_F(LinkTest, TheEndIsToldWhileABackgroundProgramFloods) {
    Launch({"spawn flood 400000000", "sleep 500", "exit 4"}, false);
    ASSERT_TRUE(RunUntil("the program", [&] { return !run.EventsNamed("child").empty(); }));
    HANDLE program =
        OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(run.EventsNamed("child")[0].at(0)));
    ASSERT_TRUE(program);
    const std::string notice = "[The interpreter has ended with exit code 4.]\r\n";
    EXPECT_TRUE(RunUntil("the notice", [&] { return Pane().find(notice) != std::string::npos; }));
    EXPECT_EQ(WaitForSingleObject(program, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "told only once the program had ended";
    CloseHandle(program);
}

// Once the end has been told, a typed line starts nothing: it stays in the field, and the notice
// comes back into view if cls took it away. Enter on an empty line starts a new interpreter in the
// same pane and history; one that fails to start shows one box and leaves all as it was, for
// Enter to try again. Ctrl+C reaches the programs of the new interpreter.
TEST_F(LinkTest, AfterTheEndAnEmptyLineStartsANewInterpreter) {
    Launch();
    Enter("echo before");
    Enter("exit 3");
    const std::string ended =
        "[The interpreter has ended with exit code 3.]\r\n"
        "[Press Enter to start it again.]\r\n";
    ASSERT_TRUE(ShowsAtEnd(ended));
    const std::string told = Pane();
    EXPECT_EQ(told, std::string(kGreeting) + "before\r\n" + ended);
    Enter("echo lost");
    EXPECT_EQ(Entry(), "echo lost");
    EXPECT_EQ(Pane(), told);
    Enter("cls");
    EXPECT_EQ(Pane(), "");
    Enter("echo lost");
    EXPECT_EQ(Pane(), ended) << "the notice is not back after cls";
    SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));

    SetEnvironmentVariableA("COMSPEC", "C:\\no\\such.exe");
    const auto boxes = BoxesDuring([&] { Enter(""); });
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Pane(), ended);
    Enter("echo lost");
    EXPECT_EQ(Entry(), "echo lost");
    SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));

    SetEnvironmentVariableA("COMSPEC", run.Comspec().c_str());
    Enter("");
    ASSERT_TRUE(ShowsAtEnd(ended + kGreeting));
    EXPECT_EQ(run.EventsNamed("start").size(), 2u);
    Enter("run drip 600 100");
    ASSERT_TRUE(ShowsAtEnd("drip 2\r\n"));
    ASSERT_TRUE(RunUntil("the console joined", [] { return JoinInterpreterConsole(); }));
    EXPECT_TRUE(InterruptInterpreter());
    EXPECT_TRUE(RunUntil("the program to end on Ctrl+C",
                         [&] { return run.EventsNamed("child-exit").size() == 1; }));
    EXPECT_EQ(History(),
              (std::vector<std::string>{"echo before", "exit 3", "cls", "run drip 600 100"}));
    EXPECT_EQ(run.Input(), "echo before\r\nexit 3\r\nrun drip 600 100\r\n");
}

}  // namespace
