// The shipped executable end to end: varnel.exe started as a user would, with the stand-in
// interpreter (or Wine's cmd.exe) as COMSPEC, driven through its window from this process.
#include "fixtures.h"

namespace {

using WindowTest = VarnelTest;

TEST_F(WindowTest, TypedLinesArriveExactlyTheAnswersShowAndClsEmptiesThePane) {
    Start();
    ASSERT_TRUE(varnel.Type("echo hello from varnel"));
    ASSERT_TRUE(PaneEndsWith("hello from varnel\r\n"));
    EXPECT_EQ(varnel.Pane(), std::string(kGreeting) + "hello from varnel\r\n");
    ASSERT_TRUE(varnel.Type("CLS"));
    EXPECT_EQ(varnel.Pane(), "");
    ASSERT_TRUE(varnel.Type("echo after"));
    ASSERT_TRUE(PaneEndsWith("after\r\n"));
    EXPECT_EQ(varnel.Pane(), "after\r\n");
    EXPECT_EQ(run.Input(), "echo hello from varnel\r\n\r\necho after\r\n");
}

// Typed "exit" and the close box end the same way: the stop line once, a second for the
// interpreter to take it, exit code 0.
TEST_F(WindowTest, ExitIsSentOnceAndTheProgramEndsWithZero) {
    Start();
    const double start = NowMs();
    ASSERT_TRUE(varnel.Type("Exit"));
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    EXPECT_GE(NowMs() - start, 900.0);
    EXPECT_EQ(run.Input(), "exit\r\n");
}

TEST_F(WindowTest, CloseBoxSendsExitOnceAndEndsWithZero) {
    Start();
    PostMessageA(varnel.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(varnel.WaitForExit(), 0u);
    EXPECT_EQ(run.Input(), "exit\r\n");
}

// Distinct lines in the order entered, the first spelling kept; the arrow keys reach the combo
// box's own procedure and step through them, and Enter takes a recalled line like a typed one.
TEST_F(WindowTest, HistoryKeepsDistinctLinesAndTheArrowKeysStepThroughIt) {
    Start();
    for (const char* line : {"dir", "DIR", "echo one", "cls", "Dir", "echo two"})
        ASSERT_TRUE(varnel.Type(line)) << line;
    EXPECT_EQ(varnel.History(), (std::vector<std::string>{"dir", "echo one", "cls", "echo two"}));
    for (const char* recalled : {"dir", "echo one"}) {
        PostMessageA(varnel.entry, WM_KEYDOWN, VK_DOWN, 0x01500001);
        EXPECT_TRUE(WaitFor(recalled, [&] { return varnel.EntryText() == recalled; }));
    }
    PostMessageA(varnel.entry, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    const std::string expected = "dir\r\nDIR\r\necho one\r\n\r\nDir\r\necho two\r\necho one\r\n";
    EXPECT_TRUE(WaitFor("the lines", [&] { return run.Input().size() >= expected.size(); }));
    EXPECT_EQ(run.Input(), expected);
}

// The user's text in the pane: output always goes at the end, and the caret, a selection and the
// view stay where the user left them.
class PaneTest : public VarnelTest {
protected:
    LRESULT FirstVisibleLine() const {
        return SendMessageA(varnel.pane, EM_GETFIRSTVISIBLELINE, 0, 0);
    }
    bool EndInView() const {
        const LRESULT length = SendMessageA(varnel.pane, WM_GETTEXTLENGTH, 0, 0);
        const LRESULT position = SendMessageA(varnel.pane, EM_POSFROMCHAR, length - 1, 0);
        RECT client;
        GetClientRect(varnel.pane, &client);
        const int y = static_cast<short>(HIWORD(position));
        return position != -1 && y >= 0 && y < client.bottom;
    }
};

TEST_F(PaneTest, OutputGoesAtTheEndWhereverTheCaretStands) {
    Start({"echo first line", "echo second line"});
    ASSERT_TRUE(PaneEndsWith("second line\r\n"));
    const std::string before = varnel.Pane();
    SendMessageA(varnel.pane, EM_SETSEL, 15, 15);  // inside "first"
    ASSERT_TRUE(varnel.Type("echo third line"));
    ASSERT_TRUE(PaneEndsWith("third line\r\n")) << varnel.Pane();
    EXPECT_EQ(varnel.Pane(), before + "third line\r\n");
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(15, 15));
    // What the user types there stays there.
    SendMessageA(varnel.pane, WM_CHAR, 'Z', 0);
    ASSERT_TRUE(varnel.Type("echo fourth line"));
    ASSERT_TRUE(PaneEndsWith("fourth line\r\n")) << varnel.Pane();
    EXPECT_EQ(varnel.Pane(),
              before.substr(0, 15) + "Z" + before.substr(15) + "third line\r\nfourth line\r\n");
}

TEST_F(PaneTest, SelectedLinesStayAsTheyAreWhereTheyAre) {
    Start({"echo one", "echo two", "echo three", "echo four"});
    ASSERT_TRUE(PaneEndsWith("four\r\n"));
    const std::string before = varnel.Pane();
    const int start = sizeof(kGreeting) - 1, end = start + 17;  // "one", "two" and "three"
    SendMessageA(varnel.pane, EM_SETSEL, start, end);
    ASSERT_TRUE(varnel.Type("echo five"));
    ASSERT_TRUE(PaneEndsWith("five\r\n")) << varnel.Pane();
    EXPECT_EQ(varnel.Pane(), before + "five\r\n");
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(start, end));
    EXPECT_EQ(varnel.Pane().substr(start, end - start), "one\r\ntwo\r\nthree\r\n");
}

// A user reading earlier output keeps their view while output comes; once back at the bottom,
// the view follows the output again.
TEST_F(PaneTest, TheViewFollowsOutputOnlyFromTheBottom) {
    Start({"flood 40000"});
    ASSERT_TRUE(PaneEndsWith(kFloodEnd));
    ASSERT_TRUE(EndInView()) << "the newest output is not in view";
    SendMessageA(varnel.pane, WM_VSCROLL, SB_TOP, 0);
    SendMessageA(varnel.pane, EM_LINESCROLL, 0, 100);
    const LRESULT reading = FirstVisibleLine();
    ASSERT_GT(reading, 50);
    ASSERT_FALSE(EndInView());
    ASSERT_TRUE(varnel.Type("echo more"));
    ASSERT_TRUE(PaneEndsWith("more\r\n"));
    EXPECT_EQ(FirstVisibleLine(), reading) << "the view left the text the user reads";
    SendMessageA(varnel.pane, WM_VSCROLL, SB_BOTTOM, 0);
    ASSERT_TRUE(varnel.Type("flood 8000"));
    ASSERT_TRUE(PaneEndsWith(kFloodEnd));
    EXPECT_TRUE(EndInView()) << "the view does not follow from the bottom";
}

TEST_F(WindowTest, FloodAndZeroBytesReachThePane) {
    Start();
    ASSERT_TRUE(varnel.Type("hex 41 00 42 0D 0A"));
    ASSERT_TRUE(varnel.Type("flood 2000000"));
    ASSERT_TRUE(PaneShows(kFloodEnd, 30000));
    std::string text = varnel.Pane();
    EXPECT_LE(text.size(), 330u * 1024);
    EXPECT_EQ(text.substr(text.size() - 91),
              "00024999 abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzabcdefghijklmnopq\r\n"
              "FLOOD END\r\n");
    ASSERT_TRUE(varnel.Type("cls"));
    ASSERT_TRUE(varnel.Type("hex 41 00 42 00 43 0D 0A"));
    ASSERT_TRUE(PaneShows("ABC\r\n"));
    EXPECT_TRUE(varnel.Pane() == "ABC\r\n") << varnel.Pane().size();
}

// The interpreter stops reading for seconds while it still writes: the window keeps answering,
// keeps showing the output, and every typed line arrives afterwards, in order.
TEST_F(WindowTest, StalledInterpreterNeverFreezesTheWindow) {
    Start();
    ASSERT_TRUE(varnel.Type("drip 30 100"));
    std::string expected = "drip 30 100\r\n";
    double worst = 0;
    for (int i = 0; i < 60; ++i) {
        std::string line = "echo line " + std::to_string(i) + " " + std::string(200, 'w');
        ASSERT_TRUE(varnel.Type(line));
        expected += line + "\r\n";
        double trip = varnel.RoundTripMs();
        if (trip < 0 || trip > worst) worst = trip < 0 ? 1e9 : trip;
        Sleep(20);
    }
    // Output written while the interpreter was not reading has been shown meanwhile.
    EXPECT_NE(varnel.Pane().find("drip 10\r\n"), std::string::npos);
    EXPECT_LT(run.Input().size(), expected.size()) << "the interpreter was not stalled";
    EXPECT_LT(worst, 100.0);
    ASSERT_TRUE(WaitFor(
        "the lines", [&] { return run.Input().size() >= expected.size(); }, 20000));
    EXPECT_EQ(run.Input(), expected);
    ASSERT_TRUE(PaneShows("line 59 "));
}

// A line goes whole and exact or not at all. Past the interpreter's longest line it would have
// been cut; CharToOemA would have sent "€" as "?", a wildcard (the third line would delete every
// "Müller-?.txt"), and "Ã" as "A"; a CR would have travelled hidden inside it. Such a line stays
// in the field with what keeps it back selected, and the history does not take it.
TEST_F(WindowTest, LinesThatCannotArriveWholeAndExactStayInTheField) {
    Start();
    const std::string longer = "echo " + std::string(295, 'x');
    const struct {
        std::string text;
        int start, end;
    } refused[] = {{longer.substr(0, 260), 259, 260},
                   {longer, 259, 300},
                   {"del M\xFCller-\x80.txt", 11, 12},
                   {"echo \xC3", 5, 6},
                   {"echo cr1\rcr2", 8, 9}};
    for (const auto& line : refused) {
        varnel.TypeAndWait(line.text);
        EXPECT_EQ(varnel.EntryText(), line.text);
        EXPECT_EQ(Selection(varnel.entry), std::make_pair(line.start, line.end));
    }
    // Text that reached the field by neither typing nor pasting (an input method, another
    // program) is read as the field shows it, never as the "?" of the ANSI code page.
    SendMessageW(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"echo \x0414\x043E\x043C"));
    SendMessageTimeoutA(varnel.entry, WM_KEYDOWN, VK_RETURN, 0x001C0001, SMTO_NORMAL, 10000,
                        nullptr);
    EXPECT_EQ(Selection(varnel.entry), std::make_pair(5, 6));
    EXPECT_TRUE(varnel.History().empty());
    const std::string typed = "echo caf\xE9 M\xFCller se\xF1or Fu\xDF";
    ASSERT_TRUE(varnel.Type(typed));
    ASSERT_TRUE(PaneShows("Fu\xE1\r\n"));
    EXPECT_EQ(run.Input(), "echo caf\x82 M\x81ller se\xA4or Fu\xE1\r\n");
    EXPECT_EQ(varnel.History(), std::vector<std::string>{typed});
}

// A paste that the field cannot hold exactly as one line (Cyrillic would show as "???", a CR
// would hide inside the line) leaves the field as it was; one it can hold goes in.
TEST_F(WindowTest, PasteGoesIntoTheFieldOnlyWhenItFitsExactly) {
    Start();
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("dir "));
    SendMessageA(varnel.entry, EM_SETSEL, 4, 4);
    for (const wchar_t* text : {L"/b \x0414\x043E\x043C", L"/b cr1\rcr2", L"/b\r\n", L"\x0100"}) {
        ASSERT_TRUE(PutOnClipboard(owner, text));
        SendMessageW(varnel.entry, WM_PASTE, 0, 0);
        EXPECT_EQ(varnel.EntryText(), "dir ") << "pasted " << text;
    }
    ASSERT_TRUE(PutOnClipboard(owner, L"caf\x00E9"));
    SendMessageW(varnel.entry, WM_PASTE, 0, 0);
    EXPECT_EQ(varnel.EntryText(), "dir caf\xE9");
    DestroyWindow(owner);
    varnel.TypeAndWait(varnel.EntryText());
    ASSERT_TRUE(WaitFor("the line", [&] { return run.Input().size() >= 10; }));
    EXPECT_EQ(run.Input(), "dir caf\x82\r\n");
}

TEST_F(WindowTest, WineCmdShowsAnEcho) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_TRUE(varnel.Start((std::string(system) + "\\cmd.exe").c_str()));
    ASSERT_TRUE(varnel.WaitForWindow());
    ASSERT_TRUE(varnel.Type("echo shown by cmd"));
    ASSERT_TRUE(PaneShows("shown by cmd\r\n")) << varnel.Pane();
    varnel.Close();
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

// Under load and after the interpreter has gone: thousands of lines in order; an interpreter that
// ends in the middle of a flood has all its output shown, and leaves a window that takes lines
// quietly and closes as usual; and the handles stay level.
TEST_F(WindowTest, ThousandsOfCommandsArriveInOrder) {
    Start();
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        // 150 distinct commands, each typed in three spellings.
        const char* word = i % 3 == 0 ? "ECHO" : (i % 3 == 1 ? "echo" : "Echo");
        const std::string line = word + std::string(" command ") + std::to_string(i * 7 % 150);
        varnel.TypeAndWait(line);
        expected += line + "\r\n";
    }
    ASSERT_TRUE(WaitFor("the lines", [&] { return run.Input().size() >= expected.size(); }));
    EXPECT_TRUE(run.Input() == expected) << "lines lost or out of order";
    EXPECT_EQ(varnel.History().size(), 150u);
    EXPECT_TRUE(PaneEndsWith("command " + std::to_string(1999 * 7 % 150) + "\r\n"));
}

TEST_F(WindowTest, InterpreterEndingInAFloodHasItsOutputShownAndLeavesAUsableWindow) {
    Start({"flood 1000000", "echo last words", "exit 3"});
    ASSERT_TRUE(PaneEndsWith(std::string(kFloodEnd) + "last words\r\n", 20000));
    const std::string shown = varnel.Pane();
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(varnel.Type("echo " + std::to_string(i)));
    EXPECT_EQ(varnel.History().size(), 50u);
    EXPECT_GE(varnel.RoundTripMs(), 0);
    EXPECT_TRUE(varnel.Pane() == shown);
    ASSERT_TRUE(varnel.Type("exit"));
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

TEST_F(WindowTest, HandleCountStaysLevelOverCommandsAndFloods) {
    Start();
    varnel.TypeAndWait("echo warm up");
    varnel.TypeAndWait("flood 100000");
    ASSERT_TRUE(PaneEndsWith(kFloodEnd));
    const DWORD before = HandleCount(varnel.info.hProcess);
    ASSERT_GT(before, 0u);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 100; ++i)
            varnel.TypeAndWait("echo round " + std::to_string(i));
        varnel.TypeAndWait("flood 1000000");
        varnel.TypeAndWait("cls");
        varnel.TypeAndWait("echo done " + std::to_string(round));
        ASSERT_TRUE(PaneEndsWith("done " + std::to_string(round) + "\r\n", 20000));
    }
    const DWORD after = HandleCount(varnel.info.hProcess);
    EXPECT_LE(after, before + 2) << "before " << before;
    EXPECT_GE(after + 2, before);
}

// A failed launch, end to end: one message box and no main window shown, then exit code 0 once
// the box is dismissed. (What the box says, for each way to fail, is tested on the link.)
TEST(FailedStart, OneBoxThenExitCodeZero) {
    VarnelProcess varnel;
    ASSERT_TRUE(varnel.Start(nullptr));
    auto visibleDialogs = [&] {
        std::vector<HWND> visible;
        for (HWND window : TopLevelWindows(varnel.info.dwProcessId, "#32770"))
            if (IsWindowVisible(window)) visible.push_back(window);
        return visible;
    };
    ASSERT_TRUE(WaitFor("the message box", [&] { return !visibleDialogs().empty(); }));
    Sleep(200);
    // The main window exists, hidden, while it initialises; only the box is ever shown.
    const std::vector<HWND> boxes = visibleDialogs();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(WindowTextOf(boxes[0]), "Error");
    EXPECT_NE(WindowTextOf(GetDlgItem(boxes[0], 0xFFFF)).find("COMSPEC is not set."),
              std::string::npos);
    EXPECT_EQ(varnel.WaitForExit(300), static_cast<DWORD>(STILL_ACTIVE));
    PostMessageA(boxes[0], WM_COMMAND, IDOK, 0);
    EXPECT_EQ(varnel.WaitForExit(), 0u);
}

}  // namespace
