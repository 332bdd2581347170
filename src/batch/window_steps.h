// The parts of a window run that need no window: the pre-run checks with their boxes described
// as data, and the refill of the image list from the keep list.
#pragma once

#include "imagefiles/image_record.h"
#include "settings/preset.h"
#include "settings/problem_list.h"
#include "settings/run_settings.h"

#include <functional>
#include <string>

namespace quill::batch {

/// One message box of the window form of the pre-run checks.
struct CheckBox {
    enum class Kind {
        Information,
        Warning,
        Question,            ///< Yes goes on
        DestructiveQuestion, ///< Yes goes on to replace or remove source files: No is the default
    };
    Kind kind = Kind::Information;
    int titleIndex = 0; ///< UI text of the title
    std::string text;   ///< the complete text (UI texts, problem list)
};
/// Shows a box and returns true when a question was answered Yes.
using ShowCheckBox = std::function<bool(const CheckBox&)>;

/// The pre-run checks in their window form: stops at the first refusal and shows its box; a
/// warning is a Yes/No question (none when `ignoreWarnings`) that refuses unless answered Yes.
/// On success `run` holds the derived run settings. Changes neither settings nor list.
[[nodiscard]] bool preRunChecksWindow(const imagefiles::ImageList& images,
                                      const settings::Preset& settings, bool ignoreWarnings,
                                      settings::RunSettings& run, const ShowCheckBox& show,
                                      const settings::UiTextLookup& texts);

/// True when one of the five keep options is on.
[[nodiscard]] bool keepsAnything(const settings::Preset& settings);

/// After a window run: empties the image list and, when a keep option is on, fills it with the
/// records of `keepList` (which ends up empty either way).
void refillFromKeepList(imagefiles::ImageList& images, imagefiles::ImageList& keepList,
                        const settings::Preset& settings);

} // namespace quill::batch
