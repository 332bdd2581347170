// Every language laid out in the real windows: no label, button, group box title, page list item,
// column header or menu title gets less width than its text needs, and the language menu of a
// running window rebuilds it with the new texts while the image list stays.
#include "app/ui/preview/presets_window.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "batch/ui/summary_window.h"
#include "main_window_fixture.h"
#include "settings/language_pack.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
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
#include <memory>

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

/// Every shown text of `root` that gets less room than it needs, one line each; menu bar titles
/// that go into the overflow button count too.
QStringList clippedTexts(QWidget* root) {
    QStringList found;
    const auto check = [&](const QWidget* widget, const QString& text, int needed, int room) {
        if (needed > room)
            found << QStringLiteral("%1 \"%2\"")
                         .arg(QString::fromLatin1(widget->metaObject()->className()), text);
    };
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root) || widget->width() <= 0) continue;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            const QString text = label->text();
            // Rich texts and labels that shorten their own text are left out.
            if (text.isEmpty() || label->textFormat() == Qt::RichText ||
                label->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored ||
                Qt::mightBeRichText(text))
                continue;
            if (label->wordWrap())
                check(label, text + " (height)", label->heightForWidth(label->width()),
                      label->height());
            else
                check(label, text, textWidth(label->fontMetrics(), text),
                      label->contentsRect().width() - 2 * label->margin());
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
            check(button, button->text(), textWidth(button->fontMetrics(), button->text()), room);
        } else if (auto* box = qobject_cast<QGroupBox*>(widget)) {
            int needed = textWidth(box->fontMetrics(), box->title());
            if (box->isCheckable())
                needed += box->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                          box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
            check(box, box->title(), needed, box->contentsRect().width());
        } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
            for (int row = 0; row < list->count(); ++row)
                check(list, list->item(row)->text(),
                      list->sizeHintForIndex(list->model()->index(row, 0)).width(),
                      list->viewport()->width());
        } else if (auto* bar = qobject_cast<QMenuBar*>(widget)) {
            for (QAction* action : bar->actions()) {
                const QRect place = bar->actionGeometry(action);
                check(bar, action->text(), place.isEmpty() ? bar->width() + 1 : place.right(),
                      bar->width());
            }
        }
    }
    return found;
}

/// The column headers of `root` that are narrower than their texts.
QStringList clippedHeaders(QWidget* root) {
    QStringList found;
    for (QHeaderView* header : root->findChildren<QHeaderView*>()) {
        const QAbstractItemModel* model = header->model();
        if (!header->isVisibleTo(root) || !model) continue;
        for (int section = 0; section < header->count(); ++section)
            if (header->sectionSize(section) < header->sectionSizeHint(section))
                found << QStringLiteral("column \"%1\"")
                             .arg(model->headerData(section, header->orientation()).toString());
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

#define EXPECT_FITS(found)                                                                         \
    EXPECT_TRUE((found).isEmpty()) << (found).join(QStringLiteral("; ")).toStdString()

class LanguageLayoutTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        m_context.workingSettings = m_context.presetList.presets[1]; // one with an overlay
    }
    void switchTo(int language) {
        window().chooseLanguage(language);
        ASSERT_TRUE(waitUntil([&] {
            QAction* item = window().menuItem(MenuCommand::FirstLanguage + language);
            return item && item->isChecked();
        }));
    }
};

TEST_F(LanguageLayoutTest, NoTextIsClippedInAnyLanguage) {
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        SCOPED_TRACE(settings::languages()[std::size_t(language)].code);
        openIn(language);
        for (int page = 0; page < kPageCount; ++page) {
            window().pageList()->setCurrentRow(page);
            QCoreApplication::processEvents();
            EXPECT_FITS(clippedTexts(window().pageWidget(page))) << "page " << page;
            EXPECT_FITS(clippedHeaders(window().pageWidget(page))) << "page " << page;
            EXPECT_FALSE(scrollsSideways(window(), page)) << "page " << page;
        }
        EXPECT_FITS(clippedTexts(window().centralWidget()->parentWidget()));

        const std::unique_ptr<PresetsWindow> presets = managePresets();
        presets->show();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(presets.get())) << "presets window";

        std::atomic<std::int32_t> total{10};
        pipeline::RunFlags flags;
        batch::ui::ProgressWindow progress(flags, total, m_questions, QStringLiteral("Quillmere"));
        progress.show();
        for (const auto phase : {pipeline::RunPhase::Preparing, pipeline::RunPhase::Processing}) {
            flags.enterPhase(phase);
            progress.update();
            QCoreApplication::processEvents();
            EXPECT_FITS(clippedTexts(&progress)) << "progress phase " << int(phase);
        }
        auto* pause = progress.findChild<QPushButton*>(QStringLiteral("pauseButton"));
        ASSERT_TRUE(pause);
        pause->click();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(&progress)) << "progress paused";
        pause->click();
        flags.enterPhase(pipeline::RunPhase::Finishing);
        progress.update();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(&progress)) << "progress finishing";
        progress.finish();

        batch::ui::ResultWindow result(m_images);
        result.show();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(&result)) << "result window";

        batch::ui::SummaryWindow summary(
            {.processed = 40000, .outputFolder = "/home/someone/Pictures/holiday 2026/small/"},
            m_opener);
        summary.show();
        QCoreApplication::processEvents();
        EXPECT_FITS(clippedTexts(&summary)) << "summary";
    }
}

/// The texts that name the window's parts: menu titles and the page list.
QStringList partNames(MainWindow& window) {
    QStringList names;
    for (QAction* action : window.menuBar()->actions())
        names << action->text();
    for (int row = 0; row < window.pageList()->count(); ++row)
        names << window.pageList()->item(row)->text();
    return names;
}

TEST_F(LanguageLayoutTest, TheLanguageMenuRebuildsWithNewTextsAndKeepsTheList) {
    loadAndWait(sampleFolder());
    const QStringList english = partNames(window());
    const int russian = settings::languageIndexForCode("ru");
    ASSERT_GE(russian, 0);
    window().menuItem(MenuCommand::FirstLanguage + russian)->trigger();
    ASSERT_TRUE(waitUntil([&] {
        QAction* item = window().menuItem(MenuCommand::FirstLanguage + russian);
        return item && item->isChecked() &&
               !window().menuItem(MenuCommand::LanguageAutomatic)->isChecked();
    }));
    EXPECT_EQ(settings::readStoredLanguage(m_context.languageFilePath), russian);
    const QStringList russianNames = partNames(window());
    ASSERT_EQ(russianNames.size(), english.size());
    for (int i = 0; i < english.size(); ++i)
        EXPECT_NE(russianNames[i], english[i]) << "unchanged: " << english[i].toStdString();
    EXPECT_EQ(window().model().rowCount(), 3);
    // The window grows to the new texts: the widest page still needs no sideways scrolling.
    for (int page = 1; page < kPageCount; ++page) {
        window().pageList()->setCurrentRow(page);
        QCoreApplication::processEvents();
        EXPECT_FALSE(scrollsSideways(window(), page)) << "page " << page;
    }

    // The automatic entry deletes the stored choice.
    window().menuItem(MenuCommand::LanguageAutomatic)->trigger();
    ASSERT_TRUE(
        waitUntil([&] { return window().menuItem(MenuCommand::LanguageAutomatic)->isChecked(); }));
    EXPECT_FALSE(platform::fileExists(m_context.languageFilePath));
}

/// The items of an edit field's standard context menu (undo, cut, copy, paste, select all...).
QStringList editMenuTexts(MainWindow& window) {
    auto* edit = window.findChild<QLineEdit*>();
    if (!edit) return {};
    const std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator()) texts << action->text().section(QLatin1Char('\t'), 0, 0);
    return texts;
}

/// The buttons of Qt's own file dialog.
QStringList fileDialogButtons(MainWindow& window) {
    QFileDialog dialog(&window);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList texts;
    for (const QAbstractButton* button : dialog.findChild<QDialogButtonBox*>()->buttons())
        texts << button->text();
    return texts;
}

TEST_F(LanguageLayoutTest, QtsOwnTextsFollowTheLanguage) {
    // A window opened in German, then switched to English.
    openIn(settings::languageIndexForCode("de"));
    const QStringList germanButtons = fileDialogButtons(window());
    EXPECT_TRUE(germanButtons.contains(QStringLiteral("Abbrechen")))
        << germanButtons.join(' ').toStdString();
    switchTo(settings::kEnglishLanguage);
    const QStringList english = editMenuTexts(window());
    EXPECT_TRUE(english.contains(QStringLiteral("&Copy"))) << english.join(' ').toStdString();
    EXPECT_TRUE(fileDialogButtons(window()).contains(QStringLiteral("Cancel")));

    // Every language for which Qt has a catalogue; Estonian has none and keeps Qt's English.
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        const std::string code = settings::languages()[std::size_t(language)].code;
        SCOPED_TRACE(code);
        switchTo(language);
        const QStringList menu = editMenuTexts(window());
        ASSERT_EQ(menu.size(), english.size());
        const bool keepsEnglish = code == "en" || code == "et";
        EXPECT_EQ(menu == english, keepsEnglish) << menu.join(' ').toStdString();
    }
}

/// Pictures of the image list, the filter page and the overlay page in every language, for a
/// person to look at.
TEST_F(LanguageLayoutTest, Screenshots) {
    if (!qEnvironmentVariableIsSet("QUILL_SCREENSHOT_DIR")) GTEST_SKIP() << "no picture folder";
    loadAndWait(sampleFolder());
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        switchTo(language);
        for (int page : {0, 1, 7}) { // the list, the filter page and the overlay page
            window().pageList()->setCurrentRow(page);
            screenshot(
                QStringLiteral("%1-page%2.png")
                    .arg(QString::fromLatin1(settings::languages()[std::size_t(language)].code))
                    .arg(page));
        }
        // Qt's own texts: the context menu of an edit field.
        const std::unique_ptr<QMenu> menu(
            window().findChild<QLineEdit*>()->createStandardContextMenu());
        menu->popup(window().mapToGlobal(QPoint(40, 40)));
        QTest::qWait(200);
        EXPECT_TRUE(menu->grab().save(
            qEnvironmentVariable("QUILL_SCREENSHOT_DIR") +
            QStringLiteral("/%1-editmenu.png")
                .arg(QString::fromLatin1(settings::languages()[std::size_t(language)].code))));
        menu->close();
    }
}

} // namespace
} // namespace quill::app::ui
