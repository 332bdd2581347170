// Tone adjustments and channel offsets: hand-computed values, the one-pass chain against the
// steps one after another, and alpha.
#include "pipeline/tone.h"

#include <cmath>

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;
using Rgb = std::array<int, 3>;

struct ToneCase {
    ToneKind kind;
    double value;
    BrightnessVariant variant;
    Rgb in, out;
};

TEST(AdjustTone, DocumentedValuesAndChannelOffsets) {
    using K = ToneKind;
    const auto blend = BrightnessVariant::Blend;
    const ToneCase cases[] = {
        {K::Brightness, 0.5, blend, {100, 100, 100}, {178, 178, 178}}, // 177.5 rounds up
        {K::Brightness, -0.5, blend, {100, 100, 100}, {50, 50, 50}},
        {K::Brightness, 0.1, BrightnessVariant::Additive, {100, 10, 250}, {126, 36, 255}},
        {K::Saturation, 2.0, blend, {200, 100, 50}, {255, 76, 0}}, // L = 124.2, c' = 2c - L
        {K::Contrast, 1.0, blend, {200, 50, 128}, {255, 0, 128}},  // 272 and -28 clamped
        {K::Gamma, 2.0, blend, {64, 0, 255}, {128, 0, 255}},       // 255 sqrt(64 / 255) = 127.75
        {K::Gamma, 0.5, blend, {64, 1, 255}, {16, 0, 255}},
    };
    for (const ToneCase& c : cases) {
        // 32-bit, so the alpha is checked as well.
        Image image = test::makeImage(3, 2, PixelFormat::Bgra32, [&](int, int) {
            return Bgra{std::uint8_t(c.in[2]), std::uint8_t(c.in[1]), std::uint8_t(c.in[0]), 77};
        });
        ASSERT_TRUE(adjustTone(image, c.kind, c.value, c.variant));
        const Bgra p = pixelAt(image, 2, 1);
        EXPECT_EQ((Rgb{p[2], p[1], p[0]}), c.out) << int(c.kind) << " " << c.value;
        EXPECT_EQ(p[3], 77);
    }
    // Channel offsets: levels 0..200 map to -255..255, added per channel and clamped.
    EXPECT_EQ(channelOffsetForLevel(200), 255);
    EXPECT_EQ(channelOffsetForLevel(0), -255);
    EXPECT_EQ(channelOffsetForLevel(150), 128); // 127.5, which 2.55 x 50 in doubles misses
    EXPECT_EQ(channelOffsetForLevel(101), 3);
    Image image = test::makeImage(4, 3, PixelFormat::Bgra32, [](int, int) {
        return Bgra{30, 20, 10, 77};
    });
    ASSERT_TRUE(offsetChannels(image, channelOffsetForLevel(200), channelOffsetForLevel(100),
                               channelOffsetForLevel(0)));
    EXPECT_EQ(pixelAt(image, 3, 2), (Bgra{0, 20, 255, 77})); // (10, 20, 30) -> (255, 20, 0)
    ASSERT_TRUE(offsetChannels(image, -100000, 100000, 5));  // no overflow on absurd offsets
    EXPECT_EQ(pixelAt(image, 0, 0), (Bgra{5, 255, 0, 77}));
}

TEST(ToneChain, OnePassGivesTheBytesOfEachStepInTurn) {
    using K = ToneKind;
    const ToneAdjustment brighter(K::Brightness, 0.1), darker(K::Brightness, -0.35),
        saturate(K::Saturation, 1.2), grey(K::Saturation, 0.0), contrast(K::Contrast, 0.1),
        flat(K::Contrast, -0.6), gamma(K::Gamma, 1.2), gammaDown(K::Gamma, 0.45);
    const ChannelOffsets offsets(40, -25, 7);
    const std::pair<std::vector<ToneAdjustment>, bool> chains[] = {
        {{brighter, saturate, contrast, gamma}, false}, // every kind, in the pipeline's order
        {{darker, grey, flat, gammaDown}, true},
        {{saturate, saturate}, true}, // two mixes in a row
    };
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        const Image source = test::makeImage(256, 3, format, [](int x, int y) {
            return Bgra{std::uint8_t(x), std::uint8_t(x * 7 + y * 50), std::uint8_t(255 - x),
                        std::uint8_t(x * 3)};
        });
        for (const auto& [tones, withOffsets] : chains) {
            Image expected = source.clone();
            for (const ToneAdjustment& tone : tones)
                ASSERT_TRUE(tone.apply(expected));
            ASSERT_TRUE(!withOffsets || offsets.apply(expected));
            Image image = source.clone();
            ASSERT_TRUE(ToneChain(tones, withOffsets ? &offsets : nullptr).apply(image));
            EXPECT_EQ(test::countMismatches(image, expected), 0) << tones.size();
        }
    }
    // An invalid step makes the whole chain fail without touching the image; so do invalid values.
    const std::vector<ToneAdjustment> broken{brighter, ToneAdjustment(K::Gamma, 0.0)};
    Image image = test::makeImage(2, 2, PixelFormat::Bgr24, [](int, int) {
        return Bgra{10, 20, 30, 255};
    });
    EXPECT_FALSE(ToneChain(broken, nullptr).apply(image));
    EXPECT_FALSE(adjustTone(image, ToneKind::Contrast, std::nan("")));
    EXPECT_FALSE(adjustTone(image, ToneKind(9), 1.0));
    EXPECT_EQ(test::pixelAt(image, 1, 1), (Bgra{10, 20, 30, 255}));
    Image empty;
    EXPECT_FALSE(offsetChannels(empty, 1, 1, 1));
}

} // namespace
} // namespace quill::pipeline
