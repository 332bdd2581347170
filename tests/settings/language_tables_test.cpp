// The translated user-interface tables under lang/ against the English one: whatever the program
// reads inside a text survives translation and the menu mnemonics stay unique. Every table that
// exists is checked, so a new language is covered as soon as its file is added.
#include "settings/language_pack.h"

#include "settings/wildcard.h"
#include "test_support.h"
#include "toolkit/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>

namespace quill::settings {
namespace {

struct Table {
    std::string code; // file name without ".txt"
    std::vector<std::string> entries;
};

const std::filesystem::path kLangDir = std::filesystem::path(QUILL_SOURCE_DIR) / "lang";

std::vector<std::string> readTable(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = test::readBytes(path.string());
    std::vector<std::string> entries;
    std::string error;
    EXPECT_TRUE(
        parseTextTable(std::string(bytes.begin(), bytes.end()), kUiTextCount, entries, error))
        << path << ": " << error;
    return entries;
}

// English first, then every other lang/*.txt except the program information, in name order.
std::vector<Table> allTables() {
    std::vector<Table> tables;
    for (const auto& item : std::filesystem::directory_iterator(kLangDir)) {
        const std::string code = item.path().stem().string();
        if (item.path().extension() == ".txt" && code != "programinfo")
            tables.push_back({code, readTable(item.path())});
    }
    std::sort(tables.begin(), tables.end(), [](const Table& a, const Table& b) {
        return std::pair(a.code != "en", a.code) < std::pair(b.code != "en", b.code);
    });
    return tables;
}

// Positions of the single "&" that mark a mnemonic ("&&" is a literal ampersand).
std::vector<std::size_t> mnemonicPositions(const std::string& text) {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (i + 1 < text.size() && text[i + 1] == '&')
            ++i;
        else
            positions.push_back(i);
    }
    return positions;
}

// What the program and the user rely on in a text, independent of its wording: placeholder
// tokens such as %FN% or %001%, line breaks, tabs, wildcard and percent signs, the number of
// mnemonics, and whether the text ends with an ellipsis (it opens a dialog) or a colon (it is a
// prompt; labels get theirs from the code). Full-width forms count as the same ending.
std::string signature(const std::string& text) {
    std::vector<std::string> tokens;
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        std::size_t end = at + 1;
        while (end < text.size() &&
               ((text[end] >= 'A' && text[end] <= 'Z') || (text[end] >= '0' && text[end] <= '9')))
            ++end;
        if (end > at + 1 && end < text.size() && text[end] == '%') {
            tokens.push_back(text.substr(at, end - at + 1));
            at = end;
        }
    }
    std::sort(tokens.begin(), tokens.end());
    std::string result = "tokens:";
    for (const std::string& token : tokens)
        result += " " + token;
    for (const char c : std::string("\n\r\t%#*|"))
        result += " | '" + std::string(1, c) + "' x" +
                  std::to_string(std::count(text.begin(), text.end(), c));
    result += " | mnemonics: " + std::to_string(mnemonicPositions(text).size());
    const auto endsWith = [&](std::string_view a, std::string_view b) {
        return text.ends_with(a) || text.ends_with(b);
    };
    result += " | ellipsis: " + std::to_string(endsWith("...", "\xE2\x80\xA6"));
    result += " | colon: " + std::to_string(endsWith(":", "\xEF\xBC\x9A"));
    return result;
}

// Every table under lang/ belongs to a language; the build packs each language's own table, and
// English where a language has none yet. The default presets are told apart by name only.
TEST(LanguageTables, EveryLanguageRunsWithItsOwnTable) {
    const int before = currentLanguage();
    const std::vector<std::string> english = readTable(kLangDir / "en.txt");
    std::set<std::string> codes;
    for (int index = 0; index < kLanguageCount; ++index) {
        std::string code = languages()[static_cast<std::size_t>(index)].code;
        if (code == "zh") code = "zh-Hant";
        codes.insert(code);
        const std::filesystem::path file = kLangDir / (code + ".txt");
        const std::vector<std::string> source =
            std::filesystem::exists(file) ? readTable(file) : english;
        ASSERT_TRUE(loadUiTexts(index)) << code;
        for (std::size_t i = 0; i < source.size(); ++i)
            ASSERT_EQ(uiText(static_cast<int>(i)), source[i]) << code << " " << i;
        std::set<std::string> names;
        for (int i = 295; i <= 300; ++i)
            names.insert(uiText(i));
        EXPECT_EQ(names.size(), 6u) << code << ": default preset names repeat";
    }
    ASSERT_TRUE(loadUiTexts(before));
    for (const Table& table : allTables())
        EXPECT_TRUE(codes.count(table.code)) << table.code << ".txt is built into no language";
}

TEST(LanguageTables, TranslationsKeepWhatTheProgramReads) {
    const std::vector<Table> tables = allTables();
    const std::vector<std::string>& en = tables[0].entries;
    ASSERT_EQ(en.size(), static_cast<std::size_t>(kUiTextCount));
    for (const Table& table : tables) {
        if (table.entries.size() != en.size()) continue; // reported when read
        for (std::size_t i = 0; i < en.size(); ++i) {
            const std::string& text = table.entries[i];
            EXPECT_NE(text.find_first_not_of(" \t\r\n"), std::string::npos)
                << table.code << " " << i << " is blank";
            EXPECT_EQ(signature(text), signature(en[i])) << table.code << " " << i << ": " << text;
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
const Group kMnemonicGroups[] = {
    {1, 1, {7, 29, 31}},  // the menu bar: File, Settings, Presets, Help
    {2, 6, {}},           // File: start, preview, add files, add folder, exit
    {8, 9, {17, 19, 22}}, // Settings: save to preset and the four submenus
    {10, 16, {}},         // Settings > Options: list view, layout, scan, adding switches
    {20, 21, {}},         // Settings > Image date
    {23, 28, {}},         // Settings > After processing
    {32, 43, {}},         // Help: help topics, the seven topics, website, licence, report, about
    {82, 89, {}},         // the image list page: add, start, columns, remove, clear
    {90, 110, {}},        // Filter page
    {111, 122, {}},       // Crop page: fixed margins and automatic trim
    {123, 130, {}},       // Rotate page
    {131, 141, {}},       // Resize page
    {142, 154, {}},       // Colours page
    {155, 161, {}},       // Canvas page
    {162, 175, {}},       // Sorting page
    {176, 179, {}},       // Metadata page
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

// The letter or digit after the "&" at `at`, lower-cased so that "S" and "s" are one key; empty
// when there is none.
std::string mnemonicKey(const std::string& text, std::size_t at) {
    if (at + 1 >= text.size()) return "";
    const toolkit::Utf8Char c = toolkit::decodeUtf8At(text, at + 1);
    if (c.length == 0 || (c.code < 0xC0 && !std::isalnum(static_cast<int>(c.code)))) return "";
    return toLowerText(text.substr(at + 1, c.length));
}

TEST(LanguageTables, MnemonicsAreUniqueInEveryMenuAndPage) {
    for (const Table& table : allTables()) {
        if (table.entries.size() != static_cast<std::size_t>(kUiTextCount)) continue;
        for (const Group& group : kMnemonicGroups) {
            std::vector<int> members = group.more;
            for (int i = group.first; i <= group.last; ++i)
                members.push_back(i);
            std::map<std::string, int> owner;
            for (int i : members) {
                const std::string& text = table.entries[static_cast<std::size_t>(i)];
                for (std::size_t at : mnemonicPositions(text)) {
                    const std::string key = mnemonicKey(text, at);
                    EXPECT_FALSE(key.empty()) << table.code << " " << i << ": " << text;
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
