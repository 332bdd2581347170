// Fuzz target: the general decoder (JPEG, PNG, BMP, TIFF, JPEG 2000, TGA by their first bytes),
// including the header checks made before a codec library is handed the bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imagefiles/general_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)quill::imagefiles::decodeGeneral(std::span<const std::uint8_t>(data, size));
    return 0;
}
