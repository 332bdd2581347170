// The link between the controls of one settings page and the fields of the working settings.
#pragma once

#include "settings/preset.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QAbstractButton;
class QAction;
class QButtonGroup;
class QComboBox;
class QDateTimeEdit;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QWidget;

namespace quill::app::ui {

class ColorButton;

/// One page's list of (field, control) pairs. Every entry moves its field to its control and
/// back; a field whose control was not touched since it was loaded keeps its stored value, so a
/// round trip loses nothing (line breaks, a date of 0, unknown bits).
class BindingTable {
public:
    /// Whether a checked box means the flag (or bit) is set or clear.
    enum class Sense { Direct, Inverted };
    /// A flag shown by a check box (or check item).
    void check(const char* field, QAbstractButton* box, Sense sense = Sense::Direct);
    void check(const char* field, QAction* action);
    /// One bit of a numeric field.
    void checkBit(const char* field, QAbstractButton* box, std::uint32_t bit,
                  Sense sense = Sense::Direct);
    void spin(const char* field, QSpinBox* spin);
    /// A choice shown by exclusive buttons whose ids are the field values.
    void choice(const char* field, QButtonGroup* group);
    /// A choice shown by a combo box whose item data are the field values.
    void combo(const char* field, QComboBox* combo);
    void text(const char* field, QLineEdit* edit);
    /// A text that may hold CR LF line breaks.
    void text(const char* field, QPlainTextEdit* edit);
    void colour(const char* field, ColorButton* button);
    /// A date in local seconds; 0 shows the current time and stays 0 unless edited.
    void dateTime(const char* field, QDateTimeEdit* edit);
    /// Any other control with its own load and store functions.
    void custom(const char* field, QObject* control,
                std::function<void(const settings::Preset&)> load,
                std::function<void(settings::Preset&)> store);

    void settingsToControls(const settings::Preset& preset) const;
    void controlsToSettings(settings::Preset& preset) const;

    /// Calls `onChange` whenever a bound control is edited by the user or by code.
    void connectChanged(QObject* context, const std::function<void()>& onChange) const;

    struct Entry {
        std::string field;
        QObject* control = nullptr;
        std::function<void(const settings::Preset&)> load;
        std::function<void(settings::Preset&)> store;
    };
    [[nodiscard]] const std::vector<Entry>& entries() const { return m_entries; }

private:
    std::vector<Entry> m_entries;
};

} // namespace quill::app::ui
