// The preset range check over the field table.
#include "settings/preset.h"

#include "settings/preset_fields.h"
#include "settings/preset_range.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <utility>

namespace quill::settings {
namespace {

// Every field just inside and just outside its range, through the check that guards every load;
// values the member cannot hold are skipped. Texts are checked by length.
template <typename Record>
void checkEveryBound(std::span<const FieldDescription<Record>> fields,
                     Preset (*make)(const Record&), Record base) {
    for (const auto& f : fields) {
        const std::pair<std::int64_t, bool> cases[] = {
            {f.low - 1, false}, {f.low, true}, {f.high, true}, {f.high + 1, false}};
        for (const auto& [value, valid] : cases) {
            Record r = base;
            if (f.isText()) {
                if (value < 0) continue;
                (r.*f.text).assign(static_cast<std::size_t>(value), 'a');
            } else if (f.isNumber()) {
                f.setNumber(r, value);
                if (f.number(r) != value) continue;
            } else {
                continue;
            }
            EXPECT_EQ(presetInRange(make(r)), valid) << f.name << " " << value;
        }
    }
}

TEST(PresetRange, EveryBoundIsChecked) {
    const Preset base = defaultPreset(0, "x");
    ASSERT_TRUE(presetInRange(base));
    checkEveryBound<Preset>(
        presetFields(), [](const Preset& p) { return p; }, base);
    checkEveryBound<FilterCondition>(conditionFields(),
                                     [](const FilterCondition& c) {
                                         Preset p = defaultPreset(0, "x");
                                         p.filterConditions = {{0, 1, 0, "", 2}, c};
                                         return p;
                                     },
                                     {0, 1, 0, "", 2});
}

} // namespace
} // namespace quill::settings
