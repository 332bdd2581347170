// The fourteen settings pages of the main window and their bindings to the working settings.
#pragma once

#include "app/ui/binding_table.h"

#include <QLineEdit>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

class QAbstractButton;
class QListWidget;
class QStackedWidget;
class QTableView;
class QWidget;

namespace quill::app::ui {

/// Number of settings pages (the valid range of `selectedPage`).
inline constexpr int kPageCount = 14;
/// Page numbers that other parts of the window refer to.
enum PageNumber { ImageListPage = 0, FilterPage = 1, OverlayPage = 7 };

/// One page: its widget, its title text, its bindings and the controls that depend on others.
struct SettingsPage {
    QWidget* widget = nullptr;
    int titleText = 0;                     ///< UI text of the title and of the page list row
    QAbstractButton* mainSwitch = nullptr; ///< the page's on/off switch, if it has one
    /// The switches of a page without one main switch whose steps go on one by one (Colours).
    std::vector<QAbstractButton*> stepSwitches;
    BindingTable bindings;
    /// Controls enabled only while their condition holds.
    std::vector<std::pair<QWidget*, std::function<bool()>>> dependents;

    /// Enables or disables the dependent controls from the current state of the controls.
    void updateDependents() const;
    /// Whether a step of the page is on: its main switch, or any of its step switches.
    [[nodiscard]] bool switchedOn() const;
};

/// A line edit for a path that takes the first path dropped on it.
class PathEdit : public QLineEdit {
    Q_OBJECT
public:
    /// What the path names; a dropped path for a directory gets its trailing "/".
    enum class Kind { File, Directory };
    explicit PathEdit(Kind kind, QWidget* parent = nullptr);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool m_directory;
};

/// Builds pages 1..13 (page 0, the image list, belongs to the main window). Each page is a
/// QWidget with a title, the controls in layouts and its binding table.
[[nodiscard]] std::vector<std::unique_ptr<SettingsPage>> buildSettingsPages();

/// The name a user knows a field by: the title of the page that shows it and, where the page
/// labels its control, that label ("Overlay: Choose font"). Empty for a field no page shows.
[[nodiscard]] QString settingName(const std::vector<std::unique_ptr<SettingsPage>>& pages,
                                  std::string_view field);

/// Keyboard and screen-reader access of the window's frame around the pages: the page list
/// named and drawn with a clear focus frame, the scroll areas that hold the pages out of the Tab
/// chain (they take no input of their own), and an image table that Tab leaves.
void setUpPageFrameAccess(QListWidget* pageList, QStackedWidget* pages, QTableView* imageView);

/// Wraps page content under its title in a widget with a layout.
[[nodiscard]] QWidget* pageWithTitle(int titleText, QWidget* content);

} // namespace quill::app::ui
