// Setting one preset field from text by its name in the field table.
#include "settings/field_assignment.h"

#include "settings/preset_fields.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace quill::settings {
namespace {

using Field = FieldDescription<Preset>;

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

const Field* fieldNamed(std::string_view name) {
    const auto fields = presetFields();
    for (const Field& field : fields)
        if (field.name == name) return &field;
    const Field* found = nullptr;
    for (const Field& field : fields) {
        if (!sameIgnoringCase(field.name, name)) continue;
        if (found) return nullptr; // two fields differ only in case: the exact name is needed
        found = &field;
    }
    return found;
}

bool settable(const Field& field) {
    return field.isNumber() || field.isText();
}

std::optional<std::int64_t> parseNumber(std::string_view text) {
    int base = 10;
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::string rangeText(const Field& field) {
    if (field.isText())
        return "a text of " + std::to_string(field.low) + " to " + std::to_string(field.high) +
               " bytes";
    return "a whole number from " + std::to_string(field.low) + " to " + std::to_string(field.high);
}

} // namespace

std::optional<std::string> setFieldFromText(Preset& preset, std::string_view name,
                                            std::string_view value) {
    const Field* field = fieldNamed(name);
    if (!field || !settable(*field))
        return "Unknown setting \"" + std::string(name) +
               "\" (-Help=settings lists the names of the settings)";
    if (field->isText()) {
        if (std::int64_t(value.size()) < field->low || std::int64_t(value.size()) > field->high)
            return "Setting " + std::string(field->name) + ": the value must be " +
                   rangeText(*field);
        preset.*(field->text) = std::string(value);
        return std::nullopt;
    }
    const std::optional<std::int64_t> number = parseNumber(value);
    if (!number || *number < field->low || *number > field->high)
        return "Setting " + std::string(field->name) + ": \"" + std::string(value) +
               "\" is not valid; the value must be " + rangeText(*field);
    field->setNumber(preset, *number);
    return std::nullopt;
}

std::vector<std::string> settableFieldLines() {
    std::vector<std::string> lines;
    for (const Field& field : presetFields()) {
        if (!settable(field)) continue;
        std::string line = std::string(field.name) + "  ";
        if (field.isText())
            line += "text, " + std::to_string(field.low) + ".." + std::to_string(field.high) +
                    " bytes, default \"" + field.defaultText + "\"";
        else
            line += std::to_string(field.low) + ".." + std::to_string(field.high) + ", default " +
                    std::to_string(field.defaultNumber);
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace quill::settings
