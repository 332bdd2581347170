// The placeholder engine: token formatting, normalisation and expansion, the numbering token and
// numbering on a real directory, path tokens, and names that token values cannot move.
#include "settings/placeholders.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <limits>

#include <sys/stat.h>

#include <tuple>

namespace quill::settings {
namespace {

std::string expandAll(const PlaceholderValues& values, bool noZeroPadding) {
    std::string all;
    for (const ImageToken& token : kImageTokens)
        all += std::string(token.text) + "|";
    return expandImageTokens(all, values, noZeroPadding);
}

// The sample image dates from 2012-06-25 10:08:43.
TEST(PlaceholderTokens, FormattingOfEveryToken) {
    const PlaceholderValues sample = samplePlaceholderValues();
    EXPECT_EQ(expandAll(sample, false),
              "IMG0087|1394|1|2592|1944|05|50142|083|43|08|10|25|06|2012|");
    EXPECT_EQ(expandAll(sample, true), "IMG0087|1394|1|2592|1944|5|50142|83|43|8|10|25|6|2012|");

    PlaceholderValues v;
    v.width = 640;
    v.pixelCount = 640 * 480;
    v.fileSize = 5LL * 1024 * 1024 * 1024 + 1023; // above 4 GiB
    v.brightness = 0.125f;                        // exactly 12.5: halves go to even
    v.date = 4076352000;                          // 2099-03-05, past 2038
    EXPECT_EQ(expandAll(v, false), "|5242880|5120|0640|0000|00|0|012|00|00|00|05|03|2099|");
    EXPECT_EQ(expandAll(v, true), "|5242880|5120|640|0|0|0|12|0|0|0|5|3|2099|");
    v.brightness = 0.375;
    EXPECT_EQ(imageTokenValue(7, v, false), "038");
    const CalendarFields last = calendarFields(-1); // the second before 1970
    EXPECT_EQ(std::tuple(last.year, last.month, last.day, last.second),
              std::tuple(1969, 12, 31, 59));
    // Times a file system may report far outside the calendar: its ends, without overflow.
    for (const auto& [seconds, year, month, day] :
         {std::tuple(std::numeric_limits<std::int64_t>::min(), 1, 1, 1),
          std::tuple(std::numeric_limits<std::int64_t>::max(), 9999, 12, 31)}) {
        const CalendarFields end = calendarFields(seconds);
        EXPECT_EQ(std::tuple(end.year, end.month, end.day), std::tuple(year, month, day));
    }
}

TEST(PlaceholderText, NormaliseAndExpand) {
    EXPECT_EQ(normaliseTokens("%fn% %Dy% %pd% (%001%) %abc% 100% %%ib%%"),
              "%FN% %DY% %pd% (%001%) %abc% 100% %%IB%%");
    EXPECT_EQ(prepareOverlayText("%iw%\r\n\"%fn%\"\r"), "%IW%\n\"%FN%\"\r");
    PlaceholderValues v = samplePlaceholderValues();
    EXPECT_EQ(expandImageTokens("%IW%x%IH% %xyz% %iw%", v, false), "2592x1944 %xyz% %iw%");
    // The file name is replaced first, so a token text inside it is expanded by the same pass.
    v.fileName = "shot %DY%";
    EXPECT_EQ(expandImageTokens("%FN%", v, false), "shot 2012");
    // Overlay and comment texts keep every character of a value.
    v.fileName = "a/b";
    EXPECT_EQ(expandImageTokens("[%FN%]", v, false), "[a/b]");
}

TEST(PlaceholderText, ValuesCannotMoveOutputsOutOfTheirDirectory) {
    PlaceholderValues v = samplePlaceholderValues();
    const std::tuple<const char*, const char*, const char*> dirCases[] = {
        // name, pattern, result
        {"..", "/out/%FN%/", "/out/__/"},
        {".", "/out/%FN%%FN%/", "/out/__/"},
        {"../../etc", "/out/%FN%/", "/out/.._.._etc/"},
        {"a/b", "/out/%FN%/%DY%/", "/out/a_b/2012/"},
        {"x", "/out/../%FN%/./", "/out/../x/./"}, // written by the user: kept
        {"..", "/out/x%FN%/", "/out/x../"},
    };
    for (const auto& [fileName, pattern, expected] : dirCases) {
        v.fileName = fileName;
        EXPECT_EQ(expandDirectoryPattern(pattern, v, false), expected) << fileName;
    }
    v.fileName = "..";
    EXPECT_EQ(expandNamePattern("%FN%", v, false), "__");
    v.fileName = "a/b";
    EXPECT_EQ(expandNamePattern("%NUMBERING% %FN%", v, false), "%NUMBERING% a_b");
}

TEST(PlaceholderNumbering, SkipsExistingNamesAndStopsWhereNoneIsFree) {
    test::TempDir dir;
    test::writeText(dir.file("(001) x.jpg"), "x");
    ASSERT_EQ(::mkdir(dir.file("(002) x.jpg").c_str(), 0755), 0);
    test::writeText(dir.file("(003) x.png"), "x"); // another extension does not block 3
    std::string name = "(%NUMBERING%) x";
    EXPECT_EQ(placeNumber(name, dir.path(), ".jpg", 1, 3), 3);
    EXPECT_EQ(name, "(003) x");
    // Padded to the width but never cut; only the first marker is numbered.
    name = "%NUMBERING%-%NUMBERING%";
    EXPECT_EQ(placeNumber(name, dir.path(), ".jpg", 10, 1), 10);
    EXPECT_EQ(name, "10-%NUMBERING%");
    // A directory that does not exist yet holds no names.
    name = "%NUMBERING%";
    EXPECT_EQ(placeNumber(name, dir.file("missing/"), ".jpg", 7, 3), 7);

    name = "plain";
    EXPECT_EQ(placeNumber(name, dir.path(), ".jpg", 1, 3), -1);
    name = "%NUMBERING%"; // a counter at the top of the range cannot run past it
    EXPECT_EQ(placeNumber(name, dir.path(), ".jpg", INT64_MAX - 2, 3), -1);
}

TEST(PlaceholderPaths, PathTokensAtTheStartOnly) {
    ShellFolders folders{"/home/u/Desktop/", "/home/u/Documents", "/opt/quill/"};
    const std::pair<const char*, const char*> cases[] = {
        {"%PD%\\output\\", "/home/u/Desktop/output/"},
        {"%pd%output", "/home/u/Desktop/output/"},
        {"%Pp%/x", "/home/u/Documents/x/"},
        {"%PF%\\resized", "resized/"},
        {"%PF%\\", ""},
        {"%PF%\\\\", "/"},
        {"/data/%PC%/", "/data/%PC%/"}};
    for (const auto& [pattern, expected] : cases) {
        EXPECT_EQ(pathExpand(pattern, folders), expected) << pattern;
    }
    // An unavailable folder yields nothing in its place.
    EXPECT_EQ(pathExpand("%PD%/output/", ShellFolders{}), "output/");
}

} // namespace
} // namespace quill::settings
