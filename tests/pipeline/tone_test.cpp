// Tone adjustments and channel offsets: the documented values, neutral settings, alpha and the
// prepared-table reuse.
#include "pipeline/tone.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;

/// One pixel (red, green, blue) through an adjustment; returns red, green, blue.
std::array<int, 3> adjusted(std::array<int, 3> rgb, ToneKind kind, double value,
                            BrightnessVariant variant = BrightnessVariant::Blend) {
    Image image = test::solidImage(3, 2, PixelFormat::Bgr24,
                                   {std::uint8_t(rgb[2]), std::uint8_t(rgb[1]), std::uint8_t(rgb[0]), 255});
    EXPECT_TRUE(adjustTone(image, kind, value, variant));
    const Bgra p = pixelAt(image, 2, 1);
    return {p[2], p[1], p[0]};
}

using Rgb = std::array<int, 3>;

TEST(AdjustTone, BrightnessBlendsTowardsWhiteOrBlack) {
    EXPECT_EQ(adjusted({100, 100, 100}, ToneKind::Brightness, 0.5), (Rgb{178, 178, 178}));
    EXPECT_EQ(adjusted({100, 100, 100}, ToneKind::Brightness, -0.5), (Rgb{50, 50, 50}));
    EXPECT_EQ(adjusted({0, 128, 255}, ToneKind::Brightness, 1.0), (Rgb{255, 255, 255}));
    EXPECT_EQ(adjusted({0, 128, 255}, ToneKind::Brightness, -1.0), (Rgb{0, 0, 0}));
    // The additive variant moves every channel by b x 255 and clamps.
    EXPECT_EQ(adjusted({100, 10, 250}, ToneKind::Brightness, 0.1, BrightnessVariant::Additive),
              (Rgb{126, 36, 255}));
}

TEST(AdjustTone, SaturationMixesWithTheLuminance) {
    EXPECT_EQ(adjusted({255, 0, 0}, ToneKind::Saturation, 0.0), (Rgb{76, 76, 76}));
    EXPECT_EQ(adjusted({12, 200, 99}, ToneKind::Saturation, 1.0), (Rgb{12, 200, 99}));
    // s = 2: L = 0.299*200 + 0.587*100 + 0.114*50 = 124.2; c' = 2c - L.
    EXPECT_EQ(adjusted({200, 100, 50}, ToneKind::Saturation, 2.0), (Rgb{255, 76, 0}));
}

TEST(AdjustTone, SaturationRoundsLikeExactArithmeticForEveryPresetLevel) {
    // Exact result for level k (s = k / 100): L (1 - s) + c s with L = (299 R + 587 G + 114 B) /
    // 1000 is n / 100000 for an integer n; rounded half up, then clamped.
    Image image = test::makeImage(64, 48, PixelFormat::Bgr24, [](int x, int y) {
        const unsigned h = unsigned(x) * 73856093u ^ unsigned(y) * 19349663u;
        return Bgra{std::uint8_t(h), std::uint8_t(h >> 8), std::uint8_t(h >> 16), 255};
    });
    for (int level = 0; level <= 300; ++level) {
        Image adjusted = image.clone();
        ASSERT_TRUE(adjustTone(adjusted, ToneKind::Saturation, level / 100.0));
        int wrong = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const Bgra in = pixelAt(image, x, y);
                const Bgra out = pixelAt(adjusted, x, y);
                const long long lum = 299LL * in[2] + 587LL * in[1] + 114LL * in[0];
                for (int c = 0; c < 3; ++c) {
                    const long long n = lum * (100 - level) + 1000LL * in[std::size_t(c)] * level;
                    // floor((n + 50000) / 100000) for either sign
                    long long q = (n + 50000) / 100000;
                    if ((n + 50000) % 100000 != 0 && n + 50000 < 0) --q;
                    wrong += out[std::size_t(c)] != std::clamp(q, 0LL, 255LL);
                }
            }
        EXPECT_EQ(wrong, 0) << "level " << level;
    }
}

TEST(AdjustTone, ContrastSpreadsAroundTheMiddle) {
    EXPECT_EQ(adjusted({200, 50, 128}, ToneKind::Contrast, 1.0), (Rgb{255, 0, 128}));
    EXPECT_EQ(adjusted({200, 50, 128}, ToneKind::Contrast, -1.0), (Rgb{128, 128, 128}));
    EXPECT_EQ(adjusted({200, 50, 128}, ToneKind::Contrast, 0.5), (Rgb{236, 11, 128}));
}

TEST(AdjustTone, GammaCurve) {
    // Gamma 1 leaves every value unchanged.
    Image all = test::makeImage(256, 1, PixelFormat::Bgr24, [](int x, int) {
        return Bgra{std::uint8_t(x), std::uint8_t(255 - x), std::uint8_t(x), 255};
    });
    const Image before = all.clone();
    ASSERT_TRUE(adjustTone(all, ToneKind::Gamma, 1.0));
    EXPECT_TRUE(test::samePixels(all, before));
    // g = 2: 255 x sqrt(64 / 255) = 127.75; g = 0.5: 255 x (64 / 255)^2 = 16.06.
    EXPECT_EQ(adjusted({64, 0, 255}, ToneKind::Gamma, 2.0), (Rgb{128, 0, 255}));
    EXPECT_EQ(adjusted({64, 0, 255}, ToneKind::Gamma, 0.5), (Rgb{16, 0, 255}));
}

TEST(AdjustTone, KeepsAlphaAndTreats32BitLike24Bit) {
    auto colours = [](int x, int y) {
        return Bgra{std::uint8_t(x * 17), std::uint8_t(y * 29), std::uint8_t(x * y), std::uint8_t(x * 40 + y)};
    };
    for (ToneKind kind : {ToneKind::Brightness, ToneKind::Saturation, ToneKind::Contrast, ToneKind::Gamma}) {
        SCOPED_TRACE(int(kind));
        Image rgba = test::makeImage(6, 5, PixelFormat::Bgra32, colours);
        Image rgb = test::makeImage(6, 5, PixelFormat::Bgr24, colours);
        ASSERT_TRUE(adjustTone(rgba, kind, 0.7));
        ASSERT_TRUE(adjustTone(rgb, kind, 0.7));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const Bgra a = pixelAt(rgba, x, y);
                const Bgra b = pixelAt(rgb, x, y);
                EXPECT_EQ(a[3], colours(x, y)[3]);
                EXPECT_TRUE(a[0] == b[0] && a[1] == b[1] && a[2] == b[2]);
            }
    }
}

TEST(AdjustTone, InvalidValuesAndEmptyImagesFail) {
    Image image = test::solidImage(2, 2, PixelFormat::Bgr24, {1, 2, 3, 255});
    EXPECT_FALSE(adjustTone(image, ToneKind::Gamma, 0.0));
    EXPECT_FALSE(adjustTone(image, ToneKind::Gamma, -1.0));
    EXPECT_FALSE(adjustTone(image, ToneKind::Contrast, std::nan("")));
    EXPECT_FALSE(adjustTone(image, ToneKind(9), 1.0));
    EXPECT_EQ(pixelAt(image, 1, 1), (Bgra{1, 2, 3, 255}));
    Image empty;
    EXPECT_FALSE(adjustTone(empty, ToneKind::Brightness, 0.2));
    EXPECT_FALSE(offsetChannels(empty, 1, 1, 1));
}

TEST(AdjustTone, PreparedAdjustmentGivesTheSameResultEveryTime) {
    const ToneAdjustment contrast(ToneKind::Contrast, 0.3);
    ASSERT_TRUE(contrast.valid());
    Image a = test::makeImage(9, 4, PixelFormat::Bgr24, test::uniquePixel);
    Image b = a.clone();
    ASSERT_TRUE(contrast.apply(a));
    ASSERT_TRUE(adjustTone(b, ToneKind::Contrast, 0.3));
    EXPECT_TRUE(test::samePixels(a, b));
}

TEST(OffsetChannels, AddsPerChannelAndClamps) {
    Image image = test::solidImage(4, 3, PixelFormat::Bgra32, {30, 20, 10, 77}); // r 10, g 20, b 30
    ASSERT_TRUE(offsetChannels(image, channelOffsetForLevel(200), channelOffsetForLevel(100),
                               channelOffsetForLevel(0)));
    EXPECT_EQ(pixelAt(image, 3, 2), (Bgra{0, 20, 255, 77}));
    // Offsets beyond the byte range behave like +-255.
    Image big = test::solidImage(1, 1, PixelFormat::Bgr24, {200, 100, 0, 255});
    ASSERT_TRUE(offsetChannels(big, 100000, -100000, 5));
    EXPECT_EQ(pixelAt(big, 0, 0), (Bgra{205, 0, 255, 255}));
}

TEST(OffsetChannels, LevelsConvertExactly) {
    EXPECT_EQ(channelOffsetForLevel(100), 0);
    EXPECT_EQ(channelOffsetForLevel(200), 255);
    EXPECT_EQ(channelOffsetForLevel(0), -255);
    EXPECT_EQ(channelOffsetForLevel(150), 128); // 127.5
    EXPECT_EQ(channelOffsetForLevel(50), -128);
    EXPECT_EQ(channelOffsetForLevel(101), 3); // 2.55
    EXPECT_EQ(channelOffsetForLevel(102), 5); // 5.1
}

} // namespace
} // namespace quill::pipeline
