// The text tables: the readable sources, the switch between languages, and the translated tables
// under lang/ against the English one: whatever the program reads inside a text survives
// translation. Every table that exists is checked, so a new language is covered as soon as its
// file is added.
#include "settings/language_pack.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

namespace quill::settings {
namespace {

// The packer builds the embedded blocks with this parser, so a checked-in table with a missing or
// extra entry fails here even before it would fail the build.
TEST(LanguagePack, TextTableSourcesNeedEveryEntryExactlyOnce) {
    std::vector<std::string> entries;
    std::string error;
    ASSERT_TRUE(parseTextTable("# comment\n0: a\n\n1: b\\nc \\\\ d \\q\r\n2: e", 3, entries, error))
        << error;
    EXPECT_EQ(entries, (std::vector<std::string>{"a", "b\nc \\ d \\q", "e"}));
    // Missing last, extra, a gap, a duplicate, an empty entry, a line without separator.
    for (const char* bad : {"0: a\n1: b\n", "0: a\n1: b\n2: c\n3: d\n", "0: a\n2: c\n",
                            "0: a\n0: a\n1: b\n2: c\n", "0: a\n1: \n2: c\n", "0: a\n1 b\n2: c\n"}) {
        EXPECT_FALSE(parseTextTable(bad, 3, entries, error)) << bad;
    }
}

// A reader on another thread keeps the text it got while the language is switched under it
// (AddressSanitizer reports a read of a freed table otherwise).
TEST(LanguagePack, TextsStayReadableWhileAnotherThreadSwitchesTheLanguage) {
    ASSERT_TRUE(loadUiTexts(kEnglishLanguage));
    std::atomic<bool> done{false};
    std::thread switcher([&] {
        for (int round = 0; round < 100; ++round)
            EXPECT_TRUE(loadUiTexts(round % kLanguageCount));
        done.store(true);
    });
    while (!done.load())
        EXPECT_FALSE(uiText(416).empty());
    switcher.join();
    ASSERT_TRUE(loadUiTexts(kEnglishLanguage));
}

using Tables = std::map<std::string, std::vector<std::string>>;

// Every lang/*.txt except the program information, by language code (the file name).
Tables allTables() {
    Tables tables;
    for (const auto& item :
         std::filesystem::directory_iterator(std::filesystem::path(QUILL_SOURCE_DIR) / "lang")) {
        const std::string code = item.path().stem().string();
        if (item.path().extension() != ".txt" || code == "programinfo") continue;
        const std::vector<std::uint8_t> bytes = test::readBytes(item.path().string());
        std::string error;
        EXPECT_TRUE(parseTextTable(std::string(bytes.begin(), bytes.end()), kUiTextCount,
                                   tables[code], error))
            << code << ": " << error;
    }
    return tables;
}

// What the program and the user rely on in a text, independent of its wording: placeholder
// tokens such as %FN% or %001%, line breaks, tabs, wildcard and percent signs, the "&" of the
// mnemonics, and whether the text ends with an ellipsis (it opens a dialog) or a colon (it is a
// prompt; labels get theirs from the code). Full-width forms count as the same ending.
std::multiset<std::string> signature(const std::string& text) {
    std::multiset<std::string> marks;
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1)) {
        const std::size_t end =
            text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", at + 1);
        if (end != std::string::npos && end > at + 1 && text[end] == '%') {
            marks.insert(text.substr(at, end - at + 1));
            at = end;
        }
    }
    for (const char c : text) {
        if (std::string_view("\n\r\t%#*|&").find(c) != std::string_view::npos)
            marks.insert(std::string(1, c));
    }
    if (text.ends_with("...") || text.ends_with("\xE2\x80\xA6")) marks.insert("ends with ...");
    if (text.ends_with(":") || text.ends_with("\xEF\xBC\x9A")) marks.insert("ends with :");
    return marks;
}

// Every table under lang/ belongs to a language; the build packs each language's own table, and
// English where a language has none yet. The default presets are told apart by name only.
TEST(LanguageTables, EveryLanguageRunsWithItsOwnTable) {
    const int before = currentLanguage();
    Tables tables = allTables();
    for (int index = 0; index < kLanguageCount; ++index) {
        std::string code = languages()[static_cast<std::size_t>(index)].code;
        if (code == "zh") code = "zh-Hant";
        const auto own = tables.find(code);
        const std::vector<std::string> source = own != tables.end() ? own->second : tables["en"];
        if (own != tables.end() && code != "en") tables.erase(own);
        ASSERT_TRUE(loadUiTexts(index)) << code;
        for (std::size_t i = 0; i < source.size(); ++i)
            ASSERT_EQ(uiText(static_cast<int>(i)), source[i]) << code << " " << i;
        std::set<std::string> names;
        for (int i = 295; i <= 300; ++i)
            names.insert(uiText(i));
        EXPECT_EQ(names.size(), 6u) << code << ": default preset names repeat";
    }
    ASSERT_TRUE(loadUiTexts(before));
    for (const auto& [code, entries] : tables)
        EXPECT_EQ(code, "en") << code << ".txt is built into no language";
}

TEST(LanguageTables, TranslationsKeepWhatTheProgramReads) {
    const Tables tables = allTables();
    const std::vector<std::string>& en = tables.at("en");
    ASSERT_EQ(en.size(), static_cast<std::size_t>(kUiTextCount));
    for (const auto& [code, entries] : tables) {
        if (entries.size() != en.size()) continue; // reported when read
        for (std::size_t i = 0; i < en.size(); ++i) {
            EXPECT_EQ(signature(entries[i]), signature(en[i]))
                << code << " " << i << ": " << entries[i];
        }
    }
}

} // namespace
} // namespace quill::settings
