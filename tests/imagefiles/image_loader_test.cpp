// Format detection, the load dispatch, the size reader's header rules and the colour-key step,
// and the decoders' behaviour on corrupt and truncated files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "imagefiles/format.h"
#include "imagefiles/general_decoder.h"
#include "imagefiles/gif_decoder.h"
#include "imagefiles/ico_decoder.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/pcx_decoder.h"
#include "imagefiles/pnm_decoder.h"
#include "test_support.h"

namespace quill::imagefiles {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LoadDispatch, ExtensionDecidesNotContent) {
    test::TempDir dir;
    const Bytes png = test::readBytes(test::testdata("png/basn2c08.png"));
    test::writeBytes(dir.file("png.jpg"), png); // general decoder reads PNG content
    test::writeBytes(dir.file("png.gif"), png); // the GIF decoder does not
    test::writeBytes(dir.file("png.mov"), png); // videos are never decoded
    EXPECT_FALSE(loadImageFile(dir.file("png.jpg"), -1).empty());
    EXPECT_TRUE(loadImageFile(dir.file("png.gif"), -1).empty());
    EXPECT_TRUE(loadImageFile(dir.file("png.mov"), -1, Videos::Included).empty());
    EXPECT_TRUE(loadImageFile(dir.file("missing.png"), -1).empty());
    // An explicit code overrides the extension.
    EXPECT_FALSE(loadImageFile(dir.file("png.gif"), FormatPng).empty());
}

TEST(LoadDispatch, ReducedLoadsScaleOnlyJpegContent) {
    const std::string jpeg = test::testdata("jpeg/hopper.jpg");
    const std::string png = test::testdata("png/basn2c08.png");
    const toolkit::Image full = loadImageFile(jpeg, -1);
    const toolkit::Image fullPng = loadImageFile(png, -1);
    ASSERT_FALSE(full.empty());
    ASSERT_FALSE(fullPng.empty());
    const struct {
        const std::string& path;
        int reduction;
        int width, height;
    } cases[] = {
        {jpeg, 2, (full.width() + 1) / 2, (full.height() + 1) / 2},
        {jpeg, 4, (full.width() + 3) / 4, (full.height() + 3) / 4},
        {jpeg, 8, (full.width() + 7) / 8, (full.height() + 7) / 8},
        {jpeg, 3, full.width(), full.height()}, // not a DCT reduction: full size
        {png, 2, fullPng.width(), fullPng.height()},
    };
    for (const auto& c : cases) {
        const toolkit::Image image = loadImageFileReduced(c.path, -1, c.reduction);
        EXPECT_EQ(image.width(), c.width) << c.path << " / " << c.reduction;
        EXPECT_EQ(image.height(), c.height) << c.path << " / " << c.reduction;
    }
}

TEST(PngColorKey, KeyAppliesToOpaqueImagesOnlyWhenTrnsFollowsIhdr) {
    test::TempDir dir;
    Bytes head(50, 0);
    head[1] = 'P';
    head[2] = 'N';
    head[3] = 'G';
    head[37] = 't';
    head[38] = 'R';
    head[39] = 'N';
    head[40] = 'S';
    head[42] = 10;
    head[44] = 20;
    head[46] = 30;
    test::writeBytes(dir.file("key.png"), head);
    toolkit::Image image(2, 1, toolkit::PixelFormat::Bgr24);
    image.row(0)[0] = 30;
    image.row(0)[1] = 20;
    image.row(0)[2] = 10; // the key (b, g, r)
    image.row(0)[3] = 30;
    image.row(0)[4] = 20;
    image.row(0)[5] = 11;
    const toolkit::Image keyed = applyPngColorKey(image.clone(), dir.file("key.png"));
    ASSERT_TRUE(keyed.hasAlpha());
    EXPECT_EQ(keyed.row(0)[3], 0);
    EXPECT_EQ(keyed.row(0)[7], 255);
    head[37] = 'g'; // another chunk first: unchanged
    test::writeBytes(dir.file("gama.png"), head);
    EXPECT_FALSE(applyPngColorKey(image.clone(), dir.file("gama.png")).hasAlpha());
    head.resize(49); // too short to hold a key: unchanged
    test::writeBytes(dir.file("short.png"), head);
    EXPECT_FALSE(applyPngColorKey(image.clone(), dir.file("short.png")).hasAlpha());
}

TEST(SizeReader, HeaderRulesAndLimits) {
    ImageRect rect;
    // A 70000-pixel-wide PNG header is refused with a zeroed result.
    Bytes png = test::readBytes(test::testdata("png/basn2c08.png"));
    png[16] = 0;
    png[17] = 1;
    png[18] = 0x11;
    png[19] = 0x70; // 70000
    rect.width = 5;
    EXPECT_FALSE(readImageSizeFromBytes(png, rect));
    EXPECT_EQ(rect.width, 0);
    EXPECT_EQ(rect.height, 0);
    // 65536 is still accepted.
    png[16] = 0;
    png[17] = 1;
    png[18] = 0;
    png[19] = 0;
    EXPECT_TRUE(readImageSizeFromBytes(png, rect));
    EXPECT_EQ(rect.width, 65536);
    // Top-down and OS/2 bitmaps, SOF1 JPEGs and footerless TGAs that begin like a cursor are
    // among the samples the size reader is compared on with identify.
    // A GIF whose header says 0 is never decoded for its size.
    EXPECT_FALSE(readImageSize(test::testdata("corrupt/zero_width.gif"), rect));
    EXPECT_FALSE(readImageSize("/nonexistent/file.png", rect));
    EXPECT_FALSE(readImageSizeFromBytes({}, rect));
}

TEST(SizeReader, LargeFilesGiveTheSameSizeWhereverTheHeaderLies) {
    // Files past the head size: the header in the head is read without the rest; a frame
    // marker beyond the head (after long application segments) still gives the size.
    test::TempDir dir;
    const Bytes jpeg = test::readBytes(test::testdata("jpeg/hopper.jpg"));
    const toolkit::Image decoded = loadImageFile(test::testdata("jpeg/hopper.jpg"), -1);
    ASSERT_FALSE(decoded.empty());
    Bytes padded = jpeg; // header first, a long tail of junk after the image
    padded.resize(jpeg.size() + (std::size_t{400} << 10), 0x55);
    Bytes segments(jpeg.begin(), jpeg.begin() + 2); // 6 COM segments of 65535 bytes first
    for (int i = 0; i < 6; ++i) {
        segments.insert(segments.end(), {0xFF, 0xFE, 0xFF, 0xFF});
        segments.insert(segments.end(), 65533, 'c');
    }
    segments.insert(segments.end(), jpeg.begin() + 2, jpeg.end());
    const struct {
        const char* name;
        const Bytes& bytes;
    } cases[] = {{"padded.jpg", padded}, {"segments.jpg", segments}};
    for (const auto& c : cases) {
        test::writeBytes(dir.file(c.name), c.bytes);
        ImageRect rect;
        EXPECT_TRUE(readImageSize(dir.file(c.name), rect)) << c.name;
        EXPECT_EQ(rect.width, decoded.width()) << c.name;
        EXPECT_EQ(rect.height, decoded.height()) << c.name;
    }
}

// The bitmap variants ImageMagick cannot read hold the same picture as the plain 24-bit file.
TEST(BmpDecoder, WrappedAndOs2VariantsMatchThePlainFile) {
    const toolkit::Image plain = loadImageFile(test::testdata("bmp/rgb24.bmp"), -1);
    ASSERT_FALSE(plain.empty());
    const auto largestDifference = [&](const char* relative) {
        const toolkit::Image other = loadImageFile(test::testdata(relative), -1);
        if (other.width() != plain.width() || other.height() != plain.height()) return 256;
        int worst = 0;
        for (int y = 0; y < plain.height(); ++y) {
            for (int x = 0; x < plain.width(); ++x) {
                for (int c = 0; c < 3; ++c) {
                    worst = std::max(worst, std::abs(plain.row(y)[3 * x + c] -
                                                     other.row(y)[other.bytesPerPixel() * x + c]));
                }
            }
        }
        return worst;
    };
    EXPECT_EQ(largestDifference("bmp/rgb24png.bmp"), 0);
    // The JPEG copy is lossy and the RLE24 copy holds fewer colours, but the picture is the same
    // (a wrong run or padding rule shifts whole rows and differs by far more).
    EXPECT_LE(largestDifference("bmp/rgb24rle24.bmp"), 64);
    EXPECT_LE(largestDifference("bmp/rgb24jpeg.bmp"), 80);
}

// A file cut in the middle keeps the rows decoded before the cut, then at most one row the cut
// went through, and the rest is zero.
TEST(LoaderRobustness, CutFilesKeepTheirDecodedRows) {
    for (const auto& [relative, bottomUp] : {std::pair{"png/hopper.png", false},
                                             {"bmp/rgb24.bmp", true},
                                             {"tga/200x32_rgb_bl_raw.tga", true}}) {
        SCOPED_TRACE(relative);
        const Bytes bytes = test::readBytes(test::testdata(relative));
        const toolkit::Image full = decodeGeneral(bytes);
        const toolkit::Image cut =
            decodeGeneral(Bytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(bytes.size() / 2)));
        ASSERT_FALSE(full.empty());
        ASSERT_FALSE(cut.empty());
        ASSERT_EQ(cut.height(), full.height());
        const std::size_t rowBytes = std::size_t(full.width()) * std::size_t(full.bytesPerPixel());
        // Each row in decoding order: 0 decoded, 1 partly decoded, 2 zero.
        std::vector<int> states;
        for (int i = 0; i < full.height(); ++i) {
            const int y = bottomUp ? full.height() - 1 - i : i;
            const std::uint8_t* row = cut.row(y);
            const bool zero = std::all_of(row, row + rowBytes, [](int b) { return b == 0; });
            states.push_back(std::equal(row, row + rowBytes, full.row(y)) ? 0 : zero ? 2 : 1);
        }
        EXPECT_TRUE(std::is_sorted(states.begin(), states.end()));
        EXPECT_LE(std::count(states.begin(), states.end(), 1), 1);
        EXPECT_EQ(states.front(), 0);
        EXPECT_EQ(states.back(), 2);
    }
}

// Cut points: inside the headers and tables, and through the data.
std::vector<std::size_t> cutPoints(std::size_t size) {
    std::vector<std::size_t> cuts = {0, 1, 2, 6, 7, 13, 14, 20, 40, 60, 128, 300, 800, size - 1};
    for (std::size_t eighth = 1; eighth < 8; ++eighth)
        cuts.push_back(size * eighth / 8);
    std::erase_if(cuts, [&](std::size_t cut) { return cut >= size; });
    return cuts;
}

// Every corrupt sample through the loader and every decoder, inputs that once crashed a decoder,
// and cut copies of every valid sample: no crash, no hang, no sanitizer report; the result is
// nothing or a partial image of the size the header declares.
TEST(LoaderRobustness, CorruptAndTruncatedFiles) {
    using Decoder = toolkit::Image (*)(std::span<const std::uint8_t>);
    const std::pair<const char*, Decoder> decoders[] = {
        {"jpeg", decodeGeneral}, {"png", decodeGeneral}, {"tiff", decodeGeneral},
        {"jp2", decodeGeneral},  {"bmp", decodeGeneral}, {"tga", decodeGeneral},
        {"gif", decodeGif},      {"ico", decodeIco},     {"pcx", decodePcx},
        {"pnm", decodePnm}};
    // A missing sample folder must fail here, not pass with nothing tried.
    std::map<std::string, int> tried;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(test::testdata("corrupt"), error)) {
        ++tried["corrupt"];
        SCOPED_TRACE(entry.path().string());
        (void)loadImageFile(entry.path().string(), -1);
        ImageRect rect;
        (void)readImageSize(entry.path().string(), rect);
        const Bytes bytes = test::readBytes(entry.path().string());
        for (const Decoder decode : {decodeGif, decodeIco, decodePcx, decodePnm})
            (void)decode(bytes);
    }
    // Inputs that once crashed a decoder stay here for good.
    for (const auto& entry :
         std::filesystem::directory_iterator(test::fixture("imagefiles"), error)) {
        ++tried["imagefiles"];
        SCOPED_TRACE(entry.path().string());
        const Bytes bytes = test::readBytes(entry.path().string());
        (void)decodeGeneral(bytes);
        ImageRect rect;
        (void)readImageSizeFromBytes(bytes, rect);
    }
    for (const auto& [folder, decode] : decoders) {
        for (const auto& entry :
             std::filesystem::directory_iterator(test::testdata(folder), error)) {
            ++tried[folder];
            const Bytes bytes = test::readBytes(entry.path().string());
            if (bytes.size() > 300000) continue;
            SCOPED_TRACE(entry.path().string());
            const toolkit::Image full = decode(bytes);
            for (const std::size_t cut : cutPoints(bytes.size())) {
                const Bytes part(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut));
                ImageRect rect;
                (void)readImageSizeFromBytes(part, rect);
                const toolkit::Image image = decode(part);
                if (image.empty()) continue;
                ASSERT_FALSE(full.empty()) << "cut at " << cut;
                EXPECT_EQ(image.width(), full.width()) << "cut at " << cut;
                EXPECT_EQ(image.height(), full.height()) << "cut at " << cut;
            }
        }
    }
    for (const char* folder : {"corrupt", "imagefiles"})
        EXPECT_GT(tried[folder], 0) << folder;
    for (const auto& [folder, decode] : decoders)
        EXPECT_GT(tried[folder], 0) << folder;
}

} // namespace
} // namespace quill::imagefiles
