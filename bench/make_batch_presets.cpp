// Writes a portable presets file for the batch benchmark, every preset writing JPEG quality 8
// into the given folder:
//   preset 0 fits every image into 1024 x 768 (aspect ratio kept);
//   preset 1 adjusts brightness 110, saturation 120, contrast 110 and gamma 120 at full size;
//   preset 2 only converts (PNG sources to JPEG);
//   preset 3 is preset 0 writing PNG, for the quality guard;
//   preset 4 converts, sorted by image date, into mirrored subfolders (the 100,000-file run).
//   make_batch_presets PRESETS_FILE OUTPUT_DIR/
#include "settings/preset.h"
#include "settings/setting_files.h"
#include "toolkit/platform/platform.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PRESETS_FILE OUTPUT_DIR/\n", argv[0]);
        return 2;
    }
    using namespace quill;
    auto jpegInto = [&](int index, const char* name) {
        settings::Preset preset = settings::defaultPreset(index, name);
        preset.convertFormat = 1;
        preset.outputFormat = settings::OutputFormat::Jpeg;
        preset.qualityEnabled = 1;
        preset.quality = 8;
        preset.outputDirEnabled = 1;
        preset.outputDirPattern = platform::withTrailingSeparator(argv[2]);
        return preset;
    };
    settings::Preset resize = jpegInto(0, "Resize");
    resize.convertFormat = 0;
    resize.resizeEnabled = 1;
    resize.resizeMode = settings::ResizeMode::Pixels;
    resize.resizeWidth = 1024;
    resize.resizeHeight = 768;
    resize.resizeOption = 1;
    resize.resizeLimits = settings::ResizeLimits::Both;

    settings::Preset adjust = jpegInto(1, "Adjust");
    adjust.convertFormat = 0;
    adjust.brightnessEnabled = 1;
    adjust.brightnessLevel = 110;
    adjust.saturationEnabled = 1;
    adjust.saturationLevel = 120;
    adjust.contrastEnabled = 1;
    adjust.contrastLevel = 110;
    adjust.gammaEnabled = 1;
    adjust.gammaLevel = 120;

    settings::Preset convert = jpegInto(2, "Convert");

    settings::Preset guard = resize;
    guard.index = 3;
    guard.name = "Resize to PNG";
    guard.convertFormat = 1;
    guard.outputFormat = settings::OutputFormat::Png;

    settings::Preset sorted = jpegInto(2, "Sorted by date");
    sorted.index = 4;
    sorted.sortEnabled = 1;
    sorted.sortKey = settings::SortKey::ImageDate;
    sorted.mirrorSubfolders = 1;

    settings::PresetList list;
    list.presets = {resize, adjust, convert, guard, sorted};
    const auto bytes = settings::serializePresets(list);
    return platform::writeFileAtomically(argv[1], bytes) ? 0 : 1;
}
