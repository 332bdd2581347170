// The format table as the rest of the program uses it: every writable format round-trips through
// the saver, the loader and its library's own decoder at every depth it holds; broken files of
// every format fail quickly and cleanly; misnamed files are read by their content.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "imagefiles/format.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "test_support.h"

namespace quill::imagefiles {
namespace {

using test::TempDir;
using toolkit::Image;
using toolkit::PixelFormat;

// A picture with smooth gradients, a few hard edges and (for 32 bits) an alpha ramp that has
// fully transparent and fully opaque parts, of odd size so that row padding shows.
Image testPicture(bool alpha) {
    Image image(67, 43, alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24);
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x, p += image.bytesPerPixel()) {
            p[0] = std::uint8_t(x * 3);
            p[1] = std::uint8_t(y * 5);
            p[2] = x < 20 ? 200 : std::uint8_t(40 + (x + y) % 64);
            if (alpha) p[3] = x < 10 ? 0 : x > 50 ? 255 : std::uint8_t((x - 10) * 6);
        }
    }
    return image;
}

// Whether a format's encoding at `quality` must give back the exact pixels.
bool lossless(const FormatInfo& format, int quality) {
    return format.quality == QualityScale::None ||
           (format.quality == QualityScale::LosslessAtTop && quality >= 10);
}

// How the library's own tool turns a file into one we read back: a command with {in} and {out}
// and the extension of {out}; empty for formats without a tool here.
struct ReferenceDecoder {
    const char* tool;
    const char* command;
    const char* outExtension;
};

ReferenceDecoder referenceDecoderFor(Encoder encoder) {
    switch (encoder) {
    case Encoder::Webp:
        return {"/usr/bin/dwebp", "dwebp {in} -o {out}", "png"};
    case Encoder::Avif:
        return {"/usr/bin/avifdec", "avifdec {in} {out}", "png"};
    case Encoder::JpegXl:
        return {"/usr/bin/djxl", "djxl {in} {out}", "png"};
    case Encoder::Tiff:
        return {"/usr/bin/tiffcp", "tiffcp -c none {in} {out}", "tif"};
    default:
        return {};
    }
}

std::string replaced(std::string text, const std::string& key, const std::string& value) {
    text.replace(text.find(key), key.size(), value);
    return text;
}

struct Case {
    int depth;
    bool alphaSource;
};

std::vector<Case> casesFor(const FormatInfo& format) {
    std::vector<Case> cases{{24, false}, {24, true}, {32, true}};
    if ((format.holds & HoldsPalette) != 0)
        for (int depth : {1, 4, 8})
            cases.push_back({depth, false});
    return cases;
}

std::vector<std::uint8_t> alphaOf(const Image& image) {
    std::vector<std::uint8_t> alpha;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            alpha.push_back(image.hasAlpha() ? image.row(y)[x * 4 + 3] : 255);
    return alpha;
}

std::set<std::uint32_t> coloursOf(const Image& image) {
    std::set<std::uint32_t> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* p = image.row(y) + x * image.bytesPerPixel();
            colours.insert(std::uint32_t(p[0]) | p[1] << 8 | p[2] << 16);
        }
    return colours;
}

// The encoders of the first formats keep their own tests; the table's new ones are checked here
// with the same rules, so that a format added as a row gets the same checks.
TEST(FormatTableRoundTrip, EveryWritableFormatAtEveryDepthReadsBackBySizeAlphaAndPixels) {
    TempDir dir;
    int referenceChecks = 0;
    for (const FormatInfo& format : formatTable()) {
        if (!format.writable || format.encode == nullptr) continue;
        const ReferenceDecoder reference = referenceDecoderFor(format.encoder);
        for (const Case& c : casesFor(format)) {
            for (int quality : {4, 10}) {
                SCOPED_TRACE(std::string(format.name) + " depth " + std::to_string(c.depth) +
                             " quality " + std::to_string(quality) +
                             (c.alphaSource ? " alpha source" : ""));
                const Image source = testPicture(c.alphaSource);
                EncodeOptions options;
                options.quality = quality;
                const std::string path = dir.file("/out_" + std::to_string(c.depth) + "." +
                                                  std::string(format.extension));
                ASSERT_TRUE(saveImageFile(source, path, format.encoder, options, c.depth));
                const Image back = loadImageFile(path, FormatKind::None);
                ASSERT_FALSE(back.empty());
                EXPECT_EQ(back.width(), source.width());
                EXPECT_EQ(back.height(), source.height());
                const bool alphaKept = c.depth == 32 && (format.holds & HoldsAlpha) != 0;
                EXPECT_EQ(back.hasAlpha(), alphaKept);
                if (c.depth <= 8) {
                    EXPECT_LE(coloursOf(back).size(), std::size_t(1) << c.depth);
                } else if (lossless(format, quality)) {
                    const Image expected = alphaKept ? source.clone() : source.toBgr24();
                    EXPECT_TRUE(test::samePixels(back, expected));
                } else if (!alphaKept) {
                    EXPECT_GT(test::psnr(back, source.toBgr24()), 28);
                }

                if (reference.tool == nullptr) continue;
                if (!test::haveTool(reference.tool)) QUILL_SKIP_WITHOUT_TOOL();
                const std::string decoded =
                    dir.file("/reference." + std::string(reference.outExtension));
                std::string command = replaced(reference.command, "{in}", test::shellQuote(path));
                command =
                    replaced(command, "{out}", test::shellQuote(decoded)) + " >/dev/null 2>&1";
                ASSERT_EQ(test::runCommand(command), 0) << command;
                ++referenceChecks;
                const Image theirs = loadImageFile(decoded, FormatKind::None);
                ASSERT_FALSE(theirs.empty());
                EXPECT_EQ(theirs.width(), source.width());
                EXPECT_EQ(theirs.height(), source.height());
                // A tool may write an opaque picture with a full alpha channel; what must agree
                // is whether anything is transparent.
                if (!alphaKept) {
                    bool opaque = true;
                    if (theirs.hasAlpha())
                        for (int y = 0; y < theirs.height(); ++y)
                            for (int x = 0; x < theirs.width(); ++x)
                                opaque = opaque && theirs.row(y)[x * 4 + 3] == 255;
                    EXPECT_TRUE(opaque);
                } else {
                    ASSERT_TRUE(theirs.hasAlpha());
                    EXPECT_EQ(alphaOf(theirs), alphaOf(back));
                }
                if (!alphaKept) {
                    EXPECT_GT(test::psnr(theirs.toBgr24(), back), 45);
                }
            }
        }
    }
    EXPECT_GE(referenceChecks, 30); // WebP, AVIF, JPEG XL and TIFF in every case
}

// The table's encoders append to what the output holds, write a larger file for each higher
// quality value, and take value 0 as value 1.
TEST(FormatTableEncoders, QualityValuesGrowTheFileAndEncodersAppend) {
    const Image photo = loadImageFile(test::testdata("jpeg/cat.jpg"), FormatKind::Jpeg);
    ASSERT_FALSE(photo.empty());
    for (const bool alpha : {false, true}) {
        Image source = alpha ? photo.toBgra32() : photo.clone();
        for (int y = 0; alpha && y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.row(y)[4 * x + 3] = std::uint8_t(x * 255 / (source.width() - 1));
        for (const FormatInfo& format : formatTable()) {
            if (!format.writable || format.encode == nullptr) continue;
            SCOPED_TRACE(std::string(format.name) + (alpha ? " alpha" : ""));
            std::size_t previous = 0;
            for (int quality = 1; quality <= 10; ++quality) {
                std::vector<std::uint8_t> out{0xA5};
                ASSERT_TRUE(format.encode(source.view(), quality, out));
                EXPECT_EQ(out.front(), 0xA5);
                const Image back = format.decode(Bytes(out).subspan(1), DecodeRequest{});
                EXPECT_EQ(back.hasAlpha(), alpha && (format.holds & HoldsAlpha) != 0);
                if (format.quality == QualityScale::None) continue;
                EXPECT_GE(out.size(), previous) << quality;
                previous = out.size();
            }
            std::vector<std::uint8_t> zero, one;
            ASSERT_TRUE(format.encode(source.view(), 0, zero));
            ASSERT_TRUE(format.encode(source.view(), 1, one));
            EXPECT_EQ(zero, one);
        }
    }
}

// Every sample of the new formats, cut short and with a stretch of its body overwritten, fails
// (or decodes what it can) without crashing or stalling.
TEST(FormatTableBadInput, TruncatedAndCorruptedFilesOfEveryFormatFailQuickly) {
    TempDir dir;
    std::vector<std::string> samples;
    for (const char* folder : {"webp", "avif", "heif", "jxl", "raw"}) {
        const std::filesystem::path path = test::fixture(folder);
        if (!std::filesystem::is_directory(path)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(path))
            if (entry.is_regular_file() && entry.path().extension() != ".md")
                samples.push_back(entry.path().string());
    }
    ASSERT_FALSE(samples.empty());
    int index = 0;
    for (const std::string& sample : samples) {
        const std::vector<std::uint8_t> bytes = test::readBytes(sample);
        ASSERT_GT(bytes.size(), 64u) << sample;
        const std::string extension = std::filesystem::path(sample).extension().string();
        struct Broken {
            const char* what;
            std::vector<std::uint8_t> bytes;
        };
        std::vector<Broken> broken;
        broken.push_back({"header only", {bytes.begin(), bytes.begin() + 32}});
        broken.push_back({"half", {bytes.begin(), bytes.begin() + bytes.size() / 2}});
        broken.push_back({"all but the last byte", {bytes.begin(), bytes.end() - 1}});
        std::vector<std::uint8_t> corrupted = bytes;
        for (std::size_t i = corrupted.size() / 3; i < corrupted.size() / 3 + 48; ++i)
            corrupted[i] = std::uint8_t(i * 151 + 7);
        broken.push_back({"body overwritten", corrupted});
        std::vector<std::uint8_t> sizes = bytes;
        for (std::size_t i = 12; i < 40; ++i)
            sizes[i] = 0xFF;
        broken.push_back({"header overwritten with 0xFF", sizes});
        for (const Broken& b : broken) {
            SCOPED_TRACE(sample + ": " + b.what);
            const std::string path = dir.file("/bad" + std::to_string(index++) + extension);
            test::writeBytes(path, b.bytes);
            const auto start = std::chrono::steady_clock::now();
            const Image image = loadImageFile(path, FormatKind::None);
            ImageRect rect;
            (void)readImageSize(path, rect);
            (void)estimateDecode(path);
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(seconds, 10.0);
            if (!image.empty()) {
                EXPECT_TRUE(Image::sizeAllowed(image.width(), image.height(), image.format()));
            }
        }
    }
}

// A file whose name says one format and whose content is another is read by its content, both
// ways round between a first format and a new one.
TEST(FormatTableContent, MisnamedFilesAreReadByTheirContent) {
    TempDir dir;
    const Image source = testPicture(false);
    for (const FormatInfo& format : formatTable()) {
        if (!format.writable || format.encode == nullptr) continue;
        SCOPED_TRACE(std::string(format.name));
        const std::string real = dir.file("/real." + std::string(format.extension));
        ASSERT_TRUE(saveImageFile(source, real, format.encoder, EncodeOptions{.quality = 10}, 24));
        const std::string asJpeg = dir.file("/named.jpg");
        test::writeBytes(asJpeg, test::readBytes(real));
        const Image fromJpegName = loadImageFile(asJpeg, FormatKind::None);
        EXPECT_EQ(fromJpegName.width(), source.width());
        ImageRect rect;
        EXPECT_TRUE(readImageSize(asJpeg, rect));
        EXPECT_EQ(rect.width, source.width());

        const std::string png = dir.file("/real.png");
        ASSERT_TRUE(saveImageFile(source, png, Encoder::Png, EncodeOptions{}, 24));
        const std::string asNew = dir.file("/named." + std::string(format.extension));
        test::writeBytes(asNew, test::readBytes(png));
        EXPECT_TRUE(test::samePixels(loadImageFile(asNew, FormatKind::None), source));
    }
}

} // namespace
} // namespace quill::imagefiles
