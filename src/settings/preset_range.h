// The range check of a preset: every field against the range its setting allows.
#pragma once

#include "settings/preset.h"

#include <cstddef>
#include <string_view>

namespace quill::settings {

/// Longest text a preset may hold in any of its strings (name, patterns, overlay and comment
/// texts, paths, filter values), in bytes. Texts are expanded for every image, so a damaged
/// settings file must not be able to hand the run megabytes of pattern.
inline constexpr std::size_t kMaxPresetTextBytes = std::size_t{32} << 10;

/// True when every field of `preset` lies in its valid range (flags 0 or 1, each value within
/// its documented bounds, every filter condition well-formed, a font name present, no text longer
/// than kMaxPresetTextBytes). This is the
/// range phase that guards every preset load.
[[nodiscard]] bool presetInRange(const Preset& preset);

/// The name of the first field of `preset`, in record order, that lies outside its range, as the
/// field table names it ("filterConditions" for a malformed condition); empty when every field
/// is in range.
[[nodiscard]] std::string_view fieldOutOfRange(const Preset& preset);

} // namespace quill::settings
