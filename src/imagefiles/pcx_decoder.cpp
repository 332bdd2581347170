// The program's own PCX decoder: monochrome, 16-colour planar, 256-colour, 24-bit true-colour
// and 32-bit files.
//
// Quirks (deliberate, each covered by a test):
// - Six layouts carry pixels: 1 plane of 1 bit (its two header colours, or black for bit 0 and
//   white for bit 1 when the header leaves them equal), 1 plane of 4 bits (two pixels a byte,
//   the first in the high half), 1 plane of 8 bits, 4 planes of 1 bit, 3 planes of 8 bits and
//   4 planes of 8 bits (red, green, blue, alpha). Any other layout yields no image, so that a
//   picture is never replaced by a blank one.
// - The 256-colour palette at the end of the file is used only by version 5 files of 8 bits;
//   every other palette image uses the 16 colours of the header.
// - Run-length data that ends early leaves the remaining rows at zero; scan lines shorter than
//   the image width leave the missing pixels at zero.
#include "imagefiles/pcx_decoder.h"

#include <utility>
#include <vector>

#include "imagefiles/detail/byte_reader.h"
#include "toolkit/bytes.h"

namespace quill::imagefiles {
namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kVgaPaletteTail = 769;
constexpr std::uint8_t kVgaPaletteMarker = 12;

enum class Layout { Mono, Packed16, Indexed8, Planar16, TrueColor, TrueColorAlpha, NoPixels };

// One decoded scan line turned into an output row.
void storeScanLine(Layout layout, std::span<const std::uint8_t> line, std::size_t bytesPerLine,
                   int width, std::span<std::uint8_t> out) {
    const auto planeByte = [&](int plane, std::size_t at) -> std::uint8_t {
        if (at >= bytesPerLine) return 0;
        return line[std::size_t(plane) * bytesPerLine + at];
    };
    switch (layout) {
    case Layout::Mono:
        // Same bit order as the bitmap row: first pixel in the most significant bit.
        for (std::size_t i = 0; i < (std::size_t(width) + 7) / 8; ++i)
            out[i] = planeByte(0, i);
        if (width % 8) out[std::size_t(width) / 8] &= std::uint8_t(0xFF00 >> (width % 8));
        break;
    case Layout::Packed16:
        // Same nibble order as the 4-bit bitmap row.
        for (std::size_t i = 0; i < (std::size_t(width) + 1) / 2; ++i)
            out[i] = planeByte(0, i);
        if (width % 2) out[std::size_t(width) / 2] &= 0xF0;
        break;
    case Layout::Indexed8:
        for (int x = 0; x < width; ++x)
            out[std::size_t(x)] = planeByte(0, std::size_t(x));
        break;
    case Layout::Planar16:
        for (int x = 0; x < width; ++x) {
            int index = 0;
            for (int plane = 0; plane < 4; ++plane) {
                const int bit = (planeByte(plane, std::size_t(x) / 8) >> (7 - x % 8)) & 1;
                index |= bit << plane;
            }
            out[std::size_t(x) / 2] |= std::uint8_t(index << (x % 2 == 0 ? 4 : 0));
        }
        break;
    case Layout::TrueColor:
        for (int x = 0; x < width; ++x) {
            out[3 * std::size_t(x)] = planeByte(2, std::size_t(x));
            out[3 * std::size_t(x) + 1] = planeByte(1, std::size_t(x));
            out[3 * std::size_t(x) + 2] = planeByte(0, std::size_t(x));
        }
        break;
    case Layout::TrueColorAlpha:
        for (int x = 0; x < width; ++x) {
            out[4 * std::size_t(x)] = planeByte(2, std::size_t(x));
            out[4 * std::size_t(x) + 1] = planeByte(1, std::size_t(x));
            out[4 * std::size_t(x) + 2] = planeByte(0, std::size_t(x));
            out[4 * std::size_t(x) + 3] = planeByte(3, std::size_t(x));
        }
        break;
    case Layout::NoPixels:
        break;
    }
}

} // namespace

std::optional<PackedDib> decodePcxBitmap(std::span<const std::uint8_t> bytes) {
    detail::ByteReader reader(bytes);
    const auto header = reader.take(kHeaderSize);
    if (!header) return std::nullopt;
    const auto& h = *header;
    const int version = h[1];
    if (h[0] != 10 || version > 5) return std::nullopt;
    const auto u16At = [&](std::size_t at) { return int(toolkit::loadU16le(&h[at])); };
    const int bitsPerPlane = h[3];
    const int width = u16At(8) - u16At(4) + 1;
    const int height = u16At(10) - u16At(6) + 1;
    const int planes = h[65];
    const std::size_t bytesPerLine = std::size_t(u16At(66));
    const int bits = planes * bitsPerPlane;
    const int paletteEntries = bits <= 8 ? 1 << bits : 0;

    Layout layout = Layout::NoPixels;
    if (planes == 1 && bitsPerPlane == 1) layout = Layout::Mono;
    if (planes == 1 && bitsPerPlane == 4) layout = Layout::Packed16;
    if (planes == 1 && bitsPerPlane == 8) layout = Layout::Indexed8;
    if (planes == 4 && bitsPerPlane == 1) layout = Layout::Planar16;
    if (planes == 3 && bitsPerPlane == 8) layout = Layout::TrueColor;
    if (planes == 4 && bitsPerPlane == 8) layout = Layout::TrueColorAlpha;
    if (layout == Layout::NoPixels) return std::nullopt;

    auto dib = PackedDib::create(width, height, bits, paletteEntries);
    if (!dib) return std::nullopt;
    for (int i = 0; i < paletteEntries && i < 16; ++i) {
        dib->setPaletteEntry(i, DecodedColor{h[16 + 3 * i], h[17 + 3 * i], h[18 + 3 * i]});
    }
    if (version == 5 && bits == 8 && bytes.size() >= kHeaderSize + kVgaPaletteTail &&
        bytes[bytes.size() - kVgaPaletteTail] == kVgaPaletteMarker) {
        const auto vga = bytes.last(kVgaPaletteTail - 1);
        for (int i = 0; i < 256; ++i) {
            dib->setPaletteEntry(i, DecodedColor{vga[3 * i], vga[3 * i + 1], vga[3 * i + 2]});
        }
    }

    // Monochrome files use their two header colours; many writers leave that palette empty,
    // which would make every pixel black, so equal colours mean bit 0 black and bit 1 white.
    if (layout == Layout::Mono) {
        const DecodedColor first{h[16], h[17], h[18]};
        const DecodedColor second{h[19], h[20], h[21]};
        if (first == second) {
            dib->setPaletteEntry(0, DecodedColor{0, 0, 0});
            dib->setPaletteEntry(1, DecodedColor{255, 255, 255});
        }
    }
    const std::size_t lineBytes = std::size_t(planes) * bytesPerLine;
    if (lineBytes == 0) return dib;

    // Run-length decoding: a run may cross from one scan line into the next.
    std::vector<std::uint8_t> line(lineBytes, 0);
    std::size_t filled = 0;
    int row = 0;
    while (row < height) {
        const auto byte = reader.u8();
        if (!byte) break;
        int count = 1;
        std::uint8_t value = *byte;
        if (value > 0xBF) {
            const auto next = reader.u8();
            if (!next) break;
            count = value & 0x3F;
            value = *next;
        }
        for (; count > 0 && row < height; --count) {
            line[filled++] = value;
            if (filled == lineBytes) {
                storeScanLine(layout, line, bytesPerLine, width, dib->imageRow(row));
                filled = 0;
                ++row;
            }
        }
    }
    return dib;
}

toolkit::Image decodePcx(std::span<const std::uint8_t> bytes) {
    auto dib = decodePcxBitmap(bytes);
    if (!dib) return {};
    return packedDibToImage(std::move(*dib));
}

} // namespace quill::imagefiles
