// The order of the names in a folder listing: case-insensitive by code point, the order the
// reference file system keeps its folders in.
#pragma once

#include <string_view>

namespace quill::toolkit {

/// The upper-case form of a character for comparing names: the ASCII letters, Latin-1, Latin
/// Extended-A, basic Greek and basic Cyrillic (one character to one, no locale); every other
/// character is its own upper-case form.
[[nodiscard]] char32_t simpleUpperCase(char32_t code);

/// True when the file name `a` comes before `b` in a folder listing. Names compare character by
/// character by the code points of their upper-case forms (so "b.jpg" comes before "C.jpg" and
/// "a" before "_"); a byte that is not part of a valid UTF-8 sequence counts as the code point of
/// its value. Names equal in that comparison (differing only in case) are ordered by their bytes,
/// so the order is total.
[[nodiscard]] bool fileNameLess(std::string_view a, std::string_view b);

} // namespace quill::toolkit
