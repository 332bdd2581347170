// Writes a portable presets file for the memory benchmark, every preset converting into the
// given folder at the setting that needs the most memory of its format:
//   0 JPEG quality 10, 1 PNG, 2 BMP, 3 JPEG 2000 quality 10 (rate 2), 4 PDF quality 10,
//   5 PNG reduced to a dithered 256-colour palette, 6 JPEG enlarged to 120 percent.
//   make_memory_presets PRESETS_FILE OUTPUT_DIR/
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
    using settings::OutputFormat;
    auto convertTo = [&](int index, const char* name, OutputFormat format) {
        // Preset 0's values: the other default presets rename, recolour or caption.
        settings::Preset preset = settings::defaultPreset(0, name);
        preset.index = std::uint8_t(index);
        preset.convertFormat = 1;
        preset.outputFormat = format;
        preset.qualityEnabled = 1;
        preset.quality = 10;
        preset.outputDirEnabled = 1;
        preset.outputDirPattern = platform::withTrailingSeparator(argv[2]);
        return preset;
    };
    settings::Preset palette = convertTo(5, "PNG 8-bit", OutputFormat::Png);
    palette.colorDepthEnabled = 1;
    palette.colorDepth = settings::ColorDepth::Bits8;
    palette.colorDepthOption = 1; // dithered
    settings::Preset enlarge = convertTo(6, "Enlarge", OutputFormat::Jpeg);
    enlarge.resizeEnabled = 1;
    enlarge.resizeMode = settings::ResizeMode::Percent;
    enlarge.resizePercent = 120;
    enlarge.resizeOption = 1;
    enlarge.resizeLimits = settings::ResizeLimits::Both;

    settings::PresetList list;
    list.presets = {convertTo(0, "JPEG", OutputFormat::Jpeg),
                    convertTo(1, "PNG", OutputFormat::Png),
                    convertTo(2, "BMP", OutputFormat::Bmp),
                    convertTo(3, "JPEG 2000", OutputFormat::Jpeg2000),
                    convertTo(4, "PDF", OutputFormat::Pdf),
                    palette,
                    enlarge};
    const auto bytes = settings::serializePresets(list);
    return platform::writeFileAtomically(argv[1], bytes) ? 0 : 1;
}
