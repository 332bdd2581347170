// The program never loses a file, nor changes one it was not asked about: killed at any moment,
// writing into a full disk, other spellings of a name, links, pipes, a second run into the same
// folder, and the order of the file-system calls that make an output durable.
#include "console_program.h"

#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quill::test {
namespace {

using platform::fileExists;
using ::testing::HasSubstr;
using ::testing::Not;

void halve(settings::Preset& preset) {
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Percent;
    preset.resizePercent = 50;
}

TEST(FileSafety, InPlaceMeansTheSourcesOwnPathWhateverTheSpelling) {
    for (const bool decode : {true, false}) {
        SCOPED_TRACE(decode ? "re-encoded" : "metadata only");
        ConsoleProgram program;
        program.usePreset([&](settings::Preset& preset) {
            preset.outputDirEnabled = 0;
            preset.convertFormat = 0;
            preset.keepMetadata = 0;
            if (decode) halve(preset);
        });
        const std::string camera = program.addSample("exif/Canon_40D.jpg", "photo.JPG");
        const std::string other = program.addSample("exif/Nikon_D70.jpg", "photo.jpg");
        const auto otherBytes = readBytes(other);

        // One file under two spellings is one image.
        const ProgramRun run =
            program.run({"-Console", "-IgnoreWarning", camera, program.root() + "in//./photo.JPG"});
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_THAT(run.out, HasSubstr("Loaded images: 1\n"));
        EXPECT_EQ(readBytes(other), otherBytes) << "another file under another spelling";
        const auto bytes = readBytes(camera);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("Exif"), std::string::npos)
            << "the source itself was to lose its metadata";
    }
}

TEST(FileSafety, AFifoIsUnreadableAndDoesNotHangTheRun) {
    ConsoleProgram program;
    program.usePreset([](settings::Preset& preset) {
        preset.outputFormat = settings::OutputFormat::Png;
        halve(preset); // every image is decoded, the next one ahead of time
    });
    program.addSample("exif/Canon_40D.jpg", "a.jpg");
    ASSERT_EQ(mkfifo(program.in("x.png").c_str(), 0600), 0);
    program.addSample("exif/Nikon_D70.jpg", "z.jpg");

    const std::string command = shellQuote(program.command({"-Console", program.in()}));
    std::string out;
    const int status = runCommand("timeout 120 sh -c " + command + " 2>/dev/null", &out);
    ASSERT_NE(status, 124) << "the run hung";
    EXPECT_EQ(status, 1) << out;
    EXPECT_TRUE(fileExists(program.out("a.png")));
    EXPECT_TRUE(fileExists(program.out("z.png")));
    EXPECT_THAT(program.errorLog(), HasSubstr("Image: " + program.in("x.png")));
}

TEST(FileSafety, MetadataThatCouldNotBeRemovedFailsTheImage) {
    ConsoleProgram program;
    // Room for the copy (37 KB: 10 pages), not for its rewrite without the 35 KB of EXIF.
    SmallDisk disk(program.out(), 40);
    if (!disk.mounted()) QUILL_SKIP_WITHOUT_TMPFS();
    program.usePreset([](settings::Preset& preset) {
        preset.convertFormat = 0;
        preset.keepMetadata = 0;
    });
    const std::string source = program.addSample("exif/Konica_Minolta_DiMAGE_Z3.jpg", "a.jpg");

    const ProgramRun run = program.run({"-Console", "-IgnoreWarning", source});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_THAT(program.errorLog(), HasSubstr("Image: " + source));
    EXPECT_THAT(program.errorLog(), HasSubstr("(Metadata)"));
}

TEST(FileSafety, TwoRunsIntoOneFolderLoseNothingEvenWithAClosedStandardOutput) {
    // Two programs with their own instance locks (a cron job beside a desktop session) number
    // their outputs into one folder at the same time.
    constexpr int kImages = 150;
    ConsoleProgram first;
    ConsoleProgram second;
    for (ConsoleProgram* program : {&first, &second}) {
        program->usePreset([&](settings::Preset& preset) {
            preset.outputDirPattern = first.out();
            preset.convertFormat = 0;
            preset.moveOriginal = 1;
            preset.renameEnabled = 1;
            preset.renamePattern = "(%001%)";
        });
        for (int i = 0; i < kImages; ++i)
            program->addSample("exif/Fujifilm_FinePix_E500.jpg", "p" + std::to_string(i) + ".jpg");
    }
    // The second one's reader takes one byte and goes: every later console line meets a closed
    // pipe, which must not stop the batch.
    std::thread other([&] {
        (void)runCommand(second.command({"-Console", "-IgnoreWarning", second.in()}) +
                         " 2>/dev/null | head -c1 >/dev/null");
    });
    const ProgramRun a = first.run({"-Console", "-IgnoreWarning", first.in()});
    other.join();
    EXPECT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(platform::listDirectory(first.out())->size(), std::size_t(2 * kImages));
    EXPECT_TRUE(platform::listDirectory(first.in())->empty());
    EXPECT_TRUE(platform::listDirectory(second.in())->empty());
}

/// True when the file holds a complete PNG: its signature, and its end chunk last.
bool completePng(const std::string& path) {
    const auto bytes = readBytes(path);
    static const std::string iend("IEND\xAE\x42\x60\x82");
    return bytes.size() > 20 && bytes[1] == 'P' &&
           std::string(bytes.end() - 8, bytes.end()) == iend;
}

TEST(FileSafety, TenRunsStartedAtOnceOnOneFolderRunOnceAndLoseNothing) {
    // A script starts the same move run ten times at once: the instance lock lets one through,
    // the other nine leave with status 4 before they touch a file.
    constexpr int kImages = 12;
    constexpr int kRuns = 10;
    ConsoleProgram program;
    program.usePreset([&](settings::Preset& preset) {
        preset.outputFormat = settings::OutputFormat::Png;
        preset.moveOriginal = 1;
    });
    for (int i = 0; i < kImages; ++i)
        program.addSample("exif/Canon_40D.jpg", "p" + std::to_string(i) + ".jpg");
    const std::string statuses = program.root() + "statuses";
    std::string script;
    for (int i = 0; i < kRuns; ++i)
        script += "(" + program.command({"-Console", "-IgnoreWarning", program.in()}) +
                  " >/dev/null 2>&1; echo $? >>" + shellQuote(statuses) + ") & ";
    ASSERT_EQ(runCommand(script + "wait"), 0);
    std::map<int, int> counts;
    std::ifstream in(statuses);
    for (int status; in >> status;)
        ++counts[status];
    EXPECT_EQ(counts, (std::map<int, int>{{0, 1}, {4, kRuns - 1}}));
    EXPECT_TRUE(platform::listDirectory(program.in())->empty());
    const auto outputs = platform::listDirectory(program.out());
    ASSERT_TRUE(outputs.has_value());
    EXPECT_EQ(outputs->size(), std::size_t(kImages)) << "no more, no temporary file left";
    for (int i = 0; i < kImages; ++i)
        EXPECT_TRUE(completePng(program.out("p" + std::to_string(i) + ".png"))) << i;
}

TEST(FileSafety, LinkTargetsOutsideTheFoldersAreNeverChanged) {
    ConsoleProgram program;
    program.usePreset([](settings::Preset& preset) {
        preset.convertFormat = 0;
        preset.moveOriginal = 1;
        preset.setFileDates = 1;
        preset.fileDateSource = settings::FileDateSource::Fixed;
        preset.fixedFileDate = 1262349296;
    });
    const std::string elsewhere = program.root() + "elsewhere.jpg";
    writeBytes(elsewhere, readBytes(testdata("exif/Canon_40D.jpg")));
    ASSERT_EQ(chmod(elsewhere.c_str(), 0444), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), program.in("link.jpg").c_str()), 0);
    const auto mode = std::filesystem::status(elsewhere).permissions();
    const auto modified = std::filesystem::last_write_time(elsewhere);

    (void)program.run({"-Console", "-IgnoreWarning", program.in("link.jpg")});
    EXPECT_EQ(std::filesystem::status(elsewhere).permissions(), mode);
    EXPECT_EQ(std::filesystem::last_write_time(elsewhere), modified);
}

// --- Killed, or out of disk space ---------------------------------------------------------------

TEST(NoDataLoss, KilledAtRandomPointsNeverLosesASourceOrLeavesAPartialOutput) {
    if (!haveTool("/usr/bin/convert")) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
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
        program.usePreset([](settings::Preset& preset) {
            preset.convertFormat = 0;
            halve(preset);
            preset.moveOriginal = 1; // the riskiest mode: sources are deleted after writing
        });
        constexpr int kImages = 24;
        for (int i = 0; i < kImages; ++i)
            writeBytes(program.in("img" + std::to_string(i) + ".jpg"), original);

        // timeout kills the program's whole process group.
        const int ms = std::uniform_int_distribution<int>(300, 2500)(random);
        const std::string command = program.command({"-Console", "-IgnoreWarning", program.in()});
        (void)runCommand("timeout -s KILL " + std::to_string(ms / 1000.0) + " sh -c " +
                         shellQuote(command) + " >/dev/null 2>&1");

        for (int i = 0; i < kImages; ++i) {
            const std::string name = "img" + std::to_string(i) + ".jpg";
            const bool sourceThere = fileExists(program.in(name));
            EXPECT_TRUE(sourceThere || fileExists(program.out(name))) << name << " was lost";
            if (sourceThere) {
                EXPECT_EQ(readBytes(program.in(name)), original) << name;
            }
        }
        // Every file under an output name is complete; the only other files are the hidden
        // temporary ones of the write that was cut short.
        const auto entries = platform::listDirectory(program.out());
        ASSERT_TRUE(entries);
        for (const auto& entry : *entries) {
            if (entry.name.front() == '.') continue;
            EXPECT_THAT(entry.name, ::testing::MatchesRegex("img[0-9]+\\.jpg"));
            const auto bytes = readBytes(program.out(entry.name));
            ASSERT_GE(bytes.size(), 4u);
            EXPECT_TRUE(bytes[bytes.size() - 2] == 0xFF && bytes.back() == 0xD9)
                << entry.name << " is partial";
        }
    }
}

/// The paths of the entries under a folder, walked through all its subfolders, whose names end in
/// `suffix`.
std::vector<std::string> namesEndingIn(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.path().filename().string().ends_with(suffix))
            found.push_back(entry.path().string());
    return found;
}

// Ctrl+C, kill and a closed terminal stop a run in good order: the image in progress is
// finished or rolled back, no further image starts, no temporary file stays, and the exit status
// says which signal it was.
TEST(NoDataLoss, StopSignalsEndTheRunInGoodOrderWithTheSignalInTheExitStatus) {
    if (!haveTool("/usr/bin/convert")) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
    TempDir photos;
    const std::string photo = photos.file("photo.jpg");
    ASSERT_EQ(runCommand("/usr/bin/convert -seed 5 -size 1600x1200 plasma:fractal -quality 90 " +
                         shellQuote(photo)),
              0);
    const auto original = readBytes(photo);

    struct Case {
        int signal;
        const char* name;
        const char* threads;
    };
    for (const Case& c : {Case{SIGINT, "SIGINT", "1"}, Case{SIGTERM, "SIGTERM", "4"},
                          Case{SIGHUP, "SIGHUP", "2"}}) {
        SCOPED_TRACE(c.name);
        ConsoleProgram program;
        program.usePreset([](settings::Preset& preset) {
            preset.convertFormat = 0;
            halve(preset);
            preset.moveOriginal = 1; // sources go once their output is in place
        });
        constexpr int kImages = 40;
        for (int i = 0; i < kImages; ++i)
            writeBytes(program.in("img" + std::to_string(i) + ".jpg"), original);

        const std::string stdoutPath = program.root() + "stdout.txt";
        const pid_t pid = program.start({"-Console", "-IgnoreWarning", program.in()}, stdoutPath,
                                        {std::string("QUILL_THREADS=") + c.threads});
        ASSERT_GT(pid, 0);
        // Signalled in the middle of the run: once two outputs are in place.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (platform::listDirectory(program.out())->size() < 2 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(::kill(pid, c.signal), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        const auto printed = readBytes(stdoutPath);
        const std::string out(printed.begin(), printed.end());
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << out;
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.signal) << out;
        EXPECT_THAT(out,
                    ::testing::MatchesRegex(
                        ".*\nInterrupted by signal " + std::to_string(c.signal) + " \\(" + c.name +
                        "\\): [0-9]+ images? processed, [1-9][0-9]* not processed; "
                        "temporary files removed\\.\n.*"));
        EXPECT_THAT(out, Not(HasSubstr("Result:")));

        EXPECT_THAT(namesEndingIn(program.root(), ".tmp"), ::testing::IsEmpty());
        int moved = 0;
        for (int i = 0; i < kImages; ++i) {
            const std::string name = "img" + std::to_string(i) + ".jpg";
            if (fileExists(program.in(name))) {
                EXPECT_EQ(readBytes(program.in(name)), original) << name;
                continue;
            }
            ++moved;
            ASSERT_TRUE(fileExists(program.out(name))) << name << " was lost";
            const auto bytes = readBytes(program.out(name));
            ASSERT_GE(bytes.size(), 4u);
            EXPECT_TRUE(bytes[bytes.size() - 2] == 0xFF && bytes.back() == 0xD9)
                << name << " is partial";
        }
        EXPECT_GE(moved, 2);
        EXPECT_LT(moved, kImages) << "the run went on after the signal";
    }
}

/// Whether the process has a handler for the signal (its SigCgt mask in /proc).
bool catchesSignal(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigCgt:"))
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

// The window mode takes the same way out: the event loop ends, a run would finish or roll back its
// image, and the exit status names the signal.
TEST(NoDataLoss, AStopSignalEndsTheWindowModeWithTheSignalInTheExitStatus) {
#ifndef QUILL_WITH_WINDOW
    GTEST_SKIP() << "the program is built without the window mode";
#endif
    ConsoleProgram program;
    const std::string stdoutPath = program.root() + "stdout.txt";
    // Qt's own allocations at exit are no concern of this test.
    const pid_t pid =
        program.start({}, stdoutPath, {"QT_QPA_PLATFORM=offscreen", "ASAN_OPTIONS=detect_leaks=0"});
    ASSERT_GT(pid, 0);
    // Sent once the program catches it (the window mode is up), or after a minute regardless.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!catchesSignal(pid, SIGTERM) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

// What a killed run left in a folder the next run writes to is removed there, once, and named
// on the console; what only resembles it, or belongs to another user, stays.
TEST(NoDataLoss, LeftoverTemporaryFilesOfAKilledRunAreRemovedAndReported) {
    ConsoleProgram program;
    program.usePreset([](settings::Preset& preset) { preset.convertFormat = 0; });
    program.addSample("exif/Canon_40D.jpg", "a.jpg");
    program.addSample("exif/Nikon_D70.jpg", "b.jpg");
    const std::string hex = "0123456789abcdef";
    const std::vector<std::string> ours = {".a.jpg." + hex + ".tmp", ".b.jpg.fedcba9876543210.tmp"};
    const std::string nearMiss = ".a.jpg.0123456789abcdeF.tmp";
    const std::string shortMiss = ".a.jpg.0123456789abcde.tmp";
    const std::string foreign = ".c.jpg." + hex + ".tmp";
    for (const std::string& name : ours)
        writeText(program.out(name), "partial");
    for (const std::string& name : {nearMiss, shortMiss})
        writeText(program.out(name), "keep");
    const bool otherOwner = ::geteuid() == 0; // only root can give a file to another user
    if (otherOwner) {
        writeText(program.out(foreign), "keep");
        ASSERT_EQ(::chown(program.out(foreign).c_str(), 65534, 65534), 0);
    }

    const ProgramRun run = program.run({"-Console", program.in()});
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string line =
        "Removed 2 leftover temporary files of an interrupted run from " + program.out() + "\n";
    EXPECT_THAT(run.out, HasSubstr(line));
    EXPECT_EQ(run.out.find(line), run.out.rfind(line)) << "one line per folder";
    for (const std::string& name : ours)
        EXPECT_FALSE(fileExists(program.out(name))) << name;
    for (const std::string& name : {nearMiss, shortMiss})
        EXPECT_TRUE(fileExists(program.out(name))) << name;
    EXPECT_EQ(fileExists(program.out(foreign)), otherOwner);
    EXPECT_TRUE(fileExists(program.out("a.jpg")) && fileExists(program.out("b.jpg")));
}

TEST(NoDataLoss, FullDiskFailsThatImageKeepsItsSourceAndTheRunGoesOn) {
    if (!haveTool("/usr/bin/convert")) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
    for (const char* threads : {"1", "4"}) {
        SCOPED_TRACE(std::string("threads ") + threads);
        ConsoleProgram program;
        SmallDisk disk(program.out(), 256);
        if (!disk.mounted()) QUILL_SKIP_WITHOUT_TMPFS();
        program.usePreset([](settings::Preset& preset) {
            // BMP: 1000 x 1000 needs 3 MB, far beyond the 256 KiB disk.
            preset.outputFormat = settings::OutputFormat::Bmp;
            preset.moveOriginal = 1;
        });
        ASSERT_EQ(runCommand("/usr/bin/convert -size 1000x1000 xc:teal " +
                             shellQuote(program.in("a_big.png"))),
                  0);
        program.addSample("png/basn2c08.png", "b_small.png");
        const auto bigSource = readBytes(program.in("a_big.png"));

        setenv("QUILL_THREADS", threads, 1);
        const ProgramRun run = program.run(
            {"-Console", "-IgnoreWarning", program.in("a_big.png"), program.in("b_small.png")});
        unsetenv("QUILL_THREADS");
        EXPECT_EQ(run.status, 1) << run.out;
        EXPECT_THAT(program.errorLog(),
                    HasSubstr("Output: " + program.out("a_big.bmp") + "\r\nError: Writing failed"));
        // The failed image: no output, nothing partial, the source as it was.
        EXPECT_FALSE(fileExists(program.out("a_big.bmp")));
        EXPECT_EQ(readBytes(program.in("a_big.png")), bigSource);
        // The next image was still written (and its source moved).
        EXPECT_TRUE(fileExists(program.out("b_small.bmp")));
        EXPECT_FALSE(fileExists(program.in("b_small.png")));
        EXPECT_EQ(platform::listDirectory(program.out())->size(), 1u);
    }
}

// --- The order of the file-system calls -------------------------------------------------------

/// A call of a traced run with the paths of its arguments: quoted names, or the file behind the
/// descriptor of an fsync (strace -y shows it as "3</path>").
struct TracedCall {
    std::string name;
    std::vector<std::string> paths;
    int result = -1;
};

/// The calls in the order they completed; a call cut in two by other threads is joined again.
/// The test's paths hold no quotes or angle brackets.
std::vector<TracedCall> parseTrace(const std::string& file) {
    std::ifstream in(file);
    std::map<std::string, std::string> unfinished; // by thread id
    std::vector<TracedCall> calls;
    for (std::string line; std::getline(in, line);) {
        const auto space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string thread = line.substr(0, space);
        std::string text = line.substr(line.find_first_not_of(' ', space));
        if (const auto at = text.find(" <unfinished ...>"); at != std::string::npos) {
            unfinished[thread] = text.substr(0, at);
            continue;
        }
        if (const auto resumed = text.find(" resumed>"); text.rfind("<... ", 0) == 0)
            text =
                resumed == std::string::npos ? "" : unfinished[thread] + text.substr(resumed + 9);
        // "name(arguments)   = result": strace pads before the "=".
        const auto open = text.find('(');
        const auto equals = text.rfind(" = ");
        if (open == std::string::npos || equals == std::string::npos || equals < open) continue;
        TracedCall call{text.substr(0, open), {}, std::atoi(text.c_str() + equals + 3)};
        const char quote = call.name.find("sync") != std::string::npos ? '<' : '"';
        const char end = quote == '<' ? '>' : '"';
        for (auto at = text.find(quote, open); at != std::string::npos && at < equals;) {
            const auto close = text.find(end, at + 1);
            if (close == std::string::npos) break;
            call.paths.push_back(text.substr(at + 1, close - at - 1));
            at = text.find(quote, close + 1);
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

/// Checks that every source removed or renamed was preceded by: an fsync of its output's file,
/// the rename onto the output's name, and an fsync of the output's directory after it.
void expectOutputsFlushedBeforeSources(const std::vector<TracedCall>& calls,
                                       const std::set<std::string>& sources,
                                       const std::string& outputDir) {
    std::set<std::string> flushedFiles; // temporary files flushed
    bool committed = false;             // an output was renamed into place after its flush
    bool directoryFlushedSinceCommit = true;
    int removals = 0;
    for (const TracedCall& c : calls) {
        if (c.result != 0 || c.paths.empty()) continue;
        if (c.name == "fsync" || c.name == "fdatasync") {
            flushedFiles.insert(c.paths[0]);
            if (platform::withTrailingSeparator(c.paths[0]) == outputDir)
                directoryFlushedSinceCommit = true;
        } else if (c.name.rfind("rename", 0) == 0 && c.paths.size() == 2) {
            EXPECT_FALSE(sources.count(c.paths[0])) << "a source was renamed: " << c.paths[0];
            if (platform::directoryPart(c.paths[1]) == outputDir) {
                EXPECT_TRUE(flushedFiles.count(c.paths[0])) << "not flushed: " << c.paths[0];
                committed = true;
                directoryFlushedSinceCommit = false;
            }
        } else if (c.name.rfind("unlink", 0) == 0 && sources.count(c.paths.back())) {
            ++removals;
            EXPECT_TRUE(committed) << c.paths.back() << " removed before any output";
            EXPECT_TRUE(directoryFlushedSinceCommit)
                << c.paths.back() << " removed before the output folder was flushed";
        }
    }
    EXPECT_EQ(removals, int(sources.size()));
}

TEST(FileSafety, SourcesGoOnlyAfterTheirOutputsAreOnTheDisk) {
    if (!haveTool("/usr/bin/strace")) QUILL_SKIP_WITHOUT_TOOL() << "strace missing";
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "replaced in place" : "moved to the output folder");
        ConsoleProgram program;
        program.usePreset([&](settings::Preset& preset) {
            // PNG: every source is decoded, written anew and removed.
            preset.outputFormat = settings::OutputFormat::Png;
            preset.moveOriginal = 1;
            if (inPlace) preset.outputDirEnabled = 0;
        });
        std::set<std::string> sources;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            sources.insert(program.addSample("exif/Canon_40D.jpg", name));
        const std::string trace = program.root() + "trace.txt";
        const std::string command = program.command({"-Console", "-IgnoreWarning", program.in()});
        // The leak checker cannot run under a tracer; everything else stays as built.
        ASSERT_EQ(runCommand("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -y -o " +
                             shellQuote(trace) +
                             " -e trace=fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat "
                             "sh -c " +
                             shellQuote(command) + " >/dev/null 2>&1"),
                  0);
        expectOutputsFlushedBeforeSources(parseTrace(trace), sources,
                                          inPlace ? program.in() : program.out());
    }
}

// --- Failing file-system calls ----------------------------------------------------------------

/// A run with the Nth call of one kind failing inside the program (tests/fault_inject), and how
/// often each kind was called.
struct FaultRun {
    int status = -1;
    std::map<std::string, long> calls;
    bool injected = false;
};

FaultRun runWithFault(const ConsoleProgram& program, const std::vector<std::string>& args,
                      const std::string& fault) {
    const std::string counts = program.root() + "calls.txt";
    std::filesystem::remove(counts);
    // The sanitizer runtime need not come first: the library only passes calls on.
    const std::string env =
        "export LD_PRELOAD=" + shellQuote(QUILL_FAULT_LIBRARY) +
        " ASAN_OPTIONS=verify_asan_link_order=0:abort_on_error=1 QUILL_FAULT=" + shellQuote(fault) +
        " QUILL_FAULT_COUNT=" + shellQuote(counts) + "; ";
    FaultRun run;
    run.status = runCommand(env + program.command(args) + " >/dev/null 2>&1");
    std::ifstream in(counts);
    for (std::string kind, count; in >> kind >> count;) {
        if (kind == "injected")
            run.injected = true, in >> count;
        else
            run.calls[kind] = std::atol(count.c_str());
    }
    return run;
}

TEST(FileSafety, AFailedFlushOfAFolderFailsTheImageAndKeepsItsSource) {
    // A move run: each source goes only once its output and both folders are on the disk. A
    // folder flush that fails must fail an image, keep that image's source, and say so; never
    // "successfully" with the source gone. A folder that cannot be opened fails its flush too
    // (other opens of folders, such as the sweep for leftover temporary files, are best effort:
    // the run may then succeed, but only with every output complete and every source moved).
    const std::vector<std::string> names = {"a.jpg", "b.jpg", "c.jpg"};
    const auto prepare = [&](ConsoleProgram& program) {
        program.usePreset([&](settings::Preset& preset) {
            preset.outputFormat = settings::OutputFormat::Png;
            preset.moveOriginal = 1;
        });
        for (const std::string& name : names)
            program.addSample("exif/Canon_40D.jpg", name);
    };
    for (const std::string kind : {"fsync-dir", "open-dir"}) {
        long calls = 0;
        {
            ConsoleProgram program;
            prepare(program);
            FaultRun clean =
                runWithFault(program, {"-Console", "-IgnoreWarning", program.in()}, "none:0");
            ASSERT_EQ(clean.status, 0);
            calls = clean.calls[kind];
            ASSERT_GE(calls, 3) << kind << ": every output folder flush at least";
        }
        for (long n = 1; n <= calls; ++n) {
            SCOPED_TRACE(kind + " call " + std::to_string(n) + " fails");
            ConsoleProgram program;
            prepare(program);
            const FaultRun run = runWithFault(program, {"-Console", "-IgnoreWarning", program.in()},
                                              kind + ":" + std::to_string(n));
            ASSERT_TRUE(run.injected);
            // 1: an image failed; 4: the lock folder itself could not be opened, nothing ran.
            if (kind == "fsync-dir" || run.status != 0) {
                EXPECT_THAT(run.status, ::testing::AnyOf(1, 4)) << "reported as success";
            }
            for (const std::string& name : names) {
                const bool kept = fileExists(program.in(name));
                EXPECT_FALSE(kept && run.status == 0) << name << " was not moved";
                if (kept) continue;
                EXPECT_TRUE(completePng(program.out(name.substr(0, 1) + ".png")))
                    << name << " is gone without a complete output";
            }
            if (run.status == 1) {
                EXPECT_THAT(program.errorLog(), HasSubstr("Image: " + program.in()));
            }
        }
    }
}

// Where the settings live is decided by reading the presets file beside the program. A read that
// fails once (an input/output error, a signal) must not send the run to the per-user folder,
// where the built-in presets would run a different batch with the same -Preset number.
TEST(FileSafety, APresetsFileThatFailsToReadOnceNeverRunsTheBuiltInPresets) {
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE("read open " + std::to_string(n) + " fails");
        ConsoleProgram program;
        program.usePreset(
            [&](settings::Preset& preset) { preset.outputFormat = settings::OutputFormat::Png; });
        program.addSample("exif/Canon_40D.jpg", "a.jpg");
        const FaultRun run = runWithFault(program, {"-Console", "-IgnoreWarning", program.in()},
                                          "open-read:" + std::to_string(n) + ":5");
        ASSERT_TRUE(run.injected);
        // Refused (2) or failed (1) is fine; a success must have run the user's preset.
        if (run.status == 0) {
            EXPECT_TRUE(completePng(program.out("a.png")));
        }
    }
}

} // namespace
} // namespace quill::test
