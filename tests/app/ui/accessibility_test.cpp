// The main window for a keyboard and a screen reader: Tab leaves the two tables while the arrow
// keys move inside them, every control a user can focus on every page has a name of its own in
// every language, no scroll area is a Tab stop, and the page list shows where the focus is.
#include "main_window_fixture.h"

#include "app/ui/filter_table.h"
#include "app/ui/preview/presets_window.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "settings/ui_text_ids.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTableView>

#include <gtest/gtest.h>

#include <atomic>

namespace quill::app::ui {
namespace {

namespace text = settings::text;

/// What a screen reader announces for `widget`: its accessible name, else the text of the label
/// that names it as its buddy, else a button's own text.
QString nameOf(QWidget* widget) {
    if (!widget->accessibleName().isEmpty()) return widget->accessibleName();
    for (QLabel* label : widget->window()->findChildren<QLabel*>())
        if (label->buddy() == widget) return readable(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return readable(button->text());
    return {};
}

/// Whether `widget` is a part of another control (a spin box's or combo box's edit line).
bool isInnerPart(QWidget* widget, QWidget* root) {
    for (QWidget* up = widget->parentWidget(); up && up != root; up = up->parentWidget())
        if (qobject_cast<QAbstractSpinBox*>(up) || qobject_cast<QComboBox*>(up)) return true;
    return false;
}

/// The shown widgets of `page` that take focus, without the parts of other controls.
QList<QWidget*> focusable(QWidget* page) {
    QList<QWidget*> found;
    for (QWidget* widget : page->findChildren<QWidget*>())
        if (widget->focusPolicy() != Qt::NoFocus && widget->isVisibleTo(page) &&
            !isInnerPart(widget, page))
            found << widget;
    return found;
}

QString describe(QWidget* widget) {
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(widget->metaObject()->className()), nameOf(widget));
}

/// Fails for each control of `root` a user can focus that has no name, or the name of another.
void expectNamesOfTheirOwn(QWidget* root) {
    QStringList unnamed;
    QMap<QString, QString> seen;
    for (QWidget* widget : focusable(root)) {
        const QString name = nameOf(widget);
        if (name.isEmpty()) {
            unnamed << describe(widget);
            continue;
        }
        EXPECT_FALSE(seen.contains(name))
            << describe(widget).toStdString() << " / " << seen[name].toStdString();
        seen.insert(name, describe(widget));
    }
    EXPECT_TRUE(unnamed.isEmpty()) << unnamed.join(QStringLiteral("; ")).toStdString();
}

class AccessibilityTest : public MainWindowFixture {
protected:
    /// Presses Tab (or Shift+Tab) on the widget that has the focus; the widget that gets it.
    QWidget* tab(bool forward = true) {
        QWidget* from = QApplication::focusWidget();
        EXPECT_TRUE(from);
        if (!from) return nullptr;
        QTest::keyClick(from, forward ? Qt::Key_Tab : Qt::Key_Backtab);
        return QApplication::focusWidget();
    }
    void focus(QWidget* widget) {
        widget->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(widget->hasFocus());
    }
};

TEST_F(AccessibilityTest, TabLeavesTheImageTableAndTheArrowsMoveInIt) {
    loadAndWait(sampleFolder());
    QTableView* table = window().imageView();
    window().pageList()->setCurrentRow(ImageListPage);
    table->selectRow(0);
    focus(table);
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(table->currentIndex().row(), 1);
    EXPECT_TRUE(table->hasFocus());

    QWidget* page = window().pageWidget(ImageListPage);
    QPushButton* remove = buttonNamed(page, T(text::kRemoveSelected));
    QPushButton* clear = buttonNamed(page, T(text::kClearList));
    ASSERT_TRUE(remove && clear);
    EXPECT_EQ(tab(), remove);
    EXPECT_EQ(tab(), clear);
    EXPECT_EQ(tab(false), remove);
    EXPECT_EQ(tab(false), table);
    // Before the table come the window's command buttons.
    EXPECT_EQ(tab(false), buttonNamed(&window(), T(text::kStartButton)));
}

TEST_F(AccessibilityTest, TabLeavesTheFilterTableFromTheTableAndFromEveryRowEditor) {
    window().pageList()->setCurrentRow(FilterPage);
    QWidget* page = window().pageWidget(FilterPage);
    auto* table = page->findChild<FilterTable*>();
    QAbstractButton* on = nullptr;
    for (QAbstractButton* button : page->findChildren<QAbstractButton*>())
        if (button->text() == T(text::kApplyFilterConditions)) on = button;
    QPushButton* add = buttonNamed(page, T(text::kAddCondition));
    ASSERT_TRUE(table && on && add);
    on->setChecked(true);
    table->setRowCount(0);
    add->click();
    add->click();
    ASSERT_EQ(table->rowCount(), 2);

    for (int column = 0; column < table->columnCount(); ++column) {
        SCOPED_TRACE(column);
        QWidget* editor = table->cellWidget(1, column);
        ASSERT_TRUE(editor);
        // Reached through the table, never as a Tab stop of its own.
        EXPECT_FALSE(editor->focusPolicy() & Qt::TabFocus);
        focus(editor);
        EXPECT_EQ(tab(), add);
        focus(editor);
        EXPECT_EQ(tab(false), on);
    }
    focus(table);
    EXPECT_EQ(tab(), add);
    EXPECT_EQ(tab(false), table);
    EXPECT_EQ(tab(false), on);

    // The arrow keys an editor leaves unused go from cell to cell, and the focus with them.
    focus(table);
    table->setCurrentCell(0, 0);
    ASSERT_TRUE(table->cellWidget(0, 0)->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(table->currentColumn(), 1);
    table->setCurrentCell(0, 3);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(table->currentRow(), 1);
    EXPECT_TRUE(table->cellWidget(1, 3)->hasFocus())
        << describe(QApplication::focusWidget()).toStdString();
}

// Every language: a control named by nothing, or by the same words as another control of its
// page or window, cannot be told apart by ear. The pages, the page list and the scroll areas
// around the pages; the presets, progress and result windows.
TEST_F(AccessibilityTest, EveryFocusableControlHasANameOfItsOwnInEveryLanguage) {
    for (int language = 0; language < int(settings::languages().size()); ++language) {
        SCOPED_TRACE(language);
        openIn(language);
        EXPECT_FALSE(nameOf(window().pageList()).isEmpty());
        // Two conditions, told apart by their row.
        auto* table = window().pageWidget(FilterPage)->findChild<FilterTable*>();
        ASSERT_TRUE(table);
        table->setRowCount(0);
        table->addCondition();
        table->addCondition();
        for (int page = 0; page < kPageCount; ++page) {
            SCOPED_TRACE(page);
            window().pageList()->setCurrentRow(page);
            QWidget* content = window().pageWidget(page);
            expectNamesOfTheirOwn(content);
            if (auto* scroll =
                    qobject_cast<QScrollArea*>(content->parentWidget()->parentWidget())) {
                EXPECT_EQ(scroll->focusPolicy(), Qt::NoFocus);
                EXPECT_EQ(scroll->viewport()->focusPolicy(), Qt::NoFocus);
            }
        }

        const std::unique_ptr<PresetsWindow> presets = managePresets();
        expectNamesOfTheirOwn(presets.get());
        std::atomic<std::int32_t> total{10};
        pipeline::RunFlags flags;
        batch::ui::ProgressWindow progress(flags, total, m_questions, QStringLiteral("Quillmere"));
        flags.enterPhase(pipeline::RunPhase::Processing);
        progress.update();
        expectNamesOfTheirOwn(&progress);
        progress.finish();
        batch::ui::ResultWindow result(m_images);
        expectNamesOfTheirOwn(&result);
    }
}

// The focused row of the page list is framed 2 pixels wide, in a colour that stands out from the
// row's background whether or not the row is selected.
TEST_F(AccessibilityTest, ThePageListShowsItsFocusWithAFrameTwoPixelsWide) {
    QListWidget* list = window().pageList();
    list->setCurrentRow(2);
    focus(list);
    const QPalette palette = list->palette();
    for (const bool selected : {true, false}) {
        SCOPED_TRACE(selected);
        list->item(2)->setSelected(selected);
        QCoreApplication::processEvents();
        const QImage picture = list->viewport()->grab().toImage();
        const qreal scale = picture.devicePixelRatio();
        const QRect row = list->visualItemRect(list->item(2));
        const QColor frame =
            palette.color(selected ? QPalette::HighlightedText : QPalette::Highlight);
        const int x = int((row.left() + row.width() / 2) * scale);
        // Inside a selected row, with the highlight around it.
        const int from = int((selected ? 2 : 0) * scale);
        for (int inset = from; inset < from + int(2 * scale); ++inset) {
            // Compared as 8-bit RGB: a palette colour computed for contrast has finer channels.
            EXPECT_EQ(picture.pixelColor(x, int(row.top() * scale) + inset).rgb(), frame.rgb())
                << inset;
            EXPECT_EQ(picture.pixelColor(x, int((row.bottom() + 1) * scale) - 1 - inset).rgb(),
                      frame.rgb())
                << inset;
        }
        if (selected) {
            EXPECT_EQ(picture.pixelColor(x, int(row.top() * scale)).rgb(),
                      palette.color(QPalette::Active, QPalette::Highlight).rgb());
        }
    }
}

// Start is drawn as the default button whether it has the focus or not, and the style shows
// the focus neither on the overlay's text box nor on an empty table: each looks different while
// it has the focus.
TEST_F(AccessibilityTest, StartTheOverlayTextAndEmptyTablesShowTheFocus) {
    m_context.workingSettings.overlayEnabled = 1;
    m_context.workingSettings.filterEnabled = 1;
    window().settingsToControls();
    QPushButton* start = buttonNamed(&window(), T(text::kStartButton));
    ASSERT_TRUE(start);
    focus(window().pageList());
    const QImage before = start->grab().toImage();
    focus(start);
    EXPECT_NE(before, start->grab().toImage());
    // Their frames, top middle: in the highlight colour only while they have the focus.
    const auto top = [](QWidget* control) {
        const QImage picture = control->grab().toImage();
        return picture.pixel(picture.width() / 2, 0);
    };
    auto* table = window().pageWidget(FilterPage)->findChild<FilterTable*>();
    ASSERT_TRUE(table);
    table->setRowCount(0);
    for (const auto& [page, control] :
         {std::pair<int, QWidget*>(ImageListPage, window().imageView()),
          std::pair<int, QWidget*>(FilterPage, table),
          std::pair<int, QWidget*>(
              OverlayPage, window().pageWidget(OverlayPage)->findChild<QPlainTextEdit*>())}) {
        SCOPED_TRACE(page);
        ASSERT_TRUE(control);
        window().pageList()->setCurrentRow(page);
        focus(start);
        const QRgb highlight = control->palette().color(QPalette::Highlight).rgb();
        EXPECT_NE(top(control), highlight);
        focus(control);
        EXPECT_EQ(top(control), highlight);
    }
}

} // namespace
} // namespace quill::app::ui
