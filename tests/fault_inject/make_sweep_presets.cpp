// Writes the Presets file of the fault sweep (sweep.sh); every preset halves the images:
//   preset 0 "move":    JPEG into OUTPUT_DIR, the sources moved away (removed once written);
//   preset 1 "replace": PNG next to the sources, which the outputs replace;
//   preset 2 "convert": PNG into OUTPUT_DIR, the sources kept;
//   preset 3 "number":  JPEG into OUTPUT_DIR renamed "(001) name" and on, metadata carried over,
//                       the sources kept;
//   preset 4 "pdf":     one-page PDFs into OUTPUT_DIR, the sources moved away.
//   make_sweep_presets PRESETS_FILE OUTPUT_DIR
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
    const auto halving = [&](int index, const char* name) {
        settings::Preset preset = settings::defaultPreset(index, name);
        preset.resizeEnabled = 1;
        preset.resizeMode = settings::ResizeMode::Percent;
        preset.resizePercent = 50;
        preset.convertFormat = 1;
        preset.outputFormat = settings::OutputFormat::Png;
        preset.outputDirEnabled = 1;
        preset.outputDirPattern = platform::withTrailingSeparator(argv[2]);
        return preset;
    };
    settings::Preset move = halving(0, "move");
    move.outputFormat = settings::OutputFormat::Jpeg;
    move.moveOriginal = 1;
    settings::Preset replace = halving(1, "replace");
    replace.outputDirEnabled = 0;
    replace.moveOriginal = 1;
    // The default presets 3 and 4 rename, comment and set dates; these start from the plain one.
    settings::Preset number = halving(0, "number");
    number.index = 3;
    number.outputFormat = settings::OutputFormat::Jpeg;
    number.renameEnabled = 1;
    number.renamePattern = "(%001%) %FN%";
    number.keepMetadata = 1;
    settings::Preset pdf = halving(0, "pdf");
    pdf.index = 4;
    pdf.outputFormat = settings::OutputFormat::Pdf;
    pdf.moveOriginal = 1;
    settings::PresetList list;
    list.presets = {move, replace, halving(2, "convert"), number, pdf};
    return platform::writeFileAtomically(argv[1], settings::serializePresets(list)) ? 0 : 1;
}
