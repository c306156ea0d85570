// What only the tests need: the link driven inside the test program, varnel.exe driven from
// outside, and a few helpers of this process.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "command_text.h"
#include "driver.h"
#include "link.h"
#include "stand_in.h"

// The platform's text for an error code, without its line end.
inline std::string SystemText(DWORD error) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result(text ? text : "", length);
    LocalFree(text);
    return result.substr(0, result.find_last_not_of("\r\n ") + 1);
}

// What the pane shows of `bytes` that the interpreter wrote in code page `page`: the window's own
// decoding of them, in one piece.
inline std::wstring ShownText(const std::string& bytes, UINT page = 437) {
    OutputDecoder decoder = {};
    std::wstring text(DecodedMax(bytes.size()), L'\0');
    text.resize(DecodeOutput(&decoder, page, bytes.data(), bytes.size(), &text[0]));
    return text;
}

// The handles open in a process. (Wine's GetProcessHandleCount reports 0; its handle values are
// small multiples of 4, so the ones that can be duplicated are counted.)
inline DWORD HandleCount(HANDLE process) {
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

// The tip that tells why a line or a paste was refused, while a process shows it: a popup of the
// system's static control.
inline HWND Tip(const VarnelProcess& varnel) {
    const std::vector<HWND> tips = TopLevelWindows(varnel.info.dwProcessId, "Static");
    return tips.empty() ? nullptr : tips[0];
}

// Handles this thread's messages for `ms` milliseconds.
inline void PumpMessages(int ms) {
    const double end = NowMs() + ms;
    do {
        for (MSG msg; PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageA(&msg);
        if (ms > 0) Sleep(1);
    } while (NowMs() < end);
}

// The message boxes of this process that `action` shows, each as its caption and its text: a
// thread of their own records and dismisses them.
inline std::vector<std::pair<std::string, std::string>> BoxesDuring(
    const std::function<void()>& action) {
    std::vector<std::pair<std::string, std::string>> boxes;
    std::vector<HWND> seen;
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        for (; !stop; Sleep(10)) {
            for (HWND box : TopLevelWindows(GetCurrentProcessId(), "#32770")) {
                if (std::find(seen.begin(), seen.end(), box) != seen.end()) continue;
                seen.push_back(box);
                boxes.emplace_back(ControlText(box), ControlText(GetDlgItem(box, 0xFFFF)));
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            }
        }
    });
    action();
    stop = true;
    watcher.join();
    return boxes;
}

// Replaces, in this program's import table, a function imported from kernel32.dll with
// `replacement` while it lives: a way to make a call fail that real conditions cannot.
class ImportPatch {
public:
    ImportPatch(const char* function, void* replacement) {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
            base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
        for (; module->Name && !slot_; ++module) {
            if (lstrcmpiA(reinterpret_cast<char*>(base + module->Name), "KERNEL32.dll") != 0)
                continue;
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
            auto* slots = reinterpret_cast<void**>(base + module->FirstThunk);
            for (; names->u1.AddressOfData && !slot_; ++names, ++slots) {
                auto* byName =
                    reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                    lstrcmpA(reinterpret_cast<char*>(byName->Name), function) == 0)
                    slot_ = slots;
            }
        }
        if (!slot_) ADD_FAILURE() << function << " is not imported from kernel32.dll";
        if (slot_) original_ = Write(replacement);
    }
    ~ImportPatch() {
        if (slot_) Write(original_);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

private:
    void* Write(void* value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection);
        void* previous = *slot_;
        *slot_ = value;
        VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
        return previous;
    }
    void** slot_ = nullptr;
    void* original_ = nullptr;
};

// Deletes `file` unless it is gone already; false while a program that runs from it holds it.
inline bool Deleted(const std::string& file) {
    return DeleteFileA(file.c_str()) || GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// The process that the `which`th of a stand-in's events named `event` names by its last number
// (the interpreter's "start", a program's "child"), opened to wait for it; or null.
inline HANDLE EventProcess(const FakeRun& run, const char* event, size_t which = 0) {
    const auto events = run.EventsNamed(event);
    return events.size() > which && !events[which].empty()
               ? OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(events[which].back()))
               : nullptr;
}

// The link inside the test program, on hidden windows shaped like the console window's, with the
// stand-in as COMSPEC. The main window counts close requests, and runs a tick of the link for
// each timer as the console dialog does; it has no steady tick of its own.
class LinkTest : public ::testing::Test {
public:
    inline static int closeRequests;  // WM_CLOSE messages the main window has had
    inline static int ticks;          // and timer messages

protected:
    static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
        if (message == WM_CLOSE) {
            ++closeRequests;
        } else if (message == WM_TIMER) {
            ++ticks;
            OutputPump();
        } else {
            return DefWindowProcA(window, message, wParam, lParam);
        }
        return 0;
    }
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.lpszClassName = "VarnelTestMain";
        RegisterClassA(&windowClass);
        windows.main = CreateWindowExA(0, "VarnelTestMain", "main", WS_POPUP, 0, 0, 10, 10, nullptr,
                                       nullptr, nullptr, nullptr);
        // Unicode controls, as the window's are.
        windows.pane = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                       WS_POPUP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                           ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN,
                                       0, 0, 600, 400, nullptr, nullptr, nullptr, nullptr);
        // A fixed font: Wine's edit control crashes on some texts in the default font (a line
        // starting with 0x98, for one), not in the OEM font.
        SendMessageW(windows.pane, WM_SETFONT,
                     reinterpret_cast<WPARAM>(GetStockObject(OEM_FIXED_FONT)), FALSE);
        windows.history = CreateWindowExW(0, L"COMBOBOX", L"", WS_POPUP | WS_VSCROLL | CBS_DROPDOWN,
                                          0, 0, 600, 200, nullptr, nullptr, nullptr, nullptr);
        entry = GetWindow(windows.history, GW_CHILD);
        closeRequests = ticks = 0;
    }
    void TearDown() override {
        Stop();
        DestroyWindow(windows.history);
        DestroyWindow(windows.pane);
        DestroyWindow(windows.main);
    }

    // Starts the stand-in, which first runs each word of `startup` as a command, and waits for
    // its greeting at the end of the pane unless `greeted` is false.
    void Launch(const std::vector<std::string>& startup = {}, bool greeted = true) {
        SetEnvironmentVariableA("COMSPEC", run.Comspec(startup).c_str());
        ASSERT_EQ(SpawnInterpreter(windows), 1);
        running = true;
        if (greeted) {
            ASSERT_TRUE(ShowsAtEnd(kGreeting));
        }
    }
    void Stop() {  // StopInterpreter, once
        if (running) StopInterpreter();
        running = false;
    }
    // Puts `text` into the entry field and presses Enter; returns why the line was refused, or
    // "" when it went.
    std::wstring Enter(const std::string& text) {
        SendMessageA(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        const WCHAR* reason = CommandDispatch(entry);
        return reason ? reason : L"";
    }
    std::wstring EnterW(const std::wstring& text) {
        SendMessageW(entry, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        const WCHAR* reason = CommandDispatch(entry);
        return reason ? reason : L"";
    }
    std::string Pane() const { return ControlText(windows.pane); }
    std::wstring PaneW() const { return ControlTextW(windows.pane); }
    std::string Entry() const { return ControlText(entry); }
    std::vector<std::string> History() const { return ComboItems(windows.history); }
    // Runs ticks of the link and this thread's messages until `done` holds.
    bool RunUntil(const char* what, const std::function<bool()>& done, int timeoutMs = 5000) {
        auto tick = [&] {
            OutputPump();
            PumpMessages(0);
            return done();
        };
        return WaitFor(what, tick, timeoutMs);
    }
    bool ShowsAtEnd(const std::string& tail, int timeoutMs = 5000) {
        return RunUntil(("the pane to end with " + tail).c_str(),
                        [&] { return EndsWith(Pane(), tail); }, timeoutMs);
    }
    // Waits until the interpreter has read `bytes` in all, then a moment more for anything extra.
    std::string InputAfter(size_t bytes) {
        RunUntil("the interpreter to read the lines", [&] { return run.Input().size() >= bytes; });
        for (const double end = NowMs() + 200; NowMs() < end; PumpMessages(5))
            OutputPump();
        return run.Input();
    }

    FakeRun run{"link"};
    LinkWindows windows{};
    HWND entry = nullptr;
    bool running = false;
};

// varnel.exe with the stand-in as COMSPEC, driven through its window.
class VarnelTest : public ::testing::Test {
protected:
    // Starts varnel.exe, the stand-in first running each word of `startup` as a command, and
    // waits for the greeting.
    void Start(const std::vector<std::string>& startup = {}) {
        ASSERT_TRUE(varnel.Start(run.Comspec(startup).c_str()))
            << "CreateProcess failed with error " << GetLastError();
        ASSERT_TRUE(varnel.WaitForWindow());
        ASSERT_TRUE(varnel.PaneShows(kGreeting));
    }

    FakeRun run{"window"};
    VarnelProcess varnel;
};
