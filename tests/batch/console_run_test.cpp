// Console batch runs of the real program over copies of real images: what it prints, what it
// writes, and what it does with the sources.
#include "console_program.h"

#include "settings/preset.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>

namespace quill::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

bool exists(const std::string& path) {
    return platform::fileExists(path);
}

std::string logOf(const ConsoleProgram& program) {
    const auto bytes = readBytes(program.programDir() + "Quillmere_Errorlog.txt");
    return {bytes.begin(), bytes.end()};
}

// --- What the console shows ------------------------------------------------------------------

TEST(ConsoleRun, PrintsTheSpecifiedLinesInOrder) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.name = "Plain copy";
    preset.convertFormat = 0;
    program.setPresets({preset});
    program.addSample("jpeg/hopper.jpg");

    const ProgramRun run = program.run({"-Console", program.in()});
    EXPECT_EQ(run.status, 0);
    ASSERT_EQ(run.out.rfind("\n\nQuillmere - Batch Image Modifier\n", 0), 0u) << run.out;
    const std::string tail = "----------------\n"
                             "\n"
                             "Preset: 0 -> \"Plain copy\"\n"
                             "\n"
                             "Loaded images: 1\n"
                             "\n"
                             "\n"
                             "Processing, please wait...\n"
                             "\n"
                             "\n"
                             "Result: Processed successfully\n"
                             "\n"
                             "----------------\n"
                             "\n";
    ASSERT_GE(run.out.size(), tail.size());
    EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail) << run.out;
    EXPECT_TRUE(exists(program.out("hopper.jpg")));
    EXPECT_FALSE(exists(program.programDir() + "Quillmere_Errorlog.txt"));
}

// quillmere -Console $'a\nb.png', started in the folder that holds the file: one path, one image.
TEST(ConsoleRun, AFileNameWithALineFeedIsOneImage) {
    ConsoleProgram program;
    program.setPresets({program.basePreset()});
    std::filesystem::copy_file(testdata("png/basn2c08.png"), program.root() + "a\nb.png");

    const ProgramRun run = program.run({"-Console", "a\nb.png"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Loaded images: 1\n"));
    EXPECT_TRUE(exists(program.out("a\nb.jpg")));
}

TEST(ConsoleRun, RefusalsPrintTheReasonAndExitWithStatusTwo) {
    ConsoleProgram program;
    settings::Preset replacing = program.basePreset();
    replacing.outputDirEnabled = 0;
    settings::Preset moving = program.basePreset();
    moving.moveOriginal = 1;
    settings::Preset nothing = program.basePreset();
    nothing.convertFormat = 0;
    nothing.outputDirEnabled = 0;
    program.setPresets({program.basePreset(), replacing, moving, nothing});
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
    EXPECT_TRUE(exists(source)); // nothing was touched

    // Ignored, the warning is one line and the run goes on.
    const ProgramRun run = program.run({"-Console", "-Preset=1", "-IgnoreWarning", source});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Loaded images: 1\n\n"
                                   "Warning: Replacing is disabled - Ignored\n\n"
                                   "\nProcessing, please wait..."));
    EXPECT_TRUE(exists(program.in("a.jpg")));
    EXPECT_FALSE(exists(source)); // the output took the source's place
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
        EXPECT_THAT(run.out, HasSubstr("Loaded images: 3"));
        EXPECT_THAT(run.out, HasSubstr("Result: Processed successfully"));
        // Every default preset writes below <desktop>/output/.
        std::string listing;
        runCommand("find " + shellQuote(program.root() + "home/Desktop/output") + " -type f",
                   &listing);
        EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 3) << listing;
        // Preset 5 moves its sources; the others keep them.
        EXPECT_EQ(exists(program.in("Canon_40D.jpg")), number != 5);
    }
}

// --- Results of single images ------------------------------------------------------------------

TEST(ConsoleRun, FailuresAreLoggedOncePerKindGiveBackTheirNumbersAndExitWithStatusOne) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.renameEnabled = 1;
    preset.renamePattern = "img_%007%";
    preset.resizeEnabled = 1; // forces decoding
    program.setPresets({preset});
    program.addSample("jpeg/hopper.jpg", "a.jpg");
    writeText(program.in("tiny1.jpg"), std::string(34, 'x'));
    writeText(program.in("b.jpg"), std::string(200, 'x')); // long enough, but no JPEG
    writeText(program.in("tiny2.jpg"), std::string(10, 'x'));
    program.addSample("jpeg/cat.jpg", "c.jpg");

    const ProgramRun run =
        program.run({"-Console", program.in("a.jpg"), program.in("tiny1.jpg"), program.in("b.jpg"),
                     program.in("tiny2.jpg"), program.in("c.jpg")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, Not(HasSubstr("Result: Processed successfully")));
    EXPECT_THAT(run.out, HasSubstr("Result: Error(s) occured!\n"
                                   "Take a look at \"Errorlog.txt\" for more information.\n" +
                                   program.programDir() + "Quillmere_Errorlog.txt\n"));
    const std::string log = logOf(program);
    ASSERT_EQ(log.rfind("\xEF\xBB\xBFQuillmere - Batch Image Modifier\r\n", 0), 0u);
    EXPECT_THAT(log, HasSubstr("Image: " + program.in("tiny1.jpg") +
                               "\r\nOutput: \r\n"
                               "Error: Unreadable file\r\n\r\n"));
    EXPECT_THAT(log, HasSubstr("Image: " + program.in("tiny2.jpg")));
    EXPECT_THAT(log, Not(HasSubstr("Image: " + program.in("a.jpg"))));
    // One explanation block for the two failures of one kind.
    const std::string explanation = "Unreadable file\r\nThe file could not be opened";
    const auto first = log.find(explanation);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find(explanation, first + 1), std::string::npos);
    // The number of the image that failed after it got one goes to the next image.
    EXPECT_THAT(log,
                HasSubstr("Output: " + program.out("img_008.jpg") + "\r\nError: Loading failed"));
    EXPECT_TRUE(exists(program.out("img_007.jpg")));
    EXPECT_TRUE(exists(program.out("img_008.jpg")));
    EXPECT_FALSE(exists(program.out("img_009.jpg")));
}

TEST(ConsoleRun, ExistingOutputsAreSkippedAndKeptUntouched) {
    ConsoleProgram program;
    program.setPresets({program.basePreset()});
    program.addSample("png/basn2c08.png", "a.png");
    program.addSample("png/basn0g08.png", "b.png");
    writeText(program.out("a.jpg"), "do not touch");
    writeText(program.out("b.jpg"), "nor this");

    const ProgramRun run = program.run({"-Console", program.in()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readBytes(program.out("a.jpg")).size(), 12u);
    EXPECT_EQ(readBytes(program.out("b.jpg")).size(), 8u);
    const std::string log = logOf(program);
    EXPECT_THAT(log, HasSubstr("Output: " + program.out("a.jpg") + "\r\nError: Output exists"));
    EXPECT_THAT(log, HasSubstr("Output: " + program.out("b.jpg") + "\r\nError: Output exists"));
}

TEST(ConsoleRun, FilterThatExcludesEveryImageEndsWithoutFailures) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.filterEnabled = 1;
    settings::FilterCondition wide;
    wide.flags = settings::kConditionActive;
    wide.property = 4;  // width
    wide.operator_ = 3; // greater than
    wide.value = "1";
    wide.valueKind = 1;
    preset.filterConditions = {wide};
    program.setPresets({preset});
    program.addSample("jpeg/hopper.jpg");
    program.addSample("png/basn2c08.png");

    const ProgramRun run = program.run({"-Console", program.in()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_THAT(run.out, HasSubstr("Result: Processed successfully"));
    EXPECT_TRUE(platform::listDirectory(program.out())->empty());
}

// --- Files that are only copied, moved or renamed ----------------------------------------------

TEST(ConsoleRun, FilesThatNeedNoDecodingKeepTheirBytes) {
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
        EXPECT_EQ(exists(c.source), c.sourceStays) << c.source;
    }

    // A TIFF that must be edited cannot be: the image fails and nothing is written.
    ASSERT_TRUE(platform::deleteFile(program.out("Arbitro.tiff")));
    const ProgramRun run = program.run({"-Console", "-Preset=3", tiff});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(logOf(program), HasSubstr("Error: Unsupported format"));
    EXPECT_FALSE(exists(program.out("Arbitro.tiff")));
}

TEST(ConsoleRun, FileDatesShiftedFromTheSourceDates) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.setFileDates = 1;
    preset.fileDateSource = settings::FileDateSource::Shifted;
    preset.fileDateShiftMinutes = -90;
    preset.useExifDate = 0;
    program.setPresets({preset});
    const std::string source = program.addSample("png/basn2c08.png", "a.png");
    const std::int64_t modified = 1500000000; // TZ=UTC in the program, so local = UTC
    const std::int64_t accessed = 1500003600;
    struct timespec times[2] = {{accessed, 0}, {modified, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);

    const ProgramRun run = program.run({"-Console", source});
    EXPECT_EQ(run.status, 0) << run.out;
    struct stat st {};
    ASSERT_EQ(stat(program.out("a.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, modified - 5400);
    EXPECT_EQ(st.st_atime, accessed - 5400);
}

TEST(ConsoleRun, EditedJpegCarriesItsMetadataWithPatchedOrientationAndSize) {
    if (!haveTool("/usr/bin/exiftool")) GTEST_SKIP() << "exiftool missing";
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.convertFormat = 0;
    preset.rotateEnabled = 1;
    preset.rotateMode = 1; // clockwise: turns an orientation-6 picture upright
    preset.useExifOrientation = 1;
    preset.keepMetadata = 1;
    preset.commentEnabled = 1;
    preset.commentText = "%fn% %IW%x%IH%";
    program.setPresets({preset});
    const std::string source = program.addSample("exif/Canon_40D.jpg", "canon.jpg"); // 100 x 68
    ASSERT_EQ(runCommand("/usr/bin/exiftool -q -n -overwrite_original -Orientation=6 " +
                         shellQuote(source)),
              0);

    const ProgramRun run = program.run({"-Console", source});
    ASSERT_EQ(run.status, 0) << run.out;
    std::string tags;
    runCommand("/usr/bin/exiftool -n -s3 -Orientation -ExifImageWidth -ExifImageHeight -Make "
               "-Comment " +
                   shellQuote(program.out("canon.jpg")),
               &tags);
    // The size tokens give the source size, padded to four digits.
    EXPECT_EQ(tags, "1\n68\n100\nCanon\ncanon 0100x0068\n");
}

// --- PDF output -------------------------------------------------------------------------------

TEST(ConsoleRun, PdfPagesTurnForWideImages) {
    if (!haveTool("/usr/bin/pdfinfo") || !haveTool("/usr/bin/convert"))
        GTEST_SKIP() << "poppler-utils or ImageMagick missing";
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.outputFormat = settings::OutputFormat::Pdf;
    program.setPresets({preset});
    for (const char* size : {"1000x500", "300x200"})
        ASSERT_EQ(runCommand("/usr/bin/convert -size " + std::string(size) + " xc:red " +
                             shellQuote(program.in(std::string(size) + ".png"))),
                  0);

    const ProgramRun run = program.run({"-Console", program.in()});
    ASSERT_EQ(run.status, 0) << run.out;
    // A4 in points; where the image sits on the page is checked with the page layout.
    for (const auto& [name, page] : {std::pair{"1000x500", "841.89 x 595.28 pts"},
                                     std::pair{"300x200", "595.28 x 841.89 pts"}}) {
        std::string info;
        runCommand("/usr/bin/pdfinfo " + shellQuote(program.out(std::string(name) + ".pdf")),
                   &info);
        EXPECT_THAT(info, HasSubstr(page)) << name;
    }
    // No intermediate file is left behind.
    EXPECT_EQ(platform::listDirectory(program.out())->size(), 2u);
}

} // namespace
} // namespace quill::test
