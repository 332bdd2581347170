// Fuzz target: the BMP decoder on arbitrary bytes, and the check that decoding an uncompressed
// bitmap from its file a slice at a time gives the pixels of decoding the whole file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "imagefiles/bmp_decoder.h"
#include "memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const quill::toolkit::Image image = quill::imagefiles::decodeBmp(bytes);
    const quill::fuzz::MemoryFile memory(bytes);
    auto file = memory.open();
    if (!file) return 0;
    const auto sliced = quill::imagefiles::decodeUncompressedBmpFile(*file, bytes);
    if (!sliced) return 0;
    if (sliced->width() != image.width() || sliced->height() != image.height() ||
        sliced->format() != image.format())
        std::abort();
    const std::size_t rowBytes = std::size_t(image.width()) * std::size_t(image.bytesPerPixel());
    for (int y = 0; y < image.height(); ++y)
        if (std::memcmp(sliced->row(y), image.row(y), rowBytes) != 0) std::abort();
    return 0;
}
