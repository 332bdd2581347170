// The placeholder engine: token formatting, normalisation, expansion, numbering and path tokens.
#include "settings/placeholders.h"

#include "imagefiles/image_record.h"
#include "settings/wildcard.h"
#include "toolkit/ascii.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

namespace quill::settings {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = floorDiv(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

enum class ValueUse { Text, PathLevel };

// Replaces every occurrence of `token` by `value`, searching on after each inserted value. The
// result is built anew instead of replacing inside the text, so one call costs time linear in
// the lengths of the texts however many occurrences there are.
std::string replaceAll(const std::string& text, std::string_view token, std::string_view value) {
    std::string result;
    result.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t pos = text.find(token); pos != std::string::npos;
         pos = text.find(token, from)) {
        result.append(text, from, pos - from);
        result += value;
        from = pos + token.size();
    }
    result.append(text, from, std::string::npos);
    return result;
}

// One linear pass per token, in table order, so a value may still hold a later token (a file
// name "shot %DY%" gets the year) exactly as if each token were replaced in place in turn.
std::string expand(std::string_view text, const PlaceholderValues& values, bool noZeroPadding,
                   ValueUse use) {
    std::string result(text);
    for (std::size_t i = 0; i < kImageTokens.size(); ++i) {
        if (result.find(kImageTokens[i].text) == std::string::npos) continue;
        std::string value = imageTokenValue(i, values, noZeroPadding);
        if (use == ValueUse::PathLevel) {
            // A value must stay inside one level of the path it is written into.
            for (char& c : value) {
                if (c == '/' || c == '\0') c = '_';
            }
        }
        result = replaceAll(result, kImageTokens[i].text, value);
    }
    return result;
}

bool isDotLevel(std::string_view level) {
    return level == "." || level == "..";
}

// A level that only became "." or ".." through token values would name the directory itself or
// its parent; its dots are replaced so it stays an ordinary name.
std::string expandLevel(std::string_view level, const PlaceholderValues& values,
                        bool noZeroPadding) {
    std::string expanded = expand(level, values, noZeroPadding, ValueUse::PathLevel);
    if (isDotLevel(expanded) && !isDotLevel(level)) {
        for (char& c : expanded)
            c = '_';
    }
    return expanded;
}

} // namespace

PlaceholderValues placeholderValuesOf(const imagefiles::ImageRecord& record) {
    PlaceholderValues values;
    values.fileName = record.fileName;
    values.fileSize = record.fileSize;
    values.width = record.width;
    values.height = record.height;
    values.pixelCount = record.pixelCount;
    values.colorCount = record.colorCount;
    values.brightness = record.brightness;
    values.date = record.recordedDate;
    return values;
}

PlaceholderValues samplePlaceholderValues() {
    PlaceholderValues values;
    values.fileName = "IMG0087";
    values.fileSize = 1394 * 1024 + 512;
    values.width = 2592;
    values.height = 1944;
    values.pixelCount = 2592 * 1944;
    values.colorCount = 50142;
    values.brightness = 0.83;
    values.date = daysFromCivil(2012, 6, 25) * kSecondsPerDay + 10 * 3600 + 8 * 60 + 43;
    return values;
}

CalendarFields calendarFields(std::int64_t localSeconds) {
    // A file system may hand out any 64-bit time; the calendar arithmetic below overflows far
    // outside the years 1..9999, so dates beyond them read as their first or last second.
    constexpr std::int64_t kFirstSecond = -62135596800; // 0001-01-01 00:00:00
    constexpr std::int64_t kLastSecond = 253402300799;  // 9999-12-31 23:59:59
    localSeconds = std::clamp(localSeconds, kFirstSecond, kLastSecond);
    const std::int64_t days = floorDiv(localSeconds, kSecondsPerDay);
    const std::int64_t secondOfDay = localSeconds - days * kSecondsPerDay;
    // Civil date from a day count (Howard Hinnant's algorithm).
    const std::int64_t z = days + 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    CalendarFields fields;
    fields.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    fields.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    fields.year = yearOfEra + era * 400 + (fields.month <= 2 ? 1 : 0);
    fields.hour = static_cast<int>(secondOfDay / 3600);
    fields.minute = static_cast<int>(secondOfDay / 60 % 60);
    fields.second = static_cast<int>(secondOfDay % 60);
    return fields;
}

std::int64_t brightnessPercent(double brightness) {
    const double scaled = brightness * 100.0;
    if (!std::isfinite(scaled)) return 0;
    if (scaled >= 9.0e18) return std::numeric_limits<std::int64_t>::max();
    if (scaled <= -9.0e18) return std::numeric_limits<std::int64_t>::min();
    // nearbyint rounds in the default mode, to nearest with halves to even.
    return static_cast<std::int64_t>(std::nearbyint(scaled));
}

std::string padNumber(std::int64_t value, int width) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < width) {
        const std::size_t at = (value < 0) ? 1 : 0;
        text.insert(at, static_cast<std::size_t>(width) - text.size(), '0');
    }
    return text;
}

std::string imageTokenValue(std::size_t tokenIndex, const PlaceholderValues& values,
                            bool noZeroPadding) {
    if (tokenIndex == 0) return values.fileName;
    std::int64_t number = 0;
    switch (tokenIndex) {
    case 1:
        number = values.fileSize / 1024;
        break;
    case 2:
        number = values.fileSize / 1048576;
        break;
    case 3:
        number = values.width;
        break;
    case 4:
        number = values.height;
        break;
    case 5:
        number = values.pixelCount / 1000000;
        break;
    case 6:
        number = values.colorCount;
        break;
    case 7:
        number = brightnessPercent(values.brightness);
        break;
    case 8:
        number = calendarFields(values.date).second;
        break;
    case 9:
        number = calendarFields(values.date).minute;
        break;
    case 10:
        number = calendarFields(values.date).hour;
        break;
    case 11:
        number = calendarFields(values.date).day;
        break;
    case 12:
        number = calendarFields(values.date).month;
        break;
    case 13:
        number = calendarFields(values.date).year;
        break;
    default:
        return {};
    }
    return padNumber(number, noZeroPadding ? 0 : kImageTokens[tokenIndex].padWidth);
}

std::string normaliseTokens(std::string_view text) {
    std::string result(text);
    for (const ImageToken& token : kImageTokens) {
        const std::size_t length = token.text.size();
        for (std::size_t pos = 0; pos + length <= result.size();) {
            if (toolkit::equalsIgnoringAsciiCase(std::string_view(result).substr(pos, length),
                                                 token.text)) {
                result.replace(pos, length, token.text);
                pos += length;
            } else {
                ++pos;
            }
        }
    }
    return result;
}

std::string prepareOverlayText(std::string_view text) {
    std::string lf;
    lf.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lf.push_back(text[i]);
    }
    return normaliseTokens(lf);
}

std::string expandImageTokens(std::string_view text, const PlaceholderValues& values,
                              bool noZeroPadding) {
    return expand(text, values, noZeroPadding, ValueUse::Text);
}

std::string expandNamePattern(std::string_view pattern, const PlaceholderValues& values,
                              bool noZeroPadding) {
    return expandLevel(pattern, values, noZeroPadding);
}

std::string expandDirectoryPattern(std::string_view directory, const PlaceholderValues& values,
                                   bool noZeroPadding) {
    std::string result;
    result.reserve(directory.size());
    std::size_t begin = 0;
    while (true) {
        const std::size_t end = directory.find('/', begin);
        const std::string_view level = directory.substr(begin, end - begin);
        result += expandLevel(level, values, noZeroPadding);
        if (end == std::string_view::npos) break;
        result.push_back('/');
        begin = end + 1;
    }
    return result;
}

NumberingToken locateNumberingToken(std::string_view renamePattern) {
    NumberingToken token;
    token.pattern = std::string(renamePattern);
    for (std::size_t i = 0; i < renamePattern.size(); ++i) {
        if (renamePattern[i] != '%') continue;
        std::size_t end = i + 1;
        while (end < renamePattern.size() && renamePattern[end] >= '0' &&
               renamePattern[end] <= '9') {
            ++end;
        }
        const std::size_t digits = end - i - 1;
        if (digits < 1 || digits > 9 || end >= renamePattern.size() || renamePattern[end] != '%') {
            continue;
        }
        std::int64_t start = 0;
        for (std::size_t k = i + 1; k < end; ++k)
            start = start * 10 + (renamePattern[k] - '0');
        token.start = start;
        token.width = static_cast<int>(digits);
        token.pattern.replace(i, digits + 2, kNumberingMarker);
        return token;
    }
    return token;
}

namespace {

// The names in a directory, or nullopt when it exists but cannot be listed. A directory that does
// not exist has no names.
std::optional<std::unordered_set<std::string>> listedNames(const std::string& outputDir) {
    std::unordered_set<std::string> names;
    const std::string listed = outputDir.empty() ? std::string("./") : outputDir;
    if (auto entries = platform::listDirectory(listed)) {
        names.reserve(entries->size());
        for (auto& entry : *entries)
            names.insert(std::move(entry.name));
    } else if (platform::fileExists(listed)) {
        return std::nullopt;
    }
    return names;
}

} // namespace

std::int64_t placeNumber(std::string& name, const std::string& outputDir, const std::string& suffix,
                         std::int64_t counter, int width) {
    if (outputDir.empty() && name.empty()) return -1;
    if (name.find(kNumberingMarker) == std::string::npos) return -1;
    const auto taken = listedNames(outputDir);
    if (!taken) return -1; // a directory that cannot be read fails instead of guessing
    return placeNumber(name, outputDir, suffix, counter, width, *taken);
}

std::int64_t placeNumber(std::string& name, const std::string& outputDir, const std::string& suffix,
                         std::int64_t counter, int width,
                         const std::unordered_set<std::string>& taken) {
    if (outputDir.empty() && name.empty()) return -1;
    const std::size_t markerAt = name.find(kNumberingMarker);
    if (markerAt == std::string::npos) return -1;
    const std::string full = name + suffix;
    const std::string before = full.substr(0, markerAt);
    const std::string after = full.substr(markerAt + kNumberingMarker.size());

    // Names can also exist without being known (case-insensitive file systems, files created
    // meanwhile), so every candidate is checked on the file system too; a fixed allowance of such
    // hits keeps the search finite.
    constexpr std::int64_t kUnlistedAllowance = 4096;
    const std::int64_t limit = static_cast<std::int64_t>(taken.size()) + 1 + kUnlistedAllowance;
    if (counter < 0 || counter > std::numeric_limits<std::int64_t>::max() - limit) return -1;
    for (std::int64_t n = counter; n < counter + limit; ++n) {
        const std::string candidate = before + padNumber(n, width) + after;
        if (taken.count(candidate) != 0) continue;
        if (platform::fileExists(outputDir + candidate)) continue;
        name.replace(markerAt, kNumberingMarker.size(), padNumber(n, width));
        return n;
    }
    return -1;
}

std::unordered_set<std::string>* TakenNames::of(const std::string& outputDir) {
    auto it = m_directories.find(outputDir);
    if (it == m_directories.end())
        it = m_directories.emplace(outputDir, listedNames(outputDir)).first;
    return it->second ? &*it->second : nullptr;
}

void TakenNames::add(const std::string& outputDir, const std::string& fileName) {
    if (auto* names = of(outputDir)) names->insert(fileName);
}

void TakenNames::remove(const std::string& outputDir, const std::string& fileName) {
    auto it = m_directories.find(outputDir);
    if (it != m_directories.end() && it->second) it->second->erase(fileName);
}

std::string NumberingCounters::keyFor(std::string_view outputDir) const {
    if (m_scope == Scope::Shared) return std::string(kNumberingMarker);
    // File names are compared exactly, as the file system does: "Trip/" and "trip/" are two
    // folders with a counter each.
    return std::string(outputDir);
}

std::int64_t NumberingCounters::current(const std::string& key) {
    auto [it, inserted] = m_counters.emplace(key, m_start);
    if (it->second < m_start) it->second = m_start;
    return it->second;
}

void NumberingCounters::taken(const std::string& key, std::int64_t number) {
    m_counters[key] = number + 1;
}

void NumberingCounters::giveBack(const std::string& key, std::int64_t number) {
    auto it = m_counters.find(key);
    if (it != m_counters.end() && it->second == number + 1) it->second = number;
}

PathToken leadingPathToken(std::string_view pattern) {
    if (pattern.size() < 4) return PathToken::None;
    const std::string_view head = pattern.substr(0, 4);
    if (toolkit::equalsIgnoringAsciiCase(head, "%PD%")) return PathToken::Desktop;
    if (toolkit::equalsIgnoringAsciiCase(head, "%PP%")) return PathToken::Documents;
    if (toolkit::equalsIgnoringAsciiCase(head, "%PC%")) return PathToken::ProgramFolder;
    if (toolkit::equalsIgnoringAsciiCase(head, "%PF%")) return PathToken::ImageFolder;
    return PathToken::None;
}

ShellFolders shellFoldersFromPlatform() {
    ShellFolders folders;
    folders.desktop = platform::withTrailingSeparator(platform::desktopDirectory());
    folders.documents = platform::withTrailingSeparator(platform::documentsDirectory());
    folders.programFolder = platform::withTrailingSeparator(platform::programDirectory());
    return folders;
}

std::string withForwardSlashes(std::string_view pattern) {
    std::string result(pattern);
    for (char& c : result) {
        if (c == '\\') c = '/';
    }
    return result;
}

std::string pathExpand(std::string_view pattern, const ShellFolders& folders) {
    std::string result = withForwardSlashes(pattern);
    const PathToken token = leadingPathToken(result);
    if (token != PathToken::None) {
        std::string folder;
        switch (token) {
        case PathToken::Desktop:
            folder = folders.desktop;
            break;
        case PathToken::Documents:
            folder = folders.documents;
            break;
        case PathToken::ProgramFolder:
            folder = folders.programFolder;
            break;
        default:
            break;
        }
        if (!folder.empty() && folder.back() != '/') folder.push_back('/');
        std::string rest = result.substr(4);
        if (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
        result = folder + rest;
    }
    if (!result.empty() && result.back() != '/') result.push_back('/');
    return result;
}

} // namespace quill::settings
