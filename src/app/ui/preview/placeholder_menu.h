// Insertion menus of the pattern, wildcard and size fields of the settings pages, and the rules
// by which an inserted entry changes the field.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QWidget;

namespace quill::app::ui {

/// The fields that have a token or wildcard menu.
enum class InsertField { FilterValue, OverlayText, CommentText, RenamePattern, OutputDirPattern };

/// The entries of a field's menu, in menu order.
[[nodiscard]] QStringList insertionEntries(InsertField field);

/// A field's text after an insertion and the caret position in it.
struct Insertion {
    QString text;
    int caret = 0;
};

/// What an entry of an insertion menu stands for, in the current language ("File name" for
/// "%FN%"); empty for an entry it does not know.
[[nodiscard]] QString insertionMeaning(const QString& entry);

/// Inserts `entry` into `text` at `caret`, with the two replacement rules: "%001%" in a rename
/// pattern replaces an existing numbering token, and a path token in an output directory pattern
/// replaces the path token the pattern begins with (or goes in front of the pattern when it has
/// none, since a path token means something only at the start). A replacement puts the caret at
/// the end; an insertion puts it after the inserted text.
[[nodiscard]] Insertion insertEntry(InsertField field, const QString& text, int caret,
                                    const QString& entry);

/// Applies insertEntry to a field widget at its caret.
void insertIntoField(QLineEdit* edit, InsertField field, const QString& entry);
void insertIntoField(QPlainTextEdit* edit, InsertField field, const QString& entry);

/// A menu of the entries of `field` that inserts the chosen entry into `edit`.
QMenu* makeInsertionMenu(QWidget* parent, QLineEdit* edit, InsertField field);
QMenu* makeInsertionMenu(QWidget* parent, QPlainTextEdit* edit, InsertField field);

/// The sizes of the resize and canvas menus: five fixed sizes, then the primary screen's size.
[[nodiscard]] std::vector<QSize> sizeEntries();
/// The percent values of the resize percent menu.
[[nodiscard]] std::vector<int> percentEntries();

/// A menu of sizeEntries(); choosing one calls `chosen` with width and height (the caller
/// writes both fields and, for the resize step, selects the pixel mode).
QMenu* makeSizeMenu(QWidget* parent, std::function<void(int width, int height)> chosen);
/// A menu of percentEntries(); the caller writes the value and selects the percent mode.
QMenu* makePercentMenu(QWidget* parent, std::function<void(int percent)> chosen);

} // namespace quill::app::ui
