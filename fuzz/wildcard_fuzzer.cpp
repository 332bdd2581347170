// Fuzzes the wildcard matcher and the text comparison: pattern, a line feed, then the text.
#include "settings/filter_conditions.h"
#include "settings/wildcard.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quill::settings;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view text =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    for (LetterCase letterCase : {LetterCase::Respect, LetterCase::Ignore}) {
        const bool whole = wildcardMatchesWhole(pattern, text, letterCase);
        const bool inside = wildcardMatchesInside(pattern, text, letterCase);
        // A match of the whole text is also a match inside it.
        if (whole && !inside) __builtin_trap();
    }
    for (int op = 0; op <= 7; op += 2) {
        // Each negated operator is the exact opposite of its positive one.
        if (textComparisonHolds(op, text, pattern) == textComparisonHolds(op + 1, text, pattern)) {
            __builtin_trap();
        }
    }
    (void)toLowerText(text);
    return 0;
}
