// Message boxes of the windows behind one interface, so that tests can answer them.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace quill::toolkit::qt {

/// The icon and buttons of a box: the questions have Yes and No, the others OK.
enum class BoxKind {
    Information,
    Warning,
    Question, ///< Yes and No; Enter answers Yes
    /// Yes and No, where Yes removes or replaces something (files, presets, the image list):
    /// Enter answers No.
    DestructiveQuestion,
    /// Yes, No and Cancel, asked before leaving unsaved work: Yes saves, No leaves it unsaved,
    /// Cancel (and Escape) stays. Enter answers Yes.
    SaveQuestion,
    Critical,
};
/// Whether a box of this kind asks Yes or No.
[[nodiscard]] constexpr bool isQuestion(BoxKind kind) {
    return kind == BoxKind::Question || kind == BoxKind::DestructiveQuestion ||
           kind == BoxKind::SaveQuestion;
}
/// The button that closed a box.
enum class Answer { Ok, Yes, No, Cancel };
/// The four answers of the overwrite question.
enum class OverwriteAnswer { ReplaceThis, SkipThis, ReplaceAll, SkipAll };

/// Every message box of the windows goes through this, so tests answer them.
class Questions {
public:
    virtual ~Questions() = default;
    virtual Answer ask(QWidget* parent, BoxKind kind, const QString& title,
                       const QString& text) = 0;
    /// Whether to replace an existing output file. The default asks a Yes/No question (Yes
    /// replaces this one, No skips it); the dialog implementation offers all four answers.
    virtual OverwriteAnswer askOverwrite(QWidget* parent, const QString& title,
                                         const QString& text) {
        return ask(parent, BoxKind::DestructiveQuestion, title, text) == Answer::Yes
                   ? OverwriteAnswer::ReplaceThis
                   : OverwriteAnswer::SkipThis;
    }
};

/// The dialog implementation (QMessageBox; the questions have Yes/No, the others OK).
Questions& dialogQuestions();

/// Button texts whose mnemonics ("&" markers) choose different keys: a text whose key an earlier
/// one already has gets the first free letter that starts one of its words, else the first free
/// ASCII letter or digit, else any free letter; with none free it loses its marker. Otherwise a
/// key press would only move the focus between the buttons that share it.
[[nodiscard]] QStringList withUniqueMnemonics(const QStringList& texts);

} // namespace quill::toolkit::qt
