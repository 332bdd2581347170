// The program never loses a file: killed at any moment, or writing into a full disk, every source
// is intact or its complete output is in place.
#include "console_program.h"

#include "imagefiles/image_loader.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace quill::test {
namespace {

using ::testing::HasSubstr;

/// A complete JPEG ends with the end-of-image marker and decodes.
bool isCompleteJpeg(const std::string& path) {
    const auto bytes = readBytes(path);
    if (bytes.size() < 4 || bytes[bytes.size() - 2] != 0xFF || bytes[bytes.size() - 1] != 0xD9)
        return false;
    return !imagefiles::loadImageFile(path, 0).empty();
}

/// Starts the program (through a shell) in a process group of its own and returns the group's
/// id; killing the group kills the program.
pid_t startProgram(const ConsoleProgram& program, const std::vector<std::string>& args) {
    const std::string command = program.command(args) + " >/dev/null 2>&1";
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid > 0) setpgid(pid, pid);
    return pid;
}

TEST(NoDataLoss, KilledAtRandomPointsNeverLosesASourceOrLeavesAPartialOutput) {
    if (!haveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    TempDir photos;
    const std::string photo = photos.file("photo.jpg");
    ASSERT_EQ(runCommand("/usr/bin/convert -seed 3 -size 1600x1200 plasma:fractal -quality 90 " +
                         shellQuote(photo)),
              0);
    const auto original = readBytes(photo);

    std::mt19937 random(20261206);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ConsoleProgram program;
        settings::Preset preset = program.basePreset();
        preset.convertFormat = 0;
        preset.resizeEnabled = 1;
        preset.resizeMode = settings::ResizeMode::Percent;
        preset.resizePercent = 50;
        preset.moveOriginal = 1; // the riskiest mode: sources are deleted after writing
        program.setPresets({preset});
        constexpr int kImages = 24;
        for (int i = 0; i < kImages; ++i)
            writeBytes(program.in("img" + std::to_string(i) + ".jpg"), original);

        const pid_t pid = startProgram(program, {"-Console", "-IgnoreWarning", program.in()});
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(300, 2500)(random)));
        kill(-pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);

        int outputs = 0;
        for (int i = 0; i < kImages; ++i) {
            const std::string name = "img" + std::to_string(i) + ".jpg";
            const bool sourceThere = platform::fileExists(program.in(name));
            const bool outputThere = platform::fileExists(program.out(name));
            EXPECT_TRUE(sourceThere || outputThere) << name << " was lost";
            if (sourceThere) {
                EXPECT_EQ(readBytes(program.in(name)), original) << name;
            }
            if (outputThere) {
                EXPECT_TRUE(isCompleteJpeg(program.out(name))) << name << " is partial";
                ++outputs;
            }
        }
        // Whatever the moment of the kill, no file under an output name is partial (checked
        // above); the only other files are the temporary ones of the write that was cut short.
        const auto entries = platform::listDirectory(program.out());
        ASSERT_TRUE(entries);
        for (const auto& entry : *entries) {
            if (entry.name.front() != '.') { // hidden: a temporary file
                EXPECT_THAT(entry.name, ::testing::MatchesRegex("img[0-9]+\\.jpg"));
            }
        }
        RecordProperty("outputs_before_kill", outputs);
    }
}

void fullDiskRun() {
    ConsoleProgram program;
    SmallDisk disk(program.out(), 256);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";

    settings::Preset preset = program.basePreset();
    preset.outputFormat =
        settings::OutputFormat::Bmp; // BMP: 1000 x 1000 needs 3 MB, far beyond the 256 KiB disk
    preset.moveOriginal = 1;
    program.setPresets({preset});
    ASSERT_EQ(runCommand("/usr/bin/convert -size 1000x1000 xc:teal " +
                         shellQuote(program.in("a_big.png"))),
              0);
    ASSERT_EQ(runCommand("/usr/bin/convert -size 20x20 xc:orange " +
                         shellQuote(program.in("b_small.png"))),
              0);
    const auto bigSource = readBytes(program.in("a_big.png"));

    const ProgramRun run = program.run(
        {"-Console", "-IgnoreWarning", program.in("a_big.png"), program.in("b_small.png")});
    EXPECT_EQ(run.status, 1) << run.out;
    const auto log = readBytes(program.programDir() + "Quillmere_Errorlog.txt");
    EXPECT_THAT(std::string(log.begin(), log.end()),
                HasSubstr("Output: " + program.out("a_big.bmp") + "\r\nError: Writing failed"));
    // The failed image: no output, nothing partial, the source as it was.
    EXPECT_FALSE(platform::fileExists(program.out("a_big.bmp")));
    EXPECT_EQ(readBytes(program.in("a_big.png")), bigSource);
    // The next image was still written (and its source moved).
    EXPECT_TRUE(platform::fileExists(program.out("b_small.bmp")));
    EXPECT_FALSE(platform::fileExists(program.in("b_small.png")));
    EXPECT_EQ(platform::listDirectory(program.out())->size(), 1u);
}

TEST(NoDataLoss, FullDiskFailsThatImageKeepsItsSourceAndTheRunGoesOn) {
    if (!haveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    for (const char* threads : {"1", "4"}) {
        SCOPED_TRACE(std::string("threads ") + threads);
        setenv("QUILL_THREADS", threads, 1);
        fullDiskRun();
        unsetenv("QUILL_THREADS");
        if (HasFatalFailure() || IsSkipped()) return;
    }
}

} // namespace
} // namespace quill::test
