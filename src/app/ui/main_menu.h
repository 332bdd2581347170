// The main window's menu bar: its commands by number, the option check items and their bindings.
#pragma once

#include "app/app_context.h"
#include "app/ui/binding_table.h"

#include <QObject>

#include <map>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;

namespace quill::app::ui {

/// The main window's commands. The shortcuts and the buttons act as one of these menu items, so
/// one number names a command wherever it is given. A range holds one command per preset,
/// language or help topic, in order.
enum class MenuCommand : int {
    StartRun = 19,
    StartPreview = 20,
    AddFiles = 21,
    AddFolder = 22,
    Exit = 23,
    // The option check items, in menu order, each toggling one flag of the working settings.
    DetailsView = 24,   ///< `listDisplayOption`; rebuilds the window
    CompactLayout = 25, ///< `windowLayoutOption`; rebuilds the window
    ScanImageDetails = 26,
    GridLines = 27, ///< `listStyleOption`
    IncludeSubdirectories = 28,
    IncludeHiddenFiles = 29,
    IncludeVideos = 30,
    UseExifDate = 31,
    UseExifOrientation = 32,
    KeepFilteredImages = 33,
    KeepProcessedSources = 34,
    KeepFailedSources = 35,
    LoadOutputImages = 36,
    KeepUnprocessedImages = 37,
    ExitAfterRun = 38,
    LanguageAutomatic = 39, ///< follow the system language
    FirstLanguage = 40,     ///< 40..50 choose language 0..10
    Save = 51,
    NewPreset = 52,   ///< the presets window, asking at once for a name
    FirstPreset = 54, ///< 54..63 select preset 0..9
    ManagePresets = 65,
    HelpText = 66,       ///< every help topic in one text
    FirstHelpTopic = 67, ///< 67..73 one help topic each
    Version = 75,
    About = 76,
    License = 79,
    RunSeveralPresets = 80, ///< the presets ticked in a dialog run in turn over the list
};

/// How many presets the Presets menu offers (Ctrl+0 .. Ctrl+9 select the same ones).
inline constexpr int kMenuPresetCount = 10;
/// How many single help topics the Help menu offers.
inline constexpr int kHelpTopicCount = 7;

/// The command `offset` places after `first` in its range (a preset, language or help topic).
[[nodiscard]] constexpr MenuCommand operator+(MenuCommand first, int offset) {
    return MenuCommand(int(first) + offset);
}
/// The place of `command` in the range that starts at `first` (negative before it).
[[nodiscard]] constexpr int operator-(MenuCommand command, MenuCommand first) {
    return int(command) - int(first);
}

/// The menu bar of a main window, made anew with each rebuild of the window. Every item reports
/// its command through `triggered`; the option items are bound to their settings fields.
class MainMenu : public QObject {
    Q_OBJECT
public:
    /// Builds the menu bar into `window` (replacing its old one, which the window deletes later),
    /// with the presets of `context` listed and the current preset and language checked.
    MainMenu(QMainWindow& window, const AppContext& context);

    /// The item of `command`; null for a number without an item (say, a preset not listed).
    [[nodiscard]] QAction* action(MenuCommand command) const;
    /// The check items of the options, bound to their settings fields.
    [[nodiscard]] const BindingTable& optionBindings() const { return m_optionBindings; }
    /// Checks the item of the preset at `position` and unchecks the others.
    void checkPreset(int position);

signals:
    void triggered(quill::app::ui::MenuCommand command);

private:
    void buildFileMenu(QMenuBar& bar);
    void buildSettingsMenu(QMenuBar& bar, const AppContext& context);
    void buildOptionsMenu(QMenuBar& bar, const AppContext& context);
    void buildLanguageMenu(QMenu& options, const AppContext& context);
    void buildHelpMenu(QMenuBar& bar);
    /// Adds the item of `command` to `menu`.
    QAction* add(QMenu& menu, MenuCommand command, const QString& text);

    std::map<MenuCommand, QAction*> m_actions;
    BindingTable m_optionBindings;
    QString m_ctrl; ///< the modifier's name and "+", as the items show their shortcuts
};

} // namespace quill::app::ui
