// The dialog of "Run with several presets": one check box per stored preset.
#pragma once

#include "settings/preset.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QDialogButtonBox;

namespace quill::app::ui {

/// Lets the user tick the presets that run in turn over the image list. OK is enabled while at
/// least one preset is ticked; the current preset starts ticked.
class SeveralPresetsDialog : public QDialog {
    Q_OBJECT
public:
    SeveralPresetsDialog(const settings::PresetList& presets, int currentPreset,
                         QWidget* parent = nullptr);

    /// The ticked presets' positions, in list order (the order they run in).
    [[nodiscard]] std::vector<int> chosen() const;
    /// The check box of preset `position` (tests tick them).
    [[nodiscard]] QCheckBox* box(int position) const;

private:
    std::vector<QCheckBox*> m_boxes;
    QDialogButtonBox* m_buttons = nullptr;
};

/// The first preset of `order` (its list position) that moves or replaces its images although
/// another preset comes after it; -1 when there is none. Such a preset can only run last: the
/// presets after it would find its sources gone.
[[nodiscard]] int movingPresetNotLast(const settings::PresetList& presets,
                                      const std::vector<int>& order);

/// A menu text without its mnemonic: "(&W)" after a CJK text goes whole, else the "&" marker.
[[nodiscard]] QString withoutMnemonic(QString text);

} // namespace quill::app::ui
