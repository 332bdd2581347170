// The main window's menu bar: its commands by number, the option check items and their bindings.
#include "app/ui/main_menu.h"

#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "settings/ui_text_ids.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace quill::app::ui {

namespace text = settings::text;
namespace {

QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}

/// Where an option's check item sits in the Options menu.
enum class OptionGroup {
    Window,    ///< the list and the window's look
    Loading,   ///< what adding paths takes in, after a separator
    ImageDate, ///< the image date submenu
    AfterRun,  ///< the after-processing submenu
};

/// The option check items, in menu order, with the flags they toggle and their captions.
struct OptionItem {
    MenuCommand command;
    const char* field;
    int caption;
    OptionGroup group;
};
constexpr OptionItem kOptionItems[] = {
    {MenuCommand::DetailsView, "listDisplayOption", text::kImageListDetailsView,
     OptionGroup::Window},
    {MenuCommand::CompactLayout, "windowLayoutOption", text::kCompactWindowLayout,
     OptionGroup::Window},
    {MenuCommand::ScanImageDetails, "scanImageDetails", text::kScanImageDetails,
     OptionGroup::Window},
    {MenuCommand::GridLines, "listStyleOption", text::kShowGridLines, OptionGroup::Window},
    {MenuCommand::IncludeSubdirectories, "includeSubdirectories", text::kIncludeSubdirectories,
     OptionGroup::Loading},
    {MenuCommand::IncludeHiddenFiles, "includeHiddenFiles", text::kIncludeHiddenFiles,
     OptionGroup::Loading},
    {MenuCommand::IncludeVideos, "includeVideos", text::kIncludeVideos, OptionGroup::Loading},
    {MenuCommand::UseExifDate, "useExifDate", text::kUseExifDate, OptionGroup::ImageDate},
    {MenuCommand::UseExifOrientation, "useExifOrientation", text::kUseExifOrientation,
     OptionGroup::ImageDate},
    {MenuCommand::KeepFilteredImages, "keepFilteredImages", text::kKeepFilteredImagesList,
     OptionGroup::AfterRun},
    {MenuCommand::KeepProcessedSources, "keepProcessedSources", text::kKeepProcessedSourcesList,
     OptionGroup::AfterRun},
    {MenuCommand::KeepFailedSources, "keepFailedSources", text::kKeepFailedSourcesList,
     OptionGroup::AfterRun},
    {MenuCommand::LoadOutputImages, "loadOutputImages", text::kLoadOutputImages,
     OptionGroup::AfterRun},
    {MenuCommand::KeepUnprocessedImages, "keepUnprocessedImages", text::kKeepUnprocessedImagesList,
     OptionGroup::AfterRun},
    {MenuCommand::ExitAfterRun, "exitAfterRun", text::kExitAfterProcessing, OptionGroup::AfterRun},
};

} // namespace

MainMenu::MainMenu(QMainWindow& window, const AppContext& context)
    : m_ctrl(T(text::kCtrl) + QLatin1Char('+')) {
    auto* bar = new QMenuBar;
    window.setMenuBar(bar);
    buildFileMenu(*bar);
    buildSettingsMenu(*bar, context);
    buildOptionsMenu(*bar, context);
    buildHelpMenu(*bar);
}

QAction* MainMenu::add(QMenu& menu, MenuCommand command, const QString& text) {
    QAction* action = menu.addAction(text);
    m_actions[command] = action;
    connect(action, &QAction::triggered, this, [this, command] { emit triggered(command); });
    return action;
}

QAction* MainMenu::action(MenuCommand command) const {
    const auto it = m_actions.find(command);
    return it == m_actions.end() ? nullptr : it->second;
}

void MainMenu::checkPreset(int position) {
    for (int i = 0; i < kMenuPresetCount; ++i) {
        if (QAction* a = action(MenuCommand::FirstPreset + i)) a->setChecked(i == position);
    }
}

void MainMenu::buildFileMenu(QMenuBar& bar) {
    QMenu& file = *bar.addMenu(T(text::kFileMenu));
    add(file, MenuCommand::StartRun, T(text::kStartProcessing) + QStringLiteral("\tF5"));
    add(file, MenuCommand::StartPreview,
        T(text::kStartPreview) + QLatin1Char('\t') + m_ctrl + QLatin1Char('D'));
    add(file, MenuCommand::RunSeveralPresets,
        T(text::kRunWithSeveralPresets) + QStringLiteral("..."));
    file.addSeparator();
    add(file, MenuCommand::AddFiles,
        T(text::kAddFiles) + QStringLiteral("...\t") + m_ctrl + QLatin1Char('L'));
    add(file, MenuCommand::AddFolder, T(text::kAddFolder) + QStringLiteral("..."));
    file.addSeparator();
    add(file, MenuCommand::Exit, T(text::kExit));
}

void MainMenu::buildSettingsMenu(QMenuBar& bar, const AppContext& context) {
    QMenu& settingsMenu = *bar.addMenu(T(text::kSettings));
    add(settingsMenu, MenuCommand::Save,
        T(text::kSaveSettingsPreset) + QLatin1Char('\t') + m_ctrl + QLatin1Char('S'));
    add(settingsMenu, MenuCommand::NewPreset, T(text::kNew) + QStringLiteral("..."));
    add(settingsMenu, MenuCommand::ManagePresets, T(text::kManagePresets) + QStringLiteral("..."));
    QMenu& presets = *settingsMenu.addMenu(T(text::kPresetsMenu));
    const auto& list = context.presetList.presets;
    for (int i = 0; i < kMenuPresetCount && i < int(list.size()); ++i) {
        // One arg() call fills every place at once, so that a "%" in the name stays text.
        QAction* a = add(presets, MenuCommand::FirstPreset + i,
                         QStringLiteral("&%1  %2\t%3%1")
                             .arg(QString::number(i),
                                  QString::fromStdString(list[std::size_t(i)].name), m_ctrl));
        a->setCheckable(true);
        a->setChecked(i == context.currentPreset);
    }
}

void MainMenu::buildOptionsMenu(QMenuBar& bar, const AppContext& context) {
    QMenu& options = *bar.addMenu(T(text::kOptionsMenu));
    // The submenus appear where their first item would.
    std::map<OptionGroup, QMenu*> submenus;
    OptionGroup previous = OptionGroup::Window;
    for (const OptionItem& option : kOptionItems) {
        QMenu* into = &options;
        if (option.group == OptionGroup::ImageDate || option.group == OptionGroup::AfterRun) {
            QMenu*& submenu = submenus[option.group];
            if (!submenu)
                submenu = options.addMenu(T(option.group == OptionGroup::ImageDate
                                                ? text::kImageDateMenu
                                                : text::kAfterProcessingMenu));
            into = submenu;
        } else if (option.group != previous) {
            options.addSeparator();
        }
        previous = option.group;
        QAction* a = add(*into, option.command, T(option.caption));
        a->setCheckable(true);
        m_optionBindings.check(option.field, a);
    }
    options.addSeparator();
    buildLanguageMenu(options, context);
}

void MainMenu::buildLanguageMenu(QMenu& options, const AppContext& context) {
    QMenu& language = *options.addMenu(T(text::kLanguageMenu));
    QAction* automatic =
        add(language, MenuCommand::LanguageAutomatic, T(text::kAutomaticSystemLanguage));
    automatic->setCheckable(true);
    automatic->setChecked(settings::readStoredLanguage(context.languageFilePath) < 0);
    language.addSeparator();
    const auto languages = settings::languages();
    for (int i = 0; i < int(languages.size()); ++i) {
        QAction* a = add(language, MenuCommand::FirstLanguage + i,
                         QString::fromUtf8(languages[std::size_t(i)].menuText).trimmed());
        a->setCheckable(true);
        a->setChecked(i == context.languageIndex);
    }
}

void MainMenu::buildHelpMenu(QMenuBar& bar) {
    QMenu& help = *bar.addMenu(T(text::kHelpMenu));
    add(help, MenuCommand::HelpText, T(text::kHelpTopics) + QStringLiteral("\tF1"));
    help.addSeparator();
    for (int topic = 0; topic < kHelpTopicCount; ++topic)
        add(help, MenuCommand::FirstHelpTopic + topic, T(text::kFirstHelpTopic + topic));
    help.addSeparator();
    add(help, MenuCommand::License, T(text::kLicenseMenu));
    add(help, MenuCommand::Version, T(text::kVersion));
    add(help, MenuCommand::About, T(text::kAboutMenu));
}

} // namespace quill::app::ui
