#include "driver.h"

#include "resource.h"

#include <sstream>

std::string BuildDir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    return dir.substr(0, dir.find_last_of('\\'));
}

double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
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

std::string WindowTextOf(HWND window) {
    char text[4096];
    int length = GetWindowTextA(window, text, sizeof(text));
    return std::string(text, static_cast<size_t>(length > 0 ? length : 0));
}

std::vector<HWND> TopLevelWindows(DWORD processId, const char* className) {
    std::vector<HWND> found;
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, className, nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) found.push_back(window);
    }
    return found;
}

FakeRun::FakeRun(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static int counter;
    base_ = std::string(temp) + "varnel-" + name + "-" + std::to_string(GetCurrentProcessId()) +
            "-" + std::to_string(++counter);
}

FakeRun::~FakeRun() {
    DeleteFileA((base_ + ".in").c_str());
    DeleteFileA((base_ + ".events").c_str());
}

std::string FakeRun::Comspec(const std::vector<std::string>& startup) const {
    std::string line = BuildDir() + "\\fake_interpreter.exe " + base_;
    for (const std::string& word : startup)
        line += " \"" + word + "\"";
    return line;
}

std::string FakeRun::Input() const {
    return ReadWholeFile(base_ + ".in");
}

std::string FakeRun::Events() const {
    return ReadWholeFile(base_ + ".events");
}

std::vector<std::vector<double>> FakeRun::EventsNamed(const std::string& name) const {
    std::vector<std::vector<double>> events;
    std::istringstream lines(Events());
    for (std::string line, word; std::getline(lines, line);) {
        std::istringstream words(line);
        if (!(words >> word) || word != name) continue;
        events.emplace_back();
        for (double number; words >> number;)
            events.back().push_back(number);
    }
    return events;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

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

VarnelProcess::~VarnelProcess() {
    if (!info.hProcess) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 5000);
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
}

bool VarnelProcess::Start(const char* comspec) {
    std::string path = BuildDir() + "\\varnel.exe";
    std::string commandLine = "\"" + path + "\"";
    std::string environment = EnvironmentWith(comspec);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    return CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                          &environment[0], nullptr, &startup, &info) != 0;
}

bool VarnelProcess::WaitForWindow(int timeoutMs) {
    auto shown = [&] {
        for (HWND window : TopLevelWindows(info.dwProcessId, "#32770")) {
            if (WindowTextOf(window) == "Varnel" && IsWindowVisible(window)) dialog = window;
        }
        return dialog != nullptr;
    };
    if (!WaitFor("the Varnel window", shown, timeoutMs)) return false;
    pane = GetDlgItem(dialog, IDC_OUTPUT);
    combo = GetDlgItem(dialog, IDC_COMMAND);
    entry = GetWindow(combo, GW_CHILD);
    return pane && combo && entry;
}

bool VarnelProcess::Type(const std::string& text) const {
    SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PostMessageA(entry, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    // The line has been taken once the field is empty again (or gone with the window).
    return WaitFor("the entry field to take a line", [&] { return EntryText().empty(); });
}

void VarnelProcess::TypeAndWait(const std::string& text) const {
    SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    DWORD_PTR result = 0;
    SendMessageTimeoutA(entry, WM_KEYDOWN, VK_RETURN, 0x001C0001, SMTO_NORMAL, 5000, &result);
}

std::vector<std::string> ComboItems(HWND combo) {
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

std::pair<int, int> Selection(HWND control) {
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
