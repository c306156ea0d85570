// The console window: the modal main dialog and the procedure on its entry field.
#pragma once

#include <windows.h>

// The program's module, from which the dialog template and the icon come.
extern HINSTANCE g_instance;

// The dialog procedure of the main window.
INT_PTR CALLBACK ConsoleDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The entry field's procedure: Enter runs the command, every key stays in the field, Tab completes
// a name and Escape clears the line, Ctrl+C with nothing selected interrupts what the interpreter
// runs and Ctrl+Break ends it, Ctrl+F and F3 find in the pane, a paste of several lines goes only
// after a question, the rest goes to the field's own procedure, kept in its user-data slot.
LRESULT CALLBACK EntryFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam);

// The pane's procedure: Ctrl+C, Ctrl+Break, Ctrl+F and F3 as in the entry field, the rest to the
// pane's own procedure, kept in its user-data slot.
LRESULT CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam);
