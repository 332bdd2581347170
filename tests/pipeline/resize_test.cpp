// Scaling: the size arithmetic of scale requests, and the cubic resampler against ImageMagick's
// Mitchell filter (B = C = 1/3) on photographs, on constant colours and on transparency.
#include "pipeline/resize.h"

#include <gtest/gtest.h>

#include "pipeline/detail/resize_kernel.h"

#include "ops_test_images.h"
#include "test_support.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;

TEST(ScaleImage, ComputesTheNewSize) {
    // Measured without an image; the expected size and factor sit in the result fields.
    const ScaleRequest cases[] = {
        {1, {}, 4000, 3000, 0, 1, 0, 0, 1024, 0, 1024, 768, 0.256f},   // width only, aspect kept
        {1, {}, 3000, 3000, 0, 0, 0, 0, 1024, 768, 768, 768, 0.256f},  // the smaller factor wins
        {1, {}, 3000, 3000, 0, 0, 0, 1, 1024, 768, 1024, 768, 0.256f}, // stretched
        {1, {}, 640, 480, 0, 2, 0, 0, 0, 240, 320, 240, 0.5f},         // height only
        {1, {}, 640, 480, 0, 0, 1, 0, 1024, 768, 640, 480, 1.0f},      // never enlarge
        {1, {}, 640, 480, 0, 0, 2, 0, 320, 240, 640, 480, 1.0f},       // never reduce
        {1, {}, 3, 3, 1, 0, 0, 0, 0.5f, 0.5f, 2, 2, 0.5f},             // 1.5 rounds to 2
        {1, {}, 4000, 3000, 1, 0, 0, 0, 0.0f, 0.0f, 4, 3, 0.001f},     // raised to 0.001
        {1, {}, 10, 10, 1, 0, 0, 0, 5000.0f, 5000.0f, 10000, 10000, 1000.0f}, // capped at 1000
    };
    for (const ScaleRequest& c : cases) {
        ScaleRequest r = c;
        r.newWidth = r.newHeight = 0;
        r.factor = 0;
        ASSERT_TRUE(scaleImage(r));
        EXPECT_EQ(std::pair(r.newWidth, r.newHeight), std::pair(c.newWidth, c.newHeight))
            << c.knownWidth << "x" << c.knownHeight << " -> " << c.targetX << "x" << c.targetY;
        EXPECT_FLOAT_EQ(r.factor, c.factor);
    }
}

TEST(LargestDctReduction, KeepsTheReducedImageTwiceTheResult) {
    struct Case {
        int srcWidth, srcHeight;
        ScaleRequest request; // basis, axis, limit, stretch and targets count
        int expected;
    };
    auto fit = [](float x, float y) { return ScaleRequest{0, {}, 0, 0, 0, 0, 0, 0, x, y}; };
    ScaleRequest stretched = fit(1000, 100);
    stretched.stretch = 1;
    ScaleRequest widthOnly = fit(500, 0);
    widthOnly.axis = 1;
    ScaleRequest neverReduce = fit(320, 240);
    neverReduce.limit = 2;
    ScaleRequest percent = fit(0.1f, 0.1f);
    percent.basis = 1;
    const Case cases[] = {
        {4000, 3000, fit(1024, 768), 1}, // 1/2 gives 2000 x 1500, short of 2048 x 1536
        {4000, 3000, fit(800, 600), 2},  // 2000 x 1500 >= 1600 x 1200; 1000 x 750 is not
        {4000, 3000, fit(320, 240), 4},  // 1000 x 750 >= 640 x 480; 500 x 375 is not
        {6000, 4000, fit(320, 240), 8},  // result 320 x 213: 750 x 500 >= 640 x 426
        {4000, 3000, stretched, 2},      // 2000 >= 2000 wide; 1/4 gives 1000 < 2000
        {3998, 2998, widthOnly, 4},      // 500 x 375; the decoder rounds up: 1000 x 750
        {4000, 3000, percent, 4},        // 400 x 300: 1000 x 750 >= 800 x 600
        {640, 480, fit(1024, 768), 1},   // enlarging
        {4000, 3000, neverReduce, 1},    // the size stays
        {0, 3000, fit(320, 240), 1},     // nothing to measure
    };
    for (const Case& c : cases) {
        EXPECT_EQ(largestDctReduction(c.srcWidth, c.srcHeight, c.request), c.expected)
            << c.srcWidth << "x" << c.srcHeight << " -> " << c.request.targetX << "x"
            << c.request.targetY;
    }
}

TEST(ScaleImage, ResamplesOnlyWhenTheSizeChanges) {
    Image image(640, 480, PixelFormat::Bgr24);
    const std::uint8_t* pixels = image.data();
    ScaleRequest keep;
    keep.image = &image;
    keep.targetX = 1024;
    keep.targetY = 768;
    keep.limit = 1;
    ASSERT_TRUE(scaleImage(keep));
    EXPECT_EQ(image.data(), pixels);
    ScaleRequest tiny = keep;
    tiny.limit = 0;
    tiny.basis = 1;
    tiny.targetX = tiny.targetY = 0.0001f;
    tiny.newWidth = -7;
    EXPECT_FALSE(scaleImage(tiny)); // 480 x 0.001 rounds to 0: the step fails...
    EXPECT_EQ(tiny.newWidth, -7);   // ...without writing results
    EXPECT_FALSE(resizeImageSmooth(image, 1 << 20, 1 << 20)); // beyond the image size limit
    EXPECT_EQ(image.width(), 640);
    ScaleRequest half = tiny;
    half.targetX = half.targetY = 0.5f;
    ASSERT_TRUE(scaleImage(half));
    EXPECT_EQ(image.width(), 320);
    EXPECT_EQ(image.height(), 240);
}

TEST(ResizeImageSmooth, ConstantColourAndTransparencyStayExact) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        for (auto [w, h] : {std::pair{1, 1}, {17, 9}, {333, 71}, {40, 500}}) {
            Image image = test::makeImage(97, 83, format, [](int, int) {
                return Bgra{3, 128, 254, 200};
            });
            ASSERT_TRUE(resizeImageSmooth(image, w, h));
            const Bgra expected{3, 128, 254, std::uint8_t(image.hasAlpha() ? 200 : 255)};
            EXPECT_EQ(test::countMismatches(image, w, h, [&](int, int) { return expected; }), 0);
        }
    }
    // Fully transparent pixels count as transparent white: a transparent black image comes out
    // transparent white, and a white shape keeps its colour right up to a transparent edge.
    Image clear = test::makeImage(50, 40, PixelFormat::Bgra32, [](int, int) { return Bgra{}; });
    ASSERT_TRUE(resizeImageSmooth(clear, 23, 90));
    const Bgra clearWhite{255, 255, 255, 0};
    EXPECT_EQ(test::countMismatches(clear, 23, 90, [&](int, int) { return clearWhite; }), 0);
    const Image half = test::makeImage(40, 10, PixelFormat::Bgra32, [](int x, int) {
        return x < 20 ? Bgra{255, 255, 255, 255} : Bgra{};
    });
    Image smaller = half.clone();
    ASSERT_TRUE(resizeImageSmooth(smaller, 15, 10));
    for (int x = 0; x < 15; ++x)
        EXPECT_EQ(pixelAt(smaller, x, 5)[0], 255) << x;
    EXPECT_EQ(pixelAt(half, 30, 5), Bgra{}); // the source is left as it was
}

TEST(ResizeImageSmooth, EveryKernelGivesTheSameBytes) {
    // Noise with hard edges and extreme values, so that rounding, negative lobes and
    // saturation all show; sizes cover both pass orders, reductions, enlargements and row
    // lengths that are no multiple of the vector widths.
    auto noise = [](int x, int y) {
        const std::uint32_t v = std::uint32_t(x * 7919 + y * 104729) * 2654435761u;
        const std::uint8_t a = (v >> 24) & 1 ? 255 : std::uint8_t(v >> 8);
        return Bgra{std::uint8_t(v >> 16), a, std::uint8_t(v), std::uint8_t(v >> 12)};
    };
    using detail::ResizeKernel;
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        const Image source = test::makeImage(203, 157, format, noise);
        for (auto [w, h] : {std::pair{64, 48}, {37, 301}, {500, 400}, {11, 3}, {203, 1}}) {
            Image reference = source.clone();
            ASSERT_TRUE(detail::resizeImageSmoothWith(reference, w, h, ResizeKernel::Scalar));
            for (ResizeKernel kernel : {ResizeKernel::Sse2, ResizeKernel::Avx2}) {
                Image image = source.clone();
                ASSERT_TRUE(detail::resizeImageSmoothWith(image, w, h, kernel));
                EXPECT_EQ(test::countMismatches(image, reference), 0)
                    << w << "x" << h << " kernel " << int(kernel) << " bpp "
                    << source.bytesPerPixel();
            }
        }
    }
}

TEST(ResizeImageSmooth, AgreesWithImageMagickOnPhotographs) {
    if (!test::haveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    struct Case {
        const char* sample;
        int w, h;
        double minPsnr; // measured 57.64, 56.50, 55.43, 55.70 and 55.21 dB
    } const cases[] = {
        {"exif/orientation/Landscape_0.jpg", 600, 400, 57.3},  // reduce by 3
        {"exif/orientation/Landscape_0.jpg", 1023, 677, 56.2}, // uneven reduction
        {"jpeg/cat.jpg", 800, 600, 55.1},                      // enlarge by 2.5
        {"jpeg/hopper.jpg", 301, 250, 55.4},                   // uneven enlargement
        {"jpeg/goldenears.jpg", 64, 200, 54.9},                // one side smaller, one larger
    };
    test::TempDir dir;
    auto convert = [&](const std::string& args) {
        return test::runCommand("MAGICK_THREAD_LIMIT=1 /usr/bin/convert " + args + " 2>/dev/null");
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sample);
        ASSERT_EQ(convert(test::shellQuote(test::testdata(c.sample)) + " -strip -depth 8 " +
                          test::shellQuote("ppm:" + dir.file("in.ppm"))),
                  0);
        const Image photo = test::readPpm(dir.file("in.ppm"));
        ASSERT_FALSE(photo.empty());
        const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
        ASSERT_EQ(convert(test::shellQuote(dir.file("in.ppm")) + " -filter Mitchell -resize " +
                          size + "! " + test::shellQuote(dir.file("out.ppm"))),
                  0);
        Image ours = photo.clone();
        ASSERT_TRUE(resizeImageSmooth(ours, c.w, c.h));
        const double value = test::psnr(ours, test::readPpm(dir.file("out.ppm")));
        std::printf("PSNR %s -> %s: %.2f dB\n", c.sample, size.c_str(), value);
        EXPECT_GE(value, c.minPsnr);
        // An opaque 32-bit copy goes through the 4-channel path and must match channel for channel.
        Image opaque = photo.toBgra32();
        ASSERT_TRUE(resizeImageSmooth(opaque, c.w, c.h));
        EXPECT_EQ(test::countMismatches(opaque, ours), 0);
    }
}

} // namespace
} // namespace quill::pipeline
