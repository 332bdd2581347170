// The main window on a small screen at twice the scale (1024 x 768 device pixels, so 512 x 384
// of the window's own): it opens within the screen with its buttons and status bar on show,
// every control of every page can be scrolled into view, no two controls overlap, and the live
// preview takes a place of its own that the other parts keep whether it shows or not.
#include "main_window_fixture.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>

#include <gtest/gtest.h>

namespace quill::app::ui {
namespace {

// Twice the scale unless the caller chose one (tools/page_screenshots.sh), set before the test
// main makes the application object.
const bool kDoubled =
    qEnvironmentVariableIsSet("QT_SCALE_FACTOR") || qputenv("QT_SCALE_FACTOR", "2");

/// Widgets a user reads or works: buttons, fields, lists and labels with text. Parts of another
/// control (the edit line of a spin box, a table's header) are left out.
bool isControl(const QWidget* widget) {
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return !label->text().isEmpty() || !label->pixmap().isNull();
    return qobject_cast<const QAbstractButton*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QComboBox*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QAbstractItemView*>(widget);
}

/// The controls of `root` that are shown (as far as their parents go), outermost only.
QList<QWidget*> controlsOf(QWidget* root) {
    QList<QWidget*> found;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root) || !isControl(widget)) continue;
        bool inner = false;
        for (QWidget* up = widget->parentWidget(); up && up != root; up = up->parentWidget())
            inner = inner || isControl(up);
        if (!inner) found << widget;
    }
    return found;
}

QString nameOf(const QWidget* widget) {
    QString text;
    if (auto* label = qobject_cast<const QLabel*>(widget)) text = label->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(widget)) text = button->text();
    return QStringLiteral("%1 \"%2\"")
        .arg(QString::fromLatin1(widget->metaObject()->className()), text.left(30));
}

QRect placeIn(const QWidget* widget, const QWidget* root) {
    return {widget->mapTo(root, QPoint(0, 0)), widget->size()};
}

/// The smallest size a layout gives a widget: the one set on it, else the one it asks for.
QSize leastSize(const QWidget* widget) {
    const QSize set = widget->minimumSize();
    const QSize hint = widget->minimumSizeHint();
    return {set.width() > 0 ? set.width() : hint.width(),
            set.height() > 0 ? set.height() : hint.height()};
}

/// Pairs of controls whose places overlap, and controls squeezed below their smallest size.
QStringList overlapsAndSqueezes(QWidget* root) {
    QStringList found;
    const QList<QWidget*> controls = controlsOf(root);
    for (int i = 0; i < controls.size(); ++i) {
        const QRect a = placeIn(controls[i], root);
        for (int j = i + 1; j < controls.size(); ++j)
            if (a.intersects(placeIn(controls[j], root)))
                found << nameOf(controls[i]) + " / " + nameOf(controls[j]);
        const QSize least = leastSize(controls[i]);
        const QSizePolicy policy = controls[i]->sizePolicy();
        const bool squeezed =
            (policy.horizontalPolicy() != QSizePolicy::Ignored && a.width() < least.width()) ||
            (policy.verticalPolicy() != QSizePolicy::Ignored && a.height() < least.height());
        if (squeezed) found << nameOf(controls[i]) + " squeezed";
    }
    return found;
}

/// Scrolls the least that brings `length` pixels from `start` into a view of `room` pixels, or
/// their beginning where they do not fit.
void scrollTo(QScrollBar* bar, int start, int length, int room) {
    int value = bar->value();
    if (length > room || start < value)
        value = start;
    else if (start + length > value + room)
        value = start + length - room;
    bar->setValue(value);
}

#define EXPECT_NONE(found)                                                                         \
    EXPECT_TRUE((found).isEmpty()) << (found).join(QStringLiteral("; ")).toStdString()

class SmallScreenTest : public MainWindowFixture {
protected:
    void TearDown() override {
        m_window.reset();
        EXPECT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
    }
    /// The window in `code`'s language on a preset with an overlay, so more controls are on.
    void openIn(const char* code) {
        const int language = settings::languageIndexForCode(code);
        ASSERT_GE(language, 0);
        ASSERT_TRUE(settings::loadUiTexts(language));
        m_context.languageIndex = language;
        m_context.workingSettings = m_context.presetList.presets[1];
        m_window.reset();
        m_images.clear();
        window();
        QCoreApplication::processEvents();
    }
    /// The buttons beside the pages: add files, add folder, start.
    QList<QPushButton*> commandButtons() {
        QList<QPushButton*> buttons;
        for (QPushButton* button : window().centralWidget()->findChildren<QPushButton*>()) {
            bool onPage = false;
            for (QWidget* up = button; up && !onPage; up = up->parentWidget())
                onPage = qobject_cast<QStackedWidget*>(up) != nullptr;
            if (!onPage && button->isVisibleTo(&window())) buttons << button;
        }
        return buttons;
    }
    /// The parts outside the pages, in the window's coordinates.
    std::vector<QRect> framePlaces() {
        std::vector<QRect> places{placeIn(window().pageList(), &window())};
        for (QPushButton* button : commandButtons())
            places.push_back(placeIn(button, &window()));
        return places;
    }
};

TEST_F(SmallScreenTest, TheScreenIsSmallAndDoubled) {
    // The conditions the other tests rely on.
    ASSERT_TRUE(kDoubled);
    const QScreen* screen = QGuiApplication::primaryScreen();
    EXPECT_EQ(screen->devicePixelRatio(), 2.0);
    EXPECT_EQ(screen->availableGeometry().size(), QSize(512, 384));
}

TEST_F(SmallScreenTest, TheWindowOpensWithinTheScreenWithEverythingOnShow) {
    for (const char* code : {"en", "de", "ru"}) {
        SCOPED_TRACE(code);
        openIn(code);
        const QRect available = window().screen()->availableGeometry();
        EXPECT_TRUE(available.contains(window().frameGeometry()))
            << window().frameGeometry().width() << " x " << window().frameGeometry().height();
        EXPECT_LE(window().minimumWidth(), available.width());
        EXPECT_LE(window().minimumHeight(), available.height());
        const QRect inside = window().rect();
        for (QWidget* part : {static_cast<QWidget*>(window().statusBar()),
                              static_cast<QWidget*>(window().pageList())}) {
            EXPECT_TRUE(part->isVisible()) << nameOf(part).toStdString();
            EXPECT_TRUE(inside.contains(placeIn(part, &window()))) << nameOf(part).toStdString();
        }
        for (QPushButton* button : commandButtons())
            EXPECT_TRUE(inside.contains(placeIn(button, &window())))
                << nameOf(button).toStdString();
        // The page list shows several rows, not a sliver.
        EXPECT_GE(window().pageList()->viewport()->height(),
                  4 * window().pageList()->sizeHintForRow(0));
        EXPECT_NONE(overlapsAndSqueezes(window().centralWidget()));
    }
}

TEST_F(SmallScreenTest, EveryControlOfEveryPageScrollsIntoViewAndNoneOverlap) {
    for (const char* code : {"en", "de", "ru"}) {
        SCOPED_TRACE(code);
        openIn(code);
        for (int page = 0; page < kPageCount; ++page) {
            SCOPED_TRACE(page);
            window().pageList()->setCurrentRow(page);
            QCoreApplication::processEvents();
            QWidget* content = window().pageWidget(page);
            EXPECT_NONE(overlapsAndSqueezes(content));
            QScrollArea* scroll = nullptr;
            for (QWidget* up = content; up && !scroll; up = up->parentWidget())
                scroll = qobject_cast<QScrollArea*>(up);
            QWidget* view = scroll ? scroll->viewport() : content;
            for (QWidget* control : controlsOf(content)) {
                if (scroll) {
                    const QRect inPage = placeIn(control, scroll->widget());
                    scrollTo(scroll->horizontalScrollBar(), inPage.left(), inPage.width(),
                             view->width());
                    scrollTo(scroll->verticalScrollBar(), inPage.top(), inPage.height(),
                             view->height());
                }
                QCoreApplication::processEvents();
                // Wholly in view, or filling the view where it is larger.
                const QRect place = placeIn(control, view);
                const QRect shown = place.intersected(view->rect());
                EXPECT_EQ(shown.width(), std::min(place.width(), view->width()))
                    << nameOf(control).toStdString();
                EXPECT_EQ(shown.height(), std::min(place.height(), view->height()))
                    << nameOf(control).toStdString();
            }
        }
    }
}

TEST_F(SmallScreenTest, TheLivePreviewCoversNothingAndMovesNothing) {
    m_context.workingSettings = m_context.presetList.presets[0];
    m_context.workingSettings.cropEnabled = 1;
    m_context.workingSettings.selectedPage = 2; // crop
    loadAndWait(sampleFolder());
    window().imageView()->selectRow(0);
    window().pageList()->setCurrentRow(1);
    QCoreApplication::processEvents();
    LivePreviewPanel* panel = window().livePreviewPanel();
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    const std::vector<QRect> before = framePlaces();
    const QRect pageBefore = placeIn(window().pageWidget(2)->parentWidget(), &window());

    window().pageList()->setCurrentRow(2);
    ASSERT_TRUE(
        waitUntil([&] { return panel->isVisible() && !panel->captionLabel()->text().isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(framePlaces(), before);
    EXPECT_EQ(placeIn(window().pageWidget(2)->parentWidget(), &window()), pageBefore);
    const QRect preview = placeIn(panel, &window());
    EXPECT_TRUE(window().rect().contains(preview));
    for (const QRect& place : framePlaces())
        EXPECT_FALSE(place.intersects(preview));
    EXPECT_FALSE(placeIn(window().pageWidget(2), &window()).intersects(preview));
    // The caption is read whole.
    EXPECT_NONE(overlapsAndSqueezes(panel));
    const QLabel* caption = panel->captionLabel();
    for (const QString& line : caption->text().split(QLatin1Char('\n')))
        EXPECT_LE(caption->fontMetrics().horizontalAdvance(line), caption->width())
            << line.toStdString();
    EXPECT_GE(caption->height(), 2 * caption->fontMetrics().lineSpacing());
}

/// Pictures of every page in English, German and Russian with the live preview on show, for a
/// person to look at (tools/page_screenshots.sh).
TEST_F(SmallScreenTest, Screenshots) {
    if (!qEnvironmentVariableIsSet("QUILL_SCREENSHOT_DIR")) GTEST_SKIP() << "no picture folder";
    const std::string folder = sampleFolder();
    for (const char* code : {"en", "de", "ru"}) {
        openIn(code);
        m_context.workingSettings.cropEnabled = m_context.workingSettings.resizeEnabled = 1;
        window().settingsToControls();
        loadAndWait(folder);
        window().imageView()->selectRow(1);
        for (int page = 0; page < kPageCount; ++page) {
            window().pageList()->setCurrentRow(page);
            screenshot(QStringLiteral("%1-page%2.png")
                           .arg(QString::fromLatin1(code))
                           .arg(page, 2, 10, QLatin1Char('0')));
        }
    }
}

} // namespace
} // namespace quill::app::ui
