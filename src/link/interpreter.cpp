// Launch and shutdown of the interpreter, and the one way failures reach the user.
#include "link.h"

HANDLE g_inputWrite;
HANDLE g_outputRead;
char g_commandBuffer[kCommandMaxChars + 3];
HWND g_mainWindow;
HWND g_outputPane;
HWND g_commandCombo;
HWND g_entryField;

namespace {

void CloseAndClear(HANDLE& handle) {
    CloseHandle(handle);
    handle = nullptr;
}

// The program's own ends must not be inherited: an interpreter holding a copy of its input's
// write end never sees the end of its input, and outlives the window when it ignores the stop
// line.
void KeepToThisProcess(HANDLE handle) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
}

// Writes to the interpreter never wait: a full pipe takes nothing now and the rest of the queue
// is written on later passes (see FlushInput).
void MakeWritesNonBlocking(HANDLE handle) {
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
}

// Reads COMSPEC into the command buffer. A value that does not fit is a failure with a last
// error of its own, so that nothing is started from a truncated line.
bool ReadComspec() {
    g_commandBuffer[0] = '\0';
    DWORD length = GetEnvironmentVariableA("COMSPEC", g_commandBuffer, kComspecMax);
    if (length >= static_cast<DWORD>(kComspecMax)) {
        g_commandBuffer[0] = '\0';
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

}  // namespace

int SpawnInterpreter() {
    if (!ReadComspec()) {
        ReportLastError();
        return 0;
    }

    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE inputWrite = nullptr;
    HANDLE outputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&inputRead, &inputWrite, &inheritable, kInputPipeSize)) {
        ReportLastError();
        return 0;
    }
    if (!CreatePipe(&outputRead, &outputWrite, &inheritable, kOutputPipeSize)) {
        DWORD error = GetLastError();
        CloseHandle(inputRead);
        CloseHandle(inputWrite);
        SetLastError(error);
        ReportLastError();
        return 0;
    }
    KeepToThisProcess(inputWrite);
    KeepToThisProcess(outputRead);

    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    RtlZeroMemory(&startup, sizeof(startup));
    RtlZeroMemory(&process, sizeof(process));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;

    if (!CreateProcessA(nullptr, g_commandBuffer, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ReportLastError();
        CloseHandle(inputRead);
        CloseHandle(outputWrite);
        CloseHandle(outputRead);
        CloseHandle(inputWrite);
        return 0;
    }
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);

    MakeWritesNonBlocking(inputWrite);
    g_inputWrite = inputWrite;
    g_outputRead = outputRead;
    return 1;
}

void StopInterpreter() {
    QueueStopLine();
    // The second belongs to the interpreter: whatever it has not taken by then stays unwritten.
    ULONGLONG deadline = GetTickCount64() + 1000;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        DWORD left = static_cast<DWORD>(deadline - now);
        Sleep(FlushInput() == 0 ? left : (left < 10 ? left : 10));
    }
    CloseAndClear(g_inputWrite);
    CloseAndClear(g_outputRead);
    FlushInput();  // with the pipe closed, this drops what could not be written in time
    DiscardPendingOutput();
}

void ReportLastError() {
    DWORD error = GetLastError();
    char* text = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
    DWORD length =
        FormatMessageA(flags, nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0) {
        // Texts with insert sequences cannot be filled without arguments; show them as they are.
        length = FormatMessageA(flags | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                reinterpret_cast<char*>(&text), 0, nullptr);
    }
    if (length != 0) {
        MessageBoxA(nullptr, text, nullptr, MB_OK);
        LocalFree(text);
        return;
    }
    char fallback[64];
    wsprintfA(fallback, "Error %lu (0x%08lX).", error, error);
    MessageBoxA(nullptr, fallback, nullptr, MB_OK);
}
