// The program as users start it: a copy of the built binary in its own folder, with HOME and the
// XDG folders pointed at temporary directories.
#include "program_fixture.h"
#include "settings/language_pack.h"
#include "settings/setting_files.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace quill::app {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(Program, HelpPrintsBannerHelpTextFormatsAndFooterOnly) {
    const RunResult r = run("-console -HELP photo.jpg");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("\n\nQuillmere - Batch Image Modifier\n*****", 0), 0u) << r.out;
    // The switches for scripts follow the first ones; the formats follow them, one line each,
    // with the output format that writes them.
    EXPECT_THAT(r.out, HasSubstr("remaining setting files.\n\n -Set:NAME=VALUE\n"));
    EXPECT_THAT(r.out, HasSubstr("share the work between them.\n\n Image formats\n"));
    EXPECT_THAT(r.out, HasSubstr("\nWebP (webp): read and written (output format 5).\n"));
    const std::string end = "(output format 4).\n\n----------------\n\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), end.size())), end);
    EXPECT_THAT(r.out, Not(HasSubstr("Preset:"))); // no run either
    EXPECT_EQ(r.err, "");
    // Help implies portable mode: no per-user folder and no setting file appear.
    EXPECT_FALSE(platform::fileExists(m_root.path() + "home/.config"));
    EXPECT_FALSE(platform::fileExists(programDir() + "Quillmere_Presets"));
}

// A preset file that is there but cannot be read stops a console run before anything is
// processed; a damaged one runs the defaults with a line that says so; only a missing one runs
// them quietly. (The tests run as root, whom no permission stops: a folder under the name is
// the file that cannot be read.)
TEST_F(Program, OnlyAMissingPresetFileRunsTheDefaultsQuietly) {
    ASSERT_TRUE(platform::copyFile(test::testdata("jpeg/hopper.jpg"), m_root.path() + "work/a.jpg",
                                   platform::Overwrite::Replace));
    const std::string presets = perUser() + "Presets";
    const std::string output = m_root.path() + "home/Desktop/output/"; // where the defaults write
    const std::string preset0 = "Preset: 0 -> \"" + settings::uiText(295) + "\"";
    ASSERT_TRUE(platform::createDirectories(presets));
    RunResult r = run("-Console a.jpg");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("The preset file \"" + presets + "\" exists but can't be read"));
    EXPECT_THAT(r.out, Not(HasSubstr("Preset:")));
    EXPECT_FALSE(platform::fileExists(output));
    EXPECT_TRUE(platform::isDirectory(presets));

    ASSERT_TRUE(platform::removeDirectoryTree(presets));
    test::writeText(presets, "OtherTool\nnot a preset file\n");
    r = run("-Console a.jpg");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(r.err, HasSubstr("The preset file \"" + presets + "\" is damaged"));
    EXPECT_THAT(r.out, HasSubstr(preset0));
    EXPECT_TRUE(platform::isDirectory(output));

    ASSERT_TRUE(platform::deleteFile(presets));
    ASSERT_TRUE(platform::removeDirectoryTree(output));
    r = run("-Console a.jpg");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, HasSubstr(preset0));
    EXPECT_TRUE(platform::isDirectory(output));
}

TEST_F(Program, RelativePathArgumentsResolveAgainstTheStartDirectoryWhileItExists) {
    ASSERT_TRUE(platform::createDirectory(m_root.path() + "work/pics"));
    ASSERT_TRUE(platform::copyFile(test::testdata("bmp/Info_1_Bit_Top_Down.bmp"),
                                   m_root.path() + "work/pics/a.bmp",
                                   platform::Overwrite::Replace));
    RunResult r = run("-Console pics/a.bmp");
    EXPECT_THAT(r.out, HasSubstr("Loaded images: 1\n"));

    // Started in a folder that is gone: the same folder seen from "/" holds an image, so
    // resolving against "/" would load a file the user did not name.
    const Start gone{.folder = "work/gone", .before = "rmdir ../gone"};
    ASSERT_TRUE(platform::createDirectory(m_root.path() + "work/gone"));
    r = run("-Console " + test::shellQuote(m_root.path().substr(1) + "work/pics"), gone);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, Not(HasSubstr("Loaded images")));
    EXPECT_THAT(r.err, HasSubstr("current folder can't be read"));
    // An absolute path still works from there.
    ASSERT_TRUE(platform::createDirectory(m_root.path() + "work/gone"));
    r = run("-Console " + test::shellQuote(m_root.path() + "work/pics"), gone);
    EXPECT_THAT(r.out, HasSubstr("Loaded images: 1\n"));
    EXPECT_EQ(r.err, "");
}

TEST_F(Program, WithoutADisplayTheWindowModeSuggestsTheConsole) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        unsetenv(name);
    const RunResult r = run("");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("-Console"));
}

TEST_F(Program, PortableFilesNextToTheProgramAreFoundWithoutTheSwitch) {
    settings::PresetList list = settings::defaultPresetList();
    list.presets[0].name = "Portable zero";
    ASSERT_TRUE(settings::writePresets(programDir() + "Quillmere_Presets", list));
    const RunResult r = run("-Console");
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.out, HasSubstr("Preset: 0 -> \"Portable zero\""));
    EXPECT_FALSE(platform::fileExists(perUser()));

    // A presets file of an earlier version, as an update finds it, marks the install portable too;
    // without -Preset= the run takes its stored current preset.
    auto bytes = test::readBytes(test::fixture("settings/varied-4.6.presets"));
    test::writeBytes(programDir() + "Quillmere_Presets", bytes);
    EXPECT_THAT(run("-Console").out, HasSubstr("Preset: 3 -> "));
    EXPECT_FALSE(platform::fileExists(perUser()));

    // With -Portable and no files yet, nothing is created in the per-user folder either.
    ASSERT_TRUE(platform::deleteFile(programDir() + "Quillmere_Presets"));
    EXPECT_EQ(run("-Console -Portable").status, 2);
    EXPECT_FALSE(platform::fileExists(m_root.path() + "home/.config/Quillmere"));
}

TEST_F(Program, UninstallRemovesOnlyOurFilesAndNeverFollowsALink) {
    // The user keeps a note and a folder of their own beside our files: those stay, and so does
    // the folder that holds them.
    ASSERT_TRUE(platform::createDirectories(perUser() + "mine"));
    test::writeText(perUser() + "mine/keep.txt", "kept");
    test::writeText(perUser() + "notes.txt", "kept");
    ASSERT_TRUE(settings::writePresets(perUser() + "Presets", settings::defaultPresetList()));
    ASSERT_TRUE(settings::writeLanguage(perUser() + "Language", 2));
    test::writeText(perUser() + "Quillmere_Errorlog.txt", "log");
    ASSERT_TRUE(settings::writeLanguage(programDir() + "Quillmere_Language", 2));
    test::writeText(programDir() + "Quillmere_Presets", "anything");
    test::writeText(programDir() + "Quillmere_Other", "kept");

    const RunResult r = run("-Uninstall -Console");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Removed all setting files of Quillmere!\n");
    for (const char* gone : {"Presets", "Language", "Quillmere_Errorlog.txt"})
        EXPECT_FALSE(platform::fileExists(perUser() + gone)) << gone;
    for (const char* gone : {"Quillmere_Language", "Quillmere_Presets"})
        EXPECT_FALSE(platform::fileExists(programDir() + gone)) << gone;
    for (const std::string& kept : {perUser() + "mine/keep.txt", perUser() + "notes.txt",
                                    programDir() + "Quillmere_Other", binary()})
        EXPECT_TRUE(platform::isRegularFile(kept)) << kept;

    // Holding nothing else, the folder goes too.
    ASSERT_TRUE(platform::removeDirectoryTree(perUser() + "mine"));
    ASSERT_TRUE(platform::deleteFile(perUser() + "notes.txt"));
    ASSERT_TRUE(settings::writePresets(perUser() + "Presets", settings::defaultPresetList()));
    EXPECT_EQ(run("-Uninstall").status, 0);
    EXPECT_FALSE(platform::fileExists(perUser()));

    // The settings folder is a link into a dotfiles repository: nothing behind it is touched.
    const std::string dotfiles = m_root.path() + "dotfiles/";
    ASSERT_TRUE(platform::createDirectories(dotfiles + ".git"));
    test::writeText(dotfiles + ".git/HEAD", "ref");
    ASSERT_TRUE(settings::writePresets(dotfiles + "Presets", settings::defaultPresetList()));
    ASSERT_EQ(::symlink(dotfiles.c_str(), (m_root.path() + "home/.config/Quillmere").c_str()), 0);
    EXPECT_EQ(run("-Uninstall").status, 0);
    EXPECT_TRUE(platform::isRegularFile(dotfiles + ".git/HEAD"));
    EXPECT_TRUE(platform::isRegularFile(dotfiles + "Presets"));
    EXPECT_FALSE(platform::fileExists(m_root.path() + "home/.config/Quillmere"));
}

TEST_F(Program, LockLivesInAPrivateFolderAndAPlantedOneIsExplained) {
    // Without XDG_RUNTIME_DIR the lock folder sits in the temp directory, named with the user id.
    const std::string folder = m_root.path() + "Quillmere-" + std::to_string(::getuid());
    const std::string elsewhere = m_root.path() + "elsewhere/";
    ASSERT_TRUE(platform::createDirectory(elsewhere));
    ASSERT_EQ(::symlink(elsewhere.c_str(), folder.c_str()), 0);
    RunResult r = run("-Console -Help", {.runtimeDirectory = false});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("The lock folder " + folder + " is not a folder of ours"));
    EXPECT_FALSE(platform::fileExists(elsewhere + "Quillmere.lock"));
    ASSERT_EQ(::unlink(folder.c_str()), 0);

    if (::geteuid() == 0) {
        ASSERT_TRUE(platform::createDirectory(folder));
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        r = run("-Console -Help", {.runtimeDirectory = false});
        EXPECT_EQ(r.status, 4);
        EXPECT_THAT(r.err, HasSubstr("belongs to another user"));
        ASSERT_EQ(::rmdir(folder.c_str()), 0);
    }

    // Left to itself, the program makes the folder private and keeps the lock there.
    r = run("-Console -Help", {.runtimeDirectory = false});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(platform::isRegularFile(folder + "/Quillmere.lock"));
}

TEST_F(Program, SecondInstanceLeavesSilently) {
    const test::ScopedEnv runtime("XDG_RUNTIME_DIR", runtimeDir().c_str());
    {
        auto lock = platform::InstanceLock::acquire("Quillmere");
        ASSERT_TRUE(lock.has_value());
        for (const char* arguments : {"-Console photo.jpg", ""}) {
            const RunResult r = run(arguments);
            EXPECT_EQ(r.status, 4) << arguments;
            EXPECT_EQ(r.out, "") << arguments;
            EXPECT_EQ(r.err, "") << arguments;
        }
        EXPECT_FALSE(platform::fileExists(perUser()));
    }
    // Once the first instance is gone, the program starts again.
    EXPECT_EQ(run("-Console -Help").status, 0);
}

} // namespace
} // namespace quill::app
