// Console runs on real files where a mistake would change or lose a file that is not the one the
// user asked about: other spellings of a name, links, pipes, a second run into the same folder,
// a full disk in the middle of a privacy step, and the order of the file-system calls.
#include "console_program.h"

#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace quill::test {
namespace {

using ::testing::HasSubstr;

bool exists(const std::string& path) {
    return platform::fileExists(path);
}

std::string logOf(const ConsoleProgram& program) {
    const auto bytes = readBytes(program.programDir() + "Quillmere_Errorlog.txt");
    return {bytes.begin(), bytes.end()};
}

bool hasExif(const std::vector<std::uint8_t>& jpeg) {
    const std::string text(jpeg.begin(), jpeg.end());
    return text.find("Exif") != std::string::npos;
}

/// A preset that works in place: no output folder, no conversion, no renaming.
settings::Preset inPlacePreset(const ConsoleProgram& program) {
    settings::Preset preset = program.basePreset();
    preset.outputDirEnabled = 0;
    preset.convertFormat = 0;
    preset.renameEnabled = 0;
    return preset;
}

TEST(FileSafety, InPlaceMeansTheSourcesOwnPathWhateverTheLetterCase) {
    for (const bool decode : {true, false}) {
        SCOPED_TRACE(decode ? "re-encoded" : "metadata only");
        ConsoleProgram program;
        settings::Preset preset = inPlacePreset(program);
        preset.keepMetadata = 0;
        if (decode) {
            preset.resizeEnabled = 1;
            preset.resizeMode = settings::ResizeMode::Percent;
            preset.resizePercent = 50;
        }
        program.setPresets({preset});
        const std::string camera = program.addSample("exif/Canon_40D.jpg", "photo.JPG");
        const std::string other = program.addSample("exif/Nikon_D70.jpg", "photo.jpg");
        const auto otherBytes = readBytes(other);

        const ProgramRun run = program.run({"-Console", "-IgnoreWarning", camera});
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(readBytes(other), otherBytes) << "another file under another spelling";
        ASSERT_TRUE(exists(camera));
        EXPECT_FALSE(hasExif(readBytes(camera))) << "the source itself was to lose its metadata";
    }
}

TEST(FileSafety, AFifoIsUnreadableAndDoesNotHangTheRun) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.outputFormat = settings::OutputFormat::Png;
    preset.resizeEnabled = 1; // every image is decoded, the next one ahead of time
    preset.resizeMode = settings::ResizeMode::Percent;
    preset.resizePercent = 50;
    program.setPresets({preset});
    program.addSample("exif/Canon_40D.jpg", "a.jpg");
    ASSERT_EQ(mkfifo(program.in("x.png").c_str(), 0600), 0);
    program.addSample("exif/Nikon_D70.jpg", "z.jpg");

    std::string out;
    const int status =
        runCommand("timeout 120 sh -c " + shellQuote(program.command({"-Console", program.in()})) +
                       " 2>/dev/null",
                   &out);
    ASSERT_NE(status, 124) << "the run hung";
    EXPECT_EQ(status, 1) << out;
    EXPECT_TRUE(exists(program.out("a.png")));
    EXPECT_TRUE(exists(program.out("z.png")));
    EXPECT_THAT(logOf(program), HasSubstr("Image: " + program.in("x.png")));
}

TEST(FileSafety, PdfOutputWorksAtEveryQuality) {
    ConsoleProgram program;
    std::vector<settings::Preset> presets;
    for (int quality : {1, 2, 10}) {
        settings::Preset preset = program.basePreset();
        preset.outputFormat = settings::OutputFormat::Pdf;
        preset.qualityEnabled = 1;
        preset.quality = std::uint8_t(quality);
        presets.push_back(preset);
    }
    program.setPresets(presets);
    program.addSample("exif/Canon_40D.jpg", "a.jpg");
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        const ProgramRun run =
            program.run({"-Console", "-IgnoreWarning", "-Preset=" + std::to_string(index),
                         program.in("a.jpg")});
        EXPECT_EQ(run.status, 0) << run.out;
        ASSERT_TRUE(exists(program.out("a.pdf")));
        if (haveTool("/usr/bin/qpdf")) {
            EXPECT_EQ(runCommand("/usr/bin/qpdf --check " + shellQuote(program.out("a.pdf")) +
                                 " >/dev/null 2>&1"),
                      0);
        }
        ASSERT_TRUE(platform::deleteFile(program.out("a.pdf")));
    }
}

TEST(FileSafety, AClosedStandardOutputDoesNotStopTheBatch) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.outputFormat = settings::OutputFormat::Png;
    program.setPresets({preset});
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        program.addSample("exif/Canon_40D.jpg", name);
    // The reader takes one byte and goes; every later console line meets a closed pipe.
    ASSERT_EQ(runCommand(program.command({"-Console", program.in()}) +
                         " 2>/dev/null | head -c1 >/dev/null"),
              0);
    for (const char* name : {"a.png", "b.png", "c.png"})
        EXPECT_TRUE(exists(program.out(name))) << name;
}

TEST(FileSafety, MetadataThatCouldNotBeRemovedFailsTheImage) {
    ConsoleProgram program;
    // Room for the copy (37 KB: 10 pages), not for its rewrite without the 35 KB of EXIF.
    SmallDisk disk(program.out(), 40);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    settings::Preset preset = program.basePreset();
    preset.convertFormat = 0;
    preset.keepMetadata = 0;
    program.setPresets({preset});
    // The copy fits on the disk; the rewrite without metadata needs room for a second copy.
    const std::string source = program.addSample("exif/Konica_Minolta_DiMAGE_Z3.jpg", "a.jpg");

    const ProgramRun run = program.run({"-Console", "-IgnoreWarning", source});
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_THAT(logOf(program), HasSubstr("Image: " + source));
    EXPECT_THAT(logOf(program), HasSubstr("(Metadata)"));
}

TEST(FileSafety, OneFileUnderTwoSpellingsIsOneImage) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.outputFormat = settings::OutputFormat::Png;
    program.setPresets({preset});
    program.addSample("exif/Canon_40D.jpg", "a.jpg");
    const ProgramRun run =
        program.run({"-Console", program.root() + "in//a.jpg", program.root() + "in/./a.jpg"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Loaded images: 1\n"));
}

TEST(FileSafety, TwoRunsIntoOneFolderLoseNothing) {
    // Two programs with their own instance locks (a cron job beside a desktop session) number
    // their outputs into one folder at the same time.
    constexpr int kImages = 150;
    ConsoleProgram first;
    ConsoleProgram second;
    const std::string shared = first.out();
    for (ConsoleProgram* program : {&first, &second}) {
        settings::Preset preset = program->basePreset();
        preset.outputDirPattern = shared;
        preset.convertFormat = 0;
        preset.moveOriginal = 1;
        preset.renameEnabled = 1;
        preset.renamePattern = "(%001%)";
        program->setPresets({preset});
        for (int i = 0; i < kImages; ++i)
            program->addSample("exif/Fujifilm_FinePix_E500.jpg", "p" + std::to_string(i) + ".jpg");
    }
    ProgramRun a;
    ProgramRun b;
    std::thread other([&] { b = second.run({"-Console", "-IgnoreWarning", second.in()}); });
    a = first.run({"-Console", "-IgnoreWarning", first.in()});
    other.join();
    EXPECT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(b.status, 0) << b.out;
    const auto outputs = platform::listDirectory(shared);
    ASSERT_TRUE(outputs);
    EXPECT_EQ(outputs->size(), std::size_t(2 * kImages));
    EXPECT_TRUE(platform::listDirectory(first.in())->empty());
    EXPECT_TRUE(platform::listDirectory(second.in())->empty());
}

TEST(FileSafety, LinkTargetsOutsideTheFoldersAreNeverChanged) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.convertFormat = 0;
    preset.moveOriginal = 1;
    preset.setFileDates = 1;
    preset.fileDateSource = settings::FileDateSource::Fixed;
    preset.fixedFileDate = 1262349296;
    program.setPresets({preset});
    const std::string elsewhere = program.root() + "elsewhere.jpg";
    writeBytes(elsewhere, readBytes(testdata("exif/Canon_40D.jpg")));
    ASSERT_EQ(chmod(elsewhere.c_str(), 0444), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), program.in("link.jpg").c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat(elsewhere.c_str(), &before), 0);

    (void)program.run({"-Console", "-IgnoreWarning", program.in("link.jpg")});
    struct stat after {};
    ASSERT_EQ(stat(elsewhere.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

// --- The order of the file-system calls -------------------------------------------------------

/// The calls of a traced run that matter for durability, in the order they completed.
struct TracedCall {
    std::string name;
    std::vector<std::string> paths; ///< path arguments (after the fd argument, if any)
    int fd = -1;                    ///< the fd argument of fsync
    int result = -1;
    std::string thread; ///< the calling thread (a file is opened and flushed by one)
};

/// The quoted arguments of an strace argument list, without their quotes.
std::vector<std::string> quotedArguments(const std::string& args) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != '"') continue;
        std::string text;
        for (++i; i < args.size() && args[i] != '"'; ++i) {
            if (args[i] == '\\' && i + 1 < args.size()) ++i;
            text += args[i];
        }
        out.push_back(text);
    }
    return out;
}

std::vector<TracedCall> parseTrace(const std::string& file) {
    std::ifstream in(file);
    std::map<std::string, std::string> unfinished; // by thread id
    std::vector<TracedCall> calls;
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string thread = line.substr(0, space);
        std::string text = line.substr(line.find_first_not_of(' ', space));
        if (const auto at = text.find(" <unfinished ...>"); at != std::string::npos) {
            unfinished[thread] = text.substr(0, at);
            continue;
        }
        if (text.rfind("<... ", 0) == 0) {
            const auto resumed = text.find(" resumed>");
            if (resumed == std::string::npos) continue;
            text = unfinished[thread] + text.substr(resumed + 9);
        }
        // "name(arguments)   = result": strace pads before the "=".
        const auto open = text.find('(');
        const auto equals = text.rfind(" = ");
        const auto close = equals == std::string::npos ? equals : text.rfind(')', equals);
        if (open == std::string::npos || close == std::string::npos || close < open) continue;
        TracedCall traced;
        traced.name = text.substr(0, open);
        traced.thread = thread;
        traced.result = std::atoi(text.c_str() + equals + 3);
        const std::string args = text.substr(open + 1, close - open - 1);
        traced.paths = quotedArguments(args);
        if (traced.name == "fsync" || traced.name == "fdatasync")
            traced.fd = std::atoi(args.c_str());
        calls.push_back(std::move(traced));
    }
    return calls;
}

/// Checks that every source removed or renamed was preceded by: an fsync of its output's file,
/// the rename onto the output's name, and an fsync of the output's directory after it.
void expectOutputsFlushedBeforeSources(const std::vector<TracedCall>& calls,
                                       const std::set<std::string>& sources,
                                       const std::string& outputDir) {
    std::map<std::string, std::string> openFds; // by thread and descriptor
    std::set<std::string> flushedFiles;         // temporary files flushed
    std::set<std::string> committed;            // outputs renamed into place after their flush
    bool directoryFlushedSinceCommit = true;
    int removals = 0;
    for (const TracedCall& c : calls) {
        if ((c.name == "openat" || c.name == "open") && c.result >= 0 && !c.paths.empty()) {
            openFds[c.thread + ":" + std::to_string(c.result)] = c.paths.back();
        } else if ((c.name == "fsync" || c.name == "fdatasync") && c.result == 0) {
            const std::string& path = openFds[c.thread + ":" + std::to_string(c.fd)];
            flushedFiles.insert(path);
            if (platform::withTrailingSeparator(path) == outputDir)
                directoryFlushedSinceCommit = true;
        } else if (c.name.rfind("rename", 0) == 0 && c.result == 0 && c.paths.size() == 2) {
            if (sources.count(c.paths[0])) {
                ADD_FAILURE() << "a source was renamed: " << c.paths[0];
                continue;
            }
            if (platform::directoryPart(c.paths[1]) == outputDir) {
                EXPECT_TRUE(flushedFiles.count(c.paths[0])) << "not flushed: " << c.paths[0];
                committed.insert(c.paths[1]);
                directoryFlushedSinceCommit = false;
            }
        } else if (c.name.rfind("unlink", 0) == 0 && c.result == 0 && !c.paths.empty() &&
                   sources.count(c.paths.back())) {
            ++removals;
            EXPECT_FALSE(committed.empty()) << c.paths.back() << " removed before any output";
            EXPECT_TRUE(directoryFlushedSinceCommit)
                << c.paths.back() << " removed before the output folder was flushed";
        }
    }
    EXPECT_EQ(removals, int(sources.size()));
}

TEST(FileSafety, SourcesGoOnlyAfterTheirOutputsAreOnTheDisk) {
    if (!haveTool("/usr/bin/strace")) GTEST_SKIP() << "strace missing";
    const struct {
        const char* name;
        bool inPlace;
    } cases[] = {{"moved to the output folder", false}, {"replaced in place", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ConsoleProgram program;
        settings::Preset preset = program.basePreset();
        preset.outputFormat =
            settings::OutputFormat::Png; // PNG: every source is decoded, written anew and removed
        preset.moveOriginal = 1;
        if (c.inPlace) preset.outputDirEnabled = 0;
        program.setPresets({preset});
        std::set<std::string> sources;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
            sources.insert(program.addSample("exif/Canon_40D.jpg", name));
        const std::string trace = program.root() + "trace.txt";
        const std::string command = program.command({"-Console", "-IgnoreWarning", program.in()});
        // The leak checker cannot run under a tracer; everything else stays as built.
        const std::string traced =
            "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o " + shellQuote(trace) +
            " -e trace=open,openat,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat "
            "sh -c " +
            shellQuote(command) + " >/dev/null 2>&1";
        ASSERT_EQ(runCommand(traced), 0);
        expectOutputsFlushedBeforeSources(parseTrace(trace), sources,
                                          c.inPlace ? program.in() : program.out());
    }
}

} // namespace
} // namespace quill::test
