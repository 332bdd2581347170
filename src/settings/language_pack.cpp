// The program-information and user-interface tables filled from the embedded language blocks.
#include "settings/language_pack.h"

#include <array>

#include "toolkit/ascii.h"

namespace quill::settings {

namespace {

constexpr std::array<LanguageInfo, kLanguageCount> kLanguages = {{
    {"de", "  (Deutsch)"},
    {"et", "  (Eesti)"},
    {"en", "  (English)"},
    {"es", "  (Espa\xC3\xB1ol)"},
    {"fr", "  (Fran\xC3\xA7"
           "ais)"},
    {"it", "  (Italiano)"},
    {"pt", "  (Portugu\xC3\xAAs)"},
    {"ru", "  (\xD0\xA0\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9)"},
    {"sv", "  (Svenska)"},
    {"tr", "  (T\xC3\xBCrk\xC3\xA7"
           "e)"},
    {"zh", "  (\xE7\xB9\x81\xE9\xAB\x94\xE4\xB8\xAD\xE6\x96\x87)"},
}};

// The tables are written at start-up (and on a language switch) by the main thread only.
struct Tables {
    std::vector<std::string> programInfo;
    std::vector<std::string> ui;
    int language = kEnglishLanguage;
};

Tables& tables() {
    static Tables instance;
    return instance;
}

const std::string& emptyText() {
    static const std::string empty;
    return empty;
}

} // namespace

std::span<const LanguageInfo> languages() {
    return kLanguages;
}

int languageIndexForCode(std::string_view code) {
    const std::string lower = toolkit::lowerAscii(code);
    for (int i = 0; i < kLanguageCount; ++i) {
        if (lower == kLanguages[static_cast<std::size_t>(i)].code) return i;
    }
    return kEnglishLanguage;
}

const std::string& programInfoText(int index) {
    const auto& table = tables().programInfo;
    if (index < 0 || static_cast<std::size_t>(index) >= table.size()) return emptyText();
    return table[static_cast<std::size_t>(index)];
}

const std::string& uiText(int index) {
    const auto& table = tables().ui;
    if (index < 0 || static_cast<std::size_t>(index) >= table.size()) return emptyText();
    return table[static_cast<std::size_t>(index)];
}

bool loadProgramInfo() {
    std::vector<std::string> entries;
    if (!unpackBlock(embeddedBlock(0), scrambleKey(), kProgramInfoCount, entries)) return false;
    tables().programInfo = std::move(entries);
    return true;
}

bool loadUiTexts(int languageIndex) {
    if (languageIndex < 0 || languageIndex >= kLanguageCount) return false;
    std::vector<std::string> entries;
    if (!unpackBlock(embeddedBlock(languageIndex + 1), scrambleKey(), kUiTextCount, entries)) {
        return false;
    }
    tables().ui = std::move(entries);
    tables().language = languageIndex;
    return true;
}

int currentLanguage() {
    return tables().language;
}

} // namespace quill::settings
