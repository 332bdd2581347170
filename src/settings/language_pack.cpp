// The program-information and user-interface tables filled from the embedded language blocks.
#include "settings/language_pack.h"

#include <array>

#include "toolkit/ascii.h"

#include <atomic>
#include <memory>
#include <mutex>

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

// One set of tables, never changed once it is current.
struct Tables {
    std::vector<std::string> programInfo;
    std::vector<std::string> ui;
    int language = kEnglishLanguage;
};

// The current tables behind a mutex held only to copy the pointer: the libstdc++ of GCC 12
// implements std::atomic<std::shared_ptr> with a lock that ThreadSanitizer cannot see.
class CurrentTables {
public:
    std::shared_ptr<const Tables> load() {
        std::lock_guard lock(m_mutex);
        return m_tables;
    }
    void store(std::shared_ptr<const Tables> tables) {
        std::lock_guard lock(m_mutex);
        m_tables = std::move(tables);
    }

private:
    std::mutex m_mutex;
    std::shared_ptr<const Tables> m_tables = std::make_shared<const Tables>();
};

CurrentTables& currentTables() {
    static CurrentTables current;
    return current;
}

// Copies the current tables, applies `change` to the copy and makes it current. Loads are
// serialised so that two of them cannot each drop the other's change.
template <typename Change> void replaceTables(Change&& change) {
    static std::mutex loading;
    std::lock_guard lock(loading);
    auto next = std::make_shared<Tables>(*currentTables().load());
    change(*next);
    currentTables().store(std::move(next));
}

std::string entryOf(const std::vector<std::string>& table, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= table.size()) return {};
    return table[static_cast<std::size_t>(index)];
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

std::string programInfoText(int index) {
    return entryOf(currentTables().load()->programInfo, index);
}

std::string uiText(int index) {
    return entryOf(currentTables().load()->ui, index);
}

bool loadProgramInfo() {
    std::vector<std::string> entries;
    if (!unpackBlock(embeddedBlock(0), scrambleKey(), kProgramInfoCount, entries)) return false;
    replaceTables([&](Tables& next) { next.programInfo = std::move(entries); });
    return true;
}

bool loadUiTexts(int languageIndex) {
    if (languageIndex < 0 || languageIndex >= kLanguageCount) return false;
    std::vector<std::string> entries;
    if (!unpackBlock(embeddedBlock(languageIndex + 1), scrambleKey(), kUiTextCount, entries)) {
        return false;
    }
    replaceTables([&](Tables& next) {
        next.ui = std::move(entries);
        next.language = languageIndex;
    });
    return true;
}

int currentLanguage() {
    return currentTables().load()->language;
}

} // namespace quill::settings
