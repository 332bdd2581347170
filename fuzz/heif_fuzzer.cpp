// Fuzzes the HEIF reader with arbitrary file contents: decoding, metadata and the declared size.
#include "imagefiles/heif_codec.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const quill::imagefiles::DeclaredSize declared = quill::imagefiles::heifDeclaredSize(bytes);
    const quill::toolkit::Image image = quill::imagefiles::decodeHeif(bytes, {});
    if (image) {
        // Touch the last row so a wrongly sized buffer shows up under the sanitizer.
        volatile std::uint8_t sink = image.row(image.height() - 1)[image.stride() - 1];
        (void)sink;
        if (declared.width != image.width() || declared.height != image.height()) __builtin_trap();
    }
    const quill::imagefiles::FileMetadata meta = quill::imagefiles::readHeifMetadata(bytes);
    volatile std::size_t total = meta.exif.size() + meta.xmp.size() + meta.icc.size();
    (void)total;
    return 0;
}
