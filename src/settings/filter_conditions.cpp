// Filter conditions: evaluation against an image record, value ranges, and the details a run needs.
#include "settings/filter_conditions.h"

#include "imagefiles/format.h"
#include "imagefiles/image_record.h"
#include "settings/placeholders.h"
#include "settings/wildcard.h"

#include <limits>

namespace quill::settings {
namespace {

bool anyActiveConditionOn(const Preset& settings, int first, int last) {
    for (const FilterCondition& condition : settings.filterConditions) {
        if (isActive(condition) && condition.property >= first && condition.property <= last) {
            return true;
        }
    }
    return false;
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> tokens) {
    for (std::string_view token : tokens) {
        if (text.find(token) != std::string_view::npos) return true;
    }
    return false;
}

bool sortsBy(const Preset& settings, SortKey first, SortKey last) {
    return settings.sortEnabled == 1 && settings.sortKey >= first && settings.sortKey <= last;
}

} // namespace

std::int64_t decimalValue(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (kMax - digit) / 10) {
            value = kMax;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool numericComparisonHolds(int op, std::int64_t imageValue, std::int64_t number) {
    switch (op) {
    case 0:
        return imageValue == number;
    case 1:
        return imageValue != number;
    case 2:
        return imageValue < number;
    case 3:
        return imageValue > number;
    default:
        return false;
    }
}

bool textComparisonHolds(int op, std::string_view imageText, std::string_view pattern) {
    if (op < 0 || op > 7) return false;
    const LetterCase letterCase = op <= 3 ? LetterCase::Ignore : LetterCase::Respect;
    const bool inside = op % 4 >= 2;
    const bool negated = op % 2 == 1;
    bool matched = false;
    std::size_t begin = 0;
    while (!matched && begin <= pattern.size()) {
        std::size_t end = pattern.find('|', begin);
        if (end == std::string_view::npos) end = pattern.size();
        const std::string_view alternative = pattern.substr(begin, end - begin);
        if (!alternative.empty()) {
            matched = inside ? wildcardMatchesInside(alternative, imageText, letterCase)
                             : wildcardMatchesWhole(alternative, imageText, letterCase);
        }
        begin = end + 1;
    }
    return negated ? !matched : matched;
}

std::int64_t numericPropertyValue(int property, const imagefiles::ImageRecord& record) {
    switch (property) {
    case PropertyFileSize:
        return record.fileSize / 1024;
    case PropertyWidth:
        return record.width;
    case PropertyHeight:
        return record.height;
    case PropertyPixelCount:
        return record.pixelCount;
    case PropertyColorCount:
        return record.colorCount;
    case PropertyBrightness:
        return brightnessPercent(record.brightness);
    case PropertySecond:
        return calendarFields(record.recordedDate).second;
    case PropertyMinute:
        return calendarFields(record.recordedDate).minute;
    case PropertyHour:
        return calendarFields(record.recordedDate).hour;
    case PropertyDay:
        return calendarFields(record.recordedDate).day;
    case PropertyMonth:
        return calendarFields(record.recordedDate).month;
    case PropertyYear:
        return calendarFields(record.recordedDate).year;
    default:
        return 0;
    }
}

std::string textPropertyValue(int property, const imagefiles::ImageRecord& record) {
    switch (property) {
    case PropertyFolder:
        return record.folder;
    case PropertyFileName:
        return record.fileName;
    case PropertyExtension:
        return std::string(imagefiles::extensionOf(record.sourcePath));
    default:
        return {};
    }
}

bool conditionHolds(const FilterCondition& condition, const imagefiles::ImageRecord& record) {
    if (isTextProperty(condition.property)) {
        return textComparisonHolds(condition.operator_,
                                   textPropertyValue(condition.property, record), condition.value);
    }
    if (condition.property >= kFilterPropertyCount) return false;
    return numericComparisonHolds(condition.operator_,
                                  numericPropertyValue(condition.property, record),
                                  decimalValue(condition.value));
}

bool isExcludedByFilter(const Preset& settings, const imagefiles::ImageRecord& record) {
    if (settings.filterEnabled != 1) return false;
    for (const FilterCondition& condition : settings.filterConditions) {
        if (isActive(condition) && conditionHolds(condition, record)) return true;
    }
    return false;
}

bool filterValueUsable(const FilterCondition& condition) {
    if (isTextProperty(condition.property)) return !condition.value.empty();
    const std::int64_t v = decimalValue(condition.value);
    switch (condition.property) {
    case PropertyFileSize:
    case PropertyPixelCount:
        return v >= 1 && v <= 999999999;
    case PropertyWidth:
    case PropertyHeight:
        return v >= 1 && v <= 65536;
    case PropertyColorCount:
        return v >= 2 && v <= 16777216;
    case PropertyBrightness:
        return v >= 0 && v <= 100;
    case PropertySecond:
    case PropertyMinute:
        return v >= 0 && v <= 59;
    case PropertyHour:
        return v >= 0 && v <= 23;
    case PropertyDay:
        return v >= 1 && v <= 31;
    case PropertyMonth:
        return v >= 1 && v <= 12;
    case PropertyYear:
        return v >= 1970 && v <= 2037;
    default:
        return false;
    }
}

bool requirementQuery(Requirement requirement, const Preset& s, std::string_view taskTexts,
                      std::size_t imageCount) {
    switch (requirement) {
    case Requirement::Sorting:
        return s.sortEnabled == 1 && imageCount > 1;
    case Requirement::Dimensions:
        return anyActiveConditionOn(s, PropertyWidth, PropertyPixelCount) ||
               sortsBy(s, SortKey::Width, SortKey::AspectRatio) ||
               containsAny(taskTexts, {"%IW%", "%IH%", "%IR%"});
    case Requirement::ExifDate:
        // The image date as file date (source 2) needs the EXIF date as much as the shifted
        // dates of source 3, whose last-write time also comes from the image date.
        return s.useExifDate == 1 &&
               (anyActiveConditionOn(s, PropertySecond, PropertyYear) ||
                sortsBy(s, SortKey::ImageDate, SortKey::ImageDate) ||
                (s.setFileDates == 1 && (s.fileDateSource == FileDateSource::ImageDate ||
                                         s.fileDateSource == FileDateSource::Shifted)) ||
                containsAny(taskTexts, {"%DS%", "%DI%", "%DH%", "%DD%", "%DM%", "%DY%"}));
    case Requirement::ColourCount:
        return anyActiveConditionOn(s, PropertyColorCount, PropertyColorCount) ||
               sortsBy(s, SortKey::ColourCount, SortKey::ColourCount) ||
               containsAny(taskTexts, {"%IC%"});
    case Requirement::Brightness:
        return anyActiveConditionOn(s, PropertyBrightness, PropertyBrightness) ||
               sortsBy(s, SortKey::Brightness, SortKey::Brightness) ||
               containsAny(taskTexts, {"%IB%"});
    case Requirement::Filtering:
        return s.filterEnabled == 1;
    case Requirement::ExifOrientation:
        return s.rotateEnabled == 1 && s.useExifOrientation == 1;
    }
    return false;
}

} // namespace quill::settings
