// Settings validation: the default presets, the range phase, the consistency checks and their
// order, the overlay image, and the problem-list texts.
#include "settings/settings_validation.h"

#include "settings/preset_range.h"
#include "settings/problem_list.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quill::settings {
namespace {

using Change = void (*)(Preset&);
using enum ValidationResult;

RunSettings derive(const Preset& s) {
    return deriveRunSettings(s, RunContext{3, {"/home/u/Desktop/", "/d/", "/opt/q/"}, 0});
}

void widthInName(Preset& s) {
    s.renameEnabled = 1, s.renamePattern = "%iw%";
}

// Default preset 0 changed by `change`, validated in mode 1.
ValidationResult validate(Change change, bool video = false) {
    Preset s = defaultPreset(0, "p");
    change(s);
    return settingsValidation(ValidationScope::Whole, s, derive(s), ListedVideos{video});
}

TEST(SettingsValidation, DefaultPresetsAreValidAndTheRangeScopeChecksNoMore) {
    for (int n = 0; n <= 5; ++n) {
        const Preset s = defaultPreset(n, "p");
        EXPECT_EQ(settingsValidation(ValidationScope::Whole, s, derive(s), ListedVideos::None),
                  Valid)
            << n;
    }
    Preset idle = defaultPreset(0, "p");
    idle.outputDirEnabled = idle.convertFormat = 0;
    EXPECT_EQ(settingsValidation(ValidationScope::Ranges, idle, derive(idle), ListedVideos::None),
              Valid); // no consistency phase
}

// Every field against its range, inclusive: a number, the length of a text. A violation is told
// by the first field in record order, conditions in the place of their list; conditions are
// range-checked while the filter is off.
TEST(SettingsValidation, TheFirstFieldOutOfRangeIsNamed) {
    const std::pair<Change, std::string_view> cases[] = {
        {[](Preset& s) { s.selectedPage = 13; }, ""},
        {[](Preset& s) { s.selectedPage = 14; }, "selectedPage"},
        {[](Preset& s) { s.commentText.assign(kMaxPresetTextBytes, 'a'); }, ""},
        {[](Preset& s) { s.commentText.assign(kMaxPresetTextBytes + 1, 'a'); }, "commentText"},
        {[](Preset& s) { s.overlayFontName.clear(); }, "overlayFontName"},
        {[](Preset& s) { s.quality = 11, s.cropLeft = -1; }, "cropLeft"},
        {[](Preset& s) {
             s.quality = 0, s.filterConditions = {{2, 4, 9, "1", 1}};
         },
         "filterConditions"},
        {[](Preset& s) {
             s.filterConditions = {{2, 15, 0, "1", 1}};
         },
         "filterConditions"},
    };
    for (const auto& [change, field] : cases) {
        Preset s = defaultPreset(0, "p");
        change(s);
        EXPECT_EQ(fieldOutOfRange(s), field);
        EXPECT_EQ(presetInRange(s), field.empty()) << field;
        EXPECT_EQ(validate(change), field.empty() ? Valid : OutOfRange) << field;
    }
}

// The checks that the problem-list tables below name (the patterns among them) are left to them.
TEST(SettingsValidation, ConsistencyChecks) {
    const std::pair<Change, ValidationResult> cases[] = {
        {[](Preset& s) { s.outputDirEnabled = s.convertFormat = 0; }, NothingToDo},
        {[](Preset& s) { s.outputDirEnabled = s.convertFormat = 0, s.setFileDates = 1; },
         NothingToDo},
        {[](Preset& s) { s.outputDirEnabled = s.convertFormat = s.keepMetadata = 0; }, Valid},
        {[](Preset& s) {
             s.cropEnabled = 1, s.cropMode = CropMode::Trim;
             s.trimLeft = s.trimRight = s.trimTop = s.trimBottom = 0;
         },
         Contradictory},
        {[](Preset& s) { s.resizeEnabled = 1, s.resizeHeight = 0; }, Valid},
        {[](Preset& s) { s.resizeEnabled = 1, s.resizeLimits = ResizeLimits::None; },
         Contradictory},
        {[](Preset& s) {
             s.resizeEnabled = 1, s.resizeMode = ResizeMode::Percent, s.resizePercent = 100;
         },
         Contradictory},
        {[](Preset& s) { s.overlayEnabled = 1; }, Contradictory}, // empty text
        {[](Preset& s) {
             s.setFileDates = 1, s.fileDateSource = FileDateSource::Shifted,
             s.fileDateShiftMinutes = 0;
         },
         Contradictory},
        {[](Preset& s) { s.renameEnabled = 1, s.renamePattern = "x_%FN%"; }, Valid},
        {[](Preset& s) { s.outputDirPattern = "%PF%\\"; }, Valid}, // left to the pipeline
        {[](Preset& s) { s.outputDirPattern = "%PF%\\\\", s.mirrorSubfolders = 1; }, Valid},
        {[](Preset& s) {
             s.filterEnabled = 1;
             s.filterConditions = {{2, 4, 2, "800", 1}, {0, 1, 0, "", 2}}; // inactive, empty
         },
         BadFilterValue},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(validate(cases[i].first), cases[i].second) << "case " << i;
    }
    // Image details that videos cannot supply; an earlier failing check decides first.
    EXPECT_EQ(validate(widthInName, true), VideosNeedDetails);
    EXPECT_EQ(validate(widthInName, false), Valid);
    EXPECT_EQ(validate([](Preset& s) { widthInName(s), s.cropEnabled = 1; }, true), Contradictory);
}

// An overlay image must exist with at least the size of the smallest image file.
TEST(SettingsValidation, OverlayImageMustBeLargeEnoughForAnImage) {
    test::TempDir dir;
    Preset s = defaultPreset(0, "p");
    s.overlayEnabled = 1, s.overlayKind = OverlayKind::Image;
    s.overlayImagePath = dir.file("logo.png");
    test::writeBytes(s.overlayImagePath, std::vector<std::uint8_t>(34, 1));
    EXPECT_EQ(settingsValidation(ValidationScope::Whole, s, derive(s), ListedVideos::None),
              Contradictory);
    test::writeBytes(s.overlayImagePath, std::vector<std::uint8_t>(35, 1));
    EXPECT_EQ(settingsValidation(ValidationScope::Whole, s, derive(s), ListedVideos::None), Valid);
}

// Each case: default preset 0 changed, and its problem list with the texts "T&<index>".
template <std::size_t N> void check(const std::pair<Change, const char*> (&cases)[N]) {
    const UiTextLookup texts = [](int index) { return "T&" + std::to_string(index); };
    for (const auto& [change, expected] : cases) {
        Preset s = defaultPreset(0, "p");
        change(s);
        const RunSettings run = derive(s);
        EXPECT_EQ(
            problemList(settingsValidation(ValidationScope::Whole, s, run, ListedVideos::None), s,
                        run, texts),
            expected)
            << expected;
    }
}

// The line names the first failing check, with the menu path to the setting without its "&".
TEST(ProblemList, FirstOffendingSettingInCheckOrder) {
    const std::pair<Change, const char*> cases[] = {
        {[](Preset& s) { s.filterEnabled = s.cropEnabled = 1; }, "\"T&66\" -> \"x\""},
        {[](Preset& s) { s.cropEnabled = 1; }, "\"T&68\" -> \"T&111\" -> \"0, 0, 0, 0\""},
        {[](Preset& s) { s.resizeEnabled = 1, s.resizeHeight = s.resizeWidth = 0; },
         "\"T&70\" -> \"0x0\""},
        {[](Preset& s) { s.renameEnabled = 1, s.renamePattern = "%fn%"; }, "\"T&80\" -> \"%FN%\""},
        {[](Preset& s) { s.outputDirPattern = "%PF%//"; }, "\"T&81\" -> \"/\""},
        {[](Preset& s) {
             s.setFileDates = 1, s.fileDateSource = FileDateSource::ImageDate, s.useExifDate = 0;
         },
         "\"T9\" -> \"T19\" -> \"T20\""},
        {[](Preset& s) {
             s.filterEnabled = 1;
             s.filterConditions = {{2, 4, 2, "800", 1}, {2, 4, 2, "0", 1}};
         },
         "\"T&98 -> 0\"  (2)"},
        {[](Preset&) {}, ""},
    };
    check(cases);
}

// A pattern that cannot name a file or folder is shown with the first thing that is not allowed
// in it: a character (a control character by its code), an empty folder name, or nothing at all.
TEST(ProblemList, PatternsNameWhatIsNotAllowed) {
    const std::pair<Change, const char*> cases[] = {
        {[](Preset& s) { s.renameEnabled = 1, s.renamePattern = "photos/%fn%"; },
         "\"T&80\" -> \"photos/%FN%\" -> \"/\""},
        {[](Preset& s) { s.renameEnabled = 1, s.renamePattern = "a*b?%FN%"; },
         "\"T&80\" -> \"a*b?%FN%\" -> \"*\""},
        {[](Preset& s) { s.renameEnabled = 1, s.renamePattern = "a\tb"; },
         "\"T&80\" -> \"a\tb\" -> \"U+0009\""},
        {[](Preset& s) { s.renameEnabled = 1, s.renamePattern = ""; }, "\"T&80\" -> \"\""},
        {[](Preset& s) { s.outputDirPattern = "/data/a:b/"; },
         "\"T&81\" -> \"/data/a:b/\" -> \":\""},
        {[](Preset& s) { s.outputDirPattern = "/data//out/"; },
         "\"T&81\" -> \"/data//out/\" -> \"//\""},
        {[](Preset& s) { s.outputDirPattern = "%PD%/x|y/"; },
         "\"T&81\" -> \"/home/u/Desktop/x|y/\" -> \"|\""},
        {[](Preset& s) { s.outputDirPattern = "out\\"; }, "\"T&81\" -> \"out/\""},
        {[](Preset& s) { s.outputDirPattern = ""; }, "\"T&81\" -> \"\""},
    };
    check(cases);
}

} // namespace
} // namespace quill::settings
