// The editor of a preset's filter conditions: one row per condition.
#pragma once

#include "settings/preset.h"

#include <QTableWidget>

#include <vector>

namespace quill::app::ui {

/// Rows of (active, property, operator, value). Bits of a condition's flags other than the
/// active bit, and its value kind, are carried through unchanged.
///
/// For the keyboard the table is one stop of the Tab chain: the arrow keys an editor leaves unused
/// move between the cells, the focus following into the current cell's editor, and Tab or
/// Shift+Tab from the table or any of its editors goes on to the control after or before it.
class FilterTable : public QTableWidget {
    Q_OBJECT
public:
    explicit FilterTable(QWidget* parent = nullptr);
    void setConditions(const std::vector<settings::FilterCondition>& conditions);
    [[nodiscard]] std::vector<settings::FilterCondition> conditions() const;

    void addCondition();
    void removeSelected();

protected:
    bool focusNextPrevChild(bool next) override;

private:
    /// Names each row's editors by their column and row, for a screen reader.
    void nameEditors();
    void appendRow(const settings::FilterCondition& condition);
    /// The flags of each row as loaded, for the bits the table does not show.
    std::vector<std::uint32_t> m_flags;
};

} // namespace quill::app::ui
