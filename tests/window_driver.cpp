#include "window_driver.h"

#include "resource.h"
#include "test_support.h"

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

namespace {

// This process's environment with COMSPEC replaced (or removed), as a block for CreateProcess.
std::string EnvironmentWith(const char* comspec) {
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry; entry += lstrlenA(entry) + 1) {
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry, 8, "COMSPEC=", 8) ==
            CSTR_EQUAL) {
            continue;
        }
        block.append(entry, static_cast<size_t>(lstrlenA(entry)) + 1);
    }
    FreeEnvironmentStringsA(strings);
    if (comspec) block += std::string("COMSPEC=") + comspec + '\0';
    block += '\0';
    return block;
}

}  // namespace

bool VarnelProcess::Start(const char* comspec, const std::string& exe) {
    std::string path = exe.empty() ? BuildDir() + "\\varnel.exe" : exe;
    std::string commandLine = "\"" + path + "\"";
    std::string environment = EnvironmentWith(comspec);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    return CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                          &environment[0], nullptr, &startup, &info) != 0;
}

bool VarnelProcess::WaitForWindow(int timeoutMs) {
    bool found = WaitFor(
        [&] {
            for (HWND window : TopLevelWindows(info.dwProcessId, "#32770")) {
                if (WindowTextOf(window) == "Varnel" && IsWindowVisible(window)) {
                    dialog = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    if (!found) return false;
    pane = GetDlgItem(dialog, IDC_OUTPUT);
    combo = GetDlgItem(dialog, IDC_COMMAND);
    entry = GetWindow(combo, GW_CHILD);
    return pane && combo && entry;
}

bool VarnelProcess::Type(const std::string& text) const {
    SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PostMessageA(entry, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    // The line has been taken once the field is empty again (or gone with the window).
    return WaitFor([&] { return EntryText().empty(); }, 5000);
}

namespace {

// GetWindowText does not ask a control of another process for its text; WM_GETTEXT does. The
// wide form, because Wine's cross-process ANSI text messages can lose text.
std::string ControlText(HWND control) {
    int length = static_cast<int>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0));
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    int got = static_cast<int>(
        SendMessageW(control, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(&wide[0])));
    if (got <= 0) return std::string();
    std::string text(static_cast<size_t>(got) * 2, '\0');
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), got, &text[0],
                                    static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(static_cast<size_t>(bytes > 0 ? bytes : 0));
    return text;
}

}  // namespace

void VarnelProcess::TypeAndWait(const std::string& text) const {
    SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    DWORD_PTR result = 0;
    SendMessageTimeoutA(entry, WM_KEYDOWN, VK_RETURN, 0x001C0001, SMTO_NORMAL, 10000, &result);
}

std::string VarnelProcess::Pane() const {
    return ControlText(pane);
}

std::string VarnelProcess::EntryText() const {
    return ControlText(entry);
}

std::vector<std::string> VarnelProcess::History() const {
    // The wide form: Wine's cross-process ANSI CB_GETLBTEXT returns only the first character.
    std::vector<std::string> entries;
    int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t wide[1024];
        int length =
            static_cast<int>(SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide)));
        char narrow[2048];
        int bytes =
            WideCharToMultiByte(CP_ACP, 0, wide, length, narrow, sizeof(narrow), nullptr, nullptr);
        entries.emplace_back(narrow, static_cast<size_t>(bytes > 0 ? bytes : 0));
    }
    return entries;
}

std::pair<int, int> VarnelProcess::Selection(HWND control) const {
    // The answer itself, not the two pointers, which would point into this process.
    auto packed = static_cast<DWORD>(SendMessageW(control, EM_GETSEL, 0, 0));
    return {LOWORD(packed), HIWORD(packed)};
}

DWORD VarnelProcess::WaitForExit(int timeoutMs) const {
    if (WaitForSingleObject(info.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info.hProcess, &code);
    return code;
}

double VarnelProcess::RoundTripMs(int timeoutMs) const {
    double start = NowMs();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeoutMs),
                             &result)) {
        return -1;
    }
    return NowMs() - start;
}

void VarnelProcess::Close() const {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
}

VarnelProcess::~VarnelProcess() {
    if (!info.hProcess) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

DWORD RemoteHandleCount(HANDLE process) {
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
