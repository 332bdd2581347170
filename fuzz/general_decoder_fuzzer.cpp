// Fuzz target: the general decoder (JPEG, PNG, BMP, TIFF, JPEG 2000, TGA by their first bytes),
// including the header checks made before a codec library is handed the bytes, and JPEG
// decoding reduced in the DCT.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imagefiles/general_decoder.h"
#include "imagefiles/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    (void)quill::imagefiles::decodeGeneral(bytes);
    if (size > 2 && data[0] == 0xFF && data[1] == 0xD8)
        (void)quill::imagefiles::decodeJpegScaled(bytes, 2 << (size % 3));
    return 0;
}
