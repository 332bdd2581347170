// The pieces of the batch run that work without the program: image details, sorting, the
// preparation phase, the processing loop on files that change under it, and the error log's lines.
#include "batch/error_log.h"
#include "batch/prepare.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_record.h"
#include "pipeline/process_loop.h"
#include "settings/language_pack.h"
#include "settings/run_settings.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill::batch {
namespace {

using imagefiles::ImageRecord;
using imagefiles::ImageResult;
using toolkit::Image;
using toolkit::PixelFormat;

Image filled(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Image image(w, h, PixelFormat::Bgr24);
    const std::uint8_t pixel[] = {b, g, r};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::copy_n(pixel, 3, image.row(y) + 3 * x);
    return image;
}

TEST(ImageDetails, DistinctColoursAndBrightness) {
    Image gradient(256, 256, PixelFormat::Bgra32);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            std::uint8_t* p = gradient.row(y) + 4 * x;
            p[0] = std::uint8_t(x);
            p[1] = std::uint8_t(y);
            p[2] = 7;
            p[3] = std::uint8_t(x ^ y); // alpha never makes a colour distinct
        }
    EXPECT_EQ(countDistinctColours(gradient), 65536);
    EXPECT_EQ(countDistinctColours(filled(9, 3, 1, 2, 3)), 1);
    EXPECT_EQ(countDistinctColours(Image()), 0);

    EXPECT_DOUBLE_EQ(averageBrightness(filled(4, 4, 255, 255, 255)), 1.0);
    EXPECT_NEAR(averageBrightness(filled(4, 4, 0, 0, 255)), 0.299, 1e-9);
    EXPECT_LT(averageBrightness(Image()), 0.0);
}

TEST(Sorting, KeysOfEachKindBothWaysAndRandomKeepsTheRecords) {
    std::vector<ImageRecord> records(3);
    const char* names[] = {"b", "c", "a"};
    for (int i = 0; i < 3; ++i) {
        records[i].fileName = names[i];
        records[i].recordedDate = 100 + i;     // 100 101 102
        records[i].width = i == 1 ? 70000 : i; // unsigned compare
        records[i].aspectRatio = float(i) / 2;
        records[i].recordId = i;
    }
    auto order = [&](settings::SortKey key, bool ascending) {
        auto copy = records;
        sortRecords(copy, key, ascending);
        std::string ids;
        for (const auto& r : copy)
            ids += char('0' + r.recordId);
        return ids;
    };
    EXPECT_EQ(order(settings::SortKey::FileName, true), "201");
    EXPECT_EQ(order(settings::SortKey::FileName, false), "102");
    EXPECT_EQ(order(settings::SortKey::ImageDate, false), "210");
    EXPECT_EQ(order(settings::SortKey::Width, true), "021");
    EXPECT_EQ(order(settings::SortKey::AspectRatio, true), "012");
    std::string shuffled = order(settings::SortKey::Random, true);
    std::sort(shuffled.begin(), shuffled.end());
    EXPECT_EQ(shuffled, "012");
}

struct NeverStop final : pipeline::DiskFullQuestion {
    bool askStopAfterDiskFull(const std::string&) override { return false; }
};

class BatchWithFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings::loadProgramInfo());
        ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
        settingsRecord = settings::defaultPreset(0, "Test");
        settingsRecord.outputDirPattern = dir.path() + "out/";
        ASSERT_TRUE(platform::createDirectories(dir.path() + "out/"));
    }
    void add(const std::string& sample, const std::string& as) {
        const std::string path = dir.file(as);
        test::writeBytes(path, test::readBytes(test::testdata(sample)));
        ASSERT_TRUE(imagefiles::addImageRecord(path, images, {}));
    }
    /// Runs the loop as a window run that asks `collisions` and goes on after a full disk.
    void process(settings::CollisionPolicy& collisions) {
        const settings::RunSettings run = derive();
        NeverStop diskFull;
        flags.runActive = 1;
        pipeline::ProcessEnvironment env{images, keep,       settingsRecord, run,
                                         flags,  collisions, diskFull,       "creator"};
        pipeline::processImages(env);
    }
    void processWithReplaceAll() {
        settings::FixedCollisionPolicy replaceAll(settings::CollisionAnswer::ReplaceAll);
        process(replaceAll);
    }
    settings::RunSettings derive() {
        return settings::deriveRunSettings(settingsRecord,
                                           settings::runContextFromPlatform(images.size(), 0));
    }

    test::TempDir dir;
    imagefiles::ImageList images;
    imagefiles::ImageList keep;
    pipeline::RunFlags flags;
    settings::Preset settingsRecord;
};

TEST_F(BatchWithFiles, AnImageReadsTheFileThatTheImageBeforeItWroteWhateverTheThreads) {
    // a.png becomes a.jpg next to it, replacing the listed a.jpg, which is processed next: that
    // one must be read as the first image left it, although workers decode it ahead.
    settingsRecord.outputDirEnabled = 0;
    settingsRecord.resizeEnabled = 1;
    settingsRecord.resizeMode = settings::ResizeMode::Percent;
    settingsRecord.resizePercent = 50;
    for (const std::string threads : {"1", "4"}) {
        SCOPED_TRACE("threads " + threads);
        const std::string folder = dir.file(threads + "/");
        ASSERT_TRUE(platform::createDirectories(folder));
        test::writeBytes(folder + "a.png", test::readBytes(test::testdata("png/basn2c08.png")));
        test::writeBytes(folder + "a.jpg", test::readBytes(test::testdata("jpeg/hopper.jpg")));
        images.clear();
        ASSERT_TRUE(imagefiles::addImageRecord(folder + "a.png", images, {}));
        ASSERT_TRUE(imagefiles::addImageRecord(folder + "a.jpg", images, {}));
        setenv("QUILL_THREADS", threads.c_str(), 1);
        processWithReplaceAll();
        unsetenv("QUILL_THREADS");
        ASSERT_EQ(images[1].resultState, ImageResult::Done);
        // a.png (32 wide) halved twice; the listed a.jpg (128 wide) halved once would be 64.
        EXPECT_EQ(imagefiles::loadImageFile(folder + "a.jpg", imagefiles::FormatKind::None).width(),
                  8);
        EXPECT_FALSE(platform::fileExists(folder + "a.png"));
    }
}

TEST_F(BatchWithFiles, ASourceSwappedForALinkIsLeftAlone) {
    // The overwrite question comes after the source was looked at and before it is removed; in
    // that gap the source is replaced by a link to a file elsewhere.
    add("png/basn2c08.png", "a.png");
    const std::string elsewhere = dir.file("elsewhere.png");
    test::writeBytes(elsewhere, test::readBytes(dir.file("a.png")));
    test::writeText(dir.file("out/a.jpg"), "old");
    struct SwapThenReplace final : settings::CollisionPolicy {
        std::string source, target;
        settings::CollisionAnswer decide(const std::string&) override {
            EXPECT_TRUE(platform::deleteFile(source));
            EXPECT_EQ(symlink(target.c_str(), source.c_str()), 0);
            return settings::CollisionAnswer::ReplaceThis;
        }
    } policy;
    policy.source = dir.file("a.png");
    policy.target = elsewhere;
    settingsRecord.moveOriginal = 1;
    process(policy);
    // A worker may decode the image before the question or after it; after it, the decode meets
    // the link and fails instead of the move.
    const ImageResult state = images[0].resultState;
    EXPECT_TRUE(state == ImageResult::WriteFailed || state == ImageResult::LoadFailed)
        << int(state);
    EXPECT_TRUE(platform::fileIdentity(dir.file("a.png"))->isLink) << "the link was removed";
    EXPECT_TRUE(platform::isRegularFile(elsewhere));
}

// Sources and the output folder change between the listing and the run: each changed source
// fails by itself with its file left as it is, the others are moved as the preset says, and a
// missing output folder is made again. An output folder that became a file fails every image
// and moves no source.
TEST_F(BatchWithFiles, SourcesAndTheOutputFolderChangingBeforeTheRunFailOnlyWhatChanged) {
    settingsRecord.moveOriginal = 1;
    for (const char* name :
         {"kept.png", "deleted.png", "folder.png", "unreadable.png", "grown.png"})
        add("png/basn2c08.png", name);
    const std::vector<std::uint8_t> original = test::readBytes(dir.file("kept.png"));
    ASSERT_TRUE(platform::deleteFile(dir.file("deleted.png")));
    ASSERT_TRUE(platform::deleteFile(dir.file("folder.png")));
    ASSERT_TRUE(platform::createDirectories(dir.file("folder.png/")));
    std::vector<std::uint8_t> grown = original;
    grown.resize(grown.size() + 4096, 0x5A); // more bytes after the end of the image
    test::writeBytes(dir.file("grown.png"), grown);
    ASSERT_TRUE(std::filesystem::remove_all(dir.file("out")));
    {
        const test::ReadFault fault(dir.file("unreadable.png"), platform::ReadStep::Open, EACCES);
        processWithReplaceAll();
    }
    std::map<std::string, ImageResult> results;
    for (const ImageRecord& record : images.records())
        results[record.fileName] = record.resultState;
    EXPECT_EQ(results["kept"], ImageResult::Done);
    EXPECT_EQ(results["grown"], ImageResult::Done);
    for (const char* name : {"deleted", "folder", "unreadable"}) {
        EXPECT_NE(results[name], ImageResult::Done) << name;
        EXPECT_NE(results[name], ImageResult::Pending) << name << ": the run stopped before it";
        EXPECT_FALSE(platform::fileExists(dir.file(std::string("out/") + name + ".jpg"))) << name;
    }
    EXPECT_TRUE(platform::isDirectory(dir.file("folder.png/")));
    EXPECT_EQ(test::readBytes(dir.file("unreadable.png")), original);
    for (const char* name : {"kept", "grown"}) {
        EXPECT_FALSE(platform::fileExists(dir.file(std::string(name) + ".png"))) << "not moved";
        EXPECT_EQ(imagefiles::loadImageFile(dir.file(std::string("out/") + name + ".jpg"),
                                            imagefiles::FormatKind::None)
                      .width(),
                  32);
    }

    // The output folder is now a file: nothing can be written, so every source stays.
    images.clear();
    ASSERT_TRUE(std::filesystem::remove_all(dir.file("out")));
    test::writeText(dir.file("out"), "a file where the output folder was");
    for (const char* name : {"one.png", "two.png"})
        add("png/basn2c08.png", name);
    processWithReplaceAll();
    for (const ImageRecord& record : images.records()) {
        EXPECT_EQ(record.resultState, ImageResult::WriteFailed) << record.fileName;
        EXPECT_EQ(test::readBytes(record.sourcePath), original) << record.fileName;
    }
}

// What happens to files while the run reads them, through the read hook that runs before every
// open and read: one source grows (a copy still arriving), and the output folder is removed.
/// Makes a folder read-only for this process or writable again. Permissions do not stop root (as
/// CI runs), so root sets the folder's immutable flag instead, which stops it too; false where
/// the file system has no such flag.
bool setFolderReadOnly(const std::string& folder, bool readOnly) {
    if (geteuid() != 0) return ::chmod(folder.c_str(), readOnly ? 0555 : 0755) == 0;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = readOnly ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

struct ChangesDuringTheRun {
    std::string grows{}, removesFolder{}, folder{};
    std::string freezesFolder{}; ///< opening this source makes `folder` read-only
    int grown = 0; ///< times the source grew: at every read, as a copy still arriving would
};
ChangesDuringTheRun g_changes;

int changeFilesWhileTheyAreRead(const std::string& path, platform::ReadStep step) {
    ChangesDuringTheRun& c = g_changes;
    if (path == c.grows && step == platform::ReadStep::Read && c.grown < 1000) {
        ++c.grown;
        std::vector<std::uint8_t> more = test::readBytes(path);
        more.resize(more.size() + 8192, 0x5A);
        test::writeBytes(path, more);
    } else if (path == c.removesFolder && step == platform::ReadStep::Open) {
        std::filesystem::remove_all(c.folder);
    } else if (path == c.freezesFolder && step == platform::ReadStep::Open) {
        (void)setFolderReadOnly(c.folder, true);
    }
    return 0;
}

// A source that grew while it was read fails with every byte it grew by, instead of being moved
// or written over with what was read of it before; an output folder removed during the run is
// made again for the images after it.
TEST_F(BatchWithFiles, SourcesAndTheOutputFolderChangingDuringTheRunLoseNothing) {
    for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "written over the sources" : "sources moved");
        images.clear();
        settingsRecord.moveOriginal = inPlace ? 0 : 1;
        settingsRecord.outputDirEnabled = inPlace ? 0 : 1;
        settingsRecord.convertFormat = inPlace ? 0 : 1;
        settingsRecord.resizeEnabled = 1; // decoded and written, also in place
        settingsRecord.resizeMode = settings::ResizeMode::Percent;
        settingsRecord.resizePercent = 50;
        const std::string sub = inPlace ? "place/" : "move/";
        settingsRecord.outputDirPattern = dir.file(sub + "output/");
        ASSERT_TRUE(platform::createDirectories(dir.file(sub)));
        for (const char* name : {"a.png", "grows.png", "b.png", "c.png"})
            add("png/basn2c08.png", sub + name);
        const std::vector<std::uint8_t> original = test::readBytes(dir.file(sub + "a.png"));
        g_changes = {.grows = dir.file(sub + "grows.png"),
                     .removesFolder = inPlace ? "" : dir.file(sub + "b.png"),
                     .folder = dir.file(sub + "output")};
        platform::detail::setReadFault(&changeFilesWhileTheyAreRead);
        processWithReplaceAll();
        platform::detail::setReadFault(nullptr);
        ASSERT_GT(g_changes.grown, 0);

        std::map<std::string, ImageResult> results;
        for (const ImageRecord& record : images.records())
            results[record.fileName] = record.resultState;
        // The grown file is still there with every byte it grew by.
        const std::vector<std::uint8_t> grown = test::readBytes(dir.file(sub + "grows.png"));
        EXPECT_NE(results["grows"], ImageResult::Done);
        ASSERT_EQ(grown.size(), original.size() + 8192 * std::size_t(g_changes.grown));
        EXPECT_TRUE(std::equal(original.begin(), original.end(), grown.begin()));
        for (const std::string name : {"a", "b", "c"}) {
            if (!inPlace && name == "a") {
                // The folder went while a was written or just after: it failed and kept its
                // source, or it was done and its output went with the folder.
                if (results[name] != ImageResult::Done) {
                    EXPECT_EQ(test::readBytes(dir.file(sub + "a.png")), original);
                }
                continue;
            }
            EXPECT_EQ(results[name], ImageResult::Done) << name;
            const std::string written =
                inPlace ? sub + name + ".png" : sub + "output/" + name + ".jpg";
            EXPECT_EQ(
                imagefiles::loadImageFile(dir.file(written), imagefiles::FormatKind::None).width(),
                16)
                << name;
        }
    }
}

// The output folder made read-only in the middle of a run that moves its sources: every image
// not written by then fails with its source where it was, and the run goes on to its end.
TEST_F(BatchWithFiles, AnOutputFolderMadeReadOnlyDuringTheRunKeepsTheSourcesOfWhatFails) {
    const std::string folder = dir.file("frozen");
    ASSERT_TRUE(platform::createDirectories(folder));
    if (!setFolderReadOnly(folder, true)) GTEST_SKIP() << "no read-only folders here";
    ASSERT_TRUE(setFolderReadOnly(folder, false));
    settingsRecord.moveOriginal = 1;
    settingsRecord.convertFormat = 1;
    settingsRecord.outputDirEnabled = 1;
    settingsRecord.outputDirPattern = folder + "/";
    for (const char* name : {"a.png", "b.png", "c.png", "d.png"})
        add("png/basn2c08.png", name);
    const std::vector<std::uint8_t> original = test::readBytes(dir.file("a.png"));
    g_changes = {.folder = folder, .freezesFolder = dir.file("b.png")};
    platform::detail::setReadFault(&changeFilesWhileTheyAreRead);
    processWithReplaceAll();
    platform::detail::setReadFault(nullptr);
    ASSERT_TRUE(setFolderReadOnly(folder, false));

    // a may have been written before b was opened, or b may have been read ahead of a's write.
    std::vector<std::string> done;
    for (const ImageRecord& record : images.records()) {
        const std::string& name = record.fileName;
        if (record.resultState == ImageResult::Done) {
            EXPECT_EQ(name, "a");
            EXPECT_FALSE(std::filesystem::exists(dir.file(name + ".png")));
            done.push_back(name + ".jpg");
        } else {
            EXPECT_EQ(record.resultState, ImageResult::WriteFailed) << name;
            EXPECT_EQ(test::readBytes(dir.file(name + ".png")), original) << name;
        }
    }
    // A temporary file the run could not remove from the read-only folder is the next run's to
    // remove; then only the outputs of what was done are there.
    (void)platform::removeLeftoverTemporaries(folder);
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        written.push_back(entry.path().filename().string());
    EXPECT_EQ(written, done);
}

// A detail that cannot be read because the disk fails is not a detail the file lacks: the image
// fails with the reason, and is neither filed under its file date nor sorted by a size of 0.
// A JPEG without a date taken still goes by its file date, and the other images go on.
TEST_F(BatchWithFiles, ADetailThatFailsToReadFailsTheImageInsteadOfAGuess) {
    using platform::ReadStep;
    const struct {
        const char* what;
        const char* sample; // the image whose read fails
        ReadStep step;
        bool byWidth; // sorted by width: the size is read, not the date taken
    } cases[] = {
        {"date taken, open", "exif/Nikon_D70.jpg", ReadStep::Open, false},
        {"date taken, read", "exif/Nikon_D70.jpg", ReadStep::Read, false},
        {"size, open", "png/basn2c08.png", ReadStep::Open, true},
        {"size, read", "png/basn2c08.png", ReadStep::Read, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string folder = dir.file(std::string(c.what) + "/");
        ASSERT_TRUE(platform::createDirectories(folder + "out/"));
        settingsRecord = settings::defaultPreset(5, "Move by date");
        settingsRecord.outputDirPattern = folder + "out/%DY%/%DM%/";
        settingsRecord.sortEnabled = c.byWidth ? 1 : 0;
        settingsRecord.sortKey = settings::SortKey::Width;
        images.clear();
        const std::string sample = test::testdata(c.sample);
        const std::string failing = folder + "failing" + sample.substr(sample.rfind('.'));
        for (const auto& [from, to] : {std::pair{sample, failing},
                                       {test::testdata("exif/Nikon_D70.jpg"), folder + "taken.jpg"},
                                       {test::testdata("jpeg/hopper.jpg"), folder + "plain.jpg"}}) {
            test::writeBytes(to, test::readBytes(from));
            // 2023-03-15 12:00 local time: the file date of every copy.
            ASSERT_TRUE(platform::setFileDates(to, 1678881600, 1678881600));
            ASSERT_TRUE(imagefiles::addImageRecord(to, images, {}));
        }
        {
            const test::ReadFault fault(failing, c.step, EIO);
            const settings::RunSettings run = derive();
            flags.runActive = 1;
            PrepareEnvironment env{images, keep, settingsRecord, run, flags, false};
            prepare(env);
            settings::FixedCollisionPolicy skipAll(settings::CollisionAnswer::SkipAll);
            process(skipAll);
        }
        std::map<std::string, const ImageRecord*> byName;
        for (const ImageRecord& record : images.records())
            byName[record.fileName] = &record;
        ASSERT_EQ(byName.size(), 3u);
        EXPECT_EQ(byName["failing"]->resultState, ImageResult::Unreadable);
        EXPECT_EQ(byName["failing"]->resultCode, imagefiles::DetailReadError);
        EXPECT_EQ(failureLine(*byName["failing"]),
                  "Unreadable file  (the file could not be read (input/output error))");
        EXPECT_TRUE(platform::isRegularFile(failing)) << "the source stays where it is";
        EXPECT_EQ(byName["taken"]->resultState, ImageResult::Done);
        EXPECT_TRUE(platform::isRegularFile(folder + "out/2008/03/taken.jpg"));
        EXPECT_EQ(byName["plain"]->resultState, ImageResult::Done);
        EXPECT_TRUE(platform::isRegularFile(folder + "out/2023/03/plain.jpg"));
        std::size_t outputs = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder + "out"))
            outputs += entry.is_regular_file() ? 1 : 0;
        EXPECT_EQ(outputs, 2u);
    }
}

// The English texts, written out here, so that a wrong text index shows.
TEST_F(BatchWithFiles, ErrorLogLinesNameTheOperationOfAFailedStepAndAreValidUtf8) {
    const auto line = [](ImageResult state, int code) {
        ImageRecord record;
        record.resultState = state;
        record.resultCode = code;
        return failureLine(record);
    };
    EXPECT_EQ(line(ImageResult::StepFailed, imagefiles::DetailResize),
              "Processing failed  (Resize)");
    EXPECT_EQ(line(ImageResult::StepFailed, 99), "Processing failed");
    EXPECT_EQ(line(ImageResult::WriteFailed, imagefiles::DetailResize), "Writing failed");
    // An output written at the lowest quality and still too large says so, not which step.
    EXPECT_EQ(line(ImageResult::StepFailed, imagefiles::DetailLargerThanLimit),
              "Processing failed  (larger than the limit)");

    const struct {
        std::string raw;
        std::string logged;
    } cases[] = {
        {"/p/caf\xC3\xA9.jpg", "/p/caf\xC3\xA9.jpg"}, // valid: unchanged
        {"/p/caf\xE9.jpg", "/p/caf\\xE9.jpg"},        // Latin-1 byte
        {"/p/\xC3(.jpg", "/p/\\xC3(.jpg"},            // cut sequence
        {"/p/a\nb.jpg", "/p/a\\x0Ab.jpg"},            // a line feed keeps lines intact
        {"/p/caf\\xE9.jpg", "/p/caf\\x5CxE9.jpg"},    // a backslash is escaped too
    };
    for (const auto& c : cases)
        EXPECT_EQ(logSafeText(c.raw), c.logged) << c.raw;
    // Every logged text stands for one name only: a name spelled like the escape of another
    // logs differently from it.
    EXPECT_NE(logSafeText("/p/caf\xE9.jpg"), logSafeText("/p/caf\\xE9.jpg"));

    ImageRecord record;
    record.sourcePath = "/p/caf\xE9.png";
    record.resultText = "/out/caf\xE9.jpg";
    record.resultState = ImageResult::WriteFailed;
    images.append(record);
    const std::string log = errorLogText(images, "Title");
    EXPECT_EQ(log.find("\xE9"), std::string::npos);
    EXPECT_NE(log.find("/out/caf\\xE9.jpg"), std::string::npos);
}

} // namespace
} // namespace quill::batch
