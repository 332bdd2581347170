// The program's text tables: the packed blocks it carries, their unpacking, and the language
// choice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quill::settings {

/// Entries of the program-information table.
inline constexpr int kProgramInfoCount = 56;
/// Entries of each user-interface table.
inline constexpr int kUiTextCount = 513;
/// Number of user-interface languages (indices 0..10).
inline constexpr int kLanguageCount = 11;
/// The language chosen when nothing else selects one.
inline constexpr int kEnglishLanguage = 2;

/// One user-interface language.
struct LanguageInfo {
    const char* code;     ///< primary language subtag ("de", "en", ...)
    const char* menuText; ///< the native-name literal of the language menu, e.g. "  (English)"
};
/// The eleven languages in index order.
[[nodiscard]] std::span<const LanguageInfo> languages();
/// The language index for a primary language subtag ("de", "fr"; case-insensitive); English for
/// every language without a table.
[[nodiscard]] int languageIndexForCode(std::string_view code);

// The loaded tables are immutable: a load builds new tables and makes them current in one atomic
// step, so any thread may read texts while another switches the language. Texts are returned as
// copies, which stay valid whatever is loaded afterwards.

/// Entry of the program-information table (UTF-8). An empty string for an index outside the table
/// or before loadProgramInfo() succeeded.
[[nodiscard]] std::string programInfoText(int index);
/// Entry of the current user-interface table (UTF-8). An empty string for an index outside the
/// table or before loadUiTexts() succeeded.
[[nodiscard]] std::string uiText(int index);

/// Unpacks the embedded program-information block; false when it cannot be filled completely.
[[nodiscard]] bool loadProgramInfo();
/// Unpacks the embedded user-interface table of a language (0..10) and makes it current; false
/// (and the previous table stays) when it cannot be filled completely.
[[nodiscard]] bool loadUiTexts(int languageIndex);
/// The language whose table loadUiTexts() loaded last (English before the first load).
[[nodiscard]] int currentLanguage();

/// Unpacks one "ISTF" block into `entries` (UTF-8), which must end up with exactly `entryCount`
/// entries. `key` is the scrambling key. False on any malformed block; `entries` is then left
/// unspecified.
[[nodiscard]] bool unpackBlock(std::span<const std::uint8_t> block,
                               std::span<const std::uint8_t> key, std::size_t entryCount,
                               std::vector<std::string>& entries);

/// The key buffer used to scramble and unscramble the embedded blocks (894 bytes).
[[nodiscard]] const std::vector<std::uint8_t>& scrambleKey();

/// Builds an "ISTF" block from UTF-8 entries: UTF-16LE entries, zlib-compressed when `compress`,
/// scrambled with `key` when it is not empty. An empty vector when an entry is empty or longer
/// than 65535 bytes in UTF-16, or compression fails. Used by the build-time packer and the tests.
[[nodiscard]] std::vector<std::uint8_t> packBlock(const std::vector<std::string>& entries,
                                                  std::span<const std::uint8_t> key, bool compress);

/// Parses the readable source of a text table: one entry per line as "<index>: <text>", indices
/// 0..expectedCount-1 in order, "\n", "\r", "\t" and "\\" as escapes; lines that are empty or
/// begin with "#" are skipped. False with a message in `error` on a missing, extra, duplicate,
/// out-of-order or empty entry.
[[nodiscard]] bool parseTextTable(std::string_view source, std::size_t expectedCount,
                                  std::vector<std::string>& entries, std::string& error);

/// The embedded blocks: 0 program information, 1..11 user-interface languages 0..10.
[[nodiscard]] std::span<const std::uint8_t> embeddedBlock(int blockIndex);

} // namespace quill::settings
