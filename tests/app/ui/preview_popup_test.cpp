// The image preview popup: arrows on the edge strips only, stepping and the double click.
#include "app/ui/preview_popup.h"
#include "imagefiles/format.h"
#include "imagefiles/image_saver.h"
#include "test_support.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quill::app::ui {
namespace {

TEST(PreviewPopup, ArrowsAppearOnTheEdgeStripsWhenSteppingMakesSense) {
    PreviewPopup popup(settings::runContextFromPlatform(1, 0));
    popup.show();
    EXPECT_EQ(popup.size(), QSize(154, 154));
    popup.setImageCount(3);
    struct Case {
        QPoint at;
        bool previous, next;
    };
    for (const Case c :
         {Case{{6, 77}, true, false}, Case{{31, 20}, true, false}, Case{{33, 77}, false, false},
          Case{{77, 77}, false, false}, Case{{148, 77}, false, true}, Case{{122, 140}, false, true},
          Case{{2, 77}, false, false}, Case{{10, 151}, false, false}}) {
        QTest::mouseMove(&popup, c.at);
        EXPECT_EQ(popup.previousButton()->isVisible(), c.previous) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(popup.nextButton()->isVisible(), c.next) << c.at.x() << "," << c.at.y();
    }
    QTest::mouseMove(&popup, {6, 77});
    popup.setImageCount(1);
    QTest::mouseMove(&popup, {7, 77});
    EXPECT_FALSE(popup.previousButton()->isVisible());
    popup.setImageCount(2);
    popup.setPlaceholderWindowOpen(true);
    QTest::mouseMove(&popup, {6, 78});
    EXPECT_FALSE(popup.previousButton()->isVisible());
    popup.setPlaceholderWindowOpen(false);
    popup.setPreviewRunActive(true);
    QTest::mouseMove(&popup, {6, 77});
    EXPECT_FALSE(popup.previousButton()->isVisible());
}

TEST(PreviewPopup, SteppingDoubleClickAndPicture) {
    test::TempDir dir;
    toolkit::Image image(300, 200, toolkit::PixelFormat::Bgr24);
    std::fill(image.data(), image.data() + image.sizeInBytes(), std::uint8_t(200));
    ASSERT_TRUE(
        imagefiles::saveImageFile(image, dir.file("a.png"), imagefiles::Encoder::Png, 0, 24));
    PreviewPopup popup(settings::runContextFromPlatform(1, 0));
    popup.show();
    popup.setImageCount(2);
    QSignalSpy previous(&popup, &PreviewPopup::previousRequested);
    QSignalSpy next(&popup, &PreviewPopup::nextRequested);
    QSignalSpy run(&popup, &PreviewPopup::previewRunRequested);
    QTest::mouseMove(&popup, {150, 77});
    QTest::mouseClick(popup.nextButton(), Qt::LeftButton);
    EXPECT_EQ(next.count(), 1);
    EXPECT_EQ(previous.count(), 0);
    QTest::mouseDClick(popup.pictureLabel(), Qt::LeftButton);
    EXPECT_EQ(run.count(), 1);

    popup.setSelection(7, dir.file("a.png"), imagefiles::FormatPng);
    for (int i = 0; i < 500 && !popup.preview().current(); ++i)
        QTest::qWait(10);
    ASSERT_NE(popup.preview().current(), nullptr);
    EXPECT_EQ(popup.preview().current()->result.width(), 144);
    EXPECT_EQ(popup.preview().current()->result.height(), 96);
    EXPECT_TRUE(popup.preview().current()->inRange); // shown as it is, without the marker

    popup.setPreviewRunActive(true);
    QTest::mouseDClick(popup.pictureLabel(), Qt::LeftButton);
    EXPECT_EQ(run.count(), 1); // no second run while one is active
}

} // namespace
} // namespace quill::app::ui
