// Fuzz target: the BMP decoder on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imagefiles/bmp_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const quill::toolkit::Image image =
        quill::imagefiles::decodeBmp(std::span<const std::uint8_t>(data, size));
    (void)image;
    return 0;
}
