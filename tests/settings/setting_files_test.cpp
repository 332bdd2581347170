// The "Presets" and "Language" files: layout, round trip, old versions and damaged bytes.
#include "settings/setting_files.h"

#include "settings/language_pack.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <tuple>

namespace quill::settings {
namespace {

using Bytes = std::vector<std::uint8_t>;

class SettingFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loadProgramInfo());
        ASSERT_TRUE(loadUiTexts(kEnglishLanguage));
    }
};

// Five presets; the second has channel values that old versions convert, the third holds conditions
// (one inactive, odd flag bits) and every string field holds text that needs care when stored.
PresetList fivePresets() {
    PresetList list = defaultPresetList();
    list.presets.resize(5);
    list.currentIndex = 3;
    Preset& third = list.presets[2];
    third.name = "Vivid colours"; // the name of this default when the fixture was written
    third.filterEnabled = 1;
    third.filterConditions = {
        {2, 4, 2, "800", 1}, {0xFFFFFFFD, 1, 6, "IMG_*|DSC#", 2}, {0x80000002, 14, 0, "2020", 1}};
    third.overlayText = "line one\r\nline \"two\"\twith \\n and C:\\new\x1B\a\b\f\v";
    third.commentText = "kommentar \xC3\xA4";
    third.overlayLineSpacing = -100;
    third.fixedFileDate = 0xFFFFFFF0u;
    third.fileDateShiftMinutes = -9999;
    third.overlayFontStyle = 256 | 512 | 4 | 8;
    third.canvasEnabled = 1;
    third.canvasWidth = 4000;
    third.canvasMode = settings::CanvasMode::EdgeExtension;
    third.canvasColor = 0x123456;
    third.perFolderNumbering = 0;
    third.noZeroPadding = 1;
    third.convertToSrgb = 1;
    third.removeLocation = 1;
    third.outputSizeLimit = 1048576; // the largest limit takes all of its 32-bit field's room
    list.presets[3].outputSizeLimit = 250;
    Preset& second = list.presets[1];
    second.channelAdjustEnabled = 1;
    second.channelAdjustRed = 127;
    second.channelAdjustGreen = 510;
    second.channelAdjustBlue = 3;
    list.presets[4].name = "Name with \xE2\x82\xAC";
    list.presets[4].overlayFontSize = 200;
    return list;
}

Bytes withVersion(Bytes bytes, float version) {
    const std::size_t at = std::strlen("Quillmere\n");
    std::memcpy(bytes.data() + at, &version, 4);
    return bytes;
}

// Files written before the record layout was described by a field table: the same lists must
// still give exactly these bytes, and old versions must still convert to the same records.
TEST_F(SettingFiles, StoredFilesKeepEveryByte) {
    const auto fixture = [](const std::string& name) {
        return test::readBytes(test::fixture("settings/" + name));
    };
    const std::pair<const char*, PresetList> lists[] = {{"defaults.presets", defaultPresetList()},
                                                        {"varied.presets", fivePresets()}};
    for (const auto& [name, list] : lists) {
        const Bytes stored = fixture(name);
        EXPECT_EQ(serializePresets(list), stored) << name;
        PresetList read;
        ASSERT_TRUE(parsePresets(stored, read)) << name;
        EXPECT_EQ(read, list) << name;
    }
    // The overlay text is stored as a single line with its escapes in place.
    const Bytes varied = fixture("varied.presets");
    EXPECT_NE(std::string(varied.begin(), varied.end())
                  .find("line one\\r\\nline \\'two\\'\\twith \\\\n and C:\\\\new\\[\\a\\b\\f\\v\n"),
              std::string::npos);
    // Old versions convert to the same records; 4.0 to 4.2 files are read as 4.3 files.
    const std::pair<std::string, float> old[] = {{"4.3", 4.0f}, {"4.3", 4.2f}, {"4.3", 4.3f},
                                                 {"4.4", 4.4f}, {"4.5", 4.5f}, {"4.6", 4.6f}};
    for (const auto& [file, version] : old) {
        PresetList read;
        ASSERT_TRUE(
            parsePresets(withVersion(fixture("varied-" + file + ".presets"), version), read))
            << version;
        if (file == "4.6") {
            // 4.6 is the layout before colour conversion, location removal and the size limit:
            // they read as off.
            PresetList expected = fivePresets();
            expected.presets[2].convertToSrgb = expected.presets[2].removeLocation = 0;
            expected.presets[2].outputSizeLimit = expected.presets[3].outputSizeLimit = 0;
            EXPECT_EQ(read, expected);
            continue;
        }
        PresetList converted;
        ASSERT_TRUE(parsePresets(fixture("varied-" + file + ".converted.presets"), converted));
        EXPECT_EQ(read, converted) << version;
    }
    // Before 4.4 the channels were stored as 0..510 with 255 neutral: 127 / 2.55 = 49.8.
    PresetList read;
    ASSERT_TRUE(parsePresets(fixture("varied-4.3.presets"), read));
    const Preset& second = read.presets[1];
    EXPECT_EQ(
        std::tuple(second.channelAdjustRed, second.channelAdjustGreen, second.channelAdjustBlue),
        std::tuple(50, 200, 1));
    // Versions that never existed, and newer ones, are not read.
    for (float version : {3.9f, 4.05f, 4.8f, 5.0f, 0.0f})
        EXPECT_FALSE(parsePresets(withVersion(fixture("varied-4.3.presets"), version), read))
            << version;
    test::TempDir dir;
    ASSERT_TRUE(writeLanguage(dir.file("Language"), 4));
    // The "Language" file kept its layout: only the version in the header changed, and a file of
    // an earlier version still gives its language.
    EXPECT_EQ(test::readBytes(dir.file("Language")), withVersion(fixture("language-4.bin"), 4.7f));
    EXPECT_EQ(readStoredLanguage(test::fixture("settings/language-4.bin")), 4);
}

// The stored files pin the stored form of every escape; these are the odd cases.
TEST_F(SettingFiles, EscapeCodingKeepsUnknownSequencesAndBackslashes) {
    EXPECT_EQ(unescapeOverlayText("C:\\x\\"), "C:\\x\\"); // unknown and trailing: as written
    for (const std::string text : {"C:\\new", "\\\\n", "\\", "end\\", "\\'"}) {
        EXPECT_EQ(unescapeOverlayText(escapeOverlayText(text)), text) << text;
    }
}

TEST_F(SettingFiles, AFileWeCannotReadIsKeptBeforeItIsWrittenOver) {
    test::TempDir dir;
    const Bytes newer = withVersion(serializePresets(fivePresets()), 4.8f);
    const Bytes foreign = {'x', 'y', 'z'};
    const struct {
        const char* name;
        Bytes existing;
        const char* backup; // "" when nothing is to be kept
    } cases[] = {
        {"Presets", newer, "Presets.4.8.bak"},
        // A backup name that is taken is never replaced.
        {"Presets", withVersion(serializePresets(defaultPresetList()), 4.8f), "Presets.4.8.1.bak"},
        {"Foreign", foreign, "Foreign.unknown.bak"},
        {"Current", serializePresets(fivePresets()), ""},
        {"Empty", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        test::writeBytes(path, c.existing);
        std::string backup;
        ASSERT_TRUE(writePresets(path, defaultPresetList(), &backup));
        EXPECT_EQ(backup, *c.backup ? dir.file(c.backup) : std::string());
        if (*c.backup) {
            EXPECT_EQ(test::readBytes(dir.file(c.backup)), c.existing);
        }
        PresetList written;
        (void)readPresets(path, written);
        EXPECT_EQ(written, defaultPresetList());
        // Written over once, the file is ours: the next save keeps no further copy.
        ASSERT_TRUE(writePresets(path, defaultPresetList(), &backup));
        EXPECT_EQ(backup, "");
    }
    EXPECT_EQ(test::readBytes(dir.file("Presets.4.8.bak")), newer);

    // The language file likewise.
    test::writeBytes(dir.file("Language"), withVersion(settingFileHeader(), 5.0f));
    std::string backup;
    ASSERT_TRUE(writeLanguage(dir.file("Language"), 2, &backup));
    EXPECT_EQ(backup, dir.file("Language.5.0.bak"));
}

TEST_F(SettingFiles, EveryTruncationKeepsTheCompleteRecordsOnly) {
    const PresetList list = fivePresets();
    const Bytes bytes = serializePresets(list);
    std::vector<std::size_t> recordEnds;
    for (std::size_t n = 1; n <= list.presets.size(); ++n) {
        PresetList prefix = list;
        prefix.presets.resize(n);
        recordEnds.push_back(serializePresets(prefix).size());
    }
    for (std::size_t length = 0; length <= bytes.size(); ++length) {
        PresetList read;
        const bool ok = parsePresets(std::span(bytes.data(), length), read);
        std::size_t complete = 0;
        while (complete < recordEnds.size() && recordEnds[complete] <= length)
            ++complete;
        ASSERT_EQ(ok, complete > 0) << length;
        if (!ok) continue;
        ASSERT_EQ(read.presets.size(), complete) << length;
        for (std::size_t i = 0; i < complete; ++i)
            ASSERT_EQ(read.presets[i], list.presets[i]);
    }
}

// Files without a single complete record or a valid language index, as the "Presets" and as the
// "Language" file: both give their defaults.
TEST_F(SettingFiles, UnusableFilesGiveTheDefaults) {
    test::TempDir dir;
    const std::string path = dir.file("Presets");
    const std::string foreign = "OtherTool\n\x66\x66\x66\x40\x01\x01\x00";
    const Bytes header = settingFileHeader();
    const auto withIndex = [&](std::uint8_t i) {
        Bytes b = header;
        b.push_back(i);
        return b;
    };
    const std::pair<const char*, std::optional<Bytes>> unusable[] = {
        {"missing", std::nullopt},
        {"another program's", Bytes(foreign.begin(), foreign.end())},
        {"index 11", withIndex(11)},
        {"a signed -1", withIndex(0xFF)},
        {"version 4.8", withVersion(withIndex(2), 4.8f)},
        {"header only", header},
        {"empty, as a full disk leaves it", Bytes()},
    };
    for (const auto& [what, bytes] : unusable) {
        if (bytes) test::writeBytes(path, *bytes);
        PresetList list;
        (void)readPresets(path, list);
        EXPECT_EQ(list, defaultPresetList()) << what;
        EXPECT_EQ(readStoredLanguage(path), -1) << what;
    }
    EXPECT_FALSE(fileMayBeCurrentSettings(path));
    EXPECT_FALSE(writeLanguage(path, 11));
}

// A file that is there but cannot be read may hold the user's presets: it is told apart from a
// missing and from a damaged file, and nothing writes over it. (Tests run as root, which no
// permission stops, so the read fails through a read fault or a folder under the name.)
TEST_F(SettingFiles, AFileThatCannotBeReadIsNeitherMissingNorWrittenOver) {
    using platform::ReadStep;
    const Bytes stored = serializePresets(fivePresets());
    const struct {
        const char* what;
        std::optional<Bytes> bytes; // nullopt: no file; empty: a folder
        std::optional<ReadStep> fault;
        PresetsRead read;
    } cases[] = {
        {"missing", std::nullopt, std::nullopt, PresetsRead::Missing},
        {"another program's", Bytes{'x', 'y', 'z', '\n'}, std::nullopt, PresetsRead::Damaged},
        {"empty", Bytes{}, std::nullopt, PresetsRead::Damaged},
        {"readable", stored, std::nullopt, PresetsRead::Loaded},
        {"input/output error on open", stored, ReadStep::Open, PresetsRead::Unreadable},
        {"input/output error on read", stored, ReadStep::Read, PresetsRead::Unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string path = dir.file("Presets");
        if (c.bytes) test::writeBytes(path, *c.bytes);
        std::optional<test::ReadFault> fault;
        if (c.fault) fault.emplace(path, *c.fault, EIO);
        PresetList list;
        EXPECT_EQ(readPresets(path, list), c.read);
        EXPECT_EQ(list, c.read == PresetsRead::Loaded ? fivePresets() : defaultPresetList());
        if (c.read == PresetsRead::Unreadable) {
            EXPECT_EQ(platform::lastError(), EIO);
            EXPECT_FALSE(writePresets(path, defaultPresetList()));
            EXPECT_FALSE(writeLanguage(path, 2));
            fault.reset();
            EXPECT_EQ(test::readBytes(path), stored);
            EXPECT_FALSE(platform::fileExists(path + ".4.7.bak"));
        } else {
            EXPECT_TRUE(writePresets(path, defaultPresetList()));
        }
    }

    // A folder under the name is no missing file either; it stays as it is.
    test::TempDir dir;
    ASSERT_TRUE(platform::createDirectory(dir.file("Presets")));
    PresetList list;
    EXPECT_EQ(readPresets(dir.file("Presets"), list), PresetsRead::Unreadable);
    EXPECT_EQ(list, defaultPresetList());
    EXPECT_FALSE(writePresets(dir.file("Presets"), list));
    EXPECT_TRUE(platform::isDirectory(dir.file("Presets")));
}

TEST_F(SettingFiles, SystemLanguageChoosesTheTableOrEnglish) {
    {
        const test::ScopedEnv japanese("LC_ALL", "ja_JP.UTF-8"); // no table of its own
        EXPECT_EQ(systemLanguageIndex(), kEnglishLanguage);
    }
    const test::ScopedEnv chinese("LC_ALL", "zh_TW");
    test::TempDir dir;
    EXPECT_EQ(readLanguage(dir.file("none")), 10); // nothing stored: the system's language
}

} // namespace
} // namespace quill::settings
