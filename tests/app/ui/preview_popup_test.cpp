// The image preview popup: arrows on the edge strips only, and the double click.
#include "app/ui/preview_popup.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quill::app::ui {
namespace {

// Stepping and the preview run through the popup are tested in the main window.
TEST(PreviewPopup, ArrowsAndTheDoubleClickOnlyWhereAndWhenTheyMakeSense) {
    PreviewPopup popup(settings::runContextFromPlatform(1, 0));
    popup.show();
    popup.setImageCount(3);
    QTest::mouseMove(&popup, {6, 77});
    EXPECT_TRUE(popup.previousButton()->isVisible());
    QTest::mouseMove(&popup, {2, 77}); // the frame
    EXPECT_FALSE(popup.previousButton()->isVisible());
    QTest::mouseMove(&popup, {77, 77});
    EXPECT_FALSE(popup.previousButton()->isVisible() || popup.nextButton()->isVisible());
    QTest::mouseMove(&popup, {148, 77});
    EXPECT_TRUE(popup.nextButton()->isVisible());
    QSignalSpy run(&popup, &PreviewPopup::previewRunRequested);
    QTest::mouseDClick(popup.pictureLabel(), Qt::LeftButton);
    EXPECT_EQ(run.count(), 1);

    // No stepping with one image; no stepping and no second run during a preview run.
    popup.setImageCount(1);
    QTest::mouseMove(&popup, {147, 77});
    EXPECT_FALSE(popup.nextButton()->isVisible());
    popup.setImageCount(2);
    popup.setPreviewRunActive(true);
    QTest::mouseMove(&popup, {146, 77});
    EXPECT_FALSE(popup.nextButton()->isVisible());
    QTest::mouseDClick(popup.pictureLabel(), Qt::LeftButton);
    EXPECT_EQ(run.count(), 1);
}

} // namespace
} // namespace quill::app::ui
