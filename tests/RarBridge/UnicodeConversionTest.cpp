#include <gtest/gtest.h>

#include "RarBridge/tovani_unicode.h"

namespace tovani {
namespace {

TEST(WideFromUtf8, DecodesOneCodePointPerCharacter) {
    EXPECT_EQ(WideFromUtf8(""), L"");
    EXPECT_EQ(WideFromUtf8("plain/path.txt"), L"plain/path.txt");
    EXPECT_EQ(WideFromUtf8("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(WideFromUtf8("\xE2\x82\xAC"), L"\u20AC");
    EXPECT_EQ(WideFromUtf8("\xF0\x9F\x98\x80"), std::wstring(1, static_cast<wchar_t>(0x1F600)));
}

TEST(WideFromUtf8, CutSequenceGivesOneReplacementAndKeepsTheNextByte) {
    EXPECT_EQ(WideFromUtf8("a\xC3\x62"), L"a\uFFFDb");
    EXPECT_EQ(WideFromUtf8("a\xE2\x82\x62"), L"a\uFFFDb");
    // A new lead byte interrupts the sequence and starts its own character.
    EXPECT_EQ(WideFromUtf8("\xE2\xC3\xA9"), L"\uFFFD\u00E9");
}

TEST(WideFromUtf8, IncompleteSequenceAtTheEndEndsInReplacement) {
    EXPECT_EQ(WideFromUtf8("name\xE2\x82"), L"name\uFFFD");
    EXPECT_EQ(WideFromUtf8("name\xF0"), L"name\uFFFD");
}

TEST(WideFromUtf8, StrayBytesAreReplacedAndConsumed) {
    EXPECT_EQ(WideFromUtf8("\x80x"), L"\uFFFDx");
    EXPECT_EQ(WideFromUtf8("\xBF\xBF"), L"\uFFFD\uFFFD");
    EXPECT_EQ(WideFromUtf8("\xF8\xFF\x7A"), L"\uFFFD\uFFFDz");
}

TEST(WideFromUtf8, PassesUncheckedValuesOnAsComputed) {
    // Overlong "A", an encoded surrogate, and a value above U+10FFFF.
    EXPECT_EQ(WideFromUtf8("\xC1\x81"), L"A");
    EXPECT_EQ(WideFromUtf8("\xED\xA0\x80"), std::wstring(1, static_cast<wchar_t>(0xD800)));
    EXPECT_EQ(WideFromUtf8("\xF4\x90\x80\x80"), std::wstring(1, static_cast<wchar_t>(0x110000)));
}

TEST(AppendWideFromUtf8, AppendsToWhatIsThere) {
    std::wstring text = L"x";
    AppendWideFromUtf8("y\xC3\xA9", text);
    EXPECT_EQ(text, L"xy\u00E9");
}

TEST(Utf8FromWide, EncodesInOneToFourBytes) {
    EXPECT_EQ(Utf8FromWide(L""), "");
    EXPECT_EQ(Utf8FromWide(L"a/b"), "a/b");
    EXPECT_EQ(Utf8FromWide(L"\u00E9\u07FF"), "\xC3\xA9\xDF\xBF");
    EXPECT_EQ(Utf8FromWide(L"\u0800\uFFFF"), "\xE0\xA0\x80\xEF\xBF\xBF");
    const wchar_t astral[] = {0x1F600, 0x10FFFF, 0};
    EXPECT_EQ(Utf8FromWide(astral), "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
}

TEST(Utf8FromWide, SurrogatesAndOutOfRangeValuesBecomeReplacement) {
    const wchar_t loneSurrogate[] = {L'a', 0xD800, L'b', 0};
    EXPECT_EQ(Utf8FromWide(loneSurrogate), "a\xEF\xBF\xBD\x62");
    const wchar_t lowSurrogate[] = {0xDFFF, 0};
    EXPECT_EQ(Utf8FromWide(lowSurrogate), "\xEF\xBF\xBD");
    const wchar_t tooLarge[] = {static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1), 0};
    EXPECT_EQ(Utf8FromWide(tooLarge), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

// The library marks a name holding bytes it could not decode with U+FFFE
// and carries each such byte as U+E080..U+E0FF.
TEST(Utf8FromLibraryName, ReadsLegacyBytesInTheOemCodePageOrEscapesThem) {
    struct Case {
        const wchar_t* name;
        LegacyBytes legacy;
        const char* expected;
    };
    const Case cases[] = {
        {L"plain.txt", LegacyBytes::oemCodePage, "plain.txt"},
        {L"caf\u00E9.txt", LegacyBytes::escaped, "caf\xC3\xA9.txt"},
        // Windows RAR 2.x wrote é as 0x82 and ü as 0x81 (code page 850).
        {L"caf\uFFFE\uE082.txt", LegacyBytes::oemCodePage, "caf\xC3\xA9.txt"},
        {L"\uFFFE\uE081ber/\uE0E1", LegacyBytes::oemCodePage,
         "\xC3\xBC"
         "ber/\xC3\x9F"},
        // Bytes the locale decoded belong to the code page as much.
        {L"\u00E9\uFFFE\uE082", LegacyBytes::oemCodePage, "\xE2\x94\x9C\xC2\xAE\xC3\xA9"},
        {L"report.pdf\uFFFE\uE0FF.exe", LegacyBytes::escaped, "report.pdf%FF.exe"},
        {L"report.pdf\uFFFE\uE0FE.txt", LegacyBytes::escaped, "report.pdf%FE.txt"},
        {L"\u00E9\uFFFE\uE0C0\uE0AF", LegacyBytes::escaped, "\xC3\xA9%C0%AF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8FromLibraryName(c.name, c.legacy), c.expected) << c.expected;
    }
}

TEST(Utf8FromBytesEscaping, KeepsWellFormedCharactersAndEscapesEveryOtherByte) {
    const std::pair<std::string, std::string> cases[] = {
        {"file.txt", "file.txt"},
        {"../d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC\xF0\x9F\x98\x80",
         "../d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"caf\xE9", "caf%E9"},
        {"\xC0\xAF", "%C0%AF"},                // an overlong "/"
        {"\xED\xA0\x80", "%ED%A0%80"},         // a surrogate
        {"\xE2\x82", "%E2%82"},                // cut short
        {"\xF4\x90\x80\x80", "%F4%90%80%80"},  // beyond U+10FFFF
    };
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(Utf8FromBytesEscaping(bytes), expected) << expected;
    }
}

}  // namespace
}  // namespace tovani
