// The default presets, the copy semantics of the record and its range check.
#include "settings/preset.h"

#include "settings/language_pack.h"
#include "settings/preset_range.h"

#include <gtest/gtest.h>

#include <functional>

namespace quill::settings {
namespace {

TEST(DefaultPresets, SixDistinctNamedPresetsAsTabled) {
    ASSERT_TRUE(loadUiTexts(kEnglishLanguage));
    const PresetList list = defaultPresetList();
    const auto& p = list.presets;
    ASSERT_EQ(p.size(), 6u);
    EXPECT_EQ(list.currentIndex, 0u);
    const int pages[6] = {0, 7, 5, 12, 12, 13};
    const int videos[6] = {1, 0, 0, 1, 0, 1};
    const int sortKeys[6] = {1, 3, 1, 3, 6, 3};
    const int fileDates[6] = {0, 1, 0, 1, 0, 1};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(p[i].index, i);
        EXPECT_EQ(p[i].name, uiText(295 + i));
        EXPECT_TRUE(presetInRange(p[i])) << "default " << i;
        EXPECT_EQ(p[i].selectedPage, pages[i]);
        EXPECT_EQ(p[i].includeVideos, videos[i]);
        EXPECT_EQ(int(p[i].sortKey), sortKeys[i]);
        EXPECT_EQ(p[i].setFileDates, fileDates[i]);
        EXPECT_EQ(p[i].convertFormat, i == 0 ? 1 : 0);
        EXPECT_EQ(p[i].moveOriginal, i == 5 ? 1 : 0);
        EXPECT_EQ(p[i].fileDateShiftMinutes, -60);
    }
    EXPECT_EQ(p[2].saturationLevel, 0);
    EXPECT_EQ(p[2].contrastLevel, 115);
    EXPECT_EQ(p[2].gammaLevel, 90);
    EXPECT_EQ(p[1].overlayOpacity, 70);
    EXPECT_EQ(p[3].renamePattern, "%DY%-%DM%-%DD%_%DH%-%DI%-%DS%");
    EXPECT_EQ(p[4].overlayText, "%IW%x%IH% (%IR% MP)\r\n\"%FN%\"");
    EXPECT_EQ(p[4].commentText, "%IW%x%IH% (%IR% MP)");
    EXPECT_EQ(p[4].noZeroPadding, 1);
    EXPECT_EQ(p[0].renamePattern, "(%001%) %FN%");
    EXPECT_EQ(p[0].outputDirPattern, "%PD%/output/");
    EXPECT_EQ(p[5].outputDirPattern, "%PD%/output/%DY%/%DM%/");
}

TEST(PresetRecord, StoreKeepsIndexAndName) {
    Preset copy = defaultPreset(0, "zero");
    copy.filterConditions.push_back({2, 4, 2, "800", 1});
    copy.overlayText = "changed";
    Preset entry = defaultPreset(3, "mine");
    storeInto(entry, copy);
    EXPECT_EQ(entry.index, 3);
    EXPECT_EQ(entry.name, "mine");
    EXPECT_EQ(entry.filterConditions, copy.filterConditions);
    EXPECT_EQ(entry.overlayText, "changed");
}

// Each row breaks one field just outside its range; the unbroken default passes.
TEST(PresetRange, EveryBoundIsChecked) {
    const std::vector<std::pair<const char*, std::function<void(Preset&)>>> breaks = {
        {"selectedPage 14", [](Preset& p) { p.selectedPage = 14; }},
        {"flag 2", [](Preset& p) { p.includeVideos = 2; }},
        {"cropMode 2", [](Preset& p) { p.cropMode = settings::CropMode(2); }},
        {"overlayKind 2", [](Preset& p) { p.overlayKind = settings::OverlayKind(2); }},
        {"condition property 15",
         [](Preset& p) {
             p.filterConditions = {{0, 15, 0, "x", 2}};
         }},
        {"condition operator 8",
         [](Preset& p) {
             p.filterConditions = {{0, 1, 8, "x", 2}};
         }},
        {"condition kind 0",
         [](Preset& p) {
             p.filterConditions = {{0, 1, 0, "x", 0}};
         }},
        {"cropLeft -1", [](Preset& p) { p.cropLeft = -1; }},
        {"cropBottom 10000", [](Preset& p) { p.cropBottom = 10000; }},
        {"trimColorTolerance 51", [](Preset& p) { p.trimColorTolerance = 51; }},
        {"trimOutlierTolerance 51", [](Preset& p) { p.trimOutlierTolerance = 51; }},
        {"rotateMode 7", [](Preset& p) { p.rotateMode = 7; }},
        {"resizeWidth 10000", [](Preset& p) { p.resizeWidth = 10000; }},
        {"resizePercent 1000", [](Preset& p) { p.resizePercent = 1000; }},
        {"resizeLimits 4", [](Preset& p) { p.resizeLimits = settings::ResizeLimits(4); }},
        {"brightnessLevel 201", [](Preset& p) { p.brightnessLevel = 201; }},
        {"saturationLevel 301", [](Preset& p) { p.saturationLevel = 301; }},
        {"gammaLevel 0", [](Preset& p) { p.gammaLevel = 0; }},
        {"gammaLevel 400", [](Preset& p) { p.gammaLevel = 400; }},
        {"channelAdjustBlue 201", [](Preset& p) { p.channelAdjustBlue = 201; }},
        {"canvasWidth 10000", [](Preset& p) { p.canvasWidth = 10000; }},
        {"canvasMode 3", [](Preset& p) { p.canvasMode = settings::CanvasMode(3); }},
        {"canvasColor", [](Preset& p) { p.canvasColor = 0x1000000; }},
        {"empty font", [](Preset& p) { p.overlayFontName.clear(); }},
        {"font size 0", [](Preset& p) { p.overlayFontSize = 0; }},
        {"overlayTextAlign 3", [](Preset& p) { p.overlayTextAlign = settings::TextAlign(3); }},
        {"line spacing -101", [](Preset& p) { p.overlayLineSpacing = -101; }},
        {"image scale 9", [](Preset& p) { p.overlayImageScale = 9; }},
        {"outline width 0", [](Preset& p) { p.overlayOutlineWidth = 0; }},
        {"opacity 101", [](Preset& p) { p.overlayOpacity = 101; }},
        {"horizontal align 3",
         [](Preset& p) { p.overlayHorizontalAlign = settings::OverlayAlign(3); }},
        {"vertical margin 0", [](Preset& p) { p.overlayVerticalMargin = 0; }},
        {"sortKey 10", [](Preset& p) { p.sortKey = settings::SortKey(10); }},
        {"fileDateSource 4", [](Preset& p) { p.fileDateSource = settings::FileDateSource(4); }},
        {"shift -10000", [](Preset& p) { p.fileDateShiftMinutes = -10000; }},
        {"outputFormat 5", [](Preset& p) { p.outputFormat = settings::OutputFormat(5); }},
        {"quality 0", [](Preset& p) { p.quality = 0; }},
        {"colorDepth 5", [](Preset& p) { p.colorDepth = settings::ColorDepth(5); }},
    };
    for (const auto& [what, breakIt] : breaks) {
        Preset p = defaultPreset(0, "x");
        breakIt(p);
        EXPECT_FALSE(presetInRange(p)) << what;
    }

    // The limits themselves are accepted; an unsigned font size of 200 is fine.
    Preset edge = defaultPreset(0, "x");
    edge.selectedPage = 13;
    edge.overlayFontSize = 200;
    edge.overlayLineSpacing = -100;
    edge.gammaLevel = 399;
    edge.fileDateShiftMinutes = 9999;
    edge.canvasColor = 0xFFFFFF;
    edge.filterConditions.push_back({0xFFFFFFFF, 14, 7, "", 2});
    EXPECT_TRUE(presetInRange(edge));
}

TEST(PresetRange, TextsLongerThanTheLimitAreRefused) {
    const std::vector<std::pair<const char*, std::function<std::string&(Preset&)>>> texts = {
        {"name", [](Preset& p) -> std::string& { return p.name; }},
        {"overlayText", [](Preset& p) -> std::string& { return p.overlayText; }},
        {"overlayImagePath", [](Preset& p) -> std::string& { return p.overlayImagePath; }},
        {"overlayFontName", [](Preset& p) -> std::string& { return p.overlayFontName; }},
        {"commentText", [](Preset& p) -> std::string& { return p.commentText; }},
        {"renamePattern", [](Preset& p) -> std::string& { return p.renamePattern; }},
        {"outputDirPattern", [](Preset& p) -> std::string& { return p.outputDirPattern; }},
        {"condition value",
         [](Preset& p) -> std::string& {
             if (p.filterConditions.empty()) p.filterConditions = {{0, 1, 0, "", 2}};
             return p.filterConditions[0].value;
         }},
    };
    for (const auto& [what, field] : texts) {
        Preset p = defaultPreset(0, "x");
        field(p).assign(kMaxPresetTextBytes, 'a');
        EXPECT_TRUE(presetInRange(p)) << what;
        field(p).push_back('a');
        EXPECT_FALSE(presetInRange(p)) << what;
    }
}

} // namespace
} // namespace quill::settings
