// The main window: page list, settings pages, image list, menu bar and keyboard shortcuts.
#pragma once

#include "app/app_context.h"
#include "app/ui/binding_table.h"
#include "app/ui/detail_scanner.h"
#include "app/ui/image_list_model.h"
#include "app/ui/main_menu.h"
#include "app/ui/path_loader.h"
#include "app/ui/preview/live_preview.h"
#include "app/ui/settings_pages.h"
#include "imagefiles/image_list.h"
#include "pipeline/run_control.h"
#include "toolkit/qt/questions.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QStackedWidget;
class QTableView;

namespace quill::batch::ui {
class DesktopOpener;
class PreviewRun;
class WindowRun;
} // namespace quill::batch::ui

namespace quill::app::ui {

enum class PresetsWindowMode;
class PathDropHandler;
class PreviewPopup;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    /// `opener` opens a preview run's output and a run's output folder (null: the desktop).
    MainWindow(AppContext& context, imagefiles::ImageList& images, pipeline::RunFlags& flags,
               toolkit::qt::Questions& questions, batch::ui::DesktopOpener* opener = nullptr,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    /// Hands the path arguments to the loader and empties them.
    void loadPathArguments();
    /// Appends `paths` to the pending paths and starts the loader.
    void addPaths(const imagefiles::PathList& paths);

    void controlsToSettings();
    void settingsToControls();

    // Commands of the menu, the shortcuts and the buttons.
    /// Carries out a command of the menu (the shortcuts and buttons call the same functions).
    void runCommand(MenuCommand command);
    void startRun();
    /// Asks which presets to run in turn over the list, then starts the first of them.
    void startSeveralPresetsRun();
    /// Starts a window run of `settings` (which stays alive until the run is over).
    void startRunWith(settings::Preset& settings);
    /// After a run of several: the list as it was before the first, and the next preset's run.
    void startNextQueuedRun();
    /// The current settings tried on the selected image (the menu, Ctrl+D, popup double click).
    void startPreviewRun();
    void showPresetsWindow(PresetsWindowMode mode);
    void addFilesDialog();
    void addFolderDialog();
    void requestExit();
    /// Stores the working settings into the selected preset and writes the preset file;
    /// refused with a box while the file could not be read (AppContext::presetsUnreadable).
    void save();
    void selectPreset(int position);
    void chooseLanguage(int languageIndex);
    void followSystemLanguage();
    void removeSelected();
    void clearList();
    void stopAdding();
    void nextPage();
    /// The page before the shown one (the last one before the first), for Ctrl+Shift+Tab.
    void previousPage();
    /// Sorts the image list itself by a column of the list (a second click on the same column
    /// reverses the order), so that the run processes and numbers the images as shown.
    void sortListBy(int column);

    /// True when the controls hold settings that differ from the preset they belong to (the
    /// shown settings page does not count). False while they belong to no preset.
    [[nodiscard]] bool hasUnsavedChanges() const;
    /// The folder the Add files and Add folder dialogs open in: the last one used, else the
    /// user's Pictures folder, else the home folder.
    [[nodiscard]] QString dialogStartFolder() const;

    // For tests and the screenshot tool.
    [[nodiscard]] QAction* menuItem(MenuCommand command) const;
    [[nodiscard]] QListWidget* pageList() const { return m_pageList; }
    [[nodiscard]] QTableView* imageView() const { return m_imageView; }
    [[nodiscard]] ImageListModel& model() { return m_model; }
    [[nodiscard]] PathLoader& loader() { return m_loader; }
    [[nodiscard]] DetailScanner& scanner() { return m_scanner; }
    [[nodiscard]] LivePreview& livePreview() { return *m_livePreview; }
    [[nodiscard]] LivePreviewPanel* livePreviewPanel() const { return m_previewPanel; }
    [[nodiscard]] PreviewPopup* previewPopup() const { return m_popup; }
    [[nodiscard]] QWidget* pageWidget(int page) const;
    /// Every binding table of the window: the pages, the option menu and the page list.
    [[nodiscard]] std::vector<const BindingTable*> bindingTables() const;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// True when the preset file may be written; otherwise says why in a box.
    bool presetsWritable();
    void createShortcuts();
    /// The page list's highlight from the window palette's, made dark (or light) enough for its
    /// text to reach 4.5:1 contrast.
    void makePageHighlightReadable();
    /// Gives the focus back to `widget` after a dialog or the run; to a disabled one once the
    /// loader is done.
    void returnFocus(const QPointer<QWidget>& widget);
    /// The page list, the command buttons and the image list, in a fixed order (nulls before
    /// they are built).
    [[nodiscard]] std::vector<QWidget*> focusableControls() const;
    /// The live preview, the preview run, the image popup and the timer that keeps them current.
    void createPreviews();
    /// Builds the menu bar and the central widget anew (for a start or a rebuild).
    void build();
    /// The page list and the stack of pages, the image list first.
    void buildPages();
    /// The command buttons, and the page list, the live preview panel, the buttons and the pages
    /// in their layout.
    [[nodiscard]] QWidget* buildCentral();
    QWidget* buildImageListPage();
    void rebuild();
    /// How the window size follows the pages.
    enum class Fit {
        Open,     ///< the first size: large enough for every page, as far as the screen allows
        GrowOnly, ///< after a rebuild: grows by what the pages lack, never shrinks
    };
    void fitToPages(Fit fit);
    /// Resizes to `wanted` and moves the window as far as needed to keep it, with its frame and
    /// its smallest size, within the screen's available area.
    void keepOnScreen(QSize wanted);
    void scheduleRebuild();
    void optionToggled(MenuCommand command);
    void applyListOptions();
    void sizeListColumns();
    void refreshPageList();
    void updateAllDependents();
    void updateListCommands();
    void updateStatus();
    /// The title and the status bar say when the working settings belong to no preset.
    void updateTitle();
    /// Recomputes whether the settings read from the controls (`current`) are unsaved, and the
    /// list header's tooltip; updates the title when that changed.
    void refreshUnsavedMark(const settings::Preset& current);
    /// Asks whether to save unsaved settings before the program ends; false when the user
    /// cancelled (or saving failed) and the program must stay.
    bool settledUnsavedChanges();
    /// True when `current` differs from the stored preset the working settings belong to.
    [[nodiscard]] bool differsFromItsPreset(settings::Preset current) const;
    /// Selects the rows of these records again after the list view was rebuilt.
    void restoreSelection(const std::vector<std::int32_t>& selectedIds, std::int32_t currentId);
    /// Name of the preset the working settings belong to; empty when none.
    [[nodiscard]] QString currentPresetName() const;
    void loaderFinished();
    void runFinished(bool quitProgram);
    void selectFirstRowIfNone();
    void quitProgram();
    [[nodiscard]] imagefiles::ListOptions listOptions() const;
    /// The live preview's cycle: the enabling rule, the selection and the settings read from
    /// the controls (`current`).
    void updateLivePreview(const settings::Preset& current);
    /// The working settings with the controls' current values, leaving the working settings
    /// alone.
    [[nodiscard]] settings::Preset settingsFromControls() const;
    void previewRunStarted();
    void previewRunFinished();
    /// Shows the image preview popup in a corner of the image list, clear of the selected row,
    /// while the list page is on show and one row is selected; hides it otherwise.
    void updatePreviewPopup();
    /// (Re)creates the popup, with its texts in the current language.
    void createPreviewPopup();
    /// Selects the row `step` rows away from the selected one (popup arrows).
    void stepSelection(int step);

    AppContext& m_context;
    imagefiles::ImageList& m_images;
    pipeline::RunFlags& m_flags;
    toolkit::qt::Questions& m_questions;
    batch::ui::DesktopOpener& m_opener;

    ImageListModel m_model;
    PathLoader m_loader;
    DetailScanner m_scanner;
    std::unique_ptr<batch::ui::WindowRun> m_run;
    /// A run with several presets: the presets still to run, the one running, and the list
    /// each of them starts from.
    std::vector<settings::Preset> m_queuedPresets;
    settings::Preset m_queuedRunSettings;
    std::vector<imagefiles::ImageRecord> m_queuedList;
    std::unique_ptr<batch::ui::PreviewRun> m_previewRun;
    std::unique_ptr<LivePreview> m_livePreview;
    PreviewPopup* m_popup = nullptr; ///< a child of the window; outlives rebuilds
    PreviewEnabling m_previewEnabling;
    settings::Preset m_previewSettings; ///< the settings last handed to the live preview
    int m_previewPage = -1;
    imagefiles::PathList m_pathsAfterPreview; ///< paths dropped while a preview run was active

    PathDropHandler* m_drops = nullptr; ///< takes paths dropped on the buttons and the list

    // Rebuilt with the window.
    std::unique_ptr<MainMenu> m_menu;
    QListWidget* m_pageList = nullptr;
    QStackedWidget* m_stack = nullptr;
    QTableView* m_imageView = nullptr;
    QPushButton* m_addFiles = nullptr;
    QPushButton* m_addFolder = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_removeSelected = nullptr;
    QPushButton* m_clearList = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_presetState = nullptr; ///< the status bar's note that no preset holds the settings
    LivePreviewPanel* m_previewPanel = nullptr;
    std::vector<std::unique_ptr<SettingsPage>> m_pages; ///< pages 1..13
    QWidget* m_imageListPage = nullptr;
    BindingTable m_windowBindings; ///< the page list (selectedPage)
    bool m_rebuildScheduled = false;
    bool m_quitting = false;
    bool m_unsaved = false;
    QString m_lastFolder;  ///< where the user last added files or a folder from
    int m_sortColumn = -1; ///< the column the list was last sorted by, -1: none
    /// Whether the header's tooltip says the preset sorts; none until the tooltip is set.
    std::optional<bool> m_headerHintSorts;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_placed = false;                 ///< kept on screen once shown, with its frame
    QPointer<QWidget> m_focusBeforeRun;    ///< where the focus goes back to after a run
    QPointer<QWidget> m_focusAfterLoading; ///< gets the focus once the loader is done
};

} // namespace quill::app::ui
