// ASCII case folding for extensions, keywords and language codes. Only A-Z and a-z change; every
// other byte, including those of UTF-8 sequences, stays as it is, whatever the process locale.
#pragma once

#include <string>
#include <string_view>

namespace quill::toolkit {

[[nodiscard]] constexpr char toLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
[[nodiscard]] constexpr char toUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

[[nodiscard]] inline std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = toLowerAscii(c);
    return out;
}
[[nodiscard]] inline std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = toUpperAscii(c);
    return out;
}

[[nodiscard]] constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (toUpperAscii(a[i]) != toUpperAscii(b[i])) return false;
    }
    return true;
}

} // namespace quill::toolkit
