// Every field of the preset record that a settings control edits, by name and member.
#include "app/ui/preset_fields.h"

#include <algorithm>
#include <array>
#include <limits>

namespace quill::app::ui {
namespace {

using settings::Preset;

#define QUILL_FIELD(member, lo, hi)                                                                \
    PresetField {                                                                                  \
#member, presetMember < &Preset::member>(), lo, hi                                         \
    }
#define QUILL_FLAG(member) QUILL_FIELD(member, 0, 1)
#define QUILL_TEXT(member)                                                                         \
    PresetField {                                                                                  \
#member, &Preset::member, 0, 0                                                             \
    }

const std::array kFields = {
    QUILL_FIELD(selectedPage, 0, 13),
    QUILL_FLAG(listDisplayOption),
    QUILL_FLAG(windowLayoutOption),
    QUILL_FLAG(scanImageDetails),
    QUILL_FLAG(listStyleOption),
    QUILL_FLAG(includeSubdirectories),
    QUILL_FLAG(includeHiddenFiles),
    QUILL_FLAG(includeVideos),
    QUILL_FLAG(useExifDate),
    QUILL_FLAG(useExifOrientation),
    QUILL_FLAG(keepFilteredImages),
    QUILL_FLAG(keepProcessedSources),
    QUILL_FLAG(keepFailedSources),
    QUILL_FLAG(loadOutputImages),
    QUILL_FLAG(keepUnprocessedImages),
    QUILL_FLAG(exitAfterRun),
    QUILL_FLAG(filterEnabled),
    QUILL_TEXT(filterConditions),
    QUILL_FLAG(cropEnabled),
    QUILL_FIELD(cropMode, 0, 1),
    QUILL_FIELD(cropLeft, 0, 9999),
    QUILL_FIELD(cropRight, 0, 9999),
    QUILL_FIELD(cropTop, 0, 9999),
    QUILL_FIELD(cropBottom, 0, 9999),
    QUILL_FLAG(trimLeft),
    QUILL_FLAG(trimRight),
    QUILL_FLAG(trimTop),
    QUILL_FLAG(trimBottom),
    QUILL_FIELD(trimColorTolerance, 0, 50),
    QUILL_FIELD(trimOutlierTolerance, 0, 50),
    QUILL_FLAG(rotateEnabled),
    QUILL_FIELD(rotateMode, 0, 6),
    QUILL_FLAG(resizeEnabled),
    QUILL_FIELD(resizeMode, 0, 1),
    QUILL_FIELD(resizeWidth, 0, 9999),
    QUILL_FIELD(resizeHeight, 0, 9999),
    QUILL_FIELD(resizePercent, 0, 999),
    QUILL_FLAG(resizeOption),
    QUILL_FIELD(resizeLimits, 0, 3),
    QUILL_FLAG(brightnessEnabled),
    QUILL_FIELD(brightnessLevel, 0, 200),
    QUILL_FLAG(saturationEnabled),
    QUILL_FIELD(saturationLevel, 0, 300),
    QUILL_FLAG(contrastEnabled),
    QUILL_FIELD(contrastLevel, 0, 200),
    QUILL_FLAG(gammaEnabled),
    QUILL_FIELD(gammaLevel, 1, 399),
    QUILL_FLAG(channelAdjustEnabled),
    QUILL_FIELD(channelAdjustRed, 0, 200),
    QUILL_FIELD(channelAdjustGreen, 0, 200),
    QUILL_FIELD(channelAdjustBlue, 0, 200),
    QUILL_FLAG(canvasEnabled),
    QUILL_FIELD(canvasWidth, 0, 9999),
    QUILL_FIELD(canvasHeight, 0, 9999),
    QUILL_FIELD(canvasMode, 0, 2),
    QUILL_FIELD(canvasColor, 0, 0xFFFFFF),
    QUILL_FLAG(overlayEnabled),
    QUILL_FIELD(overlayKind, 0, 1),
    QUILL_TEXT(overlayText),
    QUILL_TEXT(overlayImagePath),
    QUILL_TEXT(overlayFontName),
    QUILL_FIELD(overlayFontStyle, 0, 0xFFFFFFFF),
    QUILL_FIELD(overlayFontSize, 1, 255),
    QUILL_FIELD(overlayTextAlign, 0, 2),
    QUILL_FIELD(overlayLineSpacing, -100, 100),
    QUILL_FIELD(overlayTextColor, 0, 0xFFFFFF),
    QUILL_FIELD(overlayImageScale, 10, 100),
    QUILL_FLAG(overlayOutline),
    QUILL_FIELD(overlayOutlineWidth, 1, 100),
    QUILL_FIELD(overlayOutlineColor, 0, 0xFFFFFF),
    QUILL_FIELD(overlayOpacity, 1, 100),
    QUILL_FIELD(overlayHorizontalAlign, 0, 2),
    QUILL_FIELD(overlayHorizontalMargin, 1, 999),
    QUILL_FIELD(overlayVerticalAlign, 0, 2),
    QUILL_FIELD(overlayVerticalMargin, 1, 999),
    QUILL_FLAG(sortEnabled),
    QUILL_FIELD(sortKey, 0, 9),
    QUILL_FLAG(sortAscending),
    QUILL_FLAG(commentEnabled),
    QUILL_TEXT(commentText),
    QUILL_FLAG(keepMetadata),
    QUILL_FLAG(setFileDates),
    QUILL_FIELD(fileDateSource, 0, 3),
    QUILL_FIELD(fixedFileDate, 0, 0xFFFFFFFF),
    QUILL_FIELD(fileDateShiftMinutes, -9999, 9999),
    QUILL_FLAG(resetFileAttributes),
    QUILL_FLAG(convertFormat),
    QUILL_FIELD(outputFormat, 0, 4),
    QUILL_FLAG(qualityEnabled),
    QUILL_FIELD(quality, 1, 10),
    QUILL_FLAG(colorDepthEnabled),
    QUILL_FIELD(colorDepth, 0, 4),
    QUILL_FLAG(colorDepthOption),
    QUILL_FLAG(renameEnabled),
    QUILL_TEXT(renamePattern),
    QUILL_FLAG(perFolderNumbering),
    QUILL_FLAG(noZeroPadding),
    QUILL_FLAG(outputDirEnabled),
    QUILL_TEXT(outputDirPattern),
    QUILL_FLAG(mirrorSubfolders),
    QUILL_FLAG(moveOriginal),
};

#undef QUILL_FIELD
#undef QUILL_FLAG
#undef QUILL_TEXT

template <class T> std::int64_t clampTo(std::int64_t value) {
    return std::clamp<std::int64_t>(value, std::numeric_limits<T>::min(),
                                    std::numeric_limits<T>::max());
}

template <class M> constexpr bool kIsCode = std::is_same_v<M, CodeMember>;

} // namespace

std::span<const PresetField> presetFields() {
    return kFields;
}

const PresetField* findPresetField(const std::string& name) {
    for (const auto& field : kFields) {
        if (name == field.name) return &field;
    }
    return nullptr;
}

bool isNumeric(const PresetField& field) {
    return std::visit(
        [](auto member) {
            if constexpr (kIsCode<decltype(member)>) {
                return true;
            } else {
                using T = std::remove_reference_t<decltype(std::declval<Preset&>().*member)>;
                return std::is_integral_v<T>;
            }
        },
        field.member);
}

std::int64_t numericValue(const Preset& preset, const PresetField& field) {
    return std::visit(
        [&](auto member) -> std::int64_t {
            if constexpr (kIsCode<decltype(member)>) {
                return member.get(preset);
            } else {
                using T = std::remove_cvref_t<decltype(preset.*member)>;
                if constexpr (std::is_integral_v<T>)
                    return static_cast<std::int64_t>(preset.*member);
                else
                    return 0;
            }
        },
        field.member);
}

void setNumericValue(Preset& preset, const PresetField& field, std::int64_t value) {
    std::visit(
        [&](auto member) {
            if constexpr (kIsCode<decltype(member)>) {
                member.set(preset, static_cast<std::uint8_t>(clampTo<std::uint8_t>(value)));
            } else {
                using T = std::remove_cvref_t<decltype(preset.*member)>;
                if constexpr (std::is_integral_v<T>)
                    preset.*member = static_cast<T>(clampTo<T>(value));
            }
        },
        field.member);
}

} // namespace quill::app::ui
