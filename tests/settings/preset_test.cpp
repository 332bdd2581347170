// The copy semantics of the preset record and its range check over the field table.
#include "settings/preset.h"

#include "settings/preset_fields.h"
#include "settings/preset_range.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <tuple>

namespace quill::settings {
namespace {

TEST(PresetRecord, StoreKeepsIndexAndName) {
    Preset copy = defaultPreset(0, "zero");
    copy.filterConditions.push_back({2, 4, 2, "800", 1});
    copy.overlayText = "changed";
    Preset entry = defaultPreset(3, "mine");
    storeInto(entry, copy);
    EXPECT_EQ(entry.index, 3);
    EXPECT_EQ(entry.name, "mine");
    EXPECT_EQ(entry.filterConditions, copy.filterConditions);
    EXPECT_EQ(entry.overlayText, "changed");
}

template <typename Record>
const FieldDescription<Record>& field(std::span<const FieldDescription<Record>> fields,
                                      std::string_view name) {
    const auto found =
        std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return f.name == name; });
    EXPECT_NE(found, fields.end()) << name;
    return *found;
}

// Ranges that the settings pages and the operations rely on, written down independently of the
// table.
TEST(PresetRange, TableHoldsTheDocumentedRanges) {
    const std::tuple<const char*, std::int64_t, std::int64_t> ranges[] = {
        {"selectedPage", 0, 13},
        {"cropMode", 0, 1},
        {"cropBottom", 0, 9999},
        {"trimOutlierTolerance", 0, 50},
        {"rotateMode", 0, 6},
        {"resizePercent", 0, 999},
        {"resizeLimits", 0, 3},
        {"saturationLevel", 0, 300},
        {"gammaLevel", 1, 399},
        {"channelAdjustBlue", 0, 200},
        {"canvasMode", 0, 2},
        {"canvasColor", 0, 0xFFFFFF},
        {"overlayFontSize", 1, 255},
        {"overlayLineSpacing", -100, 100},
        {"overlayImageScale", 10, 100},
        {"overlayOpacity", 1, 100},
        {"overlayVerticalMargin", 1, 999},
        {"sortKey", 0, 9},
        {"fileDateSource", 0, 3},
        {"fileDateShiftMinutes", -9999, 9999},
        {"outputFormat", 0, 4},
        {"quality", 1, 10},
        {"colorDepth", 0, 4},
        {"overlayFontName", 1, kMaxPresetTextBytes},
    };
    for (const auto& [name, low, high] : ranges) {
        const auto& f = field(presetFields(), name);
        EXPECT_EQ(std::pair(f.low, f.high), std::pair(low, high)) << name;
    }
    EXPECT_EQ(field(conditionFields(), "property").high, 14);
    EXPECT_EQ(field(conditionFields(), "operator").high, 7);
}

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
