// The context menus of the main window's pattern and size fields: insertion menus, preset sizes
// and the pattern preview.
#pragma once

#include "app/ui/binding_table.h"
#include "settings/preset.h"

#include <QObject>

#include <functional>
#include <map>
#include <string>
#include <vector>

class QMenu;
class QWidget;

namespace quill::app::ui {

/// Adds the insertion menus and the pattern preview to the context menus of the pattern fields,
/// and the preset sizes to those of the size fields. Made with the pages' controls and deleted
/// with them (make it a child of a widget that holds them).
class FieldMenus : public QObject {
    Q_OBJECT
public:
    /// What the menus need from the window around them.
    struct Window {
        QWidget* dialogParent = nullptr;                   ///< the pattern preview's parent
        std::function<settings::Preset()> settings;        ///< the settings the controls hold
        std::function<void(bool open)> previewOpenChanged; ///< the pattern preview opens, closes
    };

    /// Finds the fields among the controls of `tables` and attaches their menus.
    FieldMenus(const std::vector<const BindingTable*>& tables, Window window, QObject* parent);

private:
    /// The control bound to `field`; null when no table binds it.
    [[nodiscard]] QObject* control(const char* field) const;
    void attachPatternMenus();
    void attachSizeMenus();
    /// Adds the Insert placeholder submenu and the preview item to a field's standard menu.
    void extendPatternMenu(QMenu* menu, QMenu* insert);
    void showPatternPreview();

    std::map<std::string, QObject*> m_controls;
    Window m_window;
};

} // namespace quill::app::ui
