// The settings pages as a user reads them: a switch that is off greys out everything it
// governs, labels included; the quality says its scale; a setting is named by its page and
// label, and the live preview's red mark names the setting that is out of range.
#include "main_window_fixture.h"

#include "settings/ui_text_ids.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTableView>

#include <gtest/gtest.h>

#include <map>

namespace quill::app::ui {
namespace {

namespace text = settings::text;

QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// A text as a label reads: no mnemonic marker, no closing colon.
QString readable(QString text) {
    text.remove(QLatin1Char('&'));
    text = text.trimmed();
    if (text.endsWith(QLatin1Char(':'))) text.chop(1);
    return text.trimmed();
}

bool isControl(const QWidget* widget) {
    if (auto* label = qobject_cast<const QLabel*>(widget)) return !label->text().isEmpty();
    return qobject_cast<const QAbstractButton*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget) ||
           qobject_cast<const QComboBox*>(widget) || qobject_cast<const QLineEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QAbstractItemView*>(widget);
}

class SettingsPagesTest : public MainWindowFixture {
protected:
    /// The control bound to each field, over every page.
    std::map<std::string, QObject*> controls() {
        std::map<std::string, QObject*> found;
        for (const BindingTable* table : window().bindingTables())
            for (const auto& entry : table->entries())
                found.emplace(entry.field, entry.control);
        return found;
    }
};

// Each page with its switches turned off: every control it shows is greyed out but the switches,
// the title, general notes and the controls no switch governs.
TEST_F(SettingsPagesTest, ASwitchThatIsOffGreysOutEverythingItGoverns) {
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
        {9, {"commentEnabled"}, {"keepMetadata"}},
        {10, {"setFileDates"}, {"resetFileAttributes"}},
        {11, {"convertFormat", "qualityEnabled", "colorDepthEnabled"}, {}},
        {12, {"renameEnabled"}, {}},
        {13, {"outputDirEnabled"}, {}},
    };
    // Everything on first, so that every control has been enabled once.
    m_context.workingSettings = m_context.presetList.presets[1];
    const auto bound = controls();
    const auto control = [&](const std::string& field) -> QObject* {
        const auto it = bound.find(field);
        EXPECT_NE(it, bound.end()) << field;
        return it == bound.end() ? nullptr : it->second;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        window().pageList()->setCurrentRow(c.page);
        std::vector<QObject*> kept;
        for (const auto& field : c.switches) {
            QObject* on = control(field);
            if (auto* box = qobject_cast<QAbstractButton*>(on)) {
                box->setChecked(true);
                box->setChecked(false);
            } else if (auto* group = qobject_cast<QButtonGroup*>(on)) {
                group->button(1)->click(); // to a folder
                group->button(0)->click(); // replace the sources: no folder to choose
                for (QAbstractButton* button : group->buttons())
                    kept.push_back(button);
            }
            kept.push_back(on);
        }
        for (const auto& field : c.independent)
            kept.push_back(control(field));
        QCoreApplication::processEvents();
        QWidget* page = window().pageWidget(c.page);
        const QString title = window().pageList()->item(c.page)->text();
        QStringList enabled;
        for (QWidget* widget : page->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(page) || !isControl(widget) || !widget->isEnabled()) continue;
            if (std::find(kept.begin(), kept.end(), widget) != kept.end()) continue;
            bool inner = false;
            for (QWidget* up = widget->parentWidget(); up && up != page; up = up->parentWidget())
                inner = inner || isControl(up);
            if (inner) continue;
            const auto* label = qobject_cast<QLabel*>(widget);
            if (label && (label->text() == title || label->text() == T(text::kNeutralValue100)))
                continue;
            const auto* button = qobject_cast<QAbstractButton*>(widget);
            enabled << QStringLiteral("%1 \"%2\"")
                           .arg(QString::fromLatin1(widget->metaObject()->className()),
                                label    ? label->text()
                                : button ? button->text()
                                         : QString());
        }
        EXPECT_TRUE(enabled.isEmpty()) << enabled.join(QStringLiteral("; ")).toStdString();
    }
}

// The label of a form row follows its field back on, too.
TEST_F(SettingsPagesTest, AFieldsLabelFollowsItsSwitch) {
    auto* comment = qobject_cast<QAbstractButton*>(controls()["commentEnabled"]);
    auto* field = qobject_cast<QLineEdit*>(controls()["commentText"]);
    ASSERT_TRUE(comment && field);
    QLabel* label = nullptr;
    for (QLabel* candidate : window().pageWidget(9)->findChildren<QLabel*>())
        if (candidate->text() == T(text::kCommentText)) label = candidate;
    ASSERT_TRUE(label);
    for (const bool on : {false, true, false}) {
        comment->setChecked(on);
        EXPECT_EQ(field->isEnabled(), on);
        EXPECT_EQ(label->isEnabled(), on);
    }
}

TEST_F(SettingsPagesTest, TheQualitySaysItsScale) {
    auto* quality = qobject_cast<QAbstractButton*>(controls()["qualityEnabled"]);
    auto* value = qobject_cast<QSpinBox*>(controls()["quality"]);
    ASSERT_TRUE(quality && value);
    EXPECT_EQ(value->minimum(), 1);
    EXPECT_EQ(value->maximum(), 10);
    window().pageList()->setCurrentRow(11);
    QLabel* scale = nullptr;
    for (QLabel* label : window().pageWidget(11)->findChildren<QLabel*>())
        if (label->text() == T(text::kQualityScale)) scale = label;
    ASSERT_TRUE(scale);
    EXPECT_TRUE(scale->isVisible());
    // Under the value's row, before the next one, and read whole.
    auto* depth = qobject_cast<QWidget*>(controls()["colorDepthEnabled"]);
    ASSERT_TRUE(depth);
    QWidget* page = window().pageWidget(11);
    const int scaleTop = scale->mapTo(page, QPoint(0, 0)).y();
    EXPECT_GE(scaleTop, value->mapTo(page, QPoint(0, value->height())).y());
    EXPECT_LE(scaleTop + scale->height(), depth->mapTo(page, QPoint(0, 0)).y());
    EXPECT_LE(scale->fontMetrics().horizontalAdvance(scale->text()) + scale->indent(),
              scale->contentsRect().width());
    for (const bool on : {true, false}) {
        quality->setChecked(on);
        EXPECT_EQ(scale->isEnabled(), on);
    }
}

TEST(SettingName, PageTitleAndTheControlsLabel) {
    const auto pages = buildSettingsPages();
    const auto name = [](int page, int label) {
        return label < 0 ? readable(T(page)) : readable(T(page)) + ": " + readable(T(label));
    };
    const std::pair<const char*, QString> cases[] = {
        {"commentText", name(text::kMetadata, text::kCommentText)},                  // form row
        {"overlayFontName", name(text::kOverlay, text::kChooseFont)},                // row widget
        {"outputDirPattern", name(text::kOutputDirectory, text::kDirectoryPattern)}, // row layout
        {"trimColorTolerance", name(text::kCrop, text::kColourTolerance)}, // form in a group
        {"cropLeft", name(text::kCrop, text::kLeft)},                      // grid label
        {"quality", name(text::kOutputFormat, text::kSetQuality)},         // grid switch
        {"fileDateSource", name(text::kFileDates, text::kDateSource)},     // group of choices
        {"commentEnabled", name(text::kMetadata, text::kWriteComment)},    // the button itself
        {"filterConditions", name(text::kFilter, -1)},                     // the page alone
        {"name", QString()},                                               // on no page
    };
    for (const auto& [field, expected] : cases)
        EXPECT_EQ(settingName(pages, field).toStdString(), expected.toStdString()) << field;
    for (const auto& page : pages)
        delete page->widget;
}

// The red mark of settings out of range names the setting in its tooltip.
TEST_F(SettingsPagesTest, TheOutOfRangeMarkNamesTheSetting) {
    m_context.workingSettings = m_context.presetList.presets[1]; // with a text overlay
    m_context.workingSettings.overlayEnabled = 1;
    m_context.workingSettings.overlayKind = settings::OverlayKind::Text;
    loadAndWait(sampleFolder());
    window().imageView()->selectRow(0);
    window().pageList()->setCurrentRow(OverlayPage);
    QLabel* picture = window().livePreviewPanel()->pictureLabel();
    ASSERT_TRUE(waitUntil([&] { return !picture->pixmap().isNull(); }));
    EXPECT_TRUE(picture->toolTip().isEmpty());
    qobject_cast<QLineEdit*>(controls()["overlayFontName"])->clear();
    const QString expected = T(text::kSettingOutOfRange) + QLatin1Char('\n') +
                             readable(T(text::kOverlay)) + ": " + readable(T(text::kChooseFont));
    EXPECT_TRUE(waitUntil([&] { return picture->toolTip() == expected; }))
        << picture->toolTip().toStdString();
    qobject_cast<QLineEdit*>(controls()["overlayFontName"])->setText(QStringLiteral("Arial"));
    EXPECT_TRUE(waitUntil([&] { return picture->toolTip().isEmpty(); }));
}

} // namespace
} // namespace quill::app::ui
