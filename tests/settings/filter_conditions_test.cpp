// Filter conditions: comparisons on image records, exclusion order, value ranges, which image
// details a run needs, and the wildcard matching of their patterns (characters, letter case, the
// cost of many stars, and a randomised comparison with a plain recursive matcher).
#include "settings/filter_conditions.h"

#include "imagefiles/image_record.h"
#include "settings/wildcard.h"

#include <gtest/gtest.h>

#include <random>
#include <span>
#include <tuple>

namespace quill::settings {
namespace {

FilterCondition condition(int property, int op, std::string value, bool active = true) {
    return FilterCondition{active ? (kConditionActive | 0x100) : 0x100u,
                           static_cast<std::uint8_t>(property), static_cast<std::uint8_t>(op),
                           std::move(value),
                           static_cast<std::uint8_t>(isTextProperty(property) ? 2 : 1)};
}

// /p/IMG0087.JPG: 640 x 480, 1023 bytes, taken 2012-06-25 10:08:43, brightness 0.84.
imagefiles::ImageRecord image(int height = 480, std::string extension = "JPG") {
    imagefiles::ImageRecord r;
    r.sourcePath = "/p/IMG0087." + extension;
    r.folder = "/p/";
    r.fileName = "IMG0087";
    r.width = 640;
    r.height = height;
    r.pixelCount = std::int64_t{640} * height;
    r.fileSize = 1023;
    r.recordedDate = 1340618923;
    r.brightness = 0.84f;
    return r;
}

// Operators: numbers 0 =, 1 !=, 2 <, 3 >; texts 0..3 ignore letter case, 4..7 respect it, each
// as whole match, not whole, inside, not inside.
TEST(FilterEvaluation, ConditionsOnTheImageRecord) {
    using Case = std::tuple<int, int, const char*, bool>; // property, operator, value, holds
    // Size counts whole KiB (1023 bytes are 0); operator 5 has no numeric meaning; empty
    // alternatives of a text match nothing.
    const Case numbers[] = {{PropertyWidth, 2, "641", true},  {PropertyWidth, 2, "640", false},
                            {PropertyHeight, 3, "479", true}, {PropertyWidth, 5, "640", false},
                            {PropertyFileSize, 0, "0", true}, {PropertyYear, 0, "2012", true},
                            {PropertyMonth, 0, "6", true},    {PropertyDay, 0, "25", true},
                            {PropertyHour, 0, "10", true},    {PropertyMinute, 0, "8", true},
                            {PropertySecond, 0, "43", true},  {PropertyBrightness, 0, "84", true}};
    const Case texts[] = {
        {PropertyFileName, 2, "MG####", true},     {PropertyFileName, 0, "IMG?", false},
        {PropertyFileName, 2, "IMG?", true},       {PropertyFileName, 7, "img", true},
        {PropertyFileName, 3, "img", false},       {PropertyFolder, 2, "/P", true},
        {PropertyFolder, 6, "/P", false},          {PropertyExtension, 0, "jpg|jpeg", true},
        {PropertyExtension, 4, "jpg|jpeg", false}, {PropertyExtension, 1, "png||jpeg|", true}};
    for (const std::span<const Case> cases :
         {std::span<const Case>(numbers), std::span<const Case>(texts)}) {
        for (const auto& [property, op, value, holds] : cases) {
            EXPECT_EQ(conditionHolds(condition(property, op, value), image()), holds)
                << property << " op " << op << " " << value;
        }
    }
}

TEST(FilterEvaluation, AnyHoldingActiveConditionExcludes) {
    Preset s;
    s.filterEnabled = 1;
    s.filterConditions = {condition(PropertyWidth, 2, "800", false),
                          condition(PropertyExtension, 0, "png"),
                          condition(PropertyHeight, 3, "700")};
    EXPECT_FALSE(isExcludedByFilter(s, image())); // holds, inactive
    EXPECT_TRUE(isExcludedByFilter(s, image(900)));
    EXPECT_TRUE(isExcludedByFilter(s, image(480, "png")));
    s.filterEnabled = 0;
    EXPECT_FALSE(isExcludedByFilter(s, image(480, "png")));
}

TEST(FilterValues, RangesOfUsableValues) {
    EXPECT_EQ(decimalValue(" +42x"), 42);
    EXPECT_EQ(decimalValue("99999999999999999999999"), INT64_MAX);
    const std::tuple<int, const char*, bool> cases[] = {
        {PropertyFolder, "", false},      {PropertyExtension, "|", true},
        {PropertyFileSize, "0", false},   {PropertyWidth, "65536", true},
        {PropertyHeight, "65537", false}, {PropertyYear, "1969", false}};
    for (const auto& [property, value, usable] : cases) {
        EXPECT_EQ(filterValueUsable(condition(property, 0, value)), usable) << value;
    }
}

// A detail is read when a sort key, an active condition or a token in the task texts needs it.
TEST(FilterRequirements, CodesFollowSettingsAndTaskTexts) {
    Preset s;
    s.sortEnabled = 1;
    s.sortKey = SortKey::AspectRatio;
    EXPECT_TRUE(requirementQuery(Requirement::Dimensions, s, "", 1));
    s.sortEnabled = 0;
    EXPECT_TRUE(requirementQuery(Requirement::Dimensions, s, "x%IR%", 1));
    s.filterConditions = {condition(PropertyPixelCount, 2, "5", false)};
    EXPECT_FALSE(requirementQuery(Requirement::Dimensions, s, "%FN%", 1));
    s.filterConditions[0].flags |= kConditionActive;
    EXPECT_TRUE(requirementQuery(Requirement::Dimensions, s, "", 1));
    EXPECT_FALSE(requirementQuery(Requirement::Brightness, s, "", 1));
    EXPECT_TRUE(requirementQuery(Requirement::Brightness, s, "%IB%", 1));
    // The EXIF date only when useExifDate is on, also for the image date as file date.
    s.setFileDates = 1;
    s.fileDateSource = FileDateSource::ImageDate;
    EXPECT_FALSE(requirementQuery(Requirement::ExifDate, s, "%DY%", 1));
    s.useExifDate = 1;
    EXPECT_TRUE(requirementQuery(Requirement::ExifDate, s, "", 1));
}

TEST(Wildcard, CharactersAndLetterCase) {
    // The random comparison below covers "*", "?" and "#" on ASCII text.
    EXPECT_FALSE(wildcardMatchesWhole("jpg", "JPG", LetterCase::Respect));
    EXPECT_TRUE(wildcardMatchesWhole("jpg", "JPG", LetterCase::Ignore));
    // "?" takes one character, not one byte; letter case covers more than ASCII.
    EXPECT_TRUE(wildcardMatchesWhole("caf?", "caf\xC3\xA9"));
    EXPECT_FALSE(wildcardMatchesWhole("caf??", "caf\xC3\xA9"));
    EXPECT_TRUE(wildcardMatchesWhole("\xD0\xBC\xD0\xB8\xD1\x80", "\xD0\x9C\xD0\x98\xD0\xA0",
                                     LetterCase::Ignore));
    // Bytes that are not UTF-8 are single characters that keep their value.
    EXPECT_TRUE(wildcardMatchesWhole("a?b", "a\xFF"
                                            "b"));
    EXPECT_EQ(toLowerText("ABC\xC3\x84\xFF"), "abc\xC3\xA4\xFF");
}

TEST(Wildcard, ManyStarsAgainstLongTextFinishQuickly) {
    // A backtracking matcher needs exponential time here; this one needs pattern x text steps.
    std::string pattern;
    for (int i = 0; i < 40; ++i)
        pattern += "*a";
    pattern += "*b";
    const std::string text(20000, 'a');
    EXPECT_FALSE(wildcardMatchesWhole(pattern, text));
    EXPECT_FALSE(wildcardMatchesInside(pattern, text));
    EXPECT_TRUE(wildcardMatchesWhole(pattern, text + "b"));
}

// Plain recursive reference: exponential, but fine on the short strings below.
bool referenceMatch(const std::string& p, std::size_t pi, const std::string& t, std::size_t ti) {
    if (pi == p.size()) return ti == t.size();
    if (p[pi] == '*') {
        for (std::size_t k = ti; k <= t.size(); ++k) {
            if (referenceMatch(p, pi + 1, t, k)) return true;
        }
        return false;
    }
    if (ti == t.size()) return false;
    const bool digit = t[ti] >= '0' && t[ti] <= '9';
    const bool one = p[pi] == '?' || (p[pi] == '#' ? digit : p[pi] == t[ti]);
    return one && referenceMatch(p, pi + 1, t, ti + 1);
}

TEST(Wildcard, AgreesWithReferenceOnRandomPatterns) {
    std::mt19937 random(20121025);
    const auto randomText = [&](const std::string& alphabet, int maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s)
            c = alphabet[random() % alphabet.size()];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string p = randomText("ab1*?#", 7);
        const std::string t = randomText("ab12#", 9);
        std::string literal = p;
        std::erase(literal, '*');
        SCOPED_TRACE(p + " / " + t);
        ASSERT_EQ(wildcardMatchesWhole(p, t), referenceMatch(p, 0, t, 0) || literal == t);
        ASSERT_EQ(wildcardMatchesInside(p, t),
                  referenceMatch("*" + p + "*", 0, t, 0) || t.find(literal) != std::string::npos);
    }
}

} // namespace
} // namespace quill::settings
