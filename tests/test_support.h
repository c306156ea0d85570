// Helpers shared by the tests: the stand-in interpreter, real hidden controls, message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The directory of the running test program, where varnel.exe and fake_interpreter.exe are.
std::string BuildDir();

// A run of the stand-in interpreter: a fresh base path for its record files.
struct FakeRun {
    std::string base;
    explicit FakeRun(const char* name);
    ~FakeRun();
    // COMSPEC for this run; each extra word is a start-up command (quoted as needed).
    std::string Comspec(const std::vector<std::string>& startup = {}) const;
    std::string Input() const;   // every byte the interpreter has read so far
    std::string Events() const;  // its event lines
};

std::string ReadWholeFile(const std::string& path);

// Sets or (with nullptr) removes COMSPEC in this process.
void SetComspec(const char* value);

// A hidden edit control shaped like the output pane.
HWND MakePane();

// The pane's whole text.
std::string PaneText(HWND pane);

// Runs passes of the link (input written, output pumped, messages handled) until `done` holds or
// `timeoutMs` has passed. Returns whether `done` held.
bool RunLinkUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Handles messages of this thread for the given time.
void PumpMessages(int ms);

DWORD HandleCount();

// The platform's text for an error code, as FormatMessage gives it.
std::string SystemText(DWORD error);

// Watches for message boxes of this process from a second thread, records their caption and
// text, and dismisses each one.
class BoxWatcher {
public:
    BoxWatcher();
    ~BoxWatcher();
    struct Box {
        std::string caption;
        std::string text;
    };
    std::vector<Box> Stop();  // stops watching and returns the boxes seen

private:
    static DWORD WINAPI Run(void* self);
    HANDLE thread_;
    volatile LONG stop_ = 0;
    std::vector<Box> boxes_;
};

// Puts `text` on the clipboard as Unicode text, owned by `owner`, a window of this process.
bool PutOnClipboard(HWND owner, const std::wstring& text);

// Dialog-box ("#32770") windows of a process, and the text of their static 0xFFFF control.
std::vector<HWND> TopLevelWindows(DWORD processId, const char* className);
std::string WindowTextOf(HWND window);

// Replaces, in this program's import table, a function imported from kernel32.dll with
// `replacement`, for the lifetime of this object: a way to make a system call fail that real
// conditions cannot make fail.
class ImportPatch {
public:
    ImportPatch(const char* function, void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

private:
    void** slot_ = nullptr;
    void* original_ = nullptr;
};
