// Start-up pieces: the title, the start preset with its fallbacks, the settings location and
// the shutdown path. Uninstall and the normal locations are checked on the running program.
#include "app/startup.h"

#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

namespace quill::app {
namespace {

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings::loadProgramInfo());
        ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
        if (const char* config = std::getenv("XDG_CONFIG_HOME")) m_savedConfig = config;
        setenv("XDG_CONFIG_HOME", (m_home.path() + "config").c_str(), 1);
        ASSERT_TRUE(platform::createDirectory(m_program.path() + "bin"));
        m_context.programDirectory = m_program.path() + "bin/";
    }
    void TearDown() override {
        if (m_savedConfig)
            setenv("XDG_CONFIG_HOME", m_savedConfig->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    test::TempDir m_home;
    test::TempDir m_program;
    AppContext m_context;
    std::optional<std::string> m_savedConfig;
};

TEST_F(StartUp, StartPresetFallsBackToPresetZero) {
    settings::buildDefaults(m_context.presetList);
    EXPECT_EQ(loadStartPreset(m_context, 4), 4);
    EXPECT_EQ(m_context.workingSettings, m_context.presetList.presets[4]);
    EXPECT_EQ(loadStartPreset(m_context, 9), 0); // beyond the list end

    m_context.presetList.presets[3].selectedPage = 14; // out of range
    EXPECT_EQ(loadStartPreset(m_context, 3), 0);
    EXPECT_EQ(m_context.workingSettings, m_context.presetList.presets[0]);

    // An unusable preset 0 is replaced by the default one; the others stay.
    m_context.presetList.presets[0].quality = 0;
    m_context.presetList.presets[5].name = "kept";
    EXPECT_EQ(loadStartPreset(m_context, 3), 0);
    EXPECT_EQ(m_context.workingSettings, settings::defaultPreset(0, settings::uiText(295)));
    EXPECT_EQ(m_context.presetList.presets[0], m_context.workingSettings);
    EXPECT_EQ(m_context.presetList.presets[5].name, "kept");

    // Without preset 0 the program cannot start.
    int loaded = -1;
    m_context.presetList.presets.clear();
    EXPECT_EQ(tryLoadStartPreset(m_context, 0, loaded), PresetLoad::NoPresetZero);
    EXPECT_EXIT(loadStartPreset(m_context, 2), ::testing::ExitedWithCode(ExitFatal),
                "Fatal error!\n\nCouldn't initialize program.");
}

// A valid file next to the program is tested on the running program; here the files that must
// not count.
TEST_F(StartUp, DamagedSettingFilesNextToTheProgramDoNotMeanPortable) {
    const std::string prefix = m_context.programDirectory + "Quillmere_";
    test::writeText(prefix + "Presets", "");
    test::writeText(prefix + "Language", "Other\n1234");
    chooseSettingsLocation(m_context);
    EXPECT_FALSE(m_context.portableMode);
    EXPECT_EQ(m_context.languageFilePath, m_home.path() + "config/Quillmere/Language");
}

// A presets file next to the program that fails to read may be the user's portable presets:
// taking the per-user files in their place would run other settings without a word, so it
// counts as portable and start-up then finds it unreadable.
TEST_F(StartUp, APortableFileThatFailsToReadIsNotPassedOver) {
    const std::string presets = m_context.programDirectory + "Quillmere_Presets";
    test::writeBytes(presets, settings::serializePresets(settings::defaultPresetList()));
    const test::ReadFault fault(presets, platform::ReadStep::Read, EIO);
    chooseSettingsLocation(m_context);
    EXPECT_TRUE(m_context.portableMode);
    EXPECT_EQ(m_context.presetsFilePath, presets);
}

TEST_F(StartUp, ShutDownEmptiesAUsedPreviewDirectory) {
    m_context.previewDirectory = m_program.path() + "Quillmere_Preview/";
    ASSERT_TRUE(platform::createDirectory(m_context.previewDirectory));
    test::writeText(m_context.previewDirectory + "preview.jpg", "x");
    releaseSession(m_context); // not used: stays
    EXPECT_TRUE(platform::fileExists(m_context.previewDirectory + "preview.jpg"));

    m_context.previewDirectoryUsed = true;
    EXPECT_EXIT(shutDown(m_context, 1), ::testing::ExitedWithCode(1), "");
    EXPECT_FALSE(platform::fileExists(m_context.previewDirectory));
}

} // namespace
} // namespace quill::app
