// The main window as a user sees it, on a small screen at twice the scale (1024 x 768 device
// pixels, 512 x 384 of the window's own): it fits the screen, every control of every page
// scrolls into view and none overlap, the live preview has a place of its own, a switch that is
// off greys out what it governs, and the red mark of the preview names the setting out of range.
#include "main_window_fixture.h"

#include "settings/ui_text_ids.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>

#include <gtest/gtest.h>

#include <map>

namespace quill::app::ui {
namespace {

namespace text = settings::text;

// Twice the scale unless the caller chose one (tools/page_screenshots.sh), set before the test
// main makes the application object.
const bool kScaleSet =
    qEnvironmentVariableIsSet("QT_SCALE_FACTOR") || qputenv("QT_SCALE_FACTOR", "2");

/// Widgets a user reads or works: buttons, fields, lists and labels with text or a picture.
bool isControl(const QWidget* widget) {
    if (auto* label = qobject_cast<const QLabel*>(widget))
        return !label->text().isEmpty() || !label->pixmap().isNull();
    return qobject_cast<const QAbstractButton*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QComboBox*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QAbstractItemView*>(widget);
}

/// The shown controls of `root`, without the parts of another control (a spin box's edit line).
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

/// Pairs of controls whose places overlap, and controls squeezed below the smallest size a
/// layout gives them (the one set on them, else the one they ask for).
QStringList overlapsAndSqueezes(QWidget* root) {
    QStringList found;
    const QList<QWidget*> controls = controlsOf(root);
    for (int i = 0; i < controls.size(); ++i) {
        const QRect a = placeIn(controls[i], root);
        for (int j = i + 1; j < controls.size(); ++j)
            if (a.intersects(placeIn(controls[j], root)))
                found << nameOf(controls[i]) + " / " + nameOf(controls[j]);
        const QSize set = controls[i]->minimumSize();
        const QSize hint = controls[i]->minimumSizeHint();
        const QSizePolicy policy = controls[i]->sizePolicy();
        if ((policy.horizontalPolicy() != QSizePolicy::Ignored &&
             a.width() < (set.width() > 0 ? set.width() : hint.width())) ||
            (policy.verticalPolicy() != QSizePolicy::Ignored &&
             a.height() < (set.height() > 0 ? set.height() : hint.height())))
            found << nameOf(controls[i]) + " squeezed";
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

class WindowLayoutTest : public MainWindowFixture {
protected:
    /// A new window in `code`'s language on a preset with an overlay, so more controls are on.
    void openIn(const char* code) {
        const int language = settings::languageIndexForCode(code);
        ASSERT_GE(language, 0);
        m_context.workingSettings = m_context.presetList.presets[1];
        MainWindowFixture::openIn(language);
    }
    /// The page list and the buttons beside the pages, in the window's coordinates.
    std::vector<QRect> framePlaces() {
        std::vector<QRect> places{placeIn(window().pageList(), &window())};
        for (QPushButton* button : window().centralWidget()->findChildren<QPushButton*>()) {
            bool onPage = false;
            for (QWidget* up = button; up && !onPage; up = up->parentWidget())
                onPage = qobject_cast<QStackedWidget*>(up) != nullptr;
            if (!onPage && button->isVisibleTo(&window()))
                places.push_back(placeIn(button, &window()));
        }
        return places;
    }
    /// The control bound to each field, over every page.
    std::map<std::string, QObject*> controls() {
        std::map<std::string, QObject*> found;
        for (const BindingTable* table : window().bindingTables())
            for (const auto& entry : table->entries())
                found.emplace(entry.field, entry.control);
        return found;
    }
};

TEST_F(WindowLayoutTest, TheWindowFitsTheScreenAndEveryControlScrollsIntoView) {
    ASSERT_TRUE(kScaleSet);
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
    for (const char* code : {"en", "de", "ru"}) {
        SCOPED_TRACE(code);
        openIn(code);
        const QRect available = window().screen()->availableGeometry();
        ASSERT_EQ(available.size(), QSize(512, 384));
        EXPECT_TRUE(available.contains(window().frameGeometry()));
        EXPECT_LE(window().minimumHeight(), available.height());
        const QRect inside = window().rect();
        EXPECT_TRUE(inside.contains(placeIn(window().statusBar(), &window())));
        for (const QRect& place : framePlaces())
            EXPECT_TRUE(inside.contains(place));
        EXPECT_GE(window().pageList()->viewport()->height(),
                  4 * window().pageList()->sizeHintForRow(0));
        EXPECT_NONE(overlapsAndSqueezes(window().centralWidget()));

        for (int page = 0; page < kPageCount; ++page) {
            SCOPED_TRACE(page);
            window().pageList()->setCurrentRow(page);
            QCoreApplication::processEvents();
            QWidget* content = window().pageWidget(page);
            EXPECT_NONE(overlapsAndSqueezes(content));
            auto* scroll = qobject_cast<QScrollArea*>(content->parentWidget()->parentWidget());
            QWidget* view = scroll ? scroll->viewport() : content;
            for (QWidget* control : controlsOf(content)) {
                if (scroll) {
                    const QRect inPage = placeIn(control, content);
                    scrollTo(scroll->horizontalScrollBar(), inPage.left(), inPage.width(),
                             view->width());
                    scrollTo(scroll->verticalScrollBar(), inPage.top(), inPage.height(),
                             view->height());
                    QCoreApplication::processEvents();
                }
                // Wholly in view, or filling the view where it is larger.
                const QRect place = placeIn(control, view);
                const QRect shown = place.intersected(view->rect());
                EXPECT_EQ(shown.size(), place.size().boundedTo(view->size()))
                    << nameOf(control).toStdString();
            }
        }
    }
}

TEST_F(WindowLayoutTest, TheLivePreviewCoversNothingAndMovesNothing) {
    m_context.workingSettings.cropEnabled = 1;
    loadAndWait(sampleFolder());
    window().imageView()->selectRow(0);
    window().pageList()->setCurrentRow(1);
    LivePreviewPanel* panel = window().livePreviewPanel();
    ASSERT_TRUE(waitUntil([&] { return !panel->isVisible(); }));
    const std::vector<QRect> before = framePlaces();
    QWidget* pages = window().pageWidget(2);
    while (!qobject_cast<QStackedWidget*>(pages))
        pages = pages->parentWidget();
    const QRect pagesBefore = placeIn(pages, &window());

    window().pageList()->setCurrentRow(2);
    ASSERT_TRUE(
        waitUntil([&] { return panel->isVisible() && !panel->captionLabel()->text().isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(framePlaces(), before);
    EXPECT_EQ(placeIn(pages, &window()), pagesBefore);
    const QRect preview = placeIn(panel, &window());
    EXPECT_TRUE(window().rect().contains(preview));
    for (const QRect& place : framePlaces())
        EXPECT_FALSE(place.intersects(preview));
    EXPECT_FALSE(pagesBefore.intersects(preview));
    // Picture and caption apart, the caption read whole.
    EXPECT_NONE(overlapsAndSqueezes(panel));
    const QLabel* caption = panel->captionLabel();
    for (const QString& line : caption->text().split(QLatin1Char('\n')))
        EXPECT_LE(caption->fontMetrics().horizontalAdvance(line), caption->width());
}

// Each page with its switches turned off: every control it shows is greyed out, labels included,
// but the switches, the title, general notes and the controls no switch governs.
TEST_F(WindowLayoutTest, ASwitchThatIsOffGreysOutEverythingItGoverns) {
    const struct {
        int page;
        std::vector<std::string> switches;
        std::vector<std::string> independent;
    } cases[] = {
        {1, {"filterEnabled"}, {}},
        {2, {"cropEnabled"}, {}},
        {3, {"rotateEnabled"}, {}},
        {4, {"resizeEnabled"}, {}},
        {5,
         {"brightnessEnabled", "saturationEnabled", "contrastEnabled", "gammaEnabled",
          "channelAdjustEnabled"},
         {}},
        {6, {"canvasEnabled"}, {}},
        {7, {"overlayEnabled"}, {}},
        {8, {"sortEnabled"}, {}},
        {9, {"commentEnabled"}, {"keepMetadata", "removeLocation", "convertToSrgb"}},
        {10, {"setFileDates"}, {"resetFileAttributes"}},
        // Without a conversion the sources keep formats that may take the size limit.
        {11, {"convertFormat", "qualityEnabled", "colorDepthEnabled"}, {"outputSizeLimit"}},
        {12, {"renameEnabled"}, {}},
        {13, {"outputDirEnabled"}, {}},
    };
    m_context.workingSettings = m_context.presetList.presets[1];
    auto bound = controls();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        window().pageList()->setCurrentRow(c.page);
        std::vector<QObject*> kept;
        for (const std::string& field : c.independent)
            kept.push_back(bound[field]);
        for (const auto& field : c.switches) {
            if (auto* box = qobject_cast<QAbstractButton*>(bound[field])) {
                box->setChecked(true);
                box->setChecked(false);
                kept.push_back(box);
            } else if (auto* group = qobject_cast<QButtonGroup*>(bound[field])) {
                group->button(0)->click(); // replace the sources: no folder to choose
                for (QAbstractButton* button : group->buttons())
                    kept.push_back(button);
            }
        }
        QWidget* page = window().pageWidget(c.page);
        const QStringList notes{window().pageList()->item(c.page)->text(),
                                T(text::kNeutralValue100), T(text::kFilterLeavesOutMatches),
                                T(text::kOutputSizeLimit)};
        QStringList enabled;
        for (QWidget* control : controlsOf(page)) {
            const auto* label = qobject_cast<QLabel*>(control);
            if (control->isEnabled() &&
                std::find(kept.begin(), kept.end(), control) == kept.end() &&
                !(label && notes.contains(label->text())))
                enabled << nameOf(control);
        }
        EXPECT_NONE(enabled);
    }
    // A label comes back with its field.
    qobject_cast<QAbstractButton*>(bound["commentEnabled"])->setChecked(true);
    for (QLabel* label : window().pageWidget(9)->findChildren<QLabel*>()) {
        if (label->text() == T(text::kCommentText)) {
            EXPECT_TRUE(label->isEnabled());
        }
    }
}

// The output format page. The quality's scale sits under its value, is read whole and says what
// the value means for the chosen format: lossless at 10, not used, or the plain scale, which is
// also the one while nothing is converted. The size limit is greyed out with its label for a
// chosen format that cannot take it; without a conversion the sources keep formats that may.
TEST_F(WindowLayoutTest, TheQualityScaleAndTheSizeLimitFollowTheChosenFormat) {
    auto bound = controls();
    auto* value = qobject_cast<QSpinBox*>(bound["quality"]);
    auto* depth = qobject_cast<QWidget*>(bound["colorDepthEnabled"]);
    auto* limit = qobject_cast<QSpinBox*>(bound["outputSizeLimit"]);
    auto* convert = qobject_cast<QAbstractButton*>(bound["convertFormat"]);
    ASSERT_TRUE(value && depth && limit && convert);
    window().pageList()->setCurrentRow(11);
    QWidget* page = window().pageWidget(11);
    QLabel* scale = nullptr;
    QLabel* limitLabel = nullptr;
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (label->text() == T(text::kQualityScale)) scale = label;
        if (label->text() == T(text::kOutputSizeLimit)) limitLabel = label;
    }
    ASSERT_TRUE(scale && scale->isVisible() && limitLabel);
    const int top = placeIn(scale, page).top();
    EXPECT_GE(top, placeIn(value, page).bottom());
    EXPECT_LT(top + scale->height(), placeIn(depth, page).top());
    convert->setChecked(true);
    const QList<QAbstractButton*> choices = page->findChildren<QAbstractButton*>();
    const auto choose = [&](const QString& name) {
        for (QAbstractButton* button : choices)
            if (button->text() == name) button->click();
    };
    const struct {
        QString format;
        int scaleText; ///< -1: not looked at
        bool limited;
    } cases[] = {
        {QStringLiteral("WebP"), text::kQualityScaleLossless, true},
        {QStringLiteral("PNG"), text::kQualityNotUsed, false},
        {QStringLiteral("JPEG"), text::kQualityScale, true},
        {T(text::kPdf), -1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.toStdString());
        choose(c.format);
        QCoreApplication::processEvents(); // the page lays the longer text out
        if (c.scaleText >= 0) {
            EXPECT_EQ(scale->text(), T(c.scaleText));
        }
        EXPECT_LE(scale->fontMetrics().horizontalAdvance(scale->text()) + scale->indent(),
                  scale->contentsRect().width());
        EXPECT_EQ(limit->isEnabled(), c.limited);
        EXPECT_EQ(limitLabel->isEnabled(), c.limited);
    }
    choose(QStringLiteral("PNG"));
    convert->setChecked(false);
    EXPECT_EQ(scale->text(), T(text::kQualityScale));
    EXPECT_TRUE(limit->isEnabled());
}

TEST_F(WindowLayoutTest, TheOutOfRangeMarkNamesTheSetting) {
    // A setting is named by its page and its label, wherever the page keeps the label.
    const auto pages = buildSettingsPages();
    const auto name = [](int page, int label) {
        return readable(T(page)) + (label < 0 ? QString() : ": " + readable(T(label)));
    };
    const std::pair<const char*, QString> names[] = {
        {"commentText", name(text::kMetadata, text::kCommentText)},                  // form row
        {"overlayFontName", name(text::kOverlay, text::kChooseFont)},                // row widget
        {"outputDirPattern", name(text::kOutputDirectory, text::kDirectoryPattern)}, // row layout
        {"cropLeft", name(text::kCrop, text::kLeft)},                                // grid
        {"fileDateSource", name(text::kFileDates, text::kDateSource)}, // group of choices
        {"filterConditions", name(text::kFilter, -1)},                 // the page alone
        {"name", QString()},                                           // on no page
    };
    for (const auto& [field, expected] : names)
        EXPECT_EQ(settingName(pages, field).toStdString(), expected.toStdString()) << field;
    for (const auto& page : pages)
        delete page->widget;

    // The tooltip of the preview's red mark, through the window.
    m_context.workingSettings = m_context.presetList.presets[1]; // a text overlay
    loadAndWait(sampleFolder());
    window().imageView()->selectRow(0);
    window().pageList()->setCurrentRow(OverlayPage);
    QLabel* picture = window().livePreviewPanel()->pictureLabel();
    ASSERT_TRUE(waitUntil([&] { return !picture->pixmap().isNull(); }));
    EXPECT_TRUE(picture->toolTip().isEmpty());
    auto* font = qobject_cast<QLineEdit*>(controls()["overlayFontName"]);
    font->clear();
    const QString expected =
        T(text::kSettingOutOfRange) + QLatin1Char('\n') + name(text::kOverlay, text::kChooseFont);
    EXPECT_TRUE(waitUntil([&] { return picture->toolTip() == expected; }))
        << picture->toolTip().toStdString();
    font->setText(QStringLiteral("Arial"));
    EXPECT_TRUE(waitUntil([&] { return picture->toolTip().isEmpty(); }));
}

/// Pictures of every page in English, German and Russian with the live preview on show, for a
/// person to look at (tools/page_screenshots.sh).
TEST_F(WindowLayoutTest, Screenshots) {
    if (!qEnvironmentVariableIsSet("QUILL_SCREENSHOT_DIR")) GTEST_SKIP() << "no picture folder";
    const std::string folder = sampleFolder();
    for (const char* code : {"en", "de", "ru"}) {
        openIn(code);
        m_context.workingSettings.cropEnabled = m_context.workingSettings.resizeEnabled = 1;
        // The output page with a format whose quality scale ends in lossless.
        m_context.workingSettings.convertFormat = m_context.workingSettings.qualityEnabled = 1;
        m_context.workingSettings.outputFormat = settings::OutputFormat::Webp;
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

/// A dark palette of the kind desktop themes set, for pictures of the window in it.
QPalette darkPalette() {
    QPalette dark;
    const QColor window(45, 45, 48), base(30, 30, 32), text(225, 225, 225);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, window.lighter(120));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::Highlight, QColor(61, 174, 233));
    dark.setColor(QPalette::HighlightedText, QColor(20, 20, 20));
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(125, 125, 125));
    return dark;
}

/// Pictures of the keyboard focus on each page's first control, and on Start, in a light and
/// a dark palette, for a person to look at.
TEST_F(WindowLayoutTest, FocusScreenshots) {
    if (!qEnvironmentVariableIsSet("QUILL_SCREENSHOT_DIR")) GTEST_SKIP() << "no picture folder";
    const QPalette light = QApplication::palette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : light);
        openIn("en");
        window().activateWindow();
        const QString prefix = dark ? QStringLiteral("dark") : QStringLiteral("light");
        for (int page = 0; page < kPageCount; ++page) {
            window().pageList()->setCurrentRow(page);
            QWidget* content = window().pageWidget(page);
            QWidget* first = content->nextInFocusChain();
            while (first != content &&
                   !(first->isVisible() && first->isEnabled() &&
                     (first->focusPolicy() & Qt::TabFocus) && content->isAncestorOf(first)))
                first = first->nextInFocusChain();
            // As after a Tab key: the style draws focus only when it came from the keyboard.
            window().setAttribute(Qt::WA_KeyboardFocusChange);
            first->setFocus(Qt::TabFocusReason);
            screenshot(
                QStringLiteral("%1-focus%2.png").arg(prefix).arg(page, 2, 10, QLatin1Char('0')));
        }
        window().pageList()->setFocus(Qt::TabFocusReason);
        screenshot(QStringLiteral("%1-focus-pagelist.png").arg(prefix));
        for (QPushButton* button : window().centralWidget()->findChildren<QPushButton*>())
            if (button->text() == T(text::kStartButton)) button->setFocus(Qt::TabFocusReason);
        screenshot(QStringLiteral("%1-focus-start.png").arg(prefix));
    }
    QApplication::setPalette(light);
}

} // namespace
} // namespace quill::app::ui
