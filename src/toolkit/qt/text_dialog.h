// A dialog that shows a longer text (help topics, reports).
#pragma once

#include <QString>

class QWidget;

namespace quill::toolkit::qt {

void showTextDialog(QWidget* parent, const QString& title, const QString& text);

} // namespace quill::toolkit::qt
