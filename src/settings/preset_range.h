// The range check of a preset: every field against the range its setting allows.
#pragma once

#include "settings/preset.h"

namespace quill::settings {

/// True when every field of `preset` lies in its valid range (flags 0 or 1, each value within
/// its documented bounds, every filter condition well-formed, a font name present). This is the
/// range phase that guards every preset load.
[[nodiscard]] bool presetInRange(const Preset &preset);

} // namespace quill::settings
