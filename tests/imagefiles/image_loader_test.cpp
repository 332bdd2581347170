// The load dispatch, the size reader's header rules, bitmap variants ImageMagick cannot read, and
// the decoders' behaviour on corrupt and truncated files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "image_oracle.h"
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
    EXPECT_FALSE(loadImageFile(dir.file("png.jpg"), FormatKind::None).empty());
    EXPECT_TRUE(loadImageFile(dir.file("png.gif"), FormatKind::None).empty());
    EXPECT_TRUE(loadImageFile(dir.file("png.mov"), FormatKind::None, Videos::Included).empty());
    EXPECT_TRUE(loadImageFile(dir.file("missing.png"), FormatKind::None).empty());
    // An explicit code overrides the extension.
    EXPECT_FALSE(loadImageFile(dir.file("png.gif"), FormatKind::Png).empty());
}

// A DCT reduction scales JPEG content, rounding up; other factors and formats load at full size.
TEST(LoadDispatch, ReducedLoadsScaleOnlyJpegContent) {
    const std::string jpeg = test::testdata("jpeg/hopper.jpg");
    for (const auto& [path, reduction, divisor] : {std::tuple{jpeg, 2, 2},
                                                   {jpeg, 8, 8},
                                                   {jpeg, 3, 1},
                                                   {test::testdata("png/hopper.png"), 2, 1}}) {
        const toolkit::Image full = loadImageFile(path, FormatKind::None);
        const toolkit::Image image = loadImageFileReduced(path, FormatKind::None, reduction);
        ASSERT_FALSE(full.empty());
        EXPECT_EQ(image.width(), (full.width() + divisor - 1) / divisor)
            << path << " / " << reduction;
        EXPECT_EQ(image.height(), (full.height() + divisor - 1) / divisor)
            << path << " / " << reduction;
    }
}

TEST(SizeReader, HeaderRulesAndLimits) {
    ImageRect rect;
    // A PNG header 70000 pixels wide is refused with a zeroed result; 65536 is still accepted.
    Bytes png = test::readBytes(test::testdata("png/basn2c08.png"));
    std::memcpy(&png[16], "\0\x01\x11\x70", 4);
    rect.width = 5;
    EXPECT_FALSE(readImageSizeFromBytes(png, rect));
    EXPECT_TRUE(rect.width == 0 && rect.height == 0);
    std::memcpy(&png[16], "\0\x01\0\0", 4);
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
    const toolkit::Image decoded =
        loadImageFile(test::testdata("jpeg/hopper.jpg"), FormatKind::None);
    ASSERT_FALSE(decoded.empty());
    Bytes padded = jpeg; // header first, a long tail of junk after the image
    padded.resize(jpeg.size() + (std::size_t{400} << 10), 0x55);
    Bytes segments(jpeg.begin(), jpeg.begin() + 2); // 6 COM segments of 65535 bytes first
    for (int i = 0; i < 6; ++i) {
        segments.insert(segments.end(), {0xFF, 0xFE, 0xFF, 0xFF});
        segments.insert(segments.end(), 65533, 'c');
    }
    segments.insert(segments.end(), jpeg.begin() + 2, jpeg.end());
    for (const auto& [name, bytes] :
         {std::pair{"padded.jpg", &padded}, {"segments.jpg", &segments}}) {
        test::writeBytes(dir.file(name), *bytes);
        ImageRect rect;
        EXPECT_TRUE(readImageSize(dir.file(name), rect)) << name;
        EXPECT_EQ(std::pair(rect.width, rect.height), std::pair(decoded.width(), decoded.height()))
            << name;
    }
}

// A Windows bitmap with a 40-byte info header: `masks` (after the header) for bit fields, a
// grey palette of 256 entries for 8 bits, rows of `rowBytes` filled with a pattern.
Bytes makeBitmap(int width, int height, int bits, std::uint32_t compression, bool topDown) {
    const std::size_t stride = ((std::size_t(width) * std::size_t(bits) + 31) / 32) * 4;
    const std::size_t extra = compression == 3 ? 12 : bits == 8 ? 1024 : 0;
    const std::size_t offset = 54 + extra;
    Bytes b(offset + stride * std::size_t(height));
    const auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, std::uint32_t(b.size()));
    put32(10, std::uint32_t(offset));
    put32(14, 40);
    put32(18, std::uint32_t(width));
    put32(22, std::uint32_t(topDown ? -height : height));
    b[26] = 1;
    b[28] = std::uint8_t(bits);
    put32(30, compression);
    if (compression == 3) {
        put32(54, 0x00FF0000);
        put32(58, 0x0000FF00);
        put32(62, 0x000000FF);
    } else if (bits == 8) {
        for (std::uint32_t i = 0; i < 256; ++i)
            put32(54 + 4 * i, i * 0x010101);
    }
    for (std::size_t i = offset; i < b.size(); ++i)
        b[i] = std::uint8_t((i * 7919) >> 3);
    return b;
}

// Raw grey and pix maps and uncompressed bitmaps past the head size are decoded from the file a
// slice at a time; the pixels, the size reader and the handling of a file cut inside a row are
// those of the decoder working on the whole file.
TEST(LoadDispatch, LargeRawFilesReadInSlicesDecodeAsFromWholeFiles) {
    const auto pnm = [](const std::string& header, std::size_t samples) {
        Bytes bytes(header.begin(), header.end());
        for (std::size_t i = 0; i < samples; ++i)
            bytes.push_back(std::uint8_t((i * 7919) >> 3));
        return bytes;
    };
    const auto cutBy = [](Bytes bytes, std::size_t cut) {
        bytes.erase(bytes.end() - std::ptrdiff_t(cut), bytes.end());
        return bytes;
    };
    using Decoder = toolkit::Image (*)(std::span<const std::uint8_t>);
    const struct {
        const char* name;
        Bytes bytes;
        Decoder decode;
    } cases[] = {
        {"p6.ppm", pnm("P6\n# a comment\n701 150\n255\n", 701 * 150 * 3), decodePnm},
        {"p6-16.ppm", pnm("P6 701 150 65535\n", 701 * 150 * 6), decodePnm},
        {"p5.pgm", pnm("P5 701 400 200\n", 701 * 400), decodePnm},
        {"p5-16.pgm", pnm("P5 701 200 1000\n", 701 * 200 * 2), decodePnm},
        {"p6-cut.ppm", cutBy(pnm("P6 701 150 255\n", 701 * 150 * 3), 3 * 701 * 7 + 5), decodePnm},
        {"p6-16-cut.ppm", cutBy(pnm("P6 701 150 65535\n", 701 * 150 * 6), 6 * 701 * 3 + 7),
         decodePnm},
        {"rgb24.bmp", makeBitmap(501, 200, 24, 0, false), decodeGeneral},
        {"grey8-topdown.bmp", makeBitmap(701, 400, 8, 0, true), decodeGeneral},
        {"fields32.bmp", makeBitmap(301, 250, 32, 3, false), decodeGeneral},
        {"rgb24-cut.bmp", cutBy(makeBitmap(501, 200, 24, 0, false), 3 * 501 * 4 + 10),
         decodeGeneral},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.bytes.size(), std::size_t{256} << 10);
        const std::string path = dir.file(c.name);
        test::writeBytes(path, c.bytes);
        const toolkit::Image whole = c.decode(c.bytes);
        ASSERT_FALSE(whole.empty());
        EXPECT_TRUE(test::samePixels(loadImageFile(path, FormatKind::None), whole));
        ImageRect rect;
        EXPECT_TRUE(readImageSize(path, rect));
        EXPECT_EQ(std::pair(rect.width, rect.height), std::pair(whole.width(), whole.height()));
    }
}

// The bitmap variants ImageMagick cannot read hold the same picture as the plain 24-bit file: the
// PNG copy exactly, the lossy JPEG copy and the RLE24 copy of fewer colours closely (measured
// PSNR 30 and 23 dB; a picture shifted by one pixel, as a wrong run or padding rule gives, 13).
TEST(BmpDecoder, WrappedAndOs2VariantsMatchThePlainFile) {
    const toolkit::Image plain = loadImageFile(test::testdata("bmp/rgb24.bmp"), FormatKind::None);
    for (const auto& [relative, minimum] : {std::pair{"bmp/rgb24png.bmp", 99.0},
                                            {"bmp/rgb24rle24.bmp", 20.0},
                                            {"bmp/rgb24jpeg.bmp", 27.0}}) {
        const toolkit::Image other =
            loadImageFile(test::testdata(relative), FormatKind::None).toBgr24();
        EXPECT_GE(test::psnr(plain, other), minimum) << relative;
    }
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
        ASSERT_TRUE(!full.empty() && cut.height() == full.height());
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
    // Every file of a folder; a missing sample folder must fail here, not pass with nothing tried.
    const auto filesIn = [](const std::string& folder) {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            files.push_back(entry.path().string());
        EXPECT_FALSE(files.empty()) << folder;
        return files;
    };
    // Corrupt samples and inputs that once crashed a decoder (kept here for good) go through the
    // loader, the size reader and every decoder.
    for (const std::string& folder : {test::testdata("corrupt"), test::fixture("imagefiles")}) {
        for (const std::string& path : filesIn(folder)) {
            SCOPED_TRACE(path);
            (void)loadImageFile(path, FormatKind::None);
            ImageRect rect;
            (void)readImageSize(path, rect);
            const Bytes bytes = test::readBytes(path);
            (void)readImageSizeFromBytes(bytes, rect);
            for (const Decoder decode : {decodeGeneral, decodeGif, decodeIco, decodePcx, decodePnm})
                (void)decode(bytes);
        }
    }
    for (const auto& [folder, decode] : decoders) {
        for (const std::string& path : filesIn(test::testdata(folder))) {
            const Bytes bytes = test::readBytes(path);
            if (bytes.size() > 300000) continue;
            SCOPED_TRACE(path);
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
}

} // namespace
} // namespace quill::imagefiles
