// The Qt glue: image conversion both ways and the questions' default.
#include "toolkit/qt/image_convert.h"
#include "toolkit/qt/questions.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>

namespace quill::toolkit::qt {
namespace {

TEST(ImageConvert, RoundTripKeepsEveryByteAndChannelOrder) {
    for (const PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        SCOPED_TRACE(format == PixelFormat::Bgr24 ? "24-bit" : "32-bit");
        // 7 pixels wide: rows of the working image are padded, QImage rows differently.
        Image image(7, 3, format);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7 * image.bytesPerPixel(); ++x)
                image.row(y)[x] = std::uint8_t(y * 50 + x * 7 + 1);
        const QImage converted = toQImage(image);
        ASSERT_EQ(converted.size(), QSize(7, 3));
        EXPECT_EQ(converted.hasAlphaChannel(), format == PixelFormat::Bgra32);
        // First pixel: memory holds blue, green, red (, alpha).
        EXPECT_EQ(converted.pixelColor(0, 0),
                  QColor(15, 8, 1, format == PixelFormat::Bgra32 ? 22 : 255));

        const Image back = fromQImage(converted);
        ASSERT_EQ(back.format(), format);
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(
                0, std::memcmp(back.row(y), image.row(y), 7 * std::size_t(image.bytesPerPixel())));
    }
    EXPECT_TRUE(toQImage(Image()).isNull());
    EXPECT_TRUE(fromQImage(QImage()).empty());
}

class YesNoOnly final : public Questions {
public:
    Answer answer = Answer::Yes;
    Answer ask(QWidget*, BoxKind, const QString&, const QString&) override { return answer; }
};

TEST(Questions, OverwriteFallsBackToAYesNoQuestion) {
    YesNoOnly questions;
    EXPECT_EQ(questions.askOverwrite(nullptr, "t", "x"), OverwriteAnswer::ReplaceThis);
    questions.answer = Answer::No;
    EXPECT_EQ(questions.askOverwrite(nullptr, "t", "x"), OverwriteAnswer::SkipThis);
}

/// Presses `key` in the next message box that opens and returns the box's text through `text`.
void pressInNextBox(Qt::Key key, QString& text) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, key, &text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        text = box->text();
        poll->stop();
        poll->deleteLater();
        QTest::keyClick(box, key);
    });
    poll->start(10);
}

TEST(Questions, EnterAnswersNoWhereYesRemovesOrReplacesSomething) {
    struct Case {
        BoxKind kind;
        Qt::Key key;
        Answer expected;
    };
    const Case cases[] = {
        {BoxKind::Question, Qt::Key_Return, Answer::Yes},
        {BoxKind::Question, Qt::Key_Escape, Answer::No},
        {BoxKind::DestructiveQuestion, Qt::Key_Return, Answer::No},
        {BoxKind::DestructiveQuestion, Qt::Key_Enter, Answer::No},
        {BoxKind::DestructiveQuestion, Qt::Key_Escape, Answer::No},
        {BoxKind::Warning, Qt::Key_Return, Answer::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        SCOPED_TRACE(c.key);
        QString shown;
        pressInNextBox(c.key, shown);
        EXPECT_EQ(dialogQuestions().ask(nullptr, c.kind, "title", "Really?\r\nSecond line"),
                  c.expected);
        EXPECT_EQ(shown, "Really?\nSecond line");
    }
    // Enter in the four-answer overwrite question skips the file.
    QString shown;
    pressInNextBox(Qt::Key_Return, shown);
    EXPECT_EQ(dialogQuestions().askOverwrite(nullptr, "title", "exists"),
              OverwriteAnswer::SkipThis);
}

TEST(Questions, ButtonMnemonicsChooseDifferentKeys) {
    const struct {
        QStringList texts;
        QStringList expected;
    } cases[] = {
        // Distinct keys stay; letter case does not make a key of its own.
        {{"&Yes", "&No", "Yes to &All"}, {"&Yes", "&No", "Yes to &All"}},
        {{"&Open", "&over"}, {"&Open", "o&ver"}},
        // A later word's first letter, then an ASCII letter, then any letter.
        {{"&Evet", "&Hay\u0131r", "&T\u00FCm\u00FCne Evet", "&T\u00FCm\u00FCne Hay\u0131r"},
         {"&Evet", "&Hay\u0131r", "&T\u00FCm\u00FCne Evet", "T\u00FC&m\u00FCne Hay\u0131r"}},
        {{"&ab", "&ba", "&\u00E4b"}, {"&ab", "&ba", "&\u00E4b"}},
        {{"&a", "&b", "&ab\u00E4"}, {"&a", "&b", "ab&\u00E4"}},
        // No letter left: the marker goes; texts without one and "&&" are left alone.
        {{"&ab", "&ba", "&ab"}, {"&ab", "&ba", "ab"}},
        {{"Save && close", "&Save"}, {"Save && close", "&Save"}},
        {{"&Save && close", "&Stop"}, {"&Save && close", "S&top"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withUniqueMnemonics(c.texts), c.expected) << c.texts.join(" | ").toStdString();
}

} // namespace
} // namespace quill::toolkit::qt

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
