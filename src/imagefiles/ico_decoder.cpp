// The program's own icon and cursor decoder: one entry's colour bitmap with its mask merged in.
//
// Quirks (deliberate, each covered by a test):
// - The default entry is the one that occupies the most bytes, not the one with the largest
//   size or depth.
// - The mask is merged into the colours instead of becoming transparency: masked pixels become
//   palette entry 0 (palette entries) or black; a 32-bit entry keeps its own alpha byte.
// - The entry's header height counts colour and mask rows; the image is half as high. The
//   palette always has 2^bits entries for 1, 4 and 8 bits, whatever the header's colour count.
// - An entry stored as PNG data is decoded by the PNG decoder, alpha included; the mask rules
//   do not apply to it.
// - Colour rows that the file lacks stay zero and mask rows that it lacks leave their pixels
//   unmasked.
#include "imagefiles/ico_decoder.h"

#include <algorithm>
#include <array>
#include <utility>

#include "imagefiles/detail/byte_reader.h"
#include "imagefiles/png_decoder.h"
#include "toolkit/bytes.h"

namespace quill::imagefiles {
namespace {

constexpr std::size_t kDirectoryEntrySize = 16;
constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool isPng(std::span<const std::uint8_t> data) {
    return data.size() >= kPngSignature.size() &&
           std::equal(kPngSignature.begin(), kPngSignature.end(), data.begin());
}

bool pixelIsZero(std::span<const std::uint8_t> row, int x, int bits) {
    switch (bits) {
    case 1:
        return ((row[std::size_t(x) / 8] >> (7 - x % 8)) & 1) == 0;
    case 4:
        return ((row[std::size_t(x) / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F) == 0;
    case 8:
        return row[std::size_t(x)] == 0;
    case 16:
        return row[2 * std::size_t(x)] == 0 && row[2 * std::size_t(x) + 1] == 0;
    default: {
        const std::size_t at = std::size_t(x) * std::size_t(bits / 8);
        return row[at] == 0 && row[at + 1] == 0 && row[at + 2] == 0;
    }
    }
}

void setPixel(std::span<std::uint8_t> row, int x, int bits, toolkit::Rgba value) {
    const std::uint8_t index = value.red();
    switch (bits) {
    case 1: {
        const auto bit = std::uint8_t(0x80 >> (x % 8));
        auto& b = row[std::size_t(x) / 8];
        b = std::uint8_t((index & 1) ? (b | bit) : (b & ~bit));
        break;
    }
    case 4: {
        auto& b = row[std::size_t(x) / 2];
        b = x % 2 == 0 ? std::uint8_t((b & 0x0F) | ((index & 0x0F) << 4))
                       : std::uint8_t((b & 0xF0) | (index & 0x0F));
        break;
    }
    case 8:
        row[std::size_t(x)] = index;
        break;
    case 16: {
        const unsigned v = (unsigned(value.red() >> 3) << 10) |
                           (unsigned(value.green() >> 3) << 5) | unsigned(value.blue() >> 3);
        toolkit::storeU16le(&row[2 * std::size_t(x)], std::uint16_t(v));
        break;
    }
    default: {
        // The alpha byte of a 32-bit pixel stays as stored.
        const std::size_t at = std::size_t(x) * std::size_t(bits / 8);
        row[at] = value.blue();
        row[at + 1] = value.green();
        row[at + 2] = value.red();
        break;
    }
    }
}

// Where the chosen entry's image lies: its offset and its byte count as the directory says.
struct EntryLocation {
    std::size_t offset = 0;
    std::size_t size = 0;
};

std::optional<EntryLocation> chooseEntry(std::span<const std::uint8_t> bytes, int entryIndex) {
    detail::ByteReader reader(bytes);
    const auto reserved = reader.u16le();
    const auto type = reader.u16le();
    const auto count = reader.u16le();
    if (!reserved || !type || !count) return std::nullopt;
    if (*reserved != 0 || (*type != 1 && *type != 2) || *count < 1) return std::nullopt;
    const auto directory = reader.take(std::size_t(*count) * kDirectoryEntrySize);
    if (!directory) return std::nullopt;

    detail::ByteReader entries(*directory);
    const auto field = [&](int entry, std::size_t offset) {
        return entries.u32le(std::size_t(entry) * kDirectoryEntrySize + offset);
    };
    int chosen = entryIndex;
    if (entryIndex == -1) {
        chosen = 0;
        for (int i = 1; i < *count; ++i) {
            if (field(i, 8) > field(chosen, 8)) chosen = i;
        }
    } else if (entryIndex < 0 || entryIndex >= *count) {
        chosen = 0;
    }
    return EntryLocation{field(chosen, 12), field(chosen, 8)};
}

} // namespace

std::optional<PackedDib> decodeIconBitmap(std::span<const std::uint8_t> bytes, int entryIndex,
                                          toolkit::Rgba maskedZero, toolkit::Rgba maskedOther) {
    const auto entry = chooseEntry(bytes, entryIndex);
    if (!entry) return std::nullopt;
    detail::ByteReader reader(bytes);
    if (!reader.seek(entry->offset)) return std::nullopt;
    if (isPng(bytes.subspan(entry->offset))) return std::nullopt;
    const auto header = reader.take(PackedDib::kHeaderSize);
    if (!header) return std::nullopt;
    detail::ByteReader fields(*header);
    const int width = std::int32_t(fields.u32le(4));
    const int fullHeight = std::int32_t(fields.u32le(8));
    const int bits = fields.u16le(14);
    const int height = fullHeight / 2;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return std::nullopt;
    }

    auto dib = PackedDib::create(width, height, bits);
    if (!dib) return std::nullopt;
    const auto palette = reader.take(4 * std::size_t(dib->paletteSize()));
    if (!palette) return std::nullopt;
    for (int i = 0; i < dib->paletteSize(); ++i) {
        const auto* p = palette->data() + 4 * i;
        dib->setPaletteEntry(i, DecodedColor{p[2], p[1], p[0]});
    }

    // Both bitmaps are stored bottom row first, like the packed bitmap itself.
    const std::size_t rowBytes = dib->rowBytes();
    for (int stored = 0; stored < height && !reader.atEnd(); ++stored) {
        const auto src = reader.takeUpTo(rowBytes);
        std::copy(src.begin(), src.end(), dib->imageRow(height - 1 - stored).begin());
    }
    const std::size_t maskRowBytes = PackedDib::rowBytesFor(width, 1);
    for (int stored = 0; stored < height; ++stored) {
        const auto mask = reader.take(maskRowBytes);
        if (!mask) break;
        const auto row = dib->imageRow(height - 1 - stored);
        for (int x = 0; x < width; ++x) {
            if (((*mask)[std::size_t(x) / 8] >> (7 - x % 8) & 1) == 0) continue;
            setPixel(row, x, bits, pixelIsZero(row, x, bits) ? maskedZero : maskedOther);
        }
    }
    return dib;
}

toolkit::Image decodeIco(std::span<const std::uint8_t> bytes) {
    const auto entry = chooseEntry(bytes, -1);
    if (!entry) return {};
    if (entry->offset < bytes.size() && isPng(bytes.subspan(entry->offset))) {
        // An entry stored as PNG goes to the PNG decoder, limited to the entry's own bytes.
        const std::size_t size = std::min(entry->size, bytes.size() - entry->offset);
        return decodePng(bytes.subspan(entry->offset, size));
    }
    auto dib = decodeIconBitmap(bytes, -1, toolkit::Rgba{0}, toolkit::Rgba{0});
    if (!dib) return {};
    return packedDibToImage(std::move(*dib));
}

} // namespace quill::imagefiles
