// The own GIF decoder's deliberate rules: signatures, code sizes, the transparent colour, and
// image data that ends early. Pixel decoding itself is compared with ImageMagick elsewhere.
#include "imagefiles/gif_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace quill::imagefiles {
namespace {

using Bytes = std::vector<std::uint8_t>;
using toolkit::PixelFormat;

Bytes fixtureBytes(const std::string& name) {
    return test::readBytes(test::fixture("gif/" + name));
}

std::vector<int> pixelAt(const toolkit::Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + std::size_t(x) * image.bytesPerPixel();
    return {p[2], p[1], p[0], image.hasAlpha() ? p[3] : 255};
}

std::vector<int> rgba(int r, int g, int b, int a = 255) {
    return {r, g, b, a};
}

// Offset of the LZW minimum code size in a file with a global table and no extensions.
std::size_t codeSizeOffset(const Bytes& gif) {
    return 13 + 3 * (2u << (gif[10] & 7)) + 10;
}

TEST(GifDecoder, SignaturesCodeSizesAndTables) {
    const Bytes gif89 = fixtureBytes("two-colours.gif");
    const toolkit::Image reference = decodeGif(gif89);
    ASSERT_FALSE(reference.empty());

    Bytes gif87 = gif89;
    gif87[4] = '7';
    const toolkit::Image older = decodeGif(gif87);
    ASSERT_FALSE(older.empty());
    EXPECT_EQ(0, std::memcmp(older.data(), reference.data(), reference.sizeInBytes()));

    Bytes lower = gif89;
    lower[0] = 'g';
    EXPECT_TRUE(decodeGif(lower).empty());
    EXPECT_TRUE(decodeGif(Bytes(gif89.begin(), gif89.begin() + 12)).empty());

    for (const int size : {1, 9, 11}) {
        Bytes bad = gif89;
        bad[codeSizeOffset(bad)] = std::uint8_t(size);
        EXPECT_TRUE(decodeGif(bad).empty()) << "minimum code size " << size;
    }
    Bytes noTable = gif89;
    noTable[10] &= 0x7F; // the table's bytes are now skipped as stray bytes before the image
    EXPECT_TRUE(decodeGif(noTable).empty());

    // Depth follows the size of the table in use.
    auto bitmap = decodeGifBitmap(gif89);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 1);
    bitmap = decodeGifBitmap(fixtureBytes("runs-lzw.gif"));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 4) << "4 entries";
    bitmap = decodeGifBitmap(test::readBytes(test::testdata("gif/hopper.gif")));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 8);
}

TEST(GifDecoder, ExtensionContentsAreNeverTakenForBlocks) {
    // The comment holds 0x2C and 0xF9, an application block holds 0x2C: a byte scan would take
    // them for an image separator or a transparency block.
    const toolkit::Image image = decodeGif(fixtureBytes("interlaced-comment-with-comma.gif"));
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.width(), 12);
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);

    // An extension that runs past the end of the file leaves no image.
    Bytes cut = fixtureBytes("two-colours.gif");
    cut.resize(13 + 6);
    cut.insert(cut.end(), {0x21, 0xFE, 200, 'x'});
    EXPECT_TRUE(decodeGif(cut).empty());
}

TEST(GifDecoder, TransparencyIsByColourFromTheGlobalTable) {
    // Entries 1 and 3 share a colour; the transparent index is 1.
    const toolkit::Image same = decodeGif(fixtureBytes("transparent-same-colour.gif"));
    ASSERT_EQ(same.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(same, 0, 0), rgba(0, 0, 0, 255));
    EXPECT_EQ(pixelAt(same, 1, 0), rgba(255, 0, 0, 0));
    EXPECT_EQ(pixelAt(same, 2, 0), rgba(0, 255, 0, 255));
    EXPECT_EQ(pixelAt(same, 3, 0), rgba(255, 0, 0, 0));

    // With a local table the colour still comes from the global one (blue here): the local
    // colour of index 1 stays opaque, the blue pixels turn transparent.
    const toolkit::Image local = decodeGif(fixtureBytes("transparent-local-table.gif"));
    ASSERT_EQ(local.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(local, 0, 0), rgba(0, 0, 255, 0));
    EXPECT_EQ(pixelAt(local, 1, 0), rgba(255, 255, 0, 255));

    // A transparent index above 127 names its own entry.
    const toolkit::Image high = decodeGif(fixtureBytes("transparent-index-200.gif"));
    ASSERT_EQ(high.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(high, 5, 0), rgba(200, 200 * 7 % 256, 55, 0));
    EXPECT_EQ(pixelAt(high, 0, 0)[3], 255);

    // The flag of the last graphic control block before the image counts.
    Bytes off = fixtureBytes("transparent-same-colour.gif");
    const std::size_t control = 13 + 12;
    ASSERT_EQ(off[control + 1], 0xF9);
    off.insert(off.begin() + std::ptrdiff_t(control + 8), off.begin() + std::ptrdiff_t(control),
               off.begin() + std::ptrdiff_t(control + 8));
    off[control + 8 + 3] = 0;
    EXPECT_EQ(decodeGif(off).format(), PixelFormat::Bgr24);
}

TEST(GifDecoder, MoreThanFiftyTrailingBytesDropTransparency) {
    // 51 bytes follow the image data: its empty block, a 49-byte comment and the trailer.
    const Bytes trailing = fixtureBytes("transparent-trailing-comment.gif");
    EXPECT_EQ(decodeGif(trailing).format(), PixelFormat::Bgr24);
    Bytes fifty = trailing;
    fifty.pop_back();
    EXPECT_EQ(decodeGif(fifty).format(), PixelFormat::Bgra32);

    const toolkit::Image frame =
        decodeGif(test::readBytes(test::testdata("gif/mixed-disposal.gif")));
    EXPECT_EQ(frame.width(), 16) << "the first frame at its own size";
    EXPECT_EQ(frame.format(), PixelFormat::Bgr24);
}

TEST(GifDecoder, DataEndingEarlyKeepsTheRowsDecodedSoFar) {
    // Codes for 1 1 | 2 and then the file ends: no end code, no terminating block.
    const toolkit::Image cut = decodeGif(fixtureBytes("truncated-no-end-code.gif"));
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(pixelAt(cut, 1, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(cut, 0, 1), rgba(0, 255, 0)) << "a partly filled row is kept";
    EXPECT_EQ(pixelAt(cut, 1, 1), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(cut, 0, 2), rgba(0, 0, 0));

    // A code beyond the next free slot ends the data too.
    const toolkit::Image corrupt = decodeGif(fixtureBytes("code-beyond-table.gif"));
    ASSERT_FALSE(corrupt.empty());
    EXPECT_EQ(pixelAt(corrupt, 0, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(corrupt, 1, 0), rgba(0, 0, 0));
}

} // namespace
} // namespace quill::imagefiles
