// Run settings: derivation from presets, relative-path resolution and the common base folder.
#include "settings/run_settings.h"

#include <gtest/gtest.h>

namespace quill::settings {
namespace {

RunContext context(std::size_t imageCount = 1) {
    return RunContext{imageCount, {"/home/u/Desktop/", "/home/u/Documents/", "/opt/q/bin/"}, 777};
}

// The overlay text and the path tokens are prepared once per run, relative paths are resolved
// against the program folder, and a fixed date of 0 takes the date control's value.
TEST(RunSettingsDerivation, PreparedTextsAndDates) {
    Preset s = defaultPreset(4, "p");
    s.overlayEnabled = 1;
    s.setFileDates = 1;
    s.fileDateSource = FileDateSource::Fixed;
    s.outputDirPattern = "%pd%\\output\\%dy%";
    RunSettings run = deriveRunSettings(s, context());
    EXPECT_EQ(run.overlayTextRun, "%IW%x%IH% (%IR% MP)\n\"%FN%\"");
    EXPECT_EQ(run.outputDirRun, "/home/u/Desktop/output/%DY%/");
    EXPECT_EQ(run.fixedDateRun, 777);
    s.overlayKind = OverlayKind::Image;
    s.overlayImagePath = "..\\logo.png";
    run = deriveRunSettings(s, context());
    EXPECT_TRUE(run.overlayTextRun.empty());
    EXPECT_EQ(run.overlayImageRun, "/opt/q/logo.png");
    // Sorting by the EXIF date needs image details; preset 2 needs none.
    EXPECT_EQ(deriveRunSettings(defaultPreset(1, "p"), context(1)).needsImageData, 1);
    EXPECT_EQ(deriveRunSettings(defaultPreset(2, "p"), context(2)).needsImageData, 0);
}

TEST(RunSettingsPaths, RelativePathsAndCommonBase) {
    const std::pair<const char*, const char*> paths[] = {
        {"", "/opt/q/"},
        {".\\", "/opt/q/"},
        {"/abs/l.png", "/abs/l.png"},
        {"%PD%\\l.png", "%PD%/l.png"},
        {"l.png", "/opt/q/l.png"},
        {"..\\l.png", "/opt/l.png"},
        {"../../../l.png", "/l.png"},
    };
    for (const auto& [path, expected] : paths) {
        EXPECT_EQ(resolveRelativePath(path, "/opt/q/"), expected) << path;
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(commonBaseFolder(V{"/a/y/z/", "/a/x/"}), "/a/");
    EXPECT_EQ(commonBaseFolder(V{"/a/x/", "/a/xy/"}), "/a/");
    EXPECT_EQ(commonBaseFolder(V{"/a/X/", "/a/x/"}), "/a/"); // case-sensitive, as the file system
    EXPECT_EQ(commonBaseFolder(V{"rel/x/", "/a/"}), "");
    EXPECT_EQ(commonBaseFolder(V{}), "");
}

} // namespace
} // namespace quill::settings
