// Fuzzes the "Presets" reader: any bytes must give a list or a refusal, never a crash; a list
// that was read must survive writing and reading again unchanged.
#include "settings/language_pack.h"
#include "settings/setting_files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quill::settings;
    static const bool loaded = loadProgramInfo() && loadUiTexts(kEnglishLanguage);
    if (!loaded) std::abort();

    PresetList list;
    if (!parsePresets(std::span(data, size), list)) return 0;
    // Old versions are converted while reading; the result is written in the current layout.
    PresetList again;
    if (!parsePresets(serializePresets(list), again)) std::abort();
    list.currentIndex &= 0xFF;
    if (!(again == list)) std::abort();
    return 0;
}
