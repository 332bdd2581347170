// Command-line parsing: switches in any letter case, the preset choice and the path arguments.
#include "app/command_line.h"

#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace quill::app {
namespace {

AppContext parse(const std::vector<std::string>& arguments) {
    AppContext context;
    parseCommandLine(arguments, context);
    return context;
}

TEST(CommandLine, SwitchesIgnoreLetterCaseButNotExtraCharacters) {
    EXPECT_TRUE(parse({"-cOnSoLe"}).consoleMode);
    for (const char* spelling : {"-Consoles", "-Console ", "--Console"})
        EXPECT_FALSE(parse({spelling}).consoleMode) << spelling;
    EXPECT_TRUE(parse({"-IGNOREWARNING"}).ignoreWarnings);

    // Help implies portable mode, so it never creates the per-user folder.
    for (const char* spelling : {"-HELP", "-?"}) {
        const AppContext c = parse({spelling});
        EXPECT_TRUE(c.helpRequested && c.portableMode && !c.consoleMode) << spelling;
    }
    // Unknown switches are ignored and are not paths.
    const AppContext c = parse({"-Verbose", "-", "-Preset", ""});
    EXPECT_TRUE(c.pathArguments.empty());
    EXPECT_EQ(c.startPreset, -1);
}

TEST(CommandLine, PresetChoiceNeedsExactlyOneCharacterAfterTheEqualsSign) {
    EXPECT_EQ(parse({"-PRESET=9"}).startPreset, 9);
    EXPECT_EQ(parse({"-Preset=x"}).startPreset, 0);              // a letter selects preset 0
    EXPECT_EQ(parse({"-Preset=\xC3\xA9"}).startPreset, 0);       // one non-ASCII character
    EXPECT_EQ(parse({"-Preset=12"}).startPreset, -1);            // too long
    EXPECT_EQ(parse({"-Preset="}).startPreset, -1);              // too short
    EXPECT_EQ(parse({"-Preset=2", "-Preset=5"}).startPreset, 5); // the later one wins
    EXPECT_EQ(parse({"-Preset=2", "-Preset=55"}).startPreset, 2);
}

TEST(CommandLine, PathArgumentsAreCollectedInOrderWithEveryByte) {
    const AppContext c = parse({"a.jpg", "-Console", "dir with space/", "", "/abs/b.png",
                                "-Preset=1", "\xFF\xFE odd bytes", "line\nfeed.png"});
    EXPECT_EQ(c.pathArguments, (imagefiles::PathList{"a.jpg", "dir with space/", "/abs/b.png",
                                                     "\xFF\xFE odd bytes", "line\nfeed.png"}));
    EXPECT_TRUE(c.consoleMode);
    EXPECT_EQ(c.startPreset, 1);
    EXPECT_TRUE(hasRelativePathArgument(c.pathArguments));
    EXPECT_FALSE(hasRelativePathArgument({"/abs/b.png", ""}));
}

TEST(CommandLine, DotLevelsLeaveThePathsAndClimbAsTheFileSystemDoes) {
    // start/ holds "link" -> deep/er; "link/.." is deep/, not start/.
    test::TempDir dir;
    ASSERT_TRUE(platform::createDirectories(dir.path() + "deep/er"));
    ASSERT_TRUE(platform::createDirectories(dir.path() + "start/today"));
    ASSERT_EQ(::symlink((dir.path() + "deep/er").c_str(), (dir.path() + "start/link").c_str()), 0);
    const std::string real = *platform::resolvedPath(dir.path());
    const std::string start = dir.path() + "start/";
    const struct {
        std::string argument, resolved;
    } cases[] = {
        {"../holiday", real + "/holiday"},         {".", dir.path() + "start"},
        {"today/.//x.jpg", start + "today/x.jpg"}, {"link/../y.jpg", real + "/deep/y.jpg"},
        {"missing/../../z/", dir.path() + "z/"},   {"/../..", "/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolvePathArguments({c.argument}, start), imagefiles::PathList{c.resolved})
            << c.argument;
}

} // namespace
} // namespace quill::app
