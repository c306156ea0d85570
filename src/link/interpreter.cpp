// Launch and shutdown of the interpreter, and the one way failures reach the user.
#include "link_state.h"

HANDLE g_inputWrite;
HANDLE g_inputPeek;
HANDLE g_outputRead;
HANDLE g_interpreter;
DWORD g_interpreterId;
LinkWindows g_windows;
char g_commandBuffer[kCommandMaxChars + 3];

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

// Starts the command line from COMSPEC, hidden, reading `input` and writing `output`, with the
// program's inheritable handles: the interpreter's ends of the pipes. It gets a console of its
// own with no window at all, for the interrupts to reach the programs it runs: with no console
// flag, under Wine, the interpreter of a window started from no terminal has no console, and one
// started from a terminal shares it; and on Windows a new console with a window can be handed to
// a terminal application and shown, whatever the show flag says. SW_HIDE is for the programs
// that read it.
bool StartHidden(HANDLE input, HANDLE output, PROCESS_INFORMATION* process) {
    STARTUPINFOA startup;
    RtlZeroMemory(&startup, sizeof(startup));
    RtlZeroMemory(process, sizeof(*process));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    return CreateProcessA(nullptr, g_commandBuffer, nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, process) != 0;
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

}  // namespace

int SpawnInterpreter(const LinkWindows& windows) {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    Pipe input, output;
    PROCESS_INFORMATION process;
    // A read end of the interpreter's input of the window's own, which it only peeks at, never
    // reads: to write a line only once the interpreter has read the one before, and to name what
    // it never read when it ends. What is there stays for a program that still reads it.
    HANDLE peek = nullptr;
    if (!ReadComspec() || !CreatePipe(&input.read, &input.write, &inheritable, kInputPipeSize) ||
        !CreatePipe(&output.read, &output.write, &inheritable, kOutputPipeSize) ||
        !PrepareOwnEnds(input, output) ||
        !DuplicateHandle(GetCurrentProcess(), input.read, GetCurrentProcess(), &peek, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        !StartHidden(input.read, output.write, &process)) {
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
