// pane_watch.dll: the watch that the window tests load into varnel.exe (see pane_watch.h). It
// runs in varnel.exe's window thread, inside the hook of the window procedure calls.
#include "pane_watch.h"

namespace {

HMODULE s_module;
PaneWatchState* s_state;  // the test's mapping, opened at the first call in varnel.exe
UINT s_look;

// How many of the window's client pixels differ from the one in its bottom right corner, the
// background's colour unless the pane is full of text.
LONG MarkedPixels(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return 0;
    HDC screen = GetDC(window);
    HDC copy = CreateCompatibleDC(screen);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(copy, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    LONG marked = 0;
    if (bitmap) {
        HGDIOBJ previous = SelectObject(copy, bitmap);
        BitBlt(copy, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const DWORD* pixels = static_cast<const DWORD*>(bits);
        const DWORD background = pixels[width * height - 1] & 0xFFFFFF;
        for (int i = 0; i < width * height; ++i)
            marked += (pixels[i] & 0xFFFFFF) != background;
        SelectObject(copy, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(copy);
    ReleaseDC(window, screen);
    return marked;
}

LRESULT CALLBACK WatchHook(int code, WPARAM wParam, LPARAM lParam) {
    if (!s_state) {
        char name[64];
        PaneWatchName(GetCurrentProcessId(), name);
        if (HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name)) {
            s_state = static_cast<PaneWatchState*>(
                MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(PaneWatchState)));
            CloseHandle(mapping);  // the view keeps the mapping
            s_look = RegisterWindowMessageA(kPaneLookMessage);
        }
    }
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && s_state && reinterpret_cast<ULONGLONG>(call->hwnd) == s_state->pane) {
        if (call->message == WM_SETREDRAW) {
            s_state->redrawOff = call->wParam == FALSE;
        } else if (call->message == s_look) {
            s_state->marked = s_state->redrawOff ? -1 : MarkedPixels(call->hwnd);
            ++s_state->looks;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

extern "C" __declspec(dllexport) HHOOK WatchPane(DWORD threadId) {
    return SetWindowsHookExA(WH_CALLWNDPROC, WatchHook, s_module, threadId);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) s_module = instance;
    return TRUE;
}
