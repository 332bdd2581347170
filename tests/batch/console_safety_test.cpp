// Console runs of the real program where the user or others make it hard: escape sequences in
// names, pipes, folders it may not write to, path arguments that climb.
#include "console_program.h"

#include "settings/preset.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace quill::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(ConsoleSafety, NoPauseAfterSuccessWhenOutputIsAPipe) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.convertFormat = 0;
    program.setPresets({preset});
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "a.bmp");

    std::FILE* pipe =
        ::popen((program.command({"-Console", program.in()}) + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    bool sawResult = false;
    Clock::time_point resultAt{};
    while (std::fgets(line, sizeof line, pipe)) {
        if (std::string(line) == "Result: Processed successfully\n") {
            sawResult = true;
            resultAt = Clock::now();
        }
    }
    const auto tail = Clock::now() - resultAt;
    EXPECT_EQ(::pclose(pipe), 0);
    ASSERT_TRUE(sawResult);
    // After the result only the footer is printed; the 1.5 s pause is for people at a terminal.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(tail).count(), 1000);
}

TEST(ConsoleSafety, EscapeSequencesFromPresetsAndNamesNeverReachTheTerminal) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.name = "Evil \x1b]0;owned\x07 \xc2\x9b"
                  "2J name";
    preset.convertFormat = 0;
    program.setPresets({preset});
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "\x1b[31mred.bmp");

    const ProgramRun run = program.run({"-Console", program.in()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Preset: 0 -> \"Evil ?]0;owned? ?2J name\""), std::string::npos)
        << run.out;
    for (const char c : run.out)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
    // The file keeps its name.
    EXPECT_TRUE(platform::fileExists(program.out("\x1b[31mred.bmp")));
}

TEST(ConsoleSafety, PortableRunLogsIntoThePerUserFolderWhenTheProgramFolderRefuses) {
    ConsoleProgram program; // portable: the presets file sits next to the program
    settings::Preset preset = program.basePreset();
    preset.resizeEnabled = 1;
    program.setPresets({preset});
    writeText(program.in("tiny.jpg"), std::string(34, 'x'));
    // The log cannot be written next to the program (a folder holds its name; permissions would
    // not stop a test that runs as root).
    ASSERT_TRUE(platform::createDirectory(program.programDir() + "Quillmere_Errorlog.txt"));

    const ProgramRun run = program.run({"-Console", program.in("tiny.jpg")});
    EXPECT_EQ(run.status, 1);
    const std::string log = program.root() + "home/.config/Quillmere/Quillmere_Errorlog.txt";
    EXPECT_NE(run.out.find("Take a look at \"Errorlog.txt\" for more information.\n" + log + "\n"),
              std::string::npos)
        << run.out;
    EXPECT_TRUE(platform::isRegularFile(log));
}

TEST(ConsoleSafety, MirroredFoldersStayInsideTheOutputFolderWhateverTheArguments) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.convertFormat = 0;
    preset.mirrorSubfolders = 1;
    program.setPresets({preset});
    ASSERT_TRUE(platform::createDirectories(program.in("holiday")));
    ASSERT_TRUE(platform::createDirectories(program.in("today")));
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "holiday/a.bmp");
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "today/b.bmp");

    // Started inside in/today with "../holiday" and ".".
    std::string command = program.command({"-Console", "../holiday", "."});
    const std::string cd = "cd " + shellQuote(program.root());
    ASSERT_EQ(command.rfind(cd, 0), 0u);
    command = "cd " + shellQuote(program.in("today")) + command.substr(cd.size());
    std::string out;
    EXPECT_EQ(runCommand(command + " 2>/dev/null", &out), 0) << out;
    EXPECT_TRUE(platform::isRegularFile(program.out("holiday/a.bmp"))) << out;
    EXPECT_TRUE(platform::isRegularFile(program.out("today/b.bmp")));
    EXPECT_FALSE(platform::fileExists(program.root() + "holiday"));
    EXPECT_FALSE(platform::fileExists(program.in("a.bmp")));
}

} // namespace
} // namespace quill::test
