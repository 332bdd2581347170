// The run driver's own rules, seen through a face that records what it is told: the phases in
// order with their totals set before they show, the finishing phase only after a run that went
// to the end, a cancel during the preparation that skips the processing, a refusal that changes
// nothing, and the one-image scope of a preview.
#include "batch/run_driver.h"
#include "imagefiles/image_list.h"
#include "settings/language_pack.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <vector>

namespace quill::batch {
namespace {

namespace fs = std::filesystem;
using imagefiles::ImageResult;
using pipeline::RunPhase;
constexpr std::int32_t kUnits = pipeline::kProcessingUnitsPerImage;

struct PhaseSeen {
    RunPhase phase;
    std::int32_t units;
    bool operator==(const PhaseSeen&) const = default;
};

class RecordingFace final : public RunFace {
public:
    explicit RecordingFace(pipeline::RunFlags& flags) : m_flags(flags) {}
    bool passChecks(const imagefiles::ImageList& images, const settings::Preset& s,
                    settings::RunSettings& run) override {
        if (refuse) return false;
        run = settings::deriveRunSettings(s, settings::runContextFromPlatform(images.size(), 0));
        return true;
    }
    settings::CollisionPolicy& collisions() override { return m_replaceAll; }
    pipeline::DiskFullQuestion& diskFull() override { return m_goOn; }
    void phaseStarting(RunPhase phase, std::int32_t units) override {
        started.push_back({phase, units});
        // A display reads the total once it sees the phase: the phase must not show yet.
        if (m_flags.phase() == phase) shownTooEarly = true;
        if (onPhase) onPhase(phase);
    }
    void phaseDone(RunPhase phase) override { done.push_back(phase); }

    bool refuse = false;
    std::function<void(RunPhase)> onPhase;
    std::vector<PhaseSeen> started;
    std::vector<RunPhase> done;
    bool shownTooEarly = false;

private:
    struct GoOn final : pipeline::DiskFullQuestion {
        bool askStopAfterDiskFull(const std::string&) override { return false; }
    };
    pipeline::RunFlags& m_flags;
    settings::FixedCollisionPolicy m_replaceAll{settings::CollisionAnswer::ReplaceAll};
    GoOn m_goOn;
};

/// Two 32-pixel-wide images and one 128 wide, PNG output into out/, and a face for the run.
class DriverRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings::loadProgramInfo());
        ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
    }

    struct Batch {
        Batch() : preset(settings::defaultPreset(0, "Test")) {
            fs::create_directories(dir.file("out"));
            preset.outputDirPattern = dir.file("out/");
            preset.outputFormat = settings::OutputFormat::Png;
            preset.exitAfterRun = 0;
            add("png/basn2c08.png", "a.png");
            add("jpeg/hopper.jpg", "b.jpg");
            add("png/basn0g08.png", "c.png");
        }
        void add(const std::string& sample, const std::string& as) {
            test::writeBytes(dir.file(as), test::readBytes(test::testdata(sample)));
            EXPECT_TRUE(imagefiles::addImageRecord(dir.file(as), images, {}));
        }
        void sortBySize() {
            preset.sortEnabled = 1;
            preset.sortKey = settings::SortKey::FileSize;
        }
        void excludeNarrow() {
            preset.filterEnabled = 1;
            preset.filterConditions = {{settings::kConditionActive, 4, 2, "33", 1}}; // width < 33
        }
        [[nodiscard]] RunSetup setup(RunScope scope = RunScope::WholeList) {
            return {.images = images,
                    .settings = preset,
                    .flags = flags,
                    .pdfCreator = "creator",
                    .scope = scope};
        }
        [[nodiscard]] std::size_t outputs() const {
            std::size_t count = 0;
            for (const auto& entry : fs::directory_iterator(dir.file("out")))
                count += entry.path().filename().string().front() != '.';
            return count;
        }

        test::TempDir dir;
        imagefiles::ImageList images;
        settings::Preset preset;
        pipeline::RunFlags flags;
        RecordingFace face{flags};
    };
};

TEST_F(DriverRun, PhasesInOrderWithTheirTotalsAndFinishingOnlyAfterARunThatWentToTheEnd) {
    enum class Change { None, NoDetails, Filter, EndsProgram, FailingImage };
    struct Case {
        const char* name;
        Change change;
        std::vector<PhaseSeen> phases;
        bool allOk;
        std::size_t processed;
    };
    const Case cases[] = {
        {"to the end",
         Change::None,
         {{RunPhase::Preparing, 3},
          {RunPhase::Processing, 3 * kUnits},
          {RunPhase::Finishing, 3 * kUnits}},
         true,
         3},
        {"no details needed",
         Change::NoDetails,
         {{RunPhase::Processing, 3 * kUnits}, {RunPhase::Finishing, 3 * kUnits}},
         true,
         3},
        // The total of the processing counts the images the filter left.
        {"filtered",
         Change::Filter,
         {{RunPhase::Preparing, 3}, {RunPhase::Processing, kUnits}, {RunPhase::Finishing, kUnits}},
         true,
         1},
        {"the program ends after it",
         Change::EndsProgram,
         {{RunPhase::Preparing, 3}, {RunPhase::Processing, 3 * kUnits}},
         true,
         3},
        {"an image fails",
         Change::FailingImage,
         {{RunPhase::Preparing, 4}, {RunPhase::Processing, 4 * kUnits}},
         false,
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Batch b;
        if (c.change != Change::NoDetails) b.sortBySize();
        if (c.change == Change::Filter) b.excludeNarrow();
        if (c.change == Change::EndsProgram) b.preset.exitAfterRun = 1;
        if (c.change == Change::FailingImage) {
            test::writeText(b.dir.file("d.jpg"), std::string(400, 'x'));
            ASSERT_TRUE(imagefiles::addImageRecord(b.dir.file("d.jpg"), b.images, {}));
        }
        RunDriver driver(b.setup(), b.face);
        ASSERT_TRUE(driver.begin());
        EXPECT_EQ(b.flags.runActive.load(), 1);
        const RunOutcome outcome = driver.work();
        EXPECT_EQ(outcome.end, RunEnd::Finished);
        EXPECT_EQ(b.face.started, c.phases);
        ASSERT_EQ(b.face.done.size(), c.phases.size());
        for (std::size_t i = 0; i < c.phases.size(); ++i)
            EXPECT_EQ(b.face.done[i], c.phases[i].phase);
        EXPECT_FALSE(b.face.shownTooEarly);
        EXPECT_EQ(outcome.allOk, c.allOk);
        EXPECT_EQ(outcome.processed, c.processed);
        EXPECT_EQ(b.outputs(), c.allOk ? c.processed : c.processed - 1);
        EXPECT_EQ(b.flags.runActive.load(), 0);
    }
}

TEST_F(DriverRun, ACancelDuringThePreparationSkipsTheProcessing) {
    Batch b;
    b.sortBySize();
    b.face.onPhase = [&](RunPhase phase) {
        if (phase == RunPhase::Preparing) b.flags.runCancelled.store(1);
    };
    RunDriver driver(b.setup(), b.face);
    ASSERT_TRUE(driver.begin());
    const RunOutcome outcome = driver.work();
    EXPECT_EQ(b.face.started, (std::vector<PhaseSeen>{{RunPhase::Preparing, 3}}));
    EXPECT_EQ(outcome.processed, 0u);
    EXPECT_EQ(b.outputs(), 0u);
    EXPECT_EQ(b.flags.runActive.load(), 0);
}

TEST_F(DriverRun, ARefusedRunLeavesTheResultsAndFlagsOfTheLastRun) {
    Batch b;
    b.images[1].resultState = ImageResult::Done;
    b.images.setCurrentIndex(2);
    b.flags.runCancelled.store(1);
    b.face.refuse = true;
    RunDriver refused(b.setup(), b.face);
    EXPECT_FALSE(refused.begin());
    EXPECT_EQ(b.images[1].resultState, ImageResult::Done);
    EXPECT_EQ(b.images.currentIndex(), 2);
    EXPECT_EQ(b.flags.runCancelled.load(), 1);

    b.face.refuse = false;
    RunDriver accepted(b.setup(), b.face);
    ASSERT_TRUE(accepted.begin());
    EXPECT_EQ(b.images[1].resultState, ImageResult::Pending);
    EXPECT_EQ(b.images.currentIndex(), 0);
    EXPECT_EQ(b.flags.runCancelled.load(), 0);
}

TEST_F(DriverRun, TheOneImageScopeProcessesTheCurrentImageUnlessTheFilterExcludesIt) {
    for (const std::size_t current : {std::size_t(1), std::size_t(0)}) {
        SCOPED_TRACE(current);
        const bool excluded = current == 0;
        Batch b;
        b.excludeNarrow();
        b.preset.exitAfterRun = 1;
        b.images.setCurrentIndex(std::ptrdiff_t(current));
        RunDriver driver(b.setup(RunScope::CurrentImage), b.face);
        ASSERT_TRUE(driver.begin());
        (void)driver.work();
        ASSERT_EQ(b.images.size(), 3u);
        EXPECT_EQ(b.images.currentIndex(), std::ptrdiff_t(current));
        EXPECT_EQ(b.face.started.size(), excluded ? 1u : 2u);
        EXPECT_EQ(b.images[current].resultState,
                  excluded ? ImageResult::Pending : ImageResult::Done);
        if (excluded) {
            EXPECT_EQ(b.images[current].resultCode, imagefiles::DetailFiltered);
        }
        EXPECT_EQ(b.images[2].resultState, ImageResult::Pending);
        EXPECT_EQ(b.outputs(), excluded ? 0u : 1u);
    }
}

} // namespace
} // namespace quill::batch
