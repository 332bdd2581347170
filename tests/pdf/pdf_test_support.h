// Helpers for the PDF tests: reading a produced document's objects and cross-reference table.
#pragma once

#include <cstdint>
#include <map>
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

/// The cross-reference entries of a one-section table: object number -> offset. Also checks the
/// startxref value points at the "xref" line (else returns an empty map).
inline std::map<int, std::size_t> xrefOffsets(const std::string& pdf) {
    std::map<int, std::size_t> offsets;
    const std::size_t start = pdf.rfind("startxref\n");
    if (start == std::string::npos) return offsets;
    const std::size_t xref = std::stoul(pdf.substr(start + 10));
    if (pdf.compare(xref, 5, "xref\n") != 0) return offsets;
    std::size_t pos = pdf.find('\n', xref + 5) + 1; // after "0 n"
    const int count = std::stoi(pdf.substr(xref + 7));
    pos += 20; // the free entry
    for (int object = 1; object < count; ++object, pos += 20)
        offsets[object] = std::stoul(pdf.substr(pos, 10));
    return offsets;
}

} // namespace quill::test
