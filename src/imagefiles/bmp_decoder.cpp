// BMP decoding: header variants, palettes, bit fields and run-length coding.
//
// Odd input, handled on purpose: a palette index beyond the palette shows palette entry 0, and
// pixels that a run-length file skips (delta and end-of-line codes) show palette entry 0 as
// well; run-length data that runs past the last row ends the decode. Rows missing at the end of
// a short file stay zero.
#include "imagefiles/bmp_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <optional>

#include "imagefiles/detail/byte_reader.h"
#include "imagefiles/detail/decode_limits.h"
#include "imagefiles/detail/file_rows.h"
#include "imagefiles/jpeg_decoder.h"
#include "imagefiles/png_decoder.h"
#include "toolkit/bytes.h"

namespace quill::imagefiles {

namespace {

using toolkit::Image;
using toolkit::PixelFormat;

enum Compression : std::uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3,
    JpegOrRle24 = 4,
    Png = 5,
    AlphaBitFields = 6,
};

struct Bgr {
    std::uint8_t b = 0, g = 0, r = 0;
};

// One channel of a bit-field pixel: where it sits and how to widen it to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    static Channel of(std::uint32_t mask) {
        Channel c;
        c.mask = mask;
        if (mask == 0) return c;
        c.shift = std::countr_zero(mask);
        c.bits = std::min(std::popcount(mask >> c.shift), 16);
        return c;
    }
    [[nodiscard]] std::uint8_t value(std::uint32_t pixel) const {
        if (bits == 0) return 0;
        const std::uint32_t v = ((pixel & mask) >> shift) & ((1u << bits) - 1);
        if (bits >= 8) return std::uint8_t(v >> (bits - 8));
        // Narrow fields widen by repeating their bits, so the largest value becomes 255.
        std::uint32_t out = 0;
        for (int pos = 8 - bits; pos > -bits; pos -= bits)
            out |= pos >= 0 ? v << pos : v >> -pos;
        return std::uint8_t(out);
    }
};

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0; // positive; topDown tells the row order
    bool topDown = false;
    int bitCount = 0;
    std::uint32_t compression = Rgb;
    std::size_t paletteOffset = 0;
    std::size_t paletteEntrySize = 4;
    std::size_t paletteCount = 0;
    std::size_t pixelOffset = 0;
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha
    bool os2v2 = false;
};

bool readHeader(detail::ByteReader& r, Header& h) {
    if (r.size() < 26 || r.u8(0) != 'B' || r.u8(1) != 'M') return false;
    const std::uint32_t infoSize = r.u32le(14);
    std::size_t afterHeader = 14 + std::size_t(infoSize);
    std::uint32_t colorsUsed = 0;
    if (infoSize == 12) {
        h.width = r.u16le(18);
        h.height = r.u16le(20);
        if (r.u16le(22) != 1) return false;
        h.bitCount = r.u16le(24);
        h.paletteEntrySize = 3;
    } else if (infoSize >= 16 && infoSize <= 124) {
        h.width = std::int32_t(r.u32le(18));
        const std::int32_t height = std::int32_t(r.u32le(22));
        h.topDown = height < 0;
        h.height = height < 0 ? -std::int64_t(height) : height;
        if (r.u16le(26) != 1) return false;
        h.bitCount = r.u16le(28);
        h.compression = infoSize >= 20 ? r.u32le(30) : Rgb;
        colorsUsed = infoSize >= 36 ? r.u32le(46) : 0;
        h.os2v2 = infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 &&
                  infoSize != 124;
        if (h.compression == BitFields || h.compression == AlphaBitFields) {
            if (h.os2v2) return false; // OS/2 Huffman 1D, not supported
            const std::size_t maskCount = h.compression == AlphaBitFields ? 4 : 3;
            if (infoSize >= 52) {
                for (std::size_t i = 0; i < 3; ++i)
                    h.masks[i] = r.u32le(54 + 4 * i);
                if (infoSize >= 56) h.masks[3] = r.u32le(66);
            } else {
                for (std::size_t i = 0; i < maskCount; ++i)
                    h.masks[i] = r.u32le(54 + 4 * i);
                afterHeader += 4 * maskCount;
            }
        }
    } else {
        return false;
    }
    if (r.failed()) return false;
    if (h.width <= 0 || h.height <= 0) return false;

    switch (h.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    case 0:
        if (h.compression != JpegOrRle24 && h.compression != Png) return false;
        break;
    default:
        return false;
    }
    if (h.bitCount <= 8 && h.bitCount > 0) {
        const std::size_t maxEntries = std::size_t{1} << h.bitCount;
        h.paletteCount = colorsUsed == 0 ? maxEntries : std::min<std::size_t>(colorsUsed, 256);
    }
    h.paletteOffset = afterHeader;
    const std::uint32_t offset = r.u32le(10);
    h.pixelOffset =
        offset >= afterHeader ? offset : afterHeader + h.paletteCount * h.paletteEntrySize;
    return true;
}

// The palette, with every slot beyond the stored entries showing entry 0.
std::array<Bgr, 256> readPalette(detail::ByteReader& r, const Header& h) {
    std::array<Bgr, 256> palette{};
    std::size_t stored = 0;
    for (; stored < h.paletteCount; ++stored) {
        const std::size_t at = h.paletteOffset + stored * h.paletteEntrySize;
        if (!r.has(at, 3)) break;
        palette[stored] = Bgr{r.u8(at), r.u8(at + 1), r.u8(at + 2)};
    }
    for (std::size_t i = std::max<std::size_t>(stored, 1); i < palette.size(); ++i) {
        palette[i] = palette[0];
    }
    return palette;
}

void putBgr(Image& image, int x, int y, Bgr c) {
    std::uint8_t* p = image.row(y) + std::size_t(x) * std::size_t(image.bytesPerPixel());
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
    if (image.hasAlpha()) p[3] = 255;
}

// What turns a stored row of an uncompressed bitmap into image pixels: the palette or the
// channels of the bit-field masks.
struct RowFormat {
    std::size_t stride = 0; // bytes of a stored row
    std::array<Bgr, 256> palette{};
    Channel red, green, blue, alpha;
};

RowFormat rowFormatOf(detail::ByteReader& r, const Header& h) {
    RowFormat f;
    f.stride = ((std::size_t(h.width) * std::size_t(h.bitCount) + 31) / 32) * 4;
    f.palette = readPalette(r, h);
    std::array<std::uint32_t, 4> masks = h.masks;
    const bool fields = h.compression == BitFields || h.compression == AlphaBitFields;
    if (!fields && h.bitCount == 16) masks = {0x7C00, 0x03E0, 0x001F, 0};
    if (!fields && h.bitCount == 32) masks = {0xFF0000, 0xFF00, 0xFF, 0};
    f.red = Channel::of(masks[0]);
    f.green = Channel::of(masks[1]);
    f.blue = Channel::of(masks[2]);
    f.alpha = Channel::of(masks[3]);
    return f;
}

// Decodes stored row `row` (counted in file order) from its `stride` bytes in `src`.
void decodeRow(const Header& h, const RowFormat& f, std::span<const std::uint8_t> src, int row,
               Image& image) {
    const int width = image.width();
    const int y = h.topDown ? row : image.height() - 1 - row;
    std::uint8_t* dst = image.row(y);
    switch (h.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8: {
        const int bits = h.bitCount;
        const int perByte = 8 / bits;
        const unsigned valueMask = (1u << bits) - 1;
        for (int x = 0; x < width; ++x) {
            const std::uint8_t byte = src[std::size_t(x / perByte)];
            const int shift = 8 - bits * (x % perByte + 1);
            putBgr(image, x, y, f.palette[(byte >> shift) & valueMask]);
        }
        break;
    }
    case 24:
        for (int x = 0; x < width; ++x) {
            dst[3 * x] = src[3 * std::size_t(x)];
            dst[3 * x + 1] = src[3 * std::size_t(x) + 1];
            dst[3 * x + 2] = src[3 * std::size_t(x) + 2];
        }
        break;
    case 16:
    case 32: {
        const int bpp = image.bytesPerPixel();
        for (int x = 0; x < width; ++x) {
            std::uint32_t px = 0;
            if (h.bitCount == 16) {
                px = toolkit::loadU16le(&src[2 * std::size_t(x)]);
            } else {
                px = toolkit::loadU32le(&src[4 * std::size_t(x)]);
            }
            std::uint8_t* d = dst + std::size_t(x) * std::size_t(bpp);
            d[0] = f.blue.value(px);
            d[1] = f.green.value(px);
            d[2] = f.red.value(px);
            if (bpp == 4) d[3] = f.alpha.value(px);
        }
        break;
    }
    default:
        break;
    }
}

void decodeUncompressed(detail::ByteReader& r, const Header& h, Image& image) {
    const RowFormat f = rowFormatOf(r, h);
    for (int row = 0; row < image.height(); ++row) {
        const std::span<const std::uint8_t> src =
            r.bytes(h.pixelOffset + f.stride * std::size_t(row), f.stride);
        if (src.empty()) return; // the file ends here; the remaining rows stay zero
        decodeRow(h, f, src, row, image);
    }
}

// RLE8, RLE4 and OS/2 RLE24. Rows count from the bottom unless the header says top-down.
void decodeRunLength(detail::ByteReader& r, const Header& h, Image& image) {
    const auto palette = readPalette(r, h);
    const int width = image.width();
    const int height = image.height();
    const Bgr background = palette[0];
    if (h.compression != JpegOrRle24) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                putBgr(image, x, y, background);
        }
    }
    const auto put = [&](int x, int row, Bgr c) {
        if (x < 0 || x >= width || row >= height) return;
        putBgr(image, x, h.topDown ? row : height - 1 - row, c);
    };
    const std::span<const std::uint8_t> data = r.tail(h.pixelOffset);
    std::size_t pos = 0;
    int x = 0, row = 0;
    const auto have = [&](std::size_t n) { return pos <= data.size() && n <= data.size() - pos; };
    const auto pixelOf = [&](std::size_t at) { return Bgr{data[at], data[at + 1], data[at + 2]}; };
    while (row < height && have(2)) {
        const std::uint8_t count = data[pos];
        const std::uint8_t value = data[pos + 1];
        if (count > 0) {
            pos += 2;
            if (h.compression == Rle8) {
                for (int i = 0; i < count; ++i)
                    put(x++, row, palette[value]);
            } else if (h.compression == Rle4) {
                for (int i = 0; i < count; ++i) {
                    put(x++, row, palette[(i % 2 == 0) ? (value >> 4) : (value & 0x0F)]);
                }
            } else {
                // A 24-bit run: the count byte is followed by one blue, green, red pixel.
                if (!have(2)) return;
                const Bgr c = pixelOf(pos - 1);
                pos += 2;
                for (int i = 0; i < count; ++i)
                    put(x++, row, c);
            }
            continue;
        }
        pos += 2;
        if (value == 0) { // end of line
            x = 0;
            ++row;
        } else if (value == 1) { // end of bitmap
            return;
        } else if (value == 2) { // delta
            if (!have(2)) return;
            x += data[pos];
            row += data[pos + 1];
            pos += 2;
        } else { // absolute run of `value` pixels, padded to an even byte count
            std::size_t bytes = 0;
            if (h.compression == Rle8)
                bytes = value;
            else if (h.compression == Rle4)
                bytes = (std::size_t(value) + 1) / 2;
            else
                bytes = std::size_t(value) * 3;
            if (!have(bytes)) return;
            for (int i = 0; i < value; ++i) {
                if (h.compression == Rle8) {
                    put(x++, row, palette[data[pos + std::size_t(i)]]);
                } else if (h.compression == Rle4) {
                    const std::uint8_t b = data[pos + std::size_t(i) / 2];
                    put(x++, row, palette[(i % 2 == 0) ? (b >> 4) : (b & 0x0F)]);
                } else {
                    put(x++, row, pixelOf(pos + 3 * std::size_t(i)));
                }
            }
            pos += bytes + (bytes & 1);
        }
    }
}

// Whether the bitmap's rows are run-length coded; nothing when its compression and bit count
// do not go together (or name a format decoded elsewhere).
std::optional<bool> runLengthOf(const Header& h) {
    switch (h.compression) {
    case Rgb:
        return false;
    case Rle8:
        if (h.bitCount != 8) return std::nullopt;
        return true;
    case Rle4:
        if (h.bitCount != 4) return std::nullopt;
        return true;
    case JpegOrRle24:
        if (h.bitCount != 24) return std::nullopt;
        return true;
    case BitFields:
    case AlphaBitFields:
        if (h.bitCount != 16 && h.bitCount != 32) return std::nullopt;
        return false;
    default:
        return std::nullopt;
    }
}

Image allocateFor(const Header& h) {
    const bool alpha =
        (h.compression == BitFields || h.compression == AlphaBitFields) && h.masks[3] != 0;
    return detail::allocateImage(h.width, h.height,
                                 alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24);
}

} // namespace

toolkit::Image decodeBmp(std::span<const std::uint8_t> bytes) {
    detail::ByteReader r(bytes);
    Header h;
    if (!readHeader(r, h)) return {};

    if (h.compression == Png) return decodePng(r.tail(h.pixelOffset));
    if (h.compression == JpegOrRle24 && !h.os2v2) return decodeJpeg(r.tail(h.pixelOffset));

    const auto runLength = runLengthOf(h);
    if (!runLength) return {};
    Image image = allocateFor(h);
    if (image.empty()) return {};
    if (*runLength) {
        decodeRunLength(r, h, image);
    } else {
        if (!r.has(h.pixelOffset, 1)) return {}; // no pixel data at all
        decodeUncompressed(r, h, image);
    }
    return image;
}

std::optional<toolkit::Image> decodeUncompressedBmpFile(platform::InputFile& file,
                                                        std::span<const std::uint8_t> head) {
    detail::ByteReader r(head);
    Header h;
    if (!readHeader(r, h) || h.compression == Png || h.compression == JpegOrRle24)
        return std::nullopt;
    const auto runLength = runLengthOf(h);
    if (!runLength || *runLength) return std::nullopt;
    // The headers and the palette must lie in the head, as they would in the whole file.
    if (h.pixelOffset > head.size() ||
        h.paletteOffset + h.paletteCount * h.paletteEntrySize > head.size())
        return std::nullopt;
    Image image = allocateFor(h);
    if (image.empty() || file.size() <= h.pixelOffset) return Image{};
    const RowFormat f = rowFormatOf(r, h);
    const bool read =
        detail::forEachFileRow(file, h.pixelOffset, f.stride, std::size_t(image.height()),
                               [&](std::size_t row, std::span<const std::uint8_t> src) {
                                   // A row the file breaks off in stays zero, as do the rows after
                                   // it.
                                   if (src.size() == f.stride)
                                       decodeRow(h, f, src, int(row), image);
                               });
    if (!read) return Image{};
    return image;
}

} // namespace quill::imagefiles
