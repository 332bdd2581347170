// The PDF page layout for wrapped output JPEGs, and a wrap that fails leaving no file behind.
#include "pdf/pdf_page_layout.h"

#include <cerrno>

#include <gtest/gtest.h>

#include "pdf_test_support.h"
#include "toolkit/platform/platform.h"

namespace {

using quill::pdf::pdfPageLayout;
using quill::pdf::PdfWrapResult;
namespace test = quill::test;
namespace platform = quill::platform;

TEST(PdfPageLayout, OrientationAndFitRules) {
    struct Case {
        int width, height;
        bool landscape;
        double x, y, w, h;
    };
    const Case cases[] = {
        {600, 400, true, 120, 97, 0, 0},       // landscape, fits: pixel size, centred
        {595, 100, false, 0, 370, 0, 0},       // exactly 595 wide stays portrait
        {2000, 1000, true, 0, 87, 841.89, 0},  // spans the page width, centred vertically
        {1000, 2000, false, 87, 0, 0, 841.89}, // spans the page height, centred horizontally
        // Exactly the page's proportions but larger: still fitted, not left to overflow.
        {59528, 84189, false, 0, 0, 595.28, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const auto layout = pdfPageLayout(c.width, c.height);
        EXPECT_EQ(layout.landscape, c.landscape);
        EXPECT_DOUBLE_EQ(layout.pageWidth, c.landscape ? 841.89 : 595.28);
        EXPECT_DOUBLE_EQ(layout.pageHeight, c.landscape ? 595.28 : 841.89);
        EXPECT_DOUBLE_EQ(layout.x, c.x);
        EXPECT_DOUBLE_EQ(layout.y, c.y);
        EXPECT_DOUBLE_EQ(layout.width, c.w);
        EXPECT_DOUBLE_EQ(layout.height, c.h);
    }
}

TEST(PdfWrap, FailureLeavesNoOutput) {
    if (!test::haveTool("/usr/bin/convert")) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
    test::TempDir dir;
    const std::string output = dir.file("photo.pdf");
    ASSERT_EQ(test::runCommand("/usr/bin/convert -size 640x480 gradient: -interlace JPEG jpeg:" +
                               test::shellQuote(output)),
              0); // progressive: no baseline frame
    const auto outcome = quill::pdf::wrapJpegAsPdf({640, 480, output, output, "Quillmere 4.6"});
    EXPECT_EQ(outcome.result, PdfWrapResult::WriteFailed);
    EXPECT_EQ(outcome.pdfError, 11);
    EXPECT_TRUE(platform::listDirectory(dir.path())->empty());

    // A disk too small for the document: the save fails as disk full and nothing remains.
    const std::string mountPoint = dir.file("small");
    ASSERT_TRUE(platform::createDirectory(mountPoint));
    test::SmallDisk disk(mountPoint, 64);
    if (!disk.mounted()) QUILL_SKIP_WITHOUT_TMPFS();
    const std::string noise = dir.file("noise.jpg");
    ASSERT_EQ(test::runCommand("/usr/bin/convert -size 140x140 xc: +noise Random -quality 95 "
                               "jpeg:" +
                               test::shellQuote(noise)),
              0);
    const std::string full = mountPoint + "/noise.pdf";
    const bool made = platform::copyFile(noise, full, platform::Overwrite::Replace);
    const auto size = platform::fileInfo(full);
    const auto wrapped = quill::pdf::wrapJpegAsPdf({200, 200, full, full, ""});
    const auto left = platform::listDirectory(mountPoint + "/");
    ASSERT_TRUE(made && size);
    ASSERT_GT(size->size, 33u * 1024u) << "the JPEG must leave too little room for its PDF";
    EXPECT_EQ(wrapped.result, PdfWrapResult::WriteFailed);
    EXPECT_EQ(wrapped.pdfError, 15);
    EXPECT_EQ(wrapped.systemError, ENOSPC);
    ASSERT_TRUE(left);
    EXPECT_TRUE(left->empty());
}

} // namespace
