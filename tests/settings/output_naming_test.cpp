// Run settings (derivation from presets, relative paths, the common base folder) and output
// naming on real directories: directory creation, numbering that skips existing names,
// mirroring, same-as-source, and the overwrite decision.
#include "settings/output_naming.h"
#include "settings/run_settings.h"

#include "imagefiles/image_record.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

namespace quill::settings {
namespace {

RunContext context(std::size_t imageCount = 1) {
    return RunContext{imageCount, {"/home/u/Desktop/", "/home/u/Documents/", "/opt/q/bin/"}, 777};
}

// The overlay text and the path tokens are prepared once per run, relative paths are resolved
// against the program folder, and a fixed date of 0 takes the date control's value.
TEST(RunSettingsDerivation, PreparedTextsAndDates) {
    Preset s = defaultPreset(4, "p");
    s.overlayEnabled = 1;
    s.setFileDates = 1;
    s.fileDateSource = FileDateSource::Fixed;
    s.outputDirPattern = "%pd%\\output\\%dy%";
    RunSettings run = deriveRunSettings(s, context());
    EXPECT_EQ(run.overlayTextRun, "%IW%x%IH% (%IR% MP)\n\"%FN%\"");
    EXPECT_EQ(run.outputDirRun, "/home/u/Desktop/output/%DY%/");
    EXPECT_EQ(run.fixedDateRun, 777);
    s.overlayKind = OverlayKind::Image;
    s.overlayImagePath = "..\\logo.png";
    run = deriveRunSettings(s, context());
    EXPECT_EQ(run.overlayImageRun, "/opt/q/logo.png");
    // Sorting by the EXIF date needs image details; preset 2 needs none.
    EXPECT_EQ(deriveRunSettings(defaultPreset(1, "p"), context(1)).needsImageData, 1);
    EXPECT_EQ(deriveRunSettings(defaultPreset(2, "p"), context(2)).needsImageData, 0);
}

TEST(RunSettingsPaths, RelativePathsAndCommonBase) {
    const std::pair<const char*, const char*> paths[] = {
        {"", "/opt/q/"},
        {".\\", "/opt/q/"},
        {"/abs/l.png", "/abs/l.png"},
        {"%PD%\\l.png", "%PD%/l.png"},
        {"..\\l.png", "/opt/l.png"},
        {"../../../l.png", "/l.png"},
    };
    for (const auto& [path, expected] : paths) {
        EXPECT_EQ(resolveRelativePath(path, "/opt/q/"), expected) << path;
    }
    using V = std::vector<std::string>;
    EXPECT_EQ(commonBaseFolder(V{"/a/y/z/", "/a/x/"}), "/a/");
    EXPECT_EQ(commonBaseFolder(V{"/a/x/", "/a/xy/"}), "/a/");
    EXPECT_EQ(commonBaseFolder(V{"/a/X/", "/a/x/"}), "/a/"); // case-sensitive, as the file system
    EXPECT_EQ(commonBaseFolder(V{"rel/x/", "/a/"}), "");
    EXPECT_EQ(commonBaseFolder(V{}), "");
}

imagefiles::ImageRecord image(const std::string& path, const std::string& fileName) {
    imagefiles::ImageRecord r;
    r.sourcePath = path;
    r.folder = platform::directoryPart(path);
    r.fileName = fileName;
    r.recordedDate = 1338508800; // 2012-06-01
    return r;
}

// Writes into `pattern` (an empty pattern: output directory off), format unchanged.
OutputNamer namer(const std::string& pattern, const std::string& rename = "", std::string base = "",
                  int perFolder = 1) {
    Preset s = defaultPreset(0, "p");
    s.convertFormat = 0;
    s.outputDirEnabled = pattern.empty() ? 0 : 1;
    s.outputDirPattern = pattern;
    s.renameEnabled = rename.empty() ? 0 : 1;
    s.renamePattern = rename;
    s.perFolderNumbering = static_cast<std::uint8_t>(perFolder);
    s.mirrorSubfolders = base.empty() ? 0 : 1;
    return OutputNamer(s, deriveRunSettings(s, RunContext{}), std::move(base));
}

TEST(OutputNaming, NumberingSkipsNamesTakenBeforeAndAtCommit) {
    test::TempDir dir;
    const auto a = image("/src/a.jpg", "a");
    ASSERT_TRUE(platform::createDirectory(dir.path() + "out"));
    test::writeText(dir.file("out/(01) a.jpg"), "x");
    OutputNamer numbered = namer(dir.path() + "out/", "(%01%) %fn%");
    OutputPath first = numbered.outputPathFor(a, {});
    ASSERT_EQ(first.path, dir.file("out/(02) a.jpg"));
    // Another program creates (02) and (03) before our commit; the retry skips both without a
    // new listing, and later images go on after it.
    test::writeText(dir.file("out/(02) a.jpg"), "theirs");
    test::writeText(dir.file("out/(03) a.jpg"), "theirs");
    ASSERT_TRUE(numbered.nextFreeNumber(first));
    EXPECT_EQ(first.path, dir.file("out/(04) a.jpg"));
    EXPECT_EQ(first.numberUsed, 4);
    // A failed image gives its number back; the names found taken stay taken.
    numbered.giveBackNumber(first);
    EXPECT_EQ(numbered.outputPathFor(a, {}).name, "(04) a");
    EXPECT_EQ(numbered.outputPathFor(a, {}).name, "(05) a");

    // Counters per output folder, or one for all. Folders whose names differ only in letter case
    // are two folders with a counter each.
    const auto x = image(dir.file("Trip/p.jpg"), "p");
    const auto y = image(dir.file("trip/q.jpg"), "q");
    OutputNamer perFolder = namer("%PF%\\out", "%1%");
    EXPECT_EQ(perFolder.outputPathFor(x, {}).path, dir.file("Trip/out/1.jpg"));
    EXPECT_EQ(perFolder.outputPathFor(y, {}).path, dir.file("trip/out/1.jpg"));
    OutputNamer shared = namer("%PF%\\out", "%1%", "", 0);
    EXPECT_EQ(shared.outputPathFor(x, {}).name, "1");
    EXPECT_EQ(shared.outputPathFor(y, {}).name, "2");

    // Unnumbered outputs have no next number.
    OutputNamer plain = namer(dir.path() + "out/");
    OutputPath kept = plain.outputPathFor(a, {});
    EXPECT_FALSE(plain.nextFreeNumber(kept));
    EXPECT_EQ(kept.path, dir.file("out/a.jpg"));
}

TEST(OutputNaming, DirectoriesAreCreatedAndMirrored) {
    test::TempDir dir;
    const OutputPath dated =
        namer(dir.path() + "output/%DY%/%DM%/").outputPathFor(image("/s/IMG.JPG", "IMG"), {});
    EXPECT_EQ(dated.path, dir.file("output/2012/06/IMG.JPG"));
    EXPECT_TRUE(platform::isDirectory(dated.directory));

    // Folders named with "." or ".." are mirrored by their normal names, so every output stays
    // below the output folder, also with a base given either way.
    const auto up = image(dir.file("a/today/../holiday/3.png"), "3");
    const auto here = image(dir.file("a/today/./4.png"), "4");
    OutputNamer mirror = namer(dir.path() + "out", "",
                               commonBaseFolder(std::vector<std::string>{
                                   normalFolderName(up.folder), normalFolderName(here.folder)}));
    EXPECT_EQ(mirror.outputPathFor(up, {}).path, dir.file("out/holiday/3.png"));
    EXPECT_EQ(mirror.outputPathFor(here, {}).path, dir.file("out/today/4.png"));
    for (const std::string& base : {dir.file("a/today/"), dir.file("a/today/../")}) {
        const std::string path = namer(dir.path() + "out", "", base).outputPathFor(up, {}).path;
        EXPECT_EQ(path.find(".."), std::string::npos) << base;
        EXPECT_EQ(path.rfind(dir.file("out/"), 0), 0u) << base;
    }
}

TEST(OutputNaming, InPlaceAndSameAsSource) {
    // A name the file-name rule kept whole has no extension: the output keeps the exact name
    // instead of gaining a second one (and replacing the source by another file).
    OutputNamer inPlace = namer("");
    EXPECT_EQ(inPlace.outputPathFor(image("/s/.jpg", ".jpg"), {}).path, "/s/.jpg");
    EXPECT_EQ(inPlace.outputPathFor(image("/s/...", ".."), {}).path, "/s/...");
    // In place means the very same path, whatever the letter case of the extension.
    for (const char* path : {"/s/photo.jpg", "/s/photo.JPG", "/s/photo.Jpeg"}) {
        const OutputPath replaced = inPlace.outputPathFor(image(path, "photo"), {});
        EXPECT_EQ(replaced.status, OutputPathStatus::Ready);
        EXPECT_EQ(replaced.path, path);
    }

    test::TempDir dir;
    const auto local = image(dir.file("p.jpg"), "p");
    OutputNamer own = namer("%PF%");
    EXPECT_EQ(own.outputPathFor(local, {}).status, OutputPathStatus::SameAsSource);
    EXPECT_EQ(own.outputPathFor(local, {true, imagefiles::FormatKind::Png, false}).status,
              OutputPathStatus::Ready);
}

struct CountingPolicy final : CollisionPolicy {
    explicit CountingPolicy(CollisionAnswer answer) : answer(answer) {}
    CollisionAnswer decide(const std::string&) override {
        ++asked;
        return answer;
    }
    CollisionAnswer answer;
    int asked = 0;
};

TEST(OutputCollision, AskOnlyWhenAFileIsInTheWayAndRememberForAll) {
    test::TempDir dir;
    const std::string existing = dir.file("a.jpg");
    test::writeText(existing, "x");
    CountingPolicy replaceAll(CollisionAnswer::ReplaceAll);
    CollisionRule rule(replaceAll);
    const std::string source = dir.file("s.jpg");
    EXPECT_EQ(rule.resolve(dir.file("b.jpg"), source, CollisionCheck::Applies),
              CollisionDecision::Write);
    EXPECT_EQ(rule.resolve(existing, source, CollisionCheck::Skipped), CollisionDecision::Write);
    // A renamed output that comes out as its own source is written over it, never deleted first.
    EXPECT_EQ(rule.resolve(existing, existing, CollisionCheck::Applies), CollisionDecision::Write);
    EXPECT_EQ(replaceAll.asked, 0);
    EXPECT_EQ(rule.resolve(existing, source, CollisionCheck::Applies), CollisionDecision::Replace);
    EXPECT_EQ(rule.resolve(existing, source, CollisionCheck::Applies), CollisionDecision::Replace);
    EXPECT_EQ(replaceAll.asked, 1);

    CountingPolicy skipThis(CollisionAnswer::SkipThis);
    CollisionRule each(skipThis);
    EXPECT_EQ(each.resolve(existing, source, CollisionCheck::Applies), CollisionDecision::Skip);
    EXPECT_EQ(each.resolve(existing, source, CollisionCheck::Applies), CollisionDecision::Skip);
    EXPECT_EQ(skipThis.asked, 2);
}

} // namespace
} // namespace quill::settings
