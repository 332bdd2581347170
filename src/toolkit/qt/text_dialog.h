// The small text dialog: a word-wrapped text and an OK button, used for help and explanations.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace quill::toolkit::qt {

/// How the text dialog is laid out.
struct TextDialogLayout {
    int textWidth = 340;   ///< width of the text area in pixels (at 96 dpi)
    int textHeight = 0;    ///< height reserved for the text; the text's own height when larger
    bool resizable = true; ///< the dialog can grow; the text follows all edges
};

/// Shows the text dialog modally; `parent` is disabled while it is open.
void showTextDialog(QWidget* parent, const QString& title, const QString& text);
void showTextDialog(QWidget* parent, const QString& title, const QString& text,
                    const TextDialogLayout& layout);

/// Builds the dialog without showing it (the caller shows and deletes it); for windows that must
/// not block and for pictures of it.
[[nodiscard]] QDialog* createTextDialog(QWidget* parent, const QString& title, const QString& text,
                                        const TextDialogLayout& layout);

} // namespace quill::toolkit::qt
