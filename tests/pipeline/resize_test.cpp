// Scaling: the size arithmetic of scale requests, and the cubic resampler (every kernel) against
// ImageMagick's Mitchell filter (B = C = 1/3) on photographs, on constant colours and on
// transparency; a JPEG decoded reduced and resized against its full decode resized.
#include "pipeline/resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "imagefiles/format.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "imagefiles/jpeg_encoder.h"
#include "pipeline/detail/resize_kernel.h"
#include "pipeline/edit_chain.h"

#include "exact_mitchell.h"
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
    // A DCT-reduced decode must keep 6 (at 1/2), 8 (1/4) or 10 (1/8) times the result on both
    // sides; the decoder rounds up.
    const struct {
        ScaleRequest request;
        int width, height;
        ScaledSize size; // 0 x 0: no size
        int reduction;
    } cases[] = {
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 1024, 0}, 4000, 3000, {1024, 768, 0.256f}, 1},
        // 2000 x 1500 >= 6 x 333 x 250
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 333, 0}, 4000, 3000, {333, 250, 0.08325f}, 2},
        // 1000 x 750 >= 8 x 100 x 75; 500 < 10 x 100
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 100, 0}, 4000, 3000, {100, 75, 0.025f}, 4},
        // 500 >= 10 x 50 across, but 375 < 10 x 38 down
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 50, 0}, 4000, 3000, {50, 38, 0.0125f}, 4},
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 40, 0}, 4000, 3000, {40, 30, 0.01f}, 8},
        {{Pixels, {}, {}, {}, 1024, 768}, 3000, 3000, {768, 768, 0.256f}, 1}, // smaller factor
        {{Pixels, {}, {}, Stretch, 1024, 768}, 3000, 3000, {1024, 768, 0.256f}, 1},
        {{Pixels, {}, {}, Stretch, 300, 100}, 4000, 3000, {300, 100, 0.1f / 3}, 2},
        {{Pixels, {}, {}, {}, 1400, 1050}, 4000, 3000, {1400, 1050, 0.35f}, 1},
        {{Pixels, {}, {}, {}, 320, 240}, 6000, 4000, {320, 213, 320.0f / 6000}, 2},
        {{Pixels, ScaleAxis::WidthOnly, {}, {}, 500, 0}, 3998, 2998, {500, 375, 500.0f / 3998}, 1},
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
    if (!test::haveTool("/usr/bin/convert"))
        QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick is not installed";
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
        const Image photo =
            imagefiles::loadImageFile(dir.file("in.ppm"), imagefiles::FormatKind::None);
        ASSERT_FALSE(photo.empty());
        const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
        ASSERT_EQ(convert(test::shellQuote(dir.file("in.ppm")) + " -filter Mitchell -resize " +
                          size + "! " + test::shellQuote(dir.file("out.ppm"))),
                  0);
        Image ours = photo.clone();
        ASSERT_TRUE(detail::resizeImageSmoothWith(ours, c.w, c.h, detail::ResizeKernel::Scalar));
        const double value = test::psnr(
            ours, imagefiles::loadImageFile(dir.file("out.ppm"), imagefiles::FormatKind::None));
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

// --- A JPEG decoded reduced ------------------------------------------------------------------

/// How a test JPEG is written: by our encoder, or by libjpeg's and ImageMagick's tools.
enum class JpegKind { Baseline, Grey, Progressive, Cmyk };

struct ReducedCase {
    JpegKind kind;
    int width, height; // a part of the photograph, written as a JPEG of this size
    int reduction;
    std::optional<RotateMode> rotate; // before the resize
};

/// The 1800 x 1200 photograph the test JPEGs are cut from.
Image landscapePhoto() {
    return imagefiles::loadImageFile(test::testdata("exif/orientation/Landscape_0.jpg"),
                                     imagefiles::FormatKind::None);
}

/// A part of the photograph at an odd offset (so that blocks do not line up either), written as a
/// JPEG of `kind`; returns its path.
std::string writePart(const test::TempDir& dir, const Image& photo, JpegKind kind, int width,
                      int height) {
    Image part(width, height, PixelFormat::Bgr24);
    for (int y = 0; y < height; ++y)
        std::memcpy(part.row(y), photo.row(y + 3) + 3 * 5, std::size_t(width) * 3);
    const std::string path = dir.file("part.jpg");
    if (kind == JpegKind::Baseline) {
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(imagefiles::encodeJpeg(part.view(), 9, bytes));
        test::writeBytes(path, bytes);
        return path;
    }
    const std::string bmp = dir.file("part.bmp");
    EXPECT_TRUE(imagefiles::saveImageFile(part, bmp, imagefiles::Encoder::Bmp, {}, 24).ok);
    const std::string in = test::shellQuote(bmp), out = test::shellQuote(path);
    const std::string command =
        kind == JpegKind::Cmyk
            ? "MAGICK_THREAD_LIMIT=1 /usr/bin/convert " + in + " -colorspace CMYK -quality 90 " +
                  out
            : std::string("/usr/bin/cjpeg -quality 90 ") +
                  (kind == JpegKind::Grey ? "-grayscale " : "-progressive ") + in + " > " + out;
    EXPECT_EQ(test::runCommand(command + " 2>/dev/null"), 0) << command;
    return path;
}

/// The resize of the reduced decode (through the editing chain, as a batch runs it) against the
/// same resize of the full decode; returns the PSNR between the two, or a negative value after
/// a failed expectation.
double reducedAgainstFull(const test::TempDir& dir, const Image& photo, const ReducedCase& c) {
    const std::string path = writePart(dir, photo, c.kind, c.width, c.height);
    EditPlan plan;
    plan.rotate = c.rotate;
    const bool turned = c.rotate && sidesSwap(*c.rotate);
    const int reducedWidth = ((turned ? c.height : c.width) + c.reduction - 1) / c.reduction;
    // Far below the margin a batch keeps (1.5 times the result), so that mapping errors show.
    plan.scale = ScaleRequest{.axis = ScaleAxis::WidthOnly, .targetX = float(reducedWidth * 2 / 3)};
    const EditTools tools(plan);

    Image full = imagefiles::loadImageFile(path, imagefiles::FormatKind::Jpeg);
    Image reduced =
        imagefiles::loadImageFileReduced(path, imagefiles::FormatKind::Jpeg, c.reduction);
    EXPECT_EQ(reduced.width(), (c.width + c.reduction - 1) / c.reduction);
    EXPECT_EQ(reduced.height(), (c.height + c.reduction - 1) / c.reduction);
    if (full.empty() || reduced.empty()) return -1.0;
    EXPECT_EQ(applyEditChain(full, plan, tools, "").result, ImageResult::Done);
    const ReducedFrom from{c.width, c.height, c.reduction};
    EXPECT_EQ(applyEditChain(reduced, plan, tools, "", {}, from).result, ImageResult::Done);
    EXPECT_EQ(std::pair(reduced.width(), reduced.height()), std::pair(full.width(), full.height()));
    if (reduced.width() != full.width() || reduced.height() != full.height()) return -1.0;
    return test::psnr(reduced, full);
}

/// Each case against the full decode, and against the same case with its sides cut to whole
/// multiples of the reduction: the reduced decode itself costs a few dB (it averages blocks
/// where the resize would filter), an odd side must cost nothing more.
void expectOddSidesLikeWholeBlocks(const Image& photo, std::span<const ReducedCase> cases) {
    test::TempDir dir;
    for (const ReducedCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.width << "x" << c.height << " at 1/" << c.reduction << " kind "
                     << int(c.kind) << " rotate " << (c.rotate ? int(*c.rotate) : -1));
        ReducedCase whole = c;
        whole.width -= c.width % c.reduction;
        whole.height -= c.height % c.reduction;
        const double odd = reducedAgainstFull(dir, photo, c);
        const double aligned = reducedAgainstFull(dir, photo, whole);
        std::printf("PSNR %dx%d 1/%d: %.2f dB (%dx%d: %.2f dB)\n", c.width, c.height, c.reduction,
                    odd, whole.width, whole.height, aligned);
        EXPECT_GE(odd, aligned - 1.0);
        EXPECT_GE(odd, 40.0);
    }
}

// The edge pixel of a reduced decode whose side is no multiple of the reduction stands for the
// part of a block the picture has; the resize maps it so, and does not stretch the picture by
// up to one reduced pixel. (With the stretch, 1136 x 775 at 1/2 gave 36.6 dB here, against
// 46.1 dB for 1136 x 774.) Rotations and mirrorings put the narrow pixels first or last.
TEST(ResizeReduced, OddSidesCostNothingOverWholeBlocksAtEveryReduction) {
    const Image photo = landscapePhoto();
    ASSERT_EQ(std::pair(photo.width(), photo.height()), std::pair(1800, 1200));
    constexpr auto Baseline = JpegKind::Baseline;
    const ReducedCase cases[] = {
        {Baseline, 1136, 775, 2, {}}, // 568 x 388 decoded for 568 x 387.5
        {Baseline, 1001, 777, 4, {}},
        {Baseline, 1789, 1193, 8, {}},
        {Baseline, 1001, 777, 2, RotateMode::Rotate180},
        {Baseline, 1135, 773, 4, RotateMode::Clockwise90},
        {Baseline, 1001, 779, 8, RotateMode::CounterClockwise90},
        {Baseline, 1003, 777, 4, RotateMode::MirrorLeftRight},
        {Baseline, 1003, 777, 2, RotateMode::Transverse},
        {Baseline, 1003, 779, 2, RotateMode::MirrorTopBottom},
        {Baseline, 1001, 777, 8, RotateMode::Transpose},
    };
    expectOddSidesLikeWholeBlocks(photo, cases);
}

TEST(ResizeReduced, GreyProgressiveAndCmykFilesAlike) {
    if (!test::haveTool("/usr/bin/cjpeg") || !test::haveTool("/usr/bin/convert"))
        QUILL_SKIP_WITHOUT_TOOL() << "cjpeg or ImageMagick is not installed";
    const Image photo = landscapePhoto();
    ASSERT_EQ(std::pair(photo.width(), photo.height()), std::pair(1800, 1200));
    const ReducedCase cases[] = {
        {JpegKind::Grey, 1001, 777, 2, {}},
        {JpegKind::Progressive, 1136, 775, 4, {}},
        {JpegKind::Cmyk, 1001, 777, 8, {}},
    };
    expectOddSidesLikeWholeBlocks(photo, cases);
}

/// An exact Mitchell-Netravali reduction (B = C = 1/3) of a 24-bit image to width x height, in
/// double precision: pixel centres aligned, the filter widened by the reduction, weights past
/// the edges left out and the rest renormalised. Written apart from the resampler, to judge it.
std::vector<double> exactMitchell(const Image& in, int width, int height) {
    const auto across = test::exactTaps(in.width(), width);
    const auto down = test::exactTaps(in.height(), height);
    const std::size_t rowValues = std::size_t(width) * 3;
    std::vector<double> rows(rowValues * std::size_t(in.height()));
    for (int y = 0; y < in.height(); ++y)
        for (int x = 0; x < width; ++x)
            for (const auto& [j, w] : across[std::size_t(x)])
                for (int c = 0; c < 3; ++c)
                    rows[std::size_t(y) * rowValues + std::size_t(x) * 3 + std::size_t(c)] +=
                        w * in.row(y)[3 * j + c];
    std::vector<double> out(rowValues * std::size_t(height));
    for (int y = 0; y < height; ++y)
        for (const auto& [j, w] : down[std::size_t(y)])
            for (std::size_t i = 0; i < rowValues; ++i)
                out[std::size_t(y) * rowValues + i] += w * rows[std::size_t(j) * rowValues + i];
    return out;
}

double psnrAgainst(const std::vector<double>& exact, const Image& image) {
    double squared = 0;
    const std::size_t rowValues = std::size_t(image.width()) * 3;
    for (int y = 0; y < image.height(); ++y)
        for (std::size_t i = 0; i < rowValues; ++i) {
            const double d =
                std::clamp(exact[std::size_t(y) * rowValues + i], 0.0, 255.0) - image.row(y)[i];
            squared += d * d;
        }
    const double mse = squared / double(exact.size());
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

// A batch that decodes a JPEG reduced gives, for any side length, the full decode's result
// within 1 dB: both measured against an exact Mitchell reduction of the full decode, at the
// largest result each reduction is chosen for. (With the reduced image 1.5 times the result,
// and the narrow edge pixel weighed as a whole one, this lost 11 to 14 dB.)
TEST(ResizeReduced, WithinOneDecibelOfTheFullDecodeAtEveryReduction) {
    const Image photo = landscapePhoto();
    ASSERT_EQ(std::pair(photo.width(), photo.height()), std::pair(1800, 1200));
    test::TempDir dir;
    const struct {
        int width, height, reduction;
    } cases[] = {{1791, 1189, 2}, {1789, 1187, 4}, {1787, 1181, 8}, {1795, 1190, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " at 1/" << c.reduction);
        const std::string path = writePart(dir, photo, JpegKind::Baseline, c.width, c.height);

        // The largest result the reduction is chosen for (the height, rounded, may want a
        // pixel less).
        const int reducedWidth = (c.width + c.reduction - 1) / c.reduction;
        EditPlan plan;
        plan.scale = ScaleRequest{.axis = ScaleAxis::WidthOnly};
        for (int target = int(reducedWidth / dctReductionMargin(c.reduction)); target > 1;
             --target) {
            plan.scale->targetX = float(target);
            if (largestDctReduction(c.width, c.height, *plan.scale) >= c.reduction) break;
        }
        ASSERT_EQ(largestDctReduction(c.width, c.height, *plan.scale), c.reduction);
        const EditTools tools(plan);

        const Image full = imagefiles::loadImageFile(path, imagefiles::FormatKind::Jpeg);
        Image viaFull = full.clone();
        ASSERT_EQ(applyEditChain(viaFull, plan, tools, "").result, ImageResult::Done);
        Image viaReduced =
            imagefiles::loadImageFileReduced(path, imagefiles::FormatKind::Jpeg, c.reduction);
        const ReducedFrom from{c.width, c.height, c.reduction};
        ASSERT_EQ(applyEditChain(viaReduced, plan, tools, "", {}, from).result, ImageResult::Done);
        ASSERT_EQ(std::pair(viaReduced.width(), viaReduced.height()),
                  std::pair(viaFull.width(), viaFull.height()));

        const std::vector<double> exact = exactMitchell(full, viaFull.width(), viaFull.height());
        const double fullPsnr = psnrAgainst(exact, viaFull);
        const double reducedPsnr = psnrAgainst(exact, viaReduced);
        std::printf("%dx%d at 1/%d to %d wide: full %.2f dB, reduced %.2f dB\n", c.width, c.height,
                    c.reduction, viaFull.width(), fullPsnr, reducedPsnr);
        EXPECT_GE(reducedPsnr, fullPsnr - 1.0);
    }
}

} // namespace
} // namespace quill::pipeline
