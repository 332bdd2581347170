// Writes the Presets file for the window end-to-end check: preset 0 converts every image to a
// JPEG fitted into 320 x 240 in the given folder, and the program ends when the run is over.
//   make_window_presets PRESETS_FILE OUTPUT_DIR
#include "settings/preset.h"
#include "settings/setting_files.h"
#include "toolkit/platform/platform.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PRESETS_FILE OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    using namespace quill;
    settings::Preset preset = settings::defaultPreset(0, "Window check");
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Pixels;
    preset.resizeWidth = 320;
    preset.resizeHeight = 240;
    preset.resizeOption = 1;
    preset.resizeLimits = settings::ResizeLimits::Both;
    preset.convertFormat = 1;
    preset.outputFormat = settings::OutputFormat::Jpeg;
    preset.outputDirEnabled = 1;
    preset.outputDirPattern = platform::withTrailingSeparator(argv[2]);
    preset.exitAfterRun = 1;
    settings::PresetList list;
    list.presets.push_back(preset);
    return platform::writeFileAtomically(argv[1], settings::serializePresets(list)) ? 0 : 1;
}
