// The presets window driven through its buttons, with the name box and the questions answered by
// the test.
#include "app/ui/presets_window.h"
#include "preview_ui_test_support.h"
#include "settings/setting_files.h"
#include "test_support.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace quill::app::ui {
namespace {

using toolkit::qt::Answer;

class PresetsWindowTest : public ::testing::Test {
protected:
    test::TempDir dir;
    settings::PresetList presets = settings::defaultPresetList();
    settings::Preset working = settings::defaultPreset(0, "working");
    test::ScriptedQuestions questions;
    QStringList names; ///< the answers of the name box, in turn

    PresetsWindowEnvironment environment() {
        return {presets, working, dir.file("Presets"), questions, {}, [this](QWidget*) {
                    return names.isEmpty() ? std::optional<QString>() : names.takeFirst();
                }};
    }
};

TEST_F(PresetsWindowTest, ListsUserPresetsAndStoresNewOnesUnderUniqueNames) {
    PresetsWindow w(environment(), 0);
    ASSERT_EQ(w.presetList()->count(), 5); // preset 0 is not listed

    // A clash in another letter case answered No continues with " 2".
    working.resizeWidth = 321;
    const QString clash = QString::fromStdString(presets.presets[2].name).toUpper();
    names = {clash, QString::fromStdString(presets.presets[0].name)};
    questions.answer = Answer::No;
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    ASSERT_EQ(presets.presets.size(), 7u);
    EXPECT_EQ(presets.presets[6].name, clash.toStdString() + " 2");
    EXPECT_EQ(presets.presets[6].resizeWidth, 321);
    EXPECT_EQ(w.presetList()->currentRow(), 5);

    // Preset 0's name is no clash, and preset 0 stays as it is.
    const settings::Preset before0 = presets.presets[0];
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets.size(), 8u);
    EXPECT_EQ(presets.presets[0], before0);
    EXPECT_EQ(questions.asked.size(), 1u);

    // Yes overwrites the matching preset in place.
    working.resizeWidth = 999;
    names = {QString::fromStdString(presets.presets[3].name)};
    questions.answer = Answer::Yes;
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets.size(), 8u);
    EXPECT_EQ(presets.presets[3].resizeWidth, 999);

    // Nine user presets: "new" is disabled.
    names = {"eight", "nine"};
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    EXPECT_EQ(w.presetList()->count(), 9);
    EXPECT_FALSE(w.newButton()->isEnabled());
}

TEST_F(PresetsWindowTest, ButtonStatesDeleteAndReorder) {
    PresetsWindow w(environment(), 0);
    EXPECT_FALSE(w.deleteButton()->isEnabled()); // nothing selected
    w.presetList()->setCurrentRow(4);
    EXPECT_FALSE(w.downButton()->isEnabled()); // nowhere to go

    const std::string first = presets.presets[1].name;
    const std::string second = presets.presets[2].name;
    presets.currentIndex = 1;
    w.presetList()->setCurrentRow(0);
    QTest::mouseClick(w.downButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets[1].name, second);
    EXPECT_EQ(presets.presets[2].name, first);
    EXPECT_EQ(presets.presets[2].index, 2);
    EXPECT_EQ(presets.currentIndex, 2u); // the start-up preset follows its preset
    QTest::mouseClick(w.upButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets[1].name, first);

    w.presetList()->setCurrentRow(1);
    QTest::mouseClick(w.deleteButton(), Qt::LeftButton);
    ASSERT_EQ(presets.presets.size(), 5u);
    EXPECT_EQ(presets.presets[4].index, 4u);
    EXPECT_EQ(w.presetList()->count(), 4);
    EXPECT_EQ(w.startupCombo()->count(), 5);
}

TEST_F(PresetsWindowTest, ResetAndStartupPresetReachTheFileOnClose) {
    const auto defaults = settings::defaultPresetList();
    {
        PresetsWindow w(environment(), 0);
        names = {"mine"};
        QTest::mouseClick(w.newButton(), Qt::LeftButton);
        QTest::mouseClick(w.resetButton(), Qt::LeftButton); // answered No
        EXPECT_EQ(presets.presets.size(), 7u);
        questions.answer = Answer::Yes;
        QTest::mouseClick(w.resetButton(), Qt::LeftButton);
        EXPECT_EQ(presets.presets, defaults.presets);
        EXPECT_EQ(w.presetList()->count(), 5);

        w.startupCombo()->setCurrentIndex(3);
        emit w.startupCombo()->activated(3);
        EXPECT_EQ(presets.currentIndex, 3u);
        w.show();
        QTest::keyClick(&w, Qt::Key_Escape);
    }
    settings::PresetList read;
    (void)settings::readPresets(dir.file("Presets"), read);
    EXPECT_EQ(read.presets, defaults.presets);
    EXPECT_EQ(read.currentIndex, 3u);
}

} // namespace
} // namespace quill::app::ui
