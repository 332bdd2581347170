// Wildcard matching of filter patterns over UTF-8 characters.
#include "settings/wildcard.h"

#include <vector>

#include "toolkit/utf8.h"

namespace quill::settings {
namespace {

// One character of a decoded text. Bytes that are not part of a valid UTF-8 sequence become
// values above the Unicode range, so they match only themselves and survive re-encoding.
using Unit = char32_t;
constexpr Unit kRawByteBase = 0x110000;

std::vector<Unit> decodeUtf8(std::string_view text) {
    std::vector<Unit> units;
    units.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const toolkit::Utf8Char c = toolkit::decodeUtf8At(text, i);
        if (c.length == 0) {
            units.push_back(kRawByteBase + static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        units.push_back(c.code);
        i += c.length;
    }
    return units;
}

void encodeUtf8(Unit unit, std::string& out) {
    if (unit >= kRawByteBase) {
        out.push_back(static_cast<char>(unit - kRawByteBase));
    } else {
        toolkit::appendUtf8(out, unit);
    }
}

Unit lowerUnit(Unit c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 32;
    if (c == 0x130) return 'i';
    if (c == 0x178) return 0xFF;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c % 2 == 0) ? c + 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    if (c >= 0x410 && c <= 0x42F) return c + 32;
    return c;
}

std::vector<Unit> prepare(std::string_view text, LetterCase letterCase) {
    std::vector<Unit> units = decodeUtf8(text);
    if (letterCase == LetterCase::Ignore) {
        for (Unit& unit : units)
            unit = lowerUnit(unit);
    }
    return units;
}

bool unitMatches(Unit patternUnit, Unit textUnit) {
    if (patternUnit == '?') return true;
    if (patternUnit == '#') return textUnit >= '0' && textUnit <= '9';
    return patternUnit == textUnit;
}

// Iterative matcher with a single resumption point: on a mismatch only the most recent "*" is
// widened by one character. Earlier stars never need revisiting because every other pattern
// character matches exactly one text character, so this finds a match whenever one exists and
// takes at most pattern x text steps (no exponential backtracking).
bool matchUnits(const std::vector<Unit>& pattern, const std::vector<Unit>& text) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starPattern = kNone;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starText = t;
        } else if (p < pattern.size() && unitMatches(pattern[p], text[t])) {
            ++p;
            ++t;
        } else if (starPattern != kNone) {
            p = starPattern + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::vector<Unit> withoutStars(const std::vector<Unit>& pattern) {
    std::vector<Unit> literal;
    literal.reserve(pattern.size());
    for (Unit unit : pattern) {
        if (unit != '*') literal.push_back(unit);
    }
    return literal;
}

bool containsLiteral(const std::vector<Unit>& text, const std::vector<Unit>& literal) {
    if (literal.size() > text.size()) return false;
    for (std::size_t start = 0; start + literal.size() <= text.size(); ++start) {
        bool equal = true;
        for (std::size_t k = 0; k < literal.size() && equal; ++k) {
            equal = text[start + k] == literal[k];
        }
        if (equal) return true;
    }
    return false;
}

} // namespace

bool wildcardMatchesWhole(std::string_view pattern, std::string_view text, LetterCase letterCase) {
    const std::vector<Unit> p = prepare(pattern, letterCase);
    const std::vector<Unit> t = prepare(text, letterCase);
    return matchUnits(p, t) || withoutStars(p) == t;
}

bool wildcardMatchesInside(std::string_view pattern, std::string_view text, LetterCase letterCase) {
    std::vector<Unit> p;
    p.reserve(pattern.size() + 2);
    p.push_back('*');
    for (Unit unit : prepare(pattern, letterCase))
        p.push_back(unit);
    p.push_back('*');
    const std::vector<Unit> t = prepare(text, letterCase);
    return matchUnits(p, t) || containsLiteral(t, withoutStars(p));
}

std::string toLowerText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (Unit unit : prepare(text, LetterCase::Ignore))
        encodeUtf8(unit, out);
    return out;
}

} // namespace quill::settings
