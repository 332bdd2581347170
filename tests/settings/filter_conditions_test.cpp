// Filter conditions: comparisons on image records, exclusion order, value ranges, and which
// image details a run needs.
#include "settings/filter_conditions.h"

#include "imagefiles/image_record.h"

#include <gtest/gtest.h>

#include <tuple>

namespace quill::settings {
namespace {

FilterCondition condition(int property, int op, std::string value, bool active = true) {
    return FilterCondition{active ? (kConditionActive | 0x100) : 0x100u,
                           static_cast<std::uint8_t>(property), static_cast<std::uint8_t>(op),
                           std::move(value),
                           static_cast<std::uint8_t>(isTextProperty(property) ? 2 : 1)};
}

imagefiles::ImageRecord image(std::string path, std::string fileName, int width = 0,
                              int height = 0) {
    imagefiles::ImageRecord r;
    r.sourcePath = std::move(path);
    r.folder = r.sourcePath.substr(0, r.sourcePath.rfind('/') + 1);
    r.fileName = std::move(fileName);
    r.width = width;
    r.height = height;
    r.pixelCount = std::int64_t{width} * height;
    return r;
}

TEST(FilterEvaluation, NumericProperties) {
    auto small = image("/p/a.jpg", "a", 640, 480);
    EXPECT_TRUE(conditionHolds(condition(PropertyWidth, 2, "800"), small));
    EXPECT_FALSE(conditionHolds(condition(PropertyWidth, 2, "800"), image("/p/b", "b", 1024, 768)));
    EXPECT_TRUE(conditionHolds(condition(PropertyHeight, 3, "479"), small));
    EXPECT_FALSE(conditionHolds(condition(PropertyWidth, 5, "640"), small)); // no numeric meaning
    // Size is compared in KiB: "less than 1" means below 1024 bytes.
    small.fileSize = 1023;
    EXPECT_TRUE(conditionHolds(condition(PropertyFileSize, 2, "1"), small));
    small.fileSize = 1024;
    EXPECT_FALSE(conditionHolds(condition(PropertyFileSize, 2, "1"), small));
    // Calendar fields of the image date (2012-06-25 10:08:43) and brightness x 100.
    small.recordedDate = 1340618923;
    small.brightness = 0.84f;
    const std::pair<int, const char*> equal[] = {{PropertyYear, "2012"},    {PropertyMonth, "6"},
                                                 {PropertyDay, "25"},       {PropertyHour, "10"},
                                                 {PropertyMinute, "8"},     {PropertySecond, "43"},
                                                 {PropertyBrightness, "84"}};
    for (const auto& [property, value] : equal) {
        EXPECT_TRUE(conditionHolds(condition(property, 0, value), small)) << property;
    }
}

TEST(FilterEvaluation, TextPropertiesWithAlternativesAndCase) {
    const auto upper = image("/p/IMG0087.JPG", "IMG0087");
    const auto lower = image("/p/x.jpeg", "x");
    const auto other = image("/p/xIMG1234y.png", "xIMG1234y");
    EXPECT_TRUE(conditionHolds(condition(PropertyExtension, 0, "jpg|jpeg"), upper));
    EXPECT_FALSE(conditionHolds(condition(PropertyExtension, 4, "jpg|jpeg"), upper));
    EXPECT_TRUE(conditionHolds(condition(PropertyExtension, 4, "jpg|jpeg"), lower));
    EXPECT_TRUE(conditionHolds(condition(PropertyExtension, 1, "jpg||jpeg|"), other));
    EXPECT_TRUE(conditionHolds(condition(PropertyFileName, 2, "IMG####"), other));
    EXPECT_FALSE(conditionHolds(condition(PropertyFileName, 0, "IMG?"), upper));
    EXPECT_TRUE(conditionHolds(condition(PropertyFileName, 2, "IMG?"), upper));
    EXPECT_TRUE(conditionHolds(condition(PropertyFileName, 7, "img"), other));
    EXPECT_FALSE(conditionHolds(condition(PropertyFileName, 3, "img"), other));
    EXPECT_TRUE(conditionHolds(condition(PropertyFolder, 2, "/P"), upper));
    EXPECT_FALSE(conditionHolds(condition(PropertyFolder, 6, "/P"), upper));
}

TEST(FilterEvaluation, AnyHoldingActiveConditionExcludes) {
    Preset s;
    s.filterEnabled = 1;
    s.filterConditions = {condition(PropertyWidth, 2, "800", false),
                          condition(PropertyExtension, 0, "png"),
                          condition(PropertyHeight, 3, "700")};
    EXPECT_FALSE(isExcludedByFilter(s, image("/p/a.jpg", "a", 640, 480))); // holds, inactive
    EXPECT_TRUE(isExcludedByFilter(s, image("/p/b.jpg", "b", 640, 900)));
    EXPECT_TRUE(isExcludedByFilter(s, image("/p/c.png", "c", 640, 480)));
    s.filterEnabled = 0;
    EXPECT_FALSE(isExcludedByFilter(s, image("/p/c.png", "c", 640, 480)));
}

TEST(FilterValues, RangesOfUsableValues) {
    EXPECT_EQ(decimalValue(" +42x"), 42);
    EXPECT_EQ(decimalValue("99999999999999999999999"), INT64_MAX);
    const std::tuple<int, const char*, bool> cases[] = {
        {PropertyFolder, "", false},      {PropertyExtension, "|", true},
        {PropertyFileSize, "0", false},   {PropertyPixelCount, "999999999", true},
        {PropertyWidth, "65536", true},   {PropertyHeight, "65537", false},
        {PropertyColorCount, "1", false}, {PropertyHour, "24", false},
        {PropertyYear, "1969", false},    {PropertyYear, "2037", true},
    };
    for (const auto& [property, value, usable] : cases) {
        EXPECT_EQ(filterValueUsable(condition(property, 0, value)), usable) << value;
    }
}

TEST(FilterRequirements, CodesFollowSettingsAndTaskTexts) {
    Preset s;
    s.sortEnabled = 1;
    s.sortKey = settings::SortKey::AspectRatio;
    EXPECT_FALSE(requirementQuery(Requirement::Sorting, s, "", 1));
    EXPECT_TRUE(requirementQuery(Requirement::Sorting, s, "", 2));
    EXPECT_TRUE(requirementQuery(Requirement::Dimensions, s, "", 1));
    s.sortEnabled = 0;
    EXPECT_TRUE(requirementQuery(Requirement::Dimensions, s, "x%IR%", 1));
    s.filterConditions = {condition(PropertyPixelCount, 2, "5", false)};
    EXPECT_FALSE(requirementQuery(Requirement::Dimensions, s, "%FN%", 1));
    s.filterConditions[0].flags |= kConditionActive;
    EXPECT_TRUE(requirementQuery(Requirement::Dimensions, s, "", 1));

    // The EXIF date only when useExifDate is on, also for the image date as file date.
    Preset d;
    d.setFileDates = 1;
    d.fileDateSource = settings::FileDateSource::ImageDate;
    EXPECT_FALSE(requirementQuery(Requirement::ExifDate, d, "%DY%", 1));
    d.useExifDate = 1;
    EXPECT_TRUE(requirementQuery(Requirement::ExifDate, d, "", 1));
    d.fileDateSource = settings::FileDateSource::Fixed;
    EXPECT_FALSE(requirementQuery(Requirement::ExifDate, d, "%FN%", 1));

    Preset c;
    c.filterConditions = {condition(PropertyBrightness, 0, "5")};
    EXPECT_TRUE(requirementQuery(Requirement::Brightness, c, "", 1));
    EXPECT_FALSE(requirementQuery(Requirement::ColourCount, c, "%IB%", 1));
}

} // namespace
} // namespace quill::settings
