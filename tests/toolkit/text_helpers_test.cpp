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
    EXPECT_EQ(utf8CharacterCount("\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"),
              3u);                                 // a-umlaut, euro, emoji
    EXPECT_EQ(utf8CharacterCount("\x80\x80"), 0u); // lone continuation bytes add nothing
    EXPECT_EQ(utf8CharacterCount("\xFF\xC3"), 2u); // every other invalid byte counts once
}

TEST(Utf8, DecodesOnlyStrictSequencesAndEncodesThemBack) {
    // The edges of every lead byte's range, each followed by a byte that is not taken.
    for (const auto& [bytes, code] : {std::pair<std::string_view, char32_t>{"\x7F", 0x7F},
                                      {"\xC2\x80", 0x80},
                                      {"\xE0\xA0\x80", 0x800},
                                      {"\xED\x9F\xBF", 0xD7FF},
                                      {"\xF0\x90\x80\x80", 0x10000},
                                      {"\xF4\x8F\xBF\xBF", 0x10FFFF}}) {
        const Utf8Char got = decodeUtf8At(std::string(bytes) + "x", 0);
        EXPECT_EQ(got.length, bytes.size()) << testing::PrintToString(bytes);
        EXPECT_EQ(got.code, code);
        std::string encoded;
        appendUtf8(encoded, code);
        EXPECT_EQ(encoded, bytes);
    }
    // A lone continuation, overlong forms (NUL among them), a surrogate, past U+10FFFF, a cut
    // sequence and a lead without continuation are no sequence, inside or at the end of a text.
    for (const std::string_view bad :
         {"\x80", "\xC0\x80", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xED\xA0\x80",
          "\xF4\x90\x80\x80", "\xE2\x82", "\xE2\x28\xAC"}) {
        EXPECT_EQ(decodeUtf8At(std::string(bad) + "x", 0).length, 0u)
            << testing::PrintToString(bad);
        EXPECT_EQ(decodeUtf8At(bad, 0).length, 0u) << testing::PrintToString(bad);
    }
}

} // namespace
} // namespace quill::toolkit
