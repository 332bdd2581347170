// A fixture for tests that run the processing loop over files: a temporary folder with an output
// folder "out/", a preset that writes JPEG into it under the source names, and a run that answers
// every collision the same way and never stops after a full disk.
#pragma once

#include "imagefiles/image_list.h"
#include "pipeline/process_loop.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace quill::pipeline::test_runs {

class BatchRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings::loadProgramInfo());
        preset = settings::defaultPreset(0, "Test");
        preset.outputDirEnabled = 1;
        preset.outputDirPattern = dir.path() + "out/";
        preset.renameEnabled = 0;
        preset.convertFormat = 1;
        preset.outputFormat = settings::OutputFormat::Jpeg;
        ASSERT_TRUE(platform::createDirectories(dir.path() + "out/"));
    }
    /// Runs the preset over `images`; every image is expected to be done.
    void run(settings::CollisionAnswer collisions = settings::CollisionAnswer::SkipAll) {
        process(collisions);
        for (const auto& record : images.records())
            EXPECT_EQ(record.resultState, imagefiles::ImageResult::Done) << record.sourcePath;
    }
    /// Runs the preset over `images`, whatever the images' results.
    void process(settings::CollisionAnswer collisions) {
        const settings::RunSettings runSettings =
            settings::deriveRunSettings(preset, settings::runContextFromPlatform(images.size(), 0));
        settings::FixedCollisionPolicy policy(collisions);
        struct NeverStop final : DiskFullQuestion {
            bool askStopAfterDiskFull(const std::string&) override { return false; }
        } diskFull;
        flags.runActive = 1;
        ProcessEnvironment env{images, keep, preset, runSettings, flags, policy, diskFull, "c"};
        processImages(env);
    }
    /// Copies a file of tests/data/thirdparty into the folder as `name` and lists it.
    std::string add(const std::string& thirdparty, const std::string& name) {
        const std::string path = dir.file(name);
        test::writeBytes(path, test::readBytes(test::testdata(thirdparty)));
        EXPECT_TRUE(imagefiles::addImageRecord(path, images, {}));
        return path;
    }

    test::TempDir dir;
    imagefiles::ImageList images;
    imagefiles::ImageList keep;
    RunFlags flags;
    settings::Preset preset;
};

} // namespace quill::pipeline::test_runs
