// The WebP codec: decoding checked against libwebp's own dwebp, metadata against webpmux, and
// our files read back by dwebp and ImageMagick.
#include "imagefiles/webp_codec.h"

#include <atomic>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "image_oracle.h"
#include "test_support.h"
#include "toolkit/stop_request.h"

namespace {

using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;
namespace files = quill::imagefiles;

bool haveWebpTools() {
    return test::haveTool("/usr/bin/dwebp") && test::haveTool("/usr/bin/webpmux");
}

Image decodeFile(const std::string& path) {
    return files::decodeWebp(test::readBytes(path), {});
}

// A PAM file with RGB_ALPHA tuples, as dwebp -pam writes it, as a 32-bit image.
Image readPam(const std::string& path) {
    const auto bytes = test::readBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t end = text.find("ENDHDR\n");
    if (text.rfind("P7\n", 0) != 0 || end == std::string::npos) return {};
    std::istringstream header(text.substr(3, end - 3));
    int width = 0, height = 0, depth = 0;
    for (std::string key; header >> key;) {
        if (key == "WIDTH") header >> width;
        if (key == "HEIGHT") header >> height;
        if (key == "DEPTH") header >> depth;
    }
    const std::size_t start = end + 7;
    if (depth != 4 || bytes.size() - start != std::size_t(width) * std::size_t(height) * 4)
        return {};
    Image image(width, height, PixelFormat::Bgra32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* rgba = bytes.data() + start + (std::size_t(y) * width + x) * 4;
            std::uint8_t* p = image.row(y) + 4 * x;
            p[0] = rgba[2], p[1] = rgba[1], p[2] = rgba[0], p[3] = rgba[3];
        }
    return image;
}

// What dwebp makes of a file, as a 32-bit image.
Image decodeWithDwebp(const std::string& path) {
    test::TempDir dir;
    if (test::runCommand("/usr/bin/dwebp -quiet -pam " + test::shellQuote(path) + " -o " +
                         test::shellQuote(dir.file("out.pam"))) != 0)
        return {};
    return readPam(dir.file("out.pam"));
}

// A smooth gradient with noise and, in 32 bits, an alpha ramp that includes fully transparent
// pixels whose colour is not black.
Image synthetic(int width, int height, PixelFormat format) {
    Image image(width, height, format);
    std::mt19937 random{unsigned(width * 31 + height)};
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < width; ++x, p += image.bytesPerPixel()) {
            p[0] = std::uint8_t((x * 255) / std::max(1, width - 1));
            p[1] = std::uint8_t((y * 255) / std::max(1, height - 1));
            p[2] = std::uint8_t(((x + y) * 4 + random() % 16) & 0xFF);
            if (image.hasAlpha()) p[3] = x < width / 4 ? 0 : std::uint8_t((x * 7 + y * 3) & 0xFF);
        }
    }
    return image;
}

// --- decoding ---------------------------------------------------------------------------------

// Each still file decodes to what dwebp gives: the same pixels for lossless files and, with the
// same library underneath, for lossy ones too (at least 45 dB should upsampling ever differ).
// 32-bit exactly when the file has alpha.
TEST(WebpDecode, StillFilesMatchDwebp) {
    if (!haveWebpTools()) QUILL_SKIP_WITHOUT_TOOL() << "dwebp missing";
    struct Case {
        const char* name;
        bool lossless;
        bool alpha;
    };
    for (const Case c :
         {Case{"lossy.webp", false, false}, Case{"lossless.webp", true, false},
          Case{"alpha_lossy.webp", false, true}, Case{"alpha_lossless.webp", true, true},
          Case{"metadata.webp", false, false}}) {
        SCOPED_TRACE(c.name);
        const std::string path = test::fixture(std::string("webp/") + c.name);
        const Image ours = decodeFile(path);
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(ours.format(), c.alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24);
        Image reference = decodeWithDwebp(path);
        ASSERT_FALSE(reference.empty());
        if (!c.alpha) reference = reference.toBgr24();
        if (c.lossless)
            EXPECT_TRUE(test::samePixels(ours, reference));
        else
            EXPECT_GE(test::psnr(ours, reference, c.alpha), 45.0);
        const files::DeclaredSize size = files::webpDeclaredSize(test::readBytes(path));
        EXPECT_EQ(size.width, ours.width());
        EXPECT_EQ(size.height, ours.height());
    }
}

// An animation gives its first frame placed at its offset on the canvas; the rest of the canvas
// stays transparent although the file's header declares no alpha. The declared size is the
// canvas.
TEST(WebpDecode, AnimationGivesFirstFrameOnCanvas) {
    if (!haveWebpTools()) QUILL_SKIP_WITHOUT_TOOL() << "webpmux missing";
    const std::string path = test::fixture("webp/animated.webp");
    test::TempDir dir;
    ASSERT_EQ(test::runCommand("/usr/bin/webpmux -get frame 1 " + test::shellQuote(path) + " -o " +
                               test::shellQuote(dir.file("f1.webp")) + " >/dev/null"),
              0);
    const Image frame = decodeWithDwebp(dir.file("f1.webp"));
    ASSERT_EQ(frame.width(), 64);

    const Image ours = decodeFile(path);
    ASSERT_EQ(ours.width(), 104);
    ASSERT_EQ(ours.height(), 88);
    ASSERT_EQ(ours.format(), PixelFormat::Bgra32);
    int mismatches = 0;
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x) {
            const std::uint8_t* p = ours.row(y) + 4 * x;
            const bool inside = x >= 16 && x < 16 + 64 && y >= 8 && y < 8 + 64;
            if (inside)
                mismatches += !std::equal(p, p + 4, frame.row(y - 8) + 4 * (x - 16));
            else
                mismatches += p[3] != 0;
        }
    EXPECT_EQ(mismatches, 0);
    const files::DeclaredSize size = files::webpDeclaredSize(test::readBytes(path));
    EXPECT_EQ(size.width, 104);
    EXPECT_EQ(size.height, 88);
}

// The signature and the declared size need only the first bytes; other RIFF forms and too few
// bytes are not WebP.
TEST(WebpDecode, SignatureAndSizeFromHead) {
    auto bytes = test::readBytes(test::fixture("webp/lossless.webp"));
    const std::span<const std::uint8_t> head(bytes.data(), 64);
    EXPECT_TRUE(files::looksLikeWebp(head));
    EXPECT_FALSE(files::looksLikeWebp(head.first(11)));
    EXPECT_EQ(files::webpDeclaredSize(head).width, 128);
    EXPECT_EQ(files::webpDeclaredSize(head.first(8)).width, 0);
    const auto lossy = test::readBytes(test::fixture("webp/lossy.webp"));
    EXPECT_EQ(files::webpDeclaredSize(std::span(lossy.data(), 40)).height, 240);
    bytes[8] = 'W', bytes[9] = 'A', bytes[10] = 'V', bytes[11] = 'E';
    EXPECT_FALSE(files::looksLikeWebp(bytes));
    EXPECT_TRUE(decodeFile("/nonexistent").empty());
    EXPECT_TRUE(files::decodeWebp(bytes, {}).empty());
}

// Truncated and corrupted files fail cleanly (the sanitizers watch for overruns): a file cut
// inside its image data gives no image rather than a half-filled one, and whatever a damaged
// file still decodes to has the size its header declares.
TEST(WebpDecode, DamagedFilesFailCleanly) {
    for (const char* name : {"lossy.webp", "alpha_lossy.webp", "lossless.webp", "animated.webp"}) {
        SCOPED_TRACE(name);
        const auto bytes = test::readBytes(test::fixture(std::string("webp/") + name));
        for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 3) {
            const std::span<const std::uint8_t> part(bytes.data(), cut);
            EXPECT_TRUE(files::decodeWebp(part, {}).empty()) << cut;
            (void)files::readWebpMetadata(part);
        }
        std::mt19937 random{7};
        for (int round = 0; round < 40; ++round) {
            auto damaged = bytes;
            for (int i = 0; i < 8; ++i)
                damaged[20 + random() % (damaged.size() - 20)] = std::uint8_t(random());
            const Image image = files::decodeWebp(damaged, {});
            if (!image.empty()) {
                EXPECT_EQ(files::webpDeclaredSize(damaged).width, image.width());
            }
            (void)files::readWebpMetadata(damaged);
        }
    }
}

// --- metadata -----------------------------------------------------------------------------------

// EXIF, XMP and ICC come out as webpmux stores them, the EXIF without the "Exif\0\0" that one
// file puts before it; a file that carries none gives none.
TEST(WebpMetadata, ChunksMatchWebpmux) {
    if (!haveWebpTools()) QUILL_SKIP_WITHOUT_TOOL() << "webpmux missing";
    const std::string path = test::fixture("webp/metadata.webp");
    test::TempDir dir;
    const auto extract = [&](const char* what) {
        const std::string out = dir.file(what);
        EXPECT_EQ(test::runCommand("/usr/bin/webpmux -get " + std::string(what) + " " +
                                   test::shellQuote(path) + " -o " + test::shellQuote(out) +
                                   " >/dev/null"),
                  0);
        return test::readBytes(out);
    };
    const files::FileMetadata metadata = files::readWebpMetadata(test::readBytes(path));
    const auto exif = extract("exif");
    ASSERT_GT(exif.size(), 6u);
    EXPECT_EQ(metadata.exif, std::vector<std::uint8_t>(exif.begin() + 6, exif.end()));
    EXPECT_EQ(metadata.xmp, extract("xmp"));
    EXPECT_EQ(metadata.icc, extract("icc"));
    ASSERT_GE(metadata.exif.size(), 4u);
    EXPECT_EQ(metadata.exif[0], 'I');
    EXPECT_EQ(metadata.exif[2], 0x2A);

    const files::FileMetadata plain =
        files::readWebpMetadata(test::readBytes(test::fixture("webp/plain_exif.webp")));
    EXPECT_EQ(plain.exif, metadata.exif);
    EXPECT_TRUE(plain.xmp.empty());
    const files::FileMetadata none =
        files::readWebpMetadata(test::readBytes(test::fixture("webp/lossy.webp")));
    EXPECT_TRUE(none.exif.empty() && none.xmp.empty() && none.icc.empty());
}

// --- encoding ----------------------------------------------------------------------------------

// Quality 10 is lossless and exact: every pixel comes back, the colour under alpha 0 included,
// through our decoder and dwebp; a 24-bit view stays without alpha.
TEST(WebpEncode, LosslessRoundTripsExactly) {
    for (const PixelFormat format : {PixelFormat::Bgra32, PixelFormat::Bgr24}) {
        const Image source = synthetic(97, 61, format);
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(files::encodeWebp(source.view(), 10, out));
        EXPECT_TRUE(test::samePixels(files::decodeWebp(out, {}), source));
        if (!haveWebpTools()) continue;
        test::TempDir dir;
        test::writeBytes(dir.file("out.webp"), out);
        const Image reference = decodeWithDwebp(dir.file("out.webp"));
        EXPECT_TRUE(test::samePixels(
            format == PixelFormat::Bgr24 ? reference.toBgr24() : reference.clone(), source));
    }
}

// Lossy files grow and come closer to the source as the quality rises, with 0 written like 1;
// dwebp and ImageMagick read them at the right size, with alpha exactly for 32-bit views.
TEST(WebpEncode, LossyQualitiesReadBackEverywhere) {
    const bool tools = haveWebpTools() && test::haveImageMagick();
    const Image photo = decodeFile(test::fixture("webp/lossy.webp"));
    ASSERT_FALSE(photo.empty());
    std::size_t previousSize = 0;
    double previousPsnr = 0;
    for (int quality = 1; quality <= 9; ++quality) {
        SCOPED_TRACE(quality);
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(files::encodeWebp(photo.view(), quality, out));
        const Image back = files::decodeWebp(out, {});
        ASSERT_EQ(back.format(), PixelFormat::Bgr24);
        const double quality_psnr = test::psnr(back, photo);
        EXPECT_GT(out.size(), previousSize);
        EXPECT_GT(quality_psnr, previousPsnr);
        previousSize = out.size();
        previousPsnr = quality_psnr;
    }
    std::vector<std::uint8_t> zero, one;
    ASSERT_TRUE(files::encodeWebp(photo.view(), 0, zero));
    ASSERT_TRUE(files::encodeWebp(photo.view(), 1, one));
    EXPECT_EQ(zero, one);

    if (!tools) QUILL_SKIP_WITHOUT_TOOL() << "dwebp or ImageMagick missing";
    test::TempDir dir;
    for (const PixelFormat format : {PixelFormat::Bgra32, PixelFormat::Bgr24}) {
        const bool alpha = format == PixelFormat::Bgra32;
        const Image source = synthetic(120, 80, format);
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(files::encodeWebp(source.view(), 7, out));
        const std::string path = dir.file(alpha ? "a.webp" : "b.webp");
        test::writeBytes(path, out);
        Image viaDwebp = decodeWithDwebp(path);
        ASSERT_FALSE(viaDwebp.empty());
        // Lossy coding may change the colour under alpha 0; compare the visible pixels.
        Image visible = source.toBgra32();
        for (Image* image : {&viaDwebp, &visible})
            for (int y = 0; y < image->height(); ++y)
                for (int x = 0; x < image->width(); ++x)
                    if (image->row(y)[4 * x + 3] == 0) std::fill_n(image->row(y) + 4 * x, 3, 0);
        EXPECT_GE(test::psnr(viaDwebp, visible), 25.0);
        EXPECT_EQ(test::identify(path, "%w %h %A"),
                  std::string("120 80 ") + (alpha ? "True" : "False"));
        // Lossy alpha is still stored losslessly: the transparent quarter stays transparent.
        if (alpha) {
            EXPECT_EQ(viaDwebp.row(40)[4 * 3 + 3], 0);
        }
    }
}

// Sides beyond 16383 pixels and empty views are refused without touching the output; a stop
// request abandons the encoding and leaves the output as it was.
TEST(WebpEncode, RefusalsAndStopLeaveOutputAlone) {
    std::vector<std::uint8_t> out{1, 2, 3};
    const Image wide(16384, 1, PixelFormat::Bgr24);
    EXPECT_FALSE(files::encodeWebp(wide.view(), 5, out));
    const Image tall(1, 16384, PixelFormat::Bgra32);
    EXPECT_FALSE(files::encodeWebp(tall.view(), 10, out));
    EXPECT_FALSE(files::encodeWebp(Image().view(), 5, out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3}));

    const Image edge(16383, 2, PixelFormat::Bgr24);
    ASSERT_TRUE(files::encodeWebp(edge.view(), 3, out));
    EXPECT_EQ(files::webpDeclaredSize(std::span(out).subspan(3)).width, 16383);

    const Image source = synthetic(300, 200, PixelFormat::Bgr24);
    std::atomic<std::int32_t> stop{1};
    const quill::toolkit::StopScope scope(&stop);
    for (const int quality : {5, 10}) {
        std::vector<std::uint8_t> stopped{9};
        EXPECT_FALSE(files::encodeWebp(source.view(), quality, stopped));
        EXPECT_EQ(stopped, std::vector<std::uint8_t>{9});
    }
}

// The work estimates cover what libwebp really holds, for the costliest kind of still file:
// lossless, both ways (peak memory of a child process, in 16 MiB steps). The encoder's growing
// output (up to three times its size while the vector moves) and one step of slack for the
// sanitizer's allocator come on top.
TEST(WebpEncode, WorkEstimatesCoverLosslessFiles) {
    constexpr int kWidth = 2400, kHeight = 1600;
    const Image source = synthetic(kWidth, kHeight, PixelFormat::Bgra32);
    std::vector<std::uint8_t> file;
    ASSERT_TRUE(files::encodeWebp(source.view(), 10, file));
    const long slackMiB = long(3 * file.size() >> 20) + 16;

    const long encodeGrowth = test::childPeakGrowthMiB([&] {
        std::vector<std::uint8_t> out;
        return files::encodeWebp(source.view(), 10, out);
    });
    ASSERT_GE(encodeGrowth, 0);
    EXPECT_LE(encodeGrowth, long(files::webpEncodeWorkBytes(kWidth, kHeight) >> 20) + slackMiB);

    const long decodeGrowth =
        test::childPeakGrowthMiB([&] { return files::decodeWebp(file, {}).width() == kWidth; });
    ASSERT_GE(decodeGrowth, 0);
    EXPECT_LE(decodeGrowth,
              long((files::webpDecodeWorkBytes(kWidth, kHeight) + source.sizeInBytes()) >> 20));
}
} // namespace
