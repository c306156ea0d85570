// The text that passes between the window and the interpreter. The window holds UTF-16 text; the
// interpreter reads and writes its console's code pages. A character is sent only where that page
// holds it exactly: the platform's own conversions guess instead, making "€" a "?" in the OEM code
// page, a wildcard to the interpreter, and "Ã" an "A".
#include "command_text.h"

#include <string.h>

#include "link_state.h"

namespace {

constexpr WCHAR kReplacement = 0xFFFD;

// Converts UTF-16 units to code page `page` where it holds them exactly: the bytes, read back in
// that page, are the same units again, with no best-fit guess and no default character. Returns
// the bytes written to `out`, or 0.
int ExactBytes(UINT page, const WCHAR* units, int count, char* out, int room) {
    const int bytes = WideCharToMultiByte(page, 0, units, count, out, room, nullptr, nullptr);
    WCHAR back[kCommandMaxChars + 1];
    return bytes > 0 && count <= kCommandMaxChars + 1 &&
                   MultiByteToWideChar(page, 0, out, bytes, back, count) == count &&
                   CompareStringOrdinal(back, count, units, count, FALSE) == CSTR_EQUAL
               ? bytes
               : 0;
}

// A code page as the user knows it: the system's OEM or ANSI page, UTF-8, or its number.
void PageName(UINT page, WCHAR* out) {
    if (page == GetOEMCP()) {
        wsprintfW(out, L"OEM %u", page);
    } else if (page == GetACP()) {
        wsprintfW(out, L"ANSI %u", page);
    } else if (page == CP_UTF8) {
        lstrcpyW(out, L"UTF-8");
    } else {
        wsprintfW(out, L"%u", page);
    }
}

// The glyphs that the system's OEM font draws for the control characters 1 to 31, as the pane
// showed them when it drew the interpreter's bytes in that font; and for DEL. Tab, line feed and
// carriage return keep their meaning.
const WCHAR kControlGlyphs[32] = {0,      0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
                                  0x25D8, '\t',   '\n',   0x2642, 0x2640, '\r',   0x266B, 0x263C,
                                  0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
                                  0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};
constexpr WCHAR kDeleteGlyph = 0x2302;

// Puts a decoded unit at `out`[*count] as the pane shows it: a zero dropped, a control character
// as its glyph.
inline void Put(WCHAR unit, WCHAR* out, size_t* count) {
    if (unit >= 32 && unit != 0x7F) {
        out[(*count)++] = unit;
    } else if (unit != 0) {
        out[(*count)++] = unit == 0x7F ? kDeleteGlyph : kControlGlyphs[unit];
    }
}

// Printable ASCII at the start of `bytes`, most of what an interpreter writes, as it is: widened
// into `out` eight bytes at a time while all eight are, then a byte at a time. How many.
size_t PrintableAscii(const BYTE* bytes, size_t count, WCHAR* out) {
    constexpr unsigned long long kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
    size_t at = 0;
    for (; at + 8 <= count; at += 8) {
        unsigned long long eight;
        memcpy(&eight, bytes + at, 8);
        // A high bit is set for each byte of 0x7F or more, or below 0x20 (a borrow), and may be
        // set for its neighbours then, but never for eight printable bytes.
        if ((eight | (eight + kOnes) | (eight - 0x20 * kOnes)) & kHighs) break;
        for (int i = 0; i < 8; ++i)
            out[at + i] = bytes[at + i];
    }
    for (; at < count && bytes[at] >= 0x20 && bytes[at] < 0x7F; ++at)
        out[at] = bytes[at];
    return at;
}

// The `count` units at `units` as the pane shows them, in place; how many are left.
size_t AsShown(WCHAR* units, size_t count) {
    size_t shown = 0;
    for (size_t i = 0; i < count; ++i)
        Put(units[i], units, &shown);
    return shown;
}

// UTF-8, decoded byte by byte as the standard's decoder does: a byte that cannot continue the
// character under way ends it as one U+FFFD and starts anew, so that what is cut off shows as one
// U+FFFD, and every byte that begins no character as one U+FFFD.
size_t DecodeUtf8(OutputDecoder* decoder, const BYTE* bytes, size_t count, WCHAR* out) {
    size_t units = 0;
    for (size_t at = 0; at < count;) {
        if (decoder->needed == 0) {
            const size_t ascii = PrintableAscii(bytes + at, count - at, out + units);
            at += ascii;
            units += ascii;
            if (at == count) break;
        }
        const BYTE byte = bytes[at];
        if (decoder->needed == 0) {
            ++at;
            decoder->lowest = 0x80;
            decoder->highest = 0xBF;
            if (byte < 0x80) {
                Put(byte, out, &units);
            } else if (byte >= 0xC2 && byte <= 0xDF) {
                decoder->needed = 1;
                decoder->value = byte & 0x1F;
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                decoder->needed = 2;
                decoder->value = byte & 0x0F;
                if (byte == 0xE0) decoder->lowest = 0xA0;   // no overlong form
                if (byte == 0xED) decoder->highest = 0x9F;  // no surrogate
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                decoder->needed = 3;
                decoder->value = byte & 0x07;
                if (byte == 0xF0) decoder->lowest = 0x90;   // no overlong form
                if (byte == 0xF4) decoder->highest = 0x8F;  // nothing past U+10FFFF
            } else {
                out[units++] = kReplacement;
            }
            continue;
        }
        if (byte < decoder->lowest || byte > decoder->highest) {
            decoder->needed = 0;
            out[units++] = kReplacement;
            continue;  // the byte again, as the start of a character
        }
        ++at;
        decoder->lowest = 0x80;
        decoder->highest = 0xBF;
        decoder->value = decoder->value << 6 | (byte & 0x3F);
        if (--decoder->needed > 0) continue;
        if (decoder->value < 0x10000) {
            Put(static_cast<WCHAR>(decoder->value), out, &units);
        } else {
            out[units++] = static_cast<WCHAR>(0xD800 + ((decoder->value - 0x10000) >> 10));
            out[units++] = static_cast<WCHAR>(0xDC00 + (decoder->value & 0x3FF));
        }
    }
    return units;
}

// What a code page is made of: bytes that are characters of their own, lead bytes of two-byte
// characters, or characters of more than two bytes (then 0); and whether its first 128 bytes are
// ASCII's characters, as nearly every page's are. Asked of the system once for each page in turn;
// only the window's thread decodes.
struct PageBytes {
    UINT page;
    int most;  // bytes of its longest character
    bool ascii;
    bool lead[256];
};

const PageBytes& BytesOf(UINT page) {
    static PageBytes s_bytes;
    if (s_bytes.page == page && s_bytes.most > 0) return s_bytes;
    CPINFO info = {};
    s_bytes = PageBytes();
    s_bytes.page = page;
    s_bytes.most = GetCPInfo(page, &info) ? static_cast<int>(info.MaxCharSize) : 1;
    for (int range = 0; range + 1 < MAX_LEADBYTES && info.LeadByte[range]; range += 2)
        for (int byte = info.LeadByte[range]; byte <= info.LeadByte[range + 1]; ++byte)
            s_bytes.lead[byte] = true;
    char ascii[128];
    WCHAR units[128];
    for (int byte = 0; byte < 128; ++byte)
        ascii[byte] = static_cast<char>(byte);
    s_bytes.ascii = MultiByteToWideChar(page, 0, ascii, 128, units, 128) == 128;
    for (int byte = 0; byte < 128 && s_bytes.ascii; ++byte)
        s_bytes.ascii = units[byte] == byte && !s_bytes.lead[byte];
    return s_bytes;
}

// Single bytes of a code page, each its own character: U+FFFD for each the page does not define.
// ASCII, where the page has it, is taken as it is, without asking the system. Returns the units
// written, as the pane shows them.
size_t DecodeSingles(const PageBytes& page, const char* bytes, size_t count, WCHAR* out) {
    size_t units = 0;
    for (size_t at = 0; at < count;) {
        while (page.ascii && at < count && static_cast<BYTE>(bytes[at]) < 0x80) {
            const size_t ascii =
                PrintableAscii(reinterpret_cast<const BYTE*>(bytes) + at, count - at, out + units);
            at += ascii;
            units += ascii;
            if (at < count && static_cast<BYTE>(bytes[at]) < 0x80)
                Put(static_cast<BYTE>(bytes[at++]), out, &units);
        }
        size_t run = at;
        while (run < count && (!page.ascii || static_cast<BYTE>(bytes[run]) >= 0x80))
            ++run;
        const int size = static_cast<int>(run - at);
        if (size > 0 && MultiByteToWideChar(page.page, MB_ERR_INVALID_CHARS, bytes + at, size,
                                            out + units, size) != size) {
            for (int one = 0; one < size; ++one)
                if (MultiByteToWideChar(page.page, MB_ERR_INVALID_CHARS, bytes + at + one, 1,
                                        out + units + one, 1) != 1)
                    out[units + one] = kReplacement;
        }
        units += AsShown(out + units, static_cast<size_t>(size));
        at = run;
    }
    return units;
}

// A code page of one or two bytes a character. A lead byte whose trail the read has cut waits
// for it; a pair the page does not define shows as U+FFFD for its lead, and its trail byte is
// read again on its own.
size_t DecodeDoubleBytes(OutputDecoder* decoder, const PageBytes& page, const char* bytes,
                         size_t count, WCHAR* out) {
    size_t units = 0, at = 0;
    if (decoder->lead != 0 && count > 0) {
        const char pair[2] = {static_cast<char>(decoder->lead), bytes[0]};
        decoder->lead = 0;
        if (MultiByteToWideChar(page.page, MB_ERR_INVALID_CHARS, pair, 2, out, 1) == 1) {
            at = 1;
        } else {
            out[0] = kReplacement;
        }
        units = AsShown(out, 1);
    }
    while (at < count) {
        size_t run = at;
        while (run < count && !page.lead[static_cast<BYTE>(bytes[run])])
            ++run;
        units += DecodeSingles(page, bytes + at, run - at, out + units);
        at = run;
        if (at == count) break;
        if (at + 1 == count) {
            decoder->lead = static_cast<BYTE>(bytes[at++]);
        } else if (MultiByteToWideChar(page.page, MB_ERR_INVALID_CHARS, bytes + at, 2, out + units,
                                       1) == 1) {
            units += AsShown(out + units, 1);
            at += 2;
        } else {
            out[units++] = kReplacement;
            ++at;
        }
    }
    return units;
}

}  // namespace

size_t MakeInterpreterLine(const WCHAR* text, int length, UINT page, char* line,
                           TextRange* refused) {
    if (length > kCommandMaxChars) {
        *refused = {kCommandMaxChars, -1};
        return 0;
    }
    bool oneLine = true;
    for (int at = 0; at < length; ++at)
        oneLine = oneLine && text[at] != '\r' && text[at] != '\n';
    int count = length > 0 && oneLine ? ExactBytes(page, text, length, line, kLineBytesMax - 2) : 0;
    if (length > 0 && count == 0) {
        for (int at = 0; at < length;) {
            const int size =
                at + 1 < length && IS_HIGH_SURROGATE(text[at]) && IS_LOW_SURROGATE(text[at + 1])
                    ? 2
                    : 1;
            char bytes[16];
            if (text[at] == '\r' || text[at] == '\n' ||
                !ExactBytes(page, text + at, size, bytes, sizeof(bytes))) {
                *refused = {at, at + size};
                return 0;
            }
            at += size;
        }
        *refused = {0, -1};  // each character goes, but not all of them in one line
        return 0;
    }
    line[count++] = '\r';
    line[count++] = '\n';
    line[count] = '\0';
    return static_cast<size_t>(count);
}

void RefusalReason(const WCHAR* text, int length, TextRange refused, size_t line, UINT page,
                   WCHAR* out) {
    const int at =
        line > 0 ? wsprintfW(out, L"Line %u of the paste: ", static_cast<unsigned>(line)) : 0;
    WCHAR* reason = out + at;
    WCHAR name[16];
    PageName(page, name);
    if (refused.end < 0 && length > kCommandMaxChars) {
        wsprintfW(reason, L"%d characters: the interpreter takes at most %d.", length,
                  kCommandMaxChars);
    } else if (refused.end < 0) {
        wsprintfW(reason, L"The line is too long in the interpreter's code page (%s).", name);
    } else if (text[refused.start] == '\r' || text[refused.start] == '\n') {
        lstrcpyW(reason, L"The line holds a line break, which would end it there.");
    } else {
        // The character, a surrogate pair whole.
        WCHAR character[3] = {};
        CopyMemory(character, text + refused.start, (refused.end - refused.start) * sizeof(WCHAR));
        wsprintfW(reason, L"The interpreter's code page (%s) has no \"%s\".", name, character);
    }
    // After the line's number the reason goes on as one sentence.
    if (at > 0 && reason[0] >= 'A' && reason[0] <= 'Z') reason[0] += 'a' - 'A';
}

size_t DecodeOutput(OutputDecoder* decoder, UINT page, const char* bytes, size_t count,
                    WCHAR* out) {
    size_t units = 0;
    if (decoder->page != page) {
        units = EndDecoding(decoder, out);
        decoder->page = page;
    }
    if (page == CP_UTF8) {
        units += DecodeUtf8(decoder, reinterpret_cast<const BYTE*>(bytes), count, out + units);
    } else if (BytesOf(page).most == 1) {
        units += DecodeSingles(BytesOf(page), bytes, count, out + units);
    } else if (BytesOf(page).most == 2) {
        units += DecodeDoubleBytes(decoder, BytesOf(page), bytes, count, out + units);
    } else if (count > 0) {
        const int got = MultiByteToWideChar(page, 0, bytes, static_cast<int>(count), out + units,
                                            static_cast<int>(count));
        units += AsShown(out + units, got > 0 ? static_cast<size_t>(got) : 0);
    }
    return units;
}

size_t EndDecoding(OutputDecoder* decoder, WCHAR* out) {
    if (decoder->needed == 0 && decoder->lead == 0) return 0;
    decoder->needed = 0;
    decoder->lead = 0;
    out[0] = kReplacement;
    return 1;
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
