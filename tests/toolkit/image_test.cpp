// The working image: allocation limits, copies and conversions.
#include "toolkit/image.h"

#include <gtest/gtest.h>

using quill::toolkit::Image;
using quill::toolkit::PixelFormat;

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
