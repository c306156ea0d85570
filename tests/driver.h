// Drives varnel.exe and the stand-in interpreter from another process, as a user would: through
// the window, and through the stand-in's record of what it read. Shared by the tests, the
// benchmark and the demo.
#pragma once

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "resource.h"

// The directory of the running program, where varnel.exe and fake_interpreter.exe are.
inline std::string BuildDir() {
    char path[MAX_PATH];
    std::string dir(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return dir.substr(0, dir.find_last_of('\\'));
}

// Milliseconds of a clock that all processes share under Wine.
inline double NowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Waits until `done` holds, for at most `timeoutMs`; on giving up, says on standard error what it
// waited for and returns false.
template <typename F>
bool WaitFor(const char* what, F done, int timeoutMs = 5000) {
    for (const double end = NowMs() + timeoutMs; !done(); Sleep(5)) {
        if (NowMs() > end) {
            fprintf(stderr, "gave up after %d ms waiting for %s\n", timeoutMs, what);
            return false;
        }
    }
    return true;
}

// The whole of a file that another process may still be writing ("" when there is none).
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The visible top-level windows of a class that a process owns.
inline std::vector<HWND> TopLevelWindows(DWORD processId, const char* className) {
    std::vector<HWND> found;
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, className, nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window)) found.push_back(window);
    }
    return found;
}

// What a window shows, asked of the window itself, in this process or another. The wide
// messages throughout: under Wine the ANSI ones lose text across processes (CB_GETLBTEXT returns
// only the first character).
inline std::string Narrow(const wchar_t* wide, LRESULT length) {
    std::string text(static_cast<size_t>(length > 0 ? length : 0) * 2, '\0');
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(length), &text[0],
                                    static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(static_cast<size_t>(bytes > 0 ? bytes : 0));
    return text;
}

inline std::wstring ControlTextW(HWND control) {
    std::wstring wide(static_cast<size_t>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0)) + 1, 0);
    wide.resize(static_cast<size_t>(
        SendMessageW(control, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(&wide[0]))));
    return wide;
}

// The text in the ANSI code page, for the tests' plain strings: "caf\xE9" for "café".
inline std::string ControlText(HWND control) {
    const std::wstring wide = ControlTextW(control);
    return Narrow(wide.data(), static_cast<LRESULT>(wide.size()));
}

inline std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    for (WPARAM i = 0; i < static_cast<WPARAM>(SendMessageW(combo, CB_GETCOUNT, 0, 0)); ++i) {
        wchar_t wide[1024];
        items.push_back(
            Narrow(wide, SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide))));
    }
    return items;
}

// An edit control's selection; in another process, whose answer cannot come through pointers,
// only positions below 65,536.
inline std::pair<int, int> Selection(HWND control) {
    DWORD start = 0, end = 0, owner = 0;
    GetWindowThreadProcessId(control, &owner);
    if (owner != GetCurrentProcessId()) {
        const auto packed = static_cast<DWORD>(SendMessageW(control, EM_GETSEL, 0, 0));
        return {LOWORD(packed), HIWORD(packed)};
    }
    SendMessageW(control, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    return {static_cast<int>(start), static_cast<int>(end)};
}

// Puts `text` on the clipboard as Unicode text; `owner` is a window of this process. Another
// program may hold the clipboard open for a moment.
inline bool PutOnClipboard(HWND owner, const std::wstring& text) {
    if (!WaitFor("the clipboard", [&] { return OpenClipboard(owner) != FALSE; })) return false;
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

// A folder of the caller's own in the temporary folder, made anew, and removed with all it holds
// when this goes.
class TempFolder {
public:
    explicit TempFolder(const char* name) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        static int counter;
        path_ = std::wstring(temp) + L"varnel-" + std::wstring(name, name + strlen(name)) + L"-" +
                std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        Remove(path_);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() { Remove(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; }
    std::string Narrow() const { return std::string(path_.begin(), path_.end()); }  // ASCII
    // Makes an empty file at `relative`, or a folder where it ends in a backslash.
    bool Make(const std::wstring& relative) const {
        const std::wstring path = path_ + L"\\" + relative;
        if (path.back() == L'\\') return CreateDirectoryW(path.c_str(), nullptr) != 0;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        CloseHandle(file);
        return true;
    }

private:
    static void Remove(const std::wstring& folder) {
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
            const std::wstring name = found.cFileName, path = folder + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                Remove(path);
            } else {
                DeleteFileW(path.c_str());
            }
        }
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};

// One run of the stand-in interpreter: it logs every byte it reads to Input() and its notable
// moments to Events() (see fake_interpreter.cpp). The records go with the run.
class FakeRun {
public:
    // The records are named by this process and the moment, never by the process alone: the
    // system reuses process ids, and a test program that was killed leaves its records behind.
    explicit FakeRun(const char* name) {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        base_ = std::string(temp) + "varnel-" + name + "-" + std::to_string(GetCurrentProcessId()) +
                "-" + std::to_string(now.QuadPart);
    }
    ~FakeRun() {
        DeleteFileA((base_ + ".in").c_str());
        DeleteFileA((base_ + ".events").c_str());
    }
    FakeRun(const FakeRun&) = delete;
    FakeRun& operator=(const FakeRun&) = delete;

    // COMSPEC for this run; each extra word is a command the stand-in runs first.
    std::string Comspec(const std::vector<std::string>& startup = {}) const {
        std::string line = BuildDir() + "\\fake_interpreter.exe " + base_;
        for (const std::string& word : startup)
            line += " \"" + word + "\"";
        return line;
    }
    std::string Input() const { return ReadWholeFile(base_ + ".in"); }
    std::string Events() const { return ReadWholeFile(base_ + ".events"); }
    // The numbers of the event lines that start with the word `name`, one list per line.
    std::vector<std::vector<double>> EventsNamed(const std::string& name) const {
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
    const std::string& Base() const { return base_; }  // the records' path, without extension

private:
    std::string base_;
};

// A running varnel.exe and the controls of its window, ended at the latest when this goes.
class VarnelProcess {
public:
    VarnelProcess() = default;
    ~VarnelProcess() {
        if (!info.hProcess) return;
        if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info.hProcess, 99);
            WaitForSingleObject(info.hProcess, 5000);
        }
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    VarnelProcess(const VarnelProcess&) = delete;
    VarnelProcess& operator=(const VarnelProcess&) = delete;

    // Starts varnel.exe, this build's or the one at `path`, with COMSPEC set to `comspec`, or
    // unset when it is null.
    bool Start(const char* comspec, const std::string& path = BuildDir() + "\\varnel.exe") {
        std::string commandLine = "\"" + path + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        SetEnvironmentVariableA("COMSPEC", comspec);  // for the processes this one starts
        return CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info) != 0;
    }
    // Waits for the main window and looks up its controls.
    bool WaitForWindow(int timeoutMs = 10000) {
        auto shown = [&] {
            for (HWND window : TopLevelWindows(info.dwProcessId, "#32770"))
                if (ControlText(window) == "Varnel") dialog = window;
            return dialog != nullptr;
        };
        if (!WaitFor("the Varnel window", shown, timeoutMs)) return false;
        pane = GetDlgItem(dialog, IDC_OUTPUT);
        combo = GetDlgItem(dialog, IDC_COMMAND);
        entry = GetWindow(combo, GW_CHILD);
        return pane && combo && entry;
    }
    // Puts a line into the entry field and posts Enter; true once the field has taken it (is
    // empty again, or gone with the window).
    bool Type(const std::string& text) const {
        SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        PostMessageA(entry, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        return WaitFor("the entry field to take a line", [&] { return EntryText().empty(); });
    }
    // The same, with Enter sent: returns once the line has been handled.
    void TypeAndWait(const std::string& text) const {
        SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        SendMessageTimeoutA(entry, WM_KEYDOWN, VK_RETURN, 0x001C0001, SMTO_NORMAL, 5000, nullptr);
    }
    std::string Pane() const { return ControlText(pane); }
    bool PaneShows(const std::string& text, int timeoutMs = 5000) const {
        return WaitFor(("the pane to show " + text).c_str(),
                       [&] { return Pane().find(text) != std::string::npos; }, timeoutMs);
    }
    bool PaneEndsWith(const std::string& tail, int timeoutMs = 5000) const {
        return WaitFor(("the pane to end with " + tail).c_str(),
                       [&] { return EndsWith(Pane(), tail); }, timeoutMs);
    }
    std::string EntryText() const { return ControlText(entry); }
    std::vector<std::string> History() const { return ComboItems(combo); }
    // The exit code, or STILL_ACTIVE if the process has not ended within `timeoutMs`.
    DWORD WaitForExit(int timeoutMs = 5000) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(info.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0)
            GetExitCodeProcess(info.hProcess, &code);
        return code;
    }
    // A message's round trip to the window, in milliseconds (-1 on timeout).
    double RoundTripMs(int timeoutMs = 5000) const {
        const double start = NowMs();
        return SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeoutMs),
                                   nullptr)
                   ? NowMs() - start
                   : -1;
    }
    void Close() const { PostMessageA(dialog, WM_CLOSE, 0, 0); }

    PROCESS_INFORMATION info{};
    HWND dialog = nullptr;  // the "Varnel" main window
    HWND pane = nullptr;
    HWND combo = nullptr;
    HWND entry = nullptr;  // the combo box's entry field
};
