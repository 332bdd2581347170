// The WebP codec: decoding checked against libwebp's own dwebp, metadata against webpmux, and the
// encoder's refusals, stop requests and work estimates (format_table_test.cpp reads our files back
// through dwebp).
#include "imagefiles/webp_codec.h"

#include <atomic>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

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

// What dwebp makes of a file, as a 32-bit image (its PAM output has a fixed seven-line header).
Image decodeWithDwebp(const std::string& path) {
    test::TempDir dir;
    const std::string pam = dir.file("out.pam");
    if (test::runCommand("/usr/bin/dwebp -quiet -pam " + test::shellQuote(path) + " -o " +
                         test::shellQuote(pam)) != 0)
        return {};
    const auto bytes = test::readBytes(pam);
    std::istringstream header(std::string(bytes.begin(), bytes.end()));
    std::string key;
    int width = 0, height = 0;
    header >> key >> key >> width >> key >> height;
    const std::size_t start = std::string(bytes.begin(), bytes.end()).find("ENDHDR\n") + 7;
    Image image(width, height, PixelFormat::Bgra32);
    if (image.empty() || bytes.size() - start != std::size_t(width) * std::size_t(height) * 4)
        return {};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* rgba = bytes.data() + start + (std::size_t(y) * width + x) * 4;
            std::uint8_t* p = image.row(y) + 4 * x;
            p[0] = rgba[2], p[1] = rgba[1], p[2] = rgba[0], p[3] = rgba[3];
        }
    return image;
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

// Each still file decodes to what dwebp gives: the same pixels for lossless files and, with the
// same library underneath, for lossy ones too (at least 45 dB should upsampling ever differ).
// 32-bit exactly when the file has alpha; the first 64 bytes tell the size.
TEST(WebpDecode, StillFilesMatchDwebp) {
    if (!haveWebpTools()) QUILL_SKIP_WITHOUT_TOOL() << "dwebp missing";
    struct Case {
        const char* name;
        bool lossless, alpha;
    } cases[] = {{"lossy.webp", false, false},
                 {"lossless.webp", true, false},
                 {"alpha_lossy.webp", false, true},
                 {"alpha_lossless.webp", true, true},
                 {"metadata.webp", false, false}};
    for (const Case& c : cases) {
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
        const auto bytes = test::readBytes(path);
        const files::DeclaredSize size = files::webpDeclaredSize(std::span(bytes).first(64));
        EXPECT_TRUE(files::looksLikeWebp(std::span(bytes).first(12)));
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

    const files::FileMetadata plain =
        files::readWebpMetadata(test::readBytes(test::fixture("webp/plain_exif.webp")));
    EXPECT_EQ(plain.exif, metadata.exif);
    EXPECT_TRUE(plain.xmp.empty());
    const files::FileMetadata none =
        files::readWebpMetadata(test::readBytes(test::fixture("webp/lossy.webp")));
    EXPECT_TRUE(none.exif.empty() && none.xmp.empty() && none.icc.empty());
}

TEST(WebpEncode, RefusalsAndStopLeaveOutputAlone) {
    std::vector<std::uint8_t> out{1, 2, 3};
    EXPECT_FALSE(files::encodeWebp(Image(16384, 1, PixelFormat::Bgr24).view(), 5, out));
    EXPECT_FALSE(files::encodeWebp(Image(1, 16384, PixelFormat::Bgra32).view(), 10, out));
    EXPECT_FALSE(files::encodeWebp(Image().view(), 5, out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3}));

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
