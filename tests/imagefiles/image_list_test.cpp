// The image list: admission rules, directory walks, record numbers and the dialog's filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "imagefiles/format.h"
#include "imagefiles/image_list.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {
namespace {

std::vector<std::string> namesOf(const ImageList& list) {
    std::vector<std::string> names;
    for (const ImageRecord& r : list.records())
        names.push_back(platform::filePart(r.sourcePath));
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ImageList, FileNameDropsOnlyAnImageExtension) {
    for (const auto& [path, name] : {std::pair{"/p/photo.jpeg", "photo"},
                                     {"/p/x.photo", "x.photo"},
                                     {"/p/.profile", ".profile"},
                                     {"/p/a.b.png", "a.b"}})
        EXPECT_EQ(fileNameOf(path), name);
}

TEST(ImageList, AdmissionAndNumbers) {
    test::TempDir dir;
    test::writeText(dir.file("a.JPG"), "x");
    test::writeText(dir.file("a.jpg"), "xy");
    test::writeText(dir.file(".hidden.png"), "x");
    ASSERT_TRUE(platform::createDirectory(dir.file("sub.png")));
    ImageList list;
    const ListOptions options;
    EXPECT_TRUE(addImageRecord(dir.file("a.JPG"), list, options));
    EXPECT_TRUE(addImageRecord(dir.file("a.jpg"), list, options)); // case-sensitive duplicates
    EXPECT_FALSE(addImageRecord(dir.file("a.jpg"), list, options));
    EXPECT_FALSE(addImageRecord(dir.file(".hidden.png"), list, options));
    EXPECT_FALSE(addImageRecord(dir.file("sub.png"), list, options));
    EXPECT_FALSE(addImageRecord(dir.file("missing.png"), list, options));
    EXPECT_TRUE(addImageRecord(dir.file(".hidden.png"), list, ListOptions{false, true, false}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].recordId, 2);
    EXPECT_EQ(list[1].fileName, "a");
    // Numbers are never reused after removals, and the keep list continues them.
    list.erase(2);
    EXPECT_TRUE(addImageRecord(dir.file(".hidden.png"), list, ListOptions{false, true, false}));
    EXPECT_EQ(list[2].recordId, 4);
    ImageList keep(list.lastRecordId());
    keep.append(ImageRecord{});
    EXPECT_EQ(keep[0].recordId, 5);
    list.takeRecordsFrom(keep);
    EXPECT_EQ(list.size(), 4u);
    EXPECT_TRUE(keep.empty());
    EXPECT_EQ(list.lastRecordId(), 5);
}

TEST(ImageList, WalksRecursionCancelAndDuplicates) {
    test::TempDir dir;
    ASSERT_TRUE(platform::createDirectories(dir.file("sub/deeper")));
    ASSERT_TRUE(platform::createDirectory(dir.file(".hiddendir")));
    for (const char* name :
         {"a.png", "b.txt", "c.avi", "sub/d.bmp", "sub/deeper/e.gif", ".hiddendir/f.jpg"}) {
        test::writeText(dir.file(name), "x");
    }
    ImageList flat;
    walkDirectory(dir.path(), false, flat, ListOptions{});
    EXPECT_EQ(namesOf(flat), std::vector<std::string>{"a.png"});

    ImageList deep; // hidden directories are walked like any other
    int rows = 0;
    const ListOptions withVideos{true, false, true};
    addPaths({dir.path(), dir.path(), dir.file("b.txt")}, deep, withVideos,
             [&](const ImageRecord&) { ++rows; });
    EXPECT_EQ(namesOf(deep),
              (std::vector<std::string>{"a.png", "c.avi", "d.bmp", "e.gif", "f.jpg"}));
    EXPECT_EQ(rows, 5);

    // The cancel flag stops the walk after the current entry.
    ImageList cancelled;
    cancelled.cancel = 1;
    addPaths({dir.file("a.png"), dir.path()}, cancelled, ListOptions{});
    EXPECT_EQ(cancelled.size(), 1u);
}

TEST(ImageList, DuplicateTestFollowsEveryWayOfRemovingRecords) {
    test::TempDir dir;
    std::vector<std::string> paths;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png", "e.png"}) {
        paths.push_back(dir.file(name));
        test::writeText(paths.back(), "x");
    }
    ImageList list;
    for (const std::string& path : paths)
        ASSERT_TRUE(addImageRecord(path, list, {}));

    // Removing in one pass keeps the order and moves the current index to the next kept record.
    list.setCurrentIndex(1);
    list.eraseMarked({0, 1, 0, 1});
    ASSERT_EQ(namesOf(list), (std::vector<std::string>{"a.png", "c.png", "e.png"}));
    EXPECT_EQ(list[1].sourcePath, paths[2]);
    EXPECT_EQ(list.currentIndex(), 1);
    list.setCurrentIndex(2);
    list.eraseMarked({0, 0, 1});
    EXPECT_EQ(list.currentIndex(), 1); // nothing after it: the last record
    EXPECT_EQ(list.size(), 2u);

    // Paths removed by any route can be added again; the others stay duplicates.
    EXPECT_TRUE(addImageRecord(paths[1], list, {}));
    list.erase(0);
    list.records().pop_back(); // past the list's own members
    EXPECT_TRUE(addImageRecord(paths[0], list, {}));
    EXPECT_TRUE(addImageRecord(paths[1], list, {}));
    EXPECT_FALSE(addImageRecord(paths[2], list, {}));
    ImageList other(list.lastRecordId());
    ASSERT_TRUE(addImageRecord(paths[4], other, {}));
    list.takeRecordsFrom(other);
    EXPECT_FALSE(addImageRecord(paths[4], list, {}));
    EXPECT_TRUE(addImageRecord(paths[4], other, {}));
    list.clear();
    EXPECT_TRUE(addImageRecord(paths[4], list, {}));
}

TEST(ImageList, WalkEntersEveryFolderOnceWhateverLeadsToIt) {
    test::TempDir dir;
    // A chain of nested folders with one image at every level.
    std::string chain = dir.file("n");
    constexpr int kDepth = 200;
    for (int level = 0; level < kDepth; ++level) {
        ASSERT_TRUE(platform::createDirectory(chain));
        test::writeText(chain + "/i.png", "x");
        chain += "/n";
    }
    ASSERT_TRUE(platform::createDirectory(dir.file("other")));
    test::writeText(dir.file("other/o.png"), "x");
    // Two links to one folder, and a loop from the deepest level back to the top.
    std::filesystem::create_directory_symlink(dir.file("other"), dir.file("link1"));
    std::filesystem::create_directory_symlink(dir.file("other"), dir.file("link2"));
    std::filesystem::create_directory_symlink(dir.path(), chain);

    ImageList list;
    walkDirectory(dir.path(), true, list, ListOptions{});
    EXPECT_EQ(list.size(), std::size_t(kDepth) + 1);
    EXPECT_EQ(std::count_if(list.records().begin(), list.records().end(),
                            [](const ImageRecord& r) { return r.fileName == "o"; }),
              1);
}

} // namespace
} // namespace quill::imagefiles
