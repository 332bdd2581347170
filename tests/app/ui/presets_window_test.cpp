// The presets window driven through its buttons, with the name box and the questions answered by
// the test.
#include "app/ui/preview/presets_window.h"
#include "preview_ui_test_support.h"
#include "settings/setting_files.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

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
    int current = 3; ///< the preset the working settings belong to
    test::ScriptedQuestions questions;
    QStringList names; ///< the answers of the name box, in turn

    PresetsWindowEnvironment environment() {
        const auto nextName = [this] {
            return names.isEmpty() ? std::optional<QString>() : names.takeFirst();
        };
        return {presets,
                working,
                current,
                dir.file("Presets"),
                questions,
                {},
                [nextName](QWidget*) { return nextName(); },
                [nextName](QWidget*, const QString&) { return nextName(); }};
    }
};

TEST_F(PresetsWindowTest, ListsUserPresetsAndStoresNewOnesUnderUniqueNames) {
    PresetsWindow w(environment(), PresetsWindowMode::Manage);
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

TEST_F(PresetsWindowTest, ReorderRenumbersAndTheStartupPresetFollows) {
    PresetsWindow w(environment(), PresetsWindowMode::Manage);
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
}

TEST_F(PresetsWindowTest, DeleteActsOnAVisibleSelectionOnlyAndAsksFirst) {
    PresetsWindow w(environment(), PresetsWindowMode::Manage);
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // The list marks its first row as current when it gets the focus, but selects nothing.
    w.presetList()->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    ASSERT_EQ(w.presetList()->currentRow(), 0);
    EXPECT_FALSE(w.deleteButton()->isEnabled());
    EXPECT_FALSE(w.upButton()->isEnabled() || w.downButton()->isEnabled());
    w.deleteSelected();
    EXPECT_TRUE(questions.asked.empty());
    EXPECT_EQ(presets.presets.size(), 6u);

    // A clicked row is selected, and looks it while a button has the focus.
    QListWidget* list = w.presetList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    ASSERT_TRUE(w.deleteButton()->isEnabled());
    const QPalette palette = list->palette();
    EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Highlight),
              palette.color(QPalette::Active, QPalette::Highlight));

    // The question names the preset and defaults to No; No keeps it.
    const std::string name = presets.presets[2].name;
    questions.answer = Answer::No;
    QTest::mouseClick(w.deleteButton(), Qt::LeftButton);
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].kind, toolkit::qt::BoxKind::DestructiveQuestion);
    EXPECT_TRUE(questions.asked[0].text.endsWith(QString::fromStdString(name)))
        << questions.asked[0].text.toStdString();
    EXPECT_EQ(presets.presets.size(), 6u);
    questions.answer = Answer::Yes;
    QTest::mouseClick(w.deleteButton(), Qt::LeftButton);
    ASSERT_EQ(presets.presets.size(), 5u);
    EXPECT_NE(presets.presets[2].name, name);
    EXPECT_EQ(presets.presets[4].index, 4u);
    EXPECT_EQ(w.presetList()->count(), 4);
    EXPECT_EQ(w.startupCombo()->count(), 5);
}

// Moves are tested with what Ctrl+S writes afterwards, in the main window.
TEST_F(PresetsWindowTest, TheWorkingSettingsPresetIsNoneOnceDeletedOrResetAndTheNewOneAfterNew) {
    enum class Act { Delete, Reset, New };
    struct Case {
        const char* name;
        int current; ///< before
        Act act;
        int row; ///< the selected row (preset row + 1)
        Answer answer;
        int expected; ///< after
    };
    const Case cases[] = {
        {"deleted", 3, Act::Delete, 2, Answer::Yes, -1},
        {"delete answered No", 3, Act::Delete, 2, Answer::No, 3},
        {"a later one deleted", 3, Act::Delete, 3, Answer::Yes, 3},
        {"an earlier one deleted", 5, Act::Delete, 0, Answer::Yes, 4},
        {"preset 0 stays", 0, Act::Delete, 0, Answer::Yes, 0},
        {"reset", 0, Act::Reset, -1, Answer::Yes, -1},
        {"reset answered No", 3, Act::Reset, -1, Answer::No, 3},
        {"stored as new", 3, Act::New, -1, Answer::Yes, 6},
        {"overwrote another", -1, Act::New, -1, Answer::Yes, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        presets = settings::defaultPresetList();
        current = c.current;
        questions.answer = c.answer;
        questions.asked.clear();
        PresetsWindow w(environment(), PresetsWindowMode::Manage);
        if (c.row >= 0) w.presetList()->setCurrentRow(c.row);
        switch (c.act) {
        case Act::Delete:
            w.deleteButton()->click();
            break;
        case Act::Reset:
            w.resetButton()->click();
            break;
        case Act::New:
            names = {c.current < 0 ? QString::fromStdString(presets.presets[4].name) : "mine"};
            w.newButton()->click();
            break;
        }
        EXPECT_EQ(current, c.expected);
        for (const auto& box : questions.asked)
            EXPECT_EQ(box.kind, toolkit::qt::BoxKind::DestructiveQuestion)
                << box.text.toStdString();
    }
}

// F2 and the button rename the selected preset; the working settings keep belonging to it, a
// name another preset has gets " 2", and cancelled, empty or unchanged names change nothing.
TEST_F(PresetsWindowTest, RenameKeepsNamesUniqueAndReachesTheFileOnClose) {
    const std::string third = presets.presets[3].name;
    const std::string fourth = presets.presets[4].name;
    {
        PresetsWindow w(environment(), PresetsWindowMode::Manage);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        EXPECT_FALSE(w.renameButton()->isEnabled()); // nothing selected
        w.presetList()->setCurrentRow(2);            // preset 3
        ASSERT_TRUE(w.renameButton()->isEnabled());
        names = {"Holiday"};
        QTest::keyClick(w.presetList(), Qt::Key_F2);
        EXPECT_EQ(presets.presets[3].name, "Holiday");
        EXPECT_EQ(w.presetList()->currentItem()->text(), QStringLiteral("3)  Holiday"));
        EXPECT_EQ(current, 3) << "the working settings still belong to the renamed preset";

        for (const QString& answer :
             {QString(), QStringLiteral("   "), QStringLiteral("Holiday")}) {
            names = {answer};
            EXPECT_FALSE(w.renameSelected()) << answer.toStdString();
        }
        names.clear(); // cancelled
        EXPECT_FALSE(w.renameSelected());
        EXPECT_EQ(presets.presets[3].name, "Holiday");

        names = {QString::fromStdString(fourth).toUpper()};
        w.renameButton()->click();
        EXPECT_EQ(presets.presets[3].name,
                  QString::fromStdString(fourth).toUpper().toStdString() + " 2");
        w.accept();
    }
    settings::PresetList stored;
    ASSERT_EQ(settings::readPresets(dir.file("Presets"), stored), settings::PresetsRead::Loaded);
    EXPECT_EQ(stored.presets[3].name, presets.presets[3].name);
    EXPECT_EQ(stored.presets[4].name, fourth);
    EXPECT_NE(third, presets.presets[3].name);
}

TEST_F(PresetsWindowTest, ResetAndStartupPresetReachTheFileOnClose) {
    const auto defaults = settings::defaultPresetList();
    {
        PresetsWindow w(environment(), PresetsWindowMode::Manage);
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

// Keyboard users press Up or Down again and again; the focus must never end on Reset or
// Delete, where the next press of the space bar would destroy presets. The window is named by
// its title for screen readers.
TEST_F(PresetsWindowTest, KeyboardOnlyReorderKeepsTheFocusOffDestructiveButtons) {
    PresetsWindow w(environment(), PresetsWindowMode::Manage);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&w)->text(QAccessible::Name), w.windowTitle());
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
    // Presses `key` while the focus stays on `button`; false when it lands on Reset or Delete.
    const auto pressWhileOn = [&](QWidget* button, Qt::Key key) {
        for (int step = 0; step < 10 && QApplication::focusWidget() == button; ++step) {
            press(key);
            QWidget* focus = QApplication::focusWidget();
            if (focus == w.resetButton() || focus == w.deleteButton()) return false;
        }
        return true;
    };
    w.presetList()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Down); // selects the second row
    const std::string moved = presets.presets[2].name;
    for (int step = 0; step < 5 && QApplication::focusWidget() != w.downButton(); ++step)
        press(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), w.downButton());
    EXPECT_TRUE(pressWhileOn(w.downButton(), Qt::Key_Space));
    EXPECT_EQ(presets.presets.back().name, moved);
    EXPECT_EQ(QApplication::focusWidget(), w.upButton());
    EXPECT_TRUE(pressWhileOn(w.upButton(), Qt::Key_Space));
    EXPECT_EQ(presets.presets[1].name, moved);
    EXPECT_EQ(QApplication::focusWidget(), w.downButton());

    // A delete leaves nothing selected: the focus goes to the list, not on to Reset.
    questions.answer = Answer::Yes;
    w.deleteButton()->setFocus();
    press(Qt::Key_Space);
    EXPECT_EQ(presets.presets.size(), 5u);
    EXPECT_EQ(QApplication::focusWidget(), w.presetList());
}

// The real question box: Enter and Escape both answer No, so no key press resets by itself.
TEST_F(PresetsWindowTest, TheResetQuestionDefaultsToNo) {
    PresetsWindowEnvironment env = environment();
    PresetsWindow w({env.presets,
                     env.workingSettings,
                     env.currentPreset,
                     env.presetsFilePath,
                     toolkit::qt::dialogQuestions(),
                     {},
                     env.askName,
                     env.askRename},
                    PresetsWindowMode::Manage);
    names = {"mine"};
    w.newButton()->click();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&poll, key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            poll.stop();
            EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
            EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::No));
            QTest::keyClick(box, key);
        });
        poll.start(10);
        w.resetButton()->click();
        EXPECT_EQ(presets.presets.size(), 7u) << key;
    }
}

} // namespace
} // namespace quill::app::ui
