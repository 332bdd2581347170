// Helpers for the PDF tests: a produced document as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace quill::test {

inline std::string asText(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline int countOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1))
        ++count;
    return count;
}

} // namespace quill::test
