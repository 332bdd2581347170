// The Help menu's windows: the help topics, the licence, the version and the about window.
#include "app/ui/help_dialogs.h"

#include "app/ui/main_menu.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"
#include "toolkit/qt/text_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

#include <iterator>
#include <utility>

namespace quill::app::ui {

namespace text = settings::text;
namespace {

QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}
QString info(int index) {
    return QString::fromStdString(settings::programInfoText(index));
}

/// The help topics in menu order: title and text entries.
constexpr std::pair<int, int> kHelpTopics[] = {
    {text::kPlaceholdersTitle, text::kPlaceholdersText},
    {text::kFilterConditionsTitle, text::kFilterConditionsText},
    {text::kOutputNamesTitle, text::kOutputNamesText},
    {text::kCommandLineTitle, text::kCommandLineText},
    {text::kKeyboardShortcutsTitle, text::kKeyboardShortcutsText},
    {text::kSupportedFormatsTitle, text::kSupportedFormatsText},
    {text::kMetadataFileDatesTitle, text::kMetadataFileDatesText}};
static_assert(std::size(kHelpTopics) == kHelpTopicCount, "one help topic per Help menu item");

} // namespace

void showAllHelpTopics(QWidget* parent) {
    QString all;
    for (const auto& [title, text] : kHelpTopics)
        all += T(title) + QStringLiteral("\n") + T(text) + QStringLiteral("\n\n");
    toolkit::qt::showTextDialog(parent, T(text::kHelpTopics).remove(QLatin1Char('&')),
                                all.trimmed());
}

void showHelpTopic(QWidget* parent, int topic) {
    if (topic < 0 || topic >= kHelpTopicCount) return;
    const auto& [title, text] = kHelpTopics[topic];
    toolkit::qt::showTextDialog(parent, T(title), T(text));
}

void showLicense(QWidget* parent) {
    toolkit::qt::showTextDialog(parent, T(text::kLicenseLabel),
                                info(settings::info::kCopyrightShort) + QStringLiteral("\n\n") +
                                    info(settings::info::kLicenseShort));
}

void showVersion(QWidget* parent, toolkit::qt::Questions& questions) {
    questions.ask(parent, toolkit::qt::BoxKind::Information, T(text::kVersionLabel),
                  info(settings::info::kProgramName) + QLatin1Char(' ') +
                      info(settings::info::kVersionText) + QStringLiteral("\nQt ") +
                      QString::fromLatin1(qVersion()));
}

void showAbout(QWidget* parent, const AppContext& context) {
    QDialog about(parent);
    about.setWindowTitle(T(text::kAboutTitle));
    auto* layout = new QVBoxLayout(&about);
    auto* name = new QLabel(info(settings::info::kProgramName) + QLatin1Char(' ') +
                            info(settings::info::kVersionText));
    QFont font = name->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.5);
    name->setFont(font);
    layout->addWidget(name);
    const QString where =
        context.portableMode ? T(text::kSettingsSavedNextProgram) : T(text::kSettingsSavedPerUser);
    for (const QString& line : {T(text::kBatchImageModifier), info(settings::info::kDescription),
                                info(settings::info::kCopyright), info(settings::info::kThanks),
                                where, QString::fromStdString(context.presetsFilePath)}) {
        auto* label = new QLabel(line);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(label);
    }
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(T(text::kClose), QDialogButtonBox::AcceptRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(buttons);
    about.setMinimumWidth(360);
    about.exec(); // modal: the main window stays disabled while it is open
}

} // namespace quill::app::ui
