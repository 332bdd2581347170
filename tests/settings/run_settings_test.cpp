// Run settings: derivation from presets, relative-path resolution and the common base folder.
#include "settings/run_settings.h"

#include <gtest/gtest.h>

namespace quill::settings {
namespace {

RunContext context(std::size_t imageCount = 1) {
    return RunContext{imageCount, {"/home/u/Desktop/", "/home/u/Documents/", "/opt/q/bin/"}, 777};
}

TEST(RunSettingsDerivation, ResizeFields) {
    const struct {
        int mode, width, height, limits;
        int axis, limitMode;
    } cases[] = {{0, 1024, 0, 3, 1, 0}, {0, 0, 768, 1, 2, 1}, {0, 0, 0, 2, 0, 2},
                 {0, 9, 9, 0, 0, -1},   {1, 0, 5, 3, 0, 0}};
    for (const auto& c : cases) {
        Preset s;
        s.resizeEnabled = 1;
        s.resizeMode = static_cast<std::uint8_t>(c.mode);
        s.resizeWidth = static_cast<std::int16_t>(c.width);
        s.resizeHeight = static_cast<std::int16_t>(c.height);
        s.resizeLimits = static_cast<std::uint8_t>(c.limits);
        const RunSettings run = deriveRunSettings(s, context());
        EXPECT_EQ(run.resizeBasis, c.mode);
        EXPECT_EQ(run.resizeAxis, c.axis);
        EXPECT_EQ(run.resizeLimitMode, c.limitMode);
    }
    EXPECT_EQ(deriveRunSettings(Preset{}, context()).resizeAxis, -1);
}

TEST(RunSettingsDerivation, PreparedTextsAndDates) {
    Preset s = defaultPreset(4, "p");
    s.overlayEnabled = 1;
    s.setFileDates = 1;
    s.fileDateSource = 1;
    s.outputDirPattern = "%pd%\\output\\%dy%";
    RunSettings run = deriveRunSettings(s, context());
    EXPECT_EQ(run.overlayTextRun, "%IW%x%IH% (%IR% MP)\n\"%FN%\"");
    EXPECT_EQ(run.outputDirRun, "/home/u/Desktop/output/%DY%/");
    EXPECT_EQ(run.outputDirFromImageFolder, 0);
    EXPECT_EQ(run.fixedDateRun, 777); // fixedFileDate 0: the date control's value
    EXPECT_EQ(run.needsImageData, 1);

    s.overlayKind = 1;
    s.overlayImagePath = "..\\logo.png";
    s.outputDirPattern = "%Pf%\\small";
    run = deriveRunSettings(s, context());
    EXPECT_TRUE(run.overlayTextRun.empty());
    EXPECT_EQ(run.overlayImageRun, "/opt/q/logo.png");
    EXPECT_EQ(run.outputDirRun, "small/");
    EXPECT_EQ(run.outputDirFromImageFolder, 1);
    // Sorting by the EXIF date needs image details; preset 2 needs none.
    EXPECT_EQ(deriveRunSettings(defaultPreset(1, "p"), context(1)).needsImageData, 1);
    EXPECT_EQ(deriveRunSettings(defaultPreset(2, "p"), context(2)).needsImageData, 0);
}

TEST(RunSettingsPaths, RelativePathsAndCommonBase) {
    const std::pair<const char*, const char*> paths[] = {
        {"", "/opt/q/"},           {".\\", "/opt/q/"},         {"/abs/l.png", "/abs/l.png"},
        {"%PD%\\l.png", "%PD%/l.png"}, {"l.png", "/opt/q/l.png"}, {"..\\l.png", "/opt/l.png"},
        {"../../../l.png", "/l.png"},
    };
    for (const auto& [path, expected] : paths) {
        EXPECT_EQ(resolveRelativePath(path, "/opt/q/"), expected) << path;
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(commonBaseFolder(V{"/a/y/z/", "/a/x/"}), "/a/");
    EXPECT_EQ(commonBaseFolder(V{"/a/x/"}), "/a/x/");
    EXPECT_EQ(commonBaseFolder(V{"/a/x/", "/a/xy/"}), "/a/");
    EXPECT_EQ(commonBaseFolder(V{"/a/X/", "/a/x/"}), "/a/"); // case-sensitive, as the file system
    EXPECT_EQ(commonBaseFolder(V{"rel/x/", "/a/"}), "");
    EXPECT_EQ(commonBaseFolder(V{}), "");
}

} // namespace
} // namespace quill::settings
