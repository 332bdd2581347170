// Command-line parsing: switches in any letter case, the preset choice and the path arguments.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace quill::app {
namespace {

AppContext parse(const std::vector<std::string> &arguments) {
    AppContext context;
    parseCommandLine(arguments, context);
    return context;
}

TEST(CommandLine, SwitchesIgnoreLetterCaseButNotExtraCharacters) {
    for (const char *spelling : {"-Console", "-console", "-CONSOLE", "-cOnSoLe"}) {
        EXPECT_TRUE(parse({spelling}).consoleMode) << spelling;
    }
    EXPECT_FALSE(parse({"-Consoles"}).consoleMode);
    EXPECT_FALSE(parse({"-Console "}).consoleMode);
    EXPECT_FALSE(parse({"--Console"}).consoleMode);
    EXPECT_TRUE(parse({"-IGNOREWARNING"}).ignoreWarnings);
    EXPECT_TRUE(parse({"-uninstall"}).uninstallRequested);
    EXPECT_TRUE(parse({"-PORTABLE"}).portableMode);

    // Help implies portable mode, so it never creates the per-user folder.
    for (const char *spelling : {"-Help", "-HELP", "-?"}) {
        const AppContext c = parse({spelling});
        EXPECT_TRUE(c.helpRequested) << spelling;
        EXPECT_TRUE(c.portableMode) << spelling;
        EXPECT_FALSE(c.consoleMode);
    }
    // Unknown switches are ignored and are not paths.
    const AppContext c = parse({"-Verbose", "-", "-Preset", ""});
    EXPECT_EQ(c.pathArguments, "");
    EXPECT_EQ(c.startPreset, -1);
}

TEST(CommandLine, PresetChoiceNeedsExactlyOneCharacterAfterTheEqualsSign) {
    EXPECT_EQ(parse({"-Preset=3"}).startPreset, 3);
    EXPECT_EQ(parse({"-PRESET=9"}).startPreset, 9);
    EXPECT_EQ(parse({"-preset=0"}).startPreset, 0);
    EXPECT_EQ(parse({"-Preset=x"}).startPreset, 0); // a letter selects preset 0
    EXPECT_EQ(parse({"-Preset=-"}).startPreset, 0);
    EXPECT_EQ(parse({"-Preset=\xC3\xA9"}).startPreset, 0); // one non-ASCII character
    EXPECT_EQ(parse({"-Preset=12"}).startPreset, -1);      // too long
    EXPECT_EQ(parse({"-Preset="}).startPreset, -1);        // too short
    EXPECT_EQ(parse({"-Presets3"}).startPreset, -1);
    EXPECT_EQ(parse({"-Preset=2", "-Preset=5"}).startPreset, 5); // the later one wins
    EXPECT_EQ(parse({"-Preset=2", "-Preset=55"}).startPreset, 2);
}

TEST(CommandLine, PathArgumentsAreCollectedInOrder) {
    const AppContext c = parse({"a.jpg", "-Console", "dir with space/", "", "/abs/b.png",
                                "-Preset=1", "\xFF\xFE odd bytes"});
    EXPECT_EQ(c.pathArguments, "a.jpg\ndir with space/\n/abs/b.png\n\xFF\xFE odd bytes\n");
    EXPECT_TRUE(c.consoleMode);
    EXPECT_EQ(c.startPreset, 1);
}

TEST(CommandLine, RelativePathsResolveAgainstTheStartDirectory) {
    EXPECT_EQ(resolvePathArguments("photos/a.jpg\n/abs/b.jpg\n./c.jpg\n", "/home/u/"),
              "/home/u/photos/a.jpg\n/abs/b.jpg\n/home/u/./c.jpg\n");
    EXPECT_EQ(resolvePathArguments("", "/home/u/"), "");
}

} // namespace
} // namespace quill::app
