// The presets window: save the working settings as a named preset, delete, reorder and reset the
// user presets, and choose the start-up preset. Writes the settings file when it closes.
#pragma once

#include "settings/preset.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class QComboBox;
class QListWidget;
class QPushButton;

namespace quill::toolkit::qt {
class Questions;
}

namespace quill::app::ui {

/// What the presets window works on.
struct PresetsWindowEnvironment {
    settings::PresetList& presets;     ///< the stored presets; `currentIndex` is the start-up one
    settings::Preset& workingSettings; ///< stored into a new or overwritten preset
    /// List position of the preset the working settings belong to, the one a save writes into;
    /// -1: none. It follows its preset when the list is reordered, becomes the new or overwritten
    /// preset that "new" stores them into, and becomes -1 when its preset is deleted or the
    /// presets are reset.
    int& currentPreset;
    std::string presetsFilePath;       ///< written on close, deleted by reset
    toolkit::qt::Questions& questions; ///< the overwrite and reset questions
    /// Copies the window controls into the working settings before a preset is stored.
    std::function<void()> controlsToSettings;
    /// Asks for the name of a new preset; nothing when cancelled. Default: a text input box.
    std::function<std::optional<QString>(QWidget* parent)> askName;
    /// Asks for a preset's new name, showing the current one; nothing when cancelled. Default:
    /// a text input box.
    std::function<std::optional<QString>(QWidget* parent, const QString& current)> askRename;
};

/// The greatest number of presets the window lets the list hold, preset 0 included.
inline constexpr int kMaxPresets = 10;

/// What the presets window is opened for.
enum class PresetsWindowMode {
    Manage = 0, ///< stays open until the user closes it
    /// Acts as if "new" was pressed as soon as the window is shown, and closes the window after
    /// a successful "new".
    SaveAsNew = 1,
};

class PresetsWindow : public QDialog {
    Q_OBJECT
public:
    PresetsWindow(PresetsWindowEnvironment environment, PresetsWindowMode mode,
                  QWidget* parent = nullptr);

    QListWidget* presetList() const { return m_list; }
    QPushButton* newButton() const { return m_new; }
    QPushButton* renameButton() const { return m_rename; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* upButton() const { return m_up; }
    QPushButton* downButton() const { return m_down; }
    QPushButton* resetButton() const { return m_reset; }
    QComboBox* startupCombo() const { return m_startup; }

    /// The "new" command; true when a preset was stored.
    bool newPreset();
    /// Renames the selected preset (the button and F2); true when its name changed. A name
    /// another preset has already gets " 2" appended.
    bool renameSelected();
    /// Deletes the selected preset after asking (No is the default answer).
    void deleteSelected();
    void moveSelected(int direction);
    void resetPresets();

    /// The text of a list row and a combo entry for a preset.
    static QString rowText(const settings::Preset& preset);

signals:
    /// The window closed and the settings file was written (`written` false when writing
    /// failed); the main window refreshes its preset menu and controls.
    void presetsClosed(bool written);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    /// List position of the preset shown in list row `row`; -1 when none.
    int positionOfRow(int row) const;
    /// The selected row; -1 when none. The current row alone (the focus frame that the list sets
    /// on its first row when it gets the focus) selects nothing.
    int selectedRow() const;
    void refill(int selectPosition);
    void updateButtons();
    /// Puts the focus back on `pressed` after its action, or where it is safe when the action
    /// disabled it: the other of Up and Down, else the list; never on to Delete or Reset.
    void keepFocusAfter(QPushButton* pressed);

    PresetsWindowEnvironment m_env;
    PresetsWindowMode m_mode;
    bool m_startedNew = false;
    bool m_closed = false;
    QListWidget* m_list = nullptr;
    QPushButton* m_new = nullptr;
    QPushButton* m_rename = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_up = nullptr;
    QPushButton* m_down = nullptr;
    QPushButton* m_reset = nullptr;
    QComboBox* m_startup = nullptr;
};

} // namespace quill::app::ui
