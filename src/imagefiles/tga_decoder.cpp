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

// The fixed header before the image identifier, colour map and pixels.
constexpr std::size_t kHeaderBytes = 18;

// The image type: its low bits say how the pixels are stored, this bit that they are run-length
// packets.
enum ImageType : int { ColorMapped = 1, TrueColor = 2, Greyscale = 3 };
constexpr int kImageTypeRunLength = 8;

// The image descriptor: the count of attribute (alpha) bits per pixel and the pixel order.
constexpr int kDescriptorAlphaBitsMask = 0x0F;
constexpr int kDescriptorRightToLeft = 0x10;
constexpr int kDescriptorTopDown = 0x20;

// A run-length packet's first byte: the top bit marks a repeated colour, the rest count - 1.
constexpr std::uint8_t kPacketRepeat = 0x80;
constexpr std::uint8_t kPacketCountMask = 0x7F;

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

    [[nodiscard]] int storage() const { return imageType & ~kImageTypeRunLength; }
    [[nodiscard]] bool runLength() const { return (imageType & kImageTypeRunLength) != 0; }
    [[nodiscard]] std::size_t pixelBytes() const { return (std::size_t(pixelBits) + 7) / 8; }
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
    switch (h.storage()) {
    case ColorMapped:
        if (h.colorMapType != 1 || (h.pixelBits != 8 && h.pixelBits != 16)) return false;
        return h.mapEntryBits == 15 || h.mapEntryBits == 16 || h.mapEntryBits == 24 ||
               h.mapEntryBits == 32;
    case TrueColor:
        return h.pixelBits == 15 || h.pixelBits == 16 || h.pixelBits == 24 || h.pixelBits == 32;
    case Greyscale:
        return h.pixelBits == 8 || h.pixelBits == 16;
    default:
        return false;
    }
}

// Alpha is kept where the pixels carry it: 32-bit colours, 16-bit colours that declare their
// attribute bit, and greyscale with an alpha byte.
bool hasAlpha(const Header& h) {
    if (h.storage() == Greyscale) return h.pixelBits == 16;
    const int colorBits = h.storage() == ColorMapped ? h.mapEntryBits : h.pixelBits;
    if (colorBits == 32) return true;
    return colorBits == 16 && (h.descriptor & kDescriptorAlphaBitsMask) == 1;
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

// Reads the colour map that starts at `pos` and moves `pos` past it. A map is stored only for
// colour-mapped images; other types skip it. False when a needed map is cut short.
bool readColorMap(detail::ByteReader& r, const Header& h, std::size_t& pos,
                  std::vector<Bgra>& map) {
    if (h.colorMapType != 1) return true;
    const std::size_t entryBytes = (std::size_t(h.mapEntryBits) + 7) / 8;
    const std::size_t mapBytes = entryBytes * std::size_t(h.mapLength);
    const auto stored = r.bytes(pos, mapBytes);
    pos += mapBytes;
    if (h.storage() != ColorMapped) return true;
    if (stored.empty() && mapBytes > 0) return false;
    map.resize(std::size_t(h.mapFirst) + std::size_t(h.mapLength), Bgra{0, 0, 0, 255});
    for (int i = 0; i < h.mapLength; ++i) {
        map[std::size_t(h.mapFirst + i)] =
            colorOf(stored.data() + entryBytes * std::size_t(i), h.mapEntryBits);
    }
    return true;
}

// Turns one stored pixel into its colour: a map index, a grey level (with alpha) or a colour.
class PixelColors {
public:
    PixelColors(const Header& h, const std::vector<Bgra>& map)
        : m_h(h), m_map(map), m_pixelBytes(h.pixelBytes()) {}

    [[nodiscard]] Bgra operator()(const std::uint8_t* p) const {
        if (m_h.storage() == ColorMapped) {
            const std::size_t index = m_pixelBytes == 1 ? p[0] : toolkit::loadU16le(p);
            return index < m_map.size() ? m_map[index] : Bgra{0, 0, 0, 255};
        }
        if (m_h.storage() == Greyscale)
            return Bgra{p[0], p[0], p[0], m_pixelBytes == 2 ? p[1] : std::uint8_t(255)};
        return colorOf(p, m_h.pixelBits);
    }

private:
    const Header& m_h;
    const std::vector<Bgra>& m_map;
    std::size_t m_pixelBytes;
};

// Writes the pixels in stream order into the image, placed by the descriptor's origin.
class PixelStore {
public:
    PixelStore(const Header& h, Image& image)
        : m_image(image), m_width(std::size_t(h.width)), m_height(h.height),
          m_topDown((h.descriptor & kDescriptorTopDown) != 0),
          m_rightToLeft((h.descriptor & kDescriptorRightToLeft) != 0),
          m_bpp(image.bytesPerPixel()) {}

    [[nodiscard]] std::size_t total() const { return m_width * std::size_t(m_height); }

    void operator()(std::size_t index, Bgra c) {
        const int row = int(index / m_width);
        const int col = int(index % m_width);
        const int y = m_topDown ? row : m_height - 1 - row;
        const int x = m_rightToLeft ? int(m_width) - 1 - col : col;
        std::uint8_t* d = m_image.row(y) + std::size_t(x) * std::size_t(m_bpp);
        d[0] = c.b;
        d[1] = c.g;
        d[2] = c.r;
        if (m_bpp == 4) d[3] = c.a;
    }

private:
    Image& m_image;
    std::size_t m_width;
    int m_height;
    bool m_topDown;
    bool m_rightToLeft;
    int m_bpp;
};

// Raw pixels, as many as the data holds; returns the count stored.
std::size_t decodeRaw(std::span<const std::uint8_t> data, std::size_t pixelBytes,
                      const PixelColors& colors, PixelStore& store) {
    const std::size_t available = data.size() / pixelBytes;
    const std::size_t count = available < store.total() ? available : store.total();
    for (std::size_t done = 0; done < count; ++done)
        store(done, colors(&data[done * pixelBytes]));
    return count;
}

// Run-length packets until the image is full or the data ends; returns the count stored.
std::size_t decodeRunLength(std::span<const std::uint8_t> data, std::size_t pixelBytes,
                            const PixelColors& colors, PixelStore& store) {
    const std::size_t total = store.total();
    std::size_t at = 0;
    std::size_t done = 0;
    while (done < total && at < data.size()) {
        const std::uint8_t packet = data[at++];
        const std::size_t count = std::size_t(packet & kPacketCountMask) + 1;
        if (packet & kPacketRepeat) {
            if (data.size() - at < pixelBytes) break;
            const Bgra c = colors(&data[at]);
            at += pixelBytes;
            for (std::size_t i = 0; i < count && done < total; ++i)
                store(done++, c);
        } else {
            for (std::size_t i = 0; i < count && done < total; ++i) {
                if (data.size() - at < pixelBytes) break;
                store(done++, colors(&data[at]));
                at += pixelBytes;
            }
            if (data.size() - at < pixelBytes && done < total) break;
        }
    }
    return done;
}

} // namespace

bool looksLikeTga(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes) return false;
    detail::ByteReader r(bytes);
    return valid(parseHeader(r));
}

toolkit::Image decodeTga(std::span<const std::uint8_t> bytes) {
    detail::ByteReader r(bytes);
    if (r.size() < kHeaderBytes) return {};
    const Header h = parseHeader(r);
    if (!valid(h)) return {};

    Image image = detail::allocateImage(h.width, h.height,
                                        hasAlpha(h) ? PixelFormat::Bgra32 : PixelFormat::Bgr24);
    if (image.empty()) return {};

    std::size_t pos = kHeaderBytes + std::size_t(h.idLength);
    std::vector<Bgra> map;
    if (!readColorMap(r, h, pos, map)) return {};

    const PixelColors colors(h, map);
    PixelStore store(h, image);
    const std::span<const std::uint8_t> data = r.tail(pos);
    const std::size_t stored = h.runLength() ? decodeRunLength(data, h.pixelBytes(), colors, store)
                                             : decodeRaw(data, h.pixelBytes(), colors, store);
    if (stored == 0) return {};
    return image;
}

} // namespace quill::imagefiles
