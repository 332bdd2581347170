// The general decoder: picks a decoder by the file's first bytes.
#include "imagefiles/general_decoder.h"

#include <algorithm>
#include <cstring>

#include "imagefiles/bmp_decoder.h"
#include "imagefiles/format.h"
#include "imagefiles/jpeg2000_decoder.h"
#include "imagefiles/jpeg_decoder.h"
#include "imagefiles/png_decoder.h"
#include "imagefiles/tga_decoder.h"
#include "imagefiles/tiff_decoder.h"
#include "toolkit/ascii.h"

namespace quill::imagefiles {

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, const char* text, std::size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
}

// Where the colour-key step reads a PNG: the type of the first chunk after IHDR (8 bytes of
// signature, 25 of IHDR, 4 of length), and, when that chunk is tRNS, the low bytes of its 16-bit
// red, green and blue samples.
constexpr std::size_t kColorKeyHeadBytes = 50;
constexpr std::size_t kFirstChunkTypeAt = 37;
constexpr std::size_t kKeyRedAt = 42;
constexpr std::size_t kKeyGreenAt = 44;
constexpr std::size_t kKeyBlueAt = 46;

// The colour-key step on the first bytes of a file.
toolkit::Image applyColorKey(toolkit::Image image, std::span<const std::uint8_t> head) {
    if (image.empty() || head.size() < kColorKeyHeadBytes) return image;
    const auto upper = [](std::uint8_t c) { return toolkit::toUpperAscii(char(c)); };
    if (upper(head[1]) != 'P' || upper(head[2]) != 'N' || upper(head[3]) != 'G') return image;
    const std::size_t at = kFirstChunkTypeAt;
    if (upper(head[at]) != 'T' || upper(head[at + 1]) != 'R' || upper(head[at + 2]) != 'N' ||
        upper(head[at + 3]) != 'S') {
        return image;
    }
    // The decoder already turned the tRNS chunk into alpha, exactly and for every colour type;
    // keying again on the low bytes of the chunk could only take that transparency away.
    if (image.hasAlpha()) return image;
    const std::uint8_t red = head[kKeyRedAt], green = head[kKeyGreenAt], blue = head[kKeyBlueAt];
    toolkit::Image keyed = image.toBgra32();
    if (keyed.empty()) return image;
    for (int y = 0; y < keyed.height(); ++y) {
        std::uint8_t* p = keyed.row(y);
        for (int x = 0; x < keyed.width(); ++x, p += 4) {
            p[3] = (p[0] == blue && p[1] == green && p[2] == red) ? 0 : 255;
        }
    }
    return keyed;
}

} // namespace

toolkit::Image decodeGeneral(std::span<const std::uint8_t> bytes) {
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        return decodeJpeg(bytes);
    }
    if (startsWith(bytes, "\x89PNG\r\n\x1A\n", 8)) return decodePng(bytes);
    if (startsWith(bytes, "BM", 2)) return decodeBmp(bytes);
    if (startsWith(bytes, "II*\0", 4) || startsWith(bytes, "MM\0*", 4) ||
        startsWith(bytes, "II+\0", 4) || startsWith(bytes, "MM\0+", 4)) {
        return decodeTiff(bytes);
    }
    if (isJp2BoxFile(bytes) || isJ2kCodestream(bytes)) return decodeJpeg2000(bytes);
    // GIF files share no signature with TGA headers in practice, but say so explicitly: the
    // general decoder does not read them.
    if (startsWith(bytes, "GIF8", 4)) return {};
    if (looksLikeTga(bytes)) return decodeTga(bytes);
    return {};
}

toolkit::Image decodeByContent(std::span<const std::uint8_t> bytes, const DecodeRequest& request) {
    if (const FormatInfo* format = formatOfContent(bytes); format != nullptr)
        return format->decode(bytes, request);
    const int reduction = request.reduction;
    if ((reduction == 2 || reduction == 4 || reduction == 8) && bytes.size() >= 3 &&
        bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        return decodeJpegScaled(bytes, reduction);
    }
    return decodeGeneral(bytes);
}

toolkit::Image decodePngWithColorKey(std::span<const std::uint8_t> bytes, const DecodeRequest&) {
    return applyColorKey(decodeGeneral(bytes),
                         bytes.first(std::min(kColorKeyHeadBytes, bytes.size())));
}

} // namespace quill::imagefiles
