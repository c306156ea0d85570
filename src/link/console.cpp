// The interpreter's console. The interpreter is started with a console of its own that has no
// window, and every program it runs in the foreground or with "start /b" shares that console. To
// reach those programs as a console window would, with Ctrl+C, Ctrl+Break and the close, the
// window joins that console as soon as it can after the launch and stays on it until the close
// (or the start of a new interpreter). A console lives while any process is on it: staying on it
// keeps it, and its list of processes, alive after the interpreter has ended, so that the
// programs it left running can still be reached. Programs started into consoles of their own or as
// windows ("start notepad", "start cmd") are not on it, and are never touched.
#include "link_state.h"

namespace {

bool s_joined;

// The processes on the console this process is on, listed once: the list grows while the count
// it reports says more are there than it could hold. A program is on it once it has started,
// some milliseconds after its launch.
class ConsoleProcesses {
public:
    ConsoleProcesses() {
        count_ = GetConsoleProcessList(ids_, room_);
        while (count_ > room_) {
            Free();
            room_ = count_ + 16;
            ids_ = static_cast<DWORD*>(HeapAlloc(GetProcessHeap(), 0, room_ * sizeof(DWORD)));
            count_ = ids_ ? GetConsoleProcessList(ids_, room_) : 0;
        }
    }
    ~ConsoleProcesses() { Free(); }
    ConsoleProcesses(const ConsoleProcesses&) = delete;
    ConsoleProcesses& operator=(const ConsoleProcesses&) = delete;
    const DWORD* begin() const { return ids_; }
    const DWORD* end() const { return ids_ + count_; }

private:
    void Free() {
        if (ids_ != small_) HeapFree(GetProcessHeap(), 0, ids_);
        ids_ = small_;
    }
    DWORD small_[64];
    DWORD* ids_ = small_;
    DWORD room_ = ARRAYSIZE(small_);
    DWORD count_ = 0;
};

// The window itself gets the interrupts it sends to the console it has joined. Its own handler
// keeps it alive; the null handler would do too, but that flag is inherited by every program it
// starts, so that after a restart no program of the new interpreter could be interrupted.
BOOL WINAPI SurviveInterrupt(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

bool JoinInterpreterConsole() {
    if (s_joined || !g_interpreter || InterpreterEnded()) return s_joined;
    static bool s_protected;
    if (!s_protected) s_protected = SetConsoleCtrlHandler(SurviveInterrupt, TRUE) != 0;
    FreeConsole();  // a console of the window's own, as when it was started from one
    s_joined = AttachConsole(g_interpreterId) != 0;
    return s_joined;
}

void AwaitInterpreterConsole() {
    const ULONGLONG deadline = GetTickCount64() + kConsoleWaitMs;
    while (!JoinInterpreterConsole() && GetTickCount64() < deadline &&
           WaitForSingleObject(g_interpreter, 1) == WAIT_TIMEOUT) {
    }
}

void LeaveInterpreterConsole() {
    if (s_joined) FreeConsole();
    s_joined = false;
}

void EndConsoleProcesses(DWORD spared) {
    if (!s_joined) return;
    for (DWORD id : ConsoleProcesses()) {
        if (id == spared || id == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id);
        if (!process) continue;
        TerminateProcess(process, kEndedByBreakCode);
        CloseHandle(process);
    }
}

// The console's pages, which the interpreter's "chcp" changes. Before the window is on the console
// it has the system's OEM page, as every new console has.
UINT InterpreterOutputPage() {
    const UINT page = s_joined ? GetConsoleOutputCP() : 0;
    return page ? page : GetOEMCP();
}

UINT InterpreterInputPage() {
    const UINT page = s_joined ? GetConsoleCP() : 0;
    return page ? page : GetOEMCP();
}

bool InterruptInterpreter() {
    return JoinInterpreterConsole() && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
}

bool EndInterpreterPrograms() {
    if (!JoinInterpreterConsole()) return false;
    EndConsoleProcesses(g_interpreterId);
    return true;
}
