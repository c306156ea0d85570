// What a command line may hold. The window side works in the ANSI code page and the interpreter
// reads the OEM code page; a character is carried across only where the target code page holds
// it exactly. The platform's own conversions guess instead: CharToOemA makes "€" a "?", a
// wildcard to the interpreter, and "Ã" an "A"; an ANSI edit control shows "?" for a character
// its code page lacks.
#include "command_text.h"

#include "link_state.h"

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

}  // namespace

size_t MakeInterpreterLine(const WCHAR* text, int length, char* ansi, char* line,
                           TextRange* refused) {
    if (length > kCommandMaxChars) {
        *refused = {kCommandMaxChars, -1};
        return 0;
    }
    int ansiCount = 0, count = 0;
    for (int at = 0; at < length;) {
        const int size = at + 1 < length && IS_HIGH_SURROGATE(text[at]) ? 2 : 1;
        char oem[4];
        const int got = text[at] == '\r' || text[at] == '\n'
                            ? 0
                            : ExactBytes(GetOEMCP(), text + at, size, oem, sizeof(oem));
        const int ansiGot =
            got > 0 ? ExactBytes(GetACP(), text + at, size, ansi + ansiCount, 4) : 0;
        if (ansiGot == 0 || count + got > kCommandMaxChars) {
            *refused = {at, at + size};
            return 0;
        }
        for (int i = 0; i < got; ++i)
            line[count++] = oem[i];
        ansiCount += ansiGot;
        at += size;
    }
    ansi[ansiCount] = '\0';
    line[count++] = '\r';
    line[count++] = '\n';
    line[count] = '\0';
    return static_cast<size_t>(count);
}

void RefusalReason(const WCHAR* text, int length, TextRange refused, size_t line, WCHAR* out) {
    const int at =
        line > 0 ? wsprintfW(out, L"Line %u of the paste: ", static_cast<unsigned>(line)) : 0;
    WCHAR* reason = out + at;
    if (refused.end < 0) {
        wsprintfW(reason, L"%d characters: the interpreter takes at most %d.", length,
                  kCommandMaxChars);
    } else {
        // The character, a surrogate pair whole, and what each code page makes of it.
        WCHAR character[3] = {};
        const int size = refused.end - refused.start;
        CopyMemory(character, text + refused.start, size * sizeof(WCHAR));
        char bytes[4];
        if (character[0] == '\r' || character[0] == '\n') {
            lstrcpyW(reason, L"The line holds a line break, which would end it there.");
        } else if (!ExactBytes(GetOEMCP(), character, size, bytes, sizeof(bytes))) {
            wsprintfW(reason, L"The interpreter's code page (OEM %u) has no \"%s\".", GetOEMCP(),
                      character);
        } else if (!ExactBytes(GetACP(), character, size, bytes, sizeof(bytes))) {
            wsprintfW(reason, L"The window's code page (ANSI %u) has no \"%s\".", GetACP(),
                      character);
        } else {
            lstrcpyW(reason, L"The line is too long in the interpreter's code page.");
        }
    }
    // After the line's number the reason goes on as one sentence.
    if (at > 0 && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] += 'a' - 'A';
}

bool FieldTakesCharacter(WCHAR character) {
    char bytes[4];
    return ExactBytes(GetACP(), &character, 1, bytes, sizeof(bytes)) > 0;
}

PastedLine PastedLineAt(const WCHAR* text, size_t count, size_t from) {
    size_t end = from;
    while (end < count && text[end] != '\r' && text[end] != '\n')
        ++end;
    size_t next = end;
    if (next < count)
        next += text[next] == '\r' && next + 1 < count && text[next + 1] == '\n' ? 2 : 1;
    return {from, end, next};
}

size_t PastedLineCount(const WCHAR* text, size_t count) {
    size_t lines = 0;
    for (size_t at = 0; at < count; at = PastedLineAt(text, count, at).next)
        ++lines;
    return lines;
}

void PasteQuestion(const WCHAR* text, size_t count, WCHAR* out) {
    const size_t kShownLines = 5, kShownUnits = 60;
    const size_t lines = PastedLineCount(text, count);
    size_t at = static_cast<size_t>(
        wsprintfW(out, L"The paste holds %u lines. Send each of them to the interpreter?\n",
                  static_cast<unsigned>(lines)));
    PastedLine line = PastedLineAt(text, count, 0);
    for (size_t shown = 0; shown < kShownLines && line.start < count; ++shown) {
        const size_t length = line.end - line.start;
        out[at++] = '\n';
        for (size_t i = 0; i < length && i < kShownUnits; ++i)
            out[at++] = text[line.start + i] < ' ' ? L' ' : text[line.start + i];
        if (length > kShownUnits) at += static_cast<size_t>(wsprintfW(out + at, L"..."));
        line = PastedLineAt(text, count, line.next);
    }
    if (lines > kShownLines) {
        wsprintfW(out + at, L"\n(and %u more)", static_cast<unsigned>(lines - kShownLines));
    } else {
        out[at] = '\0';
    }
}
