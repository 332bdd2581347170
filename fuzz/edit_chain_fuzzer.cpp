// Fuzz target: the whole per-image edit chain and the encoder after it. Every number of the
// preset field table is drawn from its valid range (sizes kept small so that a run stays fast),
// the overlay text is drawn too, and a small image of random pixels goes through the chain and
// is encoded in the format the preset names.
#include "pipeline/edit_chain.h"
#include "pipeline/image_steps.h"
#include "pipeline/run_plan.h"
#include "settings/preset.h"
#include "settings/preset_fields.h"
#include "settings/run_settings.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace quill;

namespace {

/// Fields whose large values only make the chain slow (pixels to allocate), not different.
constexpr std::string_view kSizeFields[] = {
    "resizeWidth",   "resizeHeight",    "canvasWidth",        "canvasHeight",
    "resizePercent", "cropLeft",        "cropRight",          "cropTop",
    "cropBottom",    "overlayFontSize", "overlayOutlineWidth"};
constexpr std::int64_t kSizeCap = 160;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    settings::Preset preset;
    settings::setTableDefaults(preset);
    for (const auto& field : settings::presetFields()) {
        if (!field.isNumber()) continue;
        std::int64_t high = field.high;
        if (std::find(std::begin(kSizeFields), std::end(kSizeFields), field.name) !=
            std::end(kSizeFields))
            high = std::min(high, std::max(field.low, kSizeCap));
        field.setNumber(preset, input.ConsumeIntegralInRange(field.low, high));
    }
    preset.overlayText = input.ConsumeRandomLengthString(40);
    preset.overlayImagePath.clear(); // no file of the machine's is read

    const int width = input.ConsumeIntegralInRange(1, 48);
    const int height = input.ConsumeIntegralInRange(1, 48);
    const auto format =
        input.ConsumeBool() ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24;
    toolkit::Image image(width, height, format);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = image.row(y);
        for (std::size_t x = 0;
             x < std::size_t(width) * std::size_t(toolkit::bytesPerPixel(format)); ++x)
            row[x] = input.ConsumeIntegral<std::uint8_t>();
    }

    const imagefiles::ImageList images;
    const settings::RunSettings run =
        settings::deriveRunSettings(preset, settings::runContextFromPlatform(1, 0));
    const pipeline::RunPlan plan = pipeline::makeRunPlan(preset, run, images, "fuzz");
    const pipeline::EditTools tools(plan.edit);
    pipeline::EditedImage edited = pipeline::editImage(
        plan, tools, std::move(image), preset.overlayText, [](pipeline::EditStep) {});
    if (!edited.outcome.ok() || edited.image.empty()) return 0;
    (void)pipeline::encodeOutput(plan, plan.formatFor(imagefiles::FormatKind::Jpeg), edited,
                                 "/nonexistent/out.jpg");
    return 0;
}
