// Filter conditions: which images a run leaves out, and which image details a run needs.
#pragma once

#include "settings/preset.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quill::imagefiles {
struct ImageRecord;
}

namespace quill::settings {

/// Image properties a condition can test (FilterCondition::property).
enum FilterProperty : std::uint8_t {
    PropertyFolder = 0,
    PropertyFileName = 1,
    PropertyExtension = 2,
    PropertyFileSize = 3, ///< KiB
    PropertyWidth = 4,
    PropertyHeight = 5,
    PropertyPixelCount = 6,
    PropertyColorCount = 7,
    PropertyBrightness = 8, ///< brightness x 100, rounded
    PropertySecond = 9,
    PropertyMinute = 10,
    PropertyHour = 11,
    PropertyDay = 12,
    PropertyMonth = 13,
    PropertyYear = 14,
};
inline constexpr int kFilterPropertyCount = 15;

/// True for the text properties (folder, file name, extension).
[[nodiscard]] constexpr bool isTextProperty(int property) {
    return property >= 0 && property <= 2;
}

/// The decimal value of a condition value: leading blanks, an optional sign, then digits up to
/// the first other character ("" and "abc" give 0). Saturates instead of overflowing.
[[nodiscard]] std::int64_t decimalValue(std::string_view text);

/// Numeric comparison: 0 equal, 1 not equal, 2 less than, 3 greater than; 4..7 never hold.
[[nodiscard]] bool numericComparisonHolds(int op, std::int64_t imageValue, std::int64_t number);
/// Text comparison of an image text with a pattern of "|"-separated wildcard alternatives
/// (empty ones ignored). 0/4 one alternative matches the whole text, 1/5 none does, 2/6 one
/// matches inside the text, 3/7 none does; 0..3 ignore letter case, 4..7 respect it.
[[nodiscard]] bool textComparisonHolds(int op, std::string_view imageText,
                                       std::string_view pattern);

/// The numeric value of property 3..14 for an image (0 for other properties).
[[nodiscard]] std::int64_t numericPropertyValue(int property,
                                                const imagefiles::ImageRecord& record);
/// The text of property 0..2 for an image ("" for other properties).
[[nodiscard]] std::string textPropertyValue(int property, const imagefiles::ImageRecord& record);

/// True when an active condition is flagged (bit value 2 of flags).
[[nodiscard]] constexpr bool isActive(const FilterCondition& condition) {
    return (condition.flags & kConditionActive) != 0;
}
/// Whether the condition holds for the image (its activity is not looked at). The property
/// decides between the numeric and the text comparison.
[[nodiscard]] bool conditionHolds(const FilterCondition& condition,
                                  const imagefiles::ImageRecord& record);
/// Whether the filter excludes the image: filterEnabled and some active condition holds
/// (conditions tested in list order, the first holding one decides).
[[nodiscard]] bool isExcludedByFilter(const Preset& settings,
                                      const imagefiles::ImageRecord& record);

/// Whether a condition's value is usable for its property: not empty for text properties, the
/// property's range for numeric ones (size 1..999999999 KiB, width and height 1..65536, ...).
[[nodiscard]] bool filterValueUsable(const FilterCondition& condition);

/// What a run may need before the processing loop: image details the preparation phase reads,
/// and the list steps it runs.
enum class Requirement : std::uint8_t {
    Sorting = 1,         ///< sorting (with more than one image)
    Dimensions = 2,      ///< width and height
    ExifDate = 3,        ///< the EXIF date as image date
    ColourCount = 4,     ///< the number of distinct colours
    Brightness = 5,      ///< the average brightness
    Filtering = 6,       ///< the filter conditions
    ExifOrientation = 7, ///< the EXIF orientation
};
/// Every requirement, in code order.
inline constexpr std::array<Requirement, 7> kRequirements{
    Requirement::Sorting,        Requirement::Dimensions, Requirement::ExifDate,
    Requirement::ColourCount,    Requirement::Brightness, Requirement::Filtering,
    Requirement::ExifOrientation};

/// Whether the settings need `requirement`. `taskTexts` are the prepared overlay text, comment,
/// rename pattern and output directory of the run, joined.
[[nodiscard]] bool requirementQuery(Requirement requirement, const Preset& settings,
                                    std::string_view taskTexts, std::size_t imageCount);

} // namespace quill::settings
