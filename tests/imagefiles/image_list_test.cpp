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

TEST(ImageList, NamesAdmissionAndNumbers) {
    // The file name drops only an image extension.
    for (const auto& [path, name] : {std::pair{"/p/photo.jpeg", "photo"},
                                     {"/p/x.photo", "x.photo"},
                                     {"/p/.profile", ".profile"},
                                     {"/p/a.b.png", "a.b"}})
        EXPECT_EQ(fileNameOf(path), name);
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
    EXPECT_TRUE(
        addImageRecord(dir.file(".hidden.png"), list, ListOptions{.includeHiddenFiles = true}));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].recordId, 2);
    // Numbers are never reused after removals, and the keep list continues them.
    list.erase(2);
    EXPECT_TRUE(
        addImageRecord(dir.file(".hidden.png"), list, ListOptions{.includeHiddenFiles = true}));
    EXPECT_EQ(list[2].recordId, 4);
    ImageList keep(list.lastRecordId());
    keep.append(ImageRecord{});
    EXPECT_EQ(keep[0].recordId, 5);
    list.takeRecordsFrom(keep);
    EXPECT_EQ(list.lastRecordId(), 5);
}

TEST(ImageList, WalksEnterEveryFolderOnceAndStopWhenCancelled) {
    test::TempDir dir;
    // A chain of 200 nested folders with an image at every level and a link from the deepest
    // back to the top; two links to one more folder; a hidden folder; files that are no images.
    std::string chain = dir.file("n");
    for (int level = 0; level < 200; ++level) {
        ASSERT_TRUE(platform::createDirectory(chain));
        test::writeText(chain + "/i.png", "x");
        chain += "/n";
    }
    std::filesystem::create_directory_symlink(dir.path(), chain);
    ASSERT_TRUE(platform::createDirectory(dir.file("other")));
    ASSERT_TRUE(platform::createDirectory(dir.file(".hidden")));
    for (const char* name : {"a.png", "b.txt", "c.avi", "other/o.png", ".hidden/f.jpg"})
        test::writeText(dir.file(name), "x");
    std::filesystem::create_directory_symlink(dir.file("other"), dir.file("link1"));
    std::filesystem::create_directory_symlink(dir.file("other"), dir.file("link2"));

    ImageList flat;
    addPaths({dir.path()}, flat, ListOptions{});
    EXPECT_EQ(namesOf(flat), std::vector<std::string>{"a.png"});
    // Hidden folders are walked like any other; videos count when asked for.
    ImageList deep;
    int rows = 0;
    addPaths({dir.path(), dir.path(), dir.file("b.txt")}, deep,
             ListOptions{.includeSubdirectories = true, .videos = Videos::Included},
             [&](const ImageRecord&) { ++rows; });
    EXPECT_EQ(deep.size(), 200u + 4u); // the chain, a.png, c.avi, o.png once and f.jpg
    EXPECT_EQ(rows, 204);
    EXPECT_EQ(std::count_if(deep.records().begin(), deep.records().end(),
                            [](const ImageRecord& r) { return r.fileName == "o"; }),
              1);
    // The cancel flag stops the walk after the current entry.
    ImageList cancelled;
    cancelled.cancel = 1;
    addPaths({dir.file("a.png"), dir.path()}, cancelled, ListOptions{});
    EXPECT_EQ(cancelled.size(), 1u);
}

// The list keeps name order, not the order the file system keeps its entries in, and walks a
// subfolder where its name comes.
TEST(ImageList, FoldersAreWalkedInNameOrderWithEachSubfolderAtItsPlace) {
    test::TempDir dir;
    ASSERT_TRUE(platform::createDirectory(dir.file("photo03")));
    for (const char* name : {"photo05.png", "photo03/b.jpg", "photo01.jpg", "Photo04.jpg",
                             "photo03/A.jpg", "photo02.jpg"})
        test::writeText(dir.file(name), "x");
    ImageList list;
    addPaths({dir.path()}, list, ListOptions{.includeSubdirectories = true});
    std::vector<std::string> walked;
    for (const ImageRecord& r : list.records())
        walked.push_back(r.sourcePath.substr(dir.path().size()));
    EXPECT_EQ(walked, (std::vector<std::string>{"photo01.jpg", "photo02.jpg", "photo03/A.jpg",
                                                "photo03/b.jpg", "Photo04.jpg", "photo05.png"}));
}

TEST(ImageList, DuplicateTestFollowsEveryWayOfRemovingRecords) {
    test::TempDir dir;
    std::vector<std::string> paths;
    ImageList list;
    for (const char* name : {"a.png", "b.png", "c.png", "d.png", "e.png"}) {
        paths.push_back(dir.file(name));
        test::writeText(paths.back(), "x");
        ASSERT_TRUE(addImageRecord(paths.back(), list, {}));
    }
    // Removing in one pass keeps the order and moves the current index to the next kept record,
    // or to the last when nothing follows.
    list.setCurrentIndex(1);
    list.eraseMarked({0, 1, 0, 1});
    ASSERT_EQ(namesOf(list), (std::vector<std::string>{"a.png", "c.png", "e.png"}));
    EXPECT_EQ(list.currentIndex(), 1);
    list.setCurrentIndex(2);
    list.eraseMarked({0, 0, 1});
    EXPECT_EQ(list.currentIndex(), 1);
    // Paths removed by any route can be added again; the others stay duplicates.
    EXPECT_TRUE(addImageRecord(paths[1], list, {}));
    list.erase(0);
    list.records().pop_back(); // b, past the list's own members
    for (const int removed : {0, 1, 3, 4})
        EXPECT_TRUE(addImageRecord(paths[std::size_t(removed)], list, {})) << removed;
    EXPECT_FALSE(addImageRecord(paths[2], list, {}));
    ImageList other(list.lastRecordId());
    other.takeRecordsFrom(list);
    EXPECT_FALSE(addImageRecord(paths[2], other, {}));
    EXPECT_TRUE(addImageRecord(paths[2], list, {}));
    other.clear();
    EXPECT_TRUE(addImageRecord(paths[4], other, {}));
}

} // namespace
} // namespace quill::imagefiles
