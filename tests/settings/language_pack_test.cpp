// The text tables: the embedded blocks, the container's failure cases and the readable sources.
#include "settings/language_pack.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace quill::settings {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> sampleEntries(std::size_t count) {
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < count; ++i)
        entries.push_back("entry " + std::to_string(i));
    entries[1] = "Gr\xC3\xBC\xC3\x9F"
                 "e \xE7\xB9\x81 \xF0\x9F\x98\x80"; // two- to four-byte UTF-8
    return entries;
}

void putU32(Bytes &block, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        block[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(LanguagePack, EmbeddedTablesLoadCompletely) {
    ASSERT_TRUE(loadProgramInfo());
    EXPECT_EQ(programInfoText(0), "Quillmere");
    EXPECT_EQ(programInfoText(2), "Quillmere");
    EXPECT_EQ(programInfoText(4), "4.6");
    EXPECT_FALSE(programInfoText(6).empty());
    EXPECT_FALSE(programInfoText(13).empty());
    EXPECT_NE(programInfoText(14).find("Copyright"), std::string::npos);
    EXPECT_EQ(programInfoText(56), "");
    EXPECT_EQ(programInfoText(-1), "");

    for (int language = 0; language < kLanguageCount; ++language) {
        ASSERT_TRUE(loadUiTexts(language)) << language;
        EXPECT_EQ(currentLanguage(), language);
    }
    EXPECT_FALSE(loadUiTexts(11));
    EXPECT_EQ(currentLanguage(), kLanguageCount - 1);
    ASSERT_TRUE(loadUiTexts(kEnglishLanguage));
    EXPECT_EQ(uiText(85), "Name");
    EXPECT_EQ(uiText(86), "Folder");
    EXPECT_EQ(uiText(87), "Size");
    EXPECT_EQ(uiText(416), "Question");
    EXPECT_EQ(uiText(427), "Information");
    EXPECT_EQ(uiText(439), "");
    // Failure titles and explanations, and the default preset names, are all present and
    // distinct from each other.
    std::set<std::string> failures;
    for (int i = 390; i <= 403; ++i)
        failures.insert(uiText(i));
    EXPECT_EQ(failures.size(), 14u);
    std::set<std::string> names;
    for (int i = 295; i <= 300; ++i)
        names.insert(uiText(i));
    EXPECT_EQ(names.size(), 6u);
    EXPECT_EQ(names.count(""), 0u);
}

TEST(LanguagePack, PackedBlocksUnpackInEveryVariant) {
    const auto entries = sampleEntries(20);
    std::vector<std::string> out;
    for (bool compress : {false, true}) {
        for (bool scramble : {false, true}) {
            const Bytes block = packBlock(entries,
                                          scramble ? std::span<const std::uint8_t>(scrambleKey())
                                                   : std::span<const std::uint8_t>(),
                                          compress);
            ASSERT_FALSE(block.empty());
            EXPECT_EQ(block[6], scramble ? 1 : 0);
            EXPECT_EQ(block[7], compress ? 1 : 0);
            ASSERT_TRUE(unpackBlock(block, scrambleKey(), 20, out)) << compress << scramble;
            EXPECT_EQ(out, entries);
        }
    }
    EXPECT_EQ(scrambleKey().size(), 894u);
    // A scrambled block opened with another key does not unpack (the zlib checksum fails).
    const Bytes scrambled = packBlock(entries, scrambleKey(), true);
    Bytes otherKey = scrambleKey();
    otherKey[5] ^= 0x40;
    EXPECT_FALSE(unpackBlock(scrambled, otherKey, 20, out));
}

TEST(LanguagePack, MalformedContainersFail) {
    const auto entries = sampleEntries(10);
    const Bytes plain = packBlock(entries, {}, false);
    const Bytes packed = packBlock(entries, {}, true);
    std::vector<std::string> out;
    ASSERT_TRUE(unpackBlock(plain, {}, 10, out));

    auto fails = [&](Bytes block, const char *what, std::size_t count = 10) {
        EXPECT_FALSE(unpackBlock(block, scrambleKey(), count, out)) << what;
    };
    Bytes b = plain;
    b[0] = 'J';
    fails(b, "magic");
    b = plain;
    b[4] = 2;
    fails(b, "version 2");
    b = plain;
    putU32(b, 8, 0);
    fails(b, "stored size 0");
    fails(Bytes(plain.begin(), plain.begin() + 16), "header only");
    fails(Bytes(plain.begin(), plain.end() - 1), "stored size beyond the block");
    b = plain;
    putU32(b, 8, 0xFFFFFFF0u);
    fails(b, "huge stored size");
    b = plain;
    putU32(b, 12, 3);
    fails(b, "plain size 3");
    b = packed;
    putU32(b, 12, static_cast<std::uint32_t>(plain.size() - 16 + 1));
    fails(b, "decompressed size differs");
    b = packed;
    putU32(b, 12, 0xFFFFFFFFu);
    fails(b, "huge plain size");
    b = packed;
    b[20] ^= 0xFF;
    fails(b, "damaged compressed data");
    b = plain;
    b[16] = 0xFE;
    fails(b, "entry without 0xFF");
    fails(plain, "fewer entries than expected", 11);
    ASSERT_TRUE(unpackBlock(plain, {}, 9, out)); // more entries than asked for are ignored
    EXPECT_EQ(out.size(), 9u);

    // A zero-length entry ends the table early.
    Bytes zero = plain;
    const std::size_t second = 16 + 3 + entries[0].size() * 2;
    zero[second + 1] = 0;
    zero[second + 2] = 0;
    fails(zero, "length-0 entry");
    // An entry that runs past the end of the data.
    Bytes longEntry = plain;
    longEntry[16 + 1] = 0xFE;
    longEntry[16 + 2] = 0x7F;
    fails(longEntry, "entry beyond the data");
}

TEST(LanguagePack, TextTableSourcesNeedEveryEntryExactlyOnce) {
    std::vector<std::string> entries;
    std::string error;
    ASSERT_TRUE(parseTextTable("# comment\n0: a\n\n1: b\\nc \\\\ d \\q\r\n2: e", 3, entries, error))
        << error;
    EXPECT_EQ(entries, (std::vector<std::string>{"a", "b\nc \\ d \\q", "e"}));

    EXPECT_FALSE(parseTextTable("0: a\n1: b\n", 3, entries, error)); // missing last
    EXPECT_NE(error.find("expected 3"), std::string::npos);
    EXPECT_FALSE(parseTextTable("0: a\n2: c\n", 3, entries, error));             // gap
    EXPECT_FALSE(parseTextTable("0: a\n1: b\n2: c\n3: d\n", 3, entries, error)); // extra
    EXPECT_NE(error.find("extra"), std::string::npos);
    EXPECT_FALSE(parseTextTable("0: a\n0: a\n1: b\n", 2, entries, error)); // duplicate
    EXPECT_FALSE(parseTextTable("0: a\n1: \n", 2, entries, error));        // empty entry
    EXPECT_FALSE(parseTextTable("0: a\n1 b\n", 2, entries, error));        // no separator

    for (const auto &[file, count] : {std::pair{"lang/en.txt", kUiTextCount},
                                      std::pair{"lang/programinfo.txt", kProgramInfoCount}}) {
        const Bytes bytes = test::readBytes(std::string(QUILL_SOURCE_DIR) + "/" + file);
        ASSERT_TRUE(parseTextTable(std::string(bytes.begin(), bytes.end()),
                                   static_cast<std::size_t>(count), entries, error))
            << file << ": " << error;
    }
}

TEST(LanguagePack, PackerRefusesATableWithAMissingEntry) {
    const std::string tool = std::string(QUILL_BINARY_DIR) + "/src/settings/quill_pack_language";
    if (!test::haveTool(tool)) GTEST_SKIP() << "packer not built";
    test::TempDir dir;
    const Bytes en = test::readBytes(std::string(QUILL_SOURCE_DIR) + "/lang/en.txt");
    std::string text(en.begin(), en.end());
    const std::size_t last = text.find("\n438: ");
    ASSERT_NE(last, std::string::npos);
    test::writeText(dir.file("short.txt"), text.substr(0, last + 1));
    test::writeText(dir.file("extra.txt"), text + "439: one too many\n");
    const std::string info = std::string(QUILL_SOURCE_DIR) + "/lang/programinfo.txt";
    auto run = [&](const std::string &table) {
        std::string command = test::shellQuote(tool) + " " + test::shellQuote(dir.file("out.cpp")) +
                              " " + test::shellQuote(info);
        for (int i = 0; i < kLanguageCount; ++i)
            command += " " + test::shellQuote(table);
        return test::runCommand(command + " 2>/dev/null");
    };
    EXPECT_EQ(run(std::string(QUILL_SOURCE_DIR) + "/lang/en.txt"), 0);
    EXPECT_NE(run(dir.file("short.txt")), 0);
    EXPECT_NE(run(dir.file("extra.txt")), 0);
}

} // namespace
} // namespace quill::settings
