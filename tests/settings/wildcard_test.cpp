// Wildcard matching: characters, letter case, the cost of many stars, and a randomised
// comparison with a plain recursive matcher.
#include "settings/wildcard.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quill::settings {
namespace {

TEST(Wildcard, CharactersAndLetterCase) {
    // The random comparison below covers "*", "?" and "#" on ASCII text.
    EXPECT_FALSE(wildcardMatchesWhole("jpg", "JPG", LetterCase::Respect));
    EXPECT_TRUE(wildcardMatchesWhole("jpg", "JPG", LetterCase::Ignore));
    // "?" takes one character, not one byte; letter case covers more than ASCII.
    EXPECT_TRUE(wildcardMatchesWhole("caf?", "caf\xC3\xA9"));
    EXPECT_FALSE(wildcardMatchesWhole("caf??", "caf\xC3\xA9"));
    EXPECT_TRUE(wildcardMatchesWhole("\xD0\xBC\xD0\xB8\xD1\x80", "\xD0\x9C\xD0\x98\xD0\xA0",
                                     LetterCase::Ignore));
    // Bytes that are not UTF-8 are single characters that keep their value.
    EXPECT_TRUE(wildcardMatchesWhole("a?b", "a\xFF"
                                            "b"));
    EXPECT_EQ(toLowerText("ABC\xC3\x84\xFF"), "abc\xC3\xA4\xFF");
}

TEST(Wildcard, ManyStarsAgainstLongTextFinishQuickly) {
    // A backtracking matcher needs exponential time here; this one needs pattern x text steps.
    std::string pattern;
    for (int i = 0; i < 40; ++i)
        pattern += "*a";
    pattern += "*b";
    const std::string text(20000, 'a');
    EXPECT_FALSE(wildcardMatchesWhole(pattern, text));
    EXPECT_FALSE(wildcardMatchesInside(pattern, text));
    EXPECT_TRUE(wildcardMatchesWhole(pattern, text + "b"));
}

// Plain recursive reference: exponential, but fine on the short strings below.
bool referenceMatch(const std::string& p, std::size_t pi, const std::string& t, std::size_t ti) {
    if (pi == p.size()) return ti == t.size();
    if (p[pi] == '*') {
        for (std::size_t k = ti; k <= t.size(); ++k) {
            if (referenceMatch(p, pi + 1, t, k)) return true;
        }
        return false;
    }
    if (ti == t.size()) return false;
    const bool digit = t[ti] >= '0' && t[ti] <= '9';
    const bool one = p[pi] == '?' || (p[pi] == '#' ? digit : p[pi] == t[ti]);
    return one && referenceMatch(p, pi + 1, t, ti + 1);
}

TEST(Wildcard, AgreesWithReferenceOnRandomPatterns) {
    std::mt19937 random(20121025);
    const auto randomText = [&](const std::string& alphabet, int maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string p = randomText("ab1*?#", 7);
        const std::string t = randomText("ab12#", 9);
        std::string literal = p;
        std::erase(literal, '*');
        SCOPED_TRACE(p + " / " + t);
        ASSERT_EQ(wildcardMatchesWhole(p, t), referenceMatch(p, 0, t, 0) || literal == t);
        ASSERT_EQ(wildcardMatchesInside(p, t),
                  referenceMatch("*" + p + "*", 0, t, 0) || t.find(literal) != std::string::npos);
    }
}

} // namespace
} // namespace quill::settings
