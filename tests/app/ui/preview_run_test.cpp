// The preview run on the offscreen platform: the output is opened through the test's opener and
// nothing of the user's changes; an output the desktop cannot open, a filtered image and a
// missing record give their boxes.
#include "batch/preview_run.h"
#include "batch/ui/preview_run.h"
#include "imagefiles/image_list.h"
#include "preview_ui_test_support.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"
#include "test_support.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace quill::batch::ui {
namespace {

class PreviewRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(QUILL_SOURCE_DIR "/samples/logo.png", dir.file("photo.png"));
        ASSERT_TRUE(imagefiles::addImageRecord(dir.file("photo.png"), images, {}));
        settings = settings::defaultPreset(0, "w");
        settings.resizeEnabled = 1;
        settings.resizeMode = settings::ResizeMode::Percent;
        settings.resizePercent = 50;
        settings.outputDirEnabled = 0; // a real run would replace the source
        settings.keepProcessedSources = 1;
    }

    bool runOn(std::int32_t recordId) {
        PreviewRun run(
            {images, settings, flags, questions, opener, dir.file("preview/"), used, "creator"},
            nullptr);
        QSignalSpy finished(&run, &PreviewRun::finished);
        if (!run.start(recordId)) return false;
        EXPECT_EQ(flags.previewRun.load(), 1);
        // One image is the preview's own rule, not a cancelled run that every check would stop.
        EXPECT_EQ(flags.runCancelled.load(), 0);
        EXPECT_FALSE(run.start(recordId)); // refused while active
        return finished.wait(20000);
    }

    test::TempDir dir;
    imagefiles::ImageList images;
    settings::Preset settings;
    pipeline::RunFlags flags;
    test::ScriptedQuestions questions;
    test::RecordingOpener opener;
    bool used = false;
};

TEST_F(PreviewRunTest, OpensTheOutputAndLeavesEverythingElseAlone) {
    const auto sourceBytes = test::readBytes(dir.file("photo.png"));
    const settings::Preset before = settings;
    std::filesystem::copy_file(QUILL_SOURCE_DIR "/samples/chart.bmp", dir.file("other.bmp"));
    ASSERT_TRUE(imagefiles::addImageRecord(dir.file("other.bmp"), images, {}));
    const std::int32_t id = images[0].recordId;
    ASSERT_TRUE(runOn(id));
    ASSERT_EQ(opener.opened.size(), 1u); // the chosen image only
    EXPECT_EQ(opener.opened[0].rfind(dir.file("preview/"), 0), 0u) << opener.opened[0];
    EXPECT_TRUE(std::filesystem::exists(opener.opened[0]));
    EXPECT_TRUE(questions.asked.empty()); // no replace warning in a preview run
    EXPECT_EQ(settings, before);
    EXPECT_EQ(test::readBytes(dir.file("photo.png")), sourceBytes);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].recordId, id);
    EXPECT_EQ(images[0].resultState, imagefiles::ImageResult::Pending);
    EXPECT_EQ(images[1].resultState, imagefiles::ImageResult::Pending);
    EXPECT_TRUE(used);
    EXPECT_EQ(flags.previewRun.load() + flags.runActive.load(), 0);
}

TEST_F(PreviewRunTest, AnOutputTheDesktopCannotOpenIsNamedAndItsFolderOffered) {
    opener.succeeds = false;
    for (const auto answer : {toolkit::qt::Answer::No, toolkit::qt::Answer::Yes}) {
        SCOPED_TRACE(answer == toolkit::qt::Answer::Yes ? "open the folder" : "leave it");
        questions.asked.clear();
        opener.opened.clear();
        opener.folders.clear();
        questions.answer = answer;
        ASSERT_TRUE(runOn(images[0].recordId));
        ASSERT_EQ(opener.opened.size(), 1u);
        const std::string output = opener.opened[0];
        ASSERT_EQ(questions.asked.size(), 1u);
        EXPECT_EQ(questions.asked[0].kind, toolkit::qt::BoxKind::Question);
        EXPECT_EQ(questions.asked[0].text.toStdString(),
                  settings::uiText(settings::text::kPreviewNotOpened) + ":\r\n" + output +
                      "\r\n\r\n" + settings::uiText(settings::text::kOpenContainingFolder));
        EXPECT_EQ(opener.folders, answer == toolkit::qt::Answer::Yes
                                      ? std::vector<std::string>{dir.file("preview/")}
                                      : std::vector<std::string>{});
        EXPECT_EQ(flags.previewRun.load() + flags.runActive.load(), 0);
    }
}

TEST_F(PreviewRunTest, FilteredImageAndMissingRecordGiveTheirBoxes) {
    settings.filterEnabled = 1;
    // Width greater than 10.
    settings.filterConditions = {{settings::kConditionActive, 4, 3, "10", 1}};
    ASSERT_TRUE(runOn(images[0].recordId));
    EXPECT_TRUE(opener.opened.empty());
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].text.toStdString(),
              settings::uiText(384) + ":\r\n" + settings::uiText(430));
    ASSERT_EQ(images.size(), 1u); // a filtered image stays in the list

    EXPECT_FALSE(runOn(9999));
    ASSERT_EQ(questions.asked.size(), 2u);
    EXPECT_EQ(questions.asked[1].text.toStdString(), settings::uiText(437));
}

} // namespace
} // namespace quill::batch::ui
