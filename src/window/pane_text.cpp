// The pane's text as shown. The pane holds the interpreter's bytes as they came and shows them in
// the OEM font, so they are read as bytes and decoded from the OEM code page: a search for "é"
// then finds the "é" on the screen, whose byte the ANSI code page would read as another letter.
// The OEM code pages that the window shows its text in are single-byte ones, one unit a byte, so
// positions in the decoded text are the pane's own.
#include "pane_text.h"

namespace {

int Decode(const char* bytes, int count, WCHAR* out) {
    return count > 0 ? MultiByteToWideChar(CP_OEMCP, 0, bytes, count, out, count) : 0;
}

}  // namespace

PaneText::PaneText(HWND pane) {
    HANDLE heap = GetProcessHeap();
    const auto length = static_cast<size_t>(SendMessageA(pane, WM_GETTEXTLENGTH, 0, 0));
    auto* bytes = static_cast<char*>(HeapAlloc(heap, 0, length + 1));
    units_ = static_cast<WCHAR*>(HeapAlloc(heap, 0, (length + 1) * sizeof(WCHAR)));
    if (bytes && units_) {
        const auto got = static_cast<int>(
            SendMessageA(pane, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(bytes)));
        count_ = static_cast<size_t>(Decode(bytes, got, units_));
        units_[count_] = 0;
    }
    if (bytes) HeapFree(heap, 0, bytes);
}

PaneText::~PaneText() {
    if (units_) HeapFree(GetProcessHeap(), 0, units_);
}

int PaneLine(HWND pane, int line, WCHAR* out, int room) {
    if (line < 0) line = static_cast<int>(SendMessageA(pane, EM_GETLINECOUNT, 0, 0)) - 1;
    const LRESULT start = SendMessageA(pane, EM_LINEINDEX, static_cast<WPARAM>(line), 0);
    if (start < 0) return -1;
    const auto length = static_cast<int>(SendMessageA(pane, EM_LINELENGTH, start, 0));
    if (length >= room) return -1;
    // EM_GETLINE finds the buffer's size in its first word, and adds no zero.
    char bytes[1024];
    if (length >= static_cast<int>(sizeof(bytes))) return -1;
    const WORD size = sizeof(bytes);
    CopyMemory(bytes, &size, sizeof(size));
    const auto got = static_cast<int>(
        SendMessageA(pane, EM_GETLINE, static_cast<WPARAM>(line), reinterpret_cast<LPARAM>(bytes)));
    const int count = Decode(bytes, got < length ? got : length, out);
    out[count] = 0;
    return count;
}
