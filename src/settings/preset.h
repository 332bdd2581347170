// The preset record: every setting of a batch run, the filter condition, and the preset list.
#pragma once

#include "settings/preset_codes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quill::settings {

/// One condition of a preset's filter list. Bit value 2 of `flags` marks the condition active;
/// every other bit is carried along unchanged.
struct FilterCondition {
    std::uint32_t flags = 0;
    std::uint8_t property = 0;  ///< which image property is tested, 0..14
    std::uint8_t operator_ = 0; ///< which comparison, 0..7 (`operator` is a C++ keyword)
    std::string value;          ///< the value compared against (UTF-8)
    std::uint8_t valueKind = 1; ///< 1 numeric comparison, 2 text comparison

    bool operator==(const FilterCondition&) const = default;
};

/// Bit of FilterCondition::flags that marks a condition active.
inline constexpr std::uint32_t kConditionActive = 2;

/// All settings of a batch run, in the order they are stored in the "Presets" file. Flags are
/// 0 or 1. Colours are 0x00BBGGRR. Strings are UTF-8 and never hold a null character. The record
/// is a plain value: copying it copies its strings and its condition list. Each stored field is
/// described once, with its default and range, in presetFields() (settings/preset_fields.h).
struct Preset {
    std::uint8_t index = 0; ///< position of the entry in the preset list
    std::string name;
    std::uint8_t selectedPage = 0; ///< settings page shown last, 0..13
    std::uint8_t listDisplayOption = 0;
    std::uint8_t windowLayoutOption = 0;
    std::uint8_t scanImageDetails = 0;
    std::uint8_t listStyleOption = 0;
    std::uint8_t includeSubdirectories = 0;
    std::uint8_t includeHiddenFiles = 0;
    std::uint8_t includeVideos = 0;
    std::uint8_t useExifDate = 0;
    std::uint8_t useExifOrientation = 0;
    std::uint8_t keepFilteredImages = 0;
    std::uint8_t keepProcessedSources = 0;
    std::uint8_t keepFailedSources = 0;
    std::uint8_t loadOutputImages = 0;
    std::uint8_t keepUnprocessedImages = 0;
    std::uint8_t exitAfterRun = 0;
    std::uint8_t filterEnabled = 0;
    std::vector<FilterCondition> filterConditions;
    std::uint8_t cropEnabled = 0;
    CropMode cropMode = CropMode::Margins;
    std::int16_t cropLeft = 0;
    std::int16_t cropRight = 0;
    std::int16_t cropTop = 0;
    std::int16_t cropBottom = 0;
    std::uint8_t trimLeft = 0;
    std::uint8_t trimRight = 0;
    std::uint8_t trimTop = 0;
    std::uint8_t trimBottom = 0;
    std::uint8_t trimColorTolerance = 0;   ///< percent of 255, 0..50
    std::uint8_t trimOutlierTolerance = 0; ///< percent of the line length, 0..50
    std::uint8_t rotateEnabled = 0;
    std::uint8_t rotateMode = 0; ///< 0..6, 7 upright by the EXIF orientation
    std::uint8_t resizeEnabled = 0;
    ResizeMode resizeMode = ResizeMode::Pixels;
    std::int16_t resizeWidth = 0;
    std::int16_t resizeHeight = 0;
    std::int16_t resizePercent = 0;
    std::uint8_t resizeOption = 0; ///< 1 keeps the aspect ratio
    ResizeLimits resizeLimits = ResizeLimits::None;
    std::uint8_t brightnessEnabled = 0;
    std::int16_t brightnessLevel = 0; ///< neutral 100
    std::uint8_t saturationEnabled = 0;
    std::int16_t saturationLevel = 0; ///< neutral 100
    std::uint8_t contrastEnabled = 0;
    std::int16_t contrastLevel = 0; ///< neutral 100
    std::uint8_t gammaEnabled = 0;
    std::int16_t gammaLevel = 0; ///< neutral 100
    std::uint8_t channelAdjustEnabled = 0;
    std::int16_t channelAdjustRed = 0; ///< neutral 100
    std::int16_t channelAdjustGreen = 0;
    std::int16_t channelAdjustBlue = 0;
    std::uint8_t canvasEnabled = 0;
    std::int16_t canvasWidth = 0;
    std::int16_t canvasHeight = 0;
    CanvasMode canvasMode = CanvasMode::Colour;
    std::uint32_t canvasColor = 0;
    std::uint8_t overlayEnabled = 0;
    OverlayKind overlayKind = OverlayKind::Text;
    std::string overlayText; ///< may hold line breaks (CR LF)
    std::string overlayImagePath;
    std::string overlayFontName;
    std::uint32_t overlayFontStyle = 0; ///< 256 bold, 512 italic, 4 underline, 8 strike-out
    std::uint8_t overlayFontSize = 0;   ///< pixels, 1..255
    TextAlign overlayTextAlign = TextAlign::Left;
    std::int8_t overlayLineSpacing = 0;
    std::uint32_t overlayTextColor = 0;
    std::uint8_t overlayImageScale = 0; ///< percent, 10..100
    std::uint8_t overlayOutline = 0;
    std::uint8_t overlayOutlineWidth = 0;
    std::uint32_t overlayOutlineColor = 0;
    std::uint8_t overlayOpacity = 0; ///< percent, 1..100
    OverlayAlign overlayHorizontalAlign = OverlayAlign::Start;
    std::int16_t overlayHorizontalMargin = 0;
    OverlayAlign overlayVerticalAlign = OverlayAlign::Start;
    std::int16_t overlayVerticalMargin = 0;
    std::uint8_t sortEnabled = 0;
    SortKey sortKey = SortKey::Random;
    std::uint8_t sortAscending = 0;
    std::uint8_t commentEnabled = 0;
    std::string commentText;
    std::uint8_t keepMetadata = 0;
    std::uint8_t removeLocation = 0; ///< drop GPS and location fields from kept metadata
    std::uint8_t convertToSrgb = 0;  ///< convert pixels with a colour profile to sRGB, write none
    std::uint8_t setFileDates = 0;
    FileDateSource fileDateSource = FileDateSource::Own;
    std::uint32_t fixedFileDate = 0; ///< local seconds since 1970; 0 = date shown at run start
    std::int16_t fileDateShiftMinutes = 0;
    std::uint8_t resetFileAttributes = 0;
    std::uint8_t convertFormat = 0;
    OutputFormat outputFormat = OutputFormat::Jpeg;
    std::uint8_t qualityEnabled = 0;
    std::uint8_t quality = 0;          ///< 1..10
    std::uint32_t outputSizeLimit = 0; ///< KiB a JPEG, WebP, AVIF or JPEG XL file may take; 0 = any
    std::uint8_t colorDepthEnabled = 0;
    ColorDepth colorDepth = ColorDepth::Bits1;
    std::uint8_t colorDepthOption = 0;
    std::uint8_t renameEnabled = 0;
    std::string renamePattern;
    std::uint8_t perFolderNumbering = 0;
    std::uint8_t noZeroPadding = 0;
    std::uint8_t outputDirEnabled = 0;
    std::string outputDirPattern;
    std::uint8_t mirrorSubfolders = 0;
    std::uint8_t moveOriginal = 0;

    bool operator==(const Preset&) const = default;
};

/// Builds default preset number `number` (0..5) with the given display name.
[[nodiscard]] Preset defaultPreset(int number, std::string name);

/// The ordered list of stored presets and the position of the one selected last.
struct PresetList {
    std::vector<Preset> presets;
    std::size_t currentIndex = 0; ///< `currentPresetIndex`: list position, not `index`

    bool operator==(const PresetList&) const = default;
};

/// Replaces the list by the six default presets, named with UI texts 295..300, and selects 0.
void buildDefaults(PresetList& list);
/// The six default presets, named with UI texts 295..300.
[[nodiscard]] PresetList defaultPresetList();

/// Copies every field of `source` except `index` and `name` into `target` (storing the working
/// settings into a list entry).
void storeInto(Preset& target, const Preset& source);

} // namespace quill::settings
