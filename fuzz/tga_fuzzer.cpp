// Fuzz target: the TGA decoder on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imagefiles/tga_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const quill::toolkit::Image image =
        quill::imagefiles::decodeTga(std::span<const std::uint8_t>(data, size));
    (void)image;
    return 0;
}
