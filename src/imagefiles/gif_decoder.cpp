// The program's own GIF decoder: the first image of a file, with a single transparent colour.
//
// Quirks (deliberate, each covered by a test):
// - Only the first image is decoded, at its own width and height; its offsets and the logical
//   screen size are ignored.
// - Transparency is by colour, not by index: every pixel whose colour equals the transparent
//   entry becomes transparent, also pixels of another index with the same colour.
// - The transparent colour is looked up in the global colour table even when the image brings a
//   local table; without a global table it is black.
// - When more than 50 bytes follow the first image's data (further frames, trailing comments),
//   the image is shown without transparency.
// - A minimum code size outside 2..8 is refused; bytes between blocks that start no block are
//   skipped.
// - Image data that ends before the end code (end of file, an empty sub-block, or a code that
//   points beyond the table) ends the decode: the rows decoded so far are kept, the rest is
//   palette entry 0.
#include "imagefiles/gif_decoder.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "imagefiles/detail/byte_reader.h"

namespace quill::imagefiles {
namespace {

constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::size_t kTrailingBytesOfStill = 50;
// LZW codes grow to at most 12 bits, so the table holds at most 4096 entries.
constexpr int kMaxCodeWidth = 12;
constexpr int kMaxCodes = 1 << kMaxCodeWidth;
// The signature and version, then the logical screen descriptor with its flags byte.
constexpr std::size_t kHeaderBytes = 13;
constexpr std::size_t kSignatureBytes = 6;
constexpr std::size_t kScreenFlagsAt = 10;
// Flags of the screen and of an image: a colour table follows, of 2 << (flags & 7) entries; the
// image's rows are interlaced.
constexpr std::uint8_t kFlagColorTable = 0x80;
constexpr std::uint8_t kFlagInterlaced = 0x40;
constexpr std::uint8_t kFlagTableSizeMask = 0x07;
// The graphic control extension's flag for a transparent colour index.
constexpr std::uint8_t kGraphicControlTransparent = 0x01;
// The minimum LZW code sizes accepted.
constexpr int kMinCodeSizeLow = 2;
constexpr int kMinCodeSizeHigh = 8;

int bitsForTableSize(int entries) {
    if (entries <= 2) return 1;
    if (entries <= 16) return 4;
    return 8;
}

// Reads a colour table of `entries` RGB triples; false when the data ends first.
bool readColorTable(detail::ByteReader& reader, int entries, std::array<DecodedColor, 256>& out) {
    const auto raw = reader.take(std::size_t(entries) * 3);
    if (!raw) return false;
    for (int i = 0; i < entries; ++i) {
        out[i] = DecodedColor{(*raw)[3 * i], (*raw)[3 * i + 1], (*raw)[3 * i + 2]};
    }
    return true;
}

struct ColorTable {
    std::array<DecodedColor, 256> colors{};
    int size = 0; // 0: the file has no such table
};

// Reads the colour table that `flags` announce, if any; false when the data ends first.
bool readFlaggedTable(detail::ByteReader& reader, std::uint8_t flags, ColorTable& table) {
    if ((flags & kFlagColorTable) == 0) return true;
    table.size = 2 << (flags & kFlagTableSizeMask);
    return readColorTable(reader, table.size, table.colors);
}

// Skips a chain of data sub-blocks up to and including the empty block that ends it. The first
// sub-block's bytes are handed to `firstBlock` (graphic control extensions keep their fields
// there). False when the data ends first.
template <typename FirstBlock>
bool walkSubBlocks(detail::ByteReader& reader, FirstBlock&& firstBlock) {
    bool first = true;
    for (;;) {
        const auto length = reader.u8();
        if (!length) return false;
        if (*length == 0) return true;
        const auto block = reader.take(*length);
        if (!block) return false;
        if (first) firstBlock(*block);
        first = false;
    }
}

// Reads LZW codes, least significant bit first, from the image's data sub-blocks.
class CodeReader {
public:
    explicit CodeReader(detail::ByteReader& reader) : m_reader(reader) {}

    // The next code of `width` bits; nothing when the data ends (end of file or an empty
    // sub-block) before the code is complete.
    std::optional<int> read(int width) {
        while (m_bitCount < width) {
            if (m_blockLeft == 0) {
                const auto length = m_reader.u8();
                if (!length || *length == 0) return std::nullopt;
                m_blockLeft = *length;
            }
            const auto byte = m_reader.u8();
            if (!byte) return std::nullopt;
            --m_blockLeft;
            m_bits |= std::uint32_t(*byte) << m_bitCount;
            m_bitCount += 8;
        }
        const int code = int(m_bits & ((1u << width) - 1));
        m_bits >>= width;
        m_bitCount -= width;
        return code;
    }

    // The file position at the end of the sub-block being read: where a reader that loads
    // whole sub-blocks would stand.
    [[nodiscard]] std::size_t blockEndPosition() const { return m_reader.position() + m_blockLeft; }

private:
    detail::ByteReader& m_reader;
    std::size_t m_blockLeft = 0;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
};

// Collects pixels into rows and stores them in the bitmap, in interlaced order when asked.
class RowWriter {
public:
    RowWriter(PackedDib& dib, bool interlaced)
        : m_dib(dib), m_row(std::size_t(dib.width()), 0), m_interlaced(interlaced) {}

    [[nodiscard]] bool complete() const { return m_complete; }

    void put(std::uint8_t pixel) {
        if (m_complete) return;
        m_row[m_count++] = pixel;
        if (m_count == m_row.size()) {
            storeRow();
            advance();
        }
    }

    // Puts the pixels of a decoded string, which the LZW stack holds last pixel first.
    void putReversed(const std::uint8_t* stack, std::size_t depth) {
        while (depth > 0 && !m_complete) {
            const std::size_t n = std::min(depth, m_row.size() - m_count);
            std::uint8_t* out = m_row.data() + m_count;
            for (std::size_t i = 0; i < n; ++i)
                out[i] = stack[depth - 1 - i];
            depth -= n;
            m_count += n;
            if (m_count == m_row.size()) {
                storeRow();
                advance();
            }
        }
    }

    // Writes a partly collected row; the pixels it lacks are 0.
    void flush() {
        if (!m_complete && m_count > 0) storeRow();
    }

private:
    void storeRow() {
        const auto out = m_dib.imageRow(m_rowIndex);
        const std::size_t width = m_row.size();
        switch (m_dib.bitsPerPixel()) {
        case 8:
            std::copy(m_row.begin(), m_row.end(), out.begin());
            break;
        case 4:
            for (std::size_t x = 0; x < width; ++x) {
                out[x / 2] |= std::uint8_t((m_row[x] & 0x0F) << (x % 2 == 0 ? 4 : 0));
            }
            break;
        default:
            for (std::size_t x = 0; x < width; ++x) {
                if (m_row[x] != 0) out[x / 8] |= std::uint8_t(0x80 >> (x % 8));
            }
            break;
        }
        std::fill(m_row.begin(), m_row.end(), 0);
        m_count = 0;
    }

    void advance() {
        static constexpr int kStart[4] = {0, 4, 2, 1};
        static constexpr int kStep[4] = {8, 8, 4, 2};
        const int height = m_dib.height();
        if (!m_interlaced) {
            if (++m_rowIndex >= height) m_complete = true;
            return;
        }
        m_rowIndex += kStep[m_pass];
        while (m_rowIndex >= height) {
            if (++m_pass > 3) {
                m_complete = true;
                return;
            }
            m_rowIndex = kStart[m_pass];
        }
    }

    PackedDib& m_dib;
    std::vector<std::uint8_t> m_row;
    std::size_t m_count = 0;
    int m_rowIndex = 0;
    int m_pass = 0;
    bool m_interlaced = false;
    bool m_complete = false;
};

// Decodes the LZW code stream into `writer`. Returns true when the end code was met.
bool decodeLzw(CodeReader& codes, int minCodeSize, RowWriter& writer) {
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    const int firstFree = clearCode + 2;
    int codeWidth = minCodeSize + 1;
    int slotLimit = 1 << codeWidth;
    int nextSlot = firstFree;
    int previous = -1; // no previous code: the stream starts as after a clear code
    std::uint8_t firstChar = 0;

    std::vector<std::uint16_t> prefix(kMaxCodes, 0);
    std::vector<std::uint8_t> suffix(kMaxCodes, 0);
    std::vector<std::uint8_t> stack(kMaxCodes + 1, 0);

    for (;;) {
        auto code = codes.read(codeWidth);
        if (!code) return false;
        int c = *code;

        if (c == clearCode) {
            codeWidth = minCodeSize + 1;
            slotLimit = 1 << codeWidth;
            nextSlot = firstFree;
            do {
                code = codes.read(codeWidth);
            } while (code && *code == clearCode);
            if (!code) return false;
            c = *code;
            if (c == endCode) return true;
            if (c >= nextSlot) c = 0;
            writer.put(std::uint8_t(c));
            previous = c;
            firstChar = std::uint8_t(c);
            continue;
        }
        if (c == endCode) return true;
        if (previous < 0) {
            // A stream that does not open with a clear code: its first code is a plain pixel.
            if (c >= firstFree) return false;
            writer.put(std::uint8_t(c));
            previous = c;
            firstChar = std::uint8_t(c);
            continue;
        }
        // A code beyond the next free slot cannot come from an encoder: the data is corrupt.
        if (c > nextSlot) return false;

        const int codeRead = c;
        std::size_t depth = 0;
        if (!writer.complete()) {
            if (c == nextSlot) {
                stack[depth++] = firstChar;
                c = previous;
            }
            // Every entry's prefix is a lower code, so this walk ends within the table size.
            while (c >= firstFree && depth < stack.size() - 1) {
                stack[depth++] = suffix[c];
                c = prefix[c];
            }
            stack[depth++] = std::uint8_t(c);
        }
        if (nextSlot < slotLimit) {
            firstChar = std::uint8_t(c);
            suffix[nextSlot] = std::uint8_t(c);
            prefix[nextSlot] = std::uint16_t(previous);
            ++nextSlot;
            previous = codeRead;
        }
        if (nextSlot >= slotLimit && codeWidth < kMaxCodeWidth) {
            slotLimit *= 2;
            ++codeWidth;
        }
        writer.putReversed(stack.data(), depth);
    }
}

// Reads the signature and the logical screen with its global colour table.
bool readScreen(detail::ByteReader& reader, ColorTable& global) {
    const auto header = reader.take(kHeaderBytes);
    if (!header) return false;
    const std::span<const std::uint8_t> signature = header->first(kSignatureBytes);
    const auto matches = [&](const char* text) {
        for (std::size_t i = 0; i < kSignatureBytes; ++i) {
            if (signature[i] != std::uint8_t(text[i])) return false;
        }
        return true;
    };
    if (!matches("GIF89a") && !matches("GIF87a")) return false;
    return readFlaggedTable(reader, (*header)[kScreenFlagsAt], global);
}

struct Transparency {
    bool on = false;
    DecodedColor color;
};

// Walks the blocks before the first image by their own lengths, so that extension contents (a
// comment holding a comma, say) are never taken for an image separator; stops after the image
// separator. The last graphic control extension sets the transparency. False when the data ends
// first.
bool skipToFirstImage(detail::ByteReader& reader, const ColorTable& global,
                      Transparency& transparency) {
    for (;;) {
        const auto byte = reader.u8();
        if (!byte) return false;
        if (*byte == kImageSeparator) return true;
        if (*byte != kExtensionIntroducer) continue;
        const auto label = reader.u8();
        if (!label) return false;
        const bool graphicControl = *label == kGraphicControlLabel;
        const bool walked = walkSubBlocks(reader, [&](std::span<const std::uint8_t> block) {
            if (!graphicControl || block.size() < 4) return;
            transparency.on = (block[0] & kGraphicControlTransparent) != 0;
            transparency.color = global.colors[block[3]];
        });
        if (!walked) return false;
    }
}

struct ImageDescriptor {
    int width = 0;
    int height = 0;
    std::uint8_t flags = 0;
};

// The image descriptor after the separator; its offsets are read and ignored.
std::optional<ImageDescriptor> readImageDescriptor(detail::ByteReader& reader) {
    const auto left = reader.u16le();
    const auto top = reader.u16le();
    const auto width = reader.u16le();
    const auto height = reader.u16le();
    const auto flags = reader.u8();
    if (!left || !top || !width || !height || !flags) return std::nullopt;
    return ImageDescriptor{*width, *height, *flags};
}

} // namespace

std::optional<GifBitmap> decodeGifBitmap(std::span<const std::uint8_t> bytes) {
    detail::ByteReader reader(bytes);
    ColorTable global;
    if (!readScreen(reader, global)) return std::nullopt;
    Transparency transparency;
    if (!skipToFirstImage(reader, global, transparency)) return std::nullopt;
    const auto descriptor = readImageDescriptor(reader);
    if (!descriptor) return std::nullopt;
    ColorTable local;
    if (!readFlaggedTable(reader, descriptor->flags, local)) return std::nullopt;
    const ColorTable& table = local.size > 0 ? local : global;
    if (table.size == 0) return std::nullopt;

    const auto minCodeSize = reader.u8();
    if (!minCodeSize || *minCodeSize < kMinCodeSizeLow || *minCodeSize > kMinCodeSizeHigh)
        return std::nullopt;

    auto dib = PackedDib::create(descriptor->width, descriptor->height,
                                 bitsForTableSize(table.size), table.size);
    if (!dib) return std::nullopt;
    for (int i = 0; i < table.size; ++i)
        dib->setPaletteEntry(i, table.colors[i]);

    CodeReader codes(reader);
    RowWriter writer(*dib, (descriptor->flags & kFlagInterlaced) != 0);
    decodeLzw(codes, *minCodeSize, writer);
    writer.flush();

    // Further frames or blocks after the first image: an animation's first frame is shown
    // without transparency.
    const std::size_t reached = codes.blockEndPosition();
    if (reached < bytes.size() && bytes.size() - reached > kTrailingBytesOfStill) {
        transparency.on = false;
    }
    return GifBitmap{std::move(*dib), transparency.on, transparency.color};
}

toolkit::Image decodeGif(std::span<const std::uint8_t> bytes) {
    auto bitmap = decodeGifBitmap(bytes);
    if (!bitmap) return {};
    toolkit::Image image = packedDibToImage(std::move(bitmap->dib));
    if (image && bitmap->transparent) {
        // Without memory for the 32-bit copy the image is still usable, only opaque.
        (void)applyTransparentColor(image, bitmap->transparentColor);
    }
    return image;
}

} // namespace quill::imagefiles
