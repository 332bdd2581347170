// The six default presets and the copy operations of the preset record.
#include "settings/preset.h"

#include "settings/language_pack.h"
#include "settings/preset_fields.h"
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
    // The table gives the defaults every preset shares; the row what sets this one apart.
    Preset p;
    setTableDefaults(p);
    p.index = static_cast<std::uint8_t>(number);
    p.name = std::move(name);
    p.selectedPage = row.selectedPage;
    p.includeVideos = row.includeVideos;
    p.saturationEnabled = row.saturationEnabled;
    p.saturationLevel = row.saturationLevel;
    p.contrastEnabled = row.contrastEnabled;
    p.contrastLevel = row.contrastLevel;
    p.gammaEnabled = row.gammaEnabled;
    p.gammaLevel = row.gammaLevel;
    p.overlayEnabled = row.overlayEnabled;
    p.overlayText = row.overlayText;
    p.overlayTextAlign = row.overlayTextAlign;
    p.overlayOpacity = row.overlayOpacity;
    p.sortEnabled = row.sortEnabled;
    p.sortKey = row.sortKey;
    p.commentEnabled = row.commentEnabled;
    p.commentText = row.commentText;
    p.setFileDates = row.setFileDates;
    p.convertFormat = row.convertFormat;
    p.renameEnabled = row.renameEnabled;
    p.renamePattern = row.renamePattern;
    p.noZeroPadding = row.noZeroPadding;
    p.outputDirPattern = row.outputDirPattern;
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
