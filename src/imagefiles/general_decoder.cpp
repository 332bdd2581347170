// The general decoder: picks a decoder by the file's first bytes.
#include "imagefiles/general_decoder.h"

#include <cstring>

#include "imagefiles/bmp_decoder.h"
#include "imagefiles/jpeg2000_decoder.h"
#include "imagefiles/jpeg_decoder.h"
#include "imagefiles/png_decoder.h"
#include "imagefiles/tga_decoder.h"
#include "imagefiles/tiff_decoder.h"

namespace quill::imagefiles {

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, const char* text, std::size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
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

} // namespace quill::imagefiles
