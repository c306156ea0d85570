// A short session for people to watch (scripts/run without a display): starts varnel.exe with
// the given interpreter, types each line into its entry field as a user would and waits for the
// answer, prints the pane's text, lets the caller take a picture of the screen, then closes the
// window and checks that the program ends with 0.
//
//   varnel_demo [--ready FILE] [--resume FILE] [--status FILE] COMSPEC [LINE...]
//
//   --ready FILE    created once the session is on screen and painted; holds the window's
//                   rectangle on the screen as "left top width height"
//   --resume FILE   waited for (a minute at most) after that, before the window is closed
//   --status FILE   written at the end with the exit code, for callers that cannot see it (a
//                   program started by Wine's explorer /desktop=... is one)
//
// The pane's text goes to standard output with "\n" line ends, progress to standard error.
// Exit code 0 when every step worked, 1 otherwise, 2 for wrong arguments.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "driver.h"

namespace {

const int kStartMs = 20000;      // for the window to appear and the interpreter to answer
const int kAnswerMs = 20000;     // for the answer to one typed line
const int kQuietMs = 600;        // output counts as complete after this long without change
const int kPromptlessMs = 3000;  // ... or this long, when it does not end with a prompt
const int kResumeMs = 60000;     // for the caller's signal to go on
const int kExitMs = 10000;       // for the program to end once the window is closed

int Fail(const std::string& what) {
    fprintf(stderr, "varnel_demo: %s\n", what.c_str());
    return 1;
}

// The pane's text, or false when the window does not answer within a few seconds.
bool ReadPane(const VarnelProcess& varnel, std::string* text) {
    if (varnel.RoundTripMs(5000) < 0) return false;
    *text = varnel.Pane();
    return true;
}

bool EndsWithPrompt(const std::string& text) {
    return !text.empty() && text.back() == '>';
}

// Waits until the pane's text differs from `before` and then stays the same for a while: the
// interpreter has answered. Gives the text in `after`.
bool WaitForAnswer(const VarnelProcess& varnel, const std::string& before, int timeoutMs,
                   std::string* after) {
    std::string last;
    if (!ReadPane(varnel, &last)) return false;
    double end = NowMs() + timeoutMs;
    double changedAt = NowMs();
    while (NowMs() < end) {
        if (varnel.WaitForExit(50) != STILL_ACTIVE) return false;
        std::string now;
        if (!ReadPane(varnel, &now)) return false;
        if (now != last) {
            last = now;
            changedAt = NowMs();
            continue;
        }
        double quiet = NowMs() - changedAt;
        if (last != before &&
            (quiet >= kPromptlessMs || (quiet >= kQuietMs && EndsWithPrompt(last)))) {
            *after = last;
            return true;
        }
    }
    return false;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes the file in one go, under a temporary name first so that a watcher never sees half.
bool WriteWholeFile(const std::string& path, const std::string& data) {
    std::string temporary = path + ".part";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
              written == data.size();
    CloseHandle(file);
    return ok && MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The text with "\r\n" line ends made "\n", written as it is.
void PrintText(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    if (out.empty() || out.back() != '\n') out += '\n';
    _setmode(_fileno(stdout), _O_BINARY);
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
}

int Session(const std::string& comspec, const std::vector<std::string>& lines,
            const std::string& ready, const std::string& resume) {
    VarnelProcess varnel;
    if (!varnel.Start(comspec.c_str())) return Fail("cannot start " + BuildDir() + "\\varnel.exe");
    if (!varnel.WaitForWindow(kStartMs)) return Fail("the Varnel window did not appear");
    // As if the user had clicked it, so that the caption is drawn in the active colours. Wine
    // makes an already active window the foreground one without telling it (no WM_NCACTIVATE),
    // so the frame is told here.
    SetForegroundWindow(varnel.dialog);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(varnel.dialog, WM_NCACTIVATE, GetForegroundWindow() == varnel.dialog, 0,
                        SMTO_NORMAL, 5000, &ignored);
    std::string pane;
    if (!WaitForAnswer(varnel, std::string(), kStartMs, &pane)) {
        return Fail("no output from the interpreter " + comspec);
    }
    for (const std::string& line : lines) {
        fprintf(stderr, "varnel_demo: typing %s\n", line.c_str());
        if (!varnel.Type(line)) return Fail("the entry field did not take " + line);
        std::string before = pane;
        if (!WaitForAnswer(varnel, before, kAnswerMs, &pane)) {
            return Fail("no answer to " + line);
        }
    }
    PrintText(pane);

    // Time for the last output to be painted before anyone looks at the screen.
    RedrawWindow(varnel.dialog, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Sleep(1000);
    if (varnel.RoundTripMs(5000) < 0) return Fail("the window stopped answering");
    RECT rect{};
    GetWindowRect(varnel.dialog, &rect);
    std::string where = std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
                        std::to_string(rect.right - rect.left) + " " +
                        std::to_string(rect.bottom - rect.top) + "\n";
    if (!ready.empty() && !WriteWholeFile(ready, where)) return Fail("cannot write " + ready);
    if (!resume.empty() &&
        !WaitFor(
            "the signal to go on", [&] { return FileExists(resume); }, kResumeMs)) {
        return Fail("no signal to go on in " + resume);
    }

    varnel.Close();
    DWORD code = varnel.WaitForExit(kExitMs);
    if (code == STILL_ACTIVE) return Fail("varnel.exe did not end after its window was closed");
    if (code != 0) return Fail("varnel.exe ended with " + std::to_string(code));
    fprintf(stderr, "varnel_demo: window closed, varnel.exe ended with 0\n");
    return 0;
}

int Usage() {
    fprintf(
        stderr,
        "usage: varnel_demo [--ready FILE] [--resume FILE] [--status FILE] COMSPEC [LINE...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string ready, resume, status;
    int arg = 1;
    for (; arg + 1 < argc; arg += 2) {
        std::string option = argv[arg];
        if (option == "--ready") {
            ready = argv[arg + 1];
        } else if (option == "--resume") {
            resume = argv[arg + 1];
        } else if (option == "--status") {
            status = argv[arg + 1];
        } else {
            break;
        }
    }
    for (const std::string* stale : {&ready, &resume, &status}) {
        if (!stale->empty()) DeleteFileA(stale->c_str());
    }
    int code;
    if (arg < argc && std::string(argv[arg]).compare(0, 2, "--") != 0) {
        std::string comspec = argv[arg++];
        code = Session(comspec, std::vector<std::string>(argv + arg, argv + argc), ready, resume);
    } else {
        code = Usage();
    }
    if (!status.empty() && !WriteWholeFile(status, std::to_string(code) + "\n")) {
        fprintf(stderr, "varnel_demo: cannot write %s\n", status.c_str());
        code = 1;
    }
    return code;
}
