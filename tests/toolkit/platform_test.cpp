// The POSIX platform layer on real temporary files. The single-instance lock is checked with
// real processes in the program tests.
#include "toolkit/platform/platform.h"

#include "test_support.h"
#include "toolkit/file_name_order.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace platform = quill::platform;
using quill::test::ScopedEnv;
using quill::test::TempDir;

namespace {
// stat() of a path, following links.
struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st;
}
} // namespace

TEST(PlatformPaths, SpecialFoldersFollowTheEnvironment) {
    TempDir home;
    ScopedEnv h("HOME", home.path().c_str());
    ScopedEnv x("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(platform::appDataDirectory(), home.path() + ".config/");
    EXPECT_EQ(platform::desktopDirectory(), home.path() + "Desktop/");
    ASSERT_TRUE(platform::createDirectories(home.path() + ".config"));
    quill::test::writeText(home.path() + ".config/user-dirs.dirs",
                           "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(platform::desktopDirectory(), home.path() + "Schreibtisch/");
    ScopedEnv x2("XDG_CONFIG_HOME", "/elsewhere");
    EXPECT_EQ(platform::appDataDirectory(), "/elsewhere/");
}

TEST(PlatformFiles, AttributesFromNameAndPermissions) {
    TempDir dir;
    quill::test::writeText(dir.file("a.jpg"), "12345");
    quill::test::writeText(dir.file(".hidden.jpg"), "x");
    EXPECT_EQ(platform::fileInfo(dir.file("a.jpg")).value().attributes, platform::AttrArchive);
    EXPECT_EQ(platform::fileInfo(dir.file(".hidden.jpg"))->attributes,
              platform::AttrArchive | platform::AttrHidden);
    ASSERT_EQ(chmod(dir.file("a.jpg").c_str(), 0444), 0);
    EXPECT_TRUE(platform::fileInfo(dir.file("a.jpg"))->attributes & platform::AttrReadOnly);
    ASSERT_TRUE(platform::clearReadOnly(dir.file("a.jpg")));
    EXPECT_FALSE(platform::fileInfo(dir.file("a.jpg"))->attributes & platform::AttrReadOnly);
    EXPECT_FALSE(platform::fileInfo(dir.file("missing")));
}

TEST(PlatformDates, LocalSecondsFollowTheTimeZone) {
    ScopedEnv tz("TZ", "Europe/Berlin");
    // 2024-07-01 12:00:00 UTC is 14:00 in Berlin (summer time), 2024-01-01 12:00 UTC is 13:00.
    EXPECT_EQ(platform::localFromUtc(1719835200), 1719835200 + 7200);
    EXPECT_EQ(platform::localFromUtc(1704110400), 1704110400 + 3600);
    EXPECT_EQ(platform::utcFromLocal(1719835200 + 7200), 1719835200);
    // After 2038: 64-bit all the way.
    EXPECT_EQ(platform::utcFromLocal(platform::localFromUtc(4102444800)), 4102444800); // 2100

    TempDir dir;
    quill::test::writeText(dir.file("d.txt"), "x");
    const std::int64_t local = 1262349296; // 2010-01-01 12:34:56 local
    ASSERT_TRUE(platform::setFileDates(dir.file("d.txt"), local, local - 60));
    auto info = platform::fileInfo(dir.file("d.txt"));
    EXPECT_EQ(info->modifiedDate, local);
    EXPECT_EQ(info->accessedDate, local - 60);
    EXPECT_EQ(statOf(dir.file("d.txt")).st_mtime, 1262349296 - 3600); // 11:34:56 UTC
}

TEST(PlatformFiles, CopyMoveDeleteAndNoReplace) {
    TempDir dir;
    quill::test::writeText(dir.file("a"), "alpha");
    quill::test::writeText(dir.file("b"), "beta");
    EXPECT_FALSE(
        platform::copyFile(dir.file("a"), dir.file("b"), platform::Overwrite::FailIfExists));
    EXPECT_EQ(platform::lastError(), EEXIST);
    EXPECT_EQ(quill::test::readBytes(dir.file("b")).size(), 4u);
    // A copy keeps the mode and the modification time to the nanosecond.
    ASSERT_EQ(chmod(dir.file("a").c_str(), 0640), 0);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1262349296, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, dir.file("a").c_str(), times, 0), 0);
    ASSERT_TRUE(
        platform::copyFile(dir.file("a"), dir.file("c"), platform::Overwrite::FailIfExists));
    const struct stat copy = statOf(dir.file("c"));
    EXPECT_EQ(copy.st_mode & 07777, 0640u);
    EXPECT_EQ(copy.st_mtim.tv_sec, 1262349296);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 500);
    ASSERT_TRUE(platform::moveFile(dir.file("c"), dir.file("b"), platform::Overwrite::Replace));
    EXPECT_FALSE(platform::fileExists(dir.file("c")));
    EXPECT_EQ(quill::test::readBytes(dir.file("b")).size(), 5u);
    ASSERT_TRUE(platform::deleteFile(dir.file("b")));
    EXPECT_FALSE(platform::deleteFile(dir.file("b")));
    EXPECT_FALSE(platform::listDirectory(dir.file("nope")));
}

// Folders list by name, case-insensitively by code point, whatever order the files were
// created in and whatever order the file system keeps (hash order on ext4, newest first on
// tmpfs). Names that differ only in case come in the order of their bytes.
TEST(PlatformFiles, FoldersListInNameOrderWhateverTheOrderOfCreation) {
    const std::vector<std::string> sorted = {
        "A.jpg",
        "a.jpg",
        "b.JPG",
        "photo01.jpg",
        "Photo02.jpg",
        "photo03.jpg",
        "photo10.jpg",
        "photo9.jpg", // by code point: no number reading
        "sub",        // a folder among the files
        "Z.jpg",
        "zz",
        "_x.jpg",                // "_" comes after the letters, which compare as upper case
        "\xC3\xA9t\xC3\xA9.jpg", // "été": É, T
        "\xC3\x89z.jpg",         // "Éz": É, Z
        "\xE9x.jpg",             // not UTF-8: the byte E9 after É (C9)
        "\xCE\xB1.jpg",          // α as Α (U+0391)
        "\xCE\xA9.jpg",          // Ω (U+03A9)
        "\xD0\xB0.jpg",          // а as А (U+0410)
    };
    // Created in a fixed shuffle (7 and 18 have no common factor, so every name comes once).
    ASSERT_EQ(sorted.size(), 18u);
    TempDir dir;
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        const std::string& name = sorted[k * 7 % sorted.size()];
        if (name == "sub")
            ASSERT_TRUE(platform::createDirectory(dir.file(name)));
        else
            quill::test::writeText(dir.file(name), name);
    }
    const auto entries = platform::listDirectory(dir.path());
    ASSERT_TRUE(entries);
    std::vector<std::string> listed;
    for (const auto& entry : *entries) {
        listed.push_back(entry.name);
        EXPECT_EQ(entry.isDirectory, entry.name == "sub") << entry.name;
    }
    EXPECT_EQ(listed, sorted);

    // The comparison itself, where the folder above cannot show it.
    const struct {
        const char* first;
        const char* second;
    } before[] = {
        {"b.jpg", "C.jpg"},
        {"a", "a.jpg"},             // the shorter name first
        {"B", "b"},                 // equal but for case: by bytes
        {"\xC5\xB8x", "\xC3\xBFy"}, // Ÿ and ÿ
        {"\xC5\x80x", "\xC4\xBFy"}, // ŀ and Ŀ, an odd upper case
        {"\xC3\xA0x", "\xC3\x80y"}, // à and À
    };
    for (const auto& c : before) {
        EXPECT_TRUE(quill::toolkit::fileNameLess(c.first, c.second)) << c.first;
        EXPECT_FALSE(quill::toolkit::fileNameLess(c.second, c.first)) << c.first;
    }
}

TEST(PlatformFiles, PendingFileLeavesNothingUntilCommitted) {
    TempDir dir;
    quill::test::writeText(dir.file("out.jpg"), "old");
    {
        platform::PendingFile pending(dir.file("out.jpg"));
        ASSERT_TRUE(pending.ok());
        const std::uint8_t bytes[] = {1, 2, 3};
        ASSERT_TRUE(pending.write(bytes));
        // dropped without commit
    }
    EXPECT_EQ(quill::test::readBytes(dir.file("out.jpg")).size(), 3u); // "old"
    EXPECT_EQ(platform::listDirectory(dir.path())->size(), 1u);
    const std::vector<std::uint8_t> fresh = {9, 9, 9, 9};
    ASSERT_TRUE(platform::writeFileAtomically(dir.file("out.jpg"), fresh));
    EXPECT_EQ(quill::test::readBytes(dir.file("out.jpg")), fresh);
    EXPECT_FALSE(platform::writeFileAtomically(dir.file("out.jpg"), fresh,
                                               platform::Overwrite::FailIfExists));
    EXPECT_EQ(platform::listDirectory(dir.path())->size(), 1u);
    EXPECT_FALSE(platform::writeFileAtomically(dir.file("missing/out.jpg"), fresh));
    EXPECT_EQ(platform::lastError(), ENOENT);
}

TEST(PlatformPaths, OneSpellingPerPath) {
    // ".." stays: links make folding it unsafe.
    for (const auto& [given, normal] : {std::pair{"dir//a.png", "dir/a.png"},
                                        {"//x///y/", "/x/y/"},
                                        {".", "."},
                                        {"a/.hidden/./b", "a/.hidden/b"},
                                        {"out/sub/../sub/a.jpg", "out/sub/../sub/a.jpg"}})
        EXPECT_EQ(platform::normalisePath(given), normal) << given;
}

TEST(PlatformFiles, OnlyRegularFilesAreRead) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("x.png").c_str(), 0600), 0);
    // Without the type check this open blocks for ever.
    EXPECT_FALSE(platform::readFile(dir.file("x.png"), 1 << 20));
    EXPECT_FALSE(platform::readFile(dir.path(), 1 << 20));
    EXPECT_FALSE(platform::readFile("/dev/zero", 1 << 20));
    quill::test::writeText(dir.file("a.png"), "abc");
    EXPECT_EQ(platform::readFile(dir.file("a.png"), 1 << 20)->size(), 3u);
}

// A read that fails says so and why, whether the open or a later read fails; a failed read
// never passes as a shorter file. Only errors of a file that is there count as read errors.
TEST(PlatformFiles, AReadErrorFailsTheReadAndIsToldApartFromAMissingFile) {
    TempDir dir;
    const std::string path = dir.file("photo.jpg");
    quill::test::writeText(path, std::string(5000, 'x'));
    for (const platform::ReadStep step : {platform::ReadStep::Open, platform::ReadStep::Read}) {
        SCOPED_TRACE(step == platform::ReadStep::Open ? "open" : "read");
        const quill::test::ReadFault fault(path, step, EIO);
        EXPECT_FALSE(platform::readFile(path, 1 << 20));
        EXPECT_EQ(platform::lastError(), EIO);
        EXPECT_FALSE(platform::InputFile::open(path) && step == platform::ReadStep::Open);
        if (auto file = platform::InputFile::open(path)) {
            std::uint8_t byte = 0;
            EXPECT_FALSE(file->readAt(0, std::span(&byte, 1)));
        }
    }
    auto file = platform::InputFile::open(path);
    ASSERT_TRUE(file);
    std::vector<std::uint8_t> tail(100);
    EXPECT_EQ(file->readAt(4950, tail), 50u); // the end of the file is no error
    EXPECT_EQ(file->readAt(6000, tail), 0u);

    const std::pair<std::string, int> reads[] = {
        {dir.file("missing"), ENOENT}, {path + "/below", ENOTDIR}, {dir.path(), EINVAL}};
    for (const auto& [where, error] : reads) {
        EXPECT_FALSE(platform::readFile(where, 1 << 20)) << where;
        EXPECT_EQ(platform::lastError(), error) << where;
        EXPECT_FALSE(platform::isReadError(platform::lastError())) << where;
    }
    EXPECT_FALSE(platform::readFile(path, 100));
    EXPECT_EQ(platform::lastError(), EFBIG);
    EXPECT_FALSE(platform::isReadError(EFBIG));
    EXPECT_TRUE(platform::isReadError(EIO));
    EXPECT_TRUE(platform::isReadError(EACCES));
}

TEST(PlatformFiles, AttributesAndDatesNeverFollowLinks) {
    TempDir dir;
    quill::test::writeText(dir.file("target"), "t");
    ASSERT_EQ(chmod(dir.file("target").c_str(), 0444), 0);
    ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("link").c_str()), 0);
    const struct stat before = statOf(dir.file("target"));
    EXPECT_FALSE(platform::setPermissions(dir.file("link"), 0666));
    EXPECT_FALSE(platform::clearReadOnly(dir.file("link")));
    EXPECT_FALSE(platform::setDefaultPermissions(dir.file("link")));
    (void)platform::setFileDates(dir.file("link"), 1262349296, 1262349296);
    EXPECT_EQ(statOf(dir.file("target")).st_mode, before.st_mode);
    EXPECT_EQ(statOf(dir.file("target")).st_mtim.tv_sec, before.st_mtim.tv_sec);
    // The path itself is still changed where it is a file.
    EXPECT_TRUE(platform::setPermissions(dir.file("target"), 0600));
    EXPECT_EQ(statOf(dir.file("target")).st_mode & 07777, 0600u);
    const auto link = platform::fileIdentity(dir.file("link"));
    ASSERT_TRUE(link);
    EXPECT_TRUE(link->isLink);
    EXPECT_NE(*link, *platform::fileIdentity(dir.file("target")));
}

TEST(PlatformFiles, TemporaryNamesAreHiddenUniqueAndNeverAUsersFile) {
    TempDir dir;
    // Files under the names earlier versions used as fixed side names stay untouched.
    for (const char* name : {"out.pdf_temp", "out.pdf.quill-tmp.jpg"})
        quill::test::writeText(dir.file(name), "user");
    platform::PendingFile first(dir.file("out.pdf"));
    platform::PendingFile second(dir.file("out.pdf"));
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_NE(first.temporaryPath(), second.temporaryPath());
    EXPECT_THAT(platform::filePart(first.temporaryPath()),
                ::testing::MatchesRegex("\\.out\\.pdf\\.[0-9a-f]{16}\\.tmp"));
    const std::vector<std::uint8_t> bytes = {1, 2};
    ASSERT_TRUE(first.write(bytes) && first.commit());
    EXPECT_TRUE(second.discard());
    for (const char* name : {"out.pdf_temp", "out.pdf.quill-tmp.jpg"})
        EXPECT_EQ(quill::test::readBytes(dir.file(name)).size(), 4u);
    EXPECT_EQ(platform::listDirectory(dir.path())->size(), 3u);
    // A long name still fits the 255-byte limit.
    EXPECT_TRUE(platform::writeFileAtomically(dir.file(std::string(250, 'n')), bytes));
    // A new file gets the permissions of any new file.
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(statOf(dir.file("out.pdf")).st_mode & 0777, 0666u & ~mask);
}

// The names temporary files get and the names the leftover sweep takes for ours must agree,
// for every length a final name can have; a name that only resembles them is never ours.
TEST(PlatformFiles, TemporaryNamesAreRecognisedExactly) {
    TempDir dir;
    for (const std::string& name :
         {std::string("a"), std::string(".hidden.jpg"), std::string(200, 'n'),
          std::string(250, 'l'), std::string("a.0123456789abcdef.tmp")}) {
        platform::PendingFile pending(dir.file(name));
        ASSERT_TRUE(pending.ok());
        EXPECT_TRUE(platform::isTemporaryName(platform::filePart(pending.temporaryPath())))
            << pending.temporaryPath();
    }
    const std::string hex = "0123456789abcdef";
    for (const std::string& name : std::vector<std::string>{
             "a." + hex + ".tmp",                              // not hidden
             ".a.0123456789abcdeF.tmp",                        // upper-case digit
             ".a.0123456789abcde.tmp",                         // 15 digits
             ".a.0123456789abcdef0.tmp",                       // 17 digits
             ".photo" + hex + ".tmp",                          // no dot before the digits
             ".a." + hex + ".TMP",                             // another suffix
             ".a." + hex + ".tmp.jpg",                         // something after it
             ".." + hex + ".tmp",                              // no part of a final name
             "." + std::string(201, 'n') + "." + hex + ".tmp", // longer than a temporary gets
             std::string(".a.") + "0123456789abcdeg" + ".tmp", // not a hex digit
         })
        EXPECT_FALSE(platform::isTemporaryName(name)) << name;
}

// The sweep takes only plain files under a temporary name; it never follows a link. (Names that
// only resemble ours and other users' files are checked with the console run.)
TEST(PlatformFiles, LeftoverSweepRemovesOnlyOurOwnTemporaryFiles) {
    TempDir dir;
    const std::string hex = "0123456789abcdef";
    const std::string ours = ".photo.jpg." + hex + ".tmp";
    const std::string oursLong = "." + std::string(200, 'n') + ".fedcba9876543210.tmp";
    const std::string link = ".link.jpg." + hex + ".tmp";
    const std::string folder = ".folder.jpg." + hex + ".tmp";
    for (const std::string& name : {ours, oursLong, std::string("target.jpg")})
        quill::test::writeText(dir.file(name), "x");
    ASSERT_EQ(symlink("target.jpg", dir.file(link).c_str()), 0);
    ASSERT_EQ(mkdir(dir.file(folder).c_str(), 0700), 0);
    quill::test::writeText(dir.file(folder + "/inside"), "x");

    EXPECT_EQ(platform::removeLeftoverTemporaries(dir.path()), 2u);
    EXPECT_FALSE(platform::fileExists(dir.file(ours)));
    EXPECT_FALSE(platform::fileExists(dir.file(oursLong)));
    for (const std::string& name : {link, folder + "/inside", std::string("target.jpg")})
        EXPECT_TRUE(platform::fileExists(dir.file(name))) << name;
    EXPECT_EQ(platform::removeLeftoverTemporaries(dir.path()), 0u);
    EXPECT_EQ(platform::removeLeftoverTemporaries(dir.file("missing/")), 0u);
}

// Every no-replace method (the kernel's flag, hard links, the exclusive placeholder that FAT and
// exFAT need) refuses a taken name, moves to a free one, and lets a commit target choose another
// name.
TEST(PlatformFiles, NoReplaceCommitWithEveryMethod) {
    for (unsigned methods : {3u, 2u, 0u}) {
        SCOPED_TRACE(methods);
        platform::detail::setNoReplaceMethods(methods);
        TempDir dir;
        quill::test::writeText(dir.file("a"), "alpha");
        quill::test::writeText(dir.file("b"), "beta");
        EXPECT_FALSE(platform::renameNoReplace(dir.file("a"), dir.file("b")));
        EXPECT_EQ(platform::lastError(), EEXIST);
        EXPECT_EQ(quill::test::readBytes(dir.file("b")).size(), 4u);
        ASSERT_TRUE(platform::renameNoReplace(dir.file("a"), dir.file("c")));
        EXPECT_FALSE(platform::fileExists(dir.file("a")));
        EXPECT_EQ(quill::test::readBytes(dir.file("c")).size(), 5u);

        platform::CommitTarget target{.path = dir.file("b"),
                                      .mode = platform::Overwrite::FailIfExists};
        int asked = 0;
        target.onExists = [&](platform::CommitTarget& t) {
            t.path = dir.file("b" + std::to_string(++asked));
            return asked < 3;
        };
        quill::test::writeText(dir.file("b1"), "taken");
        const std::vector<std::uint8_t> bytes = {7};
        ASSERT_TRUE(platform::writeFileAtomically(target, bytes));
        EXPECT_EQ(target.path, dir.file("b2"));
        EXPECT_EQ(quill::test::readBytes(dir.file("b2")), bytes);
        EXPECT_EQ(quill::test::readBytes(dir.file("b1")).size(), 5u);
        EXPECT_EQ(platform::listDirectory(dir.path())->size(), 4u); // b b1 b2 c: no temporary
    }
    platform::detail::setNoReplaceMethods(3);
}

TEST(PlatformConsole, ControlCharactersAndBrokenUtf8ShowAsQuestionMarks) {
    const std::pair<std::string, std::string> cases[] = {
        {"two\nlines", "two\nlines"},
        {"C1 \xc2\x85", "C1 ?"}, // ESC, BEL and CSI are checked with the console run
        {"\xc2\xa0\xc3\xa9\xe2\x98\x85\xf0\x9f\x98\x80",
         "\xc2\xa0\xc3\xa9\xe2\x98\x85\xf0\x9f\x98\x80"},
        {"raw \x9b byte", "raw ? byte"},
        {"overlong \xc0\x9b, cut \xe2\x98", "overlong ??, cut ??"},
        {std::string("nul\0end", 7), "nul?end"},
    };
    for (const auto& [in, shown] : cases)
        EXPECT_EQ(platform::printableOnConsole(in), shown) << in;
}
