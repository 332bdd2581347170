// Run settings: derivation from the working settings, relative paths, the common base folder.
#include "settings/run_settings.h"

#include "imagefiles/image_record.h"
#include "settings/filter_conditions.h"

#include <algorithm>

namespace quill::settings {

RunContext runContextFromPlatform(std::size_t imageCount, std::int64_t dateControlValue) {
    RunContext context;
    context.imageCount = imageCount;
    context.folders = shellFoldersFromPlatform();
    context.dateControlValue = dateControlValue;
    return context;
}

RunSettings deriveRunSettings(const Preset& s, const RunContext& context) {
    RunSettings run;
    if (s.resizeEnabled == 1) {
        if (s.resizeMode == ResizeMode::Pixels) {
            run.resizeBasis = 0;
            if (s.resizeWidth >= 1 && s.resizeHeight == 0) {
                run.resizeAxis = 1;
            } else if (s.resizeWidth == 0 && s.resizeHeight > 0) {
                run.resizeAxis = 2;
            } else {
                run.resizeAxis = 0;
            }
        } else {
            run.resizeBasis = 1;
            run.resizeAxis = 0;
        }
        switch (s.resizeLimits) {
        case ResizeLimits::ShrinkOnly:
            run.resizeLimitMode = 1;
            break;
        case ResizeLimits::EnlargeOnly:
            run.resizeLimitMode = 2;
            break;
        case ResizeLimits::Both:
            run.resizeLimitMode = 0;
            break;
        default:
            run.resizeLimitMode = -1;
            break;
        }
    }
    run.anyColorAdjust =
        (s.brightnessEnabled == 1 || s.saturationEnabled == 1 || s.contrastEnabled == 1 ||
         s.gammaEnabled == 1 || s.channelAdjustEnabled == 1)
            ? 1
            : 0;
    run.canvasModeRun = s.canvasEnabled == 1 ? std::int32_t(s.canvasMode) : -1;
    if (s.overlayEnabled == 1 && s.overlayKind == OverlayKind::Text)
        run.overlayTextRun = prepareOverlayText(s.overlayText);
    if (s.overlayEnabled == 1 && s.overlayKind == OverlayKind::Image) {
        run.overlayImageRun =
            resolveRelativePath(s.overlayImagePath, context.folders.programFolder);
    }
    if (s.commentEnabled == 1) run.commentRun = normaliseTokens(s.commentText);
    if (s.setFileDates == 1 && s.fileDateSource == FileDateSource::Fixed) {
        run.fixedDateRun = s.fixedFileDate != 0 ? s.fixedFileDate : context.dateControlValue;
    }
    if (s.renameEnabled == 1) run.renamePatternRun = normaliseTokens(s.renamePattern);
    if (s.outputDirEnabled == 1) {
        const std::string normalised = normaliseTokens(s.outputDirPattern);
        run.outputDirRun = pathExpand(normalised, context.folders);
        run.outputDirFromImageFolder =
            leadingPathToken(normalised) == PathToken::ImageFolder ? 1 : 0;
    }
    for (Requirement requirement : kRequirements) {
        if (requirementQuery(requirement, s, run, context.imageCount)) {
            run.needsImageData = 1;
            break;
        }
    }
    return run;
}

std::string taskTexts(const RunSettings& run) {
    return run.overlayTextRun + run.commentRun + run.renamePatternRun + run.outputDirRun;
}

bool requirementQuery(Requirement requirement, const Preset& settings, const RunSettings& run,
                      std::size_t imageCount) {
    return requirementQuery(requirement, settings, std::string_view(taskTexts(run)), imageCount);
}

std::string resolveRelativePath(std::string_view rawPath, std::string_view rawBase) {
    std::string path = withForwardSlashes(rawPath);
    std::string base(rawBase);
    if (path.empty() || path == "./") return base;
    if (path.front() == '/' || path.front() == '%') return path;
    if (!base.empty() && base.back() == '/') base.pop_back();
    while (path.rfind("../", 0) == 0) {
        path.erase(0, 3);
        const std::size_t slash = base.rfind('/');
        base.erase(slash == std::string::npos ? 0 : slash);
    }
    return base + "/" + path;
}

std::string normalFolderName(std::string_view folder) {
    std::vector<std::string_view> levels;
    std::size_t pos = 0;
    while (pos <= folder.size()) {
        std::size_t end = folder.find('/', pos);
        if (end == std::string_view::npos) end = folder.size();
        const std::string_view level = folder.substr(pos, end - pos);
        if (level == "..") {
            if (!levels.empty()) levels.pop_back();
        } else if (!level.empty() && level != ".") {
            levels.push_back(level);
        }
        pos = end + 1;
    }
    std::string out = !folder.empty() && folder.front() == '/' ? "/" : "";
    for (const std::string_view level : levels) {
        out += level;
        out += '/';
    }
    return out;
}

std::string commonBaseFolder(const std::vector<std::string>& folders) {
    if (folders.empty()) return {};
    const auto separators = [](const std::string& folder) {
        return std::count(folder.begin(), folder.end(), '/');
    };
    const std::string& shallowest = *std::min_element(
        folders.begin(), folders.end(),
        [&](const std::string& a, const std::string& b) { return separators(a) < separators(b); });
    std::string accepted;
    for (std::size_t slash = shallowest.find('/'); slash != std::string::npos;
         slash = shallowest.find('/', slash + 1)) {
        const std::string_view candidate = std::string_view(shallowest).substr(0, slash + 1);
        const bool shared = std::all_of(folders.begin(), folders.end(), [&](const std::string& f) {
            return f.compare(0, candidate.size(), candidate) == 0;
        });
        if (!shared) break;
        accepted = std::string(candidate);
    }
    return accepted;
}

std::string commonBaseFolder(const imagefiles::ImageList& images) {
    std::vector<std::string> folders;
    folders.reserve(images.size());
    for (const imagefiles::ImageRecord& record : images.records())
        folders.push_back(normalFolderName(record.folder));
    return commonBaseFolder(folders);
}

bool takesSourcesAway(const Preset& settings) {
    return !settings.outputDirEnabled || settings.moveOriginal;
}

} // namespace quill::settings
