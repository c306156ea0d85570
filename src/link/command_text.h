// What a command line may hold: the characters the entry field takes, and the line the
// interpreter gets for a typed text. Pure text logic over the code pages; no window calls.
#pragma once

#include <windows.h>

#include <stddef.h>

// Characters [start, end) of a text as EM_SETSEL takes them: an end of -1 is the text's end.
struct TextRange {
    int start;
    int end;
};

// Makes the interpreter's line from a typed text of `length` ANSI bytes: the same characters in
// the OEM code page, then CR LF and a terminating zero, written to `line` (room for
// kCommandMaxChars + 3 bytes, not overlapping `text`). Returns the line's length, CR LF
// included. Returns 0 when the text cannot reach the interpreter as typed, and `refused` then
// holds what keeps it back: everything past the longest line (kCommandMaxChars characters), or
// else the first character that the OEM code page holds only as a best-fit guess or not at all,
// or that would end the line early (CR, LF).
DWORD MakeInterpreterLine(const char* text, int length, char* line, TextRange* refused);

// Whether the entry field can take a typed character (one UTF-16 unit): the ANSI code page
// holds it exactly, so that the field never shows a "?" the user did not type.
bool FieldTakesCharacter(WCHAR character);

// Whether the entry field can take a pasted text (what comes before its first zero, within
// `count` units): one line, with every character held exactly by the ANSI code page.
bool FieldTakesPaste(const WCHAR* text, size_t count);
