// The editor of a preset's filter conditions: one row per condition.
#include "app/ui/filter_table.h"

#include "app/ui/preview/placeholder_menu.h"
#include "settings/filter_conditions.h"
#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>

namespace quill::app::ui {

namespace text = settings::text;
namespace {

QString T(int index) {
    return QString::fromStdString(settings::uiText(index));
}

enum Column { ActiveColumn, PropertyColumn, OperatorColumn, ValueColumn, ColumnCount };

/// Operator captions: numeric comparisons for number properties, text ones for text properties.
void fillOperators(QComboBox* box, int property) {
    const int current = box->currentIndex();
    box->clear();
    for (int op = 0; op < 8; ++op) {
        // Operators 4..7 of a number property never hold; they show the text captions.
        int caption = settings::isTextProperty(property) || op >= 4 ? text::kMatches + op
                                                                    : text::kEqualTo + op % 4;
        box->addItem(T(caption), op);
    }
    if (current >= 0) box->setCurrentIndex(current);
}

} // namespace

FilterTable::FilterTable(QWidget* parent) : QTableWidget(0, ColumnCount, parent) {
    setHorizontalHeaderLabels({QString(), T(text::kProperty), T(text::kOperator), T(text::kValue)});
    horizontalHeader()->setSectionResizeMode(ActiveColumn, QHeaderView::ResizeToContents);
    horizontalHeader()->setSectionResizeMode(ValueColumn, QHeaderView::Stretch);
    verticalHeader()->hide();
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setToolTip(T(text::kFilterConditionsText));
    setMinimumHeight(120);
    setAccessibleName(T(text::kFilter));
    // Tab leaves the table; the arrow keys move between its cells.
    setTabKeyNavigation(false);
}

bool FilterTable::focusNextPrevChild(bool next) {
    // The editors sit in the window's focus chain wherever they were made (rows are added
    // later), so the way out starts at the table's own place in the chain and passes over them.
    QWidget* w = this;
    for (;;) {
        w = next ? w->nextInFocusChain() : w->previousInFocusChain();
        if (w == this) return false;
        if (isAncestorOf(w) || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() ||
            !w->isEnabled() || w->focusProxy())
            continue;
        w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
}

void FilterTable::nameEditors() {
    const int columns[] = {text::kActiveColumn, text::kProperty, text::kOperator, text::kValue};
    for (int row = 0; row < rowCount(); ++row)
        for (int column = 0; column < ColumnCount; ++column)
            if (QWidget* editor = cellWidget(row, column))
                editor->setAccessibleName(T(text::kCellInRow).arg(T(columns[column])).arg(row + 1));
}

void FilterTable::appendRow(const settings::FilterCondition& condition) {
    const int row = rowCount();
    insertRow(row);
    m_flags.push_back(condition.flags);
    auto* active = new QCheckBox;
    active->setChecked(settings::isActive(condition));
    active->setToolTip(T(text::kActive));
    setCellWidget(row, ActiveColumn, active);
    auto* property = new QComboBox;
    for (int p = 0; p < settings::kFilterPropertyCount; ++p)
        property->addItem(T(text::kPropertyFolder + p), p);
    property->setCurrentIndex(
        condition.property < settings::kFilterPropertyCount ? condition.property : 0);
    setCellWidget(row, PropertyColumn, property);
    auto* op = new QComboBox;
    fillOperators(op, property->currentIndex());
    op->setCurrentIndex(condition.operator_ < 8 ? condition.operator_ : 0);
    setCellWidget(row, OperatorColumn, op);
    connect(property, &QComboBox::currentIndexChanged, op, [op](int p) { fillOperators(op, p); });
    auto* value = new QLineEdit(QString::fromStdString(condition.value));
    value->setProperty("valueKind", int(condition.valueKind));
    value->setProperty("storedProperty", int(condition.property));
    value->setProperty("storedValue", QString::fromStdString(condition.value));
    value->setProperty("storedBytes", QByteArray::fromStdString(condition.value));
    // The edit menu offers the wildcard characters as well.
    value->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(value, &QWidget::customContextMenuRequested, this, [value](const QPoint& at) {
        QMenu* menu = value->createStandardContextMenu();
        menu->addSeparator();
        QMenu* insert = makeInsertionMenu(menu, value, InsertField::FilterValue);
        insert->setTitle(T(text::kInsert));
        menu->addMenu(insert);
        menu->exec(value->mapToGlobal(at));
        delete menu;
    });
    setCellWidget(row, ValueColumn, value);
    // Reached with the arrow keys (the focus follows the current cell), not as Tab stops.
    for (QWidget* editor : {static_cast<QWidget*>(active), static_cast<QWidget*>(property),
                            static_cast<QWidget*>(op), static_cast<QWidget*>(value)})
        editor->setFocusPolicy(Qt::ClickFocus);
    nameEditors();
}

void FilterTable::setConditions(const std::vector<settings::FilterCondition>& conditions) {
    setRowCount(0);
    m_flags.clear();
    for (const auto& condition : conditions)
        appendRow(condition);
}

std::vector<settings::FilterCondition> FilterTable::conditions() const {
    std::vector<settings::FilterCondition> result;
    for (int row = 0; row < rowCount(); ++row) {
        settings::FilterCondition c;
        const auto* active = static_cast<QCheckBox*>(cellWidget(row, ActiveColumn));
        const auto* property = static_cast<QComboBox*>(cellWidget(row, PropertyColumn));
        const auto* op = static_cast<QComboBox*>(cellWidget(row, OperatorColumn));
        const auto* value = static_cast<QLineEdit*>(cellWidget(row, ValueColumn));
        c.flags = m_flags[std::size_t(row)];
        c.flags = active->isChecked() ? (c.flags | settings::kConditionActive)
                                      : (c.flags & ~settings::kConditionActive);
        c.property = std::uint8_t(property->currentIndex());
        c.operator_ = std::uint8_t(op->currentIndex());
        // An unedited value keeps its bytes exactly (it may not be valid UTF-8).
        c.value = value->text() == value->property("storedValue").toString()
                      ? value->property("storedBytes").toByteArray().toStdString()
                      : value->text().toStdString();
        // The kind follows the property; a loaded condition whose property is unchanged keeps it.
        int kind = value->property("valueKind").toInt();
        if (value->property("storedProperty").toInt() != c.property) kind = 0;
        c.valueKind =
            std::uint8_t(kind != 0 ? kind : (settings::isTextProperty(c.property) ? 2 : 1));
        result.push_back(std::move(c));
    }
    return result;
}

void FilterTable::addCondition() {
    settings::FilterCondition c;
    c.flags = settings::kConditionActive;
    c.property = settings::PropertyFileName;
    c.valueKind = 0; // derived from the property when read back
    appendRow(c);
    setCurrentCell(rowCount() - 1, ValueColumn);
}

void FilterTable::removeSelected() {
    const int row = currentRow();
    if (row < 0) return;
    removeRow(row);
    m_flags.erase(m_flags.begin() + row);
    nameEditors(); // the rows after it moved up
}

} // namespace quill::app::ui
