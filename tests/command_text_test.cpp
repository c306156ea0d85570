// The text rules alone, without a window: which typed lines reach the interpreter and as which
// bytes, and which pastes the entry field takes.
#include <gtest/gtest.h>

#include <string>

#include "command_text.h"

namespace {

const int kLongest = 259;  // the longest line, in characters

// The interpreter's line for a text typed as UTF-16, or "refused a-b" naming what keeps it back.
// The ANSI form must be the text itself.
std::string Made(const std::wstring& text) {
    char ansi[2 * kLongest + 1], line[kLongest + 3];
    TextRange refused{-2, -2};
    const size_t count =
        MakeInterpreterLine(text.data(), static_cast<int>(text.size()), ansi, line, &refused);
    if (count == 0) {
        return "refused " + std::to_string(refused.start) + "-" + std::to_string(refused.end);
    }
    EXPECT_EQ(line[count], '\0');
    WCHAR back[2 * kLongest + 1];
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, 2 * kLongest + 1);
    EXPECT_EQ(std::wstring(back, units > 0 ? units - 1 : 0), text) << "the ANSI form differs";
    return std::string(line, count);
}

// The same for a text in the ANSI code page, as most tests spell it.
std::string Made(const std::string& ansi) {
    std::wstring wide(ansi.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, ansi.data(),
                                                        static_cast<int>(ansi.size()), &wide[0],
                                                        static_cast<int>(ansi.size()))));
    return Made(wide);
}

// Every ANSI byte against the code pages at hand: a character goes as CharToOemA makes it when
// that is the same character, read back in the OEM code page, and is refused otherwise.
TEST(CommandText, EachAnsiCharacterIsSentExactlyOrRefused) {
    for (int value = 1; value < 256; ++value) {
        const char ansi[2] = {static_cast<char>(value), '\0'};
        char oem[2] = {};
        CharToOemA(ansi, oem);
        WCHAR typed = 0, read = 0;
        MultiByteToWideChar(CP_ACP, 0, ansi, 1, &typed, 1);
        MultiByteToWideChar(CP_OEMCP, 0, oem, 1, &read, 1);
        const bool exact = value != '\r' && value != '\n' && typed == read;
        if (exact) {
            EXPECT_EQ(Made(ansi), std::string(oem) + "\r\n") << "byte " << value;
        } else {
            EXPECT_EQ(Made(ansi), "refused 0-1") << "byte " << value;
        }
    }
}

// What the window tests do not reach: the text past the longest line counts first, LF, and a
// paste's end and its later pieces.
TEST(CommandText, EdgesOfLinesAndPastes) {
    EXPECT_EQ(Made(""), "\r\n");
    EXPECT_EQ(Made(std::string(300, '\x80')), "refused 259--1");
    EXPECT_EQ(Made("a\nb"), "refused 1-2");
    // A character the field shows but the ANSI code page lacks (put there by an input method or
    // another program) is refused, not sent as the "?" an ANSI read of the field would give.
    EXPECT_EQ(Made(L"echo \x0414\x043E\x043C"), "refused 5-6");

    EXPECT_FALSE(FieldTakesPaste(L"dir\n", 4));
    EXPECT_TRUE(FieldTakesPaste(L"ok\0\x0414", 4));  // the text ends at its first zero
    EXPECT_TRUE(FieldTakesPaste(L"ok\x0414", 2));
    const std::wstring many(1000, L'a');
    EXPECT_TRUE(FieldTakesPaste(many.c_str(), many.size()));
    const std::wstring late = many + L"\x0414";
    EXPECT_FALSE(FieldTakesPaste(late.c_str(), late.size()));
}

}  // namespace
