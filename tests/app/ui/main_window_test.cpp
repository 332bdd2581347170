// The main window through its real widgets: loading the list, every settings control reaching the
// working settings and the saved presets, presets and language switches, and bad input.
#include "main_window_fixture.h"

#include "app/ui/color_button.h"
#include "app/ui/filter_table.h"
#include "app/ui/preview_popup.h"
#include "imagefiles/image_loader.h"
#include "settings/language_pack.h"
#include "settings/preset_fields.h"
#include "settings/setting_files.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

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

class MainWindowTest : public MainWindowFixture {
protected:
    const BindingTable::Entry* entryFor(const std::string& field) {
        for (const auto* table : window().bindingTables())
            for (const auto& entry : table->entries())
                if (entry.field == field) return &entry;
        return nullptr;
    }
};

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

TEST_F(MainWindowTest, PathArgumentsFillTheListAndSelectTheFirstRow) {
    const std::string folder = sampleFolder();
    test::writeText(folder + "notes.txt", "not an image");
    m_context.pathArguments = {folder, m_dir.path() + "missing.jpg"};
    window().loadPathArguments();
    EXPECT_TRUE(m_context.pathArguments.empty());
    ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));

    auto& model = window().model();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Name");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), "Folder");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), "Size");
    std::set<QString> names;
    for (int row = 0; row < 3; ++row) {
        names.insert(model.index(row, 0).data().toString());
        EXPECT_EQ(model.index(row, 1).data().toString(), QString::fromStdString(folder));
        EXPECT_FALSE(model.index(row, 2).data().toString().isEmpty());
    }
    EXPECT_EQ(names, (std::set<QString>{"chart.bmp", "harbour.jpg", "logo.png"}));
    EXPECT_EQ(m_images.size(), 3u);
    const auto selected = window().imageView()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].row(), 0);

    // The details view off leaves one column; the rows stay.
    window().menuItem(24)->trigger();
    ASSERT_TRUE(waitUntil([&] { return window().model().columnCount() == 1; }));
    EXPECT_EQ(window().model().rowCount(), 3);
}

TEST_F(MainWindowTest, EveryFieldHasAControl) {
    std::set<std::string> bound;
    for (const auto* table : window().bindingTables())
        for (const auto& entry : table->entries())
            bound.insert(entry.field);
    for (const auto& field : settings::presetFields()) {
        // The index and the name belong to the preset list, not to the pages.
        if (std::string_view(field.name) == "index" || std::string_view(field.name) == "name")
            continue;
        EXPECT_TRUE(bound.count(field.name)) << field.name << " has no control";
    }
}

TEST_F(MainWindowTest, ControlsAndSettingsRoundTripEveryDefaultPreset) {
    for (const Preset& preset : m_context.presetList.presets) {
        m_context.workingSettings = preset;
        window().settingsToControls();
        m_context.workingSettings = Preset{};
        m_context.workingSettings.overlayText = "x"; // a stale value the controls must replace
        window().settingsToControls();
        m_context.workingSettings = preset;
        window().settingsToControls();
        window().controlsToSettings();
        EXPECT_EQ(differingFields(preset, m_context.workingSettings), std::set<std::string>{})
            << preset.name;
    }
}

TEST_F(MainWindowTest, EachControlReachesTheWorkingSettingsAndTheSavedFile) {
    window();
    for (const auto* table : window().bindingTables()) {
        for (const auto& entry : table->entries()) {
            SCOPED_TRACE(entry.field);
            const Preset before = m_context.workingSettings;
            ASSERT_TRUE(editControl(entry.control));
            QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);
            EXPECT_EQ(differingFields(before, m_context.workingSettings),
                      std::set<std::string>{entry.field});
            settings::PresetList saved;
            settings::readPresets(m_context.presetsFilePath, saved);
            ASSERT_EQ(saved.presets.size(), 6u);
            const Preset& stored = saved.presets[0];
            EXPECT_TRUE(sameField(stored, m_context.workingSettings, fieldNamed(entry.field)));
        }
    }
    EXPECT_TRUE(m_questions.asked.empty());
}

TEST_F(MainWindowTest, AConsoleRunReadsWhatTheControlsSaved) {
    const std::string folder = sampleFolder();
    const std::string out = m_dir.path() + "out/";
    auto* rename = qobject_cast<QAbstractButton*>(entryFor("renameEnabled")->control);
    auto* pattern = qobject_cast<QLineEdit*>(entryFor("renamePattern")->control);
    auto* convert = qobject_cast<QAbstractButton*>(entryFor("convertFormat")->control);
    auto* format = qobject_cast<QButtonGroup*>(entryFor("outputFormat")->control);
    auto* resize = qobject_cast<QAbstractButton*>(entryFor("resizeEnabled")->control);
    auto* mode = qobject_cast<QButtonGroup*>(entryFor("resizeMode")->control);
    auto* percent = qobject_cast<QSpinBox*>(entryFor("resizePercent")->control);
    auto* dir = qobject_cast<QLineEdit*>(entryFor("outputDirPattern")->control);
    ASSERT_TRUE(rename && pattern && convert && format && resize && mode && percent && dir);
    rename->setChecked(true);
    pattern->setText("win_%FN%");
    convert->setChecked(true);
    format->button(int(settings::OutputFormat::Png))->setChecked(true);
    resize->setChecked(true);
    mode->button(int(settings::ResizeMode::Percent))->setChecked(true);
    percent->setValue(25);
    dir->setText(QString::fromStdString(out));
    QTest::keyClick(&window(), Qt::Key_S, Qt::ControlModifier);

    const std::string command =
        "cd " + test::shellQuote(m_dir.path()) + " && HOME=" + test::shellQuote(m_dir.path()) +
        " XDG_CONFIG_HOME=" + test::shellQuote(m_dir.path() + "config") +
        " XDG_RUNTIME_DIR=" + test::shellQuote(m_dir.path()) + " " + std::string(QUILL_BINARY_DIR) +
        "/src/app/quillmere -Console -Preset=0 " + test::shellQuote(folder + "logo.png") + " 2>&1";
    std::string output;
    ASSERT_EQ(test::runCommand(command, &output), 0) << output;
    imagefiles::ImageRect source, result;
    ASSERT_TRUE(imagefiles::readImageSize(folder + "logo.png", source));
    ASSERT_TRUE(imagefiles::readImageSize(out + "win_logo.png", result)) << output;
    EXPECT_EQ(result.width, (source.width + 2) / 4);
}

TEST_F(MainWindowTest, ShortcutsAndThePresetMenuSwitchPresets) {
    window();
    QApplication::setActiveWindow(&window());
    QTest::keyClick(&window(), Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(m_context.currentPreset, 2);
    EXPECT_EQ(m_context.workingSettings, m_context.presetList.presets[2]);
    EXPECT_EQ(window().pageList()->currentRow(), m_context.presetList.presets[2].selectedPage);
    window().menuItem(ItemFirstPreset + 4)->trigger();
    EXPECT_EQ(m_context.currentPreset, 4);
    EXPECT_EQ(m_context.workingSettings, m_context.presetList.presets[4]);
    // A preset that does not exist falls back to preset 0.
    QTest::keyClick(&window(), Qt::Key_9, Qt::ControlModifier);
    EXPECT_EQ(m_context.currentPreset, 0);
    EXPECT_TRUE(window().menuItem(ItemFirstPreset)->isChecked());
    EXPECT_FALSE(window().menuItem(ItemFirstPreset + 4)->isChecked());
    // Ctrl+Tab moves to the next page.
    const int page = window().pageList()->currentRow();
    QTest::keyClick(&window(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(window().pageList()->currentRow(), (page + 1) % kPageCount);
}

TEST_F(MainWindowTest, LanguageMenu) {
    window();
    ASSERT_TRUE(window().menuItem(ItemLanguageAutomatic));
    EXPECT_TRUE(window().menuItem(ItemLanguageAutomatic)->isChecked());

    // Choosing the active language stores it but does not rebuild; another one rebuilds.
    window().menuItem(ItemFirstLanguage + 5)->trigger();
    ASSERT_TRUE(waitUntil([&] {
        return window().menuItem(ItemFirstLanguage + 5) != nullptr &&
               window().menuItem(ItemFirstLanguage + 5)->isChecked() &&
               !window().menuItem(ItemLanguageAutomatic)->isChecked();
    }));
    EXPECT_EQ(settings::readStoredLanguage(m_context.languageFilePath), 5);
    EXPECT_EQ(m_context.languageIndex, 5);
    QAction* before = window().menuItem(ItemFirstLanguage + 5);
    before->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(window().menuItem(ItemFirstLanguage + 5), before) << "the window was rebuilt";

    // The automatic entry deletes the stored choice.
    window().menuItem(ItemLanguageAutomatic)->trigger();
    ASSERT_TRUE(waitUntil([&] { return window().menuItem(ItemLanguageAutomatic)->isChecked(); }));
    EXPECT_FALSE(platform::fileExists(m_context.languageFilePath));
}

TEST_F(MainWindowTest, BadInputNeverTakesTheWindowDown) {
    const std::string folder = sampleFolder();
    // A folder without images adds nothing.
    ASSERT_TRUE(platform::createDirectories(m_dir.path() + "empty/sub/"));
    test::writeText(m_dir.path() + "empty/readme.txt", "text");
    loadAndWait(m_dir.path() + "empty/");
    EXPECT_EQ(window().model().rowCount(), 0);

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
    window().menuItem(ItemFirstOption + 2)->trigger(); // scanning off
    ASSERT_EQ(m_context.workingSettings.scanImageDetails, 0);
    test::writeText(folder + "broken.jpg", "not really a JPEG");
    loadAndWait(folder);
    EXPECT_EQ(window().model().rowCount(), 4);
    std::filesystem::remove(folder + "chart.bmp");
    window().menuItem(ItemFirstOption + 2)->trigger(); // scanning on
    ASSERT_TRUE(waitUntil([&] { return !window().scanner().running(); }));
    int withSize = 0;
    for (const auto& row : window().model().rows())
        withSize += row.width > 0 ? 1 : 0;
    EXPECT_EQ(withSize, 2); // harbour.jpg and logo.png

    // Removing and clearing keep the list and the view in step.
    window().imageView()->selectionModel()->select(window().model().index(0, 0),
                                                   QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
    ASSERT_EQ(window().imageView()->selectionModel()->selectedRows().size(), 1);
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

TEST_F(MainWindowTest, ExitAsksOnlyWhenTheListHoldsImages) {
    loadAndWait(sampleFolder());
    m_questions.answer = toolkit::qt::Answer::No;
    window().close();
    ASSERT_EQ(m_questions.asked.size(), 1u);
    EXPECT_EQ(m_questions.asked[0].text, QString::fromStdString(settings::uiText(426)));
    EXPECT_TRUE(window().isVisible());
    // With an empty list the program ends without asking.
    m_questions.answer = toolkit::qt::Answer::Yes;
    window().clearList();
    ASSERT_EQ(m_questions.asked.size(), 2u);
    window().requestExit();
    EXPECT_EQ(m_questions.asked.size(), 2u);
    EXPECT_FALSE(window().isVisible());
}

TEST_F(MainWindowTest, F5RunsTheBatchAndTheListFollowsTheKeepList) {
    const std::string folder = sampleFolder();
    const std::string out = m_dir.path() + "run/";
    m_context.workingSettings.outputDirPattern = out;
    m_context.workingSettings.scanImageDetails = 0;
    m_context.workingSettings.loadOutputImages = 1; // the outputs replace the sources in the list
    window().settingsToControls();
    loadAndWait(folder);
    ASSERT_EQ(window().model().rowCount(), 3);
    QTest::keyClick(&window(), Qt::Key_F5);
    ASSERT_TRUE(waitUntil(
        [&] {
            return window().isVisible() && m_flags.runActive.load() == 0 &&
                   platform::fileExists(out + "logo.jpg");
        },
        60000));
    ASSERT_TRUE(waitUntil([&] {
        return window().model().rowCount() == 3 &&
               window().model().row(0).folder == QString::fromStdString(out);
    }));
    EXPECT_EQ(m_images.size(), 3u);
    EXPECT_TRUE(platform::fileExists(out + "chart.jpg"));
    EXPECT_TRUE(platform::fileExists(out + "harbour.jpg"));
    EXPECT_TRUE(m_questions.asked.empty());
}

TEST_F(MainWindowTest, OddValuesSurviveTheControls) {
    struct Case {
        const char* what;
        void (*change)(Preset&);
    };
    const Case cases[] = {
        {"line feed without carriage return", [](Preset& p) { p.overlayText = "a\nb\r\nc"; }},
        {"bytes that are not UTF-8", [](Preset& p) { p.renamePattern = "n\xff\xfe%FN%"; }},
        {"fixed date 0", [](Preset& p) { p.fixedFileDate = 0; }},
        {"fixed date", [](Preset& p) { p.fixedFileDate = 1700000000; }},
        {"unknown font style bits", [](Preset& p) { p.overlayFontStyle = 0x10000 | 256 | 8; }},
        {"no size direction", [](Preset& p) { p.resizeLimits = settings::ResizeLimits::None; }},
        {"only shrink", [](Preset& p) { p.resizeLimits = settings::ResizeLimits::ShrinkOnly; }},
        {"only enlarge", [](Preset& p) { p.resizeLimits = settings::ResizeLimits::EnlargeOnly; }},
        {"condition with unknown bits",
         [](Preset& p) {
             p.filterConditions = {{0x40 | settings::kConditionActive, 4, 3, "640", 1},
                                   {0, 1, 6, "IMG_\xff*", 2}};
         }},
        {"extreme numbers",
         [](Preset& p) {
             p.overlayLineSpacing = -100;
             p.fileDateShiftMinutes = -9999;
             p.canvasColor = 0xFFFFFF;
             p.selectedPage = 13;
         }},
    };
    window();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Preset odd = m_context.presetList.presets[3];
        c.change(odd);
        m_context.workingSettings = odd;
        window().settingsToControls();
        window().controlsToSettings();
        EXPECT_EQ(differingFields(odd, m_context.workingSettings), std::set<std::string>{});
    }
}

TEST_F(MainWindowTest, DependentControlsFollowTheirSwitches) {
    struct Case {
        const char* what;
        void (*change)(Preset&);
        const char* control; ///< the field whose control is checked
        bool enabled;
    };
    const Case cases[] = {
        {"crop off", [](Preset& p) { p.cropEnabled = 0; }, "cropLeft", false},
        {"fixed margins",
         [](Preset& p) { p.cropEnabled = 1, p.cropMode = settings::CropMode::Margins; }, "cropLeft",
         true},
        {"trim has no margins",
         [](Preset& p) { p.cropEnabled = 1, p.cropMode = settings::CropMode::Trim; }, "cropLeft",
         false},
        {"trim sides", [](Preset& p) { p.cropEnabled = 1, p.cropMode = settings::CropMode::Trim; },
         "trimTop", true},
        {"percent mode",
         [](Preset& p) { p.resizeEnabled = 1, p.resizeMode = settings::ResizeMode::Percent; },
         "resizePercent", true},
        {"no width in percent mode",
         [](Preset& p) { p.resizeEnabled = 1, p.resizeMode = settings::ResizeMode::Percent; },
         "resizeWidth", false},
        {"gamma off", [](Preset& p) { p.gammaEnabled = 0; }, "gammaLevel", false},
        {"gamma on", [](Preset& p) { p.gammaEnabled = 1; }, "gammaLevel", true},
        {"transparent canvas has no colour",
         [](Preset& p) { p.canvasEnabled = 1, p.canvasMode = settings::CanvasMode::Transparent; },
         "canvasColor", false},
        {"image overlay has no text",
         [](Preset& p) { p.overlayEnabled = 1, p.overlayKind = settings::OverlayKind::Image; },
         "overlayText", false},
        {"image overlay has a path",
         [](Preset& p) { p.overlayEnabled = 1, p.overlayKind = settings::OverlayKind::Image; },
         "overlayImagePath", true},
        {"outline off", [](Preset& p) { p.overlayEnabled = 1, p.overlayOutline = 0; },
         "overlayOutlineWidth", false},
        {"fixed file date",
         [](Preset& p) { p.setFileDates = 1, p.fileDateSource = settings::FileDateSource::Fixed; },
         "fixedFileDate", true},
        {"shift needs its source",
         [](Preset& p) { p.setFileDates = 1, p.fileDateSource = settings::FileDateSource::Fixed; },
         "fileDateShiftMinutes", false},
        {"quality off", [](Preset& p) { p.qualityEnabled = 0; }, "quality", false},
        {"no palette at 24 bits",
         [](Preset& p) { p.colorDepthEnabled = 1, p.colorDepth = settings::ColorDepth::Bits24; },
         "colorDepthOption", false},
        {"palette at 8 bits",
         [](Preset& p) { p.colorDepthEnabled = 1, p.colorDepth = settings::ColorDepth::Bits8; },
         "colorDepthOption", true},
        {"replacing sources has no folder", [](Preset& p) { p.outputDirEnabled = 0; },
         "outputDirPattern", false},
        {"rename off", [](Preset& p) { p.renameEnabled = 0; }, "renamePattern", false},
    };
    window();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Preset preset = m_context.presetList.presets[0];
        c.change(preset);
        m_context.workingSettings = preset;
        window().settingsToControls();
        auto* control = qobject_cast<QWidget*>(entryFor(c.control)->control);
        ASSERT_TRUE(control);
        EXPECT_EQ(control->isEnabled(), c.enabled);
    }
    // Editing a switch updates its dependents at once.
    auto* crop = qobject_cast<QAbstractButton*>(entryFor("cropEnabled")->control);
    auto* margin = qobject_cast<QWidget*>(entryFor("cropLeft")->control);
    crop->setChecked(false);
    EXPECT_FALSE(margin->isEnabled());
    crop->setChecked(true);
    EXPECT_EQ(margin->isEnabled(),
              m_context.workingSettings.cropMode == settings::CropMode::Margins);
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
    window().clearList();
    m_questions.answer = toolkit::qt::Answer::Yes;
    window().clearList();
    ASSERT_EQ(window().model().rowCount(), 0);
    window().addPaths({big});
    QTest::keyClick(&window(), Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return !window().loader().busy(); }));
    EXPECT_LT(window().model().rowCount(), 3000);
    EXPECT_EQ(std::size_t(window().model().rowCount()), m_images.size());
}

TEST_F(MainWindowTest, APresetWithAnotherListDisplayRebuildsAndKeepsTheRows) {
    m_context.presetList.presets[3].listDisplayOption = 0;
    loadAndWait(sampleFolder());
    QPointer<QTableView> before = window().imageView();
    window().selectPreset(3);
    ASSERT_TRUE(waitUntil([&] { return before.isNull(); })) << "the window was not rebuilt";
    EXPECT_EQ(window().model().columnCount(), 1);
    EXPECT_EQ(window().model().rowCount(), 3);
    EXPECT_EQ(window().pageList()->currentRow(), m_context.presetList.presets[3].selectedPage);
    EXPECT_EQ(m_context.workingSettings, m_context.presetList.presets[3]);
}

/// The rows of the list view that are selected, in row order.
std::vector<int> selectedRows(MainWindow& window) {
    std::vector<int> rows;
    for (const QModelIndex& index : window.imageView()->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
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
    const auto before = platform::readFile(selected.path.toStdString(), 1 << 26);

    QTest::keyClick(&window(), Qt::Key_D, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return !m_opener.opened.empty(); }));
    ASSERT_EQ(m_opener.opened.size(), 1u);
    const std::string output = m_opener.opened[0];
    EXPECT_EQ(output.rfind(m_context.previewDirectory, 0), 0u) << output;
    imagefiles::ImageRect made, source;
    ASSERT_TRUE(imagefiles::readImageSize(output, made)) << output;
    ASSERT_TRUE(imagefiles::readImageSize(selected.path.toStdString(), source));
    EXPECT_NEAR(made.width, source.width / 2, 1) << "the working settings were applied";
    EXPECT_TRUE(m_context.previewDirectoryUsed);
    // The list, the selection and the source stay as they were.
    EXPECT_EQ(window().model().rowCount(), 3);
    EXPECT_EQ(selectedRows(window()), std::vector<int>{1});
    EXPECT_EQ(platform::readFile(selected.path.toStdString(), 1 << 26), before);
    EXPECT_TRUE(m_questions.asked.empty());

    // A double click on the image preview popup does the same.
    ASSERT_TRUE(waitUntil([&] { return window().imageView()->isEnabled(); }));
    PreviewPopup* popup = window().previewPopup();
    ASSERT_TRUE(popup->isVisible());
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
    const QRect list(view->viewport()->mapTo(&window(), QPoint(0, 0)), view->viewport()->size());
    EXPECT_TRUE(list.contains(popupRect())) << "the popup lies within the list";
    EXPECT_FALSE(popupRect().intersects(rowRect(0))) << "the selected row stays readable";

    // The arrows step through the rows and stop at the ends.
    struct Step {
        QPushButton* button;
        std::vector<int> rows;
    };
    for (const Step& step : {Step{popup->nextButton(), {1}}, Step{popup->nextButton(), {2}},
                             Step{popup->nextButton(), {2}}, Step{popup->previousButton(), {1}}}) {
        step.button->click();
        EXPECT_EQ(selectedRows(window()), step.rows);
        EXPECT_TRUE(popup->isVisible());
        EXPECT_FALSE(popupRect().intersects(rowRect(step.rows[0])));
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
    window().menuItem(ItemFirstOption)->trigger();
    ASSERT_TRUE(waitUntil([&] { return window().model().columnCount() == 1; }));
    window().imageView()->selectRow(1);
    EXPECT_TRUE(waitUntil([&] { return window().previewPopup()->isVisible(); }));
    window().previewPopup()->previousButton()->click();
    EXPECT_EQ(selectedRows(window()), std::vector<int>{0});
}

TEST_F(MainWindowTest, TheFilterValueMenuInsertsWildcards) {
    auto* table = qobject_cast<FilterTable*>(entryFor("filterConditions")->control);
    ASSERT_NE(table, nullptr);
    table->addCondition();
    auto* value = qobject_cast<QLineEdit*>(table->cellWidget(table->rowCount() - 1, 3));
    ASSERT_NE(value, nullptr);
    value->setText(QStringLiteral("ab"));
    value->setCursorPosition(1);
    QString offered;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) return;
        for (QAction* action : menu->actions()) {
            if (!action->menu() || action->menu()->title() != "Insert") continue;
            for (QAction* entry : action->menu()->actions())
                offered += entry->text();
            action->menu()->actions().at(0)->trigger();
        }
        menu->close();
    });
    emit value->customContextMenuRequested(QPoint(2, 2));
    EXPECT_EQ(offered, "*?#|");
    EXPECT_EQ(value->text(), "a*b");
    EXPECT_EQ(value->cursorPosition(), 2);
}

/// Saves a picture of the window on each page into $QUILL_SCREENSHOT_DIR (tools/screenshots.sh).
TEST_F(MainWindowTest, Screenshots) {
    const char* target = std::getenv("QUILL_SCREENSHOT_DIR");
    if (!target) GTEST_SKIP() << "QUILL_SCREENSHOT_DIR is not set";
    loadAndWait(sampleFolder());
    window().selectPreset(1); // a preset with an overlay, so more controls are enabled
    for (int page = 0; page < kPageCount; ++page) {
        window().pageList()->setCurrentRow(page);
        QTest::qWait(150);
        const QString file =
            QDir(QString::fromLocal8Bit(target))
                .filePath(QStringLiteral("page%1.png").arg(page, 2, 10, QLatin1Char('0')));
        EXPECT_TRUE(window().grab().save(file)) << file.toStdString();
    }
    // The image preview popup with its arrow: the pointer over its right strip.
    window().pageList()->setCurrentRow(0);
    window().imageView()->selectRow(1);
    PreviewPopup* popup = window().previewPopup();
    QTest::mouseMove(popup, PreviewPopup::rightStrip().center());
    QTest::qWait(300);
    EXPECT_TRUE(popup->nextButton()->isVisible());
    EXPECT_TRUE(window().grab().save(QDir(QString::fromLocal8Bit(target)).filePath("popup.png")));
    // The other layout (buttons under the page list) and the names-only list.
    window().pageList()->setCurrentRow(0);
    window().menuItem(ItemFirstOption + 1)->trigger();
    window().menuItem(ItemFirstOption)->trigger();
    QTest::qWait(300);
    EXPECT_TRUE(window().grab().save(QDir(QString::fromLocal8Bit(target)).filePath("layout.png")));
}

} // namespace
} // namespace quill::app::ui
