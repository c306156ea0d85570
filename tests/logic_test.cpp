// The link's pure logic, over bytes and code pages, without a window: against plain models over
// thousands of seeded random cases, and every ANSI byte.
#include <gtest/gtest.h>

#include <string>

#include "byte_logic.h"
#include "command_text.h"
#include "environment.h"
#include "stand_in.h"

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

TEST(ByteRing, BehavesAsAQueueThroughEveryWrapAround) {
    uint64_t state = 7;
    ByteRing<97> ring;
    std::string model;
    char bytes[64];
    for (int step = 0; step < 20000; ++step) {
        const size_t count = static_cast<size_t>(SplitMixNext(state) % 60);
        const size_t taken = std::min(count, model.size());
        switch (SplitMixNext(state) % 4) {
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
            default: {
                size_t size = 0;
                const char* front = ring.Front(&size);
                ASSERT_TRUE(model.empty() || size > 0) << "no front while bytes wait";
                ASSERT_EQ(std::string(front, size), model.substr(0, size)) << "step " << step;
            }
        }
        ASSERT_EQ(ring.Size(), model.size());
        ASSERT_EQ(ring.Room(), 97 - model.size());
    }
}

TEST(DropZeroBytes, KeepsEveryOtherByteInOrder) {
    uint64_t state = 11;
    for (int round = 0; round < 5000; ++round) {
        const size_t size = static_cast<size_t>(SplitMixNext(state) % 300);
        std::string text = RandomText(state, size, static_cast<unsigned>(round % 128));
        std::string expected = text;
        expected.erase(std::remove(expected.begin(), expected.end(), '\0'), expected.end());
        const size_t left = DropZeroBytes(&text[0], text.size());
        ASSERT_EQ(text.substr(0, left), expected) << "round " << round;
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
    const std::string restart = "[Press Enter to start it again.]\r\n";
    char text[kEndNoticeMax];
    EXPECT_EQ(std::string(text, EndNotice(3, text)),
              "[The interpreter has ended with exit code 3.]\r\n" + restart);
    EXPECT_EQ(std::string(text, EndNotice(0xC000013A, text)),
              "[The interpreter has ended with exit code 3221225786 (0xC000013A).]\r\n" + restart);
    EXPECT_LT(EndNotice(0xFFFFFFFF, text), kEndNoticeMax);

    auto named = [](const std::string& bytes) {
        std::string out(UnreadNoticeMax(bytes.size()), '\xEE');
        out.resize(UnreadNotice(bytes.data(), bytes.size(), &out[0]));
        return out;
    };
    EXPECT_EQ(named(""), "");
    EXPECT_EQ(named("echo b\r\n"), "[It did not read 1 line: \"echo b\".]\r\n");
    EXPECT_EQ(named("echo b\r\n\r\nsay \"c\"\r\nhalf"),
              "[It did not read 4 lines: \"echo b\", \"\", \"say \"c\"\", \"half\".]\r\n");
    // A CR at the very end is half a line end.
    EXPECT_EQ(named("caf\x82\nx\r"), "[It did not read 2 lines: \"caf\x82\", \"x\".]\r\n");
    // The room it asks for holds the worst case, lines of a line end alone.
    const std::string ends(1000, '\n');
    std::string out(UnreadNoticeMax(ends.size()) + 16, '\xEE');
    const size_t length = UnreadNotice(ends.data(), ends.size(), &out[0]);
    EXPECT_LT(length, UnreadNoticeMax(ends.size()));
    EXPECT_EQ(out.substr(0, 39), "[It did not read 1000 lines: \"\", \"\", \"\"");
    EXPECT_EQ(out[length], '\0');
    EXPECT_EQ(out[UnreadNoticeMax(ends.size())], '\xEE') << "written past its room";
}

// An environment block from its strings: each with its zero, then one more.
std::wstring Block(std::initializer_list<std::wstring> strings) {
    std::wstring block;
    for (const std::wstring& text : strings)
        block += text + L'\0';
    return block + L'\0';
}

// NativeEnvironment's block for `block`, checked to fill the room it asks for and nothing past it.
std::wstring Native(const std::wstring& block) {
    const size_t size = NativeEnvironment(block.c_str(), nullptr, 0);
    std::wstring out(size + 4, L'#');
    EXPECT_EQ(NativeEnvironment(block.c_str(), &out[0], size), size);
    EXPECT_EQ(out.substr(size), L"####") << "written past its room";
    return out.substr(0, size);
}

// The environment of a 32-bit program on 64-bit Windows, as the system makes it, becomes that of
// a 64-bit program: the architecture and the two program folders take the native values, the
// architecture's 32-bit record goes, and every other string stays as it was and where it was,
// with names near these, other letter cases and characters beyond any code page. Where the system
// gives no native value, nothing changes: on 32-bit Windows, where a record is empty, where there
// is no value to replace, in a 64-bit program's own block and in an empty one.
TEST(NativeEnvironment, GivesTheValuesOfA64BitProgramAndLeavesTheRestInOrder) {
    const std::wstring pf = L"C:\\Program Files", x86 = L"C:\\Program Files (x86)";
    const std::wstring common = L"\\Common Files", name = L"NAME=\x0414\x043E\x043C \xD83D\xDE00";
    const std::wstring wow64 =
        Block({L"=C:=C:\\users", L"CommonProgramFiles=" + x86 + common,
               L"CommonProgramFiles(x86)=" + x86 + common, L"CommonProgramW6432=" + pf + common,
               name, L"PROCESSOR_ARCHITECTURE=x86", L"PROCESSOR_ARCHITEW6432=AMD64",
               L"PROCESSOR_ARCHITECTURES=x86", L"ProgramFile=" + x86, L"ProgramFiles=" + x86,
               L"ProgramFiles(x86)=" + x86, L"ProgramW6432=" + pf});
    const std::wstring native = Block(
        {L"=C:=C:\\users", L"CommonProgramFiles=" + pf + common,
         L"CommonProgramFiles(x86)=" + x86 + common, L"CommonProgramW6432=" + pf + common, name,
         L"PROCESSOR_ARCHITECTURE=AMD64", L"PROCESSOR_ARCHITECTURES=x86", L"ProgramFile=" + x86,
         L"ProgramFiles=" + pf, L"ProgramFiles(x86)=" + x86, L"ProgramW6432=" + pf});
    EXPECT_EQ(Native(wow64), native);
    EXPECT_EQ(
        Native(Block({L"processor_architecture=x86", L"Processor_ArchiteW6432=ARM64",
                      L"PROGRAMFILES=" + x86, L"programw6432=" + pf})),
        Block({L"processor_architecture=ARM64", L"PROGRAMFILES=" + pf, L"programw6432=" + pf}));
    for (const std::wstring& same :
         {native, Block({L"PROCESSOR_ARCHITECTURE=x86", L"ProgramFiles=" + x86}),
          Block({L"PROCESSOR_ARCHITECTURE=x86", L"PROCESSOR_ARCHITEW6432=", L"ProgramFiles=x",
                 L"ProgramW6432="}),
          Block({L"PROCESSOR_ARCHITEW6432=AMD64", L"ProgramW6432=" + pf})})
        EXPECT_EQ(Native(same), same);
    EXPECT_EQ(Native(std::wstring(1, L'\0')), std::wstring(2, L'\0'));
}

const int kLongest = 259;  // the longest line, in characters

// The interpreter's line for a text typed as UTF-16, or "refused a-b" naming what keeps it back.
// The ANSI form must be the text itself.
std::string Made(const std::wstring& text) {
    char ansi[2 * kLongest + 1], line[kLongest + 3];
    TextRange refused{-2, -2};
    const size_t count =
        MakeInterpreterLine(text.data(), static_cast<int>(text.size()), ansi, line, &refused);
    if (count == 0)
        return "refused " + std::to_string(refused.start) + "-" + std::to_string(refused.end);
    EXPECT_EQ(line[count], '\0');
    WCHAR back[2 * kLongest + 1];
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, 2 * kLongest + 1);
    EXPECT_EQ(std::wstring(back, units > 0 ? units - 1 : 0), text) << "the ANSI form differs";
    return std::string(line, count);
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
            EXPECT_EQ(Made(std::wstring(1, typed)), std::string(oem) + "\r\n") << "byte " << value;
        } else {
            EXPECT_EQ(Made(std::wstring(1, typed)), "refused 0-1") << "byte " << value;
        }
    }
}

// The longest line and one past it, what lies past it counts first, line ends, and a paste's end
// and its later pieces.
TEST(CommandText, EdgesOfLinesAndPastes) {
    EXPECT_EQ(Made(L""), "\r\n");
    EXPECT_EQ(Made(std::wstring(259, L'x')), std::string(259, 'x') + "\r\n");
    EXPECT_EQ(Made(std::wstring(260, L'x')), "refused 259--1");
    EXPECT_EQ(Made(std::wstring(300, L'\x20AC')), "refused 259--1");  // "€"s: the length first
    EXPECT_EQ(Made(L"a\nb"), "refused 1-2");
    // A character the field shows but the ANSI code page lacks (put there by an input method or
    // another program) is refused, not sent as the "?" an ANSI read of the field would give.
    EXPECT_EQ(Made(L"echo \x0414\x043E\x043C"), "refused 5-6");
}

// What the user is told of a refused line: its length against the longest line, or the character
// that a code page lacks, named whole; in a paste, after the line's number. (The code pages are
// those of the tests' Wine: OEM 437 and ANSI 1252.)
TEST(CommandText, RefusalsSayWhy) {
    auto reason = [](const std::wstring& text, size_t line = 0) {
        char ansi[2 * kLongest + 1], made[kLongest + 3];
        TextRange refused{-2, -2};
        const int units = std::min(static_cast<int>(text.size()), kLongest + 1);
        EXPECT_EQ(MakeInterpreterLine(text.data(), units, ansi, made, &refused), 0u) << "sent";
        WCHAR out[kRefusalReasonMax];
        RefusalReason(text.data(), static_cast<int>(text.size()), refused, line, out);
        return std::wstring(out);
    };
    EXPECT_EQ(reason(L"echo caf\x20AC"),
              L"The interpreter's code page (OEM 437) has no \"\x20AC\".");
    EXPECT_EQ(reason(L"echo " + std::wstring(265, L'x')),
              L"270 characters: the interpreter takes at most 259.");
    EXPECT_EQ(reason(L"echo \x2500 \x20AC", 2820),
              L"Line 2820 of the paste: the window's code page (ANSI 1252) has no \"\x2500\".");
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

}  // namespace
