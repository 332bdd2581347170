// The range check of a preset: every field against the range its setting allows.
#include "settings/preset_range.h"

#include <initializer_list>
#include <string>

namespace quill::settings {

namespace {

bool isFlag(std::uint8_t value) {
    return value <= 1;
}

template <typename T> bool within(T value, long low, long high) {
    return static_cast<long>(value) >= low && static_cast<long>(value) <= high;
}

bool isColor(std::uint32_t value) {
    return value <= 0xFFFFFF;
}

} // namespace

bool presetInRange(const Preset& p) {
    bool ok = true;
    // Every flag of the record, in storage order.
    for (std::uint8_t flag : {p.listDisplayOption,
                              p.windowLayoutOption,
                              p.scanImageDetails,
                              p.listStyleOption,
                              p.includeSubdirectories,
                              p.includeHiddenFiles,
                              p.includeVideos,
                              p.useExifDate,
                              p.useExifOrientation,
                              p.keepFilteredImages,
                              p.keepProcessedSources,
                              p.keepFailedSources,
                              p.loadOutputImages,
                              p.keepUnprocessedImages,
                              p.exitAfterRun,
                              p.filterEnabled,
                              p.cropEnabled,
                              p.trimLeft,
                              p.trimRight,
                              p.trimTop,
                              p.trimBottom,
                              p.rotateEnabled,
                              p.resizeEnabled,
                              p.resizeOption,
                              p.brightnessEnabled,
                              p.saturationEnabled,
                              p.contrastEnabled,
                              p.gammaEnabled,
                              p.channelAdjustEnabled,
                              p.canvasEnabled,
                              p.overlayEnabled,
                              p.overlayOutline,
                              p.sortEnabled,
                              p.sortAscending,
                              p.commentEnabled,
                              p.keepMetadata,
                              p.setFileDates,
                              p.resetFileAttributes,
                              p.convertFormat,
                              p.qualityEnabled,
                              p.colorDepthEnabled,
                              p.colorDepthOption,
                              p.renameEnabled,
                              p.perFolderNumbering,
                              p.noZeroPadding,
                              p.outputDirEnabled,
                              p.mirrorSubfolders,
                              p.moveOriginal}) {
        ok = ok && isFlag(flag);
    }
    // The two-valued codes.
    ok =
        ok && within(p.cropMode, 0, 1) && within(p.resizeMode, 0, 1) && within(p.overlayKind, 0, 1);
    ok = ok && within(p.selectedPage, 0, 13);
    for (const FilterCondition& condition : p.filterConditions) {
        ok = ok && within(condition.property, 0, 14) && within(condition.operator_, 0, 7) &&
             within(condition.valueKind, 1, 2) && condition.value.size() <= kMaxPresetTextBytes;
    }
    for (std::int16_t margin : {p.cropLeft, p.cropRight, p.cropTop, p.cropBottom}) {
        ok = ok && within(margin, 0, 9999);
    }
    ok = ok && within(p.trimColorTolerance, 0, 50) && within(p.trimOutlierTolerance, 0, 50);
    ok = ok && within(p.rotateMode, 0, 6);
    ok = ok && within(p.resizeWidth, 0, 9999) && within(p.resizeHeight, 0, 9999);
    ok = ok && within(p.resizePercent, 0, 999) && within(p.resizeLimits, 0, 3);
    ok = ok && within(p.brightnessLevel, 0, 200) && within(p.saturationLevel, 0, 300);
    ok = ok && within(p.contrastLevel, 0, 200) && within(p.gammaLevel, 1, 399);
    for (std::int16_t channel : {p.channelAdjustRed, p.channelAdjustGreen, p.channelAdjustBlue}) {
        ok = ok && within(channel, 0, 200);
    }
    ok = ok && within(p.canvasWidth, 0, 9999) && within(p.canvasHeight, 0, 9999);
    ok = ok && within(p.canvasMode, 0, 2);
    ok = ok && isColor(p.canvasColor) && isColor(p.overlayTextColor) &&
         isColor(p.overlayOutlineColor);
    ok = ok && !p.overlayFontName.empty() && p.overlayFontSize != 0;
    ok = ok && within(p.overlayTextAlign, 0, 2) && within(p.overlayLineSpacing, -100, 100);
    ok = ok && within(p.overlayImageScale, 10, 100);
    ok = ok && within(p.overlayOutlineWidth, 1, 100) && within(p.overlayOpacity, 1, 100);
    ok = ok && within(p.overlayHorizontalAlign, 0, 2) && within(p.overlayVerticalAlign, 0, 2);
    ok = ok && within(p.overlayHorizontalMargin, 1, 999) && within(p.overlayVerticalMargin, 1, 999);
    ok = ok && within(p.sortKey, 0, 9);
    ok = ok && within(p.fileDateSource, 0, 3);
    // `fixedFileDate` is unsigned and so never negative.
    ok = ok && within(p.fileDateShiftMinutes, -9999, 9999);
    ok = ok && within(p.outputFormat, 0, 4) && within(p.quality, 1, 10);
    ok = ok && within(p.colorDepth, 0, 4);
    for (const std::string* text :
         {&p.name, &p.overlayText, &p.overlayImagePath, &p.overlayFontName, &p.commentText,
          &p.renamePattern, &p.outputDirPattern}) {
        ok = ok && text->size() <= kMaxPresetTextBytes;
    }
    return ok;
}

} // namespace quill::settings
