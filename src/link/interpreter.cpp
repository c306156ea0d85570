// Launch and shutdown of the interpreter, and the one way failures reach the user.
#include "link_state.h"

HANDLE g_inputWrite;
HANDLE g_outputRead;
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

// Reads COMSPEC into the command buffer. A value that is missing, or does not fit, is a failure
// with a last error of its own: nothing is started from an empty or truncated line.
bool ReadComspec() {
    g_commandBuffer[0] = '\0';
    const DWORD length = GetEnvironmentVariableA("COMSPEC", g_commandBuffer, kComspecMax);
    if (length >= static_cast<DWORD>(kComspecMax)) {
        g_commandBuffer[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    }
    return length > 0 && length < static_cast<DWORD>(kComspecMax);
}

// The program's ends must not be inherited: an interpreter holding a copy of its input's write
// end never sees the end of its input, and outlives the window when it ignores the stop line.
// And writes to the interpreter never wait: a full pipe takes nothing now, and the rest of the
// queue is written on later ticks (see FlushInput).
bool PrepareOwnEnds(const Pipe& input, const Pipe& output) {
    DWORD noWait = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    return SetHandleInformation(input.write, HANDLE_FLAG_INHERIT, 0) &&
           SetHandleInformation(output.read, HANDLE_FLAG_INHERIT, 0) &&
           SetNamedPipeHandleState(input.write, &noWait, nullptr, nullptr);
}

// Starts the command line from COMSPEC, hidden, reading `input` and writing `output`, with the
// program's inheritable handles: the interpreter's ends of the pipes.
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
    return CreateProcessA(nullptr, g_commandBuffer, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, process) != 0;
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
    if (!ReadComspec() || !CreatePipe(&input.read, &input.write, &inheritable, kInputPipeSize) ||
        !CreatePipe(&output.read, &output.write, &inheritable, kOutputPipeSize) ||
        !PrepareOwnEnds(input, output) || !StartHidden(input.read, output.write, &process)) {
        ReportLastError();
        Close(input);
        Close(output);
        return 0;
    }
    CloseHandle(input.read);
    CloseHandle(output.write);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    g_inputWrite = input.write;
    g_outputRead = output.read;
    g_windows = windows;
    // The scrollback's bound is the link's own: an edit control takes 30,000 characters unless
    // told otherwise.
    SendMessageA(windows.pane, EM_SETLIMITTEXT, 0, 0);
    ExpectOutput();
    return 1;
}

void StopInterpreter() {
    QueueStopLine();
    const ULONGLONG deadline = GetTickCount64() + kStopWaitMs;
    for (ULONGLONG now; (now = GetTickCount64()) < deadline;) {
        const ULONGLONG left = deadline - now;
        Sleep(static_cast<DWORD>(FlushInput() && left > 10 ? 10 : left));
    }
    CloseHandle(g_inputWrite);
    CloseHandle(g_outputRead);
    g_inputWrite = g_outputRead = nullptr;
    ForgetInput();
    ForgetOutput();
}
