#include "test_support.h"

#include "link.h"

#include <stdio.h>
#include <string.h>

std::string BuildDir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of('\\'));
}

FakeRun::FakeRun(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static int counter;
    base = std::string(temp) + "varnel-" + name + "-" + std::to_string(GetCurrentProcessId()) +
           "-" + std::to_string(++counter);
}

FakeRun::~FakeRun() {
    DeleteFileA((base + ".in").c_str());
    DeleteFileA((base + ".events").c_str());
}

std::string FakeRun::Comspec(const std::vector<std::string>& startup) const {
    std::string line = BuildDir() + "\\fake_interpreter.exe " + base;
    for (const std::string& word : startup)
        line += " \"" + word + "\"";
    return line;
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        data.append(buffer, got);
    CloseHandle(file);
    return data;
}

std::string FakeRun::Input() const {
    return ReadWholeFile(base + ".in");
}
std::string FakeRun::Events() const {
    return ReadWholeFile(base + ".events");
}

void SetComspec(const char* value) {
    SetEnvironmentVariableA("COMSPEC", value);
}

HWND MakePane() {
    HWND pane = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "",
                                WS_POPUP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                    ES_AUTOHSCROLL | ES_WANTRETURN,
                                0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
    // The pane's own font: Wine's edit control crashes on some texts in the default font (a line
    // starting with 0x98, for one), not in the OEM font.
    SendMessageA(pane, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(OEM_FIXED_FONT)), FALSE);
    SendMessageA(pane, EM_SETLIMITTEXT, 0, 0);
    return pane;
}

std::string PaneText(HWND pane) {
    int length = GetWindowTextLengthA(pane);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(pane, &text[0], length + 1);
    text.resize(static_cast<size_t>(got));
    return text;
}

void PumpMessages(int ms) {
    DWORD end = GetTickCount() + static_cast<DWORD>(ms);
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (ms > 0) Sleep(1);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
}

bool RunLinkUntil(const std::function<bool()>& done, int timeoutMs) {
    DWORD end = GetTickCount() + static_cast<DWORD>(timeoutMs);
    for (;;) {
        OutputPump();
        PumpMessages(0);
        if (done()) return true;
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return false;
        Sleep(5);
    }
}

DWORD HandleCount() {
    // Wine's GetProcessHandleCount reports 0; its handle values are small multiples of 4, given
    // out lowest first, so counting the valid ones in a generous range gives the same number.
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 16384; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

std::string SystemText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(text ? text : "", length);
    LocalFree(text);
    return result;
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

std::string WindowTextOf(HWND window) {
    char text[4096];
    int length = GetWindowTextA(window, text, sizeof(text));
    return std::string(text, static_cast<size_t>(length > 0 ? length : 0));
}

namespace {

struct WindowSearch {
    DWORD processId;
    const char* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64];
    if (owner == search->processId && GetClassNameA(window, name, sizeof(name)) &&
        lstrcmpA(name, search->className) == 0) {
        search->found.push_back(window);
    }
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD processId, const char* className) {
    WindowSearch search{processId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BoxWatcher::BoxWatcher() {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

BoxWatcher::~BoxWatcher() {
    if (thread_) Stop();
}

std::vector<BoxWatcher::Box> BoxWatcher::Stop() {
    InterlockedExchange(&stop_, 1);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    return boxes_;
}

DWORD WINAPI BoxWatcher::Run(void* self) {
    auto* watcher = static_cast<BoxWatcher*>(self);
    std::vector<HWND> seen;
    while (!watcher->stop_) {
        for (HWND box : TopLevelWindows(GetCurrentProcessId(), "#32770")) {
            bool known = false;
            for (HWND s : seen)
                known = known || s == box;
            if (known || !IsWindowVisible(box)) continue;
            seen.push_back(box);
            watcher->boxes_.push_back({WindowTextOf(box), WindowTextOf(GetDlgItem(box, 0xFFFF))});
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        Sleep(10);
    }
    return 0;
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
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
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
}

ImportPatch::~ImportPatch() {
    if (slot_) WriteSlot(slot_, original_);
}
