// The texts of every language against the window they describe: each menu's mnemonics are
// unique, the help's key list names exactly the keys the main window answers, the placeholder
// help names every placeholder, and the status line reads as "label: number".
#include "main_window_fixture.h"

#include "settings/language_pack.h"
#include "settings/placeholders.h"
#include "settings/ui_text_ids.h"
#include "toolkit/qt/questions.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace quill::app::ui {
namespace {

namespace text = settings::text;

std::string languageCode(int language) {
    return settings::languages()[std::size_t(language)].code;
}

/// The key a text's mnemonic marker chooses, case-folded ("&Open" and "&over" clash); empty
/// when the text has none. "&&" is a literal ampersand.
QString mnemonicOf(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text.mid(i + 1, 1).toCaseFolded();
    }
    return {};
}

/// The clashes among the mnemonics of one menu or dialog, one line each.
QStringList clashes(const QString& where, const QStringList& texts) {
    QStringList found;
    std::map<QString, QString> owner;
    for (const QString& shown : texts) {
        const QString text = shown.section(QLatin1Char('\t'), 0, 0);
        const QString key = mnemonicOf(text);
        if (key.isEmpty()) continue;
        if (!key[0].isLetterOrNumber())
            found << QStringLiteral("%1: \"%2\" marks no letter").arg(where, text);
        const auto [it, added] = owner.emplace(key, text);
        if (!added) found << QStringLiteral("%1: \"%2\" and \"%3\"").arg(where, it->second, text);
    }
    return found;
}

/// The texts of a menu's items and submenus, and the clashes of the menu and every submenu.
QStringList menuClashes(const QString& where, const QList<QAction*>& actions) {
    QStringList texts;
    QStringList found;
    for (const QAction* action : actions) {
        if (action->isSeparator()) continue;
        texts << action->text();
        if (QMenu* sub = action->menu())
            found << menuClashes(where + QStringLiteral(" > ") + action->text(), sub->actions());
    }
    return clashes(where, texts) + found;
}

/// Opens the context menu of a pattern field and returns the clashes of the menu that shows.
QStringList contextMenuClashes(QLineEdit* edit) {
    QStringList found;
    bool seen = false;
    // Looked at from inside the menu's own event loop; the timer goes with this function.
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            seen = true;
            found = menuClashes(QStringLiteral("context menu"), menu->actions());
            menu->close();
        }
    });
    timer.start(0);
    emit edit->customContextMenuRequested(QPoint(2, 2));
    if (!seen) found << QStringLiteral("the pattern field's context menu did not open");
    return found;
}

/// The clashes among the buttons of the box `show` opens, looked at while it is open.
template <class Show> QStringList boxClashes(const QString& where, Show show) {
    QStringList found;
    bool seen = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = true;
            QStringList texts;
            for (const QAbstractButton* button : box->buttons())
                texts << button->text();
            found = clashes(where, texts);
            box->reject();
        }
    });
    timer.start(0);
    show();
    if (!seen) found << where + QStringLiteral(" did not open");
    return found;
}

/// The question boxes of the program: Yes and No, and the four answers of the overwrite question.
QStringList questionBoxClashes(QWidget* parent) {
    auto& questions = toolkit::qt::dialogQuestions();
    return boxClashes(
               QStringLiteral("question box"),
               [&] { (void)questions.ask(parent, toolkit::qt::BoxKind::Question, "?", "?"); }) +
           boxClashes(QStringLiteral("overwrite question"),
                      [&] { (void)questions.askOverwrite(parent, "?", "?"); });
}

class LanguageTextsTest : public MainWindowFixture {};

/// A key as the help writes it, in Qt's portable form: the language's word for Ctrl and its name
/// of the Escape key are replaced by Qt's.
QString portableKey(QString key) {
    key = key.trimmed();
    key.replace(T(text::kCtrl) + QLatin1Char('+'), QStringLiteral("Ctrl+"));
    for (const char* escape : {"Escape", "Esc",
                               "\xC3\x89"
                               "chap"})
        if (key == QString::fromUtf8(escape)) return QStringLiteral("Esc");
    return key;
}

/// The keys the help's key list names: the part of each line before its colon; "X+0..9" stands
/// for the ten digits.
std::set<QString> keysInHelp(QStringList* unreadable) {
    std::set<QString> keys;
    for (const QString& line : T(text::kKeyboardShortcutsText).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^([^:\uFF1A]+?)[\\s\u00A0\u202F]*[:\uFF1A]"))
                .match(line);
        if (!match.hasMatch()) {
            *unreadable << line;
            continue;
        }
        const QString key = portableKey(match.captured(1));
        if (key.endsWith(QStringLiteral("0..9"))) {
            for (int digit = 0; digit <= 9; ++digit)
                keys.insert(key.chopped(4) + QString::number(digit));
            continue;
        }
        const QKeySequence sequence = QKeySequence::fromString(key, QKeySequence::PortableText);
        if (sequence.isEmpty() || sequence.toString(QKeySequence::PortableText) != key)
            *unreadable << line;
        keys.insert(sequence.toString(QKeySequence::PortableText));
    }
    return keys;
}

/// The keys the main window answers: its shortcuts, and the keys the image list handles itself.
std::set<QString> windowKeys(MainWindow& window) {
    std::set<QString> keys;
    for (const QShortcut* shortcut : window.findChildren<QShortcut*>())
        if (shortcut->isEnabled())
            keys.insert(shortcut->key().toString(QKeySequence::PortableText));
    for (const QKeySequence& selectAll : QKeySequence::keyBindings(QKeySequence::SelectAll))
        keys.insert(selectAll.toString(QKeySequence::PortableText));
    return keys;
}

/// The keys the menus show after a tab, in portable form.
std::set<QString> keysInMenus(const QList<QAction*>& actions) {
    std::set<QString> keys;
    for (const QAction* action : actions) {
        if (QMenu* sub = action->menu()) keys.merge(keysInMenus(sub->actions()));
        const QString shown = action->text().section(QLatin1Char('\t'), 1);
        if (!shown.isEmpty()) keys.insert(portableKey(shown));
    }
    return keys;
}

std::string joined(const std::set<QString>& keys) {
    return QStringList(keys.begin(), keys.end()).join(QLatin1Char(' ')).toStdString();
}

// Every language: each menu, the pattern field's context menu and the question boxes have unique
// mnemonics, and the help's key list names exactly the keys the window answers, among them every
// key a menu shows.
TEST_F(LanguageTextsTest, UniqueMnemonicsAndTheHelpsKeyListNamesExactlyTheWindowsKeys) {
    // The image list's own select-all key really selects every image.
    loadAndWait(sampleFolder());
    window().imageView()->setFocus();
    QTest::keyClick(window().imageView(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window().imageView()->selectionModel()->selectedRows().size(), 3);

    for (int language = 0; language < settings::kLanguageCount; ++language) {
        SCOPED_TRACE(languageCode(language));
        openIn(language);
        QStringList found = menuClashes(QStringLiteral("menu bar"), window().menuBar()->actions());
        auto* pattern = window().findChild<QLineEdit*>();
        for (QLineEdit* edit : window().findChildren<QLineEdit*>())
            if (edit->contextMenuPolicy() == Qt::CustomContextMenu) pattern = edit;
        ASSERT_TRUE(pattern);
        found << contextMenuClashes(pattern) << questionBoxClashes(&window());
        EXPECT_TRUE(found.isEmpty()) << found.join(QStringLiteral("\n")).toStdString();

        QStringList unreadable;
        const std::set<QString> help = keysInHelp(&unreadable);
        EXPECT_TRUE(unreadable.isEmpty()) << unreadable.join(" | ").toStdString();
        const std::set<QString> real = windowKeys(window());
        EXPECT_EQ(joined(help), joined(real)) << "help list (left) and window keys (right)";
        const std::set<QString> menus = keysInMenus(window().menuBar()->actions());
        for (const QString& key : menus)
            EXPECT_TRUE(real.count(key)) << "the menu shows " << key.toStdString();
    }
}

TEST_F(LanguageTextsTest, ThePlaceholderHelpNamesEveryPlaceholder) {
    std::vector<std::string> tokens = {"%PD%", "%PP%", "%PC%", "%PF%", "%001%"};
    for (const settings::ImageToken& token : settings::kImageTokens)
        tokens.emplace_back(token.text);
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        ASSERT_TRUE(settings::loadUiTexts(language));
        const std::string help = settings::uiText(text::kPlaceholdersText);
        for (const std::string& token : tokens)
            EXPECT_NE(help.find(token), std::string::npos)
                << languageCode(language) << ": " << token;
    }
}

/// The status bar's line of image counts.
QString countLine(MainWindow& window) {
    for (const QLabel* label : window.statusBar()->findChildren<QLabel*>())
        if (!label->text().isEmpty() && label->text() != T(text::kSettingsInNoPreset))
            return label->text();
    return {};
}

/// Empty when every number of `line` follows a label and its colon ("Images: 2"), else why not.
/// A number that comes first needs a word that agrees with it, which a fixed word cannot do.
QString numbersAfterLabels(const QString& line, const std::vector<int>& numbers) {
    static const QRegularExpression number(QStringLiteral("\\d+"));
    static const QRegularExpression labelled(
        QStringLiteral("\\w[\\s\u00A0\u202F]*[:\uFF1A][\\s\u00A0\u202F]*$"),
        QRegularExpression::UseUnicodePropertiesOption);
    for (int value : numbers)
        if (!line.contains(QString::number(value)))
            return QStringLiteral("%1 is missing").arg(value);
    for (auto it = number.globalMatch(line); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (!labelled.match(line.left(match.capturedStart())).hasMatch())
            return QStringLiteral("%1 follows no label").arg(match.captured());
    }
    return {};
}

TEST_F(LanguageTextsTest, TheStatusLineGivesEachCountAfterItsLabel) {
    // The line without and with a selection: one text each, whatever the numbers.
    const std::string folder = sampleFolder();
    for (int language = 0; language < settings::kLanguageCount; ++language) {
        SCOPED_TRACE(languageCode(language));
        openIn(language);
        loadAndWait(folder);
        ASSERT_EQ(window().model().rowCount(), 3);
        QItemSelectionModel* selection = window().imageView()->selectionModel();
        for (const int selected : {0, 2}) {
            selection->clearSelection();
            for (int row = 0; row < selected; ++row)
                selection->select(window().model().index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
            const QString line = countLine(window());
            std::vector<int> numbers = {3};
            if (selected > 0) numbers.push_back(selected);
            EXPECT_EQ(numbersAfterLabels(line, numbers).toStdString(), "")
                << selected << " selected: " << line.toStdString();
        }
    }
}

} // namespace
} // namespace quill::app::ui
