// The UI text names for the run's windows, and the lookup of a text as QString.
#pragma once

#include "settings/language_pack.h"
#include "settings/ui_text_ids.h"

#include <QString>

namespace quill::batch::ui {

namespace text = settings::text;

/// A UI text of the current language.
[[nodiscard]] inline QString uiQ(int index) {
    return QString::fromStdString(settings::uiText(index));
}

} // namespace quill::batch::ui
