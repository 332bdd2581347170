// Scaling: the size arithmetic of scale requests, and the cubic resampler (every kernel) against
// ImageMagick's Mitchell filter (B = C = 1/3) on photographs, on constant colours and on
// transparency.
#include "pipeline/resize.h"

#include <gtest/gtest.h>

#include "imagefiles/image_loader.h"
#include "pipeline/detail/resize_kernel.h"

#include "ops_test_images.h"
#include "test_support.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;

TEST(ScaleImage, NewSizeAndTheLargestDctReduction) {
    constexpr auto Pixels = ScaleBasis::Pixels;
    constexpr auto Factor = ScaleBasis::Factor;
    constexpr auto Stretch = ScaleAspect::Stretch;
    // A DCT-reduced decode must keep 1.5 times the result on both sides; the decoder rounds up.
    const struct {
        ScaleRequest request;
        int width, height;
        ScaledSize size; // 0 x 0: no size
        int reduction;
    } cases[] = {
        // 2000 x 1500 >= 1536 x 1152; 1000 x 750 is not
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 1024, 0}, 4000, 3000, {1024, 768, 0.256f}, 2},
        {{Pixels, {}, {}, {}, 1024, 768}, 3000, 3000, {768, 768, 0.256f}, 2}, // smaller factor
        {{Pixels, {}, {}, Stretch, 1024, 768}, 3000, 3000, {1024, 768, 0.256f}, 1},
        {{Pixels, {}, {}, Stretch, 1000, 100}, 4000, 3000, {1000, 100, 0.1f / 3}, 2},
        {{Pixels, {}, {}, {}, 1400, 1050}, 4000, 3000, {1400, 1050, 0.35f}, 1}, // 2000 < 2100
        {{Pixels, {}, {}, {}, 320, 240}, 6000, 4000, {320, 213, 320.0f / 6000}, 8},
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 500, 0}, 3998, 2998, {500, 375, 500.0f / 3998}, 4},
        {{Pixels, {}, ScaleLimit::NeverEnlarge, {}, 1024, 768}, 640, 480, {640, 480, 1.0f}, 1},
        {{Pixels, {}, ScaleLimit::NeverReduce, {}, 320, 240}, 640, 480, {640, 480, 1.0f}, 1},
        {{Factor, {}, {}, {}, 0.5f, 0.5f}, 3, 3, {2, 2, 0.5f}, 1},              // 1.5 rounds to 2
        {{Factor, {}, {}, {}, 0.0f, 0.0f}, 4000, 3000, {4, 3, 0.001f}, 8},      // raised to 0.001
        {{Factor, {}, {}, {}, 5000, 5000}, 10, 10, {10000, 10000, 1000.0f}, 1}, // capped at 1000
        {{Pixels, {}, {}, {}, 320, 240}, 0, 3000, {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " -> " << c.request.targetX
                                        << "x" << c.request.targetY);
        const auto size = measureScale(c.request, c.width, c.height);
        EXPECT_EQ(size.has_value(), c.size.width > 0);
        if (size) {
            EXPECT_EQ(std::pair(size->width, size->height), std::pair(c.size.width, c.size.height));
            EXPECT_FLOAT_EQ(size->factor, c.size.factor);
        }
        EXPECT_EQ(largestDctReduction(c.width, c.height, c.request), c.reduction);
    }
}

TEST(ResizeImageSmooth, ConstantColourAndTransparencyStayExactAndFailuresLeaveTheImage) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        for (auto [w, h] : {std::pair{1, 1}, {333, 71}, {40, 500}}) {
            Image image = test::makeImage(97, 83, format, [](int, int) {
                return Bgra{3, 128, 254, 200};
            });
            ASSERT_TRUE(resizeImageSmooth(image, w, h));
            const Bgra expected{3, 128, 254, std::uint8_t(image.hasAlpha() ? 200 : 255)};
            EXPECT_EQ(test::countMismatches(image, w, h, [&](int, int) { return expected; }), 0);
        }
    }
    // Fully transparent pixels count as transparent white: a white shape keeps its colour right
    // up to a transparent edge, and the source is left as it was.
    const Image half = test::makeImage(40, 10, PixelFormat::Bgra32, [](int x, int) {
        return x < 20 ? Bgra{255, 255, 255, 255} : Bgra{};
    });
    Image smaller = half.clone();
    ASSERT_TRUE(resizeImageSmooth(smaller, 15, 10));
    for (int x = 0; x < 15; ++x)
        EXPECT_EQ(pixelAt(smaller, x, 5)[0], 255) << x;
    EXPECT_EQ(pixelAt(half, 30, 5), Bgra{});

    // The same size is no resampling; a side rounded to 0 or beyond the size limit fails.
    const std::uint8_t* pixels = smaller.data();
    ASSERT_TRUE(
        scaleImage(smaller, {.limit = ScaleLimit::NeverEnlarge, .targetX = 99, .targetY = 99}));
    EXPECT_FALSE(
        scaleImage(smaller, {.basis = ScaleBasis::Factor, .targetX = 0.01f, .targetY = 0.01f}));
    EXPECT_FALSE(resizeImageSmooth(smaller, 1 << 20, 1 << 20));
    EXPECT_EQ(smaller.data(), pixels);
}

TEST(ResizeImageSmooth, EveryKernelAgreesWithImageMagickOnPhotographs) {
    if (!test::haveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    struct Case {
        const char* sample;
        int w, h;
        double minPsnr; // measured 56.50, 55.43, 55.70 and 55.21 dB
    } const cases[] = {
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
        const Image photo = imagefiles::loadImageFile(dir.file("in.ppm"), -1);
        ASSERT_FALSE(photo.empty());
        const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
        ASSERT_EQ(convert(test::shellQuote(dir.file("in.ppm")) + " -filter Mitchell -resize " +
                          size + "! " + test::shellQuote(dir.file("out.ppm"))),
                  0);
        Image ours = photo.clone();
        ASSERT_TRUE(detail::resizeImageSmoothWith(ours, c.w, c.h, detail::ResizeKernel::Scalar));
        const double value = test::psnr(ours, imagefiles::loadImageFile(dir.file("out.ppm"), -1));
        std::printf("PSNR %s -> %s: %.2f dB\n", c.sample, size.c_str(), value);
        EXPECT_GE(value, c.minPsnr);
        // The vector kernels give the same bytes, and so does an opaque 32-bit copy (the
        // 4-channel path); the sizes cover both pass orders and rows of no vector width.
        for (const bool rgba : {false, true}) {
            for (const auto kernel : {detail::ResizeKernel::Sse2, detail::ResizeKernel::Avx2}) {
                Image image = rgba ? photo.toBgra32() : photo.clone();
                ASSERT_TRUE(detail::resizeImageSmoothWith(image, c.w, c.h, kernel));
                EXPECT_EQ(test::countMismatches(image, ours), 0) << int(kernel) << " " << rgba;
            }
        }
    }
}

} // namespace
} // namespace quill::pipeline
