// The message-box implementation of the questions interface.
#include "toolkit/qt/questions.h"

#include <QMessageBox>

namespace quill::toolkit::qt {
namespace {

QMessageBox::Icon iconOf(BoxKind kind) {
    switch (kind) {
    case BoxKind::Information:
        return QMessageBox::Information;
    case BoxKind::Warning:
        return QMessageBox::Warning;
    case BoxKind::Question:
    case BoxKind::DestructiveQuestion:
    case BoxKind::SaveQuestion:
        return QMessageBox::Question;
    case BoxKind::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

/// Texts of the program use CR LF line ends; Qt wants line feeds.
QString plainLines(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

class DialogQuestions final : public Questions {
public:
    Answer ask(QWidget* parent, BoxKind kind, const QString& title, const QString& text) override {
        QMessageBox box(iconOf(kind), title, plainLines(text), QMessageBox::NoButton, parent);
        if (kind == BoxKind::SaveQuestion) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::Cancel);
        } else if (isQuestion(kind)) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            // Enter must never remove or replace anything by accident.
            box.setDefaultButton(kind == BoxKind::Question ? QMessageBox::Yes : QMessageBox::No);
            box.setEscapeButton(QMessageBox::No);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        const int result = box.exec();
        if (!isQuestion(kind)) return Answer::Ok;
        if (result == QMessageBox::Cancel) return Answer::Cancel;
        return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }

    OverwriteAnswer askOverwrite(QWidget* parent, const QString& title,
                                 const QString& text) override {
        QMessageBox box(QMessageBox::Question, title, plainLines(text),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll |
                            QMessageBox::NoToAll,
                        parent);
        box.setDefaultButton(QMessageBox::No);
        // Closing the box skips this one file.
        box.setEscapeButton(QMessageBox::No);
        switch (box.exec()) {
        case QMessageBox::Yes:
            return OverwriteAnswer::ReplaceThis;
        case QMessageBox::YesToAll:
            return OverwriteAnswer::ReplaceAll;
        case QMessageBox::NoToAll:
            return OverwriteAnswer::SkipAll;
        default:
            return OverwriteAnswer::SkipThis;
        }
    }
};

} // namespace

Questions& dialogQuestions() {
    static DialogQuestions questions;
    return questions;
}

} // namespace quill::toolkit::qt
