// What a command line may hold. The window side works in the ANSI code page and the interpreter
// reads the OEM code page; a character is carried across only where the target code page holds
// it exactly. The platform's own conversions guess instead: CharToOemA makes "€" a "?", a
// wildcard to the interpreter, and "Ã" an "A"; an ANSI edit control shows "?" for a character
// its code page lacks.
#include "command_text.h"

#include "link.h"

namespace {

// Converts UTF-16 units to `codePage` where it holds them exactly: no best-fit guess, no
// default character. Returns the bytes written to `out`, or 0.
int ExactBytes(UINT codePage, const WCHAR* units, int count, char* out, int room) {
    // UTF-8 holds every character, and takes neither the flag nor the default-character report:
    // a lone surrogate is the one thing it cannot carry.
    if (codePage == CP_UTF8) {
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, units, count, out, room, nullptr,
                                   nullptr);
    }
    BOOL usedDefault = FALSE;
    int bytes = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units, count, out, room,
                                    nullptr, &usedDefault);
    return usedDefault ? 0 : bytes;
}

// The OEM bytes of one ANSI character of `size` bytes, written to `out` (room for 4). 0 when it
// cannot reach the interpreter exactly, or would end the line there.
int OemBytes(const char* character, int size, char* out) {
    if (character[0] == '\r' || character[0] == '\n') return 0;
    WCHAR wide[2];
    int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, character, size, wide, 2);
    return units > 0 ? ExactBytes(GetOEMCP(), wide, units, out, 4) : 0;
}

}  // namespace

DWORD MakeInterpreterLine(const char* text, int length, char* line, TextRange* refused) {
    if (length > kCommandMaxChars) {
        *refused = {kCommandMaxChars, -1};
        return 0;
    }
    int count = 0;
    for (int at = 0; at < length;) {
        int size = at + 1 < length && IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[at])) ? 2 : 1;
        char bytes[4];
        int got = OemBytes(text + at, size, bytes);
        if (got == 0 || count + got > kCommandMaxChars) {
            *refused = {at, at + size};
            return 0;
        }
        for (int i = 0; i < got; ++i)
            line[count++] = bytes[i];
        at += size;
    }
    line[count++] = '\r';
    line[count++] = '\n';
    line[count] = '\0';
    return static_cast<DWORD>(count);
}

bool FieldTakesCharacter(WCHAR character) {
    char bytes[4];
    return ExactBytes(GetACP(), &character, 1, bytes, sizeof(bytes)) > 0;
}

bool FieldTakesPaste(const WCHAR* text, size_t count) {
    constexpr size_t kPiece = 128;
    char bytes[4 * kPiece];
    size_t at = 0;
    while (at < count && text[at] != 0) {
        size_t piece = 0;
        while (piece < kPiece && at + piece < count && text[at + piece] != 0) {
            if (text[at + piece] == '\r' || text[at + piece] == '\n') return false;
            ++piece;
        }
        // A surrogate pair is converted whole, in the next piece.
        if (piece == kPiece && IS_HIGH_SURROGATE(text[at + piece - 1])) --piece;
        if (ExactBytes(GetACP(), text + at, static_cast<int>(piece), bytes, sizeof(bytes)) == 0) {
            return false;
        }
        at += piece;
    }
    return true;
}
