// The working image: allocation limits, copies and conversions.
#include "toolkit/image.h"

#include <gtest/gtest.h>

using quill::toolkit::Image;
using quill::toolkit::PixelFormat;

TEST(Image, AllocatesZeroedRowsWithPaddedStride) {
    Image img(5, 3, PixelFormat::Bgr24);
    ASSERT_FALSE(img.empty());
    EXPECT_EQ(img.stride(), 16u); // 15 bytes padded to 16
    for (int y = 0; y < 3; ++y)
        for (std::size_t i = 0; i < img.stride(); ++i)
            EXPECT_EQ(img.row(y)[i], 0);
}

TEST(Image, RefusesEmptyAndOversizedRequestsWithoutThrowing) {
    EXPECT_TRUE(Image(0, 10, PixelFormat::Bgr24).empty());
    EXPECT_TRUE(Image(-1, 10, PixelFormat::Bgr24).empty());
    EXPECT_TRUE(Image(65536, 65536, PixelFormat::Bgra32).empty()); // 16 GiB
    EXPECT_TRUE(Image(1 << 30, 2, PixelFormat::Bgr24).empty());
}

TEST(Image, CloneIsDeepAndConversionsKeepColour) {
    Image img(2, 2, PixelFormat::Bgr24);
    img.row(1)[3] = 10;
    img.row(1)[4] = 20;
    img.row(1)[5] = 30;
    Image copy = img.clone();
    img.row(1)[3] = 99;
    EXPECT_EQ(copy.row(1)[3], 10);

    Image rgba = copy.toBgra32();
    ASSERT_EQ(rgba.format(), PixelFormat::Bgra32);
    EXPECT_EQ(rgba.row(1)[4], 10);
    EXPECT_EQ(rgba.row(1)[6], 30);
    EXPECT_EQ(rgba.row(1)[7], 255);
    Image back = rgba.toBgr24();
    EXPECT_EQ(back.row(1)[5], 30);
}
