// The packed bitmap block of the own decoders and its conversion into a working image.
#include "imagefiles/packed_dib.h"

#include <algorithm>
#include <new>
#include <utility>

#include "imagefiles/detail/byte_reader.h"
#include "imagefiles/detail/decode_limits.h"
#include "toolkit/bytes.h"

namespace quill::imagefiles {
namespace {

using toolkit::Image;
using toolkit::PixelFormat;

/// Largest block a decoder may allocate for one packed bitmap: the image cap, or a quarter of a
/// lowered decode cap (fuzz builds and their replays), so that this guard trips before the
/// fuzzer's own memory limit.
std::size_t maxPackedDibBytes() {
    const std::size_t cap = detail::decodeMaxBytes();
    return cap < toolkit::kMaxImageBytes ? cap / 4 : toolkit::kMaxImageBytes;
}

bool validDepth(int bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int paletteEntriesFor(int bits, std::uint32_t colorsUsed) {
    if (colorsUsed != 0) return int(std::min<std::uint32_t>(colorsUsed, 256));
    return bits <= 8 ? 1 << bits : 0;
}

// The header fields the conversion needs, checked for consistency with the block's length.
struct DibLayout {
    int width = 0;
    int height = 0; // always positive here
    bool topDown = false;
    int bits = 0;
    int paletteSize = 0;
    std::size_t rowBytes = 0;
    std::size_t rowsOffset = 0;
};

std::optional<DibLayout> parseLayout(std::span<const std::uint8_t> block) {
    detail::ByteReader reader(block);
    const auto headerSize = reader.u32le();
    const auto width = reader.i32le();
    const auto height = reader.i32le();
    const auto planes = reader.u16le();
    const auto bits = reader.u16le();
    const auto compression = reader.u32le();
    if (!headerSize || !width || !height || !planes || !bits || !compression) return std::nullopt;
    if (!reader.skip(12)) return std::nullopt; // image size, resolution
    const auto colorsUsed = reader.u32le();
    if (!colorsUsed || *headerSize != PackedDib::kHeaderSize) return std::nullopt;
    if (*planes != 1 || *compression != 0 || !validDepth(*bits)) return std::nullopt;
    if (*width <= 0 || *height == 0 || *height == INT32_MIN) return std::nullopt;
    if (*bits <= 8 && *colorsUsed > (1u << *bits)) return std::nullopt;
    if (*colorsUsed > 256) return std::nullopt;

    DibLayout layout;
    layout.width = *width;
    layout.topDown = *height < 0;
    layout.height = layout.topDown ? -*height : *height;
    layout.bits = *bits;
    layout.paletteSize = paletteEntriesFor(layout.bits, *colorsUsed);
    layout.rowBytes = PackedDib::rowBytesFor(layout.width, layout.bits);
    layout.rowsOffset = PackedDib::kHeaderSize + 4 * std::size_t(layout.paletteSize);
    if (layout.rowBytes == 0 ||
        std::size_t(layout.height) > maxPackedDibBytes() / layout.rowBytes) {
        return std::nullopt;
    }
    if (!reader.has(layout.rowsOffset, layout.rowBytes * std::size_t(layout.height))) {
        return std::nullopt;
    }
    return layout;
}

std::uint8_t expand5(unsigned v) {
    return std::uint8_t((v << 3) | (v >> 2));
}

} // namespace

std::size_t PackedDib::rowBytesFor(int width, int bitsPerPixel) {
    if (width <= 0 || bitsPerPixel <= 0) return 0;
    return (std::size_t(width) * std::size_t(bitsPerPixel) + 31) / 32 * 4;
}

bool PackedDib::sizeAllowed(int width, int height, int bitsPerPixel) {
    if (width <= 0 || height <= 0 || !validDepth(bitsPerPixel)) return false;
    const std::size_t rowBytes = rowBytesFor(width, bitsPerPixel);
    const std::size_t overhead = kHeaderSize + 4 * 256;
    if (rowBytes > (maxPackedDibBytes() - overhead) / std::size_t(height)) return false;
    const PixelFormat format = bitsPerPixel == 32 ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
    if (!Image::sizeAllowed(width, height, format)) return false;
    return Image::strideFor(width, format) <= maxPackedDibBytes() / std::size_t(height);
}

std::optional<PackedDib> PackedDib::create(int width, int height, int bitsPerPixel,
                                           int colorsUsed) {
    if (!sizeAllowed(width, height, bitsPerPixel)) return std::nullopt;
    if (colorsUsed < 0 || colorsUsed > 256) return std::nullopt;
    if (bitsPerPixel <= 8 && colorsUsed > (1 << bitsPerPixel)) return std::nullopt;

    PackedDib dib;
    dib.m_width = width;
    dib.m_height = height;
    dib.m_bits = bitsPerPixel;
    dib.m_paletteSize = paletteEntriesFor(bitsPerPixel, std::uint32_t(colorsUsed));
    dib.m_rowBytes = rowBytesFor(width, bitsPerPixel);
    try {
        dib.m_block.assign(dib.rowsOffset() + dib.m_rowBytes * std::size_t(height), 0);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    std::uint8_t* h = dib.m_block.data();
    toolkit::storeU32le(h + 0, std::uint32_t(kHeaderSize));
    toolkit::storeU32le(h + 4, std::uint32_t(width));
    toolkit::storeU32le(h + 8, std::uint32_t(height));
    toolkit::storeU16le(h + 12, 1);
    toolkit::storeU16le(h + 14, std::uint16_t(bitsPerPixel));
    toolkit::storeU32le(h + 32, std::uint32_t(colorsUsed));
    return dib;
}

void PackedDib::setPaletteEntry(int index, DecodedColor color) {
    if (index < 0 || index >= m_paletteSize) return;
    std::uint8_t* p = m_block.data() + kHeaderSize + 4 * std::size_t(index);
    p[0] = color.blue;
    p[1] = color.green;
    p[2] = color.red;
    p[3] = 0;
}

std::span<std::uint8_t> PackedDib::imageRow(int y) {
    if (y < 0 || y >= m_height) return {};
    return std::span(m_block).subspan(rowsOffset() + std::size_t(m_height - 1 - y) * m_rowBytes,
                                      m_rowBytes);
}

std::span<const std::uint8_t> PackedDib::imageRow(int y) const {
    if (y < 0 || y >= m_height) return {};
    return std::span(m_block).subspan(rowsOffset() + std::size_t(m_height - 1 - y) * m_rowBytes,
                                      m_rowBytes);
}

Image packedDibToImage(PackedDib dib) {
    // The block is freed when `dib` goes out of scope, whatever happens here.
    const std::span<const std::uint8_t> block = dib.bytes();
    const auto layout = parseLayout(block);
    if (!layout) return {};
    const PixelFormat format = layout->bits == 32 ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
    Image image(layout->width, layout->height, format);
    if (!image) return {};

    // Palette as BGR triples; entries beyond the palette stay black.
    std::uint8_t palette[256][3] = {};
    for (int i = 0; i < layout->paletteSize && i < 256; ++i) {
        const std::uint8_t* p = block.data() + PackedDib::kHeaderSize + 4 * std::size_t(i);
        palette[i][0] = p[0];
        palette[i][1] = p[1];
        palette[i][2] = p[2];
    }

    const int width = layout->width;
    for (int y = 0; y < layout->height; ++y) {
        const int stored = layout->topDown ? y : layout->height - 1 - y;
        const std::uint8_t* src =
            block.data() + layout->rowsOffset + std::size_t(stored) * layout->rowBytes;
        std::uint8_t* dst = image.row(y);
        switch (layout->bits) {
        case 1:
            for (int x = 0; x < width; ++x) {
                const unsigned index = (src[x >> 3] >> (7 - (x & 7))) & 1;
                std::copy_n(palette[index], 3, dst + 3 * std::size_t(x));
            }
            break;
        case 4:
            for (int x = 0; x < width; ++x) {
                const unsigned index = (x & 1) ? src[x >> 1] & 0x0F : src[x >> 1] >> 4;
                std::copy_n(palette[index], 3, dst + 3 * std::size_t(x));
            }
            break;
        case 8:
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* c = palette[src[x]];
                dst[3 * x] = c[0];
                dst[3 * x + 1] = c[1];
                dst[3 * x + 2] = c[2];
            }
            break;
        case 16:
            for (int x = 0; x < width; ++x) {
                const unsigned v = toolkit::loadU16le(src + 2 * x);
                dst[3 * x] = expand5(v & 31);
                dst[3 * x + 1] = expand5((v >> 5) & 31);
                dst[3 * x + 2] = expand5((v >> 10) & 31);
            }
            break;
        case 24:
            std::copy_n(src, 3 * std::size_t(width), dst);
            break;
        case 32:
            std::copy_n(src, 4 * std::size_t(width), dst);
            break;
        default:
            return {};
        }
    }
    return image;
}

bool applyTransparentColor(Image& image, DecodedColor key) {
    Image rgba = image.toBgra32();
    if (!rgba) return false;
    for (int y = 0; y < rgba.height(); ++y) {
        std::uint8_t* p = rgba.row(y);
        for (int x = 0; x < rgba.width(); ++x, p += 4) {
            const bool match = p[0] == key.blue && p[1] == key.green && p[2] == key.red;
            p[3] = match ? 0 : 255;
        }
    }
    image = std::move(rgba);
    return true;
}

} // namespace quill::imagefiles
