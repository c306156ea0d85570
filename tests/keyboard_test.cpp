// Real keystrokes into varnel.exe's window through the system's input path. Keystrokes go to
// whichever window is in the foreground, so these tests run alone, with no other test's window
// able to take the foreground from them.
#include <gtest/gtest.h>

#include "window_fixture.h"

namespace {

class KeyboardTest : public VarnelWindowTest {
protected:
    KeyboardTest() : VarnelWindowTest("keyboard") {}
};

TEST_F(KeyboardTest, TabAndEscapeStayInTheEntryFieldAndEnterNeverActsAsDefaultButton) {
    Start();
    ASSERT_TRUE(PaneShows(kGreeting));
    SetForegroundWindow(varnel.dialog);
    ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == varnel.dialog; }, 3000));
    auto press = [](WORD key) {
        INPUT inputs[2] = {};
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = inputs[1].ki.wVk = key;
        inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, inputs, sizeof(INPUT));
    };
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    for (WORD key : {VK_TAB, VK_ESCAPE, VK_TAB}) {
        press(key);
        Sleep(100);
        ASSERT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
        ASSERT_TRUE(GetGUIThreadInfo(varnel.info.dwThreadId, &info));
        EXPECT_EQ(info.hwndFocus, varnel.entry) << "key " << key;
    }
    for (char c : std::string("ECHO KEYS"))
        press(static_cast<WORD>(c));
    press(VK_RETURN);
    ASSERT_TRUE(PaneShows("keys\r\n")) << varnel.Pane();
    EXPECT_EQ(run.Input(), "echo keys\r\n");
    EXPECT_EQ(varnel.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

}  // namespace
