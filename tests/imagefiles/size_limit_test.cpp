// The size search: the highest quality step whose file fits, never above the quality asked for,
// within eight encodes, in each of the four formats that take a limit; checked against direct
// encodes at the steps around the answer, and the JPEG sizes against libjpeg's own cjpeg.
#include "imagefiles/size_limit.h"

#include <string>

#include <gtest/gtest.h>

#include "imagefiles/image_loader.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {
namespace {

using toolkit::Image;

struct Case {
    Encoder encoder;
    int quality;
};

std::string nameOf(Encoder encoder) {
    switch (encoder) {
    case Encoder::Jpeg:
        return "JPEG";
    case Encoder::Webp:
        return "WebP";
    case Encoder::Avif:
        return "AVIF";
    default:
        return "JPEG XL";
    }
}

// WebP at 10 is lossless: every lossy step lies below it.
constexpr Case kCases[] = {{Encoder::Jpeg, 8}, {Encoder::Webp, 9},   {Encoder::Webp, 10},
                           {Encoder::Avif, 8}, {Encoder::JpegXl, 8}, {Encoder::JpegXl, 10}};

class SizeLimit : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        photo = new Image(loadImageFile(test::testdata("jpeg/cat.jpg"), FormatKind::Jpeg));
    }
    static void TearDownTestSuite() {
        delete photo;
        photo = nullptr;
    }
    static std::vector<std::uint8_t> direct(const Case& c, int stepBelow) {
        const auto bytes = encodeImage(
            *photo, c.encoder, EncodeOptions{.quality = c.quality, .stepBelow = stepBelow}, 24);
        return bytes ? *bytes : std::vector<std::uint8_t>();
    }
    static Image* photo;
};
Image* SizeLimit::photo = nullptr;

TEST_F(SizeLimit, FindsTheHighestStepThatFitsWithinEightEncodes) {
    ASSERT_FALSE(photo->empty());
    for (const Case& c : kCases) {
        SCOPED_TRACE(nameOf(c.encoder) + " at " + std::to_string(c.quality));
        const int steps = qualityStepsBelow(c.encoder, c.quality);
        ASSERT_GT(steps, 1);
        ASSERT_LE(steps, 127); // what seven bisection encodes below the first can decide
        // A limit between the sizes of two steps well inside the scale.
        const std::size_t small = direct(c, steps / 3).size();
        const std::size_t large = direct(c, steps - 2).size();
        ASSERT_LT(small, large);
        const std::uint64_t limit = (small + large) / 2;
        int completed = 0;
        const SizedEncoding sized =
            encodeWithinSize(*photo, c.encoder, EncodeOptions{.quality = c.quality}, 24, limit,
                             [&](std::vector<std::uint8_t>& bytes) {
                                 ++completed;
                                 return std::uint64_t(bytes.size());
                             });
        ASSERT_TRUE(sized.bytes);
        EXPECT_TRUE(sized.fits);
        EXPECT_EQ(sized.encodes, completed);
        EXPECT_LE(sized.encodes, kMaxSizeSearchEncodes);
        ASSERT_GE(sized.stepBelow, 0);
        EXPECT_LE(sized.bytes->size(), limit);
        // The bytes are those of a direct encode at the step found; one step up does not fit.
        EXPECT_EQ(*sized.bytes, direct(c, sized.stepBelow));
        const int above = sized.stepBelow + 1;
        EXPECT_GT(direct(c, above < steps ? above : -1).size(), limit);
    }
}

TEST_F(SizeLimit, TheQualityAskedForIsTheUpperBound) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(nameOf(c.encoder) + " at " + std::to_string(c.quality));
        const EncodeOptions options{.quality = c.quality};
        const auto asked = encodeImage(*photo, c.encoder, options, 24);
        ASSERT_TRUE(asked);
        // A file that fits, and no limit at all: one encode, exactly the file asked for.
        for (const std::uint64_t limit : {std::uint64_t(asked->size()), std::uint64_t(0)}) {
            const SizedEncoding sized = encodeWithinSize(*photo, c.encoder, options, 24, limit);
            ASSERT_TRUE(sized.bytes);
            EXPECT_TRUE(sized.fits);
            EXPECT_EQ(sized.encodes, 1);
            EXPECT_EQ(sized.stepBelow, -1);
            EXPECT_EQ(*sized.bytes, *asked);
        }
    }
    // Formats without a quality scale are never searched.
    const SizedEncoding png = encodeWithinSize(*photo, Encoder::Png, {}, 24, 1);
    EXPECT_EQ(png.encodes, 1);
    EXPECT_FALSE(takesSizeLimit(Encoder::Png));
    EXPECT_FALSE(takesSizeLimit(Encoder::Jp2k));
}

TEST_F(SizeLimit, NothingFitsGivesTheLowestStepMarkedSo) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(nameOf(c.encoder) + " at " + std::to_string(c.quality));
        const SizedEncoding sized =
            encodeWithinSize(*photo, c.encoder, EncodeOptions{.quality = c.quality}, 24, 100);
        ASSERT_TRUE(sized.bytes);
        EXPECT_FALSE(sized.fits);
        EXPECT_LE(sized.encodes, kMaxSizeSearchEncodes);
        EXPECT_EQ(sized.stepBelow, 0);
        EXPECT_EQ(*sized.bytes, direct(c, 0));
    }
}

TEST_F(SizeLimit, WhatCompletingAddsCountsAgainstTheLimit) {
    const Case c{Encoder::Jpeg, 9};
    const int steps = qualityStepsBelow(c.encoder, c.quality);
    const std::uint64_t limit = direct(c, steps / 2).size();
    constexpr std::uint64_t kMetadata = 3000;
    const SizedEncoding plain =
        encodeWithinSize(*photo, c.encoder, {.quality = c.quality}, 24, limit - kMetadata);
    const SizedEncoding carrying = encodeWithinSize(
        *photo, c.encoder, {.quality = c.quality}, 24, limit,
        [&](std::vector<std::uint8_t>& bytes) { return bytes.size() + kMetadata; });
    ASSERT_TRUE(plain.bytes && carrying.bytes);
    EXPECT_EQ(carrying.stepBelow, plain.stepBelow);
    EXPECT_LT(carrying.stepBelow, steps / 2);
    EXPECT_EQ(*carrying.bytes, *plain.bytes);
}

// libjpeg's own cjpeg at the same quality writes a file of about the same size (its JFIF header
// and Huffman tables are the same; only the optimisation of the tables may differ).
TEST_F(SizeLimit, JpegStepsAreLibjpegQualities) {
    if (!test::haveTool("/usr/bin/cjpeg")) QUILL_SKIP_WITHOUT_TOOL();
    test::TempDir dir;
    const std::string ppm = dir.file("photo.ppm");
    ASSERT_EQ(test::runCommand("/usr/bin/djpeg -pnm -outfile '" + ppm + "' '" +
                               test::testdata("jpeg/cat.jpg") + "'"),
              0);
    for (const int libraryQuality : {20, 55, 90}) {
        const std::string out = dir.file("q" + std::to_string(libraryQuality) + ".jpg");
        ASSERT_EQ(test::runCommand("/usr/bin/cjpeg -quality " + std::to_string(libraryQuality) +
                                   " -outfile '" + out + "' '" + ppm + "'"),
                  0);
        const auto theirs = test::readBytes(out).size();
        const auto ours = direct({Encoder::Jpeg, 10}, libraryQuality - 1).size();
        EXPECT_NEAR(double(ours), double(theirs), 0.03 * double(theirs)) << libraryQuality;
    }
}

} // namespace
} // namespace quill::imagefiles
