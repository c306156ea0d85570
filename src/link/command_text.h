// The text that passes between the window and the interpreter: the line the interpreter gets for
// a typed text, encoded in its console's input code page, and its output, decoded from its
// console's output code page. Pure text logic over the code pages; no window calls.
#pragma once

#include <windows.h>

#include <stddef.h>

// The longest line the interpreter is sent, in UTF-16 units, without its CR LF: and so the
// longest entry of the history.
constexpr int kCommandMaxChars = 259;
// The most bytes such a line takes in any code page, CR LF included: four a unit at the most
// (GB 18030 has characters of the BMP in four bytes).
constexpr int kLineBytesMax = 4 * kCommandMaxChars + 2;

// Characters [start, end) of a text as EM_SETSEL takes them: an end of -1 is the text's end.
struct TextRange {
    int start;
    int end;
};

// Makes the line the interpreter gets for a typed text of `length` UTF-16 units: the same
// characters in code page `page`, then CR LF and a terminating zero, in `line` (room for
// kLineBytesMax + 1 bytes). Returns the line's length, CR LF included. Returns 0 when the text
// cannot reach the interpreter as typed, and `refused` then holds what keeps it back: everything
// past the longest line (kCommandMaxChars units), or else the first character that the page holds
// only as a best-fit guess or not at all, or that would end the line early (CR, LF).
size_t MakeInterpreterLine(const WCHAR* text, int length, UINT page, char* line,
                           TextRange* refused);

// Why a line cannot reach the interpreter as typed, in words for the user beside the field. `text`
// is the line, `length` units in all, and `refused` what MakeInterpreterLine found keeping it back
// in code page `page`; `line` is its number in a paste, 0 for a line of its own. Writes the reason
// with a terminating zero to `out`, which has room for kRefusalReasonMax units: the length against
// the longest line, or the character that the page lacks, or the line break inside the line.
constexpr size_t kRefusalReasonMax = 160;
void RefusalReason(const WCHAR* text, int length, TextRange refused, size_t line, UINT page,
                   WCHAR* out);

// The interpreter's output as it comes, decoded: bytes in a code page, UTF-16 out. The decoder
// keeps what a read has cut of a character for the next one.
struct OutputDecoder {
    UINT page;
    // A UTF-8 character under way: the bytes still to come, its value so far, and the range its
    // next byte must lie in.
    int needed;
    UINT value;
    BYTE lowest, highest;
    // A lead byte of a double-byte code page whose trail byte is still to come, or 0.
    BYTE lead;
};
// The most units DecodeOutput writes for `count` bytes.
constexpr size_t DecodedMax(size_t count) {
    return count + 2;
}
// Decodes `count` bytes of the interpreter's output in code page `page` into `out` (room for
// DecodedMax(count) units); returns the units written. A character whose bytes a read has cut is
// shown whole once its last byte comes; what another page cuts off ends as a byte that cannot be
// decoded. A byte sequence that the page cannot decode shows as U+FFFD, zero bytes are dropped,
// and the control characters but tab, line feed and carriage return show as the glyphs of the
// system's OEM font ("\x01" as U+263A, ESC as U+2190). In other code pages of more than two bytes a
// character (GB 18030, the ISO 2022 ones), a character cut by a read shows as U+FFFD.
size_t DecodeOutput(OutputDecoder* decoder, UINT page, const char* bytes, size_t count, WCHAR* out);
// Ends what the decoder keeps of a character: U+FFFD for it in `out` (room for 2 units); returns
// the units written.
size_t EndDecoding(OutputDecoder* decoder, WCHAR* out);

// The refusals that no character of the line causes.
constexpr WCHAR kEndedReason[] =
    L"The interpreter has ended: Enter on an empty line starts it again.";
constexpr WCHAR kBusyReason[] = L"The interpreter has yet to read what was sent before.";
constexpr WCHAR kTooLargeReason[] = L"The paste is too large for the memory at hand.";

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
