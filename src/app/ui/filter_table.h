// The editor of a preset's filter conditions: one row per condition.
#pragma once

#include "settings/preset.h"

#include <QTableWidget>

#include <vector>

namespace quill::app::ui {

/// Rows of (active, property, operator, value). Bits of a condition's flags other than the
/// active bit, and its value kind, are carried through unchanged.
class FilterTable : public QTableWidget {
    Q_OBJECT
public:
    explicit FilterTable(QWidget* parent = nullptr);
    void setConditions(const std::vector<settings::FilterCondition>& conditions);
    [[nodiscard]] std::vector<settings::FilterCondition> conditions() const;

    void addCondition();
    void removeSelected();

private:
    void appendRow(const settings::FilterCondition& condition);
    /// The flags of each row as loaded, for the bits the table does not show.
    std::vector<std::uint32_t> m_flags;
};

} // namespace quill::app::ui
