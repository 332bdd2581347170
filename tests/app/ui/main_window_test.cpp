// The main window through its real widgets: loading the list, every settings control reaching the
// working settings and the saved presets, preset switches, runs, the preview popup and bad
// input. The language switch is tested with the language layouts.
#include "main_window_fixture.h"

#include "app/startup.h"
#include "app/ui/color_button.h"
#include "app/ui/filter_table.h"
#include "app/ui/path_drop_handler.h"
#include "app/ui/preview/presets_window.h"
#include "app/ui/preview/preview_popup.h"
#include "app/ui/several_presets_dialog.h"
#include "batch/ui/progress_window.h"
#include "batch/ui/result_window.h"
#include "imagefiles/image_loader.h"
#include "settings/language_pack.h"
#include "settings/preset_fields.h"
#include "settings/setting_files.h"
#include "settings/ui_text_ids.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <utility>

namespace quill::app::ui {
namespace {

using settings::Preset;

using Field = settings::FieldDescription<Preset>;

bool sameField(const Preset& a, const Preset& b, const Field& field) {
    if (field.isNumber()) return field.number(a) == field.number(b);
    if (field.isText()) return a.*field.text == b.*field.text;
    return a.filterConditions == b.filterConditions;
}

const Field& fieldNamed(const std::string& name) {
    const auto fields = settings::presetFields();
    return *std::find_if(fields.begin(), fields.end(),
                         [&](const Field& field) { return name == field.name; });
}

/// Names of the fields in which two records differ.
std::set<std::string> differingFields(const Preset& a, const Preset& b) {
    std::set<std::string> names;
    for (const auto& field : settings::presetFields())
        if (!sameField(a, b, field)) names.insert(field.name);
    return names;
}

class MainWindowTest : public MainWindowFixture {};

/// Gives a control another value, as a user would; false for a control it does not know.
bool editControl(QObject* control) {
    if (auto* colour = qobject_cast<ColorButton*>(control)) {
        colour->setColour(colour->colour() ^ 0x102030u);
    } else if (auto* box = qobject_cast<QAbstractButton*>(control)) {
        box->setChecked(!box->isChecked());
    } else if (auto* action = qobject_cast<QAction*>(control)) {
        action->setChecked(!action->isChecked());
    } else if (auto* group = qobject_cast<QButtonGroup*>(control)) {
        for (auto* button : group->buttons()) {
            if (group->id(button) != group->checkedId()) {
                button->setChecked(true);
                break;
            }
        }
    } else if (auto* spin = qobject_cast<QSpinBox*>(control)) {
        spin->setValue(spin->value() < spin->maximum() ? spin->value() + 1 : spin->value() - 1);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->setCurrentIndex((combo->currentIndex() + 1) % combo->count());
    } else if (auto* line = qobject_cast<QLineEdit*>(control)) {
        line->setText(line->text() + QStringLiteral("x"));
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(control)) {
        text->setPlainText(text->toPlainText() + QStringLiteral("\nline"));
    } else if (auto* date = qobject_cast<QDateTimeEdit*>(control)) {
        date->setDateTime(QDateTime(QDate(2021, 5, 6), QTime(7, 8, 9), Qt::UTC));
    } else if (auto* filter = qobject_cast<FilterTable*>(control)) {
        filter->addCondition();
    } else if (auto* pages = qobject_cast<QListWidget*>(control)) {
        pages->setCurrentRow((pages->currentRow() + 1) % pages->count());
    } else {
        return false;
    }
    return true;
}

/// The rows of the list view that are selected, in row order.
std::vector<int> selectedRows(MainWindow& window) {
    std::vector<int> rows;
    for (const QModelIndex& index : window.imageView()->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

TEST_F(MainWindowTest, PathArgumentsFillTheListAndSelectTheFirstRow) {
    const std::string folder = sampleFolder();
    test::writeText(folder + "notes.txt", "not an image");
    m_context.pathArguments = {folder, m_dir.path() + "missing.jpg"};
    window().loadPathArguments();
    ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));

    auto& model = window().model();
    ASSERT_EQ(model.rowCount(), 3);
    std::set<QString> names;
    for (int row = 0; row < 3; ++row)
        names.insert(model.index(row, 0).data().toString());
    EXPECT_EQ(names, (std::set<QString>{"chart.bmp", "harbour.jpg", "logo.png"}));
    EXPECT_EQ(m_images.size(), 3u);
    EXPECT_EQ(selectedRows(window()), std::vector<int>{0});
}

TEST_F(MainWindowTest, EachControlReachesTheWorkingSettingsAndTheSavedFile) {
    std::set<std::string> bound;
    for (const auto* table : window().bindingTables()) {
        for (const auto& entry : table->entries()) {
            SCOPED_TRACE(entry.field);
            bound.insert(entry.field);
            const Preset before = m_context.workingSettings;
            ASSERT_TRUE(editControl(entry.control));
            QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);
            EXPECT_EQ(differingFields(before, m_context.workingSettings),
                      std::set<std::string>{entry.field});
            settings::PresetList saved;
            (void)settings::readPresets(m_context.presetsFilePath, saved);
            ASSERT_EQ(saved.presets.size(), 6u);
            EXPECT_TRUE(
                sameField(saved.presets[0], m_context.workingSettings, fieldNamed(entry.field)));
        }
    }
    for (const auto& field : settings::presetFields()) {
        // The index and the name belong to the preset list, not to the pages.
        if (std::string_view(field.name) == "index" || std::string_view(field.name) == "name")
            continue;
        EXPECT_TRUE(bound.count(field.name)) << field.name << " has no control";
    }
    EXPECT_TRUE(m_questions.asked.empty());
}

TEST_F(MainWindowTest, OddValuesSurviveTheControls) {
    const std::pair<const char*, void (*)(Preset&)> cases[] = {
        {"line feed without carriage return", [](Preset& p) { p.overlayText = "a\nb\r\nc"; }},
        {"bytes that are not UTF-8", [](Preset& p) { p.renamePattern = "n\xff\xfe%FN%"; }},
        {"fixed date 0, shown as now", [](Preset& p) { p.fixedFileDate = 0; }},
        {"condition with unknown bits",
         [](Preset& p) {
             p.filterConditions = {{0x40 | settings::kConditionActive, 4, 3, "640", 1},
                                   {0, 1, 6, "IMG_\xff*", 2}};
         }},
        {"extreme numbers",
         [](Preset& p) {
             p.overlayLineSpacing = -100;
             p.fileDateShiftMinutes = -9999;
             p.selectedPage = 13;
         }},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        Preset odd = m_context.presetList.presets[3];
        change(odd);
        // A stale value in between, which the controls must replace.
        m_context.workingSettings = Preset{};
        m_context.workingSettings.overlayText = "x";
        window().settingsToControls();
        m_context.workingSettings = odd;
        window().settingsToControls();
        window().controlsToSettings();
        EXPECT_EQ(differingFields(odd, m_context.workingSettings), std::set<std::string>{});
    }
}

TEST_F(MainWindowTest, ShortcutsAndThePresetMenuSwitchPresets) {
    QTest::keyClick(&window(), Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(m_context.currentPreset, 2);
    EXPECT_EQ(m_context.workingSettings, m_context.presetList.presets[2]);
    window().menuItem(MenuCommand::FirstPreset + 4)->trigger();
    EXPECT_EQ(m_context.workingSettings, m_context.presetList.presets[4]);
    // A preset that does not exist falls back to preset 0.
    QTest::keyClick(&window(), Qt::Key_9, Qt::ControlModifier);
    EXPECT_EQ(m_context.currentPreset, 0);
    EXPECT_TRUE(window().menuItem(MenuCommand::FirstPreset)->isChecked());
}

/// Runs `act` on the next modal window of type W once it is on screen, as a user would.
template <class W, class Act> void onNextModal(Act act) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto* modal = qobject_cast<W*>(QApplication::activeModalWidget());
        if (!modal || !modal->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        act(modal);
    });
    poll->start(10);
}

/// Opens the presets window through its menu item, lets `act` work in it, and closes it with OK.
template <class Act> void inPresetsWindow(MainWindow& window, Act act) {
    onNextModal<PresetsWindow>([act](PresetsWindow* presets) {
        act(*presets);
        presets->accept();
    });
    window.menuItem(MenuCommand::ManagePresets)->trigger();
    QCoreApplication::processEvents(); // the rebuild after the window closed
    // A window manager gives the focus back to the main window; the offscreen platform does not.
    QApplication::setActiveWindow(&window);
}

class PresetSaveTest : public MainWindowFixture {
protected:
    /// The Presets file as the next start would read it.
    settings::PresetList stored() {
        settings::PresetList list;
        (void)settings::readPresets(m_context.presetsFilePath, list);
        return list;
    }
    /// Gives the working settings a value that no default preset has, through the controls.
    void edit(int width) {
        m_context.workingSettings.resizeWidth = std::int16_t(width);
        window().settingsToControls();
    }
    [[nodiscard]] int checkedPresetItem() {
        for (int i = 0; i < 10; ++i)
            if (QAction* item = window().menuItem(MenuCommand::FirstPreset + i);
                item && item->isChecked())
                return i;
        return -1;
    }
    [[nodiscard]] bool saysNoPreset() {
        const QString note = T(settings::text::kSettingsInNoPreset);
        bool shown = false;
        for (const QLabel* label : window().statusBar()->findChildren<QLabel*>())
            shown = shown || (label->isVisible() && label->text() == note);
        EXPECT_EQ(shown, window().windowTitle().endsWith(note)) << "title and status bar agree";
        return shown;
    }
};

TEST_F(PresetSaveTest, CtrlSAfterMovingPresetsSavesIntoThePresetTheUserChose) {
    struct Case {
        const char* name;
        int row; ///< the row moved in the presets window (row r shows preset r + 1)
        bool up;
        int position; ///< where the chosen preset ends up
    };
    const Case cases[] = {
        {"the chosen one moved up", 2, true, 2},
        {"its neighbour moved down", 1, false, 2},
        {"others moved", 3, false, 3},
    };
    const settings::PresetList defaults = settings::defaultPresetList();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_window.reset();
        (void)platform::deleteFile(m_context.presetsFilePath);
        settings::buildDefaults(m_context.presetList);
        QTest::keyClick(&window(), Qt::Key_3, Qt::ControlModifier);
        const std::string chosen = m_context.presetList.presets[3].name;
        edit(1234);
        inPresetsWindow(window(), [&](PresetsWindow& presets) {
            presets.presetList()->setCurrentRow(c.row);
            (c.up ? presets.upButton() : presets.downButton())->click();
        });
        EXPECT_EQ(checkedPresetItem(), c.position);
        EXPECT_FALSE(saysNoPreset());

        QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);
        const settings::PresetList list = stored();
        ASSERT_EQ(list.presets.size(), defaults.presets.size());
        EXPECT_EQ(list.presets[std::size_t(c.position)].name, chosen);
        EXPECT_EQ(list.presets[std::size_t(c.position)].resizeWidth, 1234);
        // Every other preset is as it was, in its new place.
        for (const settings::Preset& preset : list.presets) {
            if (preset.name == chosen) continue;
            for (settings::Preset before : defaults.presets) {
                if (before.name != preset.name) continue;
                before.index = preset.index;
                EXPECT_EQ(preset, before) << preset.name;
            }
        }
    }
}

// A reset leaves the settings in no preset just as a delete does (see the presets window test).
TEST_F(PresetSaveTest, CtrlSAfterTheChosenPresetWasDeletedSavesAsANewPreset) {
    QTest::keyClick(&window(), Qt::Key_5, Qt::ControlModifier);
    edit(1234);
    m_questions.answer = toolkit::qt::Answer::Yes;
    inPresetsWindow(window(), [&](PresetsWindow& presets) {
        presets.presetList()->setCurrentRow(presets.presetList()->count() - 1);
        presets.deleteButton()->click();
    });
    // The settings stay, and the window says that they belong to no preset.
    EXPECT_EQ(m_context.workingSettings.resizeWidth, 1234);
    EXPECT_EQ(checkedPresetItem(), -1);
    EXPECT_TRUE(saysNoPreset());

    // Ctrl+S asks for a name and stores them as a new preset, which they then belong to.
    onNextModal<QInputDialog>([](QInputDialog* box) {
        box->setTextValue(QStringLiteral("Kept"));
        box->accept();
    });
    QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);
    QCoreApplication::processEvents();
    QApplication::setActiveWindow(&window());
    settings::PresetList list = stored();
    ASSERT_EQ(list.presets.size(), 6u);
    EXPECT_EQ(list.presets.back().name, "Kept");
    EXPECT_EQ(list.presets.back().resizeWidth, 1234);
    EXPECT_EQ(checkedPresetItem(), 5);
    EXPECT_FALSE(saysNoPreset());

    // The next Ctrl+S goes straight into it.
    edit(1300);
    QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);
    list = stored();
    ASSERT_EQ(list.presets.size(), 6u);
    EXPECT_EQ(list.presets.back().resizeWidth, 1300);
}

/// Pictures of the presets window with a selected row and its delete question, and of the main
/// window whose settings belong to no preset, for a person to look at.
TEST_F(PresetSaveTest, Screenshots) {
    if (!qEnvironmentVariableIsSet("QUILL_SCREENSHOT_DIR")) GTEST_SKIP() << "no picture folder";
    const QString folder = qEnvironmentVariable("QUILL_SCREENSHOT_DIR") + "/";
    loadAndWait(sampleFolder());
    QTest::keyClick(&window(), Qt::Key_3, Qt::ControlModifier);
    {
        // With the real question box, on a copy of the presets.
        settings::PresetList list = m_context.presetList;
        int current = m_context.currentPreset;
        PresetsWindow presets({list,
                               m_context.workingSettings,
                               current,
                               m_dir.file("copy"),
                               toolkit::qt::dialogQuestions(),
                               [] {},
                               {},
                               {}},
                              PresetsWindowMode::Manage, &window());
        presets.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&presets));
        presets.presetList()->setCurrentRow(2);
        presets.deleteButton()->setFocus(); // the selection shows without the list's focus
        QTest::qWait(200);
        EXPECT_TRUE(presets.grab().save(folder + "presets-selected.png"));
        onNextModal<QMessageBox>([&](QMessageBox* box) {
            QTest::qWait(200);
            EXPECT_TRUE(box->grab().save(folder + "presets-delete-question.png"));
            QTest::keyClick(box, Qt::Key_Return); // No
        });
        presets.deleteButton()->click();
        EXPECT_EQ(presets.presetList()->count(), 5);
        presets.accept();
    }
    m_questions.answer = toolkit::qt::Answer::Yes;
    inPresetsWindow(window(), [](PresetsWindow& presets) {
        presets.presetList()->setCurrentRow(2);
        presets.deleteButton()->click();
    });
    screenshot(QStringLiteral("no-preset.png"));
    EXPECT_TRUE(busyPicture(window().palette().color(QPalette::ToolTipBase))
                    .save(folder + QStringLiteral("busy.png")));
}

// A "%" in a preset's name stays text in its menu item, beside the digit and the shortcut.
TEST_F(MainWindowTest, APercentSignInAPresetNameStaysTextInItsMenuItem) {
    m_context.presetList.presets[3].name = "50%1 %2 x";
    EXPECT_EQ(window().menuItem(MenuCommand::FirstPreset + 3)->text().toStdString(),
              (QStringLiteral("&3  50%1 %2 x\t") + T(settings::text::kCtrl) + QStringLiteral("+3"))
                  .toStdString());
}

// A page shows its row in bold while any of its steps is on: on the Colours page each of the
// five switches counts.
TEST_F(MainWindowTest, TheColoursRowIsBoldWhileAnyOfItsStepsIsOn) {
    using namespace settings::text;
    const int switches[] = {kEnableBrightness, kEnableSaturation, kEnableContrast, kEnableGamma,
                            kEnableChannelOffsets};
    QListWidgetItem* row = window().pageList()->item(5);
    ASSERT_EQ(row->text(), T(kColoursPage));
    std::vector<QCheckBox*> boxes;
    for (QCheckBox* box : window().findChildren<QCheckBox*>())
        for (int text : switches)
            if (box->text() == T(text)) boxes.push_back(box);
    ASSERT_EQ(boxes.size(), std::size(switches));
    for (QCheckBox* box : boxes)
        box->setChecked(false);
    EXPECT_FALSE(row->font().bold());
    for (QCheckBox* box : boxes) {
        SCOPED_TRACE(box->text().toStdString());
        box->setChecked(true);
        EXPECT_TRUE(row->font().bold());
        box->setChecked(false);
        EXPECT_FALSE(row->font().bold());
    }
    // Other pages still follow their one switch.
    EXPECT_EQ(window().pageList()->item(2)->font().bold(),
              m_context.workingSettings.cropEnabled != 0);
}

TEST_F(MainWindowTest, BadInputNeverTakesTheWindowDown) {
    const std::string folder = sampleFolder();
    // Dropped text that is not a path adds nothing; dropped files are added.
    const auto drop = [&](QMimeData* data) {
        QWidget* target = window().imageView()->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &event);
        ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));
    };
    QMimeData words;
    words.setText("holiday pictures, see https://example.org\n");
    drop(&words);
    EXPECT_EQ(window().model().rowCount(), 0);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder + "logo.png")),
                   QUrl("https://example.org/a.jpg")});
    drop(&files);
    ASSERT_EQ(window().model().rowCount(), 1) << m_images.size();

    // A listed file that vanished or is damaged only lacks its details.
    window().menuItem(MenuCommand::ScanImageDetails)->trigger(); // scanning off
    test::writeText(folder + "broken.jpg", "not really a JPEG");
    loadAndWait(folder);
    EXPECT_EQ(window().model().rowCount(), 4);
    std::filesystem::remove(folder + "chart.bmp");
    window().menuItem(MenuCommand::ScanImageDetails)->trigger(); // scanning on
    ASSERT_TRUE(waitUntil([&] { return !window().scanner().running(); }));
    const auto& rows = window().model().rows();
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](auto& r) { return r.width > 0; }), 2);

    // Removing and clearing keep the list and the view in step.
    window().imageView()->selectionModel()->select(window().model().index(0, 0),
                                                   QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
    window().removeSelected();
    EXPECT_EQ(window().model().rowCount(), 3);
    EXPECT_EQ(m_images.size(), 3u);
    m_questions.answer = toolkit::qt::Answer::Yes;
    window().clearList();
    EXPECT_EQ(window().model().rowCount(), 0);
    EXPECT_TRUE(m_images.empty());

    // A settings file that cannot be written gives a clear box.
    test::writeText(m_dir.path() + "blocker", "a file where a folder should be");
    m_context.presetsFilePath = m_dir.path() + "blocker/Presets";
    m_questions.asked.clear();
    window().save();
    ASSERT_EQ(m_questions.asked.size(), 1u);
    EXPECT_EQ(m_questions.asked[0].kind, toolkit::qt::BoxKind::Critical);
    EXPECT_TRUE(
        m_questions.asked[0].text.contains(QString::fromStdString(m_context.presetsFilePath)));
}

// A preset file that could not be read at start-up may hold the user's presets: a box says so
// once the window is up, and nothing writes over the file, neither Ctrl+S nor the presets
// window, which would write it when it closes.
TEST_F(MainWindowTest, APresetFileThatCouldNotBeReadIsSaidAndNeverWrittenOver) {
    const std::string stored = "the user's presets, unread";
    test::writeText(m_context.presetsFilePath, stored);
    m_context.presetsUnreadable = true;
    const QString unreadable = T(settings::text::kPresetsUnreadable);
    window();
    ASSERT_TRUE(waitUntil([&] { return !m_questions.asked.empty(); }));
    EXPECT_EQ(m_questions.asked[0].kind, toolkit::qt::BoxKind::Warning);
    EXPECT_TRUE(m_questions.asked[0].text.startsWith(unreadable))
        << m_questions.asked[0].text.toStdString();

    // A window that opens anyway is closed again, so that the test fails rather than waits.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    closer.start(100);
    QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);
    window().showPresetsWindow(PresetsWindowMode::Manage);
    window().showPresetsWindow(PresetsWindowMode::SaveAsNew);
    ASSERT_EQ(m_questions.asked.size(), 4u);
    for (const auto& box : m_questions.asked)
        EXPECT_TRUE(box.text.startsWith(unreadable)) << box.text.toStdString();
    const auto bytes = test::readBytes(m_context.presetsFilePath);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), stored);
}

TEST_F(MainWindowTest, ExitAsksOnlyWhenTheListHoldsImages) {
    loadAndWait(sampleFolder());
    window().close(); // answered No
    ASSERT_EQ(m_questions.asked.size(), 1u);
    EXPECT_EQ(m_questions.asked[0].text, T(426));
    EXPECT_TRUE(window().isVisible());
    // With an empty list the program ends without asking.
    m_questions.answer = toolkit::qt::Answer::Yes;
    window().clearList(); // asks
    window().requestExit();
    ASSERT_EQ(m_questions.asked.size(), 2u);
    // Clearing the list throws the user's gathering away: Enter must not do it.
    EXPECT_EQ(m_questions.asked[1].kind, toolkit::qt::BoxKind::DestructiveQuestion);
    EXPECT_FALSE(window().isVisible());
}

/// The control bound to a settings field.
QObject* controlOf(MainWindow& window, const std::string& field) {
    for (const BindingTable* table : window.bindingTables())
        for (const auto& entry : table->entries())
            if (entry.field == field) return entry.control;
    return nullptr;
}

// The title names the preset and marks unsaved settings; Ctrl+S confirms in the status bar;
// leaving with unsaved settings asks to save them: Yes saves, No leaves them, Cancel stays.
TEST_F(MainWindowTest, UnsavedSettingsAreMarkedAndAskedForOnExit) {
    const auto title = [&] { return window().windowTitle(); };
    const auto unsavedShown = [&] { return title().endsWith(QStringLiteral("*")); };
    // No default preset counts as changed just by being shown in the controls.
    for (int preset = 0; preset < int(m_context.presetList.presets.size()); ++preset) {
        window().selectPreset(preset);
        QCoreApplication::processEvents();
        EXPECT_FALSE(window().hasUnsavedChanges()) << "preset " << preset;
    }
    window().selectPreset(2);
    const QString name = QString::fromStdString(m_context.presetList.presets[2].name);
    ASSERT_TRUE(waitUntil([&] { return title().endsWith(QStringLiteral(" - ") + name); }))
        << title().toStdString();
    // Looking at another page is not a change.
    window().pageList()->setCurrentRow(5);
    QTest::qWait(200);
    EXPECT_FALSE(unsavedShown());

    auto* width = qobject_cast<QSpinBox*>(controlOf(window(), "resizeWidth"));
    ASSERT_NE(width, nullptr);
    width->setValue(width->value() + 7);
    ASSERT_TRUE(waitUntil(unsavedShown)) << title().toStdString();

    QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(window().statusBar()->currentMessage(), T(settings::text::kSavedToPreset).arg(name));
    ASSERT_TRUE(waitUntil([&] { return !unsavedShown(); }));

    struct Case {
        const char* name;
        toolkit::qt::Answer answer;
        bool stays;
        bool saved;
    };
    const Case cases[] = {
        {"cancel", toolkit::qt::Answer::Cancel, true, false},
        {"no", toolkit::qt::Answer::No, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        width->setValue(width->value() + 1);
        const int changed = width->value();
        m_questions.asked.clear();
        m_questions.next = {c.answer};
        window().requestExit(); // the list is empty: only the save question
        ASSERT_EQ(m_questions.asked.size(), 1u);
        EXPECT_EQ(m_questions.asked[0].kind, toolkit::qt::BoxKind::SaveQuestion);
        EXPECT_EQ(m_questions.asked[0].text, T(settings::text::kSaveChangesToPreset).arg(name));
        EXPECT_EQ(window().isVisible(), c.stays);
        settings::PresetList stored;
        ASSERT_EQ(settings::readPresets(m_context.presetsFilePath, stored),
                  settings::PresetsRead::Loaded);
        EXPECT_EQ(stored.presets[2].resizeWidth == changed, c.saved);
    }
}

TEST_F(MainWindowTest, ExitWithUnsavedSettingsAnsweredYesSavesThemFirst) {
    window().selectPreset(3);
    auto* width = qobject_cast<QSpinBox*>(controlOf(window(), "resizeWidth"));
    ASSERT_NE(width, nullptr);
    width->setValue(width->value() + 3);
    m_questions.next = {toolkit::qt::Answer::Yes};
    window().requestExit();
    EXPECT_FALSE(window().isVisible());
    settings::PresetList stored;
    ASSERT_EQ(settings::readPresets(m_context.presetsFilePath, stored),
              settings::PresetsRead::Loaded);
    EXPECT_EQ(stored.presets[3].resizeWidth, width->value());
}

// A header click sorts the image list itself (the order the run numbers in), a second click
// reverses it; the selection stays on its image through sorts, preset switches that rebuild the
// window and the presets window; the header says when the preset's own sorting takes over.
TEST_F(MainWindowTest, HeaderSortsTheListItselfAndTheSelectionStaysOnItsImage) {
    loadAndWait(sampleFolder()); // chart.bmp 1.4 MB, harbour.jpg, logo.png: sizes differ
    const auto names = [&] {
        std::vector<std::string> order;
        for (const auto& record : m_images.records())
            order.push_back(record.sourcePath.substr(record.folder.size()));
        return order;
    };
    const auto sizes = [&] {
        std::vector<std::int64_t> order;
        for (const auto& record : m_images.records())
            order.push_back(record.fileSize);
        return order;
    };
    window().imageView()->selectRow(1);
    const std::string selected = names()[1];
    const auto selectedName = [&] {
        const auto rows = selectedRows(window());
        EXPECT_EQ(rows.size(), 1u);
        return rows.empty() ? std::string() : window().model().row(rows[0]).name.toStdString();
    };
    auto* header = window().imageView()->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(ImageListModel::SizeColumn) + 5, 5));
    const auto ascending = sizes();
    EXPECT_TRUE(std::is_sorted(ascending.begin(), ascending.end()));
    EXPECT_EQ(selectedName(), selected);
    window().sortListBy(ImageListModel::SizeColumn);
    const auto descending = sizes();
    EXPECT_TRUE(std::is_sorted(descending.rbegin(), descending.rend()));
    window().sortListBy(ImageListModel::NameColumn);
    EXPECT_EQ(names(), (std::vector<std::string>{"chart.bmp", "harbour.jpg", "logo.png"}));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(window().model().row(row).name.toStdString(), names()[std::size_t(row)]);
    EXPECT_EQ(selectedName(), selected);

    // A preset whose list display differs rebuilds the window.
    int other = -1;
    for (std::size_t p = 0; p < m_context.presetList.presets.size(); ++p)
        if (m_context.presetList.presets[p].listDisplayOption !=
            m_context.workingSettings.listDisplayOption)
            other = int(p);
    if (other >= 0) {
        window().selectPreset(other);
        QCoreApplication::processEvents();
        EXPECT_EQ(selectedName(), selected) << "after the switch to preset " << other;
    }
    inPresetsWindow(window(), [](PresetsWindow&) {});
    EXPECT_EQ(selectedName(), selected) << "after the presets window";

    const auto hint = [&] {
        return window().model().headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString();
    };
    m_context.workingSettings.sortEnabled = 0;
    window().settingsToControls();
    ASSERT_TRUE(waitUntil([&] { return hint() == T(settings::text::kListOrderHint); }));
    m_context.workingSettings.sortEnabled = 1;
    window().settingsToControls();
    ASSERT_TRUE(waitUntil([&] { return hint() == T(settings::text::kPresetSortsItself); }));
}

// The file dialogs open in the user's Pictures folder (else the home folder), then where the
// user last took images from.
TEST_F(MainWindowTest, AddDialogsStartInTheLastFolderUsed) {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    EXPECT_EQ(window().dialogStartFolder(),
              QFileInfo(pictures).isDir() ? pictures : QDir::homePath());
    const QString folder = QString::fromStdString(sampleFolder()).chopped(1);
    QString openedIn;
    onNextModal<QFileDialog>([&](QFileDialog* dialog) {
        openedIn = dialog->directory().absolutePath();
        dialog->setDirectory(folder);
        dialog->selectFile(folder);
        static_cast<QDialog*>(dialog)->accept(); // as the Choose button does
    });
    const QString first = window().dialogStartFolder();
    window().addFolderDialog();
    EXPECT_EQ(openedIn, QDir(first).absolutePath());
    ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));
    EXPECT_EQ(window().dialogStartFolder(), folder);
    onNextModal<QFileDialog>([&](QFileDialog* dialog) {
        openedIn = dialog->directory().absolutePath();
        dialog->reject();
    });
    window().addFilesDialog();
    EXPECT_EQ(openedIn, folder);
}

// The run itself and its keep options are tested with the window run.
/// The run's summary window while it is shown, else null.
QWidget* visibleSummary() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "summaryWindow" && top->isVisible()) return top;
    return nullptr;
}

TEST_F(MainWindowTest, F5RunsTheBatchAndTheListFollowsTheKeepList) {
    const std::string out = m_dir.path() + "run/";
    m_context.workingSettings.outputDirPattern = out;
    m_context.workingSettings.scanImageDetails = 0;
    m_context.workingSettings.loadOutputImages = 1; // the outputs replace the sources in the list
    window().settingsToControls();
    loadAndWait(sampleFolder());
    QTest::keyClick(&window(), Qt::Key_F5);
    // Nothing failed: the summary says so, and the list is refilled once it is closed.
    QWidget* summary = nullptr;
    ASSERT_TRUE(waitUntil([&] { return (summary = visibleSummary()) != nullptr; }, 60000));
    QTest::keyClick(summary, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil(
        [&] {
            return m_flags.runActive.load() == 0 && window().model().rowCount() == 3 &&
                   window().model().row(0).folder == QString::fromStdString(out);
        },
        60000));
    EXPECT_EQ(m_images.size(), 3u);
    EXPECT_TRUE(platform::fileExists(out + "logo.jpg"));
    EXPECT_TRUE(m_questions.asked.empty());
}

/// Opens the several-presets dialog from the File menu and, once it shows, lets `answer` work
/// on it.
void inSeveralPresetsDialog(MainWindow& window,
                            const std::function<void(SeveralPresetsDialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        ASSERT_TRUE(waitUntil(
            [] { return qobject_cast<SeveralPresetsDialog*>(QApplication::activeModalWidget()); }));
        answer(*qobject_cast<SeveralPresetsDialog*>(QApplication::activeModalWidget()));
    });
    window.menuItem(MenuCommand::RunSeveralPresets)->trigger();
}

TEST_F(MainWindowTest, SeveralPresetsRunInTurnFromTheFileMenu) {
    const std::string out = m_dir.path() + "several/";
    for (int i : {1, 2, 3}) {
        Preset& p = m_context.presetList.presets[std::size_t(i)];
        p.outputDirEnabled = 1;
        p.moveOriginal = i == 1;
        p.renameEnabled = 0;
        p.loadOutputImages = 1;
        p.scanImageDetails = 0;
        p.outputDirPattern = out + std::to_string(i) + "/";
    }
    m_context.workingSettings.scanImageDetails = 0;
    window().settingsToControls();
    loadAndWait(sampleFolder());

    // The moving preset before another is refused with a box; nothing runs.
    inSeveralPresetsDialog(window(), [](SeveralPresetsDialog& dialog) {
        dialog.box(0)->setChecked(false);
        dialog.box(1)->setChecked(true);
        dialog.box(3)->setChecked(true);
        EXPECT_EQ(dialog.chosen(), (std::vector<int>{1, 3}));
        dialog.accept();
    });
    ASSERT_EQ(m_questions.asked.size(), 1u);
    EXPECT_FALSE(platform::fileExists(out));

    // Nothing ticked: OK cannot be pressed.
    inSeveralPresetsDialog(window(), [](SeveralPresetsDialog& dialog) {
        dialog.box(0)->setChecked(false);
        EXPECT_FALSE(
            dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
        dialog.reject();
    });

    // Presets 2 and 3 run one after the other over the same three images; each summary is
    // closed in turn.
    inSeveralPresetsDialog(window(), [](SeveralPresetsDialog& dialog) {
        dialog.box(0)->setChecked(false);
        dialog.box(2)->setChecked(true);
        dialog.box(3)->setChecked(true);
        dialog.accept();
    });
    for (int run = 0; run < 2; ++run) {
        QWidget* summary = nullptr;
        ASSERT_TRUE(waitUntil([&] { return (summary = visibleSummary()) != nullptr; }, 60000))
            << run;
        QTest::keyClick(summary, Qt::Key_Escape);
        ASSERT_TRUE(waitUntil([&] { return !summary->isVisible(); }));
    }
    ASSERT_TRUE(waitUntil([&] { return m_flags.runActive.load() == 0 && window().isVisible(); }));
    for (const char* folder : {"2/", "3/"})
        for (const char* name : {"chart.bmp", "harbour.jpg", "logo.png"})
            EXPECT_TRUE(platform::fileExists(out + folder + name)) << folder << name;
    // The last run's outputs fill the list: the second run started from the sources, not from
    // the first run's outputs.
    ASSERT_EQ(m_images.size(), 3u);
    EXPECT_EQ(m_images[0].folder, out + "3/");
}

TEST_F(MainWindowTest, PathsArrivingWhileLoadingJoinTheRunningLoader) {
    const std::string big = m_dir.path() + "many/";
    ASSERT_TRUE(platform::createDirectories(big));
    const auto bytes = test::readBytes(std::string(QUILL_SOURCE_DIR) + "/samples/logo.png");
    for (int i = 0; i < 3000; ++i)
        test::writeBytes(big + std::to_string(i) + ".png", bytes);
    int starts = 0;
    QObject::connect(&window().loader(), &PathLoader::started, [&] { ++starts; });
    window().addPaths({big});
    window().addPaths({sampleFolder()});
    ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(window().model().rowCount(), 3003);
    EXPECT_EQ(m_images.size(), 3003u);
    EXPECT_EQ(m_flags.loadingPaths.load(), 0);

    // Escape stops the next loader early; what was added so far stays, in list and view alike.
    m_questions.answer = toolkit::qt::Answer::Yes;
    window().clearList();
    ASSERT_EQ(window().model().rowCount(), 0);
    window().addPaths({big});
    QTest::keyClick(&window(), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));
    EXPECT_LT(window().model().rowCount(), 3000);
    EXPECT_EQ(std::size_t(window().model().rowCount()), m_images.size());
}

TEST_F(MainWindowTest, CtrlDPreviewsTheSelectedImageAndOpensTheOutput) {
    m_context.previewDirectory = m_dir.path() + "preview/";
    m_context.workingSettings.resizeEnabled = 1;
    m_context.workingSettings.resizeMode = settings::ResizeMode::Percent;
    m_context.workingSettings.resizePercent = 50;
    window().settingsToControls();
    const std::string folder = sampleFolder();
    loadAndWait(folder);
    window().imageView()->selectRow(1);
    const ImageRow selected = window().model().row(1);

    QTest::keyClick(&window(), Qt::Key_D, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return !m_opener.opened.empty(); }));
    const std::string output = m_opener.opened[0];
    imagefiles::ImageRect made, source;
    ASSERT_TRUE(imagefiles::readImageSize(output, made)) << output;
    ASSERT_TRUE(imagefiles::readImageSize(selected.path.toStdString(), source));
    EXPECT_NEAR(made.width, source.width / 2, 1) << "the working settings were applied";
    EXPECT_TRUE(m_context.previewDirectoryUsed);
    // The list and the selection stay as they were.
    EXPECT_EQ(window().model().rowCount(), 3);
    EXPECT_EQ(selectedRows(window()), std::vector<int>{1});
    EXPECT_TRUE(m_questions.asked.empty());

    // A double click on the image preview popup does the same.
    ASSERT_TRUE(waitUntil([&] { return window().imageView()->isEnabled(); }));
    PreviewPopup* popup = window().previewPopup();
    QTest::mouseDClick(popup->pictureLabel(), Qt::LeftButton, Qt::NoModifier, QPoint(70, 70));
    EXPECT_TRUE(waitUntil([&] { return m_opener.opened.size() == 2; }));
}

TEST_F(MainWindowTest, ThePreviewPopupFollowsTheSelectedRow) {
    loadAndWait(sampleFolder());
    PreviewPopup* popup = window().previewPopup();
    ASSERT_TRUE(waitUntil([&] { return popup->isVisible(); }));
    QTableView* view = window().imageView();
    const auto popupRect = [&] { return QRect(popup->pos(), popup->size()); };
    const auto rowRect = [&](int row) {
        const QRect r = view->visualRect(window().model().index(row, 0));
        return QRect(view->viewport()->mapTo(&window(), QPoint(0, r.top())),
                     QSize(view->viewport()->width(), r.height()));
    };

    // The arrows step through the rows and stop at the ends; the selected row stays readable.
    QPushButton* next = popup->nextButton();
    const std::pair<QPushButton*, int> steps[] = {
        {next, 1}, {next, 2}, {next, 2}, {popup->previousButton(), 1}};
    for (const auto& [button, row] : steps) {
        button->click();
        EXPECT_EQ(selectedRows(window()), std::vector<int>{row});
        EXPECT_TRUE(popup->isVisible());
        EXPECT_FALSE(popupRect().intersects(rowRect(row))) << row;
    }

    // Shown only on the list page and for a single selected row.
    view->selectAll();
    EXPECT_FALSE(popup->isVisible());
    view->selectRow(0);
    EXPECT_TRUE(popup->isVisible());
    window().pageList()->setCurrentRow(4);
    EXPECT_FALSE(popup->isVisible());
    window().pageList()->setCurrentRow(0);
    EXPECT_TRUE(popup->isVisible());
    view->clearSelection();
    EXPECT_FALSE(popup->isVisible());

    // A rebuilt window (names only) has its popup again.
    window().menuItem(MenuCommand::DetailsView)->trigger();
    ASSERT_TRUE(waitUntil([&] { return window().model().columnCount() == 1; }));
    window().imageView()->selectRow(1);
    EXPECT_TRUE(waitUntil([&] { return window().previewPopup()->isVisible(); }));
    window().previewPopup()->previousButton()->click();
    EXPECT_EQ(selectedRows(window()), std::vector<int>{0});
}

TEST(DroppedPaths, OnlyLocalFilesAndAbsolutePathLinesArePaths) {
    const auto urls = [](QList<QUrl> list) {
        auto* data = new QMimeData;
        data->setUrls(list);
        return data;
    };
    const auto text = [](const char* lines) {
        auto* data = new QMimeData;
        data->setText(QString::fromUtf8(lines));
        return data;
    };
    struct Case {
        const char* what;
        QMimeData* data;
        imagefiles::PathList paths;
    };
    const Case cases[] = {
        {"local files in order, web addresses left out",
         urls({QUrl::fromLocalFile("/photos/a b.jpg"), QUrl("https://example.org/c.jpg"),
               QUrl::fromLocalFile("/photos/\u00e9t\u00e9.png")}),
         {"/photos/a b.jpg", "/photos/\u00e9t\u00e9.png"}},
        {"no local file at all", urls({QUrl("ftp://example.org/x.jpg")}), {}},
        {"absolute lines, trimmed, of text with CR LF line ends",
         text("  /photos/one.jpg \r\nrelative/two.jpg\r\n\n/photos/three dots.png\r\n"),
         {"/photos/one.jpg", "/photos/three dots.png"}},
        {"nothing", new QMimeData, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(droppedPaths(*c.data), c.paths);
        delete c.data;
    }
    // URLs win over the text a drop may carry beside them.
    QMimeData both;
    both.setText("/photos/from-text.jpg");
    both.setUrls({QUrl::fromLocalFile("/photos/from-url.jpg")});
    EXPECT_EQ(droppedPaths(both), imagefiles::PathList{"/photos/from-url.jpg"});
}

TEST_F(MainWindowTest, PathsDroppedOnEitherAddButtonAreLoaded) {
    const std::string folder = sampleFolder();
    const std::pair<int, const char*> drops[] = {{settings::text::kAddFilesButton, "logo.png"},
                                                 {settings::text::kAddFolderButton, "chart.bmp"}};
    for (const auto& [caption, file] : drops) {
        QPushButton* target = buttonNamed(&window(), T(caption));
        ASSERT_TRUE(target) << caption;
        ASSERT_TRUE(target->acceptDrops());
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder + file))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));
    }
    EXPECT_EQ(window().model().rowCount(), 2);
}

// Each check item of the menus sets its field at once; two of them rebuild the window and its
// menus, whose new items show the new value.
TEST_F(MainWindowTest, EachOptionItemTogglesItsSettingAtOnce) {
    std::vector<std::string> options;
    for (const BindingTable* table : window().bindingTables())
        for (const auto& entry : table->entries())
            if (qobject_cast<QAction*>(entry.control)) options.push_back(entry.field);
    ASSERT_FALSE(options.empty());
    for (const std::string& name : options) {
        SCOPED_TRACE(name);
        const Field& field = fieldNamed(name);
        const bool before = field.number(m_context.workingSettings) != 0;
        auto* item = qobject_cast<QAction*>(controlOf(window(), name));
        ASSERT_TRUE(item && item->isCheckable());
        EXPECT_EQ(item->isChecked(), before);
        item->trigger();
        EXPECT_EQ(field.number(m_context.workingSettings) != 0, !before);
        ASSERT_TRUE(waitUntil([&] {
            auto* now = qobject_cast<QAction*>(controlOf(window(), name));
            return now && now->isChecked() == !before;
        }));
    }
}

// Qt's own options reach the application object; the program's switches and paths stay.
TEST(ToolkitArguments, QtOptionsAndTheirValuesAreSplitFromTheProgramsArguments) {
    using List = std::vector<std::string>;
    const struct {
        List given, own, toolkit;
    } cases[] = {
        {{"-Console", "a.jpg", "-Preset=2"}, {"-Console", "a.jpg", "-Preset=2"}, {}},
        {{"-style", "fusion", "b.png", "-platformtheme", "gtk3", "-stylesheet", "-my.qss"},
         {"b.png"},
         {"-style", "fusion", "-platformtheme", "gtk3", "-stylesheet", "-my.qss"}},
        {{"-reverse", "c.png", "--nograb", "-style=fusion", "x.png", "-style"},
         {"c.png", "x.png"},
         {"-reverse", "--nograb", "-style=fusion", "-style"}},
        {{"-Reverse", "-STYLE", "fusion", "-", "-stylish"},
         {"-Reverse", "-STYLE", "fusion", "-", "-stylish"},
         {}},
    };
    for (const auto& c : cases) {
        const SplitArguments split = splitToolkitArguments(c.given);
        EXPECT_EQ(split.own, c.own);
        EXPECT_EQ(split.toolkit, c.toolkit);
    }
}

/// The contrast ratio of two colours as WCAG defines it.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a) + 0.05, lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

// The selected page reads at 4.5:1 at least in light and dark palettes, also after the
// desktop's palette changes; a highlight that reads already stays the desktop's.
TEST_F(MainWindowTest, TheSelectedPageReadsAtEnoughContrastInLightAndDarkPalettes) {
    const QPalette saved = QApplication::palette();
    const struct {
        QColor window, highlight, text;
    } cases[] = {
        {0xefefef, 0x308cc6, Qt::white}, // light, mid blue
        {0x353535, 0x606090, Qt::black}, // dark, greyish under black text
        {0x353535, 0x003366, Qt::white}, // dark, navy: reads already
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.highlight.name().toStdString());
        QPalette palette(c.window);
        palette.setColor(QPalette::Highlight, c.highlight);
        palette.setColor(QPalette::HighlightedText, c.text);
        QApplication::setPalette(palette);
        QCoreApplication::processEvents();
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            const QPalette& list = window().pageList()->palette();
            EXPECT_EQ(list.color(group, QPalette::HighlightedText), c.text);
            EXPECT_GE(contrast(list.color(group, QPalette::Highlight), c.text), 4.5);
            if (contrast(c.highlight, c.text) >= 4.5) {
                EXPECT_EQ(list.color(group, QPalette::Highlight), c.highlight);
            }
        }
    }
    QApplication::setPalette(saved);
}

// The previous page wraps round to the last; a file dialog closed gives the focus back to its
// button, not to the page list.
TEST_F(MainWindowTest, PreviousPageAndTheFocusAfterAFileDialog) {
    QListWidget* pages = window().pageList();
    pages->setCurrentRow(1);
    window().previousPage();
    EXPECT_EQ(pages->currentRow(), 0);
    window().previousPage();
    EXPECT_EQ(pages->currentRow(), pages->count() - 1);
    EXPECT_EQ(QApplication::focusWidget(), pages);
    // The keys: Ctrl+Shift+Tab back, Ctrl+Tab forward again.
    QTest::keyClick(pages, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pages->currentRow(), pages->count() - 2);
    QTest::keyClick(pages, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(pages->currentRow(), pages->count() - 1);

    for (const int button : {settings::text::kAddFilesButton, settings::text::kAddFolderButton}) {
        QPushButton* add = buttonNamed(&window(), T(button));
        ASSERT_NE(add, nullptr);
        add->setFocus();
        onNextModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
        QTest::keyClick(add, Qt::Key_Space);
        QApplication::setActiveWindow(&window());
        EXPECT_EQ(QApplication::focusWidget(), add);
    }
}

// A run whose image cannot be read ends in the result window; once that closes, the main window
// is back with the focus where it was before the run.
TEST_F(MainWindowTest, TheFocusComesBackAfterARunAndItsResultWindow) {
    const std::string folder = m_dir.path() + "broken/";
    ASSERT_TRUE(platform::createDirectories(folder));
    test::writeText(folder + "broken.jpg", std::string(64, 'x'));
    m_context.ignoreWarnings = true;
    // Converted into the test's own folder: the file must be decoded, so it fails every time.
    // (Copied unchanged into the default folder, it went through on a machine that had no
    // output there yet, and failed only where an earlier run had left one.)
    m_context.workingSettings.outputDirPattern = m_dir.path() + "run/";
    m_context.workingSettings.convertFormat = 1;
    m_context.workingSettings.outputFormat = settings::OutputFormat::Png;
    window().settingsToControls();
    loadAndWait(folder);
    ASSERT_EQ(m_images.size(), 1U);
    QListWidget* pages = window().pageList();
    pages->setCurrentRow(3);
    pages->setFocus();
    bool closed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* result = qobject_cast<batch::ui::ResultWindow*>(top);
                result && result->isVisible()) {
                result->close();
                closed = true;
            }
    });
    poll.start(20);
    window().startRun();
    ASSERT_TRUE(waitUntil([&] { return closed && window().isVisible(); })) << [&] {
        std::string open;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible())
                open += std::string(top->metaObject()->className()) + " \"" +
                        top->windowTitle().toStdString() + "\" ";
        return "closed " + std::to_string(closed) + ", questions asked " +
               std::to_string(m_questions.asked.size()) + ", visible: " + open;
    }();
    QCoreApplication::processEvents();
    QApplication::setActiveWindow(&window());
    EXPECT_EQ(QApplication::focusWidget(), pages);
}

QString accessibleText(QObject* object, QAccessible::Text text = QAccessible::Name) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    return face ? face->text(text) : QStringLiteral("<none>");
}

// A screen reader hears the windows' titles, the percentage and each new file as it comes.
TEST(RunWindowsForScreenReaders, TitlesProgressAndCurrentFile) {
    pipeline::RunFlags flags;
    const std::atomic<std::int32_t> total{8};
    test::ScriptedQuestions questions;
    batch::ui::ProgressWindow w(flags, total, questions, QStringLiteral("Quillmere"));
    auto* bar = w.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    auto* file = w.findChild<QLabel*>(QStringLiteral("fileName"));
    ASSERT_TRUE(bar && file);
    flags.enterPhase(pipeline::RunPhase::Processing);
    const QString longName = QString(300, QLatin1Char('n')) + QStringLiteral(".jpg");
    for (const auto& [name, counter, percent] :
         {std::tuple(longName, 2, "25%"), std::tuple(QStringLiteral("b.png"), 3, "37%")}) {
        flags.publishCurrent(counter, name.toStdString(), "/pictures/");
        flags.progressCounter.store(counter);
        w.update();
        EXPECT_EQ(accessibleText(&w), w.windowTitle());
        EXPECT_EQ(accessibleText(file), name); // whole, though the label may shorten it
        EXPECT_EQ(accessibleText(bar, QAccessible::Description), QString::fromLatin1(percent));
        EXPECT_EQ(
            QAccessible::queryAccessibleInterface(bar)->valueInterface()->currentValue().toInt(),
            counter);
    }
    flags.runPaused.store(1);
    w.update();
    EXPECT_TRUE(accessibleText(&w).contains(T(settings::text::kPaused)));
    w.finish();

    const imagefiles::ImageList images;
    batch::ui::ResultWindow result(images);
    result.setWindowTitle(QStringLiteral("Changed"));
    EXPECT_EQ(accessibleText(&result), QStringLiteral("Changed"));
}

/// Pictures of the window on each page, for a person to look at.
TEST_F(MainWindowTest, Screenshots) {
    if (!qEnvironmentVariableIsSet("QUILL_SCREENSHOT_DIR")) GTEST_SKIP() << "no picture folder";
    loadAndWait(sampleFolder());
    window().selectPreset(1); // a preset with an overlay, so more controls are enabled
    for (int page = 0; page < kPageCount; ++page) {
        window().pageList()->setCurrentRow(page);
        screenshot(QStringLiteral("page%1.png").arg(page, 2, 10, QLatin1Char('0')));
    }
}

} // namespace
} // namespace quill::app::ui
