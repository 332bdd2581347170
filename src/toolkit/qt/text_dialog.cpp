// The small text dialog.
#include "toolkit/qt/text_dialog.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace quill::toolkit::qt {

QDialog* createTextDialog(QWidget* parent, const QString& title, const QString& text,
                          const TextDialogLayout& layout) {
    auto* dialog =
        new QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog->setObjectName(QStringLiteral("textDialog"));
    dialog->setWindowTitle(title);
    dialog->setWindowIcon(QIcon());

    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* label = new QLabel(body, dialog);
    label->setObjectName(QStringLiteral("text"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setMinimumWidth(layout.textWidth);
    label->setMinimumHeight(std::max(layout.textHeight, label->heightForWidth(layout.textWidth)));

    auto* ok = new QPushButton(QStringLiteral("OK"), dialog);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setMinimumSize(140, 23);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addStretch(1);
    auto* column = new QVBoxLayout(dialog);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(20);
    column->addWidget(label, 1);
    column->addLayout(buttons);

    dialog->adjustSize();
    if (layout.resizable) {
        dialog->setMinimumSize(dialog->size());
    } else {
        dialog->setFixedSize(dialog->size());
        dialog->setSizeGripEnabled(false);
    }
    return dialog;
}

void showTextDialog(QWidget* parent, const QString& title, const QString& text,
                    const TextDialogLayout& layout) {
    std::unique_ptr<QDialog> dialog(createTextDialog(parent, title, text, layout));
    dialog->exec();
}

void showTextDialog(QWidget* parent, const QString& title, const QString& text) {
    showTextDialog(parent, title, text, TextDialogLayout{});
}

} // namespace quill::toolkit::qt
