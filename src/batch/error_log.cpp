// The error log of a console run and the console's error report.
#include "batch/error_log.h"

#include "pipeline/image_result.h"
#include "settings/language_pack.h"
#include "settings/problem_list.h"
#include "toolkit/platform/platform.h"

#include <array>

namespace quill::batch {
namespace {

constexpr const char* kRule = "----------------";

/// UI text indices of the title and explanation of failure kinds 2..8.
int titleIndex(int state) { return 390 + 2 * (state - 2); }
int explanationIndex(int state) { return titleIndex(state) + 1; }
bool isFailure(std::uint8_t state) { return state >= 2 && state <= 8; }

/// Display width of a UTF-8 text in characters (code points).
std::size_t characterCount(const std::string& text) {
    std::size_t count = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++count;
    return count;
}

} // namespace

std::string failureLine(const imagefiles::ImageRecord& record) {
    const int state = record.resultState;
    if (!isFailure(record.resultState)) return {};
    std::string line = settings::uiText(titleIndex(state));
    if (state == int(pipeline::ImageResult::StepFailed) && record.resultCode != 0) {
        const std::string name =
            settings::operationName(record.resultCode, settings::currentUiTexts());
        if (!name.empty()) line += "  (" + name + ")";
    }
    return line;
}

std::string errorLogText(const imagefiles::ImageList& images, const std::string& standardTitle) {
    std::string text = "\xEF\xBB\xBF";
    auto line = [&text](const std::string& s) { text += s + "\r\n"; };
    line(standardTitle);
    line(std::string(characterCount(standardTitle), '*'));
    line(settings::programInfoText(13));
    line(settings::programInfoText(14));
    line("");
    line("");
    line("");
    line(kRule);
    line("");

    std::array<bool, 9> occurred{};
    bool any = false;
    for (const auto& record : images.records()) {
        if (record.resultState == 0 || record.resultState == 1) continue;
        line(settings::uiText(386) + ": " + record.sourcePath);
        line(settings::uiText(387) + ": " + record.resultText);
        line(settings::uiText(388) + ": " + failureLine(record));
        line("");
        if (isFailure(record.resultState)) occurred[record.resultState] = true;
        any = true;
    }
    line(kRule);
    line("");
    if (any) {
        line("");
        line(settings::uiText(389));
        for (int state = 2; state <= 8; ++state) {
            if (!occurred[std::size_t(state)]) continue;
            line(settings::uiText(titleIndex(state)));
            line(settings::uiText(explanationIndex(state)));
            line("");
        }
    }
    return text;
}

bool writeErrorLog(const std::string& path, const imagefiles::ImageList& images,
                   const std::string& standardTitle) {
    const std::string text = errorLogText(images, standardTitle);
    return platform::writeFileAtomically(
        path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::string consoleErrorReport(const imagefiles::ImageList& images,
                               const std::string& standardTitle,
                               const std::vector<std::string>& candidatePaths) {
    platform::consolePrint("Result: Error(s) occured!");
    for (const std::string& path : candidatePaths) {
        if (path.empty()) continue;
        // A fallback folder (the per-user settings folder in portable mode) may not exist yet.
        if (!writeErrorLog(path, images, standardTitle) &&
            !(platform::createDirectories(platform::directoryPart(path)) &&
              writeErrorLog(path, images, standardTitle)))
            continue;
        platform::consolePrint("Take a look at \"Errorlog.txt\" for more information.");
        platform::consolePrint(path);
        return path;
    }
    platform::consolePrint("\"Errorlog.txt\" couldn't be created.");
    return {};
}

} // namespace quill::batch
