// Fuzzes the camera RAW decoder (LibRaw), its size reader and its metadata reader with arbitrary
// file contents.
#include "imagefiles/raw_codec.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)quill::imagefiles::looksLikeRaw(bytes);
    (void)quill::imagefiles::rawDeclaredSize(bytes);
    const quill::imagefiles::FileMetadata metadata = quill::imagefiles::readRawMetadata(bytes);
    if (!metadata.xmp.empty()) {
        volatile std::uint8_t sink = metadata.xmp.back();
        (void)sink;
    }
    // Half size too: it takes another path through LibRaw.
    for (const int reduction : {1, 2}) {
        const quill::toolkit::Image image = quill::imagefiles::decodeRaw(bytes, {reduction});
        if (image) {
            // Touch the last row so a wrongly sized buffer shows up under the sanitizer.
            volatile std::uint8_t sink = image.row(image.height() - 1)[image.stride() - 1];
            (void)sink;
        }
    }
    return 0;
}
