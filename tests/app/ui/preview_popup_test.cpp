// The image preview popup: arrows on the edge strips only, and the double click.
#include "app/ui/preview/preview_popup.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

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

TEST(PreviewPopup, APreviewRunShowsTheProgramsIconOnTheTooltipColour) {
    PreviewPopup popup(settings::runContextFromPlatform(1, 0));
    popup.show();
    popup.setPreviewRunActive(true);
    const QImage shown =
        popup.pictureLabel()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(shown.size(), QSize(kPreviewSide, kPreviewSide));
    const QColor tip = popup.palette().color(QPalette::ToolTipBase);

    // The icon the desktop entry names, drawn centred on the tooltip colour.
    QSvgRenderer icon(QStringLiteral(QUILL_SOURCE_DIR "/data/quillmere.svg"));
    ASSERT_TRUE(icon.isValid());
    QImage expected(kPreviewSide, kPreviewSide, QImage::Format_ARGB32);
    expected.fill(tip);
    {
        QPainter painter(&expected);
        icon.render(&painter, QRectF(24, 24, 96, 96));
    }
    int worst = 0;
    for (int y = 0; y < kPreviewSide; ++y) {
        for (int x = 0; x < kPreviewSide; ++x) {
            const QRgb a = shown.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    }
    EXPECT_LE(worst, 3);
    EXPECT_EQ(shown.pixelColor(0, 0), tip);
}

// The reasons themselves are tested with the live preview.
TEST(PreviewPopup, SaysWhyThereIsNoPicture) {
    PreviewPopup popup(settings::runContextFromPlatform(1, 0));
    popup.show();
    popup.setSelection(1, "/nonexistent/missing.png", imagefiles::FormatKind::None);
    const QString why = QString::fromStdString(settings::uiText(settings::text::kUnreadableFile));
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup.pictureLabel()->text() == why; }, 10000));
    EXPECT_TRUE(popup.pictureLabel()->pixmap().isNull());
}

} // namespace
} // namespace quill::app::ui
