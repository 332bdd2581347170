// The one version of project(): the generated header, the packed program information and the
// version the setting files store must agree.
#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "settings/ui_text_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

namespace quill::settings {
namespace {

TEST(ProgramVersion, TheTableTheHeaderAndTheSettingFilesAgree) {
    ASSERT_TRUE(loadProgramInfo());
    EXPECT_EQ(programInfoText(info::kVersionText), QUILL_VERSION_STRING);
    EXPECT_EQ(programInfoText(5), QUILL_VERSION_FULL_STRING); // entry 5: major.minor.patch
    EXPECT_EQ(std::string(QUILL_VERSION_FULL_STRING).rfind(QUILL_VERSION_STRING ".", 0), 0u);
    EXPECT_EQ(settingsVersion(), kSettingsFileVersion);

    // The header stores the version as a little-endian float after the short name line.
    const std::vector<std::uint8_t> header = settingFileHeader();
    std::array<std::uint8_t, 4> expected{};
    const float version = kSettingsFileVersion;
    std::memcpy(expected.data(), &version, 4);
    ASSERT_GE(header.size(), 4u);
    EXPECT_NE(std::search(header.begin(), header.end(), expected.begin(), expected.end()),
              header.end());
}

TEST(ProgramVersion, TheStoredNumberReadsBackAsTheVersion) {
    // A float keeps "4.7" but turns "4.10" into 4.1, which a later reader would take for an older
    // version: the shortest text of the stored number must be the version itself.
    std::array<char, 32> text{};
    const auto [end, error] =
        std::to_chars(text.data(), text.data() + text.size(), float(QUILL_VERSION_NUMBER));
    ASSERT_EQ(error, std::errc());
    EXPECT_EQ(std::string(text.data(), end), QUILL_VERSION_STRING);
}

} // namespace
} // namespace quill::settings
