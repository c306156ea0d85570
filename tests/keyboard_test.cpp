// Real keystrokes into varnel.exe's window through the system's input path, and where its keyboard
// focus goes. Keystrokes go to whichever window is in the foreground, so these tests run alone,
// with no other test's window able to take the foreground or the focus from them.
#include <gtest/gtest.h>

#include <ctype.h>

#include "fixtures.h"

namespace {

class KeyboardTest : public VarnelTest {
protected:
    // Starts varnel.exe and brings its window to the foreground, where keystrokes go.
    void StartInForeground() {
        Start();
        SetForegroundWindow(varnel.dialog);
        ASSERT_TRUE(WaitFor("the window in the foreground",
                            [&] { return GetForegroundWindow() == varnel.dialog; }));
    }
    static void Send(std::vector<INPUT> inputs) {
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    }
    static INPUT Key(WORD key, DWORD flags = 0) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = flags;
        return input;
    }
    static void Press(WORD key, bool shift = false) {
        if (!shift) return Send({Key(key), Key(key, KEYEVENTF_KEYUP)});
        Send({Key(VK_SHIFT), Key(key), Key(key, KEYEVENTF_KEYUP), Key(VK_SHIFT, KEYEVENTF_KEYUP)});
    }
    // Letters (typed in lower case), digits and blanks, key by key.
    static void TypeKeys(const std::string& text) {
        std::vector<INPUT> inputs;
        for (char c : text) {
            WORD key =
                c == ' ' ? VK_SPACE : static_cast<WORD>(toupper(static_cast<unsigned char>(c)));
            inputs.push_back(Key(key));
            inputs.push_back(Key(key, KEYEVENTF_KEYUP));
        }
        Send(inputs);
    }
    // Characters as such, the way an input method or another keyboard layout sends them.
    static void TypeCharacters(const std::wstring& text) {
        std::vector<INPUT> inputs;
        for (wchar_t c : text) {
            INPUT down = Key(0, KEYEVENTF_UNICODE);
            down.ki.wScan = c;
            INPUT up = down;
            up.ki.dwFlags |= KEYEVENTF_KEYUP;
            inputs.push_back(down);
            inputs.push_back(up);
        }
        Send(inputs);
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
    void MinimiseAndRestore() {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(varnel.dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0, SMTO_NORMAL, 5000,
                            &result);
        EXPECT_TRUE(
            WaitFor("the window minimised", [&] { return IsIconic(varnel.dialog) != FALSE; }));
        SendMessageTimeoutA(varnel.dialog, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_NORMAL, 5000,
                            &result);
        EXPECT_TRUE(WaitFor("the window restored", [&] { return !IsIconic(varnel.dialog); }));
    }
    // Another window of this process takes the foreground, then varnel.exe's window again.
    void DeactivateAndActivate() {
        HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                     nullptr, nullptr, nullptr, nullptr);
        SetForegroundWindow(other);
        EXPECT_TRUE(WaitFor("the other window in the foreground",
                            [&] { return GetForegroundWindow() == other; }));
        SetForegroundWindow(varnel.dialog);
        EXPECT_TRUE(WaitFor("the window in the foreground",
                            [&] { return GetForegroundWindow() == varnel.dialog; }));
        DestroyWindow(other);
    }
};

// Tab and Escape stay in the entry field, and Enter there never acts as a default button. Tab and
// Shift+Tab in the pane lead back to the entry field, which is no tab stop, and leave the pane's
// selection as it was.
TEST_F(KeyboardTest, TabEscapeAndEnterStayInTheEntryFieldAndTabInThePaneLeadsBack) {
    StartInForeground();
    for (WORD key : {VK_TAB, VK_ESCAPE, VK_TAB}) {
        Press(key);
        Sleep(100);
        ASSERT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
        EXPECT_EQ(Focus(), varnel.entry) << "key " << key;
    }
    for (bool shift : {false, true}) {
        ClickIntoPane();
        ASSERT_TRUE(FocusSettlesOn(varnel.pane));
        SendMessageA(varnel.pane, EM_SETSEL, 3, 3);
        Press(VK_TAB, shift);
        EXPECT_TRUE(FocusSettlesOn(varnel.entry)) << (shift ? "Shift+Tab" : "Tab");
        EXPECT_EQ(Selection(varnel.pane), std::make_pair(3, 3));
    }
    TypeKeys("echo keys");
    Press(VK_RETURN);
    ASSERT_TRUE(PaneShows("keys\r\n")) << varnel.Pane();
    EXPECT_EQ(run.Input(), "echo keys\r\n");
    EXPECT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

// The field scrolls: the longest line the interpreter takes can be typed whole.
TEST_F(KeyboardTest, LongestLineTypedKeyByKeyArrivesWhole) {
    StartInForeground();
    std::string line = "echo ";
    for (size_t i = 0; line.size() < 259; ++i)
        line += "abcdefghijklmnopqrstuvwxyz0123456789"[i % 36];
    TypeKeys(line);
    EXPECT_TRUE(WaitFor(
        "the typed line in the field", [&] { return varnel.EntryText().size() >= line.size(); },
        20000))
        << varnel.EntryText().size() << " characters in the field";
    ASSERT_EQ(varnel.EntryText(), line);
    Press(VK_RETURN);
    ASSERT_TRUE(PaneShows(line.substr(5) + "\r\n"));
    EXPECT_EQ(run.Input(), line + "\r\n");
}

// A character that the field's ANSI code page lacks is refused as it is typed or pasted, rather
// than shown as a "?" that would go to the interpreter as a wildcard. A "?" typed as such stays.
TEST_F(KeyboardTest, CharactersTheFieldCannotHoldAreRefusedAsTheyAreTypedOrPasted) {
    StartInForeground();
    TypeCharacters(L"echo \x0414\x043E\x043C? caf\x00E9");
    const std::string shown = "echo ? caf\xE9";
    EXPECT_TRUE(WaitFor("the typed text in the field",
                        [&] { return varnel.EntryText().size() >= shown.size(); }));
    Sleep(200);
    EXPECT_EQ(varnel.EntryText(), shown);
    HWND owner = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                 nullptr);
    const std::vector<INPUT> controlV = {Key(VK_CONTROL), Key('V'), Key('V', KEYEVENTF_KEYUP),
                                         Key(VK_CONTROL, KEYEVENTF_KEYUP)};
    ASSERT_TRUE(PutOnClipboard(owner, L" \x0414\x043E\x043C"));
    Send(controlV);
    Press(VK_INSERT, true);
    Sleep(300);
    EXPECT_EQ(varnel.EntryText(), shown);
    ASSERT_TRUE(PutOnClipboard(owner, L" ok"));
    Send(controlV);
    Press(VK_INSERT, true);
    EXPECT_TRUE(WaitFor("the pasted text in the field", [&] {
        return varnel.EntryText() == shown + " ok ok";
    })) << varnel.EntryText();
    DestroyWindow(owner);
    Press(VK_RETURN);
    ASSERT_TRUE(PaneShows("? caf\x82 ok ok\r\n"));
    EXPECT_EQ(run.Input(), "echo ? caf\x82 ok ok\r\n");
}

// After the window is minimised and restored, or deactivated and activated, the focus is where
// the user left it, and the pane's selection as it was: the dialog manager would put the focus
// into the pane with all its text selected, for the next key to replace.
TEST_F(KeyboardTest, FocusComesBackWhereTheUserLeftIt) {
    StartInForeground();
    ASSERT_TRUE(FocusSettlesOn(varnel.entry));
    const std::pair<int, int> atEnd = Selection(varnel.pane);
    MinimiseAndRestore();
    EXPECT_TRUE(FocusSettlesOn(varnel.entry)) << "minimised in the entry field";
    EXPECT_EQ(Selection(varnel.pane), atEnd);
    DeactivateAndActivate();
    EXPECT_TRUE(FocusSettlesOn(varnel.entry)) << "deactivated in the entry field";
    EXPECT_EQ(Selection(varnel.pane), atEnd);

    ClickIntoPane();
    ASSERT_TRUE(FocusSettlesOn(varnel.pane));
    SendMessageA(varnel.pane, EM_SETSEL, 2, 5);
    MinimiseAndRestore();
    EXPECT_TRUE(FocusSettlesOn(varnel.pane)) << "minimised in the pane";
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(2, 5));
    DeactivateAndActivate();
    EXPECT_TRUE(FocusSettlesOn(varnel.pane)) << "deactivated in the pane";
    EXPECT_EQ(Selection(varnel.pane), std::make_pair(2, 5));
}

}  // namespace
