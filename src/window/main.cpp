// The program entry: the main window is a modal dialog, and its result is the exit code.
#include "console_dialog.h"
#include "resource.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    g_instance = GetModuleHandleA(nullptr);
    INT_PTR result =
        DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_CONSOLE), nullptr, ConsoleDialog, 0);
    ExitProcess(static_cast<UINT>(result));
}
