// Scaling: the size arithmetic of scale requests, and the cubic resampler against a plain
// double-precision rendering of the same filter and against ImageMagick's Mitchell filter.
#include "pipeline/resize.h"

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;

// ----- scale requests

ScaleRequest measure(int w, int h) {
    ScaleRequest r;
    r.measureOnly = 1;
    r.knownWidth = w;
    r.knownHeight = h;
    return r;
}

TEST(ScaleImage, PixelTargetsKeepTheAspectRatio) {
    ScaleRequest r = measure(4000, 3000);
    r.targetX = 1024;
    r.targetY = 0;
    r.axis = 1; // only the width counts
    ASSERT_TRUE(scaleImage(r));
    EXPECT_EQ(r.newWidth, 1024);
    EXPECT_EQ(r.newHeight, 768);
    EXPECT_FLOAT_EQ(r.factor, 0.256f);

    ScaleRequest square = measure(3000, 3000);
    square.targetX = 1024;
    square.targetY = 768;
    ASSERT_TRUE(scaleImage(square));
    EXPECT_EQ(square.newWidth, 768);
    EXPECT_EQ(square.newHeight, 768);
    EXPECT_NEAR(square.factor, 0.256, 1e-6);

    square.stretch = 1;
    ASSERT_TRUE(scaleImage(square));
    EXPECT_EQ(square.newWidth, 1024);
    EXPECT_EQ(square.newHeight, 768);
    EXPECT_NEAR(square.factor, 0.256, 1e-6);
}

TEST(ScaleImage, HeightAxisAndLimits) {
    ScaleRequest r = measure(640, 480);
    r.targetY = 240;
    r.axis = 2;
    ASSERT_TRUE(scaleImage(r));
    EXPECT_EQ(r.newWidth, 320);
    EXPECT_EQ(r.newHeight, 240);

    // Never reduce: a smaller target leaves the size.
    ScaleRequest grow = measure(640, 480);
    grow.targetX = 320;
    grow.targetY = 240;
    grow.limit = 2;
    ASSERT_TRUE(scaleImage(grow));
    EXPECT_EQ(grow.newWidth, 640);
    EXPECT_EQ(grow.newHeight, 480);
    EXPECT_EQ(grow.factor, 1.0f);
}

TEST(ScaleImage, NeverEnlargeLeavesTheImageUntouched) {
    Image image(640, 480, PixelFormat::Bgr24);
    const std::uint8_t* pixels = image.data();
    ScaleRequest r;
    r.image = &image;
    r.targetX = 1024;
    r.targetY = 768;
    r.limit = 1;
    ASSERT_TRUE(scaleImage(r));
    EXPECT_EQ(r.newWidth, 640);
    EXPECT_EQ(r.newHeight, 480);
    EXPECT_EQ(image.data(), pixels); // no resampling happened
}

TEST(ScaleImage, FactorsRoundHalfUpAndResample) {
    Image image = test::makeImage(3, 3, PixelFormat::Bgr24, test::uniquePixel);
    ScaleRequest r;
    r.image = &image;
    r.basis = 1;
    r.targetX = r.targetY = 0.5f;
    ASSERT_TRUE(scaleImage(r));
    EXPECT_EQ(r.newWidth, 2); // 1.5 rounds to 2
    EXPECT_EQ(r.newHeight, 2);
    EXPECT_EQ(image.width(), 2);
    EXPECT_EQ(image.height(), 2);
}

TEST(ScaleImage, TinyFactorsAreRaisedButCanStillLeaveNothing) {
    Image image(400, 400, PixelFormat::Bgr24);
    ScaleRequest r;
    r.image = &image;
    r.basis = 1;
    r.targetX = r.targetY = 0.00001f;
    r.newWidth = -7;
    EXPECT_FALSE(scaleImage(r)); // 400 x 0.001 = 0.4 rounds to 0
    EXPECT_EQ(r.newWidth, -7);    // results untouched on failure
    EXPECT_EQ(image.width(), 400);

    ScaleRequest m = measure(4000, 3000);
    m.basis = 1;
    m.targetX = m.targetY = 0.0f;
    ASSERT_TRUE(scaleImage(m));
    EXPECT_EQ(m.newWidth, 4);
    EXPECT_EQ(m.newHeight, 3);
    EXPECT_FLOAT_EQ(m.factor, 0.001f);

    ScaleRequest big = measure(10, 10);
    big.basis = 1;
    big.targetX = big.targetY = 5000.0f; // capped at 1000
    ASSERT_TRUE(scaleImage(big));
    EXPECT_EQ(big.newWidth, 10000);
}

TEST(ScaleImage, MissingImageOrSizeFails) {
    ScaleRequest r;
    r.targetX = r.targetY = 100;
    EXPECT_FALSE(scaleImage(r));
    ScaleRequest m = measure(0, 10);
    m.targetX = m.targetY = 100;
    EXPECT_FALSE(scaleImage(m));
    ScaleRequest nan = measure(100, 100);
    nan.basis = 1;
    nan.targetX = nan.targetY = std::nanf("");
    ASSERT_TRUE(scaleImage(nan)); // treated as the smallest factor
    EXPECT_EQ(nan.newWidth, 0);
}

// ----- the resampler

/// The filter as written: contribution tables in double precision, the same pass order and
/// rounding, an 8-bit intermediate image. Slow, and independent of the fixed-point tables.
struct RefTable {
    std::vector<int> first;
    std::vector<std::vector<double>> weights;
};

double refKernel(double x) {
    const double b = 1.0 / 3.0, c = 1.0 / 3.0, t = std::fabs(x);
    if (t < 1) return ((12 - 9 * b - 6 * c) * t * t * t + (-18 + 12 * b + 6 * c) * t * t + (6 - 2 * b)) / 6;
    if (t < 2)
        return ((-b - 6 * c) * t * t * t + (6 * b + 30 * c) * t * t + (-12 * b - 48 * c) * t + (8 * b + 24 * c)) / 6;
    return 0;
}

RefTable refTable(int s, int d) {
    RefTable t;
    const double scale = double(d) / s;
    const double r = scale < 1 ? 2 / scale : 2, f = scale < 1 ? scale : 1;
    const int maxN = 2 * int(std::ceil(r)) + 1;
    for (int i = 0; i < d; ++i) {
        const double c = i / scale + (0.5 / scale - 0.5);
        int left = std::max(0, int(std::floor(c - r)));
        const int right = std::min(s - 1, int(std::ceil(c + r)));
        if (right - left + 1 > maxN) ++left;
        std::vector<double> w;
        double sum = 0;
        for (int j = left; j <= right; ++j) {
            w.push_back(refKernel((c - j) * f) * f);
            sum += w.back();
        }
        if (sum != 0 && sum != 1)
            for (double& v : w) v /= sum;
        t.first.push_back(left);
        t.weights.push_back(w);
    }
    return t;
}

std::uint8_t refByte(double sum) {
    const long v = long(sum + 0.5); // truncation toward zero
    return std::uint8_t(std::clamp(v, 0L, 255L));
}

Image refPass(const Image& src, int w, int h, bool alongRows) {
    Image out(w, h, src.format());
    const int bpp = src.bytesPerPixel();
    const RefTable t = alongRows ? refTable(src.width(), w) : refTable(src.height(), h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < bpp; ++ch) {
                const int i = alongRows ? x : y;
                double sum = 0;
                for (std::size_t k = 0; k < t.weights[std::size_t(i)].size(); ++k) {
                    const int j = t.first[std::size_t(i)] + int(k);
                    const std::uint8_t v = alongRows ? src.row(y)[j * bpp + ch] : src.row(j)[x * bpp + ch];
                    sum += t.weights[std::size_t(i)][k] * v;
                }
                out.row(y)[x * bpp + ch] = refByte(sum);
            }
    return out;
}

Image refResize(const Image& image, int w, int h) {
    Image src = image.clone();
    if (src.hasAlpha())
        for (int y = 0; y < src.height(); ++y)
            for (int x = 0; x < src.width(); ++x) {
                std::uint8_t* p = src.row(y) + x * 4;
                if (p[3] == 0) p[0] = p[1] = p[2] = 255;
            }
    if (std::int64_t(w) * src.height() <= std::int64_t(src.width()) * h)
        return refPass(refPass(src, w, src.height(), true), w, h, false);
    return refPass(refPass(src, src.width(), h, false), w, h, true);
}

struct Difference {
    int maxDiff = 0;
    double shareDiffering = 0;
};

Difference compare(const Image& a, const Image& b) {
    Difference d;
    std::size_t differing = 0, total = 0;
    const std::size_t bytes = std::size_t(a.width()) * std::size_t(a.bytesPerPixel());
    for (int y = 0; y < a.height(); ++y)
        for (std::size_t i = 0; i < bytes; ++i) {
            const int diff = std::abs(int(a.row(y)[i]) - int(b.row(y)[i]));
            d.maxDiff = std::max(d.maxDiff, diff);
            differing += diff != 0;
            ++total;
        }
    d.shareDiffering = double(differing) / double(total);
    return d;
}

/// A busy test picture: gradients, hard edges and some noise, with varying alpha.
Bgra busyPixel(int x, int y) {
    const unsigned noise = (unsigned(x) * 2654435761u ^ unsigned(y) * 40503u) >> 24;
    const bool block = ((x / 7) + (y / 5)) % 2 == 0;
    return {std::uint8_t(block ? 250 : x * 3), std::uint8_t(y * 4 + noise % 16),
            std::uint8_t(noise), std::uint8_t(x % 13 == 0 ? 0 : 128 + y % 128)};
}

struct Size {
    int w, h;
};

TEST(ResizeImageSmooth, MatchesTheDoublePrecisionFilter) {
    const int w = 61, h = 47;
    const Size targets[] = {{20, 15}, {13, 40}, {150, 99}, {61, 20}, {200, 47}, {1, 1}, {7, 300}};
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        const Image src = test::makeImage(w, h, format, busyPixel);
        for (const Size& t : targets) {
            SCOPED_TRACE(std::to_string(t.w) + "x" + std::to_string(t.h));
            Image ours = src.clone();
            ASSERT_TRUE(resizeImageSmooth(ours, t.w, t.h));
            ASSERT_EQ(ours.width(), t.w);
            ASSERT_EQ(ours.height(), t.h);
            ASSERT_EQ(ours.format(), format);
            const Difference d = compare(ours, refResize(src, t.w, t.h));
            // Fixed-point weights move a sum across a rounding boundary now and then, by one.
            EXPECT_LE(d.maxDiff, 1);
            EXPECT_LT(d.shareDiffering, 0.02);
        }
    }
}

TEST(ResizeImageSmooth, ConstantColourStaysExactlyThatColour) {
    const Size targets[] = {{1, 1}, {17, 9}, {100, 80}, {333, 71}, {40, 500}};
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        for (const Size& t : targets) {
            Image image = test::solidImage(97, 83, format, {3, 128, 254, 200});
            ASSERT_TRUE(resizeImageSmooth(image, t.w, t.h));
            int wrong = 0;
            for (int y = 0; y < t.h; ++y)
                for (int x = 0; x < t.w; ++x) wrong += pixelAt(image, x, y) != Bgra{3, 128, 254, image.hasAlpha() ? std::uint8_t(200) : std::uint8_t(255)};
            EXPECT_EQ(wrong, 0) << t.w << "x" << t.h;
        }
    }
}

TEST(ResizeImageSmooth, TransparentPixelsCountAsWhite) {
    // Fully transparent black stays fully transparent, and comes out white.
    Image clear = test::solidImage(50, 40, PixelFormat::Bgra32, {0, 0, 0, 0});
    ASSERT_TRUE(resizeImageSmooth(clear, 23, 90));
    int wrong = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 23; ++x) wrong += pixelAt(clear, x, y) != Bgra{255, 255, 255, 0};
    EXPECT_EQ(wrong, 0);

    // White opaque left half, transparent black right half: the edge must not turn grey.
    const Image half = test::makeImage(40, 10, PixelFormat::Bgra32, [](int x, int) {
        return x < 20 ? Bgra{255, 255, 255, 255} : Bgra{0, 0, 0, 0};
    });
    Image smaller = half.clone();
    ASSERT_TRUE(resizeImageSmooth(smaller, 15, 10));
    for (int x = 0; x < 15; ++x) EXPECT_EQ(pixelAt(smaller, x, 5)[0], 255) << x;
    // The source itself is not changed by the white rule.
    EXPECT_EQ(pixelAt(half, 30, 5), (Bgra{0, 0, 0, 0}));
}

TEST(ResizeImageSmooth, SameSizeIsANoOpAndBadSizesFail) {
    Image image = test::makeImage(30, 20, PixelFormat::Bgr24, test::uniquePixel);
    const std::uint8_t* pixels = image.data();
    ASSERT_TRUE(resizeImageSmooth(image, 30, 20));
    EXPECT_EQ(image.data(), pixels);
    EXPECT_FALSE(resizeImageSmooth(image, 0, 20));
    EXPECT_FALSE(resizeImageSmooth(image, 30, -1));
    EXPECT_FALSE(resizeImageSmooth(image, 1 << 20, 1 << 20));
    EXPECT_EQ(image.width(), 30);
    Image empty;
    EXPECT_FALSE(resizeImageSmooth(empty, 5, 5));
}

// ----- against ImageMagick's Mitchell filter (B = C = 1/3)

struct Comparison {
    const char* sample;
    int w, h;
    double minPsnr; // a little below the measured value
};

TEST(ResizeImageSmooth, AgreesWithImageMagickOnPhotographs) {
    if (!test::haveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    const Comparison cases[] = {
        // Measured: 57.64, 56.50, 55.43, 55.70 and 55.21 dB.
        {"exif/orientation/Landscape_0.jpg", 600, 400, 57.3},  // reduce by 3
        {"exif/orientation/Landscape_0.jpg", 1023, 677, 56.2}, // uneven reduction
        {"jpeg/cat.jpg", 800, 600, 55.1},                      // enlarge by 2.5
        {"jpeg/hopper.jpg", 301, 250, 55.4},                   // uneven enlargement
        {"jpeg/goldenears.jpg", 64, 200, 54.9},                // reduce one side, enlarge the other
    };
    test::TempDir dir;
    for (const Comparison& c : cases) {
        SCOPED_TRACE(std::string(c.sample) + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        const Image photo = test::decodeWithImageMagick(test::testdata(c.sample), dir);
        ASSERT_FALSE(photo.empty());
        ASSERT_TRUE(test::writePpm(dir.file("in.ppm"), photo));
        const std::string cmd = "MAGICK_THREAD_LIMIT=1 /usr/bin/convert " + test::shellQuote(dir.file("in.ppm")) +
                                " -filter Mitchell -resize " + std::to_string(c.w) + "x" +
                                std::to_string(c.h) + "! " + test::shellQuote(dir.file("out.ppm"));
        ASSERT_EQ(test::runCommand(cmd), 0);
        const Image theirs = test::readPpm(dir.file("out.ppm"));
        ASSERT_EQ(theirs.width(), c.w);
        Image ours = photo.clone();
        ASSERT_TRUE(resizeImageSmooth(ours, c.w, c.h));
        const double value = test::psnr(ours, theirs);
        RecordProperty(std::string(c.sample) + "_psnr", std::to_string(value));
        std::printf("PSNR %s %dx%d -> %dx%d: %.2f dB\n", c.sample, photo.width(), photo.height(),
                    c.w, c.h, value);
        EXPECT_GE(value, c.minPsnr);
    }
}

} // namespace
} // namespace quill::pipeline
