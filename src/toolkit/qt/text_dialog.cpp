// Temporary stand-in for the text dialog until the real one is merged.
#include "toolkit/qt/text_dialog.h"

#include <QMessageBox>

namespace quill::toolkit::qt {

void showTextDialog(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::information(parent, title, text);
}

} // namespace quill::toolkit::qt
