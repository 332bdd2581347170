// Wildcard matching of filter patterns: "?" any one character, "#" one decimal digit, "*" any run.
#pragma once

#include <string>
#include <string_view>

namespace quill::settings {

/// Letter case handling of a text comparison.
enum class LetterCase { Ignore, Respect };

/// True when the whole of `text` matches the wildcard `pattern` (one alternative, no "|").
/// "?" matches any one character (a UTF-8 sequence counts as one), "#" one of "0".."9", "*" any
/// run of characters including none; every other character matches itself. The pattern also
/// matches when the text equals it with every "*" removed. Runs in O(pattern x text) at worst.
[[nodiscard]] bool wildcardMatchesWhole(std::string_view pattern, std::string_view text,
                                        LetterCase letterCase = LetterCase::Respect);

/// True when the wildcard `pattern` matches some part of `text` (possibly all of it or an empty
/// part). Also true when the text contains the pattern with every "*" removed, literally.
[[nodiscard]] bool wildcardMatchesInside(std::string_view pattern, std::string_view text,
                                         LetterCase letterCase = LetterCase::Respect);

/// Lower-cases a UTF-8 text: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals.
/// Bytes that are not valid UTF-8 stay as they are.
[[nodiscard]] std::string toLowerText(std::string_view text);

} // namespace quill::settings
