// The JPEG 2000 encoder (OpenJPEG): .jp2 box files or raw codestreams with one quality layer.
#pragma once

#include <cstdint>
#include <vector>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// The compression rate (size ratio) for a quality argument 0..10, clamped:
/// 500, 250, 125, 100, 80, 60, 30, 15, 10, 5, 2.
[[nodiscard]] int jp2CompressionRate(int quality);

/// Appends a .jp2 file of `image` to `out`: three sRGB components, a fourth alpha component for
/// 32-bit images, one quality layer at jp2CompressionRate(quality). With `codestream` the bare
/// codestream is written instead (the content of .j2k and .j2c files). False on a codec error.
[[nodiscard]] bool encodeJp2(const toolkit::ImageView& image, int quality,
                             std::vector<std::uint8_t>& out, bool codestream = false);

} // namespace quill::imagefiles
