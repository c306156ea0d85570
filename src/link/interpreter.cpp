// Launch and shutdown of the interpreter, and the one way failures reach the user.
#include "environment.h"
#include "link_state.h"

HANDLE g_inputWrite;
HANDLE g_inputPeek;
HANDLE g_outputRead;
HANDLE g_interpreter;
DWORD g_interpreterId;
LinkWindows g_windows;
char g_commandBuffer[kLineBytesMax + 1];
static_assert(kComspecMax + 2 <= sizeof(g_commandBuffer), "COMSPEC's line fits the buffer");

namespace {

struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
};

void Close(Pipe& pipe) {
    if (pipe.read) CloseHandle(pipe.read);
    if (pipe.write) CloseHandle(pipe.write);
    pipe = Pipe();
}

// Whether an unquoted command line would be split: the platform then tries each blank-separated
// prefix in turn as a program ("C:\Program.exe" for "C:\Program Files\...").
bool HoldsBlank(const char* text) {
    for (; *text; ++text)
        if (*text == ' ' || *text == '\t') return true;
    return false;
}

bool IsFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Reads COMSPEC into the command buffer as the interpreter's command line. A value that holds a
// blank and names an existing file as a whole is that file, and is quoted; any other value is the
// command line as it stands (it may carry arguments, or be quoted already). A value that is
// missing, or does not fit, is a failure with a last error of its own: nothing is started from an
// empty or truncated line.
bool ReadComspec() {
    char* const value = g_commandBuffer + 1;  // room for the opening quote
    value[0] = '\0';
    const DWORD length = GetEnvironmentVariableA("COMSPEC", value, kComspecMax);
    if (length == 0) return false;  // the lookup's own error says why
    const DWORD most = static_cast<DWORD>(kComspecMax) - 1;
    const bool quoted = length <= most && HoldsBlank(value) && IsFile(value);
    if (length + (quoted ? 2 : 0) > most) {
        g_commandBuffer[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    if (quoted) {
        g_commandBuffer[0] = '"';
        value[length] = '"';
        value[length + 1] = '\0';
    } else {
        MoveMemory(g_commandBuffer, value, length + 1);
    }
    return true;
}

// The program's ends must not be inherited: an interpreter holding a copy of its input's write
// end never sees the end of its input, which is how the close asks an idle one to end. And
// writes to the interpreter never wait: a full pipe takes nothing now, and the rest of the
// queue is written on later ticks (see FlushInput).
bool PrepareOwnEnds(const Pipe& input, const Pipe& output) {
    DWORD noWait = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    return SetHandleInformation(input.write, HANDLE_FLAG_INHERIT, 0) &&
           SetHandleInformation(output.read, HANDLE_FLAG_INHERIT, 0) &&
           SetNamedPipeHandleState(input.write, &noWait, nullptr, nullptr);
}

#ifdef _WIN64
// A 64-bit window is a native program: its launch sees the system's own files, and the
// interpreter inherits the window's environment.
class NativeLaunch {
public:
    const WCHAR* Environment() const { return nullptr; }
};
#else
// The launch of the native interpreter by the 32-bit window on 64-bit Windows. There the system
// shows a 32-bit program %windir%\SysWOW64 where it asks for %windir%\System32, so COMSPEC's
// "C:\Windows\system32\cmd.exe" would start the 32-bit cmd.exe, in whose world the user's ssh,
// wsl or bcdedit are not found, and %ProgramFiles% and the registry are the 32-bit ones. While
// this lives, the calling thread sees the native files, and Environment() is the block of a
// 64-bit program (NativeEnvironment): the interpreter starts as from a console. Only the launch
// runs so, as DLLs that load while the redirection is off are the native ones, which a 32-bit
// program cannot load:
// https://learn.microsoft.com/windows/win32/api/wow64apiset/nf-wow64apiset-wow64disablewow64fsredirection
// On 32-bit Windows, and wherever the redirection cannot be turned off, nothing changes: the
// 32-bit interpreter starts with the window's own environment.
//
// The redirection is turned off rather than "System32" rewritten as "Sysnative" in COMSPEC: only
// 32-bit programs see that alias, so the interpreter would run from a path that it, and every
// program it starts, cannot find; and a rewrite would have to know every spelling of the folder
// (any letter case, short names, the Windows folder wherever it is). The functions are looked up
// as the launch runs, as the kernel32 of an older 32-bit Windows may lack them, and would then
// refuse to load the program.
class NativeLaunch {
public:
    NativeLaunch() {
        const HMODULE kernel = GetModuleHandleA("kernel32.dll");
        const auto isWow64 = reinterpret_cast<BOOL(WINAPI*)(HANDLE, BOOL*)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
        const auto disable = reinterpret_cast<BOOL(WINAPI*)(void**)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
        revert_ = reinterpret_cast<BOOL(WINAPI*)(void*)>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
        BOOL wow64 = FALSE;
        if (!isWow64 || !disable || !revert_ || !isWow64(GetCurrentProcess(), &wow64) || !wow64 ||
            !disable(&redirection_)) {
            revert_ = nullptr;
            return;
        }
        // Without a block of its own the interpreter inherits the window's: the system may still
        // give a 64-bit program its own values as it starts.
        WCHAR* own = GetEnvironmentStringsW();
        if (!own) return;
        const size_t size = NativeEnvironment(own, nullptr, 0);
        environment_ = static_cast<WCHAR*>(HeapAlloc(GetProcessHeap(), 0, size * sizeof(WCHAR)));
        if (environment_) NativeEnvironment(own, environment_, size);
        FreeEnvironmentStringsW(own);
    }
    // The redirection back on, the launch's last error kept for its report.
    ~NativeLaunch() {
        const DWORD error = GetLastError();
        if (revert_) revert_(redirection_);
        if (environment_) HeapFree(GetProcessHeap(), 0, environment_);
        SetLastError(error);
    }
    NativeLaunch(const NativeLaunch&) = delete;
    NativeLaunch& operator=(const NativeLaunch&) = delete;

    // The environment of the interpreter, in UTF-16, or null for the window's own.
    const WCHAR* Environment() const { return environment_; }

private:
    BOOL(WINAPI* revert_)(void*) = nullptr;
    void* redirection_ = nullptr;
    WCHAR* environment_ = nullptr;
};
#endif

// Starts the command line from COMSPEC, hidden, reading `input` and writing `output`, with the
// program's inheritable handles: the interpreter's ends of the pipes, and `environment` (UTF-16)
// unless that is null. It gets a console of its own with no window at all, for the interrupts to
// reach the programs it runs: with no console flag, under Wine, the interpreter of a window
// started from no terminal has no console, and one started from a terminal shares it; and on
// Windows a new console with a window can be handed to a terminal application and shown, whatever
// the show flag says. SW_HIDE is for the programs that read it.
bool StartHidden(HANDLE input, HANDLE output, const WCHAR* environment,
                 PROCESS_INFORMATION* process) {
    STARTUPINFOA startup;
    RtlZeroMemory(&startup, sizeof(startup));
    RtlZeroMemory(process, sizeof(*process));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    const DWORD flags = CREATE_NO_WINDOW | (environment ? CREATE_UNICODE_ENVIRONMENT : 0);
    return CreateProcessA(nullptr, g_commandBuffer, nullptr, nullptr, TRUE, flags,
                          const_cast<WCHAR*>(environment), nullptr, &startup, process) != 0;
}

// Shows the platform's text for the calling thread's last error in one ownerless box with the
// default caption, and under it the interpreter that was to be started.
void ReportLastError() {
    const DWORD error = GetLastError();
    static char comspec[32768];  // the longest value the environment holds
    comspec[0] = '\0';
    const bool set = GetEnvironmentVariableA("COMSPEC", comspec, sizeof(comspec)) > 0 ||
                     GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    // A text is never asked for without arguments for its inserts: the platform would read them
    // from wherever they point. Each is the interpreter's command line, so that "%1 is not a
    // valid Win32 application." names the file.
    DWORD_PTR inserts[99];
    for (DWORD_PTR& insert : inserts)
        insert = reinterpret_cast<DWORD_PTR>(comspec);
    char* reason = nullptr;
    char code[40];
    if (FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       nullptr, error, 0, reinterpret_cast<char*>(&reason), 0,
                       reinterpret_cast<va_list*>(inserts)) == 0) {
        wsprintfA(code, "Error %lu (0x%08lX).", error, error);
    } else {
        for (size_t end = lstrlenA(reason); end > 0 && reason[end - 1] <= ' '; --end)
            reason[end - 1] = '\0';
    }
    const DWORD_PTR lines[] = {
        reinterpret_cast<DWORD_PTR>(reason ? reason : code),
        reinterpret_cast<DWORD_PTR>(set ? "COMSPEC: " : "COMSPEC is not set."),
        reinterpret_cast<DWORD_PTR>(comspec)};
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        "%1%n%2%3", 0, 0, reinterpret_cast<char*>(&text), 0,
        reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(lines)));
    MessageBoxA(nullptr, text ? text : reinterpret_cast<char*>(lines[0]), nullptr, MB_OK);
    LocalFree(text);
    LocalFree(reason);
}

// The launch up to the interpreter's start, which sees the native system: the file COMSPEC may
// name, and the interpreter that starts. `peek` becomes a read end of the interpreter's input of
// the window's own, which it only peeks at, never reads: to write a line only once the interpreter
// has read the one before, and to name what it never read when it ends. What is there stays for a
// program that still reads it. False on a failure, whose last error says why.
bool Launch(Pipe* input, Pipe* output, HANDLE* peek, PROCESS_INFORMATION* process) {
    NativeLaunch native;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    return ReadComspec() && CreatePipe(&input->read, &input->write, &inheritable, kInputPipeSize) &&
           CreatePipe(&output->read, &output->write, &inheritable, kOutputPipeSize) &&
           PrepareOwnEnds(*input, *output) &&
           DuplicateHandle(GetCurrentProcess(), input->read, GetCurrentProcess(), peek, 0, FALSE,
                           DUPLICATE_SAME_ACCESS) &&
           StartHidden(input->read, output->write, native.Environment(), process);
}

}  // namespace

int SpawnInterpreter(const LinkWindows& windows) {
    Pipe input, output;
    PROCESS_INFORMATION process;
    HANDLE peek = nullptr;
    if (!Launch(&input, &output, &peek, &process)) {
        ReportLastError();
        Close(input);
        Close(output);
        if (peek) CloseHandle(peek);
        return 0;
    }
    g_inputPeek = peek;
    CloseHandle(input.read);
    CloseHandle(output.write);
    CloseHandle(process.hThread);
    g_inputWrite = input.write;
    g_outputRead = output.read;
    g_interpreter = process.hProcess;
    g_interpreterId = process.dwProcessId;
    g_windows = windows;
    // The scrollback's bound is the link's own: an edit control takes 30,000 characters unless
    // told otherwise.
    SendMessageA(windows.pane, EM_SETLIMITTEXT, 0, 0);
    AwaitInterpreterConsole();
    ExpectOutput();
    return 1;
}

bool InterpreterEnded(DWORD* code) {
    if (!g_interpreter || WaitForSingleObject(g_interpreter, 0) != WAIT_OBJECT_0) return false;
    return !code || GetExitCodeProcess(g_interpreter, code);
}

void StopInterpreter() {
    if (!g_interpreter) return;
    // As a console window's close does: every program on the console may stop by itself on
    // Ctrl+C, an idle interpreter on the end of its input; then whatever still runs there is
    // ended. Nothing is typed into the interpreter: a line would answer whatever reads its input.
    InterruptInterpreter();
    CloseHandle(g_inputWrite);
    g_inputWrite = nullptr;
    if (WaitForSingleObject(g_interpreter, kStopWaitMs) == WAIT_TIMEOUT) {
        TerminateProcess(g_interpreter, kEndedByBreakCode);  // even on no console at all
    }
    EndConsoleProcesses(0);
    LeaveInterpreterConsole();
    CloseHandle(g_inputPeek);
    CloseHandle(g_outputRead);
    CloseHandle(g_interpreter);
    g_inputPeek = g_outputRead = g_interpreter = nullptr;
    g_interpreterId = 0;
    ForgetPastedLines();
    ForgetInput();
    ForgetOutput();
}

void RestartInterpreter() {
    StopInterpreter();
    SpawnInterpreter(g_windows);
}
