// Worker threads change nothing anyone can see: the same batch with one thread and with four
// writes the same bytes under the same names and prints and logs the same lines.
#include "console_program.h"

#include "imagefiles/image_list.h"
#include "imagefiles/image_saver.h"
#include "pipeline/process_loop.h"
#include "settings/language_pack.h"
#include "settings/run_settings.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

namespace quill::test {
namespace {

/// Sets QUILL_THREADS for the test and for the programs it starts.
class ThreadCount {
public:
    explicit ThreadCount(int threads) {
        setenv("QUILL_THREADS", std::to_string(threads).c_str(), 1);
    }
    ~ThreadCount() { unsetenv("QUILL_THREADS"); }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;
};

/// Every file under `dir` (names relative to it) with its bytes.
std::map<std::string, std::vector<std::uint8_t>> filesUnder(const std::string& dir) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(dir).string()] = readBytes(entry.path().string());
    return files;
}

std::string withoutRoot(std::string text, const std::string& root) {
    for (std::size_t at = text.find(root); at != std::string::npos; at = text.find(root, at))
        text.replace(at, root.size(), "<root>/");
    return text;
}

struct BatchResult {
    std::string console;
    std::string errorLog;
    std::map<std::string, std::vector<std::uint8_t>> files; ///< in/ and out/ after the runs
};

/// Two console runs: resized and numbered into out/ with failing images among them, then the
/// remaining sources resized in place.
BatchResult runBatch(int threads) {
    const ThreadCount count(threads);
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
        if (n == 2) { // a JPEG that does not decode, and one too short to be an image
            writeText(program.in("bad.jpg"), std::string(200, 'x'));
            first.push_back(program.in("bad.jpg"));
            writeText(program.in("tiny.jpg"), std::string(10, 'x'));
            first.push_back(program.in("tiny.jpg"));
        }
    }
    BatchResult result;
    result.console = program.run(first).out;
    std::vector<std::string> second{"-Console", "-IgnoreWarning", "-Preset=1", program.in()};
    result.console += program.run(second).out;
    const auto log = readBytes(program.programDir() + "Quillmere_Errorlog.txt");
    result.errorLog = withoutRoot({log.begin(), log.end()}, program.root());
    result.console = withoutRoot(result.console, program.root());
    result.files = filesUnder(program.root() + "in");
    for (auto& [name, bytes] : filesUnder(program.root() + "out"))
        result.files["out/" + name] = std::move(bytes);
    return result;
}

TEST(ThreadCount, FourThreadsWriteLogAndPrintExactlyWhatOneThreadDoes) {
    const BatchResult one = runBatch(1);
    const BatchResult four = runBatch(4);
    ASSERT_GE(one.files.size(), 10u);
    EXPECT_NE(one.errorLog, "");
    EXPECT_EQ(one.console, four.console);
    EXPECT_EQ(one.errorLog, four.errorLog);
    ASSERT_EQ(one.files.size(), four.files.size());
    for (const auto& [name, bytes] : one.files) {
        ASSERT_TRUE(four.files.count(name)) << name;
        EXPECT_TRUE(four.files.at(name) == bytes) << name;
    }
}

/// A window run's loop over a list in which an image's output replaces a later image's source
/// while that one is already being worked on ahead.
std::map<std::string, std::vector<std::uint8_t>> runChain(int threads) {
    const ThreadCount count(threads);
    TempDir dir;
    imagefiles::ImageList images, keep;
    for (const char* name : {"p.jpg", "q.jpg", "a.png", "a.jpg", "r.jpg", "s.jpg"}) {
        const std::string path = dir.file(name);
        writeBytes(path, readBytes(testdata(std::string(name) == "a.png" ? "png/basn2c08.png"
                                                                         : "jpeg/hopper.jpg")));
        EXPECT_TRUE(imagefiles::addImageRecord(path, images, {}));
    }
    settings::Preset preset = settings::defaultPreset(0, "Test");
    preset.outputDirEnabled = 0; // a.png becomes a.jpg, which is listed next
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Percent;
    preset.resizePercent = 50;
    preset.loadOutputImages = 1;
    preset.exitAfterRun = 0;
    const settings::RunSettings run =
        settings::deriveRunSettings(preset, settings::runContextFromPlatform(images.size(), 0));
    settings::FixedCollisionPolicy replaceAll(settings::CollisionAnswer::ReplaceAll);
    struct NeverStop final : pipeline::DiskFullQuestion {
        bool askStopAfterDiskFull(const std::string&) override { return false; }
    } diskFull;
    pipeline::RunFlags flags;
    flags.runActive = 1;
    pipeline::ProcessEnvironment env{images,     keep,     preset,    run,  flags,
                                     replaceAll, diskFull, "creator", false};
    pipeline::processImages(env);
    auto files = filesUnder(dir.path());
    for (std::size_t i = 0; i < images.size(); ++i)
        files["result " + std::to_string(i)] = {std::uint8_t(images[i].resultState)};
    files["keep"] = std::vector<std::uint8_t>(keep.size());
    return files;
}

TEST(ThreadCount, AnImageWorkedOnAheadIsRedoneWhenAnEarlierOutputReplacesItsSource) {
    ASSERT_TRUE(settings::loadProgramInfo());
    ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
    const auto one = runChain(1);
    EXPECT_EQ(one.count("a.png"), 0u);
    for (int threads : {2, 4})
        EXPECT_TRUE(runChain(threads) == one) << threads << " threads";
}

} // namespace
} // namespace quill::test
