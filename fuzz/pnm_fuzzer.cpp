// Fuzzes the own PNM decoder with arbitrary file contents, and checks that decoding a raw map
// from its file a slice at a time gives the pixels of decoding the whole file.
#include "imagefiles/pnm_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const quill::toolkit::Image image = quill::imagefiles::decodePnm(bytes);
    if (image) {
        // Touch the last row so a wrongly sized buffer shows up under the sanitizer.
        volatile std::uint8_t sink = image.row(image.height() - 1)[image.stride() - 1];
        (void)sink;
    }
    const quill::fuzz::MemoryFile memory(bytes);
    auto file = memory.open();
    if (!file) return 0;
    const auto sliced = quill::imagefiles::decodeRawPnmFile(*file, bytes);
    if (!sliced) return 0;
    if (sliced->width() != image.width() || sliced->height() != image.height()) std::abort();
    for (int y = 0; y < image.height(); ++y)
        if (std::memcmp(sliced->row(y), image.row(y), std::size_t(image.width()) * 3) != 0)
            std::abort();
    return 0;
}
