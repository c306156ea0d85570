#include "link_fixture.h"

int LinkTest::closeRequests;
int LinkTest::ticks;

namespace {

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        ++LinkTest::closeRequests;
        return 0;
    }
    if (message == WM_TIMER) {
        ++LinkTest::ticks;
        OutputPump();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void LinkTest::SetUp() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.lpszClassName = "VarnelTestMain";
    RegisterClassA(&windowClass);
    windows.main = CreateWindowExA(0, "VarnelTestMain", "main", WS_POPUP, 0, 0, 10, 10, nullptr,
                                   nullptr, nullptr, nullptr);
    windows.pane = MakePane();
    windows.history = CreateWindowExA(0, "COMBOBOX", "", WS_POPUP | WS_VSCROLL | CBS_DROPDOWN, 0, 0,
                                      600, 200, nullptr, nullptr, nullptr, nullptr);
    entry = GetWindow(windows.history, GW_CHILD);
    closeRequests = 0;
    ticks = 0;
}

void LinkTest::TearDown() {
    Stop();
    DestroyWindow(windows.history);
    DestroyWindow(windows.pane);
    DestroyWindow(windows.main);
}

void LinkTest::Launch(const std::vector<std::string>& startup) {
    SetComspec(run.Comspec(startup).c_str());
    ASSERT_EQ(SpawnInterpreter(windows), 1);
    running = true;
}

void LinkTest::Stop() {
    if (running) StopInterpreter();
    running = false;
}

void LinkTest::Enter(const std::string& text) {
    SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    CommandDispatch(entry);
}

std::vector<std::string> LinkTest::History() const {
    std::vector<std::string> entries;
    int count = static_cast<int>(SendMessageA(windows.history, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[512];
        SendMessageA(windows.history, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

bool LinkTest::PaneEndsWith(const std::string& tail) const {
    const std::string text = Pane();
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string LinkTest::InputAfter(size_t bytes) {
    RunLinkUntil([&] { return run.Input().size() >= bytes; });
    RunLinkUntil([] { return false; }, 200);
    return run.Input();
}
