// The "Presets" and "Language" setting files: their header, the preset records, and old versions.
#pragma once

#include "settings/preset.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <quill_version.h>

namespace quill::settings {

/// File name suffixes appended to the settings prefix.
inline constexpr const char* kPresetsFileName = "Presets";
inline constexpr const char* kLanguageFileName = "Language";

/// Marker before every preset record.
inline constexpr std::uint32_t kPresetMarker = 0xFEED;
/// Marker before every filter condition.
inline constexpr std::uint32_t kConditionMarker = 0xCAFE;

/// The version of this program's setting files when the program information table is not loaded.
inline constexpr float kSettingsFileVersion = QUILL_VERSION_NUMBER;

/// The short program name written into the header (program-information entry 2; "Quillmere"
/// while the table is not loaded).
[[nodiscard]] std::string settingsShortName();
/// The version number written into the header: entry 4 of the program information as a
/// single-precision number (4.7 while the table is not loaded).
[[nodiscard]] float settingsVersion();

/// The header of both setting files: short name line, f32 version, 1, 1.
[[nodiscard]] std::vector<std::uint8_t> settingFileHeader();
/// True when `bytes` begin with the header of this program and version ("current"). On success
/// `headerSize` (when given) receives the header's length.
[[nodiscard]] bool headerIsCurrent(std::span<const std::uint8_t> bytes,
                                   std::size_t* headerSize = nullptr);
/// The version stored in a header of this program when both trailing bytes are 1; 0.0 for a
/// foreign, truncated or otherwise unusable header.
[[nodiscard]] float headerVersion(std::span<const std::uint8_t> bytes,
                                  std::size_t* headerSize = nullptr);
/// True when the file at `path` starts with the header of this or an earlier version whose files
/// this one reads, or is a regular file with a size
/// above 0 that could not be read (platform::isReadError), so that whether it is a setting file of
/// ours cannot be told. Decided from one read: a read that fails once and then succeeds cannot
/// make the file count as neither.
[[nodiscard]] bool fileMayBeCurrentSettings(const std::string& path);

/// `overlayText` as stored: line feed, carriage return, tab, VT, double quote, BEL, BS, FF and
/// ESC become "\n", "\r", "\t", "\v", "\'", "\a", "\b", "\f", "\[", and a backslash becomes "\\"
/// so that every text reads back unchanged.
[[nodiscard]] std::string escapeOverlayText(std::string_view text);
/// The inverse of escapeOverlayText; an unknown sequence is kept as it stands.
[[nodiscard]] std::string unescapeOverlayText(std::string_view stored);

/// The complete "Presets" file for a list.
[[nodiscard]] std::vector<std::uint8_t> serializePresets(const PresetList& list);
/// Reads the bytes of a "Presets" file of this version or of versions 4.0 to 4.5. False when they
/// are unusable (foreign, unknown version, no complete record); `list` is then unchanged. A
/// truncated or damaged tail ends the list after the last complete record.
[[nodiscard]] bool parsePresets(std::span<const std::uint8_t> bytes, PresetList& list);

/// How reading the "Presets" file went.
enum class PresetsRead : std::uint8_t {
    Loaded,     ///< the list comes from the file
    Missing,    ///< there is no file: the six defaults
    Damaged,    ///< foreign, of an unknown version, too large or without a complete record: the
                ///< six defaults
    Unreadable, ///< the file is there but could not be read (no permission, an input/output
                ///< error, not a regular file): the six defaults, and the file must not be
                ///< written over, since it may hold the user's presets
};

/// Reads "Presets" from `path`; builds the six defaults when the file is missing or unusable.
/// The result tells the callers which, so that a file that could not be read is never taken
/// for a missing one; with Unreadable, platform::lastError() says why.
[[nodiscard]] PresetsRead readPresets(const std::string& path, PresetList& list);
/// Writes the whole list to `path` (atomically); false when the file could not be written.
/// A file there that this version cannot read (newer, unknown, damaged) is first kept under a
/// backup name beside it (see backupUnreadableFile); `backupPath` receives that name, or "".
/// A file there that cannot be read at all is never written over (false).
[[nodiscard]] bool writePresets(const std::string& path, const PresetList& list,
                                std::string* backupPath = nullptr);

/// The language index stored in a "Language" file, or -1 when the file is missing, from another
/// version, or holds a value outside 0..10.
[[nodiscard]] int readStoredLanguage(const std::string& path);
/// The stored language, else the one derived from the system language.
[[nodiscard]] int readLanguage(const std::string& path);
/// Stores a language index (0..10); false when the file could not be written. An unreadable
/// file there is kept as writePresets does.
[[nodiscard]] bool writeLanguage(const std::string& path, int languageIndex,
                                 std::string* backupPath = nullptr);

/// Copies an existing, non-empty file at `path` to "<path>.<version>.bak" (the version from its
/// header with one decimal, "unknown" without one; ".<n>.bak" when that name is taken), so that
/// writing over a file this version cannot read loses nothing. Returns the backup's path, ""
/// when there was nothing to keep, nullopt when the copy failed or the file cannot be read.
[[nodiscard]] std::optional<std::string> backupUnreadableFile(const std::string& path);
/// The language index derived from the user's system language (English for any other).
[[nodiscard]] int systemLanguageIndex();

} // namespace quill::settings
