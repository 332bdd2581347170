// Decoding within the memory budget: hostile headers and oversized files are refused before
// anything large is allocated.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefiles/image_loader.h"
#include "test_support.h"
#include "toolkit/memory_budget.h"

namespace quill::imagefiles {
namespace {

// Peak resident memory of the test process so far, in MiB.
long peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

TEST(DecodeBudget, CraftedHeadersAreRefusedBeforeLargeAllocations) {
    // Each file is a few kilobytes and declares what would take a gigabyte or more: a TIFF raster
    // beside its image, a progressive JPEG's coefficients beside its image, and the library's
    // per-tile state of a JPEG 2000 codestream with 62,500 tiles.
    for (const char* name : {"bounds/bad-huge-raster.tif", "bounds/bad-huge-progressive.jpg",
                             "bounds/bad-many-tiles.j2k"}) {
        const long before = peakMiB();
        EXPECT_TRUE(loadImageFile(test::fixture(name), -1).empty()) << name;
        EXPECT_LT(peakMiB() - before, 200) << name;
    }
}

TEST(DecodeBudget, FilesAreReadOnlyAsFarAsTheFormatAndBudgetAllow) {
    test::TempDir dir;
    const auto sparse = [&](const std::string& name, std::uintmax_t size) {
        const std::string path = dir.file(name);
        test::writeBytes(path, {});
        std::filesystem::resize_file(path, size);
        return path;
    };
    const long before = peakMiB();
    // Larger than any decode may hold: refused unread.
    EXPECT_TRUE(loadImageFile(sparse("big.jpg", std::uintmax_t{2} << 30), -1).empty());
    ImageRect rect;
    EXPECT_FALSE(readImageSize(dir.file("big.jpg"), rect));
    // Within the limit but starting like no image: refused after its first bytes.
    EXPECT_TRUE(loadImageFile(sparse("zeros.png", std::uintmax_t{600} << 20), -1).empty());
    EXPECT_EQ(estimateDecodeBytes(dir.file("big.jpg")), 0u);
    EXPECT_LT(peakMiB() - before, 200);

    // A real image is refused when its file and pixels together pass a lowered budget.
    const std::string photo = test::testdata("jpeg/hopper.jpg");
    ASSERT_FALSE(loadImageFile(photo, -1).empty());
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    const std::uint64_t limit = budget.limit();
    budget.setLimit(16 << 10);
    EXPECT_TRUE(loadImageFile(photo, -1).empty());
    budget.setLimit(limit);
}

} // namespace
} // namespace quill::imagefiles
