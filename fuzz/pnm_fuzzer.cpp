// Fuzzes the own PNM decoder with arbitrary file contents.
#include "imagefiles/pnm_decoder.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const quill::toolkit::Image image = quill::imagefiles::decodePnm(std::span(data, size));
    if (image) {
        // Touch the last row so a wrongly sized buffer shows up under the sanitizer.
        volatile std::uint8_t sink = image.row(image.height() - 1)[image.stride() - 1];
        (void)sink;
    }
    return 0;
}
