// Fuzzes the AVIF codec's readers (declared size, metadata, decoding) with arbitrary file contents.
#include "imagefiles/avif_codec.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)quill::imagefiles::looksLikeAvif(bytes.first(size < 64 ? size : 64));
    const quill::imagefiles::DeclaredSize declared = quill::imagefiles::avifDeclaredSize(bytes);
    const quill::imagefiles::FileMetadata metadata = quill::imagefiles::readAvifMetadata(bytes);
    if (!metadata.exif.empty() && metadata.exif[0] != 'I' && metadata.exif[0] != 'M')
        __builtin_trap(); // Exif must start at its byte-order mark
    const quill::toolkit::Image image = quill::imagefiles::decodeAvif(bytes, {});
    if (image) {
        // Touch the last row so a wrongly sized buffer shows up under the sanitizer.
        volatile std::uint8_t sink = image.row(image.height() - 1)[image.stride() - 1];
        (void)sink;
        (void)declared;
    }
    return 0;
}
