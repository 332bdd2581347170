// Settings validation: whether the working settings may be used for a run.
#pragma once

#include "settings/preset.h"
#include "settings/run_settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace quill::imagefiles {
class ImageList;
}

namespace quill::settings {

/// Result of settingsValidation.
enum class ValidationResult : int {
    Valid = 1,              ///< the settings may be used
    OutOfRange = 0,         ///< a field is outside its storage range
    Contradictory = -1,     ///< the settings are contradictory or incomplete
    NothingToDo = -2,       ///< no step of the task is switched on
    VideosNeedDetails = -3, ///< the run needs image details that listed videos cannot supply
    BadFilterValue = -4,    ///< a filter condition has an unusable value
};

/// How much settingsValidation checks.
enum class ValidationScope {
    Ranges, ///< the range phase only: Valid or OutOfRange
    Whole,  ///< the range phase and, when it passed, the consistency phase
};

/// Whether the image list holds a video (format code 10).
enum class ListedVideos : bool { None, Some };

/// Validates the settings in `scope`. The consistency phase reads `run` (derive it first) and
/// whether the image list holds a video. Reports only; changes nothing.
[[nodiscard]] ValidationResult settingsValidation(ValidationScope scope, const Preset& settings,
                                                  const RunSettings& run, ListedVideos videos);
/// Whether the image list holds a video: the `videos` argument of settingsValidation.
[[nodiscard]] ListedVideos listedVideos(const imagefiles::ImageList& images);

/// The first character of `name` that no file name may hold: one below 32 or one of
/// " \ / : * ? < > |. nullopt when there is none.
[[nodiscard]] std::optional<char> forbiddenFileNameCharacter(std::string_view name);
/// A valid file name: not empty, no character below 32, none of " \ / : * ? < > |.
[[nodiscard]] bool isValidFileName(std::string_view name);
/// A valid absolute directory: begins and ends with "/", and every part between is a valid file
/// name (so doubled separators fail).
[[nodiscard]] bool isValidAbsoluteDirectory(std::string_view directory);
/// An overlay image path the run can use: at least 8 characters, naming a file (not a directory)
/// of at least 35 bytes.
[[nodiscard]] bool isUsableOverlayImage(const std::string& path);

/// Whether step `check` (1..14 in the order of the consistency phase) fails; used by the
/// validation and by the problem list so both judge the same way.
enum class ConsistencyCheck {
    NoActiveCondition = 1,
    CropMarginsZero,
    TrimSidesOff,
    ResizePixelsMissing,
    ResizePercentInvalid,
    ResizeNoLimit,
    OverlayTextEmpty,
    OverlayImageMissing,
    ExifDateOff,
    DateShiftZero,
    RenamePatternInvalid,
    RenamePatternOnlyName,
    OutputDirInvalid,
    OutputDirIsImageFolder,
};
[[nodiscard]] bool consistencyCheckFails(ConsistencyCheck check, const Preset& settings,
                                         const RunSettings& run);

} // namespace quill::settings
