// The presets window.
#include "app/ui/preview/presets_window.h"

#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "settings/ui_text_ids.h"
#include "toolkit/qt/questions.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <utility>

namespace quill::app::ui {
namespace {

namespace text = settings::text;

QString ui(int index) {
    return QString::fromStdString(settings::uiText(index));
}

std::optional<QString> askNameWithDialog(QWidget* parent) {
    bool ok = false;
    const QString name = QInputDialog::getText(
        parent, ui(text::kPresetsTitle), ui(text::kNamePrompt), QLineEdit::Normal, QString(), &ok);
    if (!ok) return std::nullopt;
    return name;
}

std::optional<QString> askRenameWithDialog(QWidget* parent, const QString& current) {
    bool ok = false;
    const QString name = QInputDialog::getText(
        parent, ui(text::kPresetsTitle), ui(text::kRenamePrompt), QLineEdit::Normal, current, &ok);
    if (!ok) return std::nullopt;
    return name;
}

} // namespace

PresetsWindow::PresetsWindow(PresetsWindowEnvironment environment, PresetsWindowMode mode,
                             QWidget* parent)
    : QDialog(parent), m_env(std::move(environment)), m_mode(mode) {
    if (!m_env.askName) m_env.askName = askNameWithDialog;
    if (!m_env.askRename) m_env.askRename = askRenameWithDialog;
    setWindowTitle(ui(text::kPresetsTitle));
    setMinimumWidth(360);

    auto* explanation = new QLabel(ui(text::kPresetsExplanation), this);
    explanation->setWordWrap(true);

    m_list = new QListWidget(this);
    m_list->setAccessibleName(ui(text::kPresetsTitle));
    m_list->setMinimumSize(225, 140);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setTextElideMode(Qt::ElideRight);
    // The selected row, which the buttons act on, looks selected even while a button has the
    // focus.
    QPalette listPalette = m_list->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        listPalette.setColor(QPalette::Inactive, role, listPalette.color(QPalette::Active, role));
    m_list->setPalette(listPalette);

    m_new = new QPushButton(ui(text::kNew), this);
    m_rename = new QPushButton(ui(text::kRenamePreset), this);
    m_delete = new QPushButton(ui(text::kDelete), this);
    m_up = new QPushButton(ui(text::kUp), this);
    m_down = new QPushButton(ui(text::kDown), this);
    m_reset = new QPushButton(ui(text::kReset), this);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_new, m_rename, m_delete, m_up, m_down, m_reset}) {
        b->setMinimumSize(110, 20);
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    auto* startupLabel = new QLabel(ui(text::kStartupPreset) + ":", this);
    m_startup = new QComboBox(this);
    m_startup->setMinimumWidth(170);
    startupLabel->setBuddy(m_startup); // the combo's name for a screen reader
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setMinimumSize(140, 23);
    ok->setDefault(true);

    auto* grid = new QGridLayout(this);
    grid->addWidget(explanation, 0, 0, 1, 2);
    grid->addWidget(m_list, 1, 0);
    grid->addLayout(buttons, 1, 1);
    auto* startupRow = new QHBoxLayout;
    startupRow->addWidget(startupLabel);
    startupRow->addWidget(m_startup, 1);
    grid->addLayout(startupRow, 2, 0, 1, 2);
    grid->addWidget(ok, 3, 0, 1, 2, Qt::AlignHCenter);
    grid->setColumnStretch(0, 1);

    // Each button keeps the keyboard focus through its own action (see keepFocusAfter).
    const auto onClick = [this](QPushButton* button, auto action) {
        connect(button, &QPushButton::clicked, this, [this, button, action] {
            const bool hadFocus = button->hasFocus();
            action();
            if (hadFocus) keepFocusAfter(button);
        });
    };
    onClick(m_new, [this] { newPreset(); });
    onClick(m_rename, [this] { renameSelected(); });
    onClick(m_delete, [this] { deleteSelected(); });
    auto* renameKey = new QShortcut(QKeySequence(Qt::Key_F2), this);
    connect(renameKey, &QShortcut::activated, this, [this] { renameSelected(); });
    auto* deleteKey = new QShortcut(QKeySequence(QKeySequence::Delete), m_list);
    deleteKey->setContext(Qt::WidgetShortcut);
    connect(deleteKey, &QShortcut::activated, this, [this] { deleteSelected(); });
    onClick(m_up, [this] { moveSelected(-1); });
    onClick(m_down, [this] { moveSelected(1); });
    onClick(m_reset, [this] { resetPresets(); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_list, &QListWidget::itemSelectionChanged, this, [this] { updateButtons(); });
    connect(m_startup, &QComboBox::activated, this, [this](int position) {
        if (position >= 0) m_env.presets.currentIndex = std::size_t(position);
    });

    refill(-1);
    // Screen readers name the window by its title.
    setAccessibleName(windowTitle());
}

void PresetsWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowTitleChange) setAccessibleName(windowTitle());
}

void PresetsWindow::keepFocusAfter(QPushButton* pressed) {
    // A button that its own action disabled hands the focus on in the tab order, which after
    // Down is Reset: a second press of the space bar would then ask to reset every preset.
    // Up and Down hand it to each other at the ends of the list instead, any other button to
    // the list.
    QWidget* next = pressed;
    if (!next->isEnabled()) {
        QPushButton* twin = pressed == m_up ? m_down : pressed == m_down ? m_up : nullptr;
        next = twin && twin->isEnabled() ? static_cast<QWidget*>(twin) : m_list;
    }
    next->setFocus(Qt::OtherFocusReason);
}

QString PresetsWindow::rowText(const settings::Preset& preset) {
    return QString::number(preset.index) + ")  " + QString::fromStdString(preset.name);
}

int PresetsWindow::positionOfRow(int row) const {
    if (row < 0 || row >= m_list->count()) return -1;
    return m_list->item(row)->data(Qt::UserRole).toInt();
}

int PresetsWindow::selectedRow() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void PresetsWindow::refill(int selectPosition) {
    const auto& presets = m_env.presets.presets;
    m_list->clear();
    m_startup->clear();
    int selectRow = -1;
    for (std::size_t p = 0; p < presets.size(); ++p) {
        m_startup->addItem(rowText(presets[p]));
        if (presets[p].index == 0) continue;
        auto* item = new QListWidgetItem(rowText(presets[p]), m_list);
        item->setData(Qt::UserRole, int(p));
        item->setToolTip(item->text());
        if (int(p) == selectPosition) selectRow = m_list->count() - 1;
    }
    if (m_env.presets.currentIndex < presets.size())
        m_startup->setCurrentIndex(int(m_env.presets.currentIndex));
    if (selectRow >= 0) m_list->setCurrentRow(selectRow);
    updateButtons();
}

void PresetsWindow::updateButtons() {
    const int row = selectedRow();
    const int rows = m_list->count();
    m_new->setEnabled(rows < kMaxPresets - 1);
    m_rename->setEnabled(row >= 0);
    m_delete->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row < rows - 1);
}

bool PresetsWindow::newPreset() {
    if (m_list->count() >= kMaxPresets - 1) return false;
    const std::optional<QString> answer = m_env.askName(this);
    if (!answer || answer->isEmpty()) return false;
    QString name = *answer;

    auto& presets = m_env.presets.presets;
    int target = -1;
    for (std::size_t p = 0; p < presets.size(); ++p) {
        if (presets[p].index == 0) continue;
        if (QString::fromStdString(presets[p].name).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        const auto reply = m_env.questions.ask(this, toolkit::qt::BoxKind::DestructiveQuestion,
                                               ui(text::kQuestion), ui(text::kOverwrite));
        if (reply == toolkit::qt::Answer::Yes) {
            target = int(p);
            break;
        }
        name += QStringLiteral(" 2");
    }
    if (target < 0) {
        presets.emplace_back();
        target = int(presets.size()) - 1;
        presets[std::size_t(target)].index = std::uint8_t(presets.size() - 1);
    }
    if (m_env.controlsToSettings) m_env.controlsToSettings();
    settings::Preset& preset = presets[std::size_t(target)];
    preset.name = name.toStdString();
    settings::storeInto(preset, m_env.workingSettings);
    // The working settings are now this preset's: a save goes into it.
    m_env.currentPreset = target;
    refill(target);
    // Closed from the event loop, not from inside the handler that is still using the dialog.
    if (m_mode == PresetsWindowMode::SaveAsNew) QTimer::singleShot(0, this, &QDialog::accept);
    return true;
}

bool PresetsWindow::renameSelected() {
    const int position = positionOfRow(selectedRow());
    if (position < 0) return false;
    auto& presets = m_env.presets.presets;
    const QString current = QString::fromStdString(presets[std::size_t(position)].name);
    const std::optional<QString> answer = m_env.askRename(this, current);
    if (!answer) return false;
    QString name = answer->trimmed();
    if (name.isEmpty() || name == current) return false;
    // Names pick presets in the menu and in the console: two presets never share one.
    const auto taken = [&](const QString& candidate) {
        for (std::size_t p = 0; p < presets.size(); ++p)
            if (int(p) != position &&
                QString::fromStdString(presets[p].name).compare(candidate, Qt::CaseInsensitive) ==
                    0)
                return true;
        return false;
    };
    while (taken(name))
        name += QStringLiteral(" 2");
    presets[std::size_t(position)].name = name.toStdString();
    refill(position);
    return true;
}

void PresetsWindow::deleteSelected() {
    const int row = selectedRow();
    const int position = positionOfRow(row);
    if (position < 0) return;
    const QString question =
        ui(text::kReallyDeletePreset) + QStringLiteral("\r\n\r\n") + m_list->item(row)->text();
    if (m_env.questions.ask(this, toolkit::qt::BoxKind::DestructiveQuestion, ui(text::kQuestion),
                            question) != toolkit::qt::Answer::Yes)
        return;
    auto& list = m_env.presets;
    list.presets.erase(list.presets.begin() + position);
    for (std::size_t p = std::size_t(position); p < list.presets.size(); ++p)
        --list.presets[p].index;
    // The start-up preset stays the same preset; when it was the deleted one, preset 0 takes
    // its place.
    if (list.currentIndex == std::size_t(position))
        list.currentIndex = 0;
    else if (list.currentIndex > std::size_t(position))
        --list.currentIndex;
    // The working settings keep their values; once their preset is gone they belong to none.
    int& current = m_env.currentPreset;
    if (current == position)
        current = -1;
    else if (current > position)
        --current;
    refill(-1);
}

void PresetsWindow::moveSelected(int direction) {
    const int row = selectedRow();
    const int position = positionOfRow(row);
    const int other = positionOfRow(row + direction);
    if (position < 0 || other < 0) return;
    auto& list = m_env.presets;
    auto& a = list.presets[std::size_t(position)];
    auto& b = list.presets[std::size_t(other)];
    std::swap(a.index, b.index);
    std::swap(a, b);
    // The start-up preset follows its preset to the new place.
    if (list.currentIndex == std::size_t(position))
        list.currentIndex = std::size_t(other);
    else if (list.currentIndex == std::size_t(other))
        list.currentIndex = std::size_t(position);
    // So does the preset the working settings belong to, so that a save still goes into it.
    if (m_env.currentPreset == position)
        m_env.currentPreset = other;
    else if (m_env.currentPreset == other)
        m_env.currentPreset = position;
    refill(other);
}

void PresetsWindow::resetPresets() {
    const auto reply = m_env.questions.ask(this, toolkit::qt::BoxKind::DestructiveQuestion,
                                           ui(text::kQuestion), ui(text::kReallyReset));
    if (reply != toolkit::qt::Answer::Yes) return;
    std::remove(m_env.presetsFilePath.c_str());
    settings::buildDefaults(m_env.presets);
    // Every preset was replaced by a default one, so the working settings belong to none.
    m_env.currentPreset = -1;
    refill(-1);
}

void PresetsWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_mode == PresetsWindowMode::SaveAsNew && !m_startedNew) {
        m_startedNew = true;
        // Asked once the dialog is on screen, so that the name box opens over it.
        QTimer::singleShot(0, this, [this] { newPreset(); });
    }
}

void PresetsWindow::done(int result) {
    if (!m_closed) {
        m_closed = true;
        const bool written = settings::writePresets(m_env.presetsFilePath, m_env.presets);
        QDialog::done(result);
        emit presetsClosed(written);
        return;
    }
    QDialog::done(result);
}

} // namespace quill::app::ui
