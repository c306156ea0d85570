// Scripted stand-in for the command interpreter, started by the tests through COMSPEC.
//
//   fake_interpreter.exe BASE [STARTUP-COMMAND ...]
//   fake_interpreter.exe                  BASE from the environment variable VARNEL_FAKE_BASE
//   fake_interpreter.exe --program COMMAND ...
//
// As an interpreter it lives through Ctrl+C, as the system's interpreter does (event "ctrl-c").
// With --program it is a program that the interpreter runs: it runs each COMMAND, then ends; it
// reads no input, keeps no records, dies of Ctrl+C unless told to ignore it, and does not end with
// the program that started it (each of its commands ends by itself).
//
// Every byte read from standard input is appended to BASE.in as soon as it is read, and the
// notable moments are logged as "\r\n"-terminated lines in BASE.events (a stand-in started again
// with the same BASE adds to both):
//   start <ms> <pid>    on start-up, before the announcement
//   flood <bytes> <ms> <end-ms>
//                       after a flood: bytes written, time spent writing them, and when the
//                       writing ended
//   ping <n> <ms>       when a ping is served, before its pong is written
//   eof                 when standard input ends
//   exit <code>         just before the process exits
//   parent gone         3 s after the program that started it has ended, if it has not ended
//                       by then itself (it then exits with 254)
// <ms> values are QueryPerformanceCounter readings in milliseconds with three decimals.
//
// After the start event the program writes "FAKE READY\r\n", runs each STARTUP-COMMAND in
// order, then reads standard input line by line ("\n" ends a line, one trailing "\r" is
// dropped, an unfinished line waits for more input) and runs each line as a command:
//   echo TEXT        TEXT "\r\n" to stdout
//   err TEXT         TEXT "\r\n" to stderr
//   tail TEXT        TEXT to stdout, no line end
//   hex HH HH ...    the decoded bytes to stdout; blanks between digits are optional
//   flood N [LEN]    exactly N bytes of numbered LEN-byte lines (default 80), then
//                    "FLOOD END\r\n"
//   rand SEED N      N bytes of the stand_in.h stream for SEED, in writes of 1..8192 bytes
//   sleep MS         stop reading for MS milliseconds
//   drip COUNT MS    "drip I\r\n" for I = 1..COUNT, one every MS milliseconds, not reading
//                    meanwhile
//   ping N           event "ping N <ms>", then "pong N\r\n" to stdout
//   prompt TEXT      TEXT to stdout, no line end, then reads one line: event "answer LINE", or
//                    "answer-eof" when the input ends first
//   ignore-exit      from now on the bare "exit" line is ignored
//   exit [CODE]      exit with CODE (0 when absent); "exit" is matched in any letter case
//   run COMMANDS     a --program child running COMMANDS (separated by " ; ") on this console
//                    and these standard handles; waits for it, not reading meanwhile. Events
//                    "child <pid>", then "child-exit <code>"
//   spawn COMMANDS   the same, in the background: no wait ("child <pid>")
//   start COMMANDS   the same, in a console of its own, not waited for ("started <pid>")
//   ignore-ctrl-c    Ctrl+C does nothing to this process from now on
//   first-lines      from now on each read takes what the pipe holds, a buffer at a time, and
//                    only the first line of it runs: the rest is dropped (Wine's cmd.exe reads so)
//   chcp PAGE        both code pages of its console become PAGE, as "chcp" makes them
//   bits             "64-bit\r\n" or "32-bit\r\n" to stdout: which build of the stand-in runs
//   env NAME ...     event "env NAME=VALUE" for each NAME, the value in UTF-8, or "env NAME"
//                    when it is not set
// Unknown and malformed lines are ignored. At the end of input the program exits with 0.
//
// Output goes straight to the raw handles with WriteFile, so stdout and stderr stay in order
// when they share one pipe and nothing waits in a buffer.

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "stand_in.h"

namespace {

const DWORD kReadSize = 4096;
const size_t kFloodBlock = 4096;
const uint64_t kDefaultFloodLine = 80;
const uint64_t kFloodLineMin = 11;  // the number, its blank, one letter, CR LF
// `rand` writes its stream in pieces of 1..kRandomMaxChunk bytes, their sizes drawn from a second
// generator seeded with SEED ^ 0x5555.
const size_t kRandomMaxChunk = 8192;

HANDLE g_stdin = INVALID_HANDLE_VALUE;
HANDLE g_stdout = INVALID_HANDLE_VALUE;
HANDLE g_stderr = INVALID_HANDLE_VALUE;
HANDLE g_input_log = INVALID_HANDLE_VALUE;
HANDLE g_event_log = INVALID_HANDLE_VALUE;
LARGE_INTEGER g_qpc_frequency;
bool g_ignore_bare_exit = false;
bool g_first_lines = false;

// How `run`, `spawn` and `start` start their child.
enum ChildKind { kWaited, kBackground, kOwnConsole };

// Writes all of `size` bytes; false when the handle refuses them (e.g. the reader is gone).
bool WriteAll(HANDLE handle, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, chunk, &written, NULL) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool WriteText(HANDLE handle, const std::string& text) {
    return WriteAll(handle, text.data(), text.size());
}

void AppendDecimal(std::string& out, uint64_t value) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        out += digits[--count];
}

int64_t QpcNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Appends a counter reading (or difference of readings) as milliseconds, e.g. "1234.567".
void AppendMilliseconds(std::string& out, int64_t ticks) {
    if (ticks < 0) {
        out += '-';
        ticks = -ticks;
    }
    const uint64_t frequency = static_cast<uint64_t>(g_qpc_frequency.QuadPart);
    const uint64_t t = static_cast<uint64_t>(ticks);
    const uint64_t micros = t / frequency * 1000000 + t % frequency * 1000000 / frequency;
    AppendDecimal(out, micros / 1000);
    const uint64_t fraction = micros % 1000;
    out += '.';
    out += static_cast<char>('0' + fraction / 100);
    out += static_cast<char>('0' + fraction / 10 % 10);
    out += static_cast<char>('0' + fraction % 10);
}

// Events come from the main thread, the Ctrl+C handler's and the parent watch's. Under Wine two
// appends at once can land on the same place, one over the other, so they take turns.
SRWLOCK g_event_lock = SRWLOCK_INIT;

void LogEvent(const std::string& line) {
    if (g_event_log == INVALID_HANDLE_VALUE) return;
    AcquireSRWLockExclusive(&g_event_lock);
    WriteText(g_event_log, line + "\r\n");
    ReleaseSRWLockExclusive(&g_event_lock);
}

void ExitWithEvent(UINT code) {
    std::string event = "exit ";
    AppendDecimal(event, code);
    LogEvent(event);
    ExitProcess(code);
}

// Both logs can be read (and even deleted) by the tests while this process runs, and are added
// to, never rewritten.
HANDLE CreateLog(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

// Decimal digits only, no sign, no overflow.
bool ParseUnsigned(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t result = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

// Exit codes are 32-bit; a leading '-' wraps them the way the interpreter does ("-1" is
// 4294967295).
bool ParseExitCode(const std::string& text, UINT* code) {
    const bool negative = !text.empty() && text[0] == '-';
    uint64_t value = 0;
    if (!ParseUnsigned(negative ? text.substr(1) : text, &value) || value > 0xFFFFFFFFULL) {
        return false;
    }
    *code = static_cast<UINT>(negative ? 0 - value : value);
    return true;
}

// Splits command arguments on single blanks; doubled blanks give empty words.
std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    if (text.empty()) return words;
    size_t begin = 0;
    for (;;) {
        const size_t blank = text.find(' ', begin);
        if (blank == std::string::npos) {
            words.push_back(text.substr(begin));
            return words;
        }
        words.push_back(text.substr(begin, blank - begin));
        begin = blank + 1;
    }
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Writes nothing unless the whole argument is hex digit pairs (blanks anywhere are skipped).
void RunHex(const std::string& args) {
    std::string bytes;
    int high = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == ' ') continue;
        const int digit = HexDigitValue(args[i]);
        if (digit < 0) return;
        if (high < 0) {
            high = digit;
        } else {
            bytes += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    if (high >= 0) return;
    WriteText(g_stdout, bytes);
}

// Writes exactly `total` bytes of flood lines in blocks of kFloodBlock bytes, stopping early
// only if stdout stops taking them. Returns the number of bytes written.
uint64_t WriteFlood(uint64_t total, size_t line_length) {
    std::string line = FloodLineTemplate(line_length);
    char block[kFloodBlock];
    size_t filled = 0;
    uint64_t line_number = 0;
    size_t line_offset = 0;
    uint64_t written = 0;
    SetFloodLineNumber(&line[0], line_number);
    for (uint64_t produced = 0; produced < total;) {
        size_t take = line_length - line_offset;
        if (take > kFloodBlock - filled) take = kFloodBlock - filled;
        if (take > total - produced) take = static_cast<size_t>(total - produced);
        memcpy(block + filled, line.data() + line_offset, take);
        filled += take;
        produced += take;
        line_offset += take;
        if (line_offset == line_length) {
            line_offset = 0;
            SetFloodLineNumber(&line[0], ++line_number);
        }
        if (filled == kFloodBlock || produced == total) {
            if (!WriteAll(g_stdout, block, filled)) break;
            written += filled;
            filled = 0;
        }
    }
    return written;
}

void RunFlood(const std::string& args) {
    const std::vector<std::string> words = SplitWords(args);
    uint64_t total = 0;
    uint64_t line_length = kDefaultFloodLine;
    if (words.empty() || words.size() > 2 || !ParseUnsigned(words[0], &total)) return;
    if (words.size() == 2 && !ParseUnsigned(words[1], &line_length)) return;
    if (line_length < kFloodLineMin || line_length > 1000000) return;

    const int64_t begin = QpcNow();
    const uint64_t written = WriteFlood(total, static_cast<size_t>(line_length));
    const int64_t end = QpcNow();

    std::string event = "flood ";
    AppendDecimal(event, written);
    event += ' ';
    AppendMilliseconds(event, end - begin);
    event += ' ';
    AppendMilliseconds(event, end);
    LogEvent(event);
    WriteText(g_stdout, kFloodEnd);
}

void RunRand(const std::string& args) {
    const std::vector<std::string> words = SplitWords(args);
    uint64_t seed = 0;
    uint64_t total = 0;
    if (words.size() != 2 || !ParseUnsigned(words[0], &seed) || !ParseUnsigned(words[1], &total)) {
        return;
    }
    uint64_t data_state = seed;
    uint64_t size_state = seed ^ 0x5555;
    char buffer[kRandomMaxChunk];
    while (total > 0) {
        size_t size = static_cast<size_t>(1 + SplitMixNext(size_state) % kRandomMaxChunk);
        if (size > total) size = static_cast<size_t>(total);
        for (size_t i = 0; i < size; ++i)
            buffer[i] = static_cast<char>(SplitMixNext(data_state));
        if (!WriteAll(g_stdout, buffer, size)) return;
        total -= size;
    }
}

void RunSleep(const std::string& args) {
    uint64_t ms = 0;
    if (!ParseUnsigned(args, &ms) || ms >= INFINITE) return;
    Sleep(static_cast<DWORD>(ms));
}

void RunDrip(const std::string& args) {
    const size_t blank = args.find(' ');
    uint64_t count = 0, ms = 0;
    if (blank == std::string::npos || !ParseUnsigned(args.substr(0, blank), &count) ||
        !ParseUnsigned(args.substr(blank + 1), &ms) || ms >= INFINITE) {
        return;
    }
    for (uint64_t i = 1; i <= count; ++i) {
        WriteText(g_stdout, "drip " + std::to_string(i) + "\r\n");
        Sleep(static_cast<DWORD>(ms));
    }
}

// The ping is logged before the pong is written, so the event time never follows the reply.
void RunPing(const std::string& args) {
    if (args.empty() || args.find(' ') != std::string::npos) return;
    std::string event = "ping " + args + " ";
    AppendMilliseconds(event, QpcNow());
    LogEvent(event);
    WriteText(g_stdout, "pong " + args + "\r\n");
}

void RunExit(const std::string& args, bool bare) {
    if (bare) {
        if (!g_ignore_bare_exit) ExitWithEvent(0);
        return;
    }
    UINT code = 0;
    if (ParseExitCode(args, &code)) ExitWithEvent(code);
}

bool IsExitWord(const std::string& word) {
    return word.size() == 4 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, word.data(), 4,
                                              "exit", 4) == CSTR_EQUAL;
}

std::string ToUtf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    if (size <= 1) return std::string();
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, NULL, NULL);
    result.resize(static_cast<size_t>(size - 1));
    return result;
}

// Commands come as UTF-8 (see ToUtf8) and go back to a child as UTF-16.
std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          &wide[0], static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(units > 0 ? units : 0));
    return wide;
}

// Starts this program with --program, each of `commands` (separated by " ; ") one argument.
void RunChild(const std::string& commands, ChildKind kind) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" --program";
    for (size_t begin = 0; begin <= commands.size();) {
        size_t end = commands.find(" ; ", begin);
        if (end == std::string::npos) end = commands.size();
        line += L" \"" + Widen(commands.substr(begin, end - begin)) + L"\"";
        begin = end + 3;
    }
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    if (kind != kOwnConsole) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = g_stdin;
        startup.hStdOutput = g_stdout;
        startup.hStdError = g_stderr;
    }
    PROCESS_INFORMATION child;
    if (!CreateProcessW(self, &line[0], NULL, NULL, kind != kOwnConsole,
                        kind == kOwnConsole ? CREATE_NEW_CONSOLE : 0, NULL, NULL, &startup,
                        &child)) {
        LogEvent("child failed");
        return;
    }
    std::string event = kind == kOwnConsole ? "started " : "child ";
    AppendDecimal(event, child.dwProcessId);
    LogEvent(event);
    if (kind == kWaited) {
        WaitForSingleObject(child.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(child.hProcess, &code);
        event = "child-exit ";
        AppendDecimal(event, code);
        LogEvent(event);
    }
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
}

// The next line of standard input, without its line end; false once the input has ended. Each
// chunk read reaches BASE.in before any of its lines is handed out.
bool NextLine(std::string* line) {
    static std::string pending;
    static size_t begin = 0;
    for (size_t newline; (newline = pending.find('\n', begin)) == std::string::npos;) {
        pending.erase(0, begin);
        begin = 0;
        char buffer[kReadSize];
        DWORD count = 0;
        if (!ReadFile(g_stdin, buffer, kReadSize, &count, NULL) || count == 0) return false;
        WriteAll(g_input_log, buffer, count);
        pending.append(buffer, count);
    }
    const size_t newline = pending.find('\n', begin);
    const size_t end = newline > begin && pending[newline - 1] == '\r' ? newline - 1 : newline;
    line->assign(pending, begin, end - begin);
    begin = newline + 1;
    if (g_first_lines) begin = pending.size();  // whatever else the read brought is lost
    return true;
}

void RunPrompt(const std::string& text) {
    WriteText(g_stdout, text);
    std::string answer;
    LogEvent(NextLine(&answer) ? "answer " + answer : "answer-eof");
}

void RunEnv(const std::string& args) {
    for (const std::string& name : SplitWords(args)) {
        const std::wstring wide = Widen(name);
        const DWORD size = GetEnvironmentVariableW(wide.c_str(), NULL, 0);
        std::wstring value(size, L'\0');
        if (size) value.resize(GetEnvironmentVariableW(wide.c_str(), &value[0], size));
        LogEvent("env " + name + (size ? "=" + ToUtf8(value.c_str()) : ""));
    }
}

// Runs one command line (without its line end).
void RunCommand(const std::string& line) {
    const size_t blank = line.find(' ');
    const bool has_args = blank != std::string::npos;
    const std::string word = line.substr(0, blank);
    const std::string args = has_args ? line.substr(blank + 1) : std::string();

    if (word == "echo") {
        WriteText(g_stdout, args + "\r\n");
    } else if (word == "err") {
        WriteText(g_stderr, args + "\r\n");
    } else if (word == "tail") {
        WriteText(g_stdout, args);
    } else if (word == "hex") {
        RunHex(args);
    } else if (word == "flood") {
        RunFlood(args);
    } else if (word == "rand") {
        RunRand(args);
    } else if (word == "sleep") {
        RunSleep(args);
    } else if (word == "ping") {
        RunPing(args);
    } else if (word == "drip") {
        RunDrip(args);
    } else if (word == "prompt") {
        RunPrompt(args);
    } else if (word == "ignore-exit" && !has_args) {
        g_ignore_bare_exit = true;
    } else if (word == "first-lines" && !has_args) {
        g_first_lines = true;
    } else if (word == "ignore-ctrl-c" && !has_args) {
        SetConsoleCtrlHandler(NULL, TRUE);
    } else if (word == "run" || word == "spawn" || word == "start") {
        RunChild(args, word == "run" ? kWaited : word == "spawn" ? kBackground : kOwnConsole);
    } else if (word == "chcp") {
        uint64_t page = 0;
        if (ParseUnsigned(args, &page) && page <= 0xFFFF) {
            SetConsoleOutputCP(static_cast<UINT>(page));
            SetConsoleCP(static_cast<UINT>(page));
        }
    } else if (word == "bits" && !has_args) {
        WriteText(g_stdout, sizeof(void*) == 8 ? "64-bit\r\n" : "32-bit\r\n");
    } else if (word == "env") {
        RunEnv(args);
    } else if (IsExitWord(word)) {
        RunExit(args, !has_args);
    }
}

// The stand-in never outlives the program that started it for long. A fault that leaves its input
// open (a write end it inherited itself) would otherwise keep it alive for good, and with it every
// handle it inherited, such as the test runner's output pipe. It first gives itself a few seconds
// to end as it would: a window that closes hands it the end of its input as it goes.
DWORD WINAPI ExitWithParent(void* parent) {
    WaitForSingleObject(parent, INFINITE);
    Sleep(3000);
    LogEvent("parent gone");
    ExitProcess(254);
}

void WatchParent() {
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, parent);
    if (process) CloseHandle(CreateThread(NULL, 0, ExitWithParent, process, 0, NULL));
}

// The interpreter lives through Ctrl+C (and Ctrl+Break, which Wine does not send).
BOOL WINAPI SurviveInterrupt(DWORD event) {
    if (event == CTRL_C_EVENT) LogEvent("ctrl-c");
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    g_stdin = GetStdHandle(STD_INPUT_HANDLE);
    g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    g_stderr = GetStdHandle(STD_ERROR_HANDLE);
    QueryPerformanceFrequency(&g_qpc_frequency);
    if (argv != NULL && argc >= 2 && lstrcmpW(argv[1], L"--program") == 0) {
        for (int i = 2; i < argc; ++i)
            RunCommand(ToUtf8(argv[i]));
        return 0;
    }
    wchar_t fromEnvironment[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"VARNEL_FAKE_BASE", fromEnvironment, MAX_PATH);
    if (argv == NULL || (argc < 2 && fromEnvironment[0] == 0)) {
        WriteText(g_stderr, "usage: fake_interpreter BASE [COMMAND ...]\r\n");
        return 2;
    }
    WatchParent();
    SetConsoleCtrlHandler(SurviveInterrupt, TRUE);

    const std::wstring base = argc >= 2 ? argv[1] : fromEnvironment;
    g_input_log = CreateLog(base + L".in");
    g_event_log = CreateLog(base + L".events");
    if (g_input_log == INVALID_HANDLE_VALUE || g_event_log == INVALID_HANDLE_VALUE) {
        WriteText(g_stderr, "fake_interpreter: cannot create the log files\r\n");
        return 2;
    }

    std::string start = "start ";
    AppendMilliseconds(start, QpcNow());
    start += ' ';
    AppendDecimal(start, GetCurrentProcessId());
    LogEvent(start);
    WriteText(g_stdout, kGreeting);

    for (int i = 2; i < argc; ++i)
        RunCommand(ToUtf8(argv[i]));
    LocalFree(argv);

    for (std::string line; NextLine(&line);)
        RunCommand(line);
    LogEvent("eof");
    ExitWithEvent(0);
    return 0;
}
