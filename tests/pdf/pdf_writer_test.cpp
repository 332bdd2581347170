// The PDF writer: placement arithmetic, error codes, the JPEG header parser and the verdict of
// independent PDF tools on the document structure.
#include "pdf/pdf_writer.h"

#include <cerrno>
#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "pdf/jpeg_frame.h"
#include "pdf_test_support.h"
#include "toolkit/platform/platform.h"

namespace {

using quill::pdf::PdfError;
using quill::pdf::PdfWriter;
using ::testing::HasSubstr;
namespace test = quill::test;

const std::string kHopper = test::testdata("jpeg/hopper.jpg"); // 128 x 128, baseline JFIF
const std::string kProgressive = test::testdata("jpeg/progressive_3.jpg");

PdfWriter portraitWithPage() {
    PdfWriter writer;
    EXPECT_TRUE(writer.createDocument("P", "pt", "595.28,841.89"));
    EXPECT_TRUE(writer.addPage());
    return writer;
}

TEST(PdfWriter, PlacementSizesAndTheImageBytes) {
    PdfWriter writer = portraitWithPage();
    EXPECT_TRUE(writer.placeImage(kHopper, 10, 20, 0, 0));
    const std::string pdf = test::asText(writer.finishDocument());
    EXPECT_EQ(pdf.rfind("%PDF-1.3\n", 0), 0u);
    // The image at 128 x 128 points, its bottom edge at 841.89 - (20 + 128), drawn from the JPEG
    // file itself, byte for byte.
    EXPECT_THAT(pdf, HasSubstr("q 128.00 0 0 128.00 10.00 693.89 cm /I1 Do Q\n"));
    const auto jpeg = test::readBytes(kHopper);
    EXPECT_THAT(pdf, HasSubstr("/Filter /DCTDecode\n/Length " + std::to_string(jpeg.size()) +
                               "\n>>\nstream\n" + test::asText(jpeg) + "\nendstream\n"));

    ASSERT_TRUE(writer.createDocument("LANDSCAPE", "pt", "595.28,841.89"));
    ASSERT_TRUE(writer.addPage());
    EXPECT_TRUE(writer.placeImage(kHopper, 0, 0, 64, 0));  // height from the aspect ratio
    EXPECT_TRUE(writer.placeImage(kHopper, 5, 5, 0, 256)); // width from the aspect ratio
    EXPECT_TRUE(writer.placeImage(kHopper, 1, 2, 30, 40)); // both given: distorted
    const std::string landscape = test::asText(writer.finishDocument());
    EXPECT_THAT(landscape, HasSubstr("q 64.00 0 0 64.00 0.00 531.28 cm /I1 Do Q\n"
                                     "q 256.00 0 0 256.00 5.00 334.28 cm /I1 Do Q\n"
                                     "q 30.00 0 0 40.00 1.00 553.28 cm /I1 Do Q\n"));
    EXPECT_THAT(landscape, HasSubstr("/MediaBox [0 0 841.89 595.28]"));
    EXPECT_EQ(test::countOf(landscape, "/Subtype /Image"), 1); // loaded once, drawn three times

    // A document without a page gets an empty one; arguments that mean nothing are refused.
    ASSERT_TRUE(writer.createDocument("p", "pt", "100,200"));
    const std::string empty = test::asText(writer.finishDocument());
    EXPECT_THAT(empty, HasSubstr("/MediaBox [0 0 100.00 200.00]"));
    EXPECT_FALSE(writer.createDocument("X", "pt", "595.28,841.89"));
    EXPECT_FALSE(writer.createDocument("P", "px", "595.28,841.89"));
    EXPECT_FALSE(writer.createDocument("P", "pt", "595.28"));
    EXPECT_FALSE(writer.addPage());
    EXPECT_TRUE(writer.finishDocument().empty());
}

TEST(PdfWriter, PlacementErrorsLeaveAValidDocument) {
    std::vector<std::uint8_t> badMarker = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0, 0};
    badMarker.insert(badMarker.end(), 10, 0x12); // a whole segment's worth, not starting with FF
    // A progressive frame, then a scan: the walk stops at the scan instead of reading its data.
    std::vector<std::uint8_t> noFrame = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xC2,
                                         0x00, 0x04, 0,    0,    0xFF, 0xDA, 0x00, 0x02};
    noFrame.insert(noFrame.end(), 20, 0x55);
    std::vector<std::uint8_t> zeroSize = {
        0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xC0, 0x00, 0x11, 8, 0, 0, 0, 16, 3, 0, 0, 0, 0};
    const std::vector<std::uint8_t> pngHeader = {0x89, 'P', 'N', 'G', 13,  10,  26,  10,
                                                 0,    0,   0,   13,  'I', 'H', 'D', 'R'};
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        PdfError error;
    } cases[] = {
        {"marker without FF", badMarker, PdfError::BadMarker},
        {"no frame", noFrame, PdfError::NoBaselineFrame},
        {"zero-sized frame", zeroSize, PdfError::NoBaselineFrame},
        {"PNG", pngHeader, PdfError::UnsupportedImage},
        {"PNG without IHDR", {pngHeader.begin(), pngHeader.end() - 1}, PdfError::PngWithoutHeader},
        {"empty", {}, PdfError::UnsupportedImage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PdfWriter writer = portraitWithPage();
        EXPECT_FALSE(writer.placeImageData(c.what, c.bytes, 0, 0, 0, 0));
        EXPECT_EQ(writer.lastError(), c.error);
        const std::string pdf = test::asText(writer.finishDocument());
        EXPECT_EQ(test::countOf(pdf, " 0 obj\n"), 6) << "no image object";
        EXPECT_EQ(test::countOf(pdf, " Do Q"), 0);
    }
    PdfWriter writer = portraitWithPage();
    EXPECT_FALSE(writer.placeImage(test::testdata("no/such/file.jpg"), 0, 0, 0, 0));
    EXPECT_EQ(writer.getLastError(), 8);
    EXPECT_FALSE(writer.placeImage(kProgressive, 0, 0, 0, 0));
    EXPECT_EQ(writer.getLastError(), 11);
    EXPECT_FALSE(writer.placeImage(test::testdata("jpeg/pil_sample_cmyk.jpg"), 0, 0, 0, 0));
    EXPECT_EQ(writer.getLastError(), 13); // Adobe APP14 first, no JFIF segment
}

TEST(PdfWriter, SavingChecksTheFileNameAndReportsSystemErrors) {
    test::TempDir dir;
    PdfWriter saved = portraitWithPage();
    saved.setCreator("a (b) \\ c");
    ASSERT_TRUE(saved.placeImage(kHopper, 0, 0, 0, 0));
    test::writeBytes(dir.file("doc.pdf"), {'o', 'l', 'd'});
    ASSERT_TRUE(saved.saveDocument(dir.file("doc.pdf")));
    const std::string pdf = test::asText(test::readBytes(dir.file("doc.pdf")));
    EXPECT_THAT(pdf, HasSubstr("/Creator (a \\(b\\) \\\\ c)\n"));
    for (const std::string& name : {std::string(), dir.path(), dir.file("..")}) {
        PdfWriter writer = portraitWithPage();
        EXPECT_FALSE(writer.saveDocument(name));
        EXPECT_EQ(writer.getLastError(), 14) << name;
        EXPECT_EQ(writer.state(), PdfWriter::State::Closed);
    }
    PdfWriter writer = portraitWithPage();
    EXPECT_FALSE(writer.saveDocument(dir.file("missing/doc.pdf")));
    EXPECT_EQ(writer.getLastError(), 15);
    EXPECT_EQ(writer.systemError(), ENOENT);
    EXPECT_EQ(quill::platform::listDirectory(dir.path())->size(), 1u); // only doc.pdf
}

TEST(JpegFrameReader, EveryTruncationFailsCleanly) {
    const auto jpeg = test::readBytes(kHopper);
    quill::pdf::JpegFrame frame;
    ASSERT_EQ(quill::pdf::readJpegFrame(jpeg, frame), PdfError::None);
    EXPECT_EQ(std::tuple(frame.width, frame.height, frame.components, frame.bitsPerComponent),
              std::tuple(128, 128, 3, 8));
    // The frame header ends well before the file does; every shorter prefix must fail without
    // reading past its end (the sanitizers watch), and later prefixes succeed.
    bool seenSuccess = false;
    for (std::size_t n = 0; n <= jpeg.size(); n += (n < 1024 ? 1 : 97)) {
        const std::vector<std::uint8_t> prefix(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(n));
        const PdfError error = quill::pdf::readJpegFrame(prefix, frame);
        if (error == PdfError::None) seenSuccess = true;
        EXPECT_TRUE(error == PdfError::None || error == PdfError::NoBaselineFrame ||
                    error == PdfError::UnsupportedImage)
            << n;
        EXPECT_TRUE(!seenSuccess || error == PdfError::None) << n;
    }
    EXPECT_TRUE(seenSuccess);
    const auto gray = test::readBytes(test::testdata("jpeg/hopper_gray.jpg"));
    ASSERT_EQ(quill::pdf::readJpegFrame(gray, frame), PdfError::None);
    EXPECT_EQ(frame.colorSpace, "DeviceGray");
}

TEST(PdfWriterTools, QpdfPopplerAgree) {
    if (!test::haveTool("/usr/bin/qpdf") || !test::haveTool("/usr/bin/pdfimages"))
        QUILL_SKIP_WITHOUT_TOOL() << "qpdf or poppler-utils missing";
    test::TempDir dir;
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive);
        PdfWriter writer;
        ASSERT_TRUE(writer.createDocument("L", "pt", "595.28,841.89"));
        ASSERT_TRUE(writer.addPage());
        (void)writer.placeImage(progressive ? kProgressive : kHopper, 100, 100, 0, 300);
        EXPECT_EQ(writer.getLastError(), progressive ? 11 : 0);
        writer.setCreator("Quillmere 4.6");
        const std::string path = dir.file("tools.pdf");
        ASSERT_TRUE(writer.saveDocument(path));

        std::string output;
        EXPECT_EQ(
            test::runCommand("/usr/bin/qpdf --check " + test::shellQuote(path) + " 2>&1", &output),
            0)
            << output;
        EXPECT_THAT(output, HasSubstr("No syntax or stream encoding errors"));
        output.clear();
        ASSERT_EQ(test::runCommand("/usr/bin/pdfimages -list " + test::shellQuote(path), &output),
                  0);
        // Two header lines, then one line per image.
        EXPECT_EQ(test::countOf(output, "\n"), progressive ? 2 : 3) << output;
        const std::regex hopper("\n +1 +0 image +128 +128 +rgb +3 +8 +jpeg ");
        EXPECT_TRUE(progressive || std::regex_search(output, hopper)) << output;
    }
}

} // namespace
