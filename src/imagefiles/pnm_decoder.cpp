// The program's own PNM decoder: bitmaps (P1, P4), grey maps (P2, P5) and pix maps (P3, P6).
//
// Quirks (deliberate, each covered by a test):
// - Header numbers are found by skipping every byte that is not a digit, so a minus sign or
//   other junk before a number is ignored ("-5" reads as 5); a "#" met while skipping starts a
//   comment that runs to the next line feed.
// - Samples are scaled by sample x 255 / maximum with integer division (a sample above the
//   maximum gives 255).
// - Pixels that a truncated file does not supply stay zero (black).
#include "imagefiles/pnm_decoder.h"

#include <algorithm>
#include <utility>

#include "imagefiles/detail/byte_reader.h"

namespace quill::imagefiles {
namespace {

// Numbers beyond this are saturated; no valid size or sample comes near it.
constexpr std::uint32_t kNumberCap = 1u << 30;

bool isDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}

// Skips non-digits and comments up to the next digit; false at the end of the data.
bool skipToDigit(detail::ByteReader& reader) {
    for (;;) {
        const auto b = reader.peek();
        if (!b) return false;
        if (isDigit(*b)) return true;
        (void)reader.skip(1);
        if (*b == '#') {
            for (auto c = reader.u8(); c && *c != 0x0A; c = reader.u8()) {
            }
        }
    }
}

// Reads the next decimal number; the first byte after its digits is consumed. Nothing when the
// data ends before a digit.
std::optional<std::uint32_t> readPnmNumber(detail::ByteReader& reader) {
    if (!skipToDigit(reader)) return std::nullopt;
    std::uint32_t value = 0;
    for (;;) {
        const auto b = reader.u8();
        if (!b || !isDigit(*b)) return value;
        value = std::uint32_t(std::min<std::uint64_t>(kNumberCap, std::uint64_t(value) * 10 +
                                                                      std::uint32_t(*b - '0')));
    }
}

// A plain bitmap pixel: the next '0' or '1' character (any digit other than '0' counts as 1);
// netpbm lets the digits of a plain bitmap follow each other without separators.
std::optional<std::uint8_t> readBitmapDigit(detail::ByteReader& reader) {
    if (!skipToDigit(reader)) return std::nullopt;
    return reader.u8();
}

std::uint8_t scale(std::uint32_t sample, std::uint32_t maximum) {
    return std::uint8_t(std::min<std::uint32_t>(255, sample * 255 / maximum));
}

// One raw sample of one or two bytes (most significant first).
std::optional<std::uint32_t> readRawSample(detail::ByteReader& reader, bool wide) {
    if (!wide) return reader.u8();
    return reader.u16be();
}

} // namespace

std::optional<PackedDib> decodePnmBitmap(std::span<const std::uint8_t> bytes) {
    detail::ByteReader reader(bytes);
    const auto p = reader.u8();
    const auto digit = reader.u8();
    if (!p || !digit || *p != 'P' || *digit < '1' || *digit > '6') return std::nullopt;
    const int kind = *digit - '0';

    const auto width = readPnmNumber(reader);
    const auto height = readPnmNumber(reader);
    if (!width || !height) return std::nullopt;
    std::uint32_t maximum = 1;
    if (kind != 1 && kind != 4) {
        const auto value = readPnmNumber(reader);
        if (!value || *value < 1 || *value > 65535) return std::nullopt;
        maximum = *value;
    }

    const int bits = (kind == 1 || kind == 4) ? 1 : (kind == 2 || kind == 5) ? 8 : 24;
    auto dib = PackedDib::create(int(*width), int(*height), bits);
    if (!dib) return std::nullopt;
    if (bits == 1) {
        dib->setPaletteEntry(0, PaletteColor{0, 0, 0});
        dib->setPaletteEntry(1, PaletteColor{255, 255, 255});
    } else if (bits == 8) {
        for (int i = 0; i < 256; ++i) {
            const auto v = std::uint8_t(i);
            dib->setPaletteEntry(i, PaletteColor{v, v, v});
        }
    }

    const int w = dib->width();
    const bool wide = maximum > 255;
    for (int y = 0; y < dib->height(); ++y) {
        const auto out = dib->imageRow(y);
        switch (kind) {
        case 1:
            for (int x = 0; x < w; ++x) {
                const auto pixel = readBitmapDigit(reader);
                if (!pixel) return dib;
                if (*pixel == '0') out[std::size_t(x) / 8] |= std::uint8_t(0x80 >> (x % 8));
            }
            break;
        case 4: {
            const std::size_t rowBytes = (std::size_t(w) + 7) / 8;
            const auto src = reader.takeUpTo(rowBytes);
            for (std::size_t i = 0; i < src.size(); ++i)
                out[i] = std::uint8_t(~src[i]);
            if (src.size() < rowBytes) return dib;
            break;
        }
        case 2:
        case 5:
            for (int x = 0; x < w; ++x) {
                const auto sample = kind == 2 ? readPnmNumber(reader) : readRawSample(reader, wide);
                if (!sample) return dib;
                out[std::size_t(x)] = scale(*sample, maximum);
            }
            break;
        default:
            for (int x = 0; x < w; ++x) {
                std::uint8_t rgb[3];
                for (auto& channel : rgb) {
                    const auto sample =
                        kind == 3 ? readPnmNumber(reader) : readRawSample(reader, wide);
                    if (!sample) return dib;
                    channel = scale(*sample, maximum);
                }
                out[3 * std::size_t(x)] = rgb[2];
                out[3 * std::size_t(x) + 1] = rgb[1];
                out[3 * std::size_t(x) + 2] = rgb[0];
            }
            break;
        }
    }
    return dib;
}

toolkit::Image decodePnm(std::span<const std::uint8_t> bytes) {
    auto dib = decodePnmBitmap(bytes);
    if (!dib) return {};
    return packedDibToImage(std::move(*dib));
}

} // namespace quill::imagefiles
