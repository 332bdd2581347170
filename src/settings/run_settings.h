// Run settings: the values derived from the working settings once before each run.
#pragma once

#include "settings/filter_conditions.h"
#include "settings/placeholders.h"
#include "settings/preset.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quill::imagefiles {
class ImageList;
}

namespace quill::settings {

/// Run-wide values derived from the working settings; -1 marks a value not in use.
struct RunSettings {
    std::int32_t resizeBasis = -1;     ///< -1 off, 0 pixels, 1 percent
    std::int32_t resizeAxis = -1;      ///< -1 off; pixels: 1 width given, 2 height given, 0 both
    std::int32_t resizeLimitMode = -1; ///< -1 off or no limit switch; 1 shrink, 2 enlarge, 0 both
    std::int32_t anyColorAdjust = 0;   ///< 1 when any colour adjustment is on
    std::int32_t canvasModeRun = -1;   ///< canvasMode when the canvas step is on
    std::string overlayTextRun;        ///< prepared overlay text (text overlay on), else ""
    std::string overlayImageRun;       ///< resolved overlay image path (image overlay on), else ""
    std::string commentRun;            ///< normalised comment (comment on), else ""
    std::int64_t fixedDateRun = 0;     ///< fixed file date (date source 1), else 0
    std::string renamePatternRun;      ///< normalised rename pattern (renaming on), else ""
    std::string outputDirRun;          ///< normalised, path-expanded directory (on), else ""
    std::int32_t outputDirFromImageFolder = 0; ///< 1 when the directory pattern starts with %PF%
    std::int32_t needsImageData = 0;           ///< 1 when any requirement query answers 1
};

/// What the derivation needs besides the settings.
struct RunContext {
    std::size_t imageCount = 0; ///< images in the list (sorting needs more than one)
    ShellFolders folders;       ///< the folders behind the path tokens; programFolder also
                                ///< resolves a relative overlay image path
    /// The date the settings page's date control shows (console: the run's start), used as the
    /// fixed file date when the preset's fixedFileDate is 0. Local-time seconds.
    std::int64_t dateControlValue = 0;
};
/// A context with the platform's folders.
[[nodiscard]] RunContext runContextFromPlatform(std::size_t imageCount,
                                                std::int64_t dateControlValue);

/// Derives the run settings from the working settings.
[[nodiscard]] RunSettings deriveRunSettings(const Preset& settings, const RunContext& context);

/// The prepared texts a run expands (overlay text, comment, rename pattern, output directory),
/// joined: the texts requirementQuery looks for tokens in.
[[nodiscard]] std::string taskTexts(const RunSettings& run);
/// requirementQuery on the task texts of `run`.
[[nodiscard]] bool requirementQuery(Requirement requirement, const Preset& settings,
                                    const RunSettings& run, std::size_t imageCount);

/// Resolves a relative path against a base folder: "" or "./" give the base; a path beginning
/// with "/" or "%" stays; otherwise each leading "../" climbs one level of the base, and the
/// result is base + "/" + path. "\" in the path counts as "/".
[[nodiscard]] std::string resolveRelativePath(std::string_view path, std::string_view base);

/// A folder named without "." and ".." levels, for comparing folders by name: "." and empty
/// levels are dropped, ".." takes away the level before it (and nothing at the top). Ends with
/// "/" unless the result is empty; a leading "/" stays.
[[nodiscard]] std::string normalFolderName(std::string_view folder);

/// The deepest folder (ending in "/") that every folder of the list begins with, built level by
/// level from a shallowest folder; "" when not even the first level is shared or the list is
/// empty. Folders end with "/".
[[nodiscard]] std::string commonBaseFolder(const std::vector<std::string>& folders);
/// The common base folder of the images of a list, from their folders' normalFolderName().
[[nodiscard]] std::string commonBaseFolder(const imagefiles::ImageList& images);

/// True when a run of `settings` takes the source images away: it replaces them (no output
/// folder) or moves them. Of several presets run in turn over one list, only the last may.
[[nodiscard]] bool takesSourcesAway(const Preset& settings);

} // namespace quill::settings
