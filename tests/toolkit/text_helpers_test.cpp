// ASCII case folding and UTF-8 counting, decoding and encoding, against hand-picked texts.
#include "toolkit/ascii.h"
#include "toolkit/utf8.h"

#include <gtest/gtest.h>

namespace quill::toolkit {
namespace {

TEST(Ascii, FoldsOnlyTheAsciiLetters) {
    // The neighbours of A-Z and a-z, and UTF-8 bytes of letters with a case, stay as they are.
    const std::string text = "@AZ[`az{09 \xC3\x84\xC3\xA4\xFF";
    EXPECT_EQ(lowerAscii(text), "@az[`az{09 \xC3\x84\xC3\xA4\xFF");
    EXPECT_EQ(upperAscii(text), "@AZ[`AZ{09 \xC3\x84\xC3\xA4\xFF");

    const struct {
        std::string_view a, b;
        bool equal;
    } cases[] = {
        {"%Pd%", "%PD%", true},
        {"ab", "abc", false},
        {"@", "`", false},
        {"\xC3\xA4", "\xC3\x84", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(equalsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

TEST(Utf8, CountsCharactersNotBytes) {
    const struct {
        std::string_view text;
        std::size_t count;
    } cases[] = {
        {"", 0},
        {"\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80", 3}, // a-umlaut, euro sign, an emoji
        {"\x80\x80", 0},                             // lone continuation bytes add nothing
        {"\xFF\xC3", 2},                             // every other invalid byte counts once
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8CharacterCount(c.text), c.count) << c.text;
}

TEST(Utf8, DecodesOnlyStrictSequencesAndEncodesThemBack) {
    // The edges of every lead byte's range; length 0 means "not a sequence".
    const struct {
        std::string_view bytes;
        char32_t code;
        std::size_t length;
    } cases[] = {
        {"\x7F", 0x7F, 1},
        {"\xC2\x80", 0x80, 2},
        {"\xE0\xA0\x80", 0x800, 3},
        {"\xED\x9F\xBF", 0xD7FF, 3},
        {"\xF0\x90\x80\x80", 0x10000, 4},
        {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
        {"\x80", 0, 0},             // continuation without a lead
        {"\xC0\x80", 0, 0},         // overlong NUL
        {"\xE0\x9F\xBF", 0, 0},     // overlong
        {"\xED\xA0\x80", 0, 0},     // surrogate
        {"\xF0\x8F\xBF\xBF", 0, 0}, // overlong
        {"\xF4\x90\x80\x80", 0, 0}, // past U+10FFFF
        {"\xE2\x82", 0, 0},         // cut short
        {"\xE2\x28\xAC", 0, 0},     // not a continuation
    };
    for (const auto& c : cases) {
        const std::string text = std::string(c.bytes) + "x"; // a following byte is not taken
        const Utf8Char got = decodeUtf8At(text, 0);
        EXPECT_EQ(got.length, c.length) << testing::PrintToString(c.bytes);
        if (c.length == 0) continue;
        EXPECT_EQ(got.code, c.code);
        std::string encoded;
        appendUtf8(encoded, c.code);
        EXPECT_EQ(encoded, c.bytes);
    }
    EXPECT_EQ(decodeUtf8At("\xE2\x82", 0).length, 0u); // at the very end of the text
}

} // namespace
} // namespace quill::toolkit
