// What a command line may hold: the characters the entry field takes, and the line the
// interpreter gets for a typed text. Pure text logic over the code pages; no window calls.
#pragma once

#include <windows.h>

#include <stddef.h>

// The longest line the interpreter is sent, in characters, without its CR LF: and so the longest
// entry of the history.
constexpr int kCommandMaxChars = 259;

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

// Why a line cannot reach the interpreter as typed, in words for the user beside the field. `text`
// is the line, `length` units in all, and `refused` what MakeInterpreterLine found keeping it back;
// `line` is its number in a paste, 0 for a line of its own. Writes the reason with a terminating
// zero to `out`, which has room for kRefusalReasonMax units: the length against the longest line,
// or the character that a code page lacks, or the line break inside the line.
constexpr size_t kRefusalReasonMax = 160;
void RefusalReason(const WCHAR* text, int length, TextRange refused, size_t line, WCHAR* out);

// The refusals that no character of the line causes.
constexpr WCHAR kEndedReason[] =
    L"The interpreter has ended: Enter on an empty line starts it again.";
constexpr WCHAR kBusyReason[] = L"The interpreter has yet to read what was sent before.";
constexpr WCHAR kTooLargeReason[] = L"The paste is too large for the memory at hand.";

// Whether the entry field can take a typed character (one UTF-16 unit): the ANSI code page
// holds it exactly, so that the field never shows a "?" the user did not type.
bool FieldTakesCharacter(WCHAR character);

// One line of a pasted text: units [start, end), and where the next line starts, past its line
// end (CR LF, LF or a lone CR).
struct PastedLine {
    size_t start;
    size_t end;
    size_t next;
};

// The line of `text` (`count` units) that starts at `from`.
PastedLine PastedLineAt(const WCHAR* text, size_t count, size_t from);

// How many lines a pasted text of `count` units holds: a line end at its very end starts no line
// of its own, and an empty text holds none.
size_t PastedLineCount(const WCHAR* text, size_t count);

// The question asked before a paste of several lines runs: how many there are, and the first few,
// each cut short when long. Writes it with a terminating zero to `out`, which has room for
// kPasteQuestionMax units.
constexpr size_t kPasteQuestionMax = 1024;
void PasteQuestion(const WCHAR* text, size_t count, WCHAR* out);
