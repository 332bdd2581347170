// Settings validation: the range phase and the consistency phase in their fixed order.
#include "settings/settings_validation.h"

#include "imagefiles/format.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_record.h"
#include "settings/filter_conditions.h"
#include "settings/preset_range.h"
#include "toolkit/platform/platform.h"

namespace quill::settings {
namespace {

constexpr ConsistencyCheck kChecksInOrder[] = {
    ConsistencyCheck::NoActiveCondition,    ConsistencyCheck::CropMarginsZero,
    ConsistencyCheck::TrimSidesOff,         ConsistencyCheck::ResizePixelsMissing,
    ConsistencyCheck::ResizePercentInvalid, ConsistencyCheck::ResizeNoLimit,
    ConsistencyCheck::OverlayTextEmpty,     ConsistencyCheck::OverlayImageMissing,
    ConsistencyCheck::ExifDateOff,          ConsistencyCheck::DateShiftZero,
    ConsistencyCheck::RenamePatternInvalid, ConsistencyCheck::RenamePatternOnlyName,
    ConsistencyCheck::OutputDirInvalid,     ConsistencyCheck::OutputDirIsImageFolder,
};

bool hasActiveCondition(const Preset& s) {
    for (const FilterCondition& condition : s.filterConditions) {
        if (isActive(condition)) return true;
    }
    return false;
}

bool nothingToDo(const Preset& s, const RunSettings& run) {
    const bool noStep = s.cropEnabled == 0 && s.rotateEnabled == 0 && s.resizeEnabled == 0 &&
                        run.anyColorAdjust == 0 && s.canvasEnabled == 0 && s.overlayEnabled == 0 &&
                        s.commentEnabled == 0 && s.resetFileAttributes == 0 &&
                        s.convertFormat == 0 && s.qualityEnabled == 0 && s.colorDepthEnabled == 0 &&
                        s.renameEnabled == 0 && s.outputDirEnabled == 0 && s.keepMetadata == 1;
    // Copying the source's own dates onto its own file is no task either.
    const bool noDateTask = s.setFileDates == 0 || s.fileDateSource == FileDateSource::Own;
    return noStep && noDateTask;
}

} // namespace

std::optional<char> forbiddenFileNameCharacter(std::string_view name) {
    for (char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32) return c;
        switch (c) {
        case '"':
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '<':
        case '>':
        case '|':
            return c;
        default:
            break;
        }
    }
    return std::nullopt;
}

bool isValidFileName(std::string_view name) {
    return !name.empty() && !forbiddenFileNameCharacter(name);
}

bool isValidAbsoluteDirectory(std::string_view directory) {
    if (directory.empty() || directory.front() != '/' || directory.back() != '/') return false;
    const std::string_view inner = directory.substr(1, directory.size() - 1);
    std::size_t begin = 0;
    while (begin < inner.size()) {
        const std::size_t end = inner.find('/', begin);
        if (!isValidFileName(inner.substr(begin, end - begin))) return false;
        begin = end + 1;
    }
    return true;
}

bool isUsableOverlayImage(const std::string& path) {
    if (path.size() < 8) return false;
    const auto info = platform::fileInfo(path);
    return info && !info->isDirectory && info->size >= imagefiles::kMinimumFileSize;
}

bool consistencyCheckFails(ConsistencyCheck check, const Preset& s, const RunSettings& run) {
    switch (check) {
    case ConsistencyCheck::NoActiveCondition:
        return s.filterEnabled == 1 && !hasActiveCondition(s);
    case ConsistencyCheck::CropMarginsZero:
        return s.cropEnabled == 1 && s.cropMode == CropMode::Margins && s.cropLeft == 0 &&
               s.cropRight == 0 && s.cropTop == 0 && s.cropBottom == 0;
    case ConsistencyCheck::TrimSidesOff:
        return s.cropEnabled == 1 && s.cropMode == CropMode::Trim && s.trimLeft == 0 &&
               s.trimRight == 0 && s.trimTop == 0 && s.trimBottom == 0;
    case ConsistencyCheck::ResizePixelsMissing:
        return s.resizeEnabled == 1 && run.resizeBasis == 0 &&
               ((run.resizeAxis == 0 && (s.resizeWidth == 0 || s.resizeHeight == 0)) ||
                (run.resizeAxis == 1 && s.resizeWidth == 0) ||
                (run.resizeAxis == 2 && s.resizeHeight == 0));
    case ConsistencyCheck::ResizePercentInvalid:
        return s.resizeEnabled == 1 && run.resizeBasis == 1 &&
               (s.resizePercent < 1 || s.resizePercent == 100 || s.resizePercent > 999);
    case ConsistencyCheck::ResizeNoLimit:
        return s.resizeEnabled == 1 && run.resizeBasis == 0 && run.resizeLimitMode == -1;
    case ConsistencyCheck::OverlayTextEmpty:
        return s.overlayEnabled == 1 && s.overlayKind == OverlayKind::Text &&
               run.overlayTextRun.empty();
    case ConsistencyCheck::OverlayImageMissing:
        return s.overlayEnabled == 1 && s.overlayKind == OverlayKind::Image &&
               !isUsableOverlayImage(run.overlayImageRun);
    case ConsistencyCheck::ExifDateOff:
        return s.setFileDates == 1 && s.fileDateSource == FileDateSource::ImageDate &&
               s.useExifDate == 0;
    case ConsistencyCheck::DateShiftZero:
        return s.setFileDates == 1 && s.fileDateSource == FileDateSource::Shifted &&
               s.fileDateShiftMinutes == 0;
    case ConsistencyCheck::RenamePatternInvalid:
        return s.renameEnabled == 1 && !isValidFileName(run.renamePatternRun);
    case ConsistencyCheck::RenamePatternOnlyName:
        return s.renameEnabled == 1 && run.renamePatternRun == "%FN%";
    case ConsistencyCheck::OutputDirInvalid:
        return s.outputDirEnabled == 1 && run.outputDirFromImageFolder == 0 &&
               !isValidAbsoluteDirectory(run.outputDirRun);
    case ConsistencyCheck::OutputDirIsImageFolder:
        return s.outputDirEnabled == 1 && run.outputDirFromImageFolder == 1 &&
               run.outputDirRun == "/" && s.renameEnabled == 0 && s.mirrorSubfolders == 0;
    }
    return false;
}

ListedVideos listedVideos(const imagefiles::ImageList& images) {
    for (const imagefiles::ImageRecord& record : images.records()) {
        if (record.formatKind == imagefiles::FormatKind::Video) return ListedVideos::Some;
    }
    return ListedVideos::None;
}

ValidationResult settingsValidation(ValidationScope scope, const Preset& s, const RunSettings& run,
                                    ListedVideos videos) {
    if (!presetInRange(s)) return ValidationResult::OutOfRange;
    if (scope == ValidationScope::Ranges) return ValidationResult::Valid;
    for (ConsistencyCheck check : kChecksInOrder) {
        if (consistencyCheckFails(check, s, run)) return ValidationResult::Contradictory;
    }
    if (nothingToDo(s, run)) return ValidationResult::NothingToDo;
    if (videos == ListedVideos::Some && (requirementQuery(Requirement::Dimensions, s, run, 0) ||
                                         requirementQuery(Requirement::ColourCount, s, run, 0) ||
                                         requirementQuery(Requirement::Brightness, s, run, 0))) {
        return ValidationResult::VideosNeedDetails;
    }
    if (s.filterEnabled == 1) {
        for (const FilterCondition& condition : s.filterConditions) {
            if (!filterValueUsable(condition)) return ValidationResult::BadFilterValue;
        }
    }
    return ValidationResult::Valid;
}

} // namespace quill::settings
