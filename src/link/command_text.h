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

// Makes the two forms of a typed text of `length` UTF-16 units: `ansi`, the text in the ANSI code
// page as the window keeps it (room for 2 * kCommandMaxChars + 1 bytes), and `line`, the same
// characters in the OEM code page, then CR LF and a terminating zero (room for
// kCommandMaxChars + 3 bytes). Returns the line's length, CR LF included. Returns 0 when the
// text cannot reach the interpreter as typed, and `refused` then holds what keeps it back:
// everything past the longest line (kCommandMaxChars characters), or else the first character
// that either code page holds only as a best-fit guess or not at all, or that would end the line
// early (CR, LF).
size_t MakeInterpreterLine(const WCHAR* text, int length, char* ansi, char* line,
                           TextRange* refused);

// Whether the entry field can take a typed character (one UTF-16 unit): the ANSI code page
// holds it exactly, so that the field never shows a "?" the user did not type.
bool FieldTakesCharacter(WCHAR character);

// Whether the entry field can take a pasted text (what comes before its first zero, within
// `count` units): one line, with every character held exactly by the ANSI code page.
bool FieldTakesPaste(const WCHAR* text, size_t count);
