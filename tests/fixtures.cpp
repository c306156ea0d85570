#include "fixtures.h"

void SetComspec(const char* value) {
    SetEnvironmentVariableA("COMSPEC", value);
}

std::string SystemText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(text ? text : "", length);
    LocalFree(text);
    return result.substr(0, result.find_last_not_of("\r\n ") + 1);
}

DWORD HandleCount(HANDLE process) {
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 16384; value += 4) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0,
                            FALSE, DUPLICATE_SAME_ACCESS)) {
            CloseHandle(copy);
            ++count;
        }
    }
    return count;
}

bool PutOnClipboard(HWND owner, const std::wstring& text) {
    if (!OpenClipboard(owner)) return false;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(memory), text.c_str(), bytes);
    GlobalUnlock(memory);
    const bool put = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    if (!put) GlobalFree(memory);  // the clipboard owns it only once it has taken it
    CloseClipboard();
    return put;
}

BoxWatcher::BoxWatcher()
    : thread_([this] {
          std::vector<HWND> seen;
          while (!stop_) {
              for (HWND box : TopLevelWindows(GetCurrentProcessId(), "#32770")) {
                  if (!IsWindowVisible(box) ||
                      std::find(seen.begin(), seen.end(), box) != seen.end()) {
                      continue;
                  }
                  seen.push_back(box);
                  boxes_.push_back({WindowTextOf(box), WindowTextOf(GetDlgItem(box, 0xFFFF))});
                  PostMessageA(box, WM_COMMAND, IDOK, 0);
              }
              Sleep(10);
          }
      }) {}

std::vector<BoxWatcher::Box> BoxWatcher::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return boxes_;
}

namespace {

void WriteSlot(void** slot, void* value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

}  // namespace

ImportPatch::ImportPatch(const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; module->Name; ++module) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + module->Name), "KERNEL32.dll") != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slots = reinterpret_cast<void**>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            slot_ = slots;
            original_ = *slots;
            WriteSlot(slot_, replacement);
            return;
        }
    }
    ADD_FAILURE() << function << " is not imported from kernel32.dll";
}

ImportPatch::~ImportPatch() {
    if (slot_) WriteSlot(slot_, original_);
}

void PumpMessages(int ms) {
    const double end = NowMs() + ms;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms > 0) Sleep(1);
    } while (NowMs() < end);
}

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
    windows.pane = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                   WS_POPUP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                       ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN,
                                   0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
    // The pane's own font: Wine's edit control crashes on some texts in the default font (a line
    // starting with 0x98, for one), not in the OEM font.
    SendMessageA(windows.pane, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(OEM_FIXED_FONT)),
                 FALSE);
    windows.history = CreateWindowExA(0, "COMBOBOX", "", WS_POPUP | WS_VSCROLL | CBS_DROPDOWN, 0, 0,
                                      600, 200, nullptr, nullptr, nullptr, nullptr);
    entry = GetWindow(windows.history, GW_CHILD);
    closeRequests = ticks = 0;
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

bool LinkTest::RunUntil(const char* what, const std::function<bool()>& done, int timeoutMs) {
    return WaitFor(
        what,
        [&] {
            OutputPump();
            PumpMessages(0);
            return done();
        },
        timeoutMs);
}

bool LinkTest::ShowsAtEnd(const std::string& tail, int timeoutMs) {
    return RunUntil(("the pane to end with " + tail).c_str(),
                    [&] { return EndsWith(Pane(), tail); }, timeoutMs);
}

std::string LinkTest::InputAfter(size_t bytes) {
    RunUntil("the interpreter to read the lines", [&] { return run.Input().size() >= bytes; });
    for (const double end = NowMs() + 200; NowMs() < end; PumpMessages(5))
        OutputPump();
    return run.Input();
}

void VarnelTest::Start(const std::vector<std::string>& startup) {
    ASSERT_TRUE(varnel.Start(run.Comspec(startup).c_str()));
    ASSERT_TRUE(varnel.WaitForWindow());
    ASSERT_TRUE(PaneShows(kGreeting));
}

bool VarnelTest::PaneShows(const std::string& text, int timeoutMs) {
    return WaitFor(("the pane to show " + text).c_str(),
                   [&] { return varnel.Pane().find(text) != std::string::npos; }, timeoutMs);
}

bool VarnelTest::PaneEndsWith(const std::string& tail, int timeoutMs) {
    return WaitFor(("the pane to end with " + tail).c_str(),
                   [&] { return EndsWith(varnel.Pane(), tail); }, timeoutMs);
}
