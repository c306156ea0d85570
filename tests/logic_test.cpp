// The link's pure logic, over bytes and code pages, without a window: against plain models over
// thousands of seeded random cases, and every ANSI byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "byte_logic.h"
#include "command_text.h"
#include "completion.h"
#include "driver.h"
#include "environment.h"
#include "stand_in.h"
#include "text_search.h"

namespace {

// Random text over a few bytes, with line ends and zero bytes `density` times in 256.
std::string RandomText(uint64_t& state, size_t size, unsigned density) {
    std::string text(size, 'x');
    for (char& c : text) {
        const unsigned roll = SplitMixNext(state) & 0xFF;
        c = roll < density ? '\n' : roll < 2 * density ? '\0' : static_cast<char>('a' + roll % 3);
    }
    return text;
}

// Ends the test program in the middle of a test with status 0, as a Ctrl+C does under Wine. Run
// only by its name, by a test that passes when CTest counts this one as failed.
TEST(TestRunner, DISABLED_EndsInTheMiddleOfATest) {
    ExitProcess(0);
}

TEST(Ring, BehavesAsAQueueThroughEveryWrapAround) {
    uint64_t state = 7;
    Ring<char, 97> ring;
    std::string model;
    char bytes[64];
    for (int step = 0; step < 20000; ++step) {
        const size_t count = static_cast<size_t>(SplitMixNext(state) % 60);
        const size_t taken = std::min(count, model.size());
        switch (SplitMixNext(state) % 3) {
            case 0:
                if (count > ring.Room()) break;
                for (size_t i = 0; i < count; ++i)
                    bytes[i] = static_cast<char>(SplitMixNext(state));
                ring.Push(bytes, count);
                model.append(bytes, count);
                break;
            case 1:
                ASSERT_EQ(ring.Take(bytes, count), taken);
                ASSERT_EQ(std::string(bytes, taken), model.substr(0, taken)) << "step " << step;
                model.erase(0, taken);
                break;
            case 2:
                ring.Drop(taken);
                model.erase(0, taken);
                break;
        }
        ASSERT_EQ(ring.Size(), model.size());
        ASSERT_EQ(ring.Room(), 97 - model.size());
    }
}

TEST(LineStartFrom, CutsJustPastTheFirstLineEndWithinReachOrAtTheBoundItself) {
    uint64_t state = 13;
    for (int round = 0; round < 20000; ++round) {
        const size_t size = static_cast<size_t>(SplitMixNext(state) % 200);
        const std::string text = RandomText(state, size, static_cast<unsigned>(round % 40));
        const size_t from = static_cast<size_t>(SplitMixNext(state) % (size + 3));
        const size_t reach = static_cast<size_t>(SplitMixNext(state) % 50);
        size_t expected = from;
        for (size_t i = from == 0 ? size : from - 1; i < size && i < from + reach; ++i) {
            if (text[i] == '\n') {
                expected = i + 1;
                break;
            }
        }
        ASSERT_EQ(LineStartFrom(text.data(), size, from, reach), expected)
            << "round " << round << " from " << from << " reach " << reach;
    }
    EXPECT_EQ(LineStartFrom("ab\ncd\nef", 8, 3, 100), 3u);  // already at a line's start
    EXPECT_EQ(LineStartFrom("ab\ncd\nef", 8, 4, 100), 6u);
    EXPECT_EQ(LineStartFrom("ab\ncd\nef", 8, 4, 1), 4u);  // the line goes on past the reach
}

TEST(InsertSize, ShowsAtOnceWhenCaughtUpAndOnlyNowAndThenWhileFlooded) {
    EXPECT_EQ(InsertSize(0, true, 0), 0u);
    EXPECT_EQ(InsertSize(0, false, 100000), 0u);
    EXPECT_EQ(InsertSize(100, true, 0), 100u);  // a short answer, whole and at once
    const size_t caughtUp = InsertSize(1 << 20, true, 0);
    EXPECT_GT(caughtUp, 1000u);
    EXPECT_LT(caughtUp, 1u << 20) << "one insertion takes everything";
    EXPECT_EQ(InsertSize(1 << 20, false, 0), 0u) << "shown again at once during a flood";
    const size_t flooded = InsertSize(1 << 20, false, 100000);
    EXPECT_GT(flooded, 0u) << "never shown during a flood";
    EXPECT_LE(flooded, caughtUp);
    EXPECT_EQ(InsertSize(100, false, 100000), 100u);
}

// The notice of the interpreter's end: the code in decimal, and a status of the system's own in
// hexadecimal too, the longest within its room; then how to go on. The lines it never read, each
// as it went to it, in order and in full, the last even without its line end.
TEST(EndNotice, NamesTheExitCodeAndTheLinesNeverRead) {
    const std::wstring restart = L"[Press Enter to start it again.]\r\n";
    WCHAR text[kEndNoticeMax];
    EXPECT_EQ(std::wstring(text, EndNotice(3, text)),
              L"[The interpreter has ended with exit code 3.]\r\n" + restart);
    EXPECT_EQ(std::wstring(text, EndNotice(0xC000013A, text)),
              L"[The interpreter has ended with exit code 3221225786 (0xC000013A).]\r\n" + restart);
    EXPECT_LT(EndNotice(0xFFFFFFFF, text), kEndNoticeMax);

    auto named = [](const std::wstring& lines) {
        std::wstring out(UnreadNoticeMax(lines.size()), L'\xEE');
        out.resize(UnreadNotice(lines.data(), lines.size(), &out[0]));
        return out;
    };
    EXPECT_EQ(named(L""), L"");
    EXPECT_EQ(named(L"echo b\r\n"), L"[It did not read 1 line: \"echo b\".]\r\n");
    EXPECT_EQ(named(L"echo b\r\n\r\nsay \"c\"\r\nhalf"),
              L"[It did not read 4 lines: \"echo b\", \"\", \"say \"c\"\", \"half\".]\r\n");
    // A CR at the very end is half a line end.
    EXPECT_EQ(named(L"caf\x00E9 \x0416\nx\r"),
              L"[It did not read 2 lines: \"caf\x00E9 \x0416\", \"x\".]\r\n");
    // The room it asks for holds the worst case, lines of a line end alone.
    const std::wstring ends(1000, L'\n');
    std::wstring out(UnreadNoticeMax(ends.size()) + 16, L'\xEE');
    const size_t length = UnreadNotice(ends.data(), ends.size(), &out[0]);
    EXPECT_LT(length, UnreadNoticeMax(ends.size()));
    EXPECT_EQ(out.substr(0, 39), L"[It did not read 1000 lines: \"\", \"\", \"\"");
    EXPECT_EQ(out[length], L'\0');
    EXPECT_EQ(out[UnreadNoticeMax(ends.size())], L'\xEE') << "written past its room";
}

// The output of `bytes` in `page`, decoded in reads of the sizes `reads` gives (then the rest),
// and what the decoder keeps ended at the close.
std::wstring Decoded(UINT page, const std::string& bytes, std::vector<size_t> reads = {}) {
    OutputDecoder decoder = {};
    std::wstring text;
    size_t at = 0;
    reads.push_back(bytes.size());
    for (size_t read : reads) {
        read = std::min(read, bytes.size() - at);
        std::wstring out(DecodedMax(read), L'#');
        out.resize(DecodeOutput(&decoder, page, bytes.data() + at, read, &out[0]));
        text += out;
        at += read;
    }
    WCHAR end[2];
    return text + std::wstring(end, EndDecoding(&decoder, end));
}

// Output in the console's code page shows as the characters it means, whatever the reads cut:
// OEM 437 as Windows' own OEM font draws it, control characters but tab and the line ends as its
// glyphs, zero bytes dropped; UTF-8 and a double-byte page whole across any cut, what they cannot
// decode as U+FFFD, never as nothing.
TEST(OutputDecoder, ShowsEachPagesCharactersWholeAcrossReads) {
    EXPECT_EQ(Decoded(437, "caf\x82\r\n"), L"caf\x00E9\r\n");
    EXPECT_EQ(Decoded(437, std::string("a\0b\x01\t\x1B[0m\x7F\xFF", 11)),
              L"ab\x263A\t\x2190[0m\x2302\x00A0");
    const std::string utf8 = "\xD0\x96 caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80.";
    const std::wstring wide = L"\x0416 caf\x00E9 \x20AC \xD83D\xDE00.";
    for (size_t cut = 0; cut <= utf8.size(); ++cut)
        EXPECT_EQ(Decoded(CP_UTF8, utf8, {cut}), wide) << "cut at " << cut;
    // Shift-JIS: a lead byte cut from its trail byte.
    const std::string sjis =
        "a\x82\xA0"
        "b\x93\xFA";  // a, HIRAGANA A, b, the kanji for "day"
    for (size_t cut = 0; cut <= sjis.size(); ++cut)
        EXPECT_EQ(Decoded(932, sjis, {cut}),
                  L"a\x3042"
                  L"b\x65E5")
            << "cut at " << cut;
    // Bytes no character starts with, a character cut short by another, and one cut off at the
    // end: one U+FFFD for each.
    EXPECT_EQ(Decoded(CP_UTF8, "\x80x\xC3y\xE2\x82z\xFF\xF0\x9F"),
              L"\xFFFDx\xFFFDy\xFFFDz\xFFFD\xFFFD");
    EXPECT_EQ(Decoded(CP_UTF8, "\xED\xA0\x80"), L"\xFFFD\xFFFD\xFFFD");  // no surrogate
    // The page changes between reads (a chcp): what the old page had cut off ends there.
    OutputDecoder decoder = {};
    WCHAR out[8];
    EXPECT_EQ(DecodeOutput(&decoder, CP_UTF8, "\xD0", 1, out), 0u);
    ASSERT_EQ(DecodeOutput(&decoder, 437, "\x82", 1, out), 2u);
    EXPECT_EQ(std::wstring(out, 2), L"\xFFFD\x00E9");
}

// Random bytes decode the same in reads of random sizes as in one: nothing is lost or changed at a
// cut. Read whole, they decode as the system decodes them, less the zeros and with the glyphs the
// system gives the control characters of its OEM page (MB_USEGLYPHCHARS); invalid UTF-8, which
// the system and the window may replace differently, at least with one U+FFFD.
TEST(OutputDecoder, DecodesAsTheSystemDoesWhateverTheReads) {
    uint64_t state = 2026;
    const UINT pages[] = {437, 1252, CP_UTF8};
    auto system = [](UINT page, const std::string& bytes, DWORD flags) {
        std::wstring out(bytes.size() + 1, L'\0');
        const int units =
            MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), &out[0],
                                static_cast<int>(out.size()));
        out.resize(static_cast<size_t>(std::max(units, 0)));
        return units > 0 || bytes.empty() ? out : L"invalid";
    };
    for (int round = 0; round < 3000; ++round) {
        const UINT page = pages[round % 3];
        std::string bytes(static_cast<size_t>(SplitMixNext(state) % 64), '\0');
        for (char& byte : bytes) {
            const uint64_t roll = SplitMixNext(state);
            // Mostly what UTF-8 is made of, so that its characters come whole too.
            byte = static_cast<char>(roll % 4 == 0   ? 0x80 | (roll >> 8) % 64
                                     : roll % 4 == 1 ? 0xC2 + (roll >> 8) % 50
                                                     : (roll >> 8) % 256);
        }
        std::vector<size_t> reads;
        for (size_t left = bytes.size(); left > 0;) {
            reads.push_back(1 + SplitMixNext(state) % 8);
            left -= std::min(left, reads.back());
        }
        const std::wstring whole = Decoded(page, bytes);
        ASSERT_EQ(Decoded(page, bytes, reads), whole) << "round " << round << ", page " << page;
        std::wstring expected;
        for (wchar_t unit : system(page, bytes, page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0)) {
            const bool control = unit < 32 && unit != '\t' && unit != '\n' && unit != '\r';
            const std::string byte(1, static_cast<char>(unit));
            if (control || unit == 0x7F) unit = system(437, byte, MB_USEGLYPHCHARS).at(0);
            if (unit != 0) expected += unit;
        }
        if (expected == L"invalid") {
            ASSERT_NE(whole.find(L'\xFFFD'), std::wstring::npos) << "round " << round;
        } else {
            ASSERT_EQ(whole, expected) << "round " << round << ", page " << page;
        }
    }
}

const int kLongest = 259;  // the longest line, in characters

// The interpreter's line for a text typed as UTF-16, in code page `page`, or "refused a-b" naming
// what keeps it back.
std::string Made(const std::wstring& text, UINT page = 437) {
    char line[kLineBytesMax + 1];
    TextRange refused{-2, -2};
    const size_t count =
        MakeInterpreterLine(text.data(), static_cast<int>(text.size()), page, line, &refused);
    if (count == 0)
        return "refused " + std::to_string(refused.start) + "-" + std::to_string(refused.end);
    EXPECT_EQ(line[count], '\0');
    return std::string(line, count);
}

// Every character of the OEM page 437 goes as its own byte; a character it lacks, or has only as
// another's best-fit guess, is refused, as is a line end. In UTF-8 every character goes, and in
// a double-byte page as its two bytes.
TEST(CommandText, EachCharacterIsSentExactlyInTheConsolesPageOrRefused) {
    for (int value = 1; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        WCHAR character = 0;
        MultiByteToWideChar(437, 0, &byte, 1, &character, 1);
        const bool lineEnd = value == '\r' || value == '\n';
        EXPECT_EQ(Made(std::wstring(1, character)),
                  lineEnd ? "refused 0-1" : std::string(1, byte) + "\r\n")
            << "byte " << value;
    }
    for (const wchar_t* lacking : {L"\x20AC", L"\x00C3", L"\x0416", L"\xD83D\xDE00"})
        EXPECT_EQ(Made(lacking).substr(0, 10), "refused 0-") << lacking;
    EXPECT_EQ(Made(L"\x0416 caf\x00E9 \xD83D\xDE00", CP_UTF8),
              "\xD0\x96 caf\xC3\xA9 \xF0\x9F\x98\x80\r\n");
    EXPECT_EQ(Made(L"a\xD800"
                   L"b",
                   CP_UTF8),
              "refused 1-2");  // a lone surrogate is no character
    EXPECT_EQ(Made(L"\x3042", 932), "\x82\xA0\r\n");
}

// The longest line and one past it, what lies past it counts first, line ends, and the longest
// line in the page of most bytes a character.
TEST(CommandText, EdgesOfLines) {
    EXPECT_EQ(Made(L""), "\r\n");
    EXPECT_EQ(Made(std::wstring(259, L'x')), std::string(259, 'x') + "\r\n");
    EXPECT_EQ(Made(std::wstring(260, L'x')), "refused 259--1");
    EXPECT_EQ(Made(std::wstring(300, L'\x20AC')), "refused 259--1");  // "€"s: the length first
    EXPECT_EQ(Made(L"a\nb"), "refused 1-2");
    EXPECT_EQ(Made(std::wstring(259, L'\x0416'), CP_UTF8).size(), 2 * 259 + 2u);
    EXPECT_EQ(Made(std::wstring(259, L'\x20AC'), CP_UTF8).size(), 3 * 259 + 2u);
}

// What the user is told of a refused line: its length against the longest line, or the character
// that the interpreter's code page lacks, named whole with the page; in a paste, after the line's
// number. (The tests' Wine has OEM 437 and ANSI 1252.)
TEST(CommandText, RefusalsSayWhy) {
    auto reason = [](const std::wstring& text, size_t line = 0, UINT page = 437) {
        char made[kLineBytesMax + 1];
        TextRange refused{-2, -2};
        const int units = std::min(static_cast<int>(text.size()), kLongest + 1);
        EXPECT_EQ(MakeInterpreterLine(text.data(), units, page, made, &refused), 0u) << "sent";
        WCHAR out[kRefusalReasonMax];
        RefusalReason(text.data(), static_cast<int>(text.size()), refused, line, page, out);
        return std::wstring(out);
    };
    EXPECT_EQ(reason(L"echo caf\x20AC"),
              L"The interpreter's code page (OEM 437) has no \"\x20AC\".");
    EXPECT_EQ(reason(L"echo \x0416", 0, 1252),
              L"The interpreter's code page (ANSI 1252) has no \"\x0416\".");
    EXPECT_EQ(reason(L"echo \x0416", 0, 850),
              L"The interpreter's code page (850) has no \"\x0416\".");
    EXPECT_EQ(reason(L"echo " + std::wstring(265, L'x')),
              L"270 characters: the interpreter takes at most 259.");
    EXPECT_EQ(
        reason(L"echo \xD83D\xDE00", 3),
        L"Line 3 of the paste: the interpreter's code page (OEM 437) has no \"\xD83D\xDE00\".");
    EXPECT_EQ(reason(L"echo a\rb"), L"The line holds a line break, which would end it there.");
}

// A paste's lines end at CR LF, LF or a lone CR; a line end at the very end starts no line.
TEST(PastedLines, SplitAtEachKindOfLineEnd) {
    const struct {
        const wchar_t* text;
        size_t lines;
    } cases[] = {{L"", 0},         {L"a", 1},       {L"a\r\n", 1},  {L"\r\n", 1},
                 {L"a\r\nb", 2},   {L"a\nb\n", 2},  {L"a\rb\r", 2}, {L"a\n\nb", 3},
                 {L"a\r\r\nb", 3}, {L"a\n\r\n", 2}, {L"\n\n", 2}};
    for (const auto& paste : cases)
        EXPECT_EQ(PastedLineCount(paste.text, wcslen(paste.text)), paste.lines) << paste.text;
    const std::wstring text = L"one\r\ntwo\rthree\n";
    std::wstring lines;
    for (PastedLine line = PastedLineAt(text.data(), text.size(), 0); line.start < text.size();
         line = PastedLineAt(text.data(), text.size(), line.next))
        lines += L"[" + text.substr(line.start, line.end - line.start) + L"]";
    EXPECT_EQ(lines, L"[one][two][three]");
}

// The question before a block runs: how many lines, the first five, each cut when long.
TEST(PastedLines, TheQuestionShowsTheCountAndTheFirstLines) {
    std::wstring text;
    for (int i = 1; i <= 7; ++i)
        text += L"line " + std::to_wstring(i) + (i == 2 ? L"\t" + std::wstring(100, L'x') : L"") +
                L"\r\n";
    WCHAR question[kPasteQuestionMax];
    PasteQuestion(text.data(), text.size(), question);
    const std::wstring shown = question;
    EXPECT_NE(shown.find(L"7 lines"), std::wstring::npos) << shown;
    EXPECT_NE(shown.find(L"\n\nline 1\nline 2 " + std::wstring(53, L'x') +
                         L"...\nline 3\nline 4\n"
                         L"line 5\n(and 2 more)"),
              std::wstring::npos)
        << shown;
    EXPECT_EQ(shown.find(L"line 6"), std::wstring::npos);
}

// The word at the caret, its folder part and what the names start with: blanks end a word but
// not inside quotes, which are taken out; the folder part runs through the last backslash or a
// drive's colon.
TEST(Completion, TheWordAtTheCaretAndItsFolderPart) {
    const struct {
        const wchar_t* line;    // "|" marks the caret
        const wchar_t* word;    // as it stands in the line
        const wchar_t* folder;  // its folder part, unquoted
        const wchar_t* part;
    } cases[] = {
        {L"type al|", L"al", L"", L"al"},
        {L"type al| more", L"al", L"", L"al"},  // the caret at a word's end
        {L"type a|l more", L"al", L"", L"al"},  // and inside it
        {L"type |al more", L"al", L"", L"al"},  // and at its start
        {L"type |  x", L"", L"", L""},          // between two blanks: an empty word
        {L"|", L"", L"", L""},
        {L"type ..\\src\\ma|", L"..\\src\\ma", L"..\\src\\", L"ma"},
        {L"dir C:\\Win|", L"C:\\Win", L"C:\\", L"Win"},
        {L"dir C:Win|", L"C:Win", L"C:", L"Win"},
        {L"cd \"Program Fi|", L"\"Program Fi", L"", L"Program Fi"},
        {L"cd C:\\\"Program Files\"\\Mi| x", L"C:\\\"Program Files\"\\Mi", L"C:\\Program Files\\",
         L"Mi"},
        {L"a\tb|", L"b", L"", L"b"},  // a tab is a blank
    };
    for (const auto& c : cases) {
        std::wstring line = c.line;
        const int caret = static_cast<int>(line.find(L'|'));
        line.erase(static_cast<size_t>(caret), 1);
        const LineWord word = WordAtCaret(line.c_str(), static_cast<int>(line.size()), caret);
        EXPECT_EQ(line.substr(word.start, word.end - word.start), c.word) << c.line;
        wchar_t path[64];
        const int folder = WordPath(line.c_str() + word.start, word.end - word.start, path);
        EXPECT_EQ(std::wstring(path, path + folder), c.folder) << c.line;
        EXPECT_EQ(std::wstring(path + folder), c.part) << c.line;
    }
}

// Folders alone after the commands that take one, in any case, but not for the command itself.
TEST(Completion, OnlyFoldersFollowTheCommandsThatTakeOne) {
    for (const wchar_t* line : {L"cd x", L"CD x", L"chdir x", L"pushd x", L"rd x", L"rmdir x",
                                L"md x", L"MkDir x", L"  cd x", L"cd /d x"})
        EXPECT_TRUE(
            WantsFolders(line, static_cast<int>(wcslen(line)), static_cast<int>(wcslen(line)) - 1))
            << line;
    for (const wchar_t* line : {L"type x", L"cdx x", L"echo cd x", L"c x", L"x"})
        EXPECT_FALSE(
            WantsFolders(line, static_cast<int>(wcslen(line)), static_cast<int>(wcslen(line)) - 1))
            << line;
    EXPECT_FALSE(WantsFolders(L"cd", 2, 0)) << "the command's own word";
}

// The folder a word's folder part names from the interpreter's: a full path as it is, a drive's
// or a share's root, another drive's root, and a relative path from the base, made full.
TEST(Completion, TheFolderAWordNames) {
    const struct {
        const wchar_t* base;
        const wchar_t* typed;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\work", L"", L"C:\\work"},
        {L"C:\\work", L"src\\", L"C:\\work\\src"},
        {L"C:\\work\\src", L"..\\", L"C:\\work"},
        {L"C:\\work", L"D:\\data\\", L"D:\\data"},
        {L"C:\\work", L"C:", L"C:\\work"},  // the interpreter's folder on its drive
        {L"C:\\work", L"D:", L"D:\\"},      // another drive's is not known: its root
        {L"C:\\work", L"\\tools\\", L"C:\\tools"},
        {L"\\\\server\\share\\work", L"\\tools\\", L"\\\\server\\share\\tools"},
        {L"C:\\work", L"\\\\server\\share\\", L"\\\\server\\share"},
    };
    for (const auto& c : cases) {
        wchar_t out[kPathMax];
        ASSERT_TRUE(ResolveFolder(c.base, c.typed, out)) << c.base << L" " << c.typed;
        EXPECT_EQ(std::wstring(out), c.folder) << c.base << L" " << c.typed;
    }
    wchar_t out[kPathMax];
    EXPECT_FALSE(ResolveFolder(L"C:\\work", std::wstring(kPathMax, L'x').c_str(), out));
}

// A prompt of the interpreter's default form is a folder's full path and ">", nothing after it.
TEST(Completion, APromptIsAFullPathAndAnAngleBracket) {
    const struct {
        const wchar_t* line;
        const wchar_t* folder;  // "" for no prompt
    } cases[] = {
        {L"C:\\work>", L"C:\\work"},
        {L"C:\\>", L"C:\\"},
        {L"c:\\Program Files (x86)\\A&B>", L"c:\\Program Files (x86)\\A&B"},
        {L"\\\\server\\share\\x>", L"\\\\server\\share\\x"},
        {L">", L""},  // prompt $g
        {L"C:\\work> ", L""},
        {L"C:\\work>dir", L""},  // the line typed after it, echoed
        {L"work>", L""},
        {L"Press any key>", L""},
        {L"C:\\a>b>", L""},
    };
    for (const auto& c : cases) {
        wchar_t folder[kPathMax] = L"unchanged";
        const int length = PromptFolder(c.line, static_cast<int>(wcslen(c.line)), folder);
        EXPECT_EQ(length, static_cast<int>(wcslen(c.folder))) << c.line;
        if (length > 0) {
            EXPECT_EQ(std::wstring(folder), c.folder) << c.line;
        }
    }
}

// The line a name makes: in place of the word, after its folder part as typed, the caret after
// it; in quotes when the name or the folder holds a blank or a character the interpreter takes
// for its own, or when the word began with a quote.
TEST(Completion, ANameTakesTheWordsPlaceInQuotesWhereTheInterpreterNeedsThem) {
    // The line that `name` makes of `line`, whose "|" marks the caret, and the caret after it.
    auto completed = [](const wchar_t* marked, const wchar_t* name) {
        std::wstring line = marked;
        const int caret = static_cast<int>(line.find(L'|'));
        line.erase(static_cast<size_t>(caret), 1);
        const LineWord word = WordAtCaret(line.c_str(), static_cast<int>(line.size()), caret);
        wchar_t path[300], out[300];
        const int folder = WordPath(line.c_str() + word.start, word.end - word.start, path);
        path[folder] = 0;
        int at = -1;
        const int length = CompletedLine(line.c_str(), static_cast<int>(line.size()), word, path,
                                         name, out, 300, &at);
        std::wstring made(out, out + length);
        return made.insert(static_cast<size_t>(at), L"|");
    };
    EXPECT_EQ(completed(L"type al|", L"alpha.txt"), L"type alpha.txt|");
    EXPECT_EQ(completed(L"type a|l more", L"alpha.txt"), L"type alpha.txt| more");
    EXPECT_EQ(completed(L"type ..\\src\\ma|", L"main.cpp"), L"type ..\\src\\main.cpp|");
    EXPECT_EQ(completed(L"cd \"Program Fi|", L"Program Files"), L"cd \"Program Files\"|");
    EXPECT_EQ(completed(L"cd \"Win|", L"Windows"), L"cd \"Windows\"|");
    EXPECT_EQ(completed(L"cd C:\\\"Program Files\"\\Mi|", L"Microsoft"),
              L"cd \"C:\\Program Files\\Microsoft\"|");
    for (wchar_t special : std::wstring(L" &()[]{}^=;!'+,`~")) {
        const std::wstring name = std::wstring(L"a") + special + L"b";
        EXPECT_EQ(completed(L"type a|", name.c_str()), L"type \"" + name + L"\"|") << name;
    }
    for (wchar_t plain : std::wstring(L"-_.@#$%\x00E9"))
        EXPECT_EQ(completed(L"type a|", (std::wstring(L"a") + plain).c_str()),
                  L"type a" + std::wstring(1, plain) + L"|");
    wchar_t out[8];
    int caret = 0;
    EXPECT_EQ(CompletedLine(L"type a", 6, {5, 6}, L"", L"alpha.txt", out, 8, &caret), 0)
        << "a line that does not fit";
}

// A real folder made here: its names in the interpreter's order (by name, letter case aside),
// those that start with a part, folders alone, never "." and "..", and none that the
// interpreter's code page cannot carry (OEM 437 has neither "\x00FE" nor "\x0100"; UTF-8 has
// both).
TEST(Completion, AFoldersNamesInOrderLessThoseThatCannotBeSent) {
    TempFolder folder("names");
    for (const wchar_t* name : {L"b.txt", L"B2.txt", L"a b.txt", L"A.txt", L"_x", L"sub\\",
                                L"Sub2\\", L"al\x00FE.txt", L"al\x0100.txt", L"a.txt.bak"})
        ASSERT_TRUE(folder.Make(name)) << name;
    auto listed = [&](const wchar_t* part, bool foldersOnly, UINT page = 437) {
        NameList names;
        const DWORD error = ListNames(folder.Path().c_str(), part, foldersOnly, page, &names);
        std::wstring text = error ? L"error " + std::to_wstring(error) : L"";
        for (size_t i = 0; i < names.Count(); ++i)
            text += std::wstring(i ? L" " : L"") + L"[" + names.Name(i) + L"]";
        return text;
    };
    EXPECT_EQ(listed(L"", false),
              L"[a b.txt] [A.txt] [a.txt.bak] [b.txt] [B2.txt] [sub] [Sub2] [_x]");
    EXPECT_EQ(listed(L"a", false), L"[a b.txt] [A.txt] [a.txt.bak]");
    EXPECT_EQ(listed(L"B", false), L"[b.txt] [B2.txt]");
    EXPECT_EQ(listed(L"", true), L"[sub] [Sub2]");
    // A wildcard is the system's: "*.txt", as the interpreter reads it, is "*.txt*".
    EXPECT_EQ(listed(L"*.txt", false), L"[a b.txt] [A.txt] [a.txt.bak] [b.txt] [B2.txt]");
    EXPECT_EQ(listed(L"al", false), L"error " + std::to_wstring(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(listed(L"al", false, CP_UTF8), L"[al\x00FE.txt] [al\x0100.txt]");
    EXPECT_EQ(listed(L"x", true), L"error " + std::to_wstring(ERROR_FILE_NOT_FOUND));
    NameList names;
    EXPECT_NE(ListNames((folder.Path() + L"\\none").c_str(), L"", false, 437, &names), 0u);
    EXPECT_LT(CompareNames(L"abc", L"ABD"), 0);
    EXPECT_GT(CompareNames(L"abd", L"ABC"), 0);
}

// A search over random text against a plain model: down, the first match at or after the start;
// up, the last one before it; with and without case.
TEST(TextSearch, FindsWhatAPlainSearchFinds) {
    const std::wstring letters = L"aAbB\x00E9\x00C9\r\n";
    uint64_t state = 17;
    auto random = [&](size_t size) {
        std::wstring text(size, L' ');
        for (wchar_t& c : text)
            c = letters[SplitMixNext(state) % letters.size()];
        return text;
    };
    auto folded = [](std::wstring text) {
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::wstring text = random(SplitMixNext(state) % 40);
        const std::wstring what = random(1 + SplitMixNext(state) % 3);
        const size_t from = static_cast<size_t>(SplitMixNext(state) % (text.size() + 2));
        const bool down = round % 2 == 0, matchCase = round % 4 < 2;
        const std::wstring hay = matchCase ? text : folded(text);
        const std::wstring needle = matchCase ? what : folded(what);
        size_t expected = kNotFound;
        if (down) {
            const size_t at = from <= hay.size() ? hay.find(needle, from) : std::wstring::npos;
            expected = at == std::wstring::npos ? kNotFound : at;
        } else if (from > 0) {
            const size_t at = hay.rfind(needle, from - 1);
            expected = at == std::wstring::npos ? kNotFound : at;
        }
        ASSERT_EQ(
            FindInText(text.data(), text.size(), what.data(), what.size(), from, down, matchCase),
            expected)
            << "round " << round;
    }
}

}  // namespace
