// Code pages 1251 and 1252, UTF-8 and UTF-16 conversions, formatting and the
// decimal conversion, held against Python's codecs (codepage_oracle.inc),
// glibc's iconv and the C library.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace {

#include "platform/codepage_oracle.inc"

// What glibc's iconv makes of one 1251 byte: the UTF-16 unit, or -1.
int iconv_1251_unit(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    char in[1] = {(char)byte};
    char out[4] = {};
    char* inp = in;
    char* outp = out;
    size_t inleft = 1, outleft = sizeof out;
    size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    iconv_close(cd);
    if (r == (size_t)-1) return -1;
    return (unsigned char)out[0] | ((unsigned char)out[1] << 8);
}

TEST(Cp1251, EveryByteMatchesIconvAndRoundTrips) {
    for (int b = 1; b < 256; b++) {
        char src[2] = {(char)b, 0};
        char16_t wide[2] = {};
        ASSERT_EQ(cp1251_to_utf16(src, -1, wide, 2), 2);
        int expected = iconv_1251_unit((unsigned char)b);
        if (expected < 0) {
            // 0x98 is undefined in 1251: kept as U+0098 so the byte survives.
            EXPECT_EQ(b, 0x98);
            EXPECT_EQ(wide[0], 0x98);
        } else {
            EXPECT_EQ(wide[0], expected) << "byte " << b;
        }
        char back[2] = {};
        ASSERT_EQ(utf16_to_cp1251(wide, -1, back, 2), 2);
        EXPECT_EQ((unsigned char)back[0], b) << "byte " << b;
    }
}

// Each code page against what Python decodes: every byte to UTF-16 and back,
// an undefined byte as its C1 control and back, and every other UTF-16 unit
// found lacking (and written as '?').
TEST(CodePages, EveryByteAndEveryUnitMatchPythonsCodecs) {
    struct Page {
        CodePage page;
        const char* const* python;
    };
    for (Page p : {Page{CODE_PAGE_1251, PYTHON_CP1251}, Page{CODE_PAGE_1252, PYTHON_CP1252}}) {
        SCOPED_TRACE(p.page == CODE_PAGE_1251 ? "1251" : "1252");
        std::vector<int> byte_of(0x10000, -1);
        for (int b = 1; b < 256; b++) {
            char16_t expected = (char16_t)b;  // undefined: its C1 control
            if (p.python[b] != nullptr) {
                char16_t decoded[4] = {};
                ASSERT_EQ(utf8_to_utf16(p.python[b], -1, decoded, 4), 2) << "byte " << b;
                expected = decoded[0];
            } else {
                EXPECT_TRUE(b >= 0x80 && b < 0xA0) << "byte " << b;
            }
            char src[2] = {(char)b, 0};
            char16_t wide[2] = {};
            ASSERT_EQ(code_page_to_utf16(p.page, src, -1, wide, 2), 2);
            EXPECT_EQ(wide[0], expected) << "byte " << b;
            byte_of[expected] = b;
        }
        for (int u = 1; u < 0x10000; u++) {
            char16_t unit[2] = {(char16_t)u, 0};
            char out[2] = {};
            ASSERT_EQ(utf16_to_code_page(p.page, unit, -1, out, 2), 2);
            int want = byte_of[u] < 0 ? '?' : byte_of[u];
            ASSERT_EQ((unsigned char)out[0], want) << "unit " << u;
            ASSERT_EQ(code_page_lacks(p.page, unit), byte_of[u] < 0 ? 0 : -1) << "unit " << u;
        }
    }
    // The first character lacking is found where it stands.
    EXPECT_EQ(code_page_lacks(CODE_PAGE_1251, u"Жук \u00fcber"), 4);
    EXPECT_EQ(code_page_lacks(CODE_PAGE_1252, u"\u00fcber Жук"), 5);
}

// Only well-formed UTF-8 that holds more than ASCII counts: not ASCII, not
// text in 1251 or 1252, not overlong forms, surrogates or a cut sequence.
TEST(CodePages, TextIsUtf8BeyondAsciiOnlyWhenItIs) {
    auto is = [](const std::string& t) { return text_is_utf8_beyond_ascii(t.data(), (int)t.size()); };
    EXPECT_TRUE(is("<bob> \xD0\x9F\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB5\xD1\x80\xD0\xBA\xD0\xB0"));
    EXPECT_TRUE(is("\xEF\xBF\xBD and \xF0\x9F\x98\x80"));  // U+FFFD and an emoji, as UTF-8
    EXPECT_FALSE(is(""));
    EXPECT_FALSE(is("<bob> plain ASCII $ & |"));
    EXPECT_FALSE(is("<bob> \xCF\xF0\xEE\xE2\xE5\xF0\xEA\xE0"));        // "Проверка" in 1251
    EXPECT_FALSE(is("<bob> \xC2\xE0\xF1\xFF \xA8\xEB\xEA\xE0 \xB9" "5"));  // "Вася Ёлка №5" in 1251
    EXPECT_FALSE(is("<bob> \xFCn\xEF" "code"));                       // "ünïcode" in 1252
    EXPECT_FALSE(is("\xC0\xAF"));                                     // overlong '/'
    EXPECT_FALSE(is("\xED\xA0\x80"));                                 // a surrogate
    EXPECT_FALSE(is("ok \xD0"));                                      // cut at the end
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    char out[8];
    utf16_to_cp1251(u"a\u4e2db", -1, out, sizeof out);
    EXPECT_STREQ(out, "a?b");
}

TEST(Cp1251, OutputIsCutToTheCapacityAndTerminated) {
    char16_t wide[4] = {9, 9, 9, 9};
    EXPECT_EQ(cp1251_to_utf16("abcdef", -1, wide, 4), 4);
    EXPECT_EQ(wide[2], u'c');
    EXPECT_EQ(wide[3], 0);
    char narrow[3] = {9, 9, 9};
    EXPECT_EQ(utf16_to_cp1251(u"xyz", -1, narrow, 3), 3);
    EXPECT_STREQ(narrow, "xy");
    // A counted conversion writes no terminator and never more than asked.
    char16_t counted[3] = {7, 7, 7};
    EXPECT_EQ(cp1251_to_utf16("ab", 2, counted, 3), 2);
    EXPECT_EQ(counted[2], 7);
}

TEST(Utf8, CyrillicAndAstralCharactersRoundTrip) {
    const char* text = "\xD0\x9F\xD1\x80\xD0\xB8 \xF0\x9F\x98\x80!";
    char16_t wide[16];
    int n = utf8_to_utf16(text, -1, wide, 16);
    EXPECT_EQ(n, 8);  // 3 Cyrillic, blank, surrogate pair, '!', terminator
    EXPECT_EQ(wide[0], 0x041F);
    EXPECT_EQ(wide[4], 0xD83D);
    char back[32];
    utf16_to_utf8(wide, -1, back, sizeof back);
    EXPECT_STREQ(back, text);
}

TEST(Utf8, MalformedBytesBecomeReplacementAndNeverOverrun) {
    char16_t wide[8];
    utf8_to_utf16("a\xC3", -1, wide, 8);  // sequence cut at the end
    EXPECT_EQ(wide[0], u'a');
    EXPECT_EQ(wide[1], 0xFFFD);
    char out[4] = {9, 9, 9, 9};
    utf16_to_utf8(u"\u0416\u0416", -1, out, 4);  // second letter does not fit
    EXPECT_STREQ(out, "\xD0\x96");
}

// Longer forms than a value needs and encoded surrogates are not UTF-8: each
// is one U+FFFD (an overlong NUL would otherwise cut the text, an overlong
// '<' pass for one). The values at the edges of each length stay.
TEST(Utf8, OverlongFormsAndSurrogatesBecomeReplacement) {
    struct Case {
        const char* utf8;
        std::u16string wide;
    };
    const Case cases[] = {
        {"a\xC0\x80z", u"a\uFFFDz"},          // NUL in two bytes
        {"\xC1\xBC", u"\uFFFD"},               // '<' in two bytes
        {"\xE0\x80\xBC", u"\uFFFD"},           // '<' in three
        {"\xF0\x80\x80\xBC", u"\uFFFD"},       // '<' in four
        {"\xED\xA0\x80\xED\xB0\x80", u"\uFFFD\uFFFD"},  // a pair's halves, each encoded alone
        {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80", u"\u0800\uD7FF\uE000"},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
    };
    for (const Case& c : cases) {
        char16_t wide[16];
        utf8_to_utf16(c.utf8, -1, wide, 16);
        EXPECT_EQ(std::u16string(wide), c.wide) << c.utf8;
    }
}

TEST(WideFormat, ConversionsAsTheScreensUseThem) {
    char16_t out[128];
    wide_format(out, 128, u"In: %u kbytes\nOut: %u kbytes\n\nin %u bytes\nout %u bytes", 1u, 0u, 1536u, 100u);
    EXPECT_EQ(std::u16string(out), u"In: 1 kbytes\nOut: 0 kbytes\n\nin 1536 bytes\nout 100 bytes");
    wide_format(out, 128, u"connect to %S", "\xCF\xF0\xE8");
    EXPECT_EQ(std::u16string(out), u"connect to \u041F\u0440\u0438");
    wide_format(out, 128, u"%s|%d|%llu|%%", u"w", -42, 5368709120ull);
    EXPECT_EQ(std::u16string(out), u"w|-42|5368709120|%");
    wide_format(out, 128, u"%u", 4294967295u);
    EXPECT_EQ(std::u16string(out), u"4294967295");
}

TEST(WideFormat, NeverWritesPastTheBuffer) {
    char16_t out[6] = {1, 1, 1, 1, 1, 1};
    EXPECT_EQ(wide_format(out, 5, u"%S%u", "abcdef", 123u), 4);
    EXPECT_EQ(std::u16string(out), u"abcd");
    EXPECT_EQ(out[5], 1);
}

TEST(Decimal, FollowsTheStandardConversion) {
    const char* cases[] = {"2225", "  42x", "-17", "+8", "", "abc", " \t7", "0009", "12 34"};
    for (const char* c : cases) EXPECT_EQ(decimal_to_int(c), atoi(c)) << c;
    EXPECT_EQ(decimal_to_int("99999999999"), INT32_MAX);
    EXPECT_EQ(decimal_to_int("-99999999999"), INT32_MIN);
    EXPECT_EQ(decimal_to_u64("5368709120 2/3"), 5368709120ull);
    EXPECT_EQ(decimal_to_u64("99999999999999999999999"), UINT64_MAX);
    EXPECT_EQ(decimal_to_u64("-5"), 0u);
}

TEST(BoundedCopy, CutsAndTerminates) {
    char small[4];
    EXPECT_EQ(text_copy(small, 4, "abcdef"), 3);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(text_append(small, 4, "z"), 3);
    EXPECT_STREQ(small, "abc");
    char field[8] = "ab";
    EXPECT_EQ(text_append(field, 8, "cd"), 4);
    EXPECT_STREQ(field, "abcd");
    EXPECT_EQ(text_copy_n(field, 8, "xyz123", 2), 2);
    EXPECT_STREQ(field, "xy");
    char16_t w[3];
    EXPECT_EQ(u16_copy(w, 3, u"abc"), 2);
    EXPECT_EQ(u16_append(w, 3, u"d"), 2);
    EXPECT_EQ(std::u16string(w), u"ab");
}

TEST(Utf16, SurrogatePairsEncodeAndDecodeAndUnpairedHalvesStandAlone) {
    char16_t units[2];
    for (char32_t cp : {U'\0', U'a', U'\u0416', U'\uFFFF', U'\U00010000', U'\U0001F600', U'\U0010FFFF'}) {
        int n = utf16_encode(cp, units);
        EXPECT_EQ(n, cp >= 0x10000 ? 2 : 1) << (unsigned)cp;
        int at = 0;
        EXPECT_EQ(utf16_decode(units, n, &at), cp);
        EXPECT_EQ(at, n);
    }
    utf16_encode(U'\U0001F600', units);
    EXPECT_EQ(units[0], 0xD83D);
    EXPECT_EQ(units[1], 0xDE00);
    EXPECT_EQ(utf16_encode(0x110000, units), 1);  // past the last code point
    EXPECT_EQ(units[0], 0xFFFD);

    // A pair is one code point; a lone half, or a high half cut off by the
    // length, is itself and one unit.
    const char16_t text[] = {u'a', 0xD83D, 0xDE00, 0xDC00, 0xD800, u'b', 0xD800, 0xDC00};
    char32_t got[8];
    int ends[8];
    int count = 0;
    for (int at = 0; at < 7; count++) {
        got[count] = utf16_decode(text, 7, &at);
        ends[count] = at;
    }
    ASSERT_EQ(count, 6);
    const char32_t expected[] = {U'a', 0x1F600, 0xDC00, 0xD800, U'b', 0xD800};
    const int expected_ends[] = {1, 3, 4, 5, 6, 7};
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(got[i], expected[i]) << i;
        EXPECT_EQ(ends[i], expected_ends[i]) << i;
    }
}

}  // namespace
