// Temporary stand-in for the message-box route until the real one is merged.
#include "toolkit/qt/questions.h"

#include <QMessageBox>

namespace quill::toolkit::qt {
namespace {
class DialogQuestions final : public Questions {
public:
    Answer ask(QWidget* parent, BoxKind kind, const QString& title, const QString& text) override {
        switch (kind) {
        case BoxKind::Question:
            return QMessageBox::question(parent, title, text) == QMessageBox::Yes ? Answer::Yes
                                                                                  : Answer::No;
        case BoxKind::Information:
            QMessageBox::information(parent, title, text);
            break;
        case BoxKind::Warning:
            QMessageBox::warning(parent, title, text);
            break;
        case BoxKind::Critical:
            QMessageBox::critical(parent, title, text);
            break;
        }
        return Answer::Ok;
    }
};
} // namespace

Questions& dialogQuestions() {
    static DialogQuestions questions;
    return questions;
}

} // namespace quill::toolkit::qt
