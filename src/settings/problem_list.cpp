// The problem list: which setting made the validation refuse a run, as one line of text.
#include "settings/problem_list.h"

#include "settings/filter_conditions.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <initializer_list>

namespace quill::settings {
namespace {

std::string quotedParts(std::initializer_list<std::string> parts) {
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
    if (fails(ConsistencyCheck::RenamePatternInvalid)) return quotedParts({name(12), "-"});
    if (fails(ConsistencyCheck::RenamePatternOnlyName)) {
        return quotedParts({name(12), run.renamePatternRun});
    }
    if (fails(ConsistencyCheck::OutputDirInvalid)) return quotedParts({name(13), "-"});
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
