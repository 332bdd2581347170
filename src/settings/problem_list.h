// The problem list: the one-line description of the first offending setting of a refused run.
#pragma once

#include "settings/preset.h"
#include "settings/run_settings.h"
#include "settings/settings_validation.h"

#include <functional>
#include <string>

namespace quill::settings {

/// Looks up a user-interface text by index (uiText in the program; a table in tests).
using UiTextLookup = std::function<std::string(int)>;
/// The lookup through the current language table (uiText).
[[nodiscard]] UiTextLookup currentUiTexts();

/// The UI text index naming a pipeline operation (the detail code of a failed step): 0 -> 65,
/// 1 -> 66, 2 -> 68, 3 -> 69, 4 -> 70, 5 -> 71, 6 -> 72, 7 -> 73, 8 -> 75, 9 -> 76, 10 -> 77,
/// 11 -> 79, 12 -> 80, 13 -> 81; -1 for any other code.
[[nodiscard]] int operationNameIndex(int detailCode);
/// The operation's name, "" when the code has none.
[[nodiscard]] std::string operationName(int detailCode, const UiTextLookup& texts);

/// The UI text index of a filter property's name as the filter page shows it (94 + property).
[[nodiscard]] int filterPropertyNameIndex(int property);

/// The text shown after the refusal message for result Contradictory (double-quoted parts
/// joined by " -> ", describing the first offending setting) or BadFilterValue (the first
/// unusable condition: property name, " -> ", value, all in one pair of quotes, then "  (n)"
/// with its 1-based position when the list holds more than one condition). "" for other
/// results or when nothing offends.
[[nodiscard]] std::string problemList(ValidationResult result, const Preset& settings,
                                      const RunSettings& run, const UiTextLookup& texts);

} // namespace quill::settings
