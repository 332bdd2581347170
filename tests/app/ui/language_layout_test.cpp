// Every language laid out in the real windows: no label, button, group box title, page list item
// or menu title gets less width than its text needs, and switching the language in a running
// window rebuilds it with the new texts while the image list stays.
#include "app/ui/presets_window.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "main_window_fixture.h"
#include "settings/language_pack.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace quill::app::ui {
namespace {

/// The widest line of a text as drawn, mnemonic markers removed.
int textWidth(const QFontMetrics& metrics, QString text) {
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

QString describe(const QWidget* widget, const QString& text) {
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(widget->metaObject()->className()), text);
}

/// Every shown text of `root` that gets less room than it needs, one line each.
QStringList clippedTexts(QWidget* root) {
    QStringList found;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root) || widget->width() <= 0) continue;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            const QString text = label->text();
            // Rich texts and labels that shorten their own text are left out.
            if (text.isEmpty() || label->textFormat() == Qt::RichText ||
                label->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored ||
                Qt::mightBeRichText(text))
                continue;
            const QRect room = label->contentsRect().marginsRemoved(
                QMargins(label->margin(), label->margin(), label->margin(), label->margin()));
            if (label->wordWrap()) {
                if (label->heightForWidth(label->width()) > label->height())
                    found << describe(label, text) + QStringLiteral(" too low");
            } else if (textWidth(label->fontMetrics(), text) > room.width()) {
                found << describe(label, text);
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            if (button->text().isEmpty()) continue;
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            option.icon = button->icon();
            option.iconSize = button->iconSize();
            QStyle::SubElement element = QStyle::SE_PushButtonContents;
            if (qobject_cast<QCheckBox*>(button)) element = QStyle::SE_CheckBoxContents;
            if (qobject_cast<QRadioButton*>(button)) element = QStyle::SE_RadioButtonContents;
            int room = button->style()->subElementRect(element, &option, button).width();
            if (element == QStyle::SE_PushButtonContents) {
                // A push button's text needs a little space from its frame on both sides.
                room -=
                    2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button) / 3;
                if (!button->icon().isNull()) room -= button->iconSize().width() + 4;
            }
            if (textWidth(button->fontMetrics(), button->text()) > room)
                found << describe(button, button->text());
        } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            if (box->title().isEmpty()) continue;
            int needed = textWidth(box->fontMetrics(), box->title());
            if (box->isCheckable())
                needed += box->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                          box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
            if (needed > box->contentsRect().width()) found << describe(box, box->title());
        } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
            const int room = list->viewport()->width();
            for (int row = 0; row < list->count(); ++row) {
                const QListWidgetItem* item = list->item(row);
                if (list->sizeHintForIndex(list->model()->index(row, 0)).width() > room)
                    found << describe(list, item->text());
            }
        }
    }
    return found;
}

/// True when page `page` of the window is wider than the room it gets and scrolls sideways.
bool scrollsSideways(MainWindow& window, int page) {
    for (QWidget* up = window.pageWidget(page); up; up = up->parentWidget())
        if (auto* scroll = qobject_cast<QScrollArea*>(up))
            return scroll->horizontalScrollBar()->isVisible();
    return false;
}

/// Menu bar titles that do not fit and go into the overflow button.
QStringList hiddenMenuTitles(QMenuBar* bar) {
    QStringList found;
    for (QAction* action : bar->actions()) {
        const QRect place = bar->actionGeometry(action);
        if (place.isEmpty() || place.right() > bar->width())
            found << QStringLiteral("menu title \"%1\"").arg(action->text());
    }
    return found;
}

#define EXPECT_FITS(found)                                                                         \
    EXPECT_TRUE((found).isEmpty()) << (found).join(QStringLiteral("; ")).toStdString()

class LanguageLayoutTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        m_context.workingSettings = m_context.presetList.presets[1]; // one with an overlay
    }
    void TearDown() override {
        MainWindowFixture::TearDown();
        EXPECT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
    }
    void loadSamples() { loadAndWait(sampleFolder()); }
    void switchTo(int language) {
        window().chooseLanguage(language);
        ASSERT_TRUE(waitUntil([&] {
            QAction* item = window().menuItem(ItemFirstLanguage + language);
            return item && item->isChecked();
        }));
    }
};

TEST_F(LanguageLayoutTest, NoTextIsClippedInAnyLanguage) {
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        const std::string code = settings::languages()[std::size_t(language)].code;
        SCOPED_TRACE(code);
        ASSERT_TRUE(settings::loadUiTexts(language));
        m_context.languageIndex = language;
        m_window.reset();
        for (int page = 0; page < kPageCount; ++page) {
            window().pageList()->setCurrentRow(page);
            QCoreApplication::processEvents();
            EXPECT_FITS(clippedTexts(window().pageWidget(page))) << "page " << page;
            EXPECT_FALSE(scrollsSideways(window(), page)) << "page " << page;
        }
        EXPECT_FITS(clippedTexts(window().centralWidget()->parentWidget()));
        EXPECT_FITS(hiddenMenuTitles(window().menuBar()));

        PresetsWindow presets({m_context.presetList,
                               m_context.workingSettings,
                               m_context.presetsFilePath,
                               m_questions,
                               [] {},
                               {}},
                              0);
        presets.show();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(&presets)) << "presets window";
        presets.hide();

        std::atomic<std::int32_t> total{10};
        pipeline::RunFlags flags;
        batch::ui::ProgressWindow progress(flags, total, m_questions, QStringLiteral("Quillmere"));
        progress.show();
        for (int phase = 1; phase <= 2; ++phase) {
            flags.runPhase = phase;
            progress.update();
            QCoreApplication::processEvents();
            EXPECT_FITS(clippedTexts(&progress)) << "progress phase " << phase;
        }
        auto* pause = progress.findChild<QPushButton*>(QStringLiteral("pauseButton"));
        ASSERT_TRUE(pause);
        pause->click();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(&progress)) << "progress paused";
        pause->click();
        progress.finish();

        batch::ui::ResultWindow result(m_images);
        result.show();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(&result)) << "result window";
    }
}

/// The texts that name the window's parts: menu titles, page list and page titles.
QStringList partNames(MainWindow& window) {
    QStringList names;
    for (QAction* action : window.menuBar()->actions())
        names << action->text();
    for (int row = 0; row < window.pageList()->count(); ++row)
        names << window.pageList()->item(row)->text();
    for (int page = 1; page < kPageCount; ++page)
        for (QGroupBox* box : window.pageWidget(page)->findChildren<QGroupBox*>())
            if (!box->title().isEmpty()) names << box->title();
    return names;
}

TEST_F(LanguageLayoutTest, SwitchingRebuildsWithNewTextsAndKeepsTheList) {
    loadSamples();
    ASSERT_EQ(window().model().rowCount(), 3);
    const QStringList english = partNames(window());
    const int russian = settings::languageIndexForCode("ru");
    const int chinese = settings::languageIndexForCode("zh");
    ASSERT_GE(russian, 0);
    ASSERT_GE(chinese, 0);
    for (int language : {russian, chinese, settings::kEnglishLanguage}) {
        SCOPED_TRACE(settings::languages()[std::size_t(language)].code);
        const QStringList before = partNames(window());
        switchTo(language);
        const QStringList after = partNames(window());
        ASSERT_EQ(after.size(), before.size());
        for (int i = 0; i < after.size(); ++i)
            EXPECT_NE(after[i], before[i]) << "unchanged: " << after[i].toStdString();
        EXPECT_EQ(window().model().rowCount(), 3);
        EXPECT_EQ(m_context.languageIndex, language);
        // The window grows to the new texts: the widest page still needs no sideways scrolling.
        for (int page = 1; page < kPageCount; ++page) {
            window().pageList()->setCurrentRow(page);
            QCoreApplication::processEvents();
            EXPECT_FALSE(scrollsSideways(window(), page)) << "page " << page;
        }
    }
    EXPECT_EQ(partNames(window()), english);

    // The active language chosen again keeps the very same widgets.
    const QListWidget* list = window().pageList();
    window().chooseLanguage(settings::kEnglishLanguage);
    QTest::qWait(50);
    EXPECT_EQ(window().pageList(), list);
    EXPECT_EQ(window().model().rowCount(), 3);
}

/// Pictures of the image list and the overlay page in every language, for a person to look at.
TEST_F(LanguageLayoutTest, Screenshots) {
    const char* target = std::getenv("QUILL_SCREENSHOT_DIR");
    if (!target) GTEST_SKIP() << "QUILL_SCREENSHOT_DIR is not set";
    constexpr int kOverlayPage = 7;
    loadSamples();
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        switchTo(language);
        const QString code = QString::fromLatin1(settings::languages()[std::size_t(language)].code);
        for (int page : {0, kOverlayPage}) {
            window().pageList()->setCurrentRow(page);
            QTest::qWait(200);
            const QString file = QDir(QString::fromLocal8Bit(target))
                                     .filePath(QStringLiteral("%1-page%2.png").arg(code).arg(page));
            EXPECT_TRUE(window().grab().save(file)) << file.toStdString();
        }
    }
}

} // namespace
} // namespace quill::app::ui
