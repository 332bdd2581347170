// Every field of the preset record that a settings control edits, by name and member.
#pragma once

#include "settings/preset.h"

#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace quill::app::ui {

/// A code member of Preset (an enum stored in one byte), reached through its stored value.
struct CodeMember {
    std::uint8_t (*get)(const settings::Preset&);
    void (*set)(settings::Preset&, std::uint8_t);
};

/// A member of Preset of one of the stored scalar, code, text or list types.
using PresetMember =
    std::variant<std::uint8_t settings::Preset::*, std::int8_t settings::Preset::*,
                 std::int16_t settings::Preset::*, std::uint32_t settings::Preset::*, CodeMember,
                 std::string settings::Preset::*,
                 std::vector<settings::FilterCondition> settings::Preset::*>;

/// The PresetMember of `Member`: the member pointer itself, or a CodeMember for an enum member.
template <auto Member> [[nodiscard]] PresetMember presetMember() {
    using T = std::remove_cvref_t<decltype(std::declval<settings::Preset&>().*Member)>;
    if constexpr (std::is_enum_v<T>) {
        static_assert(std::is_same_v<std::underlying_type_t<T>, std::uint8_t>);
        return CodeMember{[](const settings::Preset& p) { return std::uint8_t(p.*Member); },
                          [](settings::Preset& p, std::uint8_t v) { p.*Member = T(v); }};
    } else {
        return Member;
    }
}

/// One editable field: its name as spelled in the record and its valid range (numbers only).
struct PresetField {
    const char* name;
    PresetMember member;
    std::int64_t minimum = 0;
    std::int64_t maximum = 0;
};

/// Every field of the record in stored order, except `index` and `name`, which belong to the
/// preset list rather than to the settings that the pages edit.
[[nodiscard]] std::span<const PresetField> presetFields();
/// The field of this name, or nullptr.
[[nodiscard]] const PresetField* findPresetField(const std::string& name);

/// Reads a numeric field as a wide integer (0 for text and list fields).
[[nodiscard]] std::int64_t numericValue(const settings::Preset& preset, const PresetField& field);
/// Writes a numeric field, clamped to its type.
void setNumericValue(settings::Preset& preset, const PresetField& field, std::int64_t value);
/// True when the field holds a number.
[[nodiscard]] bool isNumeric(const PresetField& field);

} // namespace quill::app::ui
