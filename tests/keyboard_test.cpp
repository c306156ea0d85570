// Real keystrokes into varnel.exe's window through the system's input path, and where its keyboard
// focus goes. Keystrokes go to whichever window is in the foreground, so these tests run alone,
// with no other test's window able to take the foreground or the focus from them.
#include "fixtures.h"

#include <dlgs.h>

namespace {

INPUT Key(WORD key, DWORD flags = 0, WCHAR character = 0) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = character;
    input.ki.dwFlags = flags;
    return input;
}

void Send(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// A key, with Shift or Ctrl held when `modifier` names one.
void Press(WORD key, WORD modifier = 0) {
    if (!modifier) return Send({Key(key), Key(key, KEYEVENTF_KEYUP)});
    Send({Key(modifier), Key(key), Key(key, KEYEVENTF_KEYUP), Key(modifier, KEYEVENTF_KEYUP)});
}

class KeyboardTest : public VarnelTest {
protected:
    // Starts varnel.exe and brings its window to the foreground, where keystrokes go.
    void SetUp() override {
        Start();
        SetForegroundWindow(varnel.dialog);
        ASSERT_TRUE(WaitFor("the window in the foreground",
                            [&] { return GetForegroundWindow() == varnel.dialog; }));
    }
    HWND Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        return GetGUIThreadInfo(varnel.info.dwThreadId, &info) ? info.hwndFocus : nullptr;
    }
    // Waits for the focus to reach `window`, then for a moment in which it could leave again.
    bool FocusSettlesOn(HWND window) {
        if (!WaitFor("the focus", [&] { return Focus() == window; })) return false;
        Sleep(200);
        return Focus() == window;
    }
    // A click into the pane, as the user puts the caret there.
    void ClickIntoPane() {
        PostMessageA(varnel.pane, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8, 8));
        PostMessageA(varnel.pane, WM_LBUTTONUP, 0, MAKELPARAM(8, 8));
    }
    bool TypedLineArrives(const std::string& line) {
        Press(VK_RETURN);
        return varnel.PaneShows(line.substr(5) + "\r\n") && run.Input() == line + "\r\n";
    }
};

// Tab and Escape stay in the entry field, and Enter there never acts as a default button. Escape in
// the field clears the line, as in a console, and never closes the window; in the pane it does
// nothing. Tab and Shift+Tab in the pane lead back to the entry field, which is no tab stop, and
// leave the pane's selection as it was. The field scrolls: the longest line the interpreter takes,
// typed key by key, arrives whole.
TEST_F(KeyboardTest, KeysStayInTheEntryFieldTabInThePaneLeadsBackAndTheLongestLineArrives) {
    for (WORD key : {VK_TAB, VK_ESCAPE, VK_TAB, VK_ESCAPE}) {
        Press(key);
        Sleep(100);
        ASSERT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
        EXPECT_EQ(Focus(), varnel.entry) << "key " << key;
    }
    SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("echo a draft"));
    SendMessageA(varnel.entry, EM_SETSEL, 4, 4);
    Press(VK_ESCAPE);
    EXPECT_TRUE(WaitFor("the line cleared", [&] { return varnel.EntryText().empty(); }))
        << varnel.EntryText();
    Press('Z', VK_CONTROL);
    EXPECT_TRUE(WaitFor("the line back", [&] { return varnel.EntryText() == "echo a draft"; }));
    Press(VK_ESCAPE);
    EXPECT_TRUE(WaitFor("the line cleared again", [&] { return varnel.EntryText().empty(); }));
    Sleep(200);
    ASSERT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE)) << "Escape closed";
    EXPECT_EQ(varnel.EntryText(), "") << "a name listed for a Tab came after Escape";
    for (WORD modifier : {0, VK_SHIFT}) {
        ClickIntoPane();
        ASSERT_TRUE(FocusSettlesOn(varnel.pane));
        SendMessageA(varnel.pane, EM_SETSEL, 3, 3);
        if (!modifier) {
            Press(VK_ESCAPE);  // a multi-line edit control would close its dialog
            Sleep(200);
            ASSERT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE)) << "Escape closed";
        }
        Press(VK_TAB, modifier);
        EXPECT_TRUE(FocusSettlesOn(varnel.entry)) << (modifier ? "Shift+Tab" : "Tab");
        EXPECT_EQ(Selection(varnel.pane), std::make_pair(3, 3));
    }
    std::string line = "echo keys ";
    for (size_t i = 0; line.size() < 259; ++i)
        line += "abcdefghijklmnopqrstuvwxyz0123456789"[i % 36];
    for (char c : line)  // the keys of letters, digits and the space bar: codes of their own
        Press(static_cast<WORD>(toupper(static_cast<unsigned char>(c))));
    EXPECT_TRUE(WaitFor(
        "the typed line in the field", [&] { return varnel.EntryText().size() >= line.size(); },
        20000))
        << varnel.EntryText().size() << " characters in the field";
    ASSERT_EQ(varnel.EntryText(), line);
    EXPECT_TRUE(TypedLineArrives(line));
    EXPECT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

// The field holds every character typed or pasted into it. Enter sends a line only as the
// interpreter's code page carries it exactly: a character that OEM 437 lacks keeps the line in the
// field with a tip naming it, rather than going as a "?", a wildcard to the interpreter. Once the
// interpreter has run "chcp 65001", the same line goes, in UTF-8.
TEST_F(KeyboardTest, TheFieldHoldsEveryCharacterAndEnterSendsWhatTheConsolesPageCarries) {
    const std::wstring typed = L"echo \x0414\x043E\x043C? caf\x00E9";
    auto typeCharacters = [&] {
        // Characters as such, the way an input method or another keyboard layout sends them.
        for (wchar_t c : typed)
            Send({Key(0, KEYEVENTF_UNICODE, c), Key(0, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP, c)});
        return WaitFor("the typed text in the field",
                       [&] { return ControlTextW(varnel.entry) == typed; });
    };
    ASSERT_TRUE(typeCharacters()) << varnel.EntryText();
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    ASSERT_TRUE(PutOnClipboard(owner, L" \x0100\r\n"));
    Press('V', VK_CONTROL);
    EXPECT_TRUE(WaitFor("the pasted text in the field", [&] {
        return ControlTextW(varnel.entry) == typed + L" \x0100";
    })) << varnel.EntryText();
    DestroyWindow(owner);
    Press(VK_RETURN);
    EXPECT_TRUE(WaitFor("the tip", [&] { return Tip(varnel) != nullptr; }));
    EXPECT_EQ(ControlTextW(Tip(varnel)),
              L"The interpreter's code page (OEM 437) has no \"\x0414\".");
    EXPECT_EQ(Selection(varnel.entry), std::make_pair(5, 6));
    EXPECT_EQ(run.Input(), "");

    SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    ASSERT_TRUE(varnel.Type("chcp 65001"));
    ASSERT_TRUE(varnel.Type("echo switched"));
    ASSERT_TRUE(varnel.PaneShows("switched\r\n"));
    ASSERT_TRUE(typeCharacters());
    Press(VK_RETURN);
    EXPECT_TRUE(WaitFor("the line in UTF-8", [&] {
        return EndsWith(run.Input(), "echo \xD0\x94\xD0\xBE\xD0\xBC? caf\xC3\xA9\r\n");
    })) << run.Input();
    EXPECT_TRUE(WaitFor("the answer", [&] {
        const std::wstring pane = ControlTextW(varnel.pane), tail = typed.substr(5) + L"\r\n";
        return pane.size() >= tail.size() && pane.substr(pane.size() - tail.size()) == tail;
    }));
}

// What the clipboard holds as text.
std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr)) return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const auto* wide = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
        text = Narrow(wide, static_cast<LRESULT>(wcslen(wide)));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// A program that never ends. With text selected in the field, Ctrl+C copies it and stops nothing.
// With nothing selected, Ctrl+C interrupts as a console does: the program dies of it, the
// interpreter lives through it and answers the next line. A program that ignores Ctrl+C is ended
// by Ctrl+Break, here pressed in the pane, and the interpreter again answers.
TEST_F(KeyboardTest, CtrlCAndCtrlBreakStopWhatTheInterpreterRuns) {
    auto programEnded = [&](size_t count) {
        return WaitFor("the program to end",
                       [&] { return run.EventsNamed("child-exit").size() == count; });
    };
    // The interpreter logs its Ctrl+C on a thread of its own, often after the program's end.
    auto interpreterInterrupted = [&](size_t count) {
        return WaitFor("the interpreter's ctrl-c",
                       [&] { return run.EventsNamed("ctrl-c").size() == count; });
    };
    auto dripsAfter = [&](const std::string& mark, int drips) {
        const std::string text = "drip " + std::to_string(drips) + "\r\n";
        return WaitFor(("drips after " + mark).c_str(), [&] {
            const std::string pane = varnel.Pane();
            const size_t at = pane.rfind(mark);
            return at != std::string::npos && pane.find(text, at) != std::string::npos;
        });
    };
    ASSERT_TRUE(varnel.Type("run drip 600 100"));
    ASSERT_TRUE(dripsAfter(kGreeting, 2));
    SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("echo copied"));
    SendMessageA(varnel.entry, EM_SETSEL, 0, -1);
    Press('C', VK_CONTROL);
    EXPECT_TRUE(WaitFor("the copy", [&] { return ClipboardText() == "echo copied"; }));
    Sleep(300);
    EXPECT_TRUE(run.EventsNamed("child-exit").empty()) << "Ctrl+C with a selection stopped it";
    SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    Press('C', VK_CONTROL);
    ASSERT_TRUE(programEnded(1)) << run.Events();
    EXPECT_TRUE(interpreterInterrupted(1)) << run.Events();
    ASSERT_TRUE(varnel.Type("echo answered"));
    ASSERT_TRUE(varnel.PaneShows("answered\r\n"));

    ASSERT_TRUE(varnel.Type("run ignore-ctrl-c ; drip 600 100"));
    ASSERT_TRUE(dripsAfter("answered\r\n", 2));
    Press('C', VK_CONTROL);
    EXPECT_TRUE(interpreterInterrupted(2)) << run.Events();
    ASSERT_TRUE(dripsAfter("answered\r\n", 6)) << "the program died of Ctrl+C";
    ClickIntoPane();
    ASSERT_TRUE(FocusSettlesOn(varnel.pane));
    Press(VK_CANCEL, VK_CONTROL);
    ASSERT_TRUE(programEnded(2)) << run.Events();
    ASSERT_TRUE(varnel.Type("echo again"));
    EXPECT_TRUE(varnel.PaneShows("again\r\n"));
    EXPECT_EQ(run.EventsNamed("ctrl-c").size(), 2u) << "Ctrl+Break also sent Ctrl+C";
}

// The history from the keyboard: the first Up recalls the last line sent, wherever the history
// keeps it (each command once, as first typed), and Up and Down step on from there. Ctrl+A selects
// the whole line in the field and the whole pane in the pane.
TEST_F(KeyboardTest, UpRecallsTheLastLineSentAndCtrlASelectsAll) {
    for (const char* line : {"echo first", "echo second", "echo third"})
        ASSERT_TRUE(varnel.Type(line));
    auto recalls = [&](WORD key, const std::string& line) {
        Press(key);
        return WaitFor(line.c_str(), [&] { return varnel.EntryText() == line; });
    };
    EXPECT_TRUE(recalls(VK_UP, "echo third"));
    EXPECT_TRUE(recalls(VK_UP, "echo second"));
    EXPECT_TRUE(recalls(VK_UP, "echo first"));
    EXPECT_TRUE(recalls(VK_DOWN, "echo second"));
    Press(VK_RETURN);
    ASSERT_TRUE(WaitFor("the line sent", [&] { return varnel.EntryText().empty(); }));
    EXPECT_TRUE(recalls(VK_UP, "echo second")) << "not the line just sent";
    EXPECT_TRUE(recalls(VK_UP, "echo first"));
    ASSERT_TRUE(varnel.Type("ECHO FIRST"));
    EXPECT_TRUE(recalls(VK_UP, "echo first"));
    EXPECT_TRUE(recalls(VK_DOWN, "echo second"));
    EXPECT_EQ(varnel.History(),
              (std::vector<std::string>{"echo first", "echo second", "echo third"}));

    SendMessageA(varnel.entry, EM_SETSEL, 2, 2);
    Press('A', VK_CONTROL);
    EXPECT_TRUE(WaitFor("the whole line selected",
                        [&] { return Selection(varnel.entry) == std::make_pair(0, 11); }));
    EXPECT_EQ(varnel.EntryText(), "echo second");
    ClickIntoPane();
    ASSERT_TRUE(FocusSettlesOn(varnel.pane));
    SendMessageA(varnel.pane, EM_SETSEL, 3, 3);
    Press('A', VK_CONTROL);
    const int length = static_cast<int>(varnel.Pane().size());
    EXPECT_TRUE(WaitFor("the whole pane selected",
                        [&] { return Selection(varnel.pane) == std::make_pair(0, length); }));
    EXPECT_EQ(static_cast<int>(varnel.Pane().size()), length);
}

// The pane read back from the entry field: the page keys, Ctrl+Home and Ctrl+End scroll it while
// the draft and the focus stay; back at the bottom, the view follows new output again.
TEST_F(KeyboardTest, ThePageKeysInTheFieldReadBackThePane) {
    ASSERT_TRUE(varnel.Type("flood 6400"));  // 80 lines
    ASSERT_TRUE(varnel.PaneEndsWith(kFloodEnd));
    auto firstLine = [&] { return SendMessageA(varnel.pane, EM_GETFIRSTVISIBLELINE, 0, 0); };
    auto movesTo = [&](WORD key, WORD modifier, const std::function<bool(LRESULT)>& where) {
        Press(key, modifier);
        return WaitFor("the pane to scroll", [&] { return where(firstLine()); });
    };
    SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("draft"));
    const LRESULT bottom = firstLine();
    ASSERT_GT(bottom, 40);
    EXPECT_TRUE(movesTo(VK_PRIOR, 0, [&](LRESULT line) { return line < bottom; }));
    const LRESULT pageUp = firstLine();
    EXPECT_TRUE(movesTo(VK_PRIOR, 0, [&](LRESULT line) { return line < pageUp; }));
    EXPECT_TRUE(movesTo(VK_NEXT, 0, [&](LRESULT line) { return line > pageUp; }));
    EXPECT_TRUE(movesTo(VK_HOME, VK_CONTROL, [](LRESULT line) { return line == 0; }));
    EXPECT_EQ(varnel.EntryText(), "draft");
    EXPECT_EQ(Focus(), varnel.entry);
    EXPECT_TRUE(movesTo(VK_END, VK_CONTROL, [&](LRESULT line) { return line == bottom; }));
    ASSERT_TRUE(varnel.Type("flood 800"));
    ASSERT_TRUE(varnel.Type("echo more"));
    ASSERT_TRUE(varnel.PaneEndsWith("more\r\n"));
    EXPECT_GT(firstLine(), bottom) << "the view does not follow from the bottom";

    // F4 and Alt+Down open the history's list; with it open every key is the list's, the page
    // keys too; Escape closes the list, never the window.
    const LRESULT end = firstLine();
    auto dropped = [&](bool open) {
        return WaitFor(open ? "the list open" : "the list closed", [&] {
            return (SendMessageA(varnel.combo, CB_GETDROPPEDSTATE, 0, 0) != 0) == open;
        });
    };
    const struct {
        const char* name;
        std::function<void()> open;
    } openers[] = {
        {"F4", [] { Press(VK_F4); }},
        {"Alt+Down", [] { Press(VK_DOWN, VK_MENU); }},
        {"CB_SHOWDROPDOWN", [&] { SendMessageA(varnel.combo, CB_SHOWDROPDOWN, TRUE, 0); }}};
    for (const auto& opener : openers) {
        opener.open();
        EXPECT_TRUE(dropped(true)) << opener.name;
        Press(VK_PRIOR);
        Sleep(200);
        EXPECT_EQ(firstLine(), end) << "the pane moved under the open list, " << opener.name;
        const std::string shown = varnel.EntryText();
        Press(VK_ESCAPE);
        EXPECT_TRUE(dropped(false)) << opener.name;
        Sleep(100);
        ASSERT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE)) << "Escape closed";
        EXPECT_EQ(varnel.EntryText(), shown) << "Escape cleared the line under the open list";
    }
}

// The message boxes that varnel.exe shows besides its main window.
std::vector<HWND> Boxes(const VarnelProcess& varnel) {
    std::vector<HWND> boxes = TopLevelWindows(varnel.info.dwProcessId, "#32770");
    boxes.erase(std::remove(boxes.begin(), boxes.end(), varnel.dialog), boxes.end());
    return boxes;
}

// Pastes into the entry field. A line with its line end, as copied from the pane, goes in as that
// line. Several lines go only after one question that shows how many and the first of them: No
// sends nothing, Yes sends each as if typed and entered, "exit" among them as a line, and a block
// far larger than the input queue goes whole and in order. A block holding a line that cannot go
// sends nothing and leaves the draft as it was; a tip says why, until the next key. A close while
// the question is open answers it No and ends the program at once.
TEST_F(KeyboardTest, ALinePastesAsThatLineAndABlockRunsWholeOnlyAfterOneQuestion) {
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    for (const wchar_t* line : {L"say pasted\r\n", L"say pasted\n", L"say pasted\r"}) {
        SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        ASSERT_TRUE(PutOnClipboard(owner, line));
        Press('V', VK_CONTROL);
        EXPECT_TRUE(WaitFor("the pasted line", [&] { return varnel.EntryText() == "say pasted"; }))
            << varnel.EntryText();
    }
    ASSERT_TRUE(varnel.Type("ignore-exit"));
    SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("draft"));
    auto question = [&] {
        return WaitFor("the question", [&] { return Boxes(varnel).size() == 1; })
                   ? ControlText(GetDlgItem(Boxes(varnel)[0], 0xFFFF))
                   : "";
    };
    auto answer = [&](int button) {
        PostMessageA(Boxes(varnel)[0], WM_COMMAND, button, 0);
        return WaitFor("the answer taken", [&] { return Boxes(varnel).empty(); });
    };
    ASSERT_TRUE(PutOnClipboard(owner, L"echo one\r\nexit\necho three\r\n"));
    for (int button : {IDNO, IDYES}) {
        Press('V', VK_CONTROL);
        const std::string asked = question();
        EXPECT_NE(asked.find("3 lines"), std::string::npos) << asked;
        EXPECT_NE(asked.find("echo one\nexit\necho three"), std::string::npos) << asked;
        EXPECT_EQ(run.Input(), "ignore-exit\r\n") << "sent before the answer";
        ASSERT_TRUE(answer(button));
    }
    ASSERT_TRUE(varnel.PaneEndsWith("one\r\nthree\r\n"));
    std::string sent = "ignore-exit\r\necho one\r\nexit\r\necho three\r\n";
    EXPECT_EQ(run.Input(), sent);
    EXPECT_EQ(varnel.EntryText(), "draft");
    EXPECT_EQ(varnel.History(),
              (std::vector<std::string>{"ignore-exit", "echo one", "exit", "echo three"}));

    // 5,000 lines, 120,000 bytes.
    std::wstring block;
    for (int i = 0; i < 5000; ++i) {
        const std::string line = "echo " + std::to_string(10000 + i) + " abcdefghijk";
        block += std::wstring(line.begin(), line.end()) + L"\r\n";
        sent += line + "\r\n";
    }
    ASSERT_TRUE(PutOnClipboard(owner, block));
    Press('V', VK_CONTROL);
    EXPECT_NE(question().find("5000 lines"), std::string::npos);
    ASSERT_TRUE(answer(IDYES));
    EXPECT_TRUE(WaitFor(
        "the block", [&] { return run.Input().size() >= sent.size(); }, 30000));
    EXPECT_TRUE(run.Input() == sent) << run.Input().size() << " bytes read of " << sent.size();
    EXPECT_EQ(varnel.History().size(), 5004u);

    // "€" has no place in the interpreter's code page: nothing is sent, nothing asked.
    SendMessageA(varnel.entry, EM_SETSEL, 1, 3);
    ASSERT_TRUE(PutOnClipboard(owner, L"echo fine\r\necho caf\x20AC\r\necho last"));
    Press('V', VK_CONTROL);
    EXPECT_TRUE(WaitFor("the tip", [&] { return Tip(varnel) != nullptr; }));
    EXPECT_EQ(ControlText(Tip(varnel)),
              "Line 2 of the paste: the interpreter's code page (OEM 437) has no \"\x80\".");
    EXPECT_EQ(varnel.EntryText(), "draft");
    EXPECT_EQ(Selection(varnel.entry), std::make_pair(1, 3));
    Press(VK_END);
    EXPECT_TRUE(WaitFor("the tip gone at the next key", [&] { return Tip(varnel) == nullptr; }));
    EXPECT_TRUE(Boxes(varnel).empty());
    EXPECT_TRUE(run.Input() == sent);

    ASSERT_TRUE(PutOnClipboard(owner, L"echo never\r\necho sent\r\n"));
    Press('V', VK_CONTROL);
    ASSERT_NE(question(), "");
    varnel.Close();
    EXPECT_EQ(varnel.WaitForExit(3000), 0u) << "the question kept the program";
    EXPECT_EQ(run.Input().find("never"), std::string::npos);
    DestroyWindow(owner);
}

// After the window is minimised and restored, or deactivated and activated, the focus is where
// the user left it, and the pane's selection as it was: the dialog manager would put the focus
// into the pane with all its text selected, for the next key to replace.
TEST_F(KeyboardTest, FocusComesBackWhereTheUserLeftIt) {
    auto leaveAndComeBack = [&](HWND userIn) {
        const std::pair<int, int> selected = Selection(varnel.pane);
        for (WPARAM command : {SC_MINIMIZE, SC_RESTORE}) {
            SendMessageTimeoutA(varnel.dialog, WM_SYSCOMMAND, command, 0, SMTO_NORMAL, 5000,
                                nullptr);
            EXPECT_TRUE(WaitFor("the window minimised or restored", [&] {
                return (IsIconic(varnel.dialog) != FALSE) == (command == SC_MINIMIZE);
            }));
        }
        EXPECT_TRUE(FocusSettlesOn(userIn)) << "restored";
        EXPECT_EQ(Selection(varnel.pane), selected);
        // Another window of this process takes the foreground, then varnel.exe's window again.
        HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                     nullptr, nullptr, nullptr, nullptr);
        for (HWND window : {other, varnel.dialog}) {
            SetForegroundWindow(window);
            EXPECT_TRUE(WaitFor("a window in the foreground",
                                [&] { return GetForegroundWindow() == window; }));
        }
        DestroyWindow(other);
        EXPECT_TRUE(FocusSettlesOn(userIn)) << "activated again";
        EXPECT_EQ(Selection(varnel.pane), selected);
    };
    ASSERT_TRUE(FocusSettlesOn(varnel.entry));
    leaveAndComeBack(varnel.entry);
    ClickIntoPane();
    ASSERT_TRUE(FocusSettlesOn(varnel.pane));
    SendMessageA(varnel.pane, EM_SETSEL, 2, 5);
    leaveAndComeBack(varnel.pane);
}

// Finding in the pane. Ctrl+F in the field opens the system's Find box, whose keys work though the
// window runs in the system's modal dialog loop: letters into its text, Alt+C for Match case,
// Alt+D and Alt+U for the direction, Tab between its controls, Enter for Find Next, Escape to close
// it, the focus going back where it was. A new box searches up, from the end; each Find Next
// selects the match and brings it into view; with no more, the window beeps, the tip says so and
// the selection stays. F3 and Shift+F3 find the next and the previous match without the box. From
// the pane, the box starts with the pane's selection when it lies on one line, as shown (the "é"
// that the OEM code page's 0x82 shows as), and else with the last search. While a match is shown
// away from the end, output goes on at the end without moving the view or the selection. A close
// with the box open closes both.
TEST_F(KeyboardTest, CtrlFFindsInThePaneAndF3FindsAgain) {
    for (const char* line : {"echo first needle", "flood 6400", "echo NEEDLE second",
                             "hex 63 61 66 82 0D 0A", "echo end"})
        ASSERT_TRUE(varnel.Type(line));
    ASSERT_TRUE(varnel.PaneEndsWith("end\r\n"));
    const std::string pane = varnel.Pane();
    const int first = static_cast<int>(pane.find("needle")),
              second = static_cast<int>(pane.find("NEEDLE")),
              cafe = static_cast<int>(pane.find("caf\xE9"));
    auto inView = [&](int at) {
        RECT area;
        GetClientRect(varnel.pane, &area);
        const auto position = SendMessageA(varnel.pane, EM_POSFROMCHAR, at, 0);
        const int y = static_cast<short>(HIWORD(position));
        return position != -1 && y >= 0 && y < area.bottom;
    };
    // Selected, in the pane's view, and not under the box when it is open.
    auto selected = [&](int at, int count) {
        if (!WaitFor("the match selected",
                     [&] { return Selection(varnel.pane) == std::make_pair(at, at + count); }) ||
            !inView(at)) {
            return false;
        }
        const auto position = SendMessageA(varnel.pane, EM_POSFROMCHAR, at, 0);
        POINT match = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
        ClientToScreen(varnel.pane, &match);
        RECT box{};
        return Boxes(varnel).empty() || (GetWindowRect(Boxes(varnel)[0], &box) &&
                                         (match.y + 8 < box.top || match.y > box.bottom));
    };
    auto tipSays = [&](const std::string& text) {
        return WaitFor(("the tip " + text).c_str(),
                       [&] { return Tip(varnel) && ControlText(Tip(varnel)) == text; });
    };
    auto openBox = [&](HWND* box) {
        Press('F', VK_CONTROL);
        *box = WaitFor("the Find box", [&] { return Boxes(varnel).size() == 1; }) ? Boxes(varnel)[0]
                                                                                  : nullptr;
        return *box != nullptr && FocusSettlesOn(GetDlgItem(*box, edt1));
    };
    auto checked = [](HWND box, int control) {
        return WaitFor("a button of the box",
                       [&] { return IsDlgButtonChecked(box, control) == BST_CHECKED; });
    };
    auto boxClosed = [&] {
        return WaitFor("the box closed", [&] { return Boxes(varnel).empty(); });
    };

    HWND box = nullptr;
    ASSERT_TRUE(openBox(&box));
    HWND what = GetDlgItem(box, edt1);
    EXPECT_EQ(ControlText(what), "");
    for (char c : std::string("NEEDLE"))
        Press(static_cast<WORD>(c));
    EXPECT_TRUE(WaitFor("the text typed", [&] { return ControlText(what) == "needle"; }));
    // The box over the match it is to find, in view at the end: the box moves off it.
    const auto position = SendMessageA(varnel.pane, EM_POSFROMCHAR, second, 0);
    POINT covered = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ClientToScreen(varnel.pane, &covered);
    RECT area;
    GetWindowRect(box, &area);
    SetWindowPos(box, nullptr, area.left, covered.y - 20, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Press(VK_RETURN);
    EXPECT_TRUE(selected(second, 6)) << "up from the end, case aside";
    Press(VK_RETURN);
    EXPECT_TRUE(selected(first, 6)) << "the first line, scrolled into view";
    Press(VK_RETURN);
    EXPECT_TRUE(tipSays("Cannot find \"needle\"."));
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(first, first + 6));
    Press('C', VK_MENU);
    Press('D', VK_MENU);
    EXPECT_TRUE(checked(box, chx2) && checked(box, rad2)) << "Alt+C, Alt+D";
    Press(VK_RETURN);
    EXPECT_TRUE(WaitFor("the tip again", [&] { return Tip(varnel) != nullptr; }));
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(first, first + 6)) << "Match case ignored";
    Press('C', VK_MENU);
    Press(VK_RETURN);
    EXPECT_TRUE(selected(second, 6)) << "down, case aside";
    // Tab and Tab again move on through the box's controls, Shift+Tab back.
    HWND control[2] = {};
    for (HWND& next : control) {
        const HWND from = Focus();
        Press(VK_TAB);
        EXPECT_TRUE(WaitFor("the focus on the box's next control",
                            [&] { return Focus() != from && GetParent(Focus()) == box; }));
        next = Focus();
    }
    Press(VK_TAB, VK_SHIFT);
    EXPECT_TRUE(FocusSettlesOn(control[0])) << "Shift+Tab";
    Press(VK_ESCAPE);
    EXPECT_TRUE(boxClosed());
    EXPECT_TRUE(FocusSettlesOn(varnel.entry));

    Press(VK_F3, VK_SHIFT);
    EXPECT_TRUE(selected(first, 6)) << "Shift+F3";
    Press(VK_F3);
    EXPECT_TRUE(selected(second, 6)) << "F3";
    Press(VK_F3);
    EXPECT_TRUE(tipSays("Cannot find \"needle\"."));
    Press(VK_F3, VK_SHIFT);
    EXPECT_TRUE(selected(first, 6));
    const LRESULT top = SendMessageA(varnel.pane, EM_GETFIRSTVISIBLELINE, 0, 0);
    ASSERT_TRUE(varnel.Type("flood 800"));
    ASSERT_TRUE(varnel.Type("echo more"));
    ASSERT_TRUE(varnel.PaneEndsWith("more\r\n"));
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(first, first + 6)) << "output moved the match";
    EXPECT_EQ(SendMessageA(varnel.pane, EM_GETFIRSTVISIBLELINE, 0, 0), top)
        << "output moved the view";

    // From the pane, with "café" selected on its line: the box starts with it, and finds it.
    ClickIntoPane();
    ASSERT_TRUE(FocusSettlesOn(varnel.pane));
    SendMessageA(varnel.pane, EM_SETSEL, cafe, cafe + 4);
    ASSERT_TRUE(openBox(&box));
    what = GetDlgItem(box, edt1);
    EXPECT_EQ(ControlText(what), "caf\xE9");
    const int length = static_cast<int>(varnel.Pane().size());
    SendMessageA(varnel.pane, EM_SETSEL, length, length);
    Press('U', VK_MENU);
    EXPECT_TRUE(checked(box, rad1)) << "Alt+U";
    Press(VK_RETURN);
    EXPECT_TRUE(selected(cafe, 4)) << "the OEM \"\x82\" not found as \"\xE9\"";
    Press(VK_ESCAPE);
    EXPECT_TRUE(boxClosed());
    EXPECT_TRUE(FocusSettlesOn(varnel.pane)) << "the focus not back in the pane";

    SendMessageA(varnel.pane, EM_SETSEL, 0, 30);  // two lines: the last search instead
    ASSERT_TRUE(openBox(&box));
    EXPECT_EQ(ControlText(GetDlgItem(box, edt1)), "caf\xE9");
    varnel.Close();
    EXPECT_EQ(varnel.WaitForExit(3000), 0u) << "the box kept the program";
    EXPECT_FALSE(IsWindow(box));
}

// Tab completion in a folder made here, where the window starts.
class TabTest : public KeyboardTest {
protected:
    void SetUp() override {
        for (const wchar_t* name : {L"alpha.txt", L"alpine\\", L"Beta Gamma.txt", L"al\x00FE.txt",
                                    L"sub\\", L"sub\\inner.txt"})
            ASSERT_TRUE(folder.Make(name)) << name;
        wchar_t previous[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, previous);
        SetCurrentDirectoryW(folder.Path().c_str());  // for varnel.exe to start in
        KeyboardTest::SetUp();
        SetCurrentDirectoryW(previous);
    }
    // The folder goes once nothing runs in it.
    void TearDown() override {
        varnel.Close();
        varnel.WaitForExit();
    }
    // Puts `text` into the entry field, the caret at its "|" or else at its end.
    void Put(std::string text) {
        const size_t caret = text.find('|') != std::string::npos ? text.find('|') : text.size();
        if (caret < text.size()) text.erase(caret, 1);
        SendMessageA(varnel.entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        SendMessageA(varnel.entry, EM_SETSEL, caret, caret);
    }
    // Presses Tab (Shift+Tab with `modifier`) and waits for the field to show `line`.
    bool Tab(const std::string& line, WORD modifier = 0) {
        Press(VK_TAB, modifier);
        return WaitFor(("the field to show " + line).c_str(),
                       [&] { return varnel.EntryText() == line; });
    }
    // Waits for the tip to say `text`.
    bool TipSays(const std::string& text) {
        return WaitFor(("the tip " + text).c_str(),
                       [&] { return Tip(varnel) && ControlText(Tip(varnel)) == text; });
    }

    TempFolder folder{"tabs"};
};

// Tab completes the name at the caret in the interpreter's folder, as the interpreter's own
// completion does: the names that start with the word, in its order, round again; Shift+Tab the
// other way; any other key ends the cycle; a name with a blank in quotes; folders alone
// after cd; a name that the interpreter's code page cannot carry ("\xFE", not in OEM 437) passed
// over; a folder part of the word's own. No name fits: the field stays, and the tip says why. The
// folder is the window's own until the pane's last line is a prompt of an existing folder; a cd
// not yet answered, a prompt without a folder ($g) or of one that does not exist changes nothing.
// Completion sends nothing.
TEST_F(TabTest, TabCompletesNamesInTheInterpretersFolder) {
    const std::string base = folder.Narrow();
    Put("type al");
    EXPECT_TRUE(Tab("type alpha.txt"));
    EXPECT_TRUE(Tab("type alpine"));
    EXPECT_TRUE(Tab("type alpha.txt")) << "round again, passing over al\xFE.txt";
    EXPECT_TRUE(Tab("type alpine", VK_SHIFT));
    EXPECT_TRUE(Tab("type alpha.txt", VK_SHIFT));
    Press(VK_END);  // ends the cycle: a new one starts from "alpha.txt", the one name that fits
    for (int i = 0; i < 2; ++i) {
        Press(VK_TAB);
        Sleep(300);
        EXPECT_EQ(varnel.EntryText(), "type alpha.txt") << "the cycle went on";
    }
    Put("type al");
    EXPECT_TRUE(Tab("type alpine", VK_SHIFT)) << "Shift+Tab starts from the last";
    Put("type al| more");
    EXPECT_TRUE(Tab("type alpha.txt more"));
    EXPECT_EQ(Selection(varnel.entry), std::make_pair(14, 14));
    Put("type be");
    EXPECT_TRUE(Tab("type \"Beta Gamma.txt\""));
    Put("CD al");
    EXPECT_TRUE(Tab("CD alpine"));
    Press(VK_TAB);
    Sleep(300);
    EXPECT_EQ(varnel.EntryText(), "CD alpine") << "a file offered after cd";
    Put("type xyz");
    Press(VK_TAB);
    EXPECT_TRUE(TipSays("Nothing in " + base + " starts with \"xyz\"."));
    EXPECT_EQ(varnel.EntryText(), "type xyz");
    Put("cd be");
    Press(VK_TAB);
    EXPECT_TRUE(TipSays("No folder in " + base + " starts with \"be\"."));

    ASSERT_TRUE(varnel.Type("tail " + base + "\\sub>"));
    ASSERT_TRUE(varnel.PaneEndsWith("\\sub>"));
    Put("type in");
    EXPECT_TRUE(Tab("type inner.txt")) << "the prompt's folder";
    Put("type ..\\al");
    EXPECT_TRUE(Tab("type ..\\alpha.txt"));
    ASSERT_TRUE(varnel.Type("cd .."));  // the stand-in does not answer it
    Put("type al");
    Press(VK_TAB);
    EXPECT_TRUE(TipSays("Nothing in " + base + "\\sub starts with \"al\"."));
    for (const std::string& prompt : {std::string(">"), base + "\\none>"}) {
        ASSERT_TRUE(varnel.Type("echo"));
        ASSERT_TRUE(varnel.Type("tail " + prompt));
        ASSERT_TRUE(varnel.PaneEndsWith("\r\n" + prompt));
        Put("type in");
        EXPECT_TRUE(Tab("type inner.txt")) << "after the prompt " << prompt;
    }
    EXPECT_EQ(run.Input(), "tail " + base + "\\sub>\r\ncd ..\r\necho\r\ntail >\r\necho\r\ntail " +
                               base + "\\none>\r\n");
}

}  // namespace
