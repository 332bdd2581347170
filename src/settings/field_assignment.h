// Setting one preset field from text by its name in the field table (the command line's
// -Set:NAME=VALUE), and the list of the fields that can be set that way.
#pragma once

#include "settings/preset.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::settings {

/// Sets the field `name` of `preset` to `value`. Names are those of the field table; a name
/// that matches no field exactly may match one without regard to case. Numbers are decimal, or
/// hexadecimal after "0x" (colours are 0x00BBGGRR); texts are taken as they are. Returns the
/// message that refuses the assignment (the field's name and its valid range), or nothing when
/// the value was set.
[[nodiscard]] std::optional<std::string> setFieldFromText(Preset& preset, std::string_view name,
                                                          std::string_view value);

/// One line per field that setFieldFromText can set: its name, its range and its default.
[[nodiscard]] std::vector<std::string> settableFieldLines();

} // namespace quill::settings
