// The error log of a console run and the console's error report.
#include "batch/error_log.h"

#include "imagefiles/image_record.h"
#include "settings/language_pack.h"
#include "settings/problem_list.h"
#include "settings/ui_text_ids.h"
#include "toolkit/platform/platform.h"
#include "toolkit/utf8.h"

#include <array>

namespace quill::batch {

namespace text = settings::text;
namespace {

constexpr const char* kRule = "----------------";

/// UI text indices of the title and explanation of failure kinds 2..8.
int titleIndex(int state) {
    return text::kUnreadableFile + 2 * (state - 2);
}
int explanationIndex(int state) {
    return titleIndex(state) + 1;
}
/// The UI text of a detail code that says why an image failed, whatever its result; -1 for the
/// codes that name a step.
int failureReasonIndex(std::int32_t detail) {
    switch (detail) {
    case imagefiles::DetailSourceChanged:
        return text::kSourceChanged;
    case imagefiles::DetailReadError:
        return text::kReadError;
    case imagefiles::DetailOutOfMemory:
        return text::kOutOfMemory;
    case imagefiles::DetailUnexpectedError:
        return text::kUnexpectedError;
    case imagefiles::DetailLargerThanLimit:
        return text::kLargerThanLimit;
    default:
        return -1;
    }
}
/// A failure kind with a title and an explanation.
bool isExplainedFailure(imagefiles::ImageResult state) {
    return imagefiles::isFailure(state) && state <= imagefiles::ImageResult::WriteFailed;
}

} // namespace

std::string logSafeText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = toolkit::decodeUtf8At(text, i).length;
        const auto c = static_cast<unsigned char>(text[i]);
        // The backslash is escaped as well, so that a name spelled like the escape of another
        // ("caf\xE9" typed out) never logs the same line as that other name.
        if (length == 0 || c == '\r' || c == '\n' || c == '\\') {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

std::string failureLine(const imagefiles::ImageRecord& record) {
    if (!isExplainedFailure(record.resultState)) return {};
    std::string line = settings::uiText(titleIndex(int(record.resultState)));
    // A reason that goes with any failure kind: why the image failed, not which step.
    if (const int reason = failureReasonIndex(record.resultCode); reason >= 0)
        return line + "  (" + settings::uiText(reason) + ")";
    if (record.resultState == imagefiles::ImageResult::StepFailed &&
        record.resultCode != imagefiles::DetailNone) {
        const std::string name =
            settings::operationName(record.resultCode, settings::currentUiTexts());
        if (!name.empty()) line += "  (" + name + ")";
    }
    return line;
}

std::string errorLogText(const std::vector<LoggedRun>& runs, const std::string& standardTitle) {
    std::string text = "\xEF\xBB\xBF";
    auto line = [&text](const std::string& s) { text += s + "\r\n"; };
    line(standardTitle);
    line(std::string(toolkit::utf8CharacterCount(standardTitle), '*'));
    line(settings::programInfoText(settings::info::kDescription));
    line(settings::programInfoText(settings::info::kCopyright));
    line("");
    line("");
    line("");
    line(kRule);
    line("");

    std::array<bool, 9> occurred{};
    bool any = false;
    for (const LoggedRun& run : runs)
        for (const auto& record : run.images->records()) {
            if (!imagefiles::isFailure(record.resultState)) continue;
            if (!run.preset.empty()) line(logSafeText(run.preset));
            line(settings::uiText(text::kImage) + ": " + logSafeText(record.sourcePath));
            line(settings::uiText(text::kOutput) + ": " + logSafeText(record.resultText));
            line(settings::uiText(text::kError) + ": " + failureLine(record));
            line("");
            if (isExplainedFailure(record.resultState))
                occurred[std::size_t(record.resultState)] = true;
            any = true;
        }
    line(kRule);
    line("");
    if (any) {
        line("");
        line(settings::uiText(text::kExplanations));
        for (int state = 2; state <= 8; ++state) {
            if (!occurred[std::size_t(state)]) continue;
            line(settings::uiText(titleIndex(state)));
            line(settings::uiText(explanationIndex(state)));
            line("");
        }
    }
    return text;
}

std::string errorLogText(const imagefiles::ImageList& images, const std::string& standardTitle) {
    return errorLogText({LoggedRun{.preset = {}, .images = &images}}, standardTitle);
}

namespace {

bool writeLog(const std::string& path, const std::string& text) {
    return platform::writeFileAtomically(
        path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

} // namespace

bool writeErrorLog(const std::string& path, const imagefiles::ImageList& images,
                   const std::string& standardTitle) {
    return writeLog(path, errorLogText(images, standardTitle));
}

std::string consoleErrorReport(const imagefiles::ImageList& images,
                               const std::string& standardTitle,
                               const std::vector<std::string>& candidatePaths) {
    return consoleErrorReport({LoggedRun{.preset = {}, .images = &images}}, standardTitle,
                              candidatePaths);
}

std::string consoleErrorReport(const std::vector<LoggedRun>& runs, const std::string& standardTitle,
                               const std::vector<std::string>& candidatePaths) {
    const std::string text = errorLogText(runs, standardTitle);
    platform::consolePrint("Result: Error(s) occured!");
    for (const std::string& path : candidatePaths) {
        if (path.empty()) continue;
        // A fallback folder (the per-user settings folder in portable mode) may not exist yet.
        if (!writeLog(path, text) &&
            !(platform::createDirectories(platform::directoryPart(path)) && writeLog(path, text)))
            continue;
        platform::consolePrint("Take a look at \"Errorlog.txt\" for more information.");
        platform::consolePrint(path);
        return path;
    }
    platform::consolePrint("\"Errorlog.txt\" couldn't be created.");
    return {};
}

} // namespace quill::batch
