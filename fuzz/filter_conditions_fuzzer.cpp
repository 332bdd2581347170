// Fuzz target: the filter conditions. Conditions with any property, operator and value kind of
// their valid ranges (a stored preset is range-checked when read) and any value text are tested
// against an image record whose details come from the input too, and the decimal value parser
// reads the raw text.
#include "imagefiles/image_record.h"
#include "settings/filter_conditions.h"
#include "settings/preset.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    imagefiles::ImageRecord record;
    record.folder = input.ConsumeRandomLengthString(64);
    record.fileName = input.ConsumeRandomLengthString(64);
    record.sourcePath = record.folder + record.fileName + input.ConsumeRandomLengthString(8);
    record.fileSize = input.ConsumeIntegral<std::int64_t>();
    record.width = input.ConsumeIntegral<std::int32_t>();
    record.height = input.ConsumeIntegral<std::int32_t>();
    record.pixelCount = input.ConsumeIntegral<std::int64_t>();
    record.colorCount = input.ConsumeIntegral<std::int32_t>();
    record.brightness = input.ConsumeFloatingPoint<float>();
    record.recordedDate = input.ConsumeIntegral<std::int64_t>();
    record.modifiedDate = input.ConsumeIntegral<std::int64_t>();

    settings::Preset preset;
    preset.filterEnabled = 1;
    const int conditions = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < conditions; ++i) {
        settings::FilterCondition condition;
        condition.flags = input.ConsumeIntegral<std::uint32_t>();
        condition.property = input.ConsumeIntegralInRange<std::uint8_t>(0, 14);
        condition.operator_ = input.ConsumeIntegralInRange<std::uint8_t>(0, 7);
        condition.valueKind = input.ConsumeIntegralInRange<std::uint8_t>(1, 2);
        condition.value = input.ConsumeRandomLengthString(32);
        (void)settings::filterValueUsable(condition);
        (void)settings::conditionHolds(condition, record);
        preset.filterConditions.push_back(condition);
    }
    (void)settings::isExcludedByFilter(preset, record);
    (void)settings::decimalValue(input.ConsumeRemainingBytesAsString());
    return 0;
}
