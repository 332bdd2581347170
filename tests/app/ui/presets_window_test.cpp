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

#include <deque>
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
    std::deque<QString> names;

    PresetsWindowEnvironment environment() {
        return {presets,
                working,
                dir.file("Presets"),
                questions,
                {},
                [this](QWidget*) -> std::optional<QString> {
                    if (names.empty()) return std::nullopt;
                    QString n = names.front();
                    names.pop_front();
                    return n;
                }};
    }
    std::vector<std::string> rows(const PresetsWindow& w) {
        std::vector<std::string> out;
        for (int r = 0; r < w.presetList()->count(); ++r)
            out.push_back(w.presetList()->item(r)->text().toStdString());
        return out;
    }
};

TEST_F(PresetsWindowTest, ListsUserPresetsAndStoresNewOnesUnderUniqueNames) {
    PresetsWindow w(environment(), 0);
    ASSERT_EQ(w.presetList()->count(), 5); // preset 0 is not listed
    EXPECT_EQ(rows(w)[0], "1)  " + presets.presets[1].name);

    working.resizeEnabled = 1;
    working.resizeWidth = 321;
    // A clash answered No continues with " 2"; preset 0's name is no clash.
    const std::string clash = presets.presets[2].name;
    names = {QString::fromStdString(clash).toUpper(),
             QString::fromStdString(presets.presets[0].name)};
    questions.answers = {Answer::No};
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    ASSERT_EQ(presets.presets.size(), 7u);
    EXPECT_EQ(presets.presets[6].name,
              QString::fromStdString(clash).toUpper().toStdString() + " 2");
    EXPECT_EQ(presets.presets[6].index, 6);
    EXPECT_EQ(presets.presets[6].resizeWidth, 321);
    EXPECT_EQ(w.presetList()->currentRow(), 5);

    const settings::Preset before0 = presets.presets[0];
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets.size(), 8u);
    EXPECT_EQ(presets.presets[0], before0);
    EXPECT_EQ(questions.texts.size(), 1u);

    // Yes overwrites the matching preset in place.
    working.resizeWidth = 999;
    names = {QString::fromStdString(presets.presets[3].name)};
    questions.answers = {Answer::Yes};
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets.size(), 8u);
    EXPECT_EQ(presets.presets[3].resizeWidth, 999);
    EXPECT_EQ(presets.presets[3].index, 3);

    // Nine user presets: "new" is disabled.
    names = {"eight"};
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    EXPECT_TRUE(w.newButton()->isEnabled());
    names = {"nine"};
    QTest::mouseClick(w.newButton(), Qt::LeftButton);
    EXPECT_EQ(w.presetList()->count(), 9);
    EXPECT_FALSE(w.newButton()->isEnabled());
}

TEST_F(PresetsWindowTest, ButtonStatesDeleteAndReorder) {
    PresetsWindow w(environment(), 0);
    EXPECT_FALSE(w.deleteButton()->isEnabled());
    EXPECT_FALSE(w.upButton()->isEnabled());
    w.presetList()->setCurrentRow(0);
    EXPECT_TRUE(w.deleteButton()->isEnabled());
    EXPECT_FALSE(w.upButton()->isEnabled());
    EXPECT_TRUE(w.downButton()->isEnabled());
    w.presetList()->setCurrentRow(4);
    EXPECT_FALSE(w.downButton()->isEnabled());

    const std::string first = presets.presets[1].name;
    const std::string second = presets.presets[2].name;
    presets.currentIndex = 1;
    w.presetList()->setCurrentRow(0);
    QTest::mouseClick(w.downButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets[1].name, second);
    EXPECT_EQ(presets.presets[1].index, 1);
    EXPECT_EQ(presets.presets[2].name, first);
    EXPECT_EQ(presets.presets[2].index, 2);
    EXPECT_EQ(presets.currentIndex, 2u); // the start-up preset follows its preset
    EXPECT_EQ(w.presetList()->currentRow(), 1);
    QTest::mouseClick(w.upButton(), Qt::LeftButton);
    EXPECT_EQ(presets.presets[1].name, first);

    w.presetList()->setCurrentRow(1);
    QTest::mouseClick(w.deleteButton(), Qt::LeftButton);
    ASSERT_EQ(presets.presets.size(), 5u);
    for (std::size_t p = 0; p < presets.presets.size(); ++p)
        EXPECT_EQ(presets.presets[p].index, p);
    EXPECT_EQ(w.presetList()->count(), 4);
    EXPECT_EQ(w.startupCombo()->count(), 5);
}

TEST_F(PresetsWindowTest, ResetAndStartupPresetReachTheFileOnClose) {
    const auto defaults = settings::defaultPresetList();
    {
        PresetsWindow w(environment(), 0);
        names = {"mine"};
        QTest::mouseClick(w.newButton(), Qt::LeftButton);
        questions.answers = {Answer::No};
        QTest::mouseClick(w.resetButton(), Qt::LeftButton);
        EXPECT_EQ(presets.presets.size(), 7u);
        questions.answers = {Answer::Yes};
        QTest::mouseClick(w.resetButton(), Qt::LeftButton);
        EXPECT_EQ(presets.presets, defaults.presets);
        EXPECT_EQ(w.presetList()->count(), 5);

        w.startupCombo()->setCurrentIndex(3);
        emit w.startupCombo()->activated(3);
        EXPECT_EQ(presets.currentIndex, 3u);
        w.show();
        QTest::keyClick(&w, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible());
    }
    settings::PresetList read;
    settings::readPresets(dir.file("Presets"), read);
    EXPECT_EQ(read.presets, defaults.presets);
    EXPECT_EQ(read.currentIndex, 3u);
}

TEST_F(PresetsWindowTest, ModeOneAsksAtOnceAndClosesAfterANewPreset) {
    names = {"quick"};
    PresetsWindow w(environment(), 1);
    bool closed = false;
    QObject::connect(&w, &PresetsWindow::presetsClosed, [&](bool written) { closed = written; });
    w.show();
    for (int i = 0; i < 100 && !closed; ++i)
        QTest::qWait(10);
    EXPECT_TRUE(closed);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(presets.presets.back().name, "quick");
    EXPECT_TRUE(std::filesystem::exists(dir.file("Presets")));
}

} // namespace
} // namespace quill::app::ui
