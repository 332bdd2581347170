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
#include "imagefiles/detail/file_rows.h"

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

struct Header {
    int kind = 0; // 1..6: the digit after the P
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t maximum = 1; // of a sample; 1 for bitmaps
};

// The signature and the numbers before the pixels; the reader is left at the first pixel.
std::optional<Header> readHeader(detail::ByteReader& reader) {
    const auto p = reader.u8();
    const auto digit = reader.u8();
    if (!p || !digit || *p != 'P' || *digit < '1' || *digit > '6') return std::nullopt;
    Header header;
    header.kind = *digit - '0';
    const auto width = readPnmNumber(reader);
    const auto height = readPnmNumber(reader);
    if (!width || !height) return std::nullopt;
    header.width = *width;
    header.height = *height;
    if (header.kind != 1 && header.kind != 4) {
        const auto value = readPnmNumber(reader);
        if (!value || *value < 1 || *value > 65535) return std::nullopt;
        header.maximum = *value;
    }
    return header;
}

// Reads one row of a grey map (kind 2 or 5) or a pix map (3 or 6) into `out`: a grey sample
// goes into `greyCopies` bytes (1: a palette index, 3: blue, green, red alike), a colour into
// blue, green, red. False when the data ends within the row; what was read stays.
bool readSampleRow(detail::ByteReader& reader, const Header& header, std::uint8_t* out, int width,
                   int greyCopies) {
    const bool wide = header.maximum > 255;
    const bool plain = header.kind == 2 || header.kind == 3;
    const auto next = [&] { return plain ? readPnmNumber(reader) : readRawSample(reader, wide); };
    if (header.kind == 2 || header.kind == 5) {
        for (int x = 0; x < width; ++x) {
            const auto sample = next();
            if (!sample) return false;
            std::fill_n(out + std::size_t(x) * std::size_t(greyCopies), greyCopies,
                        scale(*sample, header.maximum));
        }
        return true;
    }
    if (!plain && !wide && header.maximum == 255) {
        // The common case, read in bulk: bytes red, green, blue as they are.
        const auto src = reader.takeUpTo(3 * std::size_t(width));
        const std::size_t whole = src.size() / 3;
        for (std::size_t x = 0; x < whole; ++x) {
            out[3 * x] = src[3 * x + 2];
            out[3 * x + 1] = src[3 * x + 1];
            out[3 * x + 2] = src[3 * x];
        }
        return whole == std::size_t(width); // a pixel cut short stays black
    }
    for (int x = 0; x < width; ++x) {
        std::uint8_t rgb[3];
        for (auto& channel : rgb) {
            const auto sample = next();
            if (!sample) return false;
            channel = scale(*sample, header.maximum);
        }
        out[3 * std::size_t(x)] = rgb[2];
        out[3 * std::size_t(x) + 1] = rgb[1];
        out[3 * std::size_t(x) + 2] = rgb[0];
    }
    return true;
}

// The header at the start of `head` when it ends inside `head`: a number that runs to the end
// of the bytes might go on in the rest of the file.
std::optional<Header> readWholeHeader(std::span<const std::uint8_t> head, std::size_t& pixels) {
    detail::ByteReader reader(head);
    const auto header = readHeader(reader);
    if (!header || reader.atEnd()) return std::nullopt;
    pixels = reader.position();
    return header;
}

int bitsOf(const Header& header) {
    return (header.kind == 1 || header.kind == 4)   ? 1
           : (header.kind == 2 || header.kind == 5) ? 8
                                                    : 24;
}

} // namespace

std::optional<PackedDib> decodePnmBitmap(std::span<const std::uint8_t> bytes) {
    detail::ByteReader reader(bytes);
    const auto header = readHeader(reader);
    if (!header) return std::nullopt;
    const int kind = header->kind;
    const int bits = bitsOf(*header);
    auto dib = PackedDib::create(int(header->width), int(header->height), bits);
    if (!dib) return std::nullopt;
    if (bits == 1) {
        dib->setPaletteEntry(0, DecodedColor{0, 0, 0});
        dib->setPaletteEntry(1, DecodedColor{255, 255, 255});
    } else if (bits == 8) {
        for (int i = 0; i < 256; ++i) {
            const auto v = std::uint8_t(i);
            dib->setPaletteEntry(i, DecodedColor{v, v, v});
        }
    }

    const int w = dib->width();
    for (int y = 0; y < dib->height(); ++y) {
        const auto out = dib->imageRow(y);
        if (kind == 1) {
            for (int x = 0; x < w; ++x) {
                const auto pixel = readBitmapDigit(reader);
                if (!pixel) return dib;
                if (*pixel == '0') out[std::size_t(x) / 8] |= std::uint8_t(0x80 >> (x % 8));
            }
        } else if (kind == 4) {
            const std::size_t rowBytes = (std::size_t(w) + 7) / 8;
            const auto src = reader.takeUpTo(rowBytes);
            for (std::size_t i = 0; i < src.size(); ++i)
                out[i] = std::uint8_t(~src[i]);
            if (src.size() < rowBytes) return dib;
        } else if (!readSampleRow(reader, *header, out.data(), w, 1)) {
            return dib;
        }
    }
    return dib;
}

toolkit::Image decodePnm(std::span<const std::uint8_t> bytes) {
    detail::ByteReader reader(bytes);
    const auto header = readHeader(reader);
    if (!header) return {};
    if (header->kind == 1 || header->kind == 4) {
        auto dib = decodePnmBitmap(bytes);
        if (!dib) return {};
        return packedDibToImage(std::move(*dib));
    }
    // Grey and pix maps go straight into the image: no second copy of the pixels.
    // (Header numbers stop at 2^30, so they fit an int.)
    if (!PackedDib::sizeAllowed(int(header->width), int(header->height), bitsOf(*header)))
        return {};
    toolkit::Image image(int(header->width), int(header->height), toolkit::PixelFormat::Bgr24);
    if (image.empty()) return {};
    for (int y = 0; y < image.height(); ++y)
        if (!readSampleRow(reader, *header, image.row(y), image.width(), 3)) break;
    return image;
}

std::optional<std::pair<int, int>> readPnmSize(std::span<const std::uint8_t> head) {
    std::size_t pixels = 0;
    const auto header = readWholeHeader(head, pixels);
    if (!header) return std::nullopt;
    // Header numbers stop at 2^30, so they fit an int.
    const int width = int(header->width), height = int(header->height);
    if (!PackedDib::sizeAllowed(width, height, bitsOf(*header))) return std::nullopt;
    return std::pair{width, height};
}

std::optional<toolkit::Image> decodeRawPnmFile(platform::InputFile& file,
                                               std::span<const std::uint8_t> head) {
    std::size_t pixels = 0;
    const auto header = readWholeHeader(head, pixels);
    if (!header || (header->kind != 5 && header->kind != 6)) return std::nullopt;
    if (!PackedDib::sizeAllowed(int(header->width), int(header->height), bitsOf(*header)))
        return toolkit::Image{};
    toolkit::Image image(int(header->width), int(header->height), toolkit::PixelFormat::Bgr24);
    if (image.empty()) return image;
    // Raw samples take one or two bytes each, so every row has the same length and a row's
    // bytes decode on their own exactly as they would within the whole file.
    const std::size_t rowBytes =
        std::size_t(image.width()) * (header->kind == 6 ? 3 : 1) * (header->maximum > 255 ? 2 : 1);
    const bool read = detail::forEachFileRow(
        file, pixels, rowBytes, std::size_t(image.height()),
        [&](std::size_t y, std::span<const std::uint8_t> bytes) {
            detail::ByteReader reader(bytes);
            (void)readSampleRow(reader, *header, image.row(int(y)), image.width(), 3);
        });
    if (!read) return toolkit::Image{};
    return image;
}

} // namespace quill::imagefiles
