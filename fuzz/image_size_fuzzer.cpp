// Fuzz target: the header-only size reader (with its decode fallback) on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imagefiles/image_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quill::imagefiles::ImageRect rect;
    (void)quill::imagefiles::readImageSizeFromBytes(std::span<const std::uint8_t>(data, size),
                                                    rect);
    return 0;
}
