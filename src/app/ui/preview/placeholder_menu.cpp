// Insertion menus and their replacement rules.
#include "app/ui/preview/placeholder_menu.h"

#include "settings/language_pack.h"
#include "settings/placeholders.h"
#include "settings/ui_text_ids.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextCursor>

namespace quill::app::ui {
namespace {

const QString kNumberingEntry = QStringLiteral("%001%");
const QStringList kPathTokens = {"%PD%", "%PP%", "%PC%", "%PF%"};

QStringList imageTokens() {
    QStringList tokens;
    for (const auto& token : settings::kImageTokens)
        tokens << QString::fromLatin1(token.text.data(), qsizetype(token.text.size()));
    return tokens;
}

/// Where the numbering token of a pattern lies: "%" followed by 1..9 digits and "%".
bool findNumberingToken(const QString& text, int& start, int& length) {
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        int j = i + 1;
        while (j < text.size() && text[j].isDigit() && text[j].unicode() < 128)
            ++j;
        const int digits = j - i - 1;
        if (digits >= 1 && digits <= 9 && j < text.size() && text[j] == '%') {
            start = i;
            length = digits + 2;
            return true;
        }
    }
    return false;
}

template <typename Apply> QMenu* tokenMenu(QWidget* parent, InsertField field, Apply apply) {
    auto* menu = new QMenu(parent);
    for (const QString& entry : insertionEntries(field)) {
        // The meaning stands in the menu's second column, where shortcuts usually stand.
        const QString meaning = insertionMeaning(entry);
        QAction* action = menu->addAction(meaning.isEmpty() ? entry : entry + '\t' + meaning);
        QObject::connect(action, &QAction::triggered, menu, [apply, entry] { apply(entry); });
    }
    return menu;
}

} // namespace

QStringList insertionEntries(InsertField field) {
    switch (field) {
    case InsertField::FilterValue:
        return {"*", "?", "#", "|"};
    case InsertField::OverlayText:
    case InsertField::CommentText:
        return imageTokens();
    case InsertField::RenamePattern:
        return QStringList{kNumberingEntry} + imageTokens();
    case InsertField::OutputDirPattern:
        return kPathTokens + imageTokens();
    }
    return {};
}

QString insertionMeaning(const QString& entry) {
    namespace text = settings::text;
    static const std::pair<const char*, int> kMeanings[] = {
        {"%FN%", text::kTokenFileName},    {"%FSK%", text::kTokenSizeKib},
        {"%FSM%", text::kTokenSizeMib},    {"%IW%", text::kTokenWidth},
        {"%IH%", text::kTokenHeight},      {"%IR%", text::kTokenMegapixels},
        {"%IC%", text::kTokenColours},     {"%IB%", text::kTokenBrightness},
        {"%DS%", text::kTokenSecond},      {"%DI%", text::kTokenMinute},
        {"%DH%", text::kTokenHour},        {"%DD%", text::kTokenDay},
        {"%DM%", text::kTokenMonth},       {"%DY%", text::kTokenYear},
        {"%001%", text::kTokenNumbering},  {"%PD%", text::kTokenDesktop},
        {"%PP%", text::kTokenDocuments},   {"%PC%", text::kTokenProgramFolder},
        {"%PF%", text::kTokenImageFolder}, {"*", text::kWildcardAnyRun},
        {"?", text::kWildcardOneChar},     {"#", text::kWildcardOneDigit},
        {"|", text::kWildcardOr},
    };
    for (const auto& [token, meaning] : kMeanings)
        if (entry == QLatin1String(token)) return QString::fromStdString(settings::uiText(meaning));
    return {};
}

Insertion insertEntry(InsertField field, const QString& text, int caret, const QString& entry) {
    if (field == InsertField::RenamePattern && entry == kNumberingEntry) {
        int start = 0;
        int length = 0;
        if (findNumberingToken(text, start, length)) {
            QString replaced = text;
            replaced.replace(start, length, entry);
            return {replaced, int(replaced.size())};
        }
    }
    if (field == InsertField::OutputDirPattern && kPathTokens.contains(entry)) {
        const std::string utf8 = text.left(4).toStdString();
        if (settings::leadingPathToken(utf8) != settings::PathToken::None) {
            QString replaced = text;
            replaced.replace(0, 4, entry);
            return {replaced, int(replaced.size())};
        }
        return {entry + text, int(entry.size())};
    }
    const int at = std::clamp(caret, 0, int(text.size()));
    QString inserted = text;
    inserted.insert(at, entry);
    return {inserted, at + int(entry.size())};
}

void insertIntoField(QLineEdit* edit, InsertField field, const QString& entry) {
    const Insertion result = insertEntry(field, edit->text(), edit->cursorPosition(), entry);
    edit->setText(result.text);
    edit->setCursorPosition(result.caret);
    edit->setFocus();
}

void insertIntoField(QPlainTextEdit* edit, InsertField field, const QString& entry) {
    const Insertion result =
        insertEntry(field, edit->toPlainText(), edit->textCursor().position(), entry);
    edit->setPlainText(result.text);
    QTextCursor cursor = edit->textCursor();
    cursor.setPosition(result.caret);
    edit->setTextCursor(cursor);
    edit->setFocus();
}

QMenu* makeInsertionMenu(QWidget* parent, QLineEdit* edit, InsertField field) {
    return tokenMenu(parent, field,
                     [edit, field](const QString& entry) { insertIntoField(edit, field, entry); });
}

QMenu* makeInsertionMenu(QWidget* parent, QPlainTextEdit* edit, InsertField field) {
    return tokenMenu(parent, field,
                     [edit, field](const QString& entry) { insertIntoField(edit, field, entry); });
}

std::vector<QSize> sizeEntries() {
    std::vector<QSize> sizes{{400, 300}, {640, 480}, {800, 600}, {1024, 768}, {1600, 1200}};
    if (const QScreen* screen = QGuiApplication::primaryScreen()) sizes.push_back(screen->size());
    return sizes;
}

std::vector<int> percentEntries() {
    return {25, 50, 75, 150, 200};
}

QMenu* makeSizeMenu(QWidget* parent, std::function<void(int width, int height)> chosen) {
    auto* menu = new QMenu(parent);
    for (const QSize& size : sizeEntries()) {
        QAction* action =
            menu->addAction(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height()));
        QObject::connect(action, &QAction::triggered, menu,
                         [chosen, size] { chosen(size.width(), size.height()); });
    }
    return menu;
}

QMenu* makePercentMenu(QWidget* parent, std::function<void(int percent)> chosen) {
    auto* menu = new QMenu(parent);
    for (int percent : percentEntries()) {
        QAction* action = menu->addAction(QString::number(percent));
        QObject::connect(action, &QAction::triggered, menu, [chosen, percent] { chosen(percent); });
    }
    return menu;
}

} // namespace quill::app::ui
