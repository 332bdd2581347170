// The range check of a preset: every field against the range its setting allows.
#include "settings/preset_range.h"

#include "settings/preset_fields.h"

namespace quill::settings {

bool presetInRange(const Preset& p) {
    return fieldOutOfRange(p).empty();
}

std::string_view fieldOutOfRange(const Preset& p) {
    for (const FieldDescription<Preset>& field : presetFields()) {
        if (!field.inRange(p)) return field.name;
        if (field.storage != FieldStorage::Conditions) continue;
        for (const FilterCondition& condition : p.filterConditions) {
            for (const FieldDescription<FilterCondition>& part : conditionFields()) {
                if (!part.inRange(condition)) return field.name;
            }
        }
    }
    return {};
}

} // namespace quill::settings
