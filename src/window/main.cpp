// The program entry: the main window is a modal dialog, and its result is the exit code. It is
// made with the wide functions, and so are its controls: the pane and the entry field hold UTF-16
// text, every character of every code page the interpreter may speak.
//
// The system starts the program here, with no C runtime start-up before it (see CMakeLists.txt):
// nothing may need one, a static object with a constructor or a command line read among them.
#include "console_dialog.h"
#include "resource.h"

extern "C" void ProgramEntry() {
    g_instance = GetModuleHandleW(nullptr);
    INT_PTR result =
        DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_CONSOLE), nullptr, ConsoleDialog, 0);
    ExitProcess(static_cast<UINT>(result));
}
