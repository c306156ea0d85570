// The pane's text as the user sees it, in UTF-16: what Find searches and what a prompt is read
// from. Positions in it are the pane's own, as EM_GETSEL and EM_SETSEL take them.
#pragma once

#include <windows.h>

#include <stddef.h>

// A copy of the pane's whole text, freed with the holder; empty when the memory cannot be had.
class PaneText {
public:
    explicit PaneText(HWND pane);
    ~PaneText();
    PaneText(const PaneText&) = delete;
    PaneText& operator=(const PaneText&) = delete;
    const WCHAR* Units() const { return units_; }
    size_t Count() const { return count_; }

private:
    WCHAR* units_ = nullptr;
    size_t count_ = 0;
};

// Line `line` of the pane (-1 for the last), without its line end, written with a terminating zero
// to `out`, which has room for `room` units. Returns its length, or -1 when it does not fit.
int PaneLine(HWND pane, int line, WCHAR* out, int room);
