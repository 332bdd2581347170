// UTF-8: counting characters, reading one sequence strictly, and writing one code point.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quill::toolkit {

/// Characters (code points) of a UTF-8 text: every byte that does not continue a sequence. On
/// invalid text, each stray lead byte counts one and each stray continuation byte nothing.
[[nodiscard]] constexpr std::size_t utf8CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

/// One character read from UTF-8 text; `length` 0 when no valid sequence starts there.
struct Utf8Char {
    char32_t code = 0;
    std::size_t length = 0;
};

/// The sequence at `at` (which must be inside `text`), valid only in shortest form, without
/// surrogates and at most U+10FFFF. Callers replace or escape the one byte at `at` when the
/// length is 0 and go on with the next byte.
[[nodiscard]] constexpr Utf8Char decodeUtf8At(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    std::size_t length = 0;
    char32_t code = 0;
    // The second byte's range also rules out overlong forms, surrogates and values past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {};
    }
    if (length > text.size() - at) return {};
    if (byte(at + 1) < low || byte(at + 1) > high) return {};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {};
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    return {code, length};
}

/// Appends the UTF-8 form of `code` (at most U+10FFFF; the caller keeps surrogates out).
inline void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

} // namespace quill::toolkit
