// The packed bitmap that the program's own decoders produce, and its conversion into an image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// One colour of a decoder's palette (red first, as the files store it; the quantiser's
/// PaletteColor is the encoders').
struct DecodedColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    constexpr bool operator==(const DecodedColor&) const = default;
};

/// A device-independent bitmap in one owned block: a 40-byte BITMAPINFOHEADER, the palette
/// (4-byte entries blue, green, red, 0; as many as the colours-used field says, or 2^bits when it
/// is 0 and bits is at most 8), then the pixel rows, bottom row first, each padded to 4 bytes.
class PackedDib {
public:
    static constexpr std::size_t kHeaderSize = 40;

    PackedDib() = default;

    /// A zero-filled bitmap with a positive height (rows stored bottom-up), 1 plane and no
    /// compression. Nothing when a side is not positive, `bitsPerPixel` is not 1, 4, 8, 16, 24
    /// or 32, the block or the image it converts to would exceed the size limits, or the
    /// allocation fails.
    [[nodiscard]] static std::optional<PackedDib> create(int width, int height, int bitsPerPixel,
                                                         int colorsUsed = 0);

    /// True when `create` would accept this size and depth.
    [[nodiscard]] static bool sizeAllowed(int width, int height, int bitsPerPixel);
    /// Bytes of one stored row: ((width x bits + 31) / 32) x 4.
    [[nodiscard]] static std::size_t rowBytesFor(int width, int bitsPerPixel);

    [[nodiscard]] int width() const { return m_width; }
    [[nodiscard]] int height() const { return m_height; }
    [[nodiscard]] int bitsPerPixel() const { return m_bits; }
    [[nodiscard]] int paletteSize() const { return m_paletteSize; }
    [[nodiscard]] std::size_t rowBytes() const { return m_rowBytes; }

    /// Sets palette entry `index` (ignored beyond the palette).
    void setPaletteEntry(int index, DecodedColor color);
    /// The stored row for image row `y`, counted from the top (stored row height - 1 - y).
    [[nodiscard]] std::span<std::uint8_t> imageRow(int y);
    [[nodiscard]] std::span<const std::uint8_t> imageRow(int y) const;

    /// The whole block: header, palette, rows.
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return m_block; }

private:
    [[nodiscard]] std::size_t rowsOffset() const {
        return kHeaderSize + 4 * std::size_t(m_paletteSize);
    }

    std::vector<std::uint8_t> m_block;
    int m_width = 0;
    int m_height = 0;
    int m_bits = 0;
    int m_paletteSize = 0;
    std::size_t m_rowBytes = 0;
};

/// Converts a packed bitmap into an image and frees the block in every case. A bitmap of 32 bits
/// per pixel gives a 32-bit image with its fourth byte as alpha; every other depth a 24-bit image.
/// Palette indices beyond the palette give black; 16-bit pixels are 5 bits per channel.
/// Empty when the header is not a valid uncompressed bitmap or the block is too short.
[[nodiscard]] toolkit::Image packedDibToImage(PackedDib dib);

/// Makes `image` 32-bit with every pixel whose red, green and blue equal `key` transparent
/// (alpha 0) and all others opaque. False (image unchanged) when the 32-bit copy cannot be made.
[[nodiscard]] bool applyTransparentColor(toolkit::Image& image, DecodedColor key);

} // namespace quill::imagefiles
