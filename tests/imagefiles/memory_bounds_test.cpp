// Decoding within the memory budget: hostile headers and oversized files are refused before
// anything large is allocated.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefiles/image_loader.h"
#include "test_support.h"
#include "toolkit/memory_budget.h"

namespace quill::imagefiles {
namespace {

using test::childPeakGrowthMiB;
using test::peakResidentMiB;

TEST(DecodeBudget, CraftedHeadersAreRefusedBeforeLargeAllocations) {
    // Each file is a few kilobytes and declares what would take a gigabyte or more: a TIFF raster
    // beside its image, a progressive JPEG's coefficients beside its image, and the library's
    // per-tile state of a JPEG 2000 codestream with 62,500 tiles.
    // Two WebP files of 32 and 88 bytes (bench/make_hostile_inputs.py) declare a 16384 x 16384
    // lossless picture of one colour and an animation canvas of that size: libwebp would hold
    // gigabytes beside the image.
    for (const char* name : {"bounds/bad-huge-raster.tif", "bounds/bad-huge-progressive.jpg",
                             "bounds/bad-many-tiles.j2k", "bounds/bad-bomb-lossless.webp",
                             "bounds/bad-bomb-animation.webp"}) {
        const long before = peakResidentMiB();
        EXPECT_TRUE(loadImageFile(test::fixture(name), FormatKind::None).empty()) << name;
        EXPECT_LT(peakResidentMiB() - before, 200) << name;
    }
}

TEST(DecodeBudget, PngChunksDeclaringGigabytesAreNotBuffered) {
    // A 184-byte PNG whose chunk after the header declares 2 GiB: libpng buffers a text,
    // profile or palette-suggestion chunk whole before it checks the chunk size limit (and then
    // only warns). The decoder skips those chunks unread, so the file fails as the truncated
    // file it is, in a few kilobytes.
    std::vector<std::uint8_t> bytes =
        test::readBytes(test::fixture("bounds/bad-huge-text-chunk.png"));
    ASSERT_EQ(bytes.size(), 184u);
    test::TempDir dir;
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "eXIf", "pCAL", "sCAL", "iCCP"}) {
        std::copy(type, type + 4, bytes.begin() + 37); // the chunk type after IHDR
        const std::string path = dir.file(std::string("huge-") + type + ".png");
        test::writeBytes(path, bytes);
        const long growth =
            childPeakGrowthMiB([&] { return loadImageFile(path, FormatKind::None).empty(); });
        EXPECT_GE(growth, 0) << type;
        EXPECT_LT(growth, 200) << type;
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
    const long before = peakResidentMiB();
    // Larger than any decode may hold: refused unread.
    EXPECT_TRUE(
        loadImageFile(sparse("big.jpg", std::uintmax_t{2} << 30), FormatKind::None).empty());
    ImageRect rect;
    EXPECT_FALSE(readImageSize(dir.file("big.jpg"), rect));
    // Within the limit but starting like no image: refused after its first bytes.
    EXPECT_TRUE(
        loadImageFile(sparse("zeros.png", std::uintmax_t{600} << 20), FormatKind::None).empty());
    EXPECT_EQ(estimateDecodeBytes(dir.file("big.jpg")), 0u);
    EXPECT_LT(peakResidentMiB() - before, 200);

    // A real image is refused when its file and pixels together pass a lowered budget.
    const std::string photo = test::testdata("jpeg/hopper.jpg");
    ASSERT_FALSE(loadImageFile(photo, FormatKind::None).empty());
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    const std::uint64_t limit = budget.limit();
    budget.setLimit(16 << 10);
    EXPECT_TRUE(loadImageFile(photo, FormatKind::None).empty());
    budget.setLimit(limit);
}

// Decodes outside a run (preview, preparation, overlay) count against the budget like a run's.
TEST(DecodeBudget, BudgetedLoadsWaitForRoomAndHoldTheImage) {
    const std::string photo = test::testdata("jpeg/hopper.jpg");
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    toolkit::MemoryReservation run = budget.tryReserve(budget.limit());
    ASSERT_TRUE(run);
    // While a run holds everything, a load that may wait does, and gives up when told to.
    int asked = 0;
    EXPECT_TRUE(
        loadImageFileBudgeted(photo, FormatKind::None, [&] { return ++asked < 3; }).image.empty());
    EXPECT_EQ(asked, 3);
    // One that may not wait takes its room past the limit, and then holds just its image.
    {
        const BudgetedImage loaded = loadImageFileBudgeted(photo, FormatKind::None);
        ASSERT_FALSE(loaded.image.empty());
        EXPECT_EQ(loaded.hold.bytes(), loaded.image.sizeInBytes());
        EXPECT_EQ(budget.reserved(), budget.limit() + loaded.image.sizeInBytes());
    }
    run.reset();
    EXPECT_EQ(budget.reserved(), 0u);
    EXPECT_FALSE(loadImageFileBudgeted(photo, FormatKind::None, [] { return true; }).image.empty());
}

TEST(DecodeBudget, RawPixMapsDecodeFromTheFileIntoTheImageAlone) {
    // 5000 x 5000 pixels: the file and the image are 72 MiB each. The rows go from the file into
    // the image a slice at a time, so neither the whole file nor a packed bitmap in between is
    // held beside the image.
    constexpr int kSide = 5000;
    const std::string head =
        "P6\n" + std::to_string(kSide) + " " + std::to_string(kSide) + "\n255\n";
    std::vector<std::uint8_t> bytes(head.begin(), head.end());
    bytes.resize(head.size() + std::size_t(kSide) * kSide * 3, 0x5A);
    test::TempDir dir;
    const std::string path = dir.file("big.ppm");
    test::writeBytes(path, bytes);
    bytes = {};
    const long imageMiB = long(std::size_t(kSide) * kSide * 3 >> 20);
    const long growth = childPeakGrowthMiB([&] {
        const toolkit::Image image = loadImageFile(path, FormatKind::None);
        return image.width() == kSide && image.row(kSide - 1)[0] == 0x5A;
    });
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, imageMiB * 3 / 2);
}

} // namespace
} // namespace quill::imagefiles
