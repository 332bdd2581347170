// TGA decoding: colour maps, true colour and greyscale, raw or run-length, any origin.
//
// Odd input, handled on purpose: run-length packets may run across the end of a row (many
// writers do this); a colour-map index outside the map gives black; the pixel stream ends with
// the file, leaving the rest of the image zero.
#include "imagefiles/tga_decoder.h"

#include <vector>

#include "imagefiles/detail/byte_reader.h"
#include "imagefiles/detail/decode_limits.h"
#include "toolkit/bytes.h"

namespace quill::imagefiles {

namespace {

using toolkit::Image;
using toolkit::PixelFormat;

struct Header {
    int idLength = 0;
    int colorMapType = 0;
    int imageType = 0;
    int mapFirst = 0;
    int mapLength = 0;
    int mapEntryBits = 0;
    int width = 0;
    int height = 0;
    int pixelBits = 0;
    int descriptor = 0;
};

Header parseHeader(detail::ByteReader& r) {
    Header h;
    h.idLength = r.u8(0);
    h.colorMapType = r.u8(1);
    h.imageType = r.u8(2);
    h.mapFirst = r.u16le(3);
    h.mapLength = r.u16le(5);
    h.mapEntryBits = r.u8(7);
    h.width = r.u16le(12);
    h.height = r.u16le(14);
    h.pixelBits = r.u8(16);
    h.descriptor = r.u8(17);
    return h;
}

bool valid(const Header& h) {
    if (h.colorMapType > 1 || h.width == 0 || h.height == 0) return false;
    const int base = h.imageType & ~8;
    switch (base) {
    case 1:
        if (h.colorMapType != 1 || (h.pixelBits != 8 && h.pixelBits != 16)) return false;
        return h.mapEntryBits == 15 || h.mapEntryBits == 16 || h.mapEntryBits == 24 ||
               h.mapEntryBits == 32;
    case 2:
        return h.pixelBits == 15 || h.pixelBits == 16 || h.pixelBits == 24 || h.pixelBits == 32;
    case 3:
        return h.pixelBits == 8 || h.pixelBits == 16;
    default:
        return false;
    }
}

struct Bgra {
    std::uint8_t b = 0, g = 0, r = 0, a = 255;
};

std::uint8_t widen5(unsigned v) {
    return std::uint8_t((v << 3) | (v >> 2));
}

// A colour of `bits` bits from little-endian bytes; 15- and 16-bit colours are 5-5-5 with the
// top bit as a one-bit alpha.
Bgra colorOf(const std::uint8_t* p, int bits) {
    switch (bits) {
    case 15:
    case 16: {
        const unsigned v = toolkit::loadU16le(p);
        return Bgra{widen5(v & 0x1F), widen5((v >> 5) & 0x1F), widen5((v >> 10) & 0x1F),
                    std::uint8_t((v & 0x8000) ? 255 : 0)};
    }
    case 24:
        return Bgra{p[0], p[1], p[2], 255};
    default:
        return Bgra{p[0], p[1], p[2], p[3]};
    }
}

} // namespace

bool looksLikeTga(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 18) return false;
    detail::ByteReader r(bytes);
    return valid(parseHeader(r));
}

toolkit::Image decodeTga(std::span<const std::uint8_t> bytes) {
    detail::ByteReader r(bytes);
    if (r.size() < 18) return {};
    const Header h = parseHeader(r);
    if (!valid(h)) return {};
    const int base = h.imageType & ~8;
    const bool runLength = (h.imageType & 8) != 0;
    const int alphaBits = h.descriptor & 0x0F;

    // Alpha is kept where the pixels carry it: 32-bit colours, 16-bit colours that declare their
    // attribute bit, and greyscale with an alpha byte.
    bool alpha = false;
    const int colorBits = base == 1 ? h.mapEntryBits : h.pixelBits;
    if (base == 3)
        alpha = h.pixelBits == 16;
    else if (colorBits == 32)
        alpha = true;
    else if (colorBits == 16)
        alpha = alphaBits == 1;

    Image image =
        detail::allocateImage(h.width, h.height, alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24);
    if (image.empty()) return {};

    std::size_t pos = 18 + std::size_t(h.idLength);
    std::vector<Bgra> map;
    if (h.colorMapType == 1) {
        const std::size_t entryBytes = (std::size_t(h.mapEntryBits) + 7) / 8;
        const std::size_t mapBytes = entryBytes * std::size_t(h.mapLength);
        const auto stored = r.bytes(pos, mapBytes);
        if (base == 1) {
            if (stored.empty() && mapBytes > 0) return {};
            map.resize(std::size_t(h.mapFirst) + std::size_t(h.mapLength), Bgra{0, 0, 0, 255});
            for (int i = 0; i < h.mapLength; ++i) {
                map[std::size_t(h.mapFirst + i)] =
                    colorOf(stored.data() + entryBytes * std::size_t(i), h.mapEntryBits);
            }
        }
        pos += mapBytes;
    }

    const std::size_t pixelBytes = (std::size_t(h.pixelBits) + 7) / 8;
    const auto toColor = [&](const std::uint8_t* p) -> Bgra {
        if (base == 1) {
            const std::size_t index = pixelBytes == 1 ? p[0] : toolkit::loadU16le(p);
            return index < map.size() ? map[index] : Bgra{0, 0, 0, 255};
        }
        if (base == 3) return Bgra{p[0], p[0], p[0], pixelBytes == 2 ? p[1] : std::uint8_t(255)};
        return colorOf(p, h.pixelBits);
    };

    const bool topDown = (h.descriptor & 0x20) != 0;
    const bool rightToLeft = (h.descriptor & 0x10) != 0;
    const int bpp = image.bytesPerPixel();
    const std::size_t total = std::size_t(h.width) * std::size_t(h.height);
    const auto store = [&](std::size_t index, Bgra c) {
        const int row = int(index / std::size_t(h.width));
        const int col = int(index % std::size_t(h.width));
        const int y = topDown ? row : h.height - 1 - row;
        const int x = rightToLeft ? h.width - 1 - col : col;
        std::uint8_t* d = image.row(y) + std::size_t(x) * std::size_t(bpp);
        d[0] = c.b;
        d[1] = c.g;
        d[2] = c.r;
        if (bpp == 4) d[3] = c.a;
    };

    const std::span<const std::uint8_t> data = r.tail(pos);
    std::size_t at = 0;
    std::size_t done = 0;
    if (!runLength) {
        const std::size_t available = data.size() / pixelBytes;
        const std::size_t count = available < total ? available : total;
        for (; done < count; ++done)
            store(done, toColor(&data[done * pixelBytes]));
        if (done == 0) return {};
        return image;
    }
    while (done < total && at < data.size()) {
        const std::uint8_t packet = data[at++];
        const std::size_t count = std::size_t(packet & 0x7F) + 1;
        if (packet & 0x80) {
            if (data.size() - at < pixelBytes) break;
            const Bgra c = toColor(&data[at]);
            at += pixelBytes;
            for (std::size_t i = 0; i < count && done < total; ++i)
                store(done++, c);
        } else {
            for (std::size_t i = 0; i < count && done < total; ++i) {
                if (data.size() - at < pixelBytes) break;
                store(done++, toColor(&data[at]));
                at += pixelBytes;
            }
            if (data.size() - at < pixelBytes && done < total) break;
        }
    }
    if (done == 0) return {};
    return image;
}

} // namespace quill::imagefiles
