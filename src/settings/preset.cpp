// The six default presets and the copy operations of the preset record.
#include "settings/preset.h"

#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <utility>

namespace quill::settings {

namespace {

// The field values that differ between the six defaults, one row per preset.
struct DefaultRow {
    std::uint8_t selectedPage;
    std::uint8_t includeVideos;
    std::uint8_t saturationEnabled;
    std::int16_t saturationLevel;
    std::uint8_t contrastEnabled;
    std::int16_t contrastLevel;
    std::uint8_t gammaEnabled;
    std::int16_t gammaLevel;
    std::uint8_t overlayEnabled;
    const char* overlayText;
    TextAlign overlayTextAlign;
    std::uint8_t overlayOpacity;
    std::uint8_t sortEnabled;
    SortKey sortKey;
    std::uint8_t commentEnabled;
    const char* commentText;
    std::uint8_t setFileDates;
    std::uint8_t convertFormat;
    std::uint8_t renameEnabled;
    const char* renamePattern;
    std::uint8_t noZeroPadding;
    const char* outputDirPattern;
    std::uint8_t moveOriginal;
};

constexpr const char* kDateText = "%DD%.%DM%.%DY%  %DH%:%DI%:%DS%";
constexpr const char* kSizeText = "%IW%x%IH% (%IR% MP)";
constexpr const char* kNumberedName = "(%001%) %FN%";
constexpr const char* kOutputDir = "%PD%/output/";

// clang-format off
constexpr DefaultRow kDefaultRows[6] = {
    {0, 1, 0, 100, 0, 100, 0, 100,
     0, "", TextAlign::Left, 100,
     0, SortKey::FileName, 0, "", 0, 1,
     0, kNumberedName, 0, kOutputDir, 0},
    {7, 0, 0, 100, 0, 100, 0, 100,
     1, kDateText, TextAlign::Right, 70,
     1, SortKey::ImageDate, 0, "", 1, 0,
     0, kNumberedName, 0, kOutputDir, 0},
    {5, 0, 1, 0, 1, 115, 1, 90,
     0, "", TextAlign::Left, 100,
     0, SortKey::FileName, 0, "", 0, 0,
     0, kNumberedName, 0, kOutputDir, 0},
    {12, 1, 0, 100, 0, 100, 0, 100,
     0, kDateText, TextAlign::Right, 100,
     1, SortKey::ImageDate, 0, "", 1, 0,
     1, "%DY%-%DM%-%DD%_%DH%-%DI%-%DS%", 0, kOutputDir, 0},
    {12, 0, 0, 100, 0, 100, 0, 100,
     0, "%IW%x%IH% (%IR% MP)\r\n\"%FN%\"", TextAlign::Right, 100,
     1, SortKey::PixelCount, 1, kSizeText, 0, 0,
     1, "(%001%) %IW%x%IH%", 1, kOutputDir, 0},
    {13, 1, 0, 100, 0, 100, 0, 100,
     0, "", TextAlign::Left, 100,
     0, SortKey::ImageDate, 0, "", 1, 0,
     0, kNumberedName, 0, "%PD%/output/%DY%/%DM%/", 1},
};
// clang-format on

} // namespace

Preset defaultPreset(int number, std::string name) {
    if (number < 0 || number > 5) number = 0;
    const DefaultRow& row = kDefaultRows[number];
    Preset p;
    p.index = static_cast<std::uint8_t>(number);
    p.name = std::move(name);
    p.selectedPage = row.selectedPage;
    p.listDisplayOption = 1;
    p.windowLayoutOption = 1;
    p.scanImageDetails = 1;
    p.listStyleOption = 0;
    p.includeSubdirectories = 1;
    p.includeHiddenFiles = 0;
    p.includeVideos = row.includeVideos;
    p.useExifDate = 1;
    p.useExifOrientation = 1;
    p.keepFilteredImages = 0;
    p.keepProcessedSources = 0;
    p.keepFailedSources = 1;
    p.loadOutputImages = 0;
    p.keepUnprocessedImages = 1;
    p.exitAfterRun = 0;
    p.filterEnabled = 0;
    p.cropEnabled = 0;
    p.cropMode = CropMode::Margins;
    p.trimLeft = p.trimRight = p.trimTop = p.trimBottom = 1;
    p.trimColorTolerance = 10;
    p.trimOutlierTolerance = 5;
    p.rotateEnabled = 0;
    p.rotateMode = 2;
    p.resizeEnabled = 0;
    p.resizeMode = ResizeMode::Pixels;
    p.resizeWidth = 1024;
    p.resizeHeight = 768;
    p.resizePercent = 50;
    p.resizeOption = 1;
    p.resizeLimits = ResizeLimits::Both;
    p.brightnessEnabled = 0;
    p.brightnessLevel = 100;
    p.saturationEnabled = row.saturationEnabled;
    p.saturationLevel = row.saturationLevel;
    p.contrastEnabled = row.contrastEnabled;
    p.contrastLevel = row.contrastLevel;
    p.gammaEnabled = row.gammaEnabled;
    p.gammaLevel = row.gammaLevel;
    p.channelAdjustEnabled = 0;
    p.channelAdjustRed = p.channelAdjustGreen = p.channelAdjustBlue = 100;
    p.canvasEnabled = 0;
    p.canvasWidth = 1024;
    p.canvasHeight = 768;
    p.canvasMode = CanvasMode::Colour;
    p.canvasColor = 0x808080;
    p.overlayEnabled = row.overlayEnabled;
    p.overlayKind = OverlayKind::Text;
    p.overlayText = row.overlayText;
    p.overlayFontName = "Arial";
    p.overlayFontStyle = 0;
    p.overlayFontSize = 28;
    p.overlayTextAlign = row.overlayTextAlign;
    p.overlayLineSpacing = 0;
    p.overlayTextColor = 0x000000;
    p.overlayImageScale = 100;
    p.overlayOutline = 0;
    p.overlayOutlineWidth = 2;
    p.overlayOutlineColor = 0xFFFFFF;
    p.overlayOpacity = row.overlayOpacity;
    p.overlayHorizontalAlign = OverlayAlign::End;
    p.overlayHorizontalMargin = 15;
    p.overlayVerticalAlign = OverlayAlign::End;
    p.overlayVerticalMargin = 15;
    p.sortEnabled = row.sortEnabled;
    p.sortKey = row.sortKey;
    p.sortAscending = 1;
    p.commentEnabled = row.commentEnabled;
    p.commentText = row.commentText;
    p.keepMetadata = 1;
    p.setFileDates = row.setFileDates;
    p.fileDateSource = FileDateSource::Own;
    p.fixedFileDate = 0;
    p.fileDateShiftMinutes = -60;
    p.resetFileAttributes = 0;
    p.convertFormat = row.convertFormat;
    p.outputFormat = OutputFormat::Jpeg;
    p.qualityEnabled = 0;
    p.quality = 8;
    p.colorDepthEnabled = 0;
    p.colorDepth = ColorDepth::Bits24;
    p.colorDepthOption = 1;
    p.renameEnabled = row.renameEnabled;
    p.renamePattern = row.renamePattern;
    p.perFolderNumbering = 1;
    p.noZeroPadding = row.noZeroPadding;
    p.outputDirEnabled = 1;
    p.outputDirPattern = row.outputDirPattern;
    p.mirrorSubfolders = 0;
    p.moveOriginal = row.moveOriginal;
    return p;
}

void buildDefaults(PresetList& list) {
    list.presets.clear();
    for (int number = 0; number < 6; ++number) {
        list.presets.push_back(
            defaultPreset(number, uiText(text::kFirstDefaultPresetName + number)));
    }
    list.currentIndex = 0;
}

PresetList defaultPresetList() {
    PresetList list;
    buildDefaults(list);
    return list;
}

void storeInto(Preset& target, const Preset& source) {
    const std::uint8_t index = target.index;
    std::string name = std::move(target.name);
    target = source;
    target.index = index;
    target.name = std::move(name);
}

} // namespace quill::settings
