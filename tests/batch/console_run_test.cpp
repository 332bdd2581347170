// Console batch runs of the real program over copies of real images: what it prints, logs and
// writes, what it does with the sources, what it does when names, presets, pipes or folders make
// it hard, and that worker threads change none of it.
#include "console_program.h"

#include "imagefiles/image_loader.h"
#include "settings/preset.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <fcntl.h>
#include <sys/stat.h>

namespace quill::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using platform::fileExists;

// --- What the console shows ------------------------------------------------------------------

TEST(ConsoleRun, PrintsTheSpecifiedLinesInOrderWithoutAPauseIntoAPipe) {
    ConsoleProgram program;
    program.usePreset([](settings::Preset& preset) {
        preset.name = "Plain copy";
        preset.convertFormat = 0;
    });
    program.addSample("jpeg/hopper.jpg");

    std::FILE* pipe =
        ::popen((program.command({"-Console", program.in()}) + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    ProgramRun run;
    char line[4096];
    std::chrono::steady_clock::time_point resultAt{};
    while (std::fgets(line, sizeof line, pipe)) {
        run.out += line;
        if (std::string(line) == "Result: Processed successfully\n")
            resultAt = std::chrono::steady_clock::now();
    }
    const auto tail = std::chrono::steady_clock::now() - resultAt;
    EXPECT_EQ(::pclose(pipe), 0);
    // After the result only the footer is printed; the 1.5 s pause is for people at a terminal.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(tail).count(), 1000);
    ASSERT_EQ(run.out.rfind("\n\nQuillmere - Batch Image Modifier\n", 0), 0u) << run.out;
    const std::string footer = "----------------\n\n"
                               "Preset: 0 -> \"Plain copy\"\n\n"
                               "Loaded images: 1\n\n\n"
                               "Processing, please wait...\n\n\n"
                               "Result: Processed successfully\n\n"
                               "----------------\n\n";
    ASSERT_GE(run.out.size(), footer.size());
    EXPECT_EQ(run.out.substr(run.out.size() - footer.size()), footer) << run.out;
    EXPECT_TRUE(fileExists(program.out("hopper.jpg")));
    EXPECT_FALSE(fileExists(program.programDir() + "Quillmere_Errorlog.txt"));
}

TEST(ConsoleRun, RefusalsPrintTheReasonAndExitWithStatusTwoButAnEmptyFilterIsNoRefusal) {
    ConsoleProgram program;
    settings::Preset replacing = program.basePreset();
    replacing.outputDirEnabled = 0;
    settings::Preset moving = program.basePreset();
    moving.moveOriginal = 1;
    settings::Preset nothing = program.basePreset();
    nothing.convertFormat = 0;
    nothing.outputDirEnabled = 0;
    settings::Preset filtered = program.basePreset();
    filtered.filterEnabled = 1;
    filtered.filterConditions = {{settings::kConditionActive, 4, 3, "1", 1}}; // width > 1
    program.setPresets({program.basePreset(), replacing, moving, nothing, filtered});
    const std::string source = program.addSample("png/basn2c08.png", "a.png");

    const struct {
        std::vector<std::string> arguments;
        std::string reason;
    } cases[] = {
        {{"-Console"}, "\"Test\"\n\n\nError: No files\n\n"},
        {{"-Console", program.in("missing.jpg")}, "\nError: No files\n\n"},
        {{"-Console", "-Preset=1", source}, "\nWarning: Replacing is disabled\n\n"},
        {{"-Console", "-Preset=2", source}, "\nWarning: Moving is disabled\n\n"},
        {{"-Console", "-Preset=3", source}, "\nError: No task\n\n"},
    };
    for (const auto& c : cases) {
        const ProgramRun run = program.run(c.arguments);
        EXPECT_EQ(run.status, 2) << c.reason;
        EXPECT_THAT(run.out, HasSubstr(c.reason));
    }
    EXPECT_TRUE(fileExists(source)); // nothing was touched

    // A filter that leaves no image is no failure.
    ProgramRun run = program.run({"-Console", "-Preset=4", source});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Result: Processed successfully"));
    EXPECT_TRUE(platform::listDirectory(program.out())->empty());

    // Ignored, the warning is one line and the run goes on.
    run = program.run({"-Console", "-Preset=1", "-IgnoreWarning", source});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Loaded images: 1\n\n"
                                   "Warning: Replacing is disabled - Ignored\n\n"
                                   "\nProcessing, please wait..."));
    EXPECT_TRUE(fileExists(program.in("a.jpg")));
    EXPECT_FALSE(fileExists(source)); // the output took the source's place
}

// --- The default presets -----------------------------------------------------------------------

TEST(ConsoleRun, EachDefaultPresetRunsOverRealImages) {
    for (int number = 0; number < 6; ++number) {
        SCOPED_TRACE("preset " + std::to_string(number));
        ConsoleProgram program;
        program.setPresets(settings::defaultPresetList().presets, 0);
        program.addSample("exif/Canon_40D.jpg");
        program.addSample("png/basn6a08.png");
        program.addSample("bmp/rgb24.bmp");
        const ProgramRun run = program.run(
            {"-Console", "-Preset=" + std::to_string(number), "-IgnoreWarning", program.in()});
        EXPECT_EQ(run.status, 0) << run.out;
        // Every default preset writes below <desktop>/output/.
        std::string listing;
        runCommand("find " + shellQuote(program.root() + "home/Desktop/output") + " -type f",
                   &listing);
        EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 3) << listing;
        // Preset 5 moves its sources; the others keep them.
        EXPECT_EQ(fileExists(program.in("Canon_40D.jpg")), number != 5);
    }
}

// --- Files that are only copied, moved or renamed ----------------------------------------------

TEST(ConsoleRun, FilesThatNeedNoDecodingKeepTheirBytesAndNeverReplaceAnOutput) {
    ConsoleProgram program;
    settings::Preset rename = program.basePreset();
    rename.convertFormat = 0;
    rename.outputDirEnabled = 0;
    rename.renameEnabled = 1;
    rename.renamePattern = "renamed %FN%";
    settings::Preset copy = program.basePreset();
    copy.convertFormat = 0;
    settings::Preset move = copy;
    move.includeVideos = 1;
    move.moveOriginal = 1;
    settings::Preset edit = copy;
    edit.resizeEnabled = 1;
    program.setPresets({rename, copy, move, edit});
    const std::string jpeg = program.addSample("exif/Canon_40D.jpg", "a.jpg");
    const std::string tiff = program.addSample("tiff/Arbitro.tiff");
    const std::string video = program.in("clip.mp4");
    writeText(video, std::string(4096, 'v'));

    const struct {
        const char* preset;
        std::string source, output;
        std::vector<std::uint8_t> bytes;
        bool sourceStays;
    } cases[] = {
        {"-Preset=0", jpeg, program.in("renamed a.jpg"), readBytes(jpeg), false},
        {"-Preset=1", tiff, program.out("Arbitro.tiff"), readBytes(tiff), true},
        {"-Preset=2", video, program.out("clip.mp4"), readBytes(video), false},
    };
    for (const auto& c : cases) {
        const ProgramRun run = program.run({"-Console", c.preset, "-IgnoreWarning", c.source});
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(readBytes(c.output), c.bytes) << c.output;
        EXPECT_EQ(fileExists(c.source), c.sourceStays) << c.source;
    }

    // A second copy finds an output under its name: the image is skipped, the output kept.
    writeText(program.out("Arbitro.tiff"), "do not touch");
    ProgramRun run = program.run({"-Console", "-Preset=1", tiff});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readBytes(program.out("Arbitro.tiff")).size(), 12u);
    EXPECT_THAT(program.errorLog(),
                HasSubstr("Output: " + program.out("Arbitro.tiff") + "\r\nError: Output exists"));

    // A TIFF that must be edited is written as a TIFF again; a GIF, which is read but never
    // written, fails and nothing is written.
    ASSERT_TRUE(platform::deleteFile(program.out("Arbitro.tiff")));
    run = program.run({"-Console", "-Preset=3", tiff});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_FALSE(
        imagefiles::loadImageFile(program.out("Arbitro.tiff"), imagefiles::FormatKind::Tiff)
            .empty());
    const std::string gif = program.addSample("gif/chi.gif");
    run = program.run({"-Console", "-Preset=3", gif});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(program.errorLog(), HasSubstr("Error: Unsupported format"));
    EXPECT_FALSE(fileExists(program.out("chi.gif")));
}

TEST(ConsoleRun, EditedJpegCarriesItsMetadataWithPatchedOrientationAndSizeAndShiftedDates) {
    if (!haveTool("/usr/bin/exiftool")) QUILL_SKIP_WITHOUT_TOOL() << "exiftool missing";
    ConsoleProgram program;
    program.usePreset([](settings::Preset& preset) {
        preset.convertFormat = 0;
        preset.rotateEnabled = 1;
        preset.rotateMode = 1; // clockwise: turns an orientation-6 picture upright
        preset.useExifOrientation = 1;
        preset.keepMetadata = 1;
        preset.commentEnabled = 1;
        preset.commentText = "%fn% %IW%x%IH%";
        preset.setFileDates = 1;
        preset.fileDateSource = settings::FileDateSource::Shifted;
        preset.fileDateShiftMinutes = -90;
        preset.useExifDate = 0;
    });
    const std::string source = program.addSample("exif/Canon_40D.jpg", "canon.jpg"); // 100 x 68
    ASSERT_EQ(runCommand("/usr/bin/exiftool -q -n -overwrite_original -Orientation=6 " +
                         shellQuote(source)),
              0);
    const std::int64_t modified = 1500000000; // TZ=UTC in the program, so local = UTC
    const std::int64_t accessed = 1500003600;
    struct timespec times[2] = {{accessed, 0}, {modified, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);

    const ProgramRun run = program.run({"-Console", source});
    ASSERT_EQ(run.status, 0) << run.out;
    struct stat st {};
    ASSERT_EQ(stat(program.out("canon.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, modified - 5400);
    EXPECT_EQ(st.st_atime, accessed - 5400);
    std::string tags;
    runCommand("/usr/bin/exiftool -n -s3 -Orientation -ExifImageWidth -ExifImageHeight -Make "
               "-Comment " +
                   shellQuote(program.out("canon.jpg")),
               &tags);
    // The size tokens give the source size, padded to four digits.
    EXPECT_EQ(tags, "1\n68\n100\nCanon\ncanon 0100x0068\n");
}

// --- PDF output -------------------------------------------------------------------------------

TEST(ConsoleRun, PdfPagesTurnForWideImagesAtEveryQuality) {
    if (!haveTool("/usr/bin/pdfinfo") || !haveTool("/usr/bin/qpdf") ||
        !haveTool("/usr/bin/convert"))
        QUILL_SKIP_WITHOUT_TOOL() << "poppler-utils, qpdf or ImageMagick missing";
    ConsoleProgram program;
    for (const char* size : {"1000x500", "300x200"})
        ASSERT_EQ(runCommand("/usr/bin/convert -size " + std::string(size) + " xc:red " +
                             shellQuote(program.in(std::string(size) + ".png"))),
                  0);

    for (const int quality : {1, 2, 10}) {
        SCOPED_TRACE("quality " + std::to_string(quality));
        program.usePreset([&](settings::Preset& preset) {
            preset.outputFormat = settings::OutputFormat::Pdf;
            preset.qualityEnabled = 1;
            preset.quality = std::uint8_t(quality);
        });
        const ProgramRun run = program.run({"-Console", program.in()});
        ASSERT_EQ(run.status, 0) << run.out;
        // A4 in points; where the image sits on the page is checked with the page layout.
        for (const auto& [name, page] : {std::pair{"1000x500", "841.89 x 595.28 pts"},
                                         std::pair{"300x200", "595.28 x 841.89 pts"}}) {
            const std::string pdf = program.out(std::string(name) + ".pdf");
            std::string info;
            runCommand("/usr/bin/pdfinfo " + shellQuote(pdf), &info);
            EXPECT_THAT(info, HasSubstr(page)) << name;
            EXPECT_EQ(runCommand("/usr/bin/qpdf --check " + shellQuote(pdf) + " >/dev/null 2>&1"),
                      0);
        }
        // No intermediate file is left behind.
        EXPECT_EQ(platform::listDirectory(program.out())->size(), 2u);
        for (const char* name : {"1000x500.pdf", "300x200.pdf"})
            ASSERT_TRUE(platform::deleteFile(program.out(name)));
    }
}

// --- Names, presets, pipes and folders that make it hard ---------------------------------------

// quillmere -Console $'in/a\nb.bmp': one path, one image.
TEST(ConsoleSafety, EscapeSequencesNeverReachTheTerminalAndALineFeedSplitsNoName) {
    ConsoleProgram program;
    program.usePreset([](settings::Preset& preset) {
        preset.name = "Evil \x1b]0;owned\x07 \xc2\x9b"
                      "2J name";
        preset.convertFormat = 0;
    });
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "\x1b[31mred.bmp");
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "a\nb.bmp");

    const ProgramRun run = program.run({"-Console", program.in("\x1b[31mred.bmp"), "in/a\nb.bmp"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Loaded images: 2\n"));
    EXPECT_THAT(run.out, HasSubstr("Preset: 0 -> \"Evil ?]0;owned? ?2J name\""));
    for (const char c : run.out)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);
    // The files keep their names.
    EXPECT_TRUE(fileExists(program.out("\x1b[31mred.bmp")));
    EXPECT_TRUE(fileExists(program.out("a\nb.bmp")));
}

TEST(ConsoleSafety, PortableRunLogsIntoThePerUserFolderWhenTheProgramFolderRefuses) {
    ConsoleProgram program; // portable: the presets file sits next to the program
    program.usePreset([](settings::Preset& preset) { preset.resizeEnabled = 1; });
    writeText(program.in("tiny.jpg"), std::string(34, 'x'));
    // The log cannot be written next to the program (a folder holds its name; permissions would
    // not stop a test that runs as root).
    ASSERT_TRUE(platform::createDirectory(program.programDir() + "Quillmere_Errorlog.txt"));

    const ProgramRun run = program.run({"-Console", program.in("tiny.jpg")});
    EXPECT_EQ(run.status, 1);
    const std::string log = program.root() + "home/.config/Quillmere/Quillmere_Errorlog.txt";
    EXPECT_THAT(run.out,
                HasSubstr("Take a look at \"Errorlog.txt\" for more information.\n" + log + "\n"));
    EXPECT_TRUE(platform::isRegularFile(log));
}

TEST(ConsoleSafety, MirroredFoldersStayInsideTheOutputFolderWhateverTheArguments) {
    ConsoleProgram program;
    program.usePreset([](settings::Preset& preset) {
        preset.convertFormat = 0;
        preset.mirrorSubfolders = 1;
    });
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "holiday/a.bmp");
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "today/b.bmp");

    // Started inside in/today with "../holiday" and ".".
    const std::string command =
        program.command({"-Console", "../holiday", "."}, program.in("today"));
    std::string out;
    EXPECT_EQ(runCommand(command + " 2>/dev/null", &out), 0) << out;
    EXPECT_TRUE(platform::isRegularFile(program.out("holiday/a.bmp"))) << out;
    EXPECT_TRUE(platform::isRegularFile(program.out("today/b.bmp")));
    EXPECT_FALSE(fileExists(program.root() + "holiday"));
    EXPECT_FALSE(fileExists(program.in("a.bmp")));
}

// --- A numbered batch with failures, with one thread and with four ------------------------------

std::string withoutRoot(std::string text, const std::string& root) {
    for (std::size_t at = text.find(root); at != std::string::npos; at = text.find(root, at))
        text.replace(at, root.size(), "<root>/");
    return text;
}

/// Two console runs: resized and numbered into out/ with failing images among them, then the
/// remaining sources resized in place. Gives every file under in/ and out/ with its bytes, the
/// console lines ("console") and the error logs of the runs ("log 1", "log 2"), with the scratch
/// folder written as "<root>/".
std::map<std::string, std::string> runBatch(int threads) {
    setenv("QUILL_THREADS", std::to_string(threads).c_str(), 1);
    ConsoleProgram program;
    settings::Preset numbered = program.basePreset();
    numbered.renameEnabled = 1;
    numbered.renamePattern = "img_%007%";
    numbered.resizeEnabled = 1;
    numbered.resizeMode = settings::ResizeMode::Percent;
    numbered.resizePercent = 50;
    numbered.keepFailedSources = 1;
    settings::Preset inPlace = numbered;
    inPlace.renameEnabled = 0;
    inPlace.outputDirEnabled = 0;
    inPlace.convertFormat = 0;
    program.setPresets({numbered, inPlace});

    std::vector<std::string> first{"-Console", "-IgnoreWarning"};
    const char* samples[] = {"jpeg/hopper.jpg",     "jpeg/cat.jpg",     "jpeg/progressive_3.jpg",
                             "jpeg/goldenears.jpg", "png/basn2c08.png", "jpeg/hopper_gray.jpg"};
    int n = 0;
    for (const char* sample : samples) {
        const std::string name = "s" + std::to_string(n++) + "_" + platform::filePart(sample);
        first.push_back(program.addSample(sample, name));
        if (n == 2 || n == 5) { // a JPEG that does not decode, and one too short to be an image
            const std::string bad = program.in("bad" + std::to_string(n) + ".jpg");
            const std::string tiny = program.in("tiny" + std::to_string(n) + ".jpg");
            writeText(bad, std::string(200, 'x'));
            writeText(tiny, std::string(n == 2 ? 10 : 34, 'x'));
            first.insert(first.end(), {bad, tiny});
        }
    }
    std::map<std::string, std::string> result;
    // Both runs end with "some images failed", not with a crash or a sanitizer's report.
    const ProgramRun numberedRun = program.run(first);
    EXPECT_EQ(numberedRun.status, 1) << threads << " thread(s)";
    result["console"] = numberedRun.out;
    result["log 1"] = withoutRoot(program.errorLog(), program.root());
    const ProgramRun inPlaceRun =
        program.run({"-Console", "-IgnoreWarning", "-Preset=1", program.in()});
    EXPECT_EQ(inPlaceRun.status, 1) << threads << " thread(s)";
    result["console"] += inPlaceRun.out;
    unsetenv("QUILL_THREADS");
    result["console"] = withoutRoot(result["console"], program.root());
    result["log 2"] = withoutRoot(program.errorLog(), program.root());
    for (const char* folder : {"in", "out"})
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(program.root() + folder)) {
            const auto bytes = readBytes(entry.path().string());
            result[entry.path().lexically_relative(program.root()).string()] = {bytes.begin(),
                                                                                bytes.end()};
        }
    return result;
}

TEST(ThreadCount, FourThreadsWriteLogAndPrintExactlyWhatOneThreadDoes) {
    const auto one = runBatch(1);
    const auto four = runBatch(4);
    ASSERT_EQ(one.size(), four.size());
    for (const auto& [name, bytes] : one) {
        ASSERT_TRUE(four.count(name)) << name;
        EXPECT_TRUE(four.at(name) == bytes) << name;
    }

    // The failures are logged once each, with one explanation per kind; the number of an image
    // that failed after it got one goes to the next image.
    EXPECT_THAT(one.at("console"),
                HasSubstr("Result: Error(s) occured!\n"
                          "Take a look at \"Errorlog.txt\" for more information.\n"
                          "<root>/bin/Quillmere_Errorlog.txt\n"));
    const std::string& log = one.at("log 1");
    ASSERT_EQ(log.rfind("\xEF\xBB\xBFQuillmere - Batch Image Modifier\r\n", 0), 0u) << log;
    EXPECT_THAT(log, HasSubstr("Image: <root>/in/tiny2.jpg\r\nOutput: \r\n"
                               "Error: Unreadable file\r\n\r\n"));
    EXPECT_THAT(log, HasSubstr("Image: <root>/in/tiny5.jpg"));
    EXPECT_THAT(log, HasSubstr("Output: <root>/out/img_009.jpg\r\nError: Loading failed"));
    EXPECT_THAT(log, Not(HasSubstr("s0_hopper")));
    for (const std::string explanation : {"Unreadable file\r\nThe file could not be opened",
                                          "Loading failed\r\nThe image could not be decoded"}) {
        const auto first = log.find(explanation);
        ASSERT_NE(first, std::string::npos) << explanation;
        EXPECT_EQ(log.find(explanation, first + 1), std::string::npos) << explanation;
    }
    EXPECT_EQ(one.count("out/img_009.jpg"), 1u); // the number bad2.jpg gave back
    EXPECT_EQ(one.count("out/img_012.jpg"), 1u);
    EXPECT_EQ(one.count("out/img_013.jpg"), 0u);
}

// A run reads every new format and writes every new output format: each output has its
// format's extension and content, and the size of its source.
TEST(ConsoleRun, NewFormatsAreReadAndWrittenByARun) {
    ConsoleProgram program;
    const std::vector<std::string> sources = {
        program.addSample("../webp/lossy.webp", "w.webp"),
        program.addSample("../avif/photo420.avif", "a.avif"),
        program.addSample("../heif/cat_exif_icc.heic", "h.heic"),
        program.addSample("../jxl/cat_lossy.jxl", "j.jxl"),
        program.addSample("../raw/patches.dng", "r.dng"),
    };
    const struct {
        settings::OutputFormat format;
        const char* extension;
        imagefiles::FormatKind kind;
    } outputs[] = {
        {settings::OutputFormat::Webp, "webp", imagefiles::FormatKind::Webp},
        {settings::OutputFormat::Avif, "avif", imagefiles::FormatKind::Avif},
        {settings::OutputFormat::JpegXl, "jxl", imagefiles::FormatKind::JpegXl},
        {settings::OutputFormat::Tiff, "tif", imagefiles::FormatKind::Tiff},
    };
    std::vector<settings::Preset> presets;
    for (const auto& output : outputs) {
        settings::Preset preset = program.basePreset();
        preset.convertFormat = 1;
        preset.outputFormat = output.format;
        preset.outputDirPattern = program.out(output.extension) + "/";
        presets.push_back(preset);
    }
    program.setPresets(presets);

    for (std::size_t p = 0; p < std::size(outputs); ++p) {
        std::vector<std::string> args{"-Console", "-Preset=" + std::to_string(p)};
        args.insert(args.end(), sources.begin(), sources.end());
        const ProgramRun run = program.run(args);
        EXPECT_EQ(run.status, 0) << run.out;
        for (const std::string& source : sources) {
            const std::string name = std::filesystem::path(source).stem().string();
            const std::string written =
                program.out(outputs[p].extension) + "/" + name + "." + outputs[p].extension;
            SCOPED_TRACE(written);
            const toolkit::Image in =
                imagefiles::loadImageFile(source, imagefiles::FormatKind::None);
            const toolkit::Image out = imagefiles::loadImageFile(written, outputs[p].kind);
            ASSERT_FALSE(out.empty());
            EXPECT_EQ(out.width(), in.width());
            EXPECT_EQ(out.height(), in.height());
        }
    }
}

} // namespace
} // namespace quill::test
