// The translated user-interface tables under lang/ against the English one: whatever the program
// reads inside a text survives translation and the menu mnemonics stay unique. Every table that
// exists is checked, so a new language is covered as soon as its file is added.
#include "settings/language_pack.h"

#include "test_support.h"
#include "toolkit/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace quill::settings {
namespace {

struct Table {
    std::string code; // file name without ".txt"
    std::vector<std::string> entries;
};

std::vector<std::string> readTable(const std::filesystem::path& path, std::string& error) {
    const std::vector<std::uint8_t> bytes = test::readBytes(path.string());
    std::vector<std::string> entries;
    if (!parseTextTable(std::string(bytes.begin(), bytes.end()), kUiTextCount, entries, error))
        entries.clear();
    return entries;
}

const std::filesystem::path& langDir() {
    static const std::filesystem::path dir = std::filesystem::path(QUILL_SOURCE_DIR) / "lang";
    return dir;
}

const std::vector<std::string>& english() {
    static const std::vector<std::string> entries = [] {
        std::string error;
        auto table = readTable(langDir() / "en.txt", error);
        EXPECT_EQ(table.size(), static_cast<std::size_t>(kUiTextCount)) << error;
        return table;
    }();
    return entries;
}

// Every lang/*.txt except English and the program information, in name order.
std::vector<Table> translatedTables() {
    std::vector<Table> tables;
    for (const auto& item : std::filesystem::directory_iterator(langDir())) {
        const std::string code = item.path().stem().string();
        if (item.path().extension() != ".txt" || code == "en" || code == "programinfo") continue;
        std::string error;
        tables.push_back({code, readTable(item.path(), error)});
        EXPECT_EQ(tables.back().entries.size(), static_cast<std::size_t>(kUiTextCount))
            << code << ": " << error;
    }
    std::sort(tables.begin(), tables.end(),
              [](const Table& a, const Table& b) { return a.code < b.code; });
    return tables;
}

bool isWordChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// The ASCII words of a text (runs of letters, digits and "_"), each with its position.
std::vector<std::pair<std::size_t, std::string>> words(const std::string& text) {
    std::vector<std::pair<std::size_t, std::string>> found;
    for (std::size_t i = 0; i < text.size();) {
        if (!isWordChar(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isWordChar(text[end]))
            ++end;
        found.emplace_back(i, text.substr(i, end - i));
        i = end;
    }
    return found;
}

// Placeholder tokens such as %FN% or %001%, sorted.
std::vector<std::string> tokens(const std::string& text) {
    std::vector<std::string> found;
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        std::size_t end = at + 1;
        while (end < text.size() &&
               ((text[end] >= 'A' && text[end] <= 'Z') || (text[end] >= '0' && text[end] <= '9')))
            ++end;
        if (end > at + 1 && end < text.size() && text[end] == '%') {
            found.push_back(text.substr(at, end - at + 1));
            at = end;
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Runs of digits, sorted.
std::vector<std::string> numbers(const std::string& text) {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9')
            ++end;
        if (end > i) found.push_back(text.substr(i, end - i));
        i = std::max(end, i + 1);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += part + " ";
    return text;
}

// Positions of the single "&" that mark a mnemonic ("&&" is a literal ampersand).
std::vector<std::size_t> mnemonicPositions(const std::string& text) {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (i + 1 < text.size() && text[i + 1] == '&') {
            ++i;
            continue;
        }
        positions.push_back(i);
    }
    return positions;
}

bool endsWithAny(const std::string& text, std::initializer_list<std::string_view> endings) {
    return std::any_of(endings.begin(), endings.end(),
                       [&](std::string_view end) { return text.ends_with(end); });
}

// What the program and the user rely on in a text, independent of its wording: placeholder
// tokens, line breaks and tabs, numbers, wildcard and percent signs, the number of mnemonics,
// the shortcut keys after the modifier name (entry 0 of the same table), and whether the text
// ends with an ellipsis (it opens a dialog) or a colon (it is a prompt; labels get theirs from
// the code). Full-width forms count as the same ending.
std::string signature(const std::string& text, const std::string& modifier) {
    std::string keys;
    for (std::size_t at = text.find(modifier + "+"); at != std::string::npos;
         at = text.find(modifier + "+", at + 1)) {
        // The key name: letters, digits and the ".." of a range, up to the colon or space.
        const std::size_t from = at + modifier.size() + 1;
        std::size_t end = from;
        while (end < text.size() && (isWordChar(text[end]) || text[end] == '.'))
            ++end;
        keys += text.substr(from, end - from) + " ";
    }
    std::string result = "tokens: " + joined(tokens(text)) + "| numbers: " + joined(numbers(text)) +
                         "| keys: " + keys;
    for (const char c : std::string("\n\r\t%#*|"))
        result += "| '" + std::string(1, c) + "' x" +
                  std::to_string(std::count(text.begin(), text.end(), c));
    result += "| mnemonics: " + std::to_string(mnemonicPositions(text).size());
    result += "| ellipsis: " + std::to_string(endsWithAny(text, {"...", "\xE2\x80\xA6"}));
    result += "| colon: " + std::to_string(endsWithAny(text, {":", "\xEF\xBC\x9A"}));
    return result;
}

// Names that no language translates: format names and other capitalised abbreviations (EXIF,
// F1, ...), command-line switches, and parts in double quotes.
std::vector<std::string> fixedNames(const std::string& text) {
    std::vector<std::string> names;
    for (const auto& [at, word] : words(text)) {
        const bool abbreviation = word.size() >= 2 && word[0] >= 'A' && word[0] <= 'Z' &&
                                  std::all_of(word.begin(), word.end(), [](char c) {
                                      return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
                                  });
        if (abbreviation && word != "OK") names.push_back(word);
        const bool switchStart = at >= 1 && text[at - 1] == '-' &&
                                 (at == 1 || text[at - 2] == ' ' || text[at - 2] == '\n');
        if (switchStart) names.push_back("-" + word);
    }
    for (std::size_t open = text.find('"'); open != std::string::npos;) {
        const std::size_t close = text.find('"', open + 1);
        if (close == std::string::npos) break;
        names.push_back(text.substr(open, close - open + 1));
        open = text.find('"', close + 1);
    }
    return names;
}

// Every table under lang/ belongs to a language; the build packs each language's own table, and
// English where a language has none yet. The default presets are told apart by name only.
TEST(LanguageTables, EveryLanguageRunsWithItsOwnTable) {
    const int before = currentLanguage();
    std::set<std::string> codes;
    for (int index = 0; index < kLanguageCount; ++index) {
        std::string code = languages()[static_cast<std::size_t>(index)].code;
        if (code == "zh") code = "zh-Hant";
        codes.insert(code);
        const std::filesystem::path file = langDir() / (code + ".txt");
        std::string error;
        const std::vector<std::string> source =
            std::filesystem::exists(file) ? readTable(file, error) : english();
        ASSERT_TRUE(loadUiTexts(index)) << code;
        for (std::size_t i = 0; i < source.size(); ++i)
            ASSERT_EQ(uiText(static_cast<int>(i)), source[i]) << code << " " << i;
        std::set<std::string> names;
        for (int i = 295; i <= 300; ++i)
            names.insert(uiText(i));
        EXPECT_EQ(names.size(), 6u) << code << ": default preset names repeat";
    }
    ASSERT_TRUE(loadUiTexts(before));
    for (const Table& table : translatedTables())
        EXPECT_TRUE(codes.count(table.code)) << table.code << ".txt is built into no language";
}

TEST(LanguageTables, TranslationsKeepWhatTheProgramReads) {
    const auto& en = english();
    ASSERT_FALSE(en.empty());
    for (const Table& table : translatedTables()) {
        if (table.entries.empty()) continue;
        for (std::size_t i = 0; i < en.size(); ++i) {
            const std::string& text = table.entries[i];
            EXPECT_NE(text.find_first_not_of(" \t\r\n"), std::string::npos)
                << table.code << " " << i << " is blank";
            EXPECT_EQ(signature(text, table.entries[0]), signature(en[i], en[0]))
                << table.code << " " << i << ": " << text;
            for (const std::string& name : fixedNames(en[i]))
                EXPECT_NE(text.find(name), std::string::npos)
                    << table.code << " " << i << " lost \"" << name << "\": " << text;
        }
    }
}

// Entries shown together in one menu or on one page, as index ranges of the table; a mnemonic
// letter may occur once per group.
struct Group {
    int first;
    int last;
    std::vector<int> more; // entries outside the range that belong to the same group
};
const std::vector<Group>& mnemonicGroups() {
    static const std::vector<Group> groups = {
        {1, 1, {7, 29, 31}},  // the menu bar: File, Settings, Presets, Help
        {2, 6, {}},           // File: start, preview, add files, add folder, exit
        {8, 9, {17, 19, 22}}, // Settings: save to preset and the four submenus
        {10, 16, {}},         // Settings > Options: list view, layout, scan, adding switches
        {20, 21, {}},         // Settings > Image date
        {23, 28, {}},         // Settings > After processing
        {32, 43, {}},   // Help: help topics, the seven topics, website, licence, report, about
        {82, 89, {}},   // the image list page: add, start, columns, remove, clear
        {90, 110, {}},  // Filter page
        {111, 122, {}}, // Crop page: fixed margins and automatic trim
        {123, 130, {}}, // Rotate page
        {131, 141, {}}, // Resize page
        {142, 154, {}}, // Colours page
        {155, 161, {}}, // Canvas page
        {162, 175, {}}, // Sorting page
        {176, 179, {}}, // Metadata page
        {180, 190, {197, 198, 199, 200, 201, 202, 203, 204}}, // File dates page
        {191, 196, {}},                                       // File attributes page
        {205, 220, {}},                                       // Output format page
        {221, 227, {}},                                       // Renaming page
        {228, 233, {}},                                       // Output directory page
        {234, 264, {}},         // Overlay page: text, image, font, position
        {265, 272, {}},         // General page: the image list options
        {273, 281, {}},         // placeholder window with its buttons
        {293, 307, {279, 281}}, // presets window
    };
    return groups;
}

// The character after "&" as a code point folded to lower case (ASCII, Latin-1, Latin
// Extended-A, Cyrillic), so that "S" and "s" count as the same key.
char32_t mnemonicKey(const std::string& text, std::size_t at) {
    const char32_t c = at + 1 < text.size() ? toolkit::decodeUtf8At(text, at + 1).code : 0;
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
    if (c >= 0x100 && c <= 0x17F && c % 2 == 0) return c + 1;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

bool isKey(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c >= 0xC0;
}

TEST(LanguageTables, MnemonicsAreUniqueInEveryMenuAndPage) {
    std::vector<Table> tables = translatedTables();
    tables.push_back({"en", english()});
    for (const Table& table : tables) {
        if (table.entries.empty()) continue;
        for (const Group& group : mnemonicGroups()) {
            std::vector<int> members = group.more;
            for (int i = group.first; i <= group.last; ++i)
                members.push_back(i);
            std::map<char32_t, int> owner;
            for (int i : members) {
                const std::string& text = table.entries[static_cast<std::size_t>(i)];
                for (std::size_t at : mnemonicPositions(text)) {
                    const char32_t key = mnemonicKey(text, at);
                    EXPECT_TRUE(isKey(key)) << table.code << " " << i << ": " << text;
                    const auto [it, added] = owner.emplace(key, i);
                    EXPECT_TRUE(added) << table.code << ": entries " << it->second << " and " << i
                                       << " share a mnemonic: " << text;
                }
            }
        }
    }
}

} // namespace
} // namespace quill::settings
