// The message-box implementation of the questions interface.
#include "toolkit/qt/questions.h"

#include <QAbstractButton>
#include <QMessageBox>

#include <set>

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

/// The position of the character a text's single "&" marks ("&&" is a literal ampersand), or -1.
qsizetype mnemonicAt(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] != QLatin1Char('&')) return i + 1;
        ++i;
    }
    return -1;
}

/// The buttons of a box, each with a key of its own (Qt's translations do not always ensure it).
void giveButtonsUniqueMnemonics(QMessageBox& box) {
    QStringList texts;
    const QList<QAbstractButton*> buttons = box.buttons();
    for (const QAbstractButton* button : buttons)
        texts << button->text();
    texts = withUniqueMnemonics(texts);
    for (qsizetype i = 0; i < buttons.size(); ++i)
        buttons[i]->setText(texts[i]);
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
        giveButtonsUniqueMnemonics(box);
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
        giveButtonsUniqueMnemonics(box);
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

QStringList withUniqueMnemonics(const QStringList& texts) {
    QStringList result = texts;
    std::set<QString> taken;
    const auto key = [](QChar c) { return QString(c).toCaseFolded(); };
    for (QString& text : result) {
        const qsizetype at = mnemonicAt(text);
        if (at < 0) continue;
        if (taken.insert(key(text[at])).second) continue;
        text.remove(at - 1, 1);
        const auto free = [&](qsizetype i) {
            return text[i].isLetterOrNumber() && !taken.count(key(text[i])) &&
                   (i == 0 || text[i - 1] != QLatin1Char('&'));
        };
        const auto wordStart = [&](qsizetype i) { return i == 0 || !text[i - 1].isLetter(); };
        const auto ascii = [&](qsizetype i) { return text[i].unicode() < 0x80; };
        const auto firstFree = [&](auto rule) -> qsizetype {
            for (qsizetype i = 0; i < text.size(); ++i)
                if (free(i) && rule(i)) return i;
            return -1;
        };
        qsizetype chosen = firstFree(wordStart);
        if (chosen < 0) chosen = firstFree(ascii);
        if (chosen < 0) chosen = firstFree([](qsizetype) { return true; });
        if (chosen < 0) continue;
        taken.insert(key(text[chosen]));
        text.insert(chosen, QLatin1Char('&'));
    }
    return result;
}

Questions& dialogQuestions() {
    static DialogQuestions questions;
    return questions;
}

} // namespace quill::toolkit::qt
