// The built-in BMP writer. Rows are stored bottom-up and padded to 4 bytes. 24-bit and palette
// files use the 40-byte info header; 32-bit files use the 108-byte version 4 header with
// explicit channel masks, so that readers know the fourth byte is alpha.
#include "imagefiles/bmp_encoder.h"

#include <cstring>
#include <new>

#include "toolkit/bytes.h"

namespace quill::imagefiles {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kSrgbColorSpace = 0x73524742; // 'sRGB'
constexpr std::uint32_t kPixelsPerMetre = 2835;       // 72 dots per inch

class ByteWriter {
public:
    explicit ByteWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
    void u16(std::uint32_t v) { toolkit::appendU16le(m_out, std::uint16_t(v)); }
    void u32(std::uint32_t v) { toolkit::appendU32le(m_out, v); }
    void zeros(std::size_t n) { m_out.insert(m_out.end(), n, 0); }

private:
    std::vector<std::uint8_t>& m_out;
};

std::size_t rowBytes(int width, int bitDepth) {
    return ((std::size_t(width) * std::size_t(bitDepth) + 31) / 32) * 4;
}

// Writes both headers; returns false when the file would not fit the 32-bit size fields.
bool writeHeaders(std::vector<std::uint8_t>& out, int width, int height, int bitDepth,
                  std::uint32_t paletteEntries, bool v4) {
    const std::uint32_t infoSize = v4 ? kV4HeaderSize : kInfoHeaderSize;
    const std::uint64_t offset = kFileHeaderSize + infoSize + std::uint64_t(paletteEntries) * 4;
    const std::uint64_t imageSize =
        std::uint64_t(rowBytes(width, bitDepth)) * std::uint64_t(height);
    if (offset + imageSize > 0xFFFFFFFFu) return false;
    out.reserve(out.size() + std::size_t(offset + imageSize));
    ByteWriter w(out);
    w.u16('B' | ('M' << 8));
    w.u32(std::uint32_t(offset + imageSize));
    w.u32(0);
    w.u32(std::uint32_t(offset));
    w.u32(infoSize);
    w.u32(std::uint32_t(width));
    w.u32(std::uint32_t(height)); // positive: bottom-up rows
    w.u16(1);
    w.u16(std::uint32_t(bitDepth));
    w.u32(v4 ? kBiBitfields : kBiRgb);
    w.u32(std::uint32_t(imageSize));
    w.u32(kPixelsPerMetre);
    w.u32(kPixelsPerMetre);
    w.u32(paletteEntries);
    w.u32(0);
    if (v4) {
        w.u32(0x00FF0000); // red
        w.u32(0x0000FF00); // green
        w.u32(0x000000FF); // blue
        w.u32(0xFF000000); // alpha
        w.u32(kSrgbColorSpace);
        w.zeros(36 + 12); // endpoints and gamma, unused with sRGB
    }
    return true;
}

} // namespace

bool encodeBmp(const toolkit::ImageView& image, BmpAlpha alpha, std::vector<std::uint8_t>& out) {
    if (!image.data || image.width <= 0 || image.height <= 0) return false;
    const bool withAlpha = alpha == BmpAlpha::Write;
    const int bitDepth = withAlpha ? 32 : 24;
    try {
        if (!writeHeaders(out, image.width, image.height, bitDepth, 0, withAlpha)) return false;
        const std::size_t stride = rowBytes(image.width, bitDepth);
        const int bpp = toolkit::bytesPerPixel(image.format);
        for (int y = image.height - 1; y >= 0; --y) {
            const std::uint8_t* src = image.row(y);
            const std::size_t start = out.size();
            out.resize(start + stride, 0);
            std::uint8_t* dst = out.data() + start;
            if (bpp * 8 == bitDepth) {
                std::memcpy(dst, src, std::size_t(image.width) * std::size_t(bpp));
                continue;
            }
            for (int x = 0; x < image.width; ++x, src += bpp) {
                *dst++ = src[0];
                *dst++ = src[1];
                *dst++ = src[2];
                if (withAlpha) *dst++ = 255; // a 24-bit image is opaque
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool encodeBmpPalette(const PalettedImage& image, int bitDepth, std::vector<std::uint8_t>& out) {
    if (bitDepth != 1 && bitDepth != 4 && bitDepth != 8) return false;
    if (image.width <= 0 || image.height <= 0 || image.palette.empty() ||
        image.palette.size() > (std::size_t(1) << bitDepth) ||
        image.indices.size() != std::size_t(image.width) * std::size_t(image.height))
        return false;
    try {
        if (!writeHeaders(out, image.width, image.height, bitDepth,
                          std::uint32_t(image.palette.size()), false))
            return false;
        for (const PaletteColor& c : image.palette) {
            out.push_back(c.blue);
            out.push_back(c.green);
            out.push_back(c.red);
            out.push_back(0);
        }
        const std::size_t stride = rowBytes(image.width, bitDepth);
        const int perByte = 8 / bitDepth;
        for (int y = image.height - 1; y >= 0; --y) {
            const std::uint8_t* src =
                image.indices.data() + std::size_t(y) * std::size_t(image.width);
            const std::size_t start = out.size();
            out.resize(start + stride, 0);
            std::uint8_t* dst = out.data() + start;
            // The leftmost pixel occupies the most significant bits of each byte.
            for (int x = 0; x < image.width; ++x) {
                const int shift = bitDepth * (perByte - 1 - x % perByte);
                dst[x / perByte] |= std::uint8_t((src[x] & ((1 << bitDepth) - 1)) << shift);
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace quill::imagefiles
