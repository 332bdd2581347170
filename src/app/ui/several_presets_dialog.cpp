// The dialog of "Run with several presets".
#include "app/ui/several_presets_dialog.h"

#include "settings/language_pack.h"
#include "settings/run_settings.h"
#include "settings/ui_text_ids.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace quill::app::ui {

namespace text = settings::text;

QString withoutMnemonic(QString text) {
    static const QRegularExpression cjkMarker(QStringLiteral("\\(&[^)]\\)$"));
    text.remove(cjkMarker);
    // "&&" is a literal ampersand.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

SeveralPresetsDialog::SeveralPresetsDialog(const settings::PresetList& presets, int currentPreset,
                                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(
        withoutMnemonic(QString::fromStdString(settings::uiText(text::kRunWithSeveralPresets))));
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(QString::fromStdString(settings::uiText(text::kTickPresetsToRun)));
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    for (std::size_t i = 0; i < presets.presets.size(); ++i) {
        // The name is shown as it is: "&" in a preset name is no mnemonic.
        QString name = QString::fromStdString(presets.presets[i].name);
        name.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* box = new QCheckBox(QString::number(i) + QStringLiteral("  ") + name);
        box->setChecked(int(i) == currentPreset);
        layout->addWidget(box);
        m_boxes.push_back(box);
        connect(box, &QCheckBox::toggled, this,
                [this] { m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!chosen().empty()); });
    }
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!chosen().empty());
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(m_buttons);
}

std::vector<int> SeveralPresetsDialog::chosen() const {
    std::vector<int> positions;
    for (std::size_t i = 0; i < m_boxes.size(); ++i)
        if (m_boxes[i]->isChecked()) positions.push_back(int(i));
    return positions;
}

QCheckBox* SeveralPresetsDialog::box(int position) const {
    return position >= 0 && std::size_t(position) < m_boxes.size() ? m_boxes[std::size_t(position)]
                                                                   : nullptr;
}

int movingPresetNotLast(const settings::PresetList& presets, const std::vector<int>& order) {
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        if (settings::takesSourcesAway(presets.presets[std::size_t(order[i])])) return order[i];
    }
    return -1;
}

} // namespace quill::app::ui
