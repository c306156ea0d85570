// The interpreter's console. The interpreter is started with a console of its own that has no
// window, and every program it runs in the foreground or with "start /b" shares that console. To
// reach those programs as a console window would, with Ctrl+C or Ctrl+Break, the window joins the
// console for a moment and leaves it again. Programs started into consoles of their own or as
// windows ("start notepad", "start cmd") are not on it, and are never touched.
#include "link_state.h"

namespace {

// The window itself gets the interrupts it sends to the console it has joined. Its own handler
// keeps it alive; the null handler would do too, but that flag is inherited by every program it
// starts, which could then not be interrupted at all.
BOOL WINAPI SurviveInterrupt(DWORD event) {
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

ConsoleAttachment::ConsoleAttachment(DWORD processId) {
    static bool s_protected;
    if (!s_protected) s_protected = SetConsoleCtrlHandler(SurviveInterrupt, TRUE) != 0;
    FreeConsole();
    attached_ = processId != 0 && AttachConsole(processId);
}

ConsoleAttachment::~ConsoleAttachment() {
    if (attached_) FreeConsole();
}

void EndConsoleProcesses(DWORD spared) {
    // The list, grown while the count it reports says more are there than it could hold.
    DWORD small[64];
    DWORD* ids = small;
    DWORD room = ARRAYSIZE(small);
    DWORD count = GetConsoleProcessList(ids, room);
    while (count > room) {
        if (ids != small) HeapFree(GetProcessHeap(), 0, ids);
        room = count + 16;
        ids = static_cast<DWORD*>(HeapAlloc(GetProcessHeap(), 0, room * sizeof(DWORD)));
        count = ids ? GetConsoleProcessList(ids, room) : 0;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (ids[i] == spared || ids[i] == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, ids[i]);
        if (!process) continue;
        TerminateProcess(process, kEndedByBreakCode);
        CloseHandle(process);
    }
    if (ids != small) HeapFree(GetProcessHeap(), 0, ids);
}

bool InterruptInterpreter() {
    ConsoleAttachment console(g_interpreterId);
    return console && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
}

bool EndInterpreterPrograms() {
    ConsoleAttachment console(g_interpreterId);
    if (console) EndConsoleProcesses(g_interpreterId);
    return static_cast<bool>(console);
}
