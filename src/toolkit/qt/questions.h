// The one route of every message box of the windows, so that tests can answer them.
#pragma once

#include <QString>

class QWidget;

namespace quill::toolkit::qt {

enum class BoxKind { Information, Warning, Question, Critical };
enum class Answer { Ok, Yes, No };

/// Every message box of the windows goes through this, so tests answer them.
class Questions {
public:
    virtual ~Questions() = default;
    virtual Answer ask(QWidget* parent, BoxKind kind, const QString& title,
                       const QString& text) = 0;
};

/// The dialog implementation (QMessageBox; Question kind has Yes/No, the others OK).
Questions& dialogQuestions();

} // namespace quill::toolkit::qt
