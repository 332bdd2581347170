// Writes a portable presets file for the batch benchmark: preset 0 fits every image into
// 1024 x 768 (aspect ratio kept) and writes JPEG quality 8 into the given folder.
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
    settings::Preset preset = settings::defaultPreset(0, "Benchmark");
    preset.convertFormat = 0;
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Pixels;
    preset.resizeWidth = 1024;
    preset.resizeHeight = 768;
    preset.resizeOption = 1;
    preset.resizeLimits = settings::ResizeLimits::Both;
    preset.qualityEnabled = 1;
    preset.quality = 8;
    preset.outputDirEnabled = 1;
    preset.outputDirPattern = platform::withTrailingSeparator(argv[2]);
    settings::PresetList list;
    list.presets.push_back(preset);
    const auto bytes = settings::serializePresets(list);
    return platform::writeFileAtomically(argv[1], bytes) ? 0 : 1;
}
