// The problem list: which setting made the validation refuse a run, as one line of text.
#include "settings/problem_list.h"

#include "settings/filter_conditions.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace quill::settings {
namespace {

std::string quotedParts(const std::vector<std::string>& parts) {
    std::string line;
    for (const std::string& part : parts) {
        if (!line.empty()) line += " -> ";
        line += "\"" + part + "\"";
    }
    return line;
}

std::string withoutAmpersands(std::string text) {
    std::erase(text, '&');
    return text;
}

/// A character as the line shows it: itself, or "U+XXXX" for a control character, which would
/// show as nothing.
std::string characterName(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 32) return std::string(1, c);
    char code[8];
    std::snprintf(code, sizeof code, "U+%04X", unsigned(byte));
    return code;
}

/// The parts after the operation's name for a text that must be a valid file name: the text, then
/// the first character not allowed in a file name (nothing more for an empty text).
std::vector<std::string> fileNameParts(const std::string& name) {
    std::vector<std::string> parts{name};
    if (const auto c = forbiddenFileNameCharacter(name)) parts.push_back(characterName(*c));
    return parts;
}

/// The parts after the operation's name for a folder that is not a valid absolute directory: the
/// folder, then the first character not allowed in a folder name or "//" for an empty one. A
/// folder that does not begin with "/" (or is empty) gets nothing more: the folder itself shows it.
std::vector<std::string> directoryParts(const std::string& directory) {
    std::vector<std::string> parts{directory};
    if (directory.empty() || directory.front() != '/') return parts;
    std::size_t begin = 1;
    while (begin < directory.size()) {
        const std::size_t end = std::min(directory.find('/', begin), directory.size());
        const std::string_view part = std::string_view(directory).substr(begin, end - begin);
        if (const auto c = forbiddenFileNameCharacter(part)) {
            parts.push_back(characterName(*c));
            break;
        }
        if (part.empty()) {
            parts.push_back("//");
            break;
        }
        begin = end + 1;
    }
    return parts;
}

/// The operation's name followed by `rest`.
std::string namedParts(std::string name, std::vector<std::string> rest) {
    rest.insert(rest.begin(), std::move(name));
    return quotedParts(rest);
}

std::string contradictionLine(const Preset& s, const RunSettings& run, const UiTextLookup& ui) {
    const auto name = [&](int code) { return operationName(code, ui); };
    const auto fails = [&](ConsistencyCheck check) { return consistencyCheckFails(check, s, run); };
    if (fails(ConsistencyCheck::NoActiveCondition)) return quotedParts({name(1), "x"});
    if (fails(ConsistencyCheck::CropMarginsZero)) {
        return quotedParts({name(2), ui(text::kMarginsLeftRightTop), "0, 0, 0, 0"});
    }
    if (fails(ConsistencyCheck::TrimSidesOff))
        return quotedParts({name(2), ui(text::kTrimSides), "x"});
    if (fails(ConsistencyCheck::ResizePixelsMissing)) {
        return quotedParts(
            {name(4), std::to_string(s.resizeWidth) + "x" + std::to_string(s.resizeHeight)});
    }
    if (fails(ConsistencyCheck::ResizePercentInvalid)) {
        return quotedParts({name(4), std::to_string(s.resizePercent) + "%"});
    }
    if (fails(ConsistencyCheck::ResizeNoLimit))
        return quotedParts({name(4), ui(text::kSizeLimits) + ": -"});
    if (fails(ConsistencyCheck::OverlayTextEmpty)) {
        return quotedParts({name(7), ui(text::kOverlayText), run.overlayTextRun});
    }
    if (fails(ConsistencyCheck::OverlayImageMissing)) {
        return quotedParts({name(7), ui(text::kImageFile), run.overlayImageRun});
    }
    if (fails(ConsistencyCheck::ExifDateOff)) {
        // The menu path to the switch that enables the EXIF date.
        return quotedParts({withoutAmpersands(ui(text::kOptionsMenu)),
                            withoutAmpersands(ui(text::kImageDateMenu)),
                            withoutAmpersands(ui(text::kUseExifDate))});
    }
    if (fails(ConsistencyCheck::DateShiftZero)) {
        return quotedParts(
            {name(10), ui(text::kShiftMinutes), std::to_string(s.fileDateShiftMinutes)});
    }
    if (fails(ConsistencyCheck::RenamePatternInvalid))
        return namedParts(name(12), fileNameParts(run.renamePatternRun));
    if (fails(ConsistencyCheck::RenamePatternOnlyName)) {
        return quotedParts({name(12), run.renamePatternRun});
    }
    if (fails(ConsistencyCheck::OutputDirInvalid))
        return namedParts(name(13), directoryParts(run.outputDirRun));
    if (fails(ConsistencyCheck::OutputDirIsImageFolder)) {
        return quotedParts({name(13), run.outputDirRun});
    }
    return {};
}

std::string filterValueLine(const Preset& s, const UiTextLookup& ui) {
    if (s.filterEnabled != 1) return {};
    const std::size_t count = s.filterConditions.size();
    for (std::size_t i = 0; i < count; ++i) {
        const FilterCondition& condition = s.filterConditions[i];
        if (filterValueUsable(condition)) continue;
        std::string line = "\"" + ui(filterPropertyNameIndex(condition.property)) + " -> " +
                           condition.value + "\"";
        if (count > 1) line += "  (" + std::to_string(i + 1) + ")";
        return line;
    }
    return {};
}

} // namespace

UiTextLookup currentUiTexts() {
    return [](int index) { return uiText(index); };
}

int operationNameIndex(int detailCode) {
    constexpr int kNames[] = {text::kGeneral,  text::kFilter,         text::kCrop,
                              text::kRotate,   text::kResize,         text::kColoursPage,
                              text::kCanvas,   text::kOverlay,        text::kSorting,
                              text::kMetadata, text::kFileDates,      text::kOutputFormat,
                              text::kRenaming, text::kOutputDirectory};
    if (detailCode < 0 || detailCode >= static_cast<int>(std::size(kNames))) return -1;
    return kNames[detailCode];
}

std::string operationName(int detailCode, const UiTextLookup& texts) {
    const int index = operationNameIndex(detailCode);
    return index < 0 ? std::string() : texts(index);
}

int filterPropertyNameIndex(int property) {
    return (property >= 0 && property < kFilterPropertyCount) ? text::kPropertyFolder + property
                                                              : -1;
}

std::string problemList(ValidationResult result, const Preset& settings, const RunSettings& run,
                        const UiTextLookup& texts) {
    switch (result) {
    case ValidationResult::Contradictory:
        return contradictionLine(settings, run, texts);
    case ValidationResult::BadFilterValue:
        return filterValueLine(settings, texts);
    default:
        return {};
    }
}

} // namespace quill::settings
