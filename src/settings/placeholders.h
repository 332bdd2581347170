// The placeholder engine: image tokens and their formatting, the numbering token, path tokens.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace quill::imagefiles {
struct ImageRecord;
}

namespace quill::settings {

/// One image token and the width its value is padded to with "0" (0 = never padded).
struct ImageToken {
    std::string_view text;
    int padWidth;
};

/// The 14 image tokens in the order in which they are replaced.
inline constexpr std::array<ImageToken, 14> kImageTokens{{
    {"%FN%", 0},
    {"%FSK%", 0},
    {"%FSM%", 0},
    {"%IW%", 4},
    {"%IH%", 4},
    {"%IR%", 2},
    {"%IC%", 0},
    {"%IB%", 3},
    {"%DS%", 2},
    {"%DI%", 2},
    {"%DH%", 2},
    {"%DD%", 2},
    {"%DM%", 2},
    {"%DY%", 4},
}};

/// The text that takes the place of the numbering token in a prepared rename pattern.
inline constexpr std::string_view kNumberingMarker = "%NUMBERING%";

/// The values the image tokens are formed from (taken from an ImageRecord, or sample values).
struct PlaceholderValues {
    std::string fileName;        ///< %FN%: file name without extension, bytes kept as they are
    std::int64_t fileSize = 0;   ///< bytes
    std::int64_t width = 0;      ///< pixels
    std::int64_t height = 0;     ///< pixels
    std::int64_t pixelCount = 0; ///< width x height
    std::int64_t colorCount = 0; ///< distinct colours
    double brightness = 0.0;     ///< average brightness 0..1
    std::int64_t date = 0;       ///< image date, local-time seconds since 1970
};

/// The token values of an image record (its recordedDate is the image date).
[[nodiscard]] PlaceholderValues placeholderValuesOf(const imagefiles::ImageRecord& record);
/// The sample values of the placeholder preview ("IMG0087", 1394 KiB, 2592 x 1944, ...).
[[nodiscard]] PlaceholderValues samplePlaceholderValues();

/// Calendar fields of a local-time date (seconds since 1970-01-01 00:00, counted as if UTC).
struct CalendarFields {
    std::int64_t year = 1970;
    int month = 1;  ///< 1..12
    int day = 1;    ///< 1..31
    int hour = 0;   ///< 0..23
    int minute = 0; ///< 0..59
    int second = 0; ///< 0..59
};
[[nodiscard]] CalendarFields calendarFields(std::int64_t localSeconds);

/// brightness x 100 to the nearest integer, halves to the even neighbour.
[[nodiscard]] std::int64_t brightnessPercent(double brightness);
/// The decimal representation, preceded by "0"s up to `width` characters (a longer one stays
/// whole).
[[nodiscard]] std::string padNumber(std::int64_t value, int width);
/// The value of image token `tokenIndex` (0..13, table order); unpadded when `noZeroPadding`.
[[nodiscard]] std::string imageTokenValue(std::size_t tokenIndex, const PlaceholderValues& values,
                                          bool noZeroPadding);

/// Replaces every occurrence of the 14 image tokens written in any letter case by the upper-case
/// token. Path tokens, the numbering token and other text are left alone.
[[nodiscard]] std::string normaliseTokens(std::string_view text);
/// The prepared overlay text: CR LF pairs turned into LF, then normalised.
[[nodiscard]] std::string prepareOverlayText(std::string_view text);

/// Replaces, in table order, every (exact, upper-case) occurrence of each image token by its
/// value. Text that is no token stays as it is. Used for the overlay text and the comment.
[[nodiscard]] std::string expandImageTokens(std::string_view text, const PlaceholderValues& values,
                                            bool noZeroPadding);
/// Expansion of a rename pattern into one file name. Token values cannot leave the directory:
/// a "/" inside a value becomes "_", and a name that would come out as "." or ".." has its dots
/// replaced by "_" (values come from file names and EXIF data written by others).
[[nodiscard]] std::string expandNamePattern(std::string_view pattern,
                                            const PlaceholderValues& values, bool noZeroPadding);
/// Expansion of a prepared output directory (separators "/"). Each level is expanded on its own
/// with the rules of expandNamePattern, so values can neither add levels nor climb with "..";
/// levels written as "." or ".." in the pattern itself stay.
[[nodiscard]] std::string expandDirectoryPattern(std::string_view directory,
                                                 const PlaceholderValues& values,
                                                 bool noZeroPadding);

/// The numbering token of a rename pattern: the first "%" followed by 1..9 digits and a "%".
struct NumberingToken {
    std::int64_t start = -1; ///< the digits' value; -1 when the pattern holds no token
    int width = 0;           ///< the digit count
    std::string pattern;     ///< the pattern with the token replaced by "%NUMBERING%"
};
[[nodiscard]] NumberingToken locateNumberingToken(std::string_view renamePattern);

/// Places a number into `name` (which must hold "%NUMBERING%"): the first n >= `counter` for
/// which outputDir + name + suffix (the suffix is "." + extension, or "" for a file without
/// one), with the first marker replaced by n padded to `width`, names no existing file or
/// directory. Returns n, or -1
/// when no number can be placed: empty directory and name, no marker, a directory that exists
/// but cannot be listed, or no free name within the bounded search.
[[nodiscard]] std::int64_t placeNumber(std::string& name, const std::string& outputDir,
                                       const std::string& suffix, std::int64_t counter, int width);
/// placeNumber() with the names of the directory already known: `taken` holds the names listed
/// (and handed out) so far, and only candidates not in it are checked on the file system. The
/// directory is not listed again, so numbering a batch costs one listing per directory.
[[nodiscard]] std::int64_t placeNumber(std::string& name, const std::string& outputDir,
                                       const std::string& suffix, std::int64_t counter, int width,
                                       const std::unordered_set<std::string>& taken);

/// The names taken in the output directories of one run: a directory is listed once, when it is
/// first numbered into; the names the run hands out, and names found taken when a file is
/// committed, are added as the run goes.
class TakenNames {
public:
    /// The names of `outputDir` ("" means "./"); nullptr when it exists but cannot be listed.
    [[nodiscard]] std::unordered_set<std::string>* of(const std::string& outputDir);
    void add(const std::string& outputDir, const std::string& fileName);
    void remove(const std::string& outputDir, const std::string& fileName);

private:
    std::unordered_map<std::string, std::optional<std::unordered_set<std::string>>> m_directories;
};

/// The numbering counters of one run: one per output directory (keyed by the directory exactly
/// as written), or one shared counter.
class NumberingCounters {
public:
    enum class Scope { PerFolder, Shared };
    NumberingCounters(Scope scope, std::int64_t start) : m_scope(scope), m_start(start) {}

    /// The counter key for an output directory.
    [[nodiscard]] std::string keyFor(std::string_view outputDir) const;
    /// The counter's current value (created at the start value, raised to it when below).
    [[nodiscard]] std::int64_t current(const std::string& key);
    /// Records that `number` was taken: the counter becomes number + 1.
    void taken(const std::string& key, std::int64_t number);
    /// Gives a number back after its image failed, so the next image reuses it.
    void giveBack(const std::string& key, std::int64_t number);

private:
    Scope m_scope;
    std::int64_t m_start;
    std::map<std::string, std::int64_t> m_counters;
};

/// Path tokens recognised at the start of an output directory pattern.
enum class PathToken { None, Desktop, Documents, ProgramFolder, ImageFolder };
/// Which path token the first four characters of `pattern` form (any letter case).
[[nodiscard]] PathToken leadingPathToken(std::string_view pattern);

/// The folders the path tokens stand for, each ending in "/" (empty when unavailable).
struct ShellFolders {
    std::string desktop;
    std::string documents;
    std::string programFolder;
};
/// The folders from the platform layer.
[[nodiscard]] ShellFolders shellFoldersFromPlatform();

/// A user pattern with every "\" written as "/".
[[nodiscard]] std::string withForwardSlashes(std::string_view pattern);
/// Path expansion of an output directory pattern: "\" becomes "/", a leading path token becomes
/// its folder (nothing for "%PF%") with one "/" after the token dropped, and a non-empty result
/// gets a trailing "/".
[[nodiscard]] std::string pathExpand(std::string_view pattern, const ShellFolders& folders);

} // namespace quill::settings
