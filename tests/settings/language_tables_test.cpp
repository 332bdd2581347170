// The translated user-interface tables under lang/ against the English one: whatever the program
// reads inside a text survives translation. Every table that exists is checked, so a new language
// is covered as soon as its file is added.
#include "settings/language_pack.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

// What the program and the user rely on in a text, independent of its wording: placeholder
// tokens such as %FN% or %001%, line breaks, tabs, wildcard and percent signs, the "&" of the
// mnemonics, and whether the text ends with an ellipsis (it opens a dialog) or a colon (it is a
// prompt; labels get theirs from the code). Full-width forms count as the same ending.
std::string signature(const std::string& text) {
    std::vector<std::string> tokens;
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        const std::size_t end =
            text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", at + 1);
        if (end != std::string::npos && end > at + 1 && text[end] == '%') {
            tokens.push_back(text.substr(at, end - at + 1));
            at = end;
        }
    }
    std::sort(tokens.begin(), tokens.end());
    std::string result = "tokens:";
    for (const std::string& token : tokens)
        result += " " + token;
    for (const char c : std::string("\n\r\t%#*|&"))
        result += " | '" + std::string(1, c) + "' x" +
                  std::to_string(std::count(text.begin(), text.end(), c));
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

} // namespace
} // namespace quill::settings
