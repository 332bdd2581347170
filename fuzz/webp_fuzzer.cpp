// Fuzzes the WebP codec's readers with arbitrary file contents: the decoder (stills and the first
// frame of animations), the metadata reader and the declared size.
#include "imagefiles/webp_codec.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const quill::imagefiles::DeclaredSize declared = quill::imagefiles::webpDeclaredSize(bytes);
    const quill::toolkit::Image image = quill::imagefiles::decodeWebp(bytes, {});
    if (image) {
        // Touch the last row so a wrongly sized buffer shows up under the sanitizer.
        volatile std::uint8_t sink = image.row(image.height() - 1)[image.stride() - 1];
        (void)sink;
        if (declared.width != image.width() || declared.height != image.height()) __builtin_trap();
    }
    const quill::imagefiles::FileMetadata metadata = quill::imagefiles::readWebpMetadata(bytes);
    if (!metadata.exif.empty() && metadata.exif.size() < 8) __builtin_trap();
    return 0;
}
