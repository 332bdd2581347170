// Fuzzes the profile parsers with arbitrary file contents (JPEG APP2 chains, PNG iCCP, TIFF's
// profile tag, JP2's colour box, and the codecs' metadata readers), then hands what they find to
// the Little CMS wrapper as the loader's caller does: classify it, convert a small image with it.
#include "imagefiles/colour_profile.h"
#include "imagefiles/icc_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quill;
    const std::span<const std::uint8_t> bytes(data, size);
    const std::vector<std::uint8_t> icc = imagefiles::readIccProfile(bytes);
    if (icc.size() > imagefiles::kMaxIccProfileBytes) __builtin_trap();
    // Also the input itself as a profile, so that the wrapper meets broken profiles directly.
    for (const std::span<const std::uint8_t> profile :
         {std::span<const std::uint8_t>(icc), bytes}) {
        if (imagefiles::profileKind(profile) == imagefiles::ProfileKind::None) continue;
        toolkit::Image image(7, 3, toolkit::PixelFormat::Bgra32);
        if (!imagefiles::convertImageToSrgb(image, profile)) __builtin_trap();
        (void)imagefiles::convertImageFromSrgb(image, profile);
    }
    return 0;
}
