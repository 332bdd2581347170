// The version the setting files store: a float that must read back as the version of project().
#include "settings/setting_files.h"

#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <string>

namespace quill::settings {
namespace {

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
