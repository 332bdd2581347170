// The order of the names in a folder listing.
#include "toolkit/file_name_order.h"

#include "toolkit/utf8.h"

namespace quill::toolkit {

char32_t simpleUpperCase(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 0x20;
    if (c < 0xE0) return c;
    // Latin-1: à..þ less ÷; ÿ is Ÿ in Latin Extended-A.
    if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c <= 0x17F) {
        // Latin Extended-A pairs upper and lower case as even and odd code points, except in the
        // two runs where the upper case is odd; ı, ĸ, ŉ and ſ have no single upper-case form here.
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        const bool upperOdd = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        return (c % 2 == 0) == upperOdd ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : c - 0x20; // Greek α..ϋ, ς as Σ
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;                      // Cyrillic а..я
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;                      // ѐ..џ
    return c;
}

namespace {

/// The character of `name` at `at` for comparing, and where the next one starts; an invalid
/// byte stands for itself.
char32_t nextKey(std::string_view name, std::size_t& at) {
    const Utf8Char ch = decodeUtf8At(name, at);
    if (ch.length == 0) return static_cast<unsigned char>(name[at++]);
    at += ch.length;
    return simpleUpperCase(ch.code);
}

} // namespace

bool fileNameLess(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = nextKey(a, i);
        const char32_t y = nextKey(b, j);
        if (x != y) return x < y;
    }
    if (i < a.size() || j < b.size()) return j < b.size(); // the shorter one first
    return a < b;
}

} // namespace quill::toolkit
