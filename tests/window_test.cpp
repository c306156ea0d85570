// The shipped executable end to end: varnel.exe started as a user would, with the stand-in
// interpreter (or Wine's cmd.exe) as COMSPEC, driven through its window from this process.
#include <set>

#include "fixtures.h"
#include "pane_watch.h"

namespace {

using WindowTest = VarnelTest;

// The watch in varnel.exe (pane_watch.h): what the screen shows of the pane. It sees the pane
// from the next WM_SETREDRAW on, and goes with this object.
class PaneWatch {
public:
    explicit PaneWatch(const VarnelProcess& varnel)
        : pane_(varnel.pane), look_(RegisterWindowMessageA(kPaneLookMessage)) {
        char name[64];
        PaneWatchName(varnel.info.dwProcessId, name);
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(PaneWatchState), name);
        state_ = static_cast<PaneWatchState*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0));
        if (!state_) return;
        state_->pane = reinterpret_cast<ULONGLONG>(pane_);
        dll_ = LoadLibraryA((BuildDir() + "\\pane_watch.dll").c_str());
        auto watch = reinterpret_cast<WatchPaneFunction>(
            reinterpret_cast<void*>(GetProcAddress(dll_, kWatchPaneFunction)));
        if (watch) hook_ = watch(GetWindowThreadProcessId(pane_, nullptr));
    }
    ~PaneWatch() {
        if (hook_) UnhookWindowsHookEx(hook_);
        if (dll_) FreeLibrary(dll_);
        if (state_) UnmapViewOfFile(state_);
        if (mapping_) CloseHandle(mapping_);
    }
    PaneWatch(const PaneWatch&) = delete;
    PaneWatch& operator=(const PaneWatch&) = delete;

    bool Watching() const { return hook_ != nullptr; }
    // How many of the pane's pixels on the screen are not of its background colour: 0 for a
    // blank pane; -1 while its redrawing is off, as the screen then shows an old picture; -2 if
    // the watch did not answer.
    LONG Marked() const {
        const LONG looks = state_->looks;
        SendMessageTimeoutA(pane_, look_, 0, 0, SMTO_NORMAL, 5000, nullptr);
        return state_->looks != looks ? state_->marked : -2;
    }

private:
    HWND pane_;
    UINT look_;
    HANDLE mapping_ = nullptr;
    PaneWatchState* state_ = nullptr;
    HMODULE dll_ = nullptr;
    HHOOK hook_ = nullptr;
};

// Typed lines arrive exactly and only their answers show; cls empties the pane, and the screen
// shows it blank at once and shows the output that follows. The history keeps distinct lines in
// the order entered, the first spelling kept; the arrow keys reach the combo box's own procedure
// and step through it, and Enter takes a recalled line like a typed one.
TEST_F(WindowTest, TypedLinesArriveTheAnswersShowAndTheArrowKeysRecallThem) {
    Start();
    PaneWatch screen(varnel);
    ASSERT_TRUE(screen.Watching());
    for (const char* line : {"dir", "echo one", "DIR"})
        ASSERT_TRUE(varnel.Type(line)) << line;
    ASSERT_TRUE(varnel.PaneEndsWith("one\r\n"));
    EXPECT_EQ(varnel.Pane(), std::string(kGreeting) + "one\r\n");
    EXPECT_TRUE(WaitFor("the screen to show the pane's text", [&] { return screen.Marked() > 0; }))
        << "marked pixels: " << screen.Marked();
    ASSERT_TRUE(varnel.Type("cls"));
    EXPECT_TRUE(WaitFor("the screen to show the pane blank after cls",
                        [&] { return screen.Marked() == 0; }))
        << "marked pixels: " << screen.Marked();
    for (const char* line : {"hex 41 00 42 0D 0A", "Dir", "echo two"})
        ASSERT_TRUE(varnel.Type(line)) << line;
    ASSERT_TRUE(varnel.PaneEndsWith("two\r\n"));
    EXPECT_EQ(varnel.Pane(), "AB\r\ntwo\r\n");
    EXPECT_TRUE(
        WaitFor("the screen to show the output after cls", [&] { return screen.Marked() > 0; }))
        << "marked pixels: " << screen.Marked();
    EXPECT_EQ(varnel.History(), (std::vector<std::string>{"dir", "echo one", "cls",
                                                          "hex 41 00 42 0D 0A", "echo two"}));
    for (const char* recalled : {"dir", "echo one"}) {
        PostMessageA(varnel.entry, WM_KEYDOWN, VK_DOWN, 0x01500001);
        EXPECT_TRUE(WaitFor(recalled, [&] { return varnel.EntryText() == recalled; }));
    }
    PostMessageA(varnel.entry, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ASSERT_TRUE(varnel.PaneEndsWith("two\r\none\r\n"));
    EXPECT_EQ(
        run.Input(),
        "dir\r\necho one\r\nDIR\r\n\r\nhex 41 00 42 0D 0A\r\nDir\r\necho two\r\necho one\r\n");
}

// The user's text in the pane: output always goes at the end, and the caret, a selection and
// what the user typed there stay where the user left them.
TEST_F(WindowTest, OutputGoesAtTheEndAndTheUsersCaretSelectionAndTextStay) {
    Start({"echo one", "echo two", "echo three"});
    ASSERT_TRUE(varnel.PaneEndsWith("three\r\n"));
    const std::string before = varnel.Pane();
    SendMessageA(varnel.pane, EM_SETSEL, 13, 13);  // inside "one"
    ASSERT_TRUE(varnel.Type("echo four"));
    ASSERT_TRUE(varnel.PaneEndsWith("four\r\n")) << varnel.Pane();
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(13, 13));
    SendMessageA(varnel.pane, WM_CHAR, 'Z', 0);
    const int start = sizeof(kGreeting) - 1, end = start + 18;  // "oZne", "two" and "three"
    SendMessageA(varnel.pane, EM_SETSEL, start, end);
    ASSERT_TRUE(varnel.Type("echo five"));
    ASSERT_TRUE(varnel.PaneEndsWith("five\r\n")) << varnel.Pane();
    EXPECT_EQ(varnel.Pane(), before.substr(0, 13) + "Z" + before.substr(13) + "four\r\nfive\r\n");
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(start, end));
}

// A user reading earlier output keeps their view while output comes; once back at the bottom,
// the view follows the output again, also while the user has text selected there, which stays
// selected.
TEST_F(WindowTest, TheViewFollowsOutputOnlyFromTheBottom) {
    auto endInView = [&] {
        const LRESULT length = SendMessageA(varnel.pane, WM_GETTEXTLENGTH, 0, 0);
        const LRESULT position = SendMessageA(varnel.pane, EM_POSFROMCHAR, length - 1, 0);
        RECT client;
        GetClientRect(varnel.pane, &client);
        const int y = static_cast<short>(HIWORD(position));
        return position != -1 && y >= 0 && y < client.bottom;
    };
    auto firstVisibleLine = [&] { return SendMessageA(varnel.pane, EM_GETFIRSTVISIBLELINE, 0, 0); };
    Start({"flood 40000"});
    ASSERT_TRUE(varnel.PaneEndsWith(kFloodEnd));
    ASSERT_TRUE(endInView()) << "the newest output is not in view";
    SendMessageA(varnel.pane, WM_VSCROLL, SB_TOP, 0);
    SendMessageA(varnel.pane, EM_LINESCROLL, 0, 100);
    const LRESULT reading = firstVisibleLine();
    ASSERT_GT(reading, 50);
    ASSERT_FALSE(endInView());
    ASSERT_TRUE(varnel.Type("echo more"));
    ASSERT_TRUE(varnel.PaneEndsWith("more\r\n"));
    EXPECT_EQ(firstVisibleLine(), reading) << "the view left the text the user reads";
    SendMessageA(varnel.pane, WM_VSCROLL, SB_BOTTOM, 0);
    ASSERT_TRUE(varnel.Type("flood 8000"));
    ASSERT_TRUE(varnel.PaneEndsWith(kFloodEnd));
    EXPECT_TRUE(endInView()) << "the view does not follow from the bottom";
    SendMessageA(varnel.pane, EM_SETSEL, 20, 26);
    SendMessageA(varnel.pane, WM_VSCROLL, SB_BOTTOM, 0);
    ASSERT_TRUE(endInView());
    ASSERT_TRUE(varnel.Type("drip 8 100"));
    for (int drip = 1; drip <= 8; ++drip) {
        const std::string line = "drip " + std::to_string(drip) + "\r\n";
        ASSERT_TRUE(varnel.PaneShows(line));
        EXPECT_TRUE(endInView()) << "the view fell behind with a selection, at " << line;
    }
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(20, 26));
}

// The interpreter stops reading for seconds while it still writes: the window keeps answering,
// keeps showing the output, and every typed line arrives afterwards, in order. Then "exit", in
// any case, ends the program as the close box does: nothing typed, the interpreter ended on the
// end of its input, and exit code 0.
TEST_F(WindowTest, StalledInterpreterNeverFreezesTheWindowAndExitEndsTheProgram) {
    Start();
    ASSERT_TRUE(varnel.Type("drip 30 100"));
    std::string expected = "drip 30 100\r\n";
    double worst = 0;
    for (int i = 0; i < 60; ++i) {
        std::string line = "echo line " + std::to_string(i) + " " + std::string(200, 'w');
        ASSERT_TRUE(varnel.Type(line));
        expected += line + "\r\n";
        const double trip = varnel.RoundTripMs();
        worst = std::max(worst, trip < 0 ? 1e9 : trip);
        Sleep(20);
    }
    // Output written while the interpreter was not reading has been shown meanwhile.
    EXPECT_TRUE(varnel.PaneShows("drip 10\r\n"));
    EXPECT_LT(run.Input().size(), expected.size()) << "the interpreter was not stalled";
    EXPECT_LT(worst, 100.0);
    ASSERT_TRUE(WaitFor(
        "the lines", [&] { return run.Input().size() >= expected.size(); }, 20000));
    EXPECT_EQ(run.Input(), expected);
    ASSERT_TRUE(varnel.PaneShows("line 59 "));
    ASSERT_TRUE(varnel.Type("Exit"));
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    EXPECT_EQ(run.Input(), expected);
    EXPECT_EQ(run.EventsNamed("eof").size(), 1u) << run.Events();
    EXPECT_EQ(run.EventsNamed("exit"), std::vector<std::vector<double>>{{0}})
        << "the interpreter did not end by itself";
}

// A line goes whole and exact or not at all. Past the interpreter's longest line it would have
// been cut; CharToOemA would have sent "€" as "?", a wildcard (this line would delete every
// "Müller-?.txt"); a CR would have travelled hidden inside it. Such a line stays in the field
// with what keeps it back selected, and the history does not take it. A tip just above the field
// says why, until the next key.
TEST_F(WindowTest, LinesThatCannotArriveWholeAndExactStayInTheField) {
    Start();
    const struct {
        std::string text;
        int start, end;
        std::string reason;
    } refused[] = {
        {"echo " + std::string(295, 'x'), 259, 300,
         "300 characters: the interpreter takes at most 259."},
        {"del M\xFCller-\x80.txt", 11, 12,
         "The interpreter's code page (OEM 437) has no \"\x80\"."},
        {"echo cr1\rcr2", 8, 9, "The line holds a line break, which would end it there."}};
    for (const auto& line : refused) {
        varnel.TypeAndWait(line.text);
        EXPECT_EQ(varnel.EntryText(), line.text);
        EXPECT_EQ(Selection(varnel.entry), std::make_pair(line.start, line.end));
        ASSERT_TRUE(Tip(varnel)) << line.reason;
        EXPECT_EQ(ControlText(Tip(varnel)), line.reason);
    }
    RECT tip, field;
    GetWindowRect(Tip(varnel), &tip);
    GetWindowRect(varnel.combo, &field);
    EXPECT_TRUE(tip.bottom == field.top && tip.left == field.left) << "not just above the field";
    PostMessageA(varnel.entry, WM_KEYDOWN, VK_END, 0x014F0001);
    EXPECT_TRUE(WaitFor("the tip gone at the next key", [&] { return !Tip(varnel); }));
    // Text that reached the field by neither typing nor pasting (an input method, another
    // program) is read as the field shows it, never as the "?" of the ANSI code page.
    SendMessageW(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"echo \x0414\x043E\x043C"));
    SendMessageTimeoutA(varnel.entry, WM_KEYDOWN, VK_RETURN, 0x001C0001, SMTO_NORMAL, 5000,
                        nullptr);
    EXPECT_EQ(Selection(varnel.entry), std::make_pair(5, 6));
    EXPECT_TRUE(varnel.History().empty());
    EXPECT_EQ(run.Input(), "");
}

// Wine's own interpreter answers, and ends with the window when the close box is pressed.
TEST_F(WindowTest, WineCmdShowsAnEchoAndEndsWithTheCloseBox) {
    ASSERT_TRUE(varnel.Start("C:\\windows\\system32\\cmd.exe"));
    ASSERT_TRUE(varnel.WaitForWindow());
    ASSERT_TRUE(varnel.Type("echo shown by cmd"));
    ASSERT_TRUE(varnel.PaneShows("shown by cmd\r\n")) << varnel.Pane();
    PostMessageA(varnel.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

// Under load: thousands of lines arrive in order among floods, the history holds each distinct
// one once, in its first spelling, and the handles stay level.
TEST_F(WindowTest, ThousandsOfCommandsAndFloodsArriveInOrderAndLeaveTheHandlesLevel) {
    Start();
    std::string expected;
    std::set<std::string> spellings;
    std::vector<std::string> history;  // each line once, whatever its case, as first typed
    DWORD before = 0;
    for (int i = 0; i < 2000; ++i) {
        // 150 distinct commands, each coming back every 150 lines in the next of three spellings;
        // now and then a flood and cls.
        const int spelling = (i + i / 150) % 3;
        const char* word = spelling == 0 ? "ECHO" : (spelling == 1 ? "echo" : "Echo");
        std::string line = word + std::string(" command ") + std::to_string(i * 7 % 150);
        if (i % 400 == 200) line = "flood 1000000";
        if (i % 400 == 201) line = "cls";
        varnel.TypeAndWait(line);
        expected += (line == "cls" ? "" : line) + "\r\n";
        spellings.insert(line);
        if (std::none_of(history.begin(), history.end(), [&](const std::string& entry) {
                return lstrcmpiA(entry.c_str(), line.c_str()) == 0;
            })) {
            history.push_back(line);
        }
        // Counted once the program has shown a flood: Wine opens some handles only then.
        if (i == 400) before = HandleCount(varnel.info.hProcess);
    }
    ASSERT_TRUE(WaitFor(
        "the lines", [&] { return run.Input().size() >= expected.size(); }, 20000));
    EXPECT_TRUE(run.Input() == expected) << "lines lost or out of order";
    ASSERT_EQ(spellings.size(), 3 * 150 + 2u) << "each command typed in three spellings";
    const std::vector<std::string> shown = varnel.History();
    EXPECT_EQ(shown.size(), history.size()) << "commands kept in more spellings than one, or lost";
    EXPECT_EQ(shown, history);
    const DWORD after = HandleCount(varnel.info.hProcess);
    EXPECT_GT(before, 0u);
    EXPECT_LE(after, before + 2) << "before " << before;
    EXPECT_GE(after + 2, before);
}

// An interpreter that ends, here in the middle of a flood: all its output is shown, then one line
// that says so with its exit code. A line typed afterwards would be lost: it stays in the field,
// selected, and goes neither to the history nor anywhere else. "cls" still empties the pane, and
// "exit" closes the window at once.
TEST_F(WindowTest, TheInterpretersEndIsToldAfterAllItWroteAndLaterLinesStayInTheField) {
    const std::string notice =
        "[The interpreter has ended with exit code 3.]\r\n"
        "[Press Enter to start it again.]\r\n";
    Start({"flood 2000000", "echo last words", "exit 3"});
    ASSERT_TRUE(varnel.PaneEndsWith(notice, 20000));
    const std::string shown = varnel.Pane();
    EXPECT_LE(shown.size(), 330u * 1024);
    EXPECT_TRUE(EndsWith(shown,
                         "00024999 abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz"
                         "abcdefghijklmnopq\r\nFLOOD END\r\nlast words\r\n" +
                             notice));
    varnel.TypeAndWait("echo lost");
    EXPECT_EQ(varnel.EntryText(), "echo lost");
    EXPECT_EQ(Selection(varnel.entry), std::make_pair(0, 9));
    EXPECT_TRUE(varnel.History().empty());
    EXPECT_EQ(run.Input(), "");
    EXPECT_GE(varnel.RoundTripMs(), 0);
    EXPECT_TRUE(varnel.Pane() == shown);
    ASSERT_TRUE(varnel.Type("cls"));
    EXPECT_EQ(varnel.Pane(), "");
    ASSERT_TRUE(varnel.Type("exit"));
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

// A program left running in the background holds the output pipe after the interpreter has ended:
// the notice comes all the same, while that program still writes.
TEST_F(WindowTest, TheInterpretersEndIsToldWhileABackgroundProgramHoldsThePipe) {
    Start({"spawn sleep 1000 ; drip 20 50", "exit 4"});
    ASSERT_TRUE(varnel.PaneShows("[The interpreter has ended with exit code 4.]\r\n"));
    EXPECT_EQ(varnel.Pane().find("drip 20"), std::string::npos) << "told only once the pipe broke";
    EXPECT_TRUE(varnel.PaneEndsWith("drip 20\r\n"));
}

// Closed while programs run: those on the interpreter's console are ended, and the interpreter
// that waited for them ends on the end of its input, rather than all running on hidden. A program
// started into a console of its own is the user's and keeps running.
TEST_F(WindowTest, TheCloseEndsTheProgramsOnTheInterpretersConsoleButNotTheUsersOwn) {
    Start({"start drip 300 100", "run drip 600 100"});
    ASSERT_TRUE(varnel.PaneShows("drip 2\r\n"));
    auto process = [&](const char* event) {
        const auto events = run.EventsNamed(event);
        return events.size() == 1 && events[0].size() == 1
                   ? OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                                 static_cast<DWORD>(events[0][0]))
                   : nullptr;
    };
    HANDLE own = process("started"), child = process("child");
    ASSERT_TRUE(own && child) << run.Events();
    varnel.Close();
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    EXPECT_EQ(WaitForSingleObject(child, 2000), WAIT_OBJECT_0) << "the program runs on hidden";
    EXPECT_TRUE(WaitFor(
        "the interpreter to end", [&] { return run.Events().find("exit 0") != std::string::npos; },
        2000))
        << run.Events();
    EXPECT_EQ(WaitForSingleObject(own, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the program in a console of its own was ended";
    TerminateProcess(own, 0);
    CloseHandle(own);
    CloseHandle(child);
}

// The close as a console window's: the window goes at once, nothing is typed into whatever reads
// the interpreter's input, and a second later nothing of what ran is left: neither an idle
// interpreter, which ends at once, nor a busy one, nor a program that ignores Ctrl+C.
TEST_F(WindowTest, TheCloseTypesNothingAndEndsWhatRuns) {
    const struct {
        std::vector<std::string> startup;
        std::string shown;  // once the pane shows this, it runs
    } cases[] = {{{}, kGreeting},
                 {{"prompt Type the folder to delete:"}, "delete:"},
                 {{"drip 600 100"}, "drip 2\r\n"},
                 {{"run ignore-ctrl-c ; drip 600 100"}, "drip 2\r\n"}};
    for (const auto& what : cases) {
        const std::string name = what.startup.empty() ? "idle" : what.startup[0];
        FakeRun record("close");
        VarnelProcess process;
        ASSERT_TRUE(process.Start(record.Comspec(what.startup).c_str()));
        ASSERT_TRUE(process.WaitForWindow());
        ASSERT_TRUE(process.PaneShows(what.shown)) << name;
        HANDLE interpreter = EventProcess(record, "start"), child = EventProcess(record, "child");
        ASSERT_TRUE(interpreter) << name;
        process.Close();
        ASSERT_TRUE(WaitFor("the window hidden", [&] { return !IsWindowVisible(process.dialog); }));
        if (child) {
            // This program keeps the interpreter from ending for as long as the close waits.
            EXPECT_EQ(WaitForSingleObject(interpreter, 0), static_cast<DWORD>(WAIT_TIMEOUT))
                << "the window was still shown when the interpreter was ended";
        }
        // An idle interpreter ends at once, and so does the window: no fixed wait.
        EXPECT_EQ(process.WaitForExit(child ? 5000 : 700), 0u) << name;
        EXPECT_EQ(WaitForSingleObject(interpreter, 1000), WAIT_OBJECT_0) << name << " runs on";
        if (child) {
            EXPECT_EQ(WaitForSingleObject(child, 1000), WAIT_OBJECT_0) << name;
        }
        EXPECT_EQ(record.Input(), "") << name;
        EXPECT_EQ(record.EventsNamed("answer").size(), 0u) << "the prompt had an answer";
        CloseHandle(interpreter);
        if (child) CloseHandle(child);
    }
}

// A program left running on the interpreter's console once the interpreter has ended, here one
// that ignores Ctrl+C, is still within reach: Ctrl+Break ends it. Enter then starts a new
// interpreter, whose greeting follows the notice, and ends such a program first, as does the
// close.
TEST_F(WindowTest, AProgramLeftByAnEndedInterpreterIsEndedByCtrlBreakTheRestartAndTheClose) {
    Start();
    const std::string ended = "[Press Enter to start it again.]\r\n";
    // Leaves a program that ignores Ctrl+C running, once the interpreter that started it has
    // ended with `code`; the program, opened to wait for it.
    auto leaveAProgram = [&](int code, size_t which) -> HANDLE {
        const std::string notice =
            "[The interpreter has ended with exit code " + std::to_string(code) + ".]\r\n";
        if (!varnel.Type("spawn ignore-ctrl-c ; drip 6000 100") ||
            !varnel.Type("exit " + std::to_string(code)) || !varnel.PaneShows(notice)) {
            return nullptr;
        }
        // Once it runs: a program joins the console as it starts, some milliseconds after its
        // launch.
        const size_t told = varnel.Pane().rfind(notice);
        if (!WaitFor("the program after the end",
                     [&] { return varnel.Pane().find("drip", told) != std::string::npos; })) {
            return nullptr;
        }
        return EventProcess(run, "child", which);
    };
    auto restart = [&] {
        PostMessageA(varnel.entry, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        return WaitFor("the new greeting", [&] {
            const std::string pane = varnel.Pane();
            return pane.find(kGreeting, pane.rfind(ended)) != std::string::npos;
        });
    };
    HANDLE first = leaveAProgram(5, 0);
    ASSERT_TRUE(first);
    PostMessageA(varnel.entry, WM_KEYDOWN, VK_CANCEL, 0x01460001);
    EXPECT_EQ(WaitForSingleObject(first, 2000), WAIT_OBJECT_0) << "Ctrl+Break did not end it";

    ASSERT_TRUE(restart()) << varnel.Pane();
    HANDLE second = leaveAProgram(6, 1);
    ASSERT_TRUE(second);
    ASSERT_TRUE(restart()) << varnel.Pane();
    EXPECT_EQ(WaitForSingleObject(second, 1000), WAIT_OBJECT_0) << "the restart did not end it";

    HANDLE third = leaveAProgram(7, 2);
    ASSERT_TRUE(third);
    varnel.Close();
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    EXPECT_EQ(WaitForSingleObject(third, 1000), WAIT_OBJECT_0) << "the close did not end it";
    for (HANDLE program : {first, second, third})
        CloseHandle(program);
}

// A failed launch, end to end: one message box and no main window shown, then exit code 0 once
// the box is dismissed. (What the box says, for each way to fail, is tested on the link.)
TEST(FailedStart, OneBoxThenExitCodeZero) {
    VarnelProcess varnel;
    ASSERT_TRUE(varnel.Start(nullptr));
    auto shown = [&] { return TopLevelWindows(varnel.info.dwProcessId, "#32770"); };
    ASSERT_TRUE(WaitFor("the message box", [&] { return !shown().empty(); }));
    Sleep(200);
    // The main window exists, hidden, while it initialises; only the box is ever shown.
    const std::vector<HWND> boxes = shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(ControlText(boxes[0]), "Error");
    EXPECT_NE(ControlText(GetDlgItem(boxes[0], 0xFFFF)).find("COMSPEC is not set."),
              std::string::npos);
    EXPECT_EQ(varnel.WaitForExit(300), static_cast<DWORD>(STILL_ACTIVE));
    PostMessageA(boxes[0], WM_COMMAND, IDOK, 0);
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

}  // namespace
