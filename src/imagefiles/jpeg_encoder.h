// The JPEG encoder (libjpeg-turbo): baseline JFIF files from 24- or 32-bit images.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// The libjpeg quality for a quality argument: clamped to 0..10, then times 10.
[[nodiscard]] constexpr int jpegLibraryQuality(int quality) {
    return (quality < 0 ? 0 : quality > 10 ? 10 : quality) * 10;
}

/// Appends a JPEG file of `image` to `out`: FF D8, a 16-byte JFIF APP0 segment (so metadata can
/// be inserted at offset 20), YCbCr from the colour channels; a 32-bit image loses its alpha.
/// `quality` is the 0..10 argument. At the lowest qualities the quantisation tables need 16-bit
/// entries (an extended-sequential frame) unless `forceBaseline` clamps them to 8 bits.
/// False when libjpeg reports an error.
/// `icc`, when not empty, is embedded as APP2 "ICC_PROFILE" segments after the JFIF header.
[[nodiscard]] bool encodeJpeg(const toolkit::ImageView& image, int quality,
                              std::vector<std::uint8_t>& out, bool forceBaseline = false,
                              std::span<const std::uint8_t> icc = {});
/// encodeJpeg at a libjpeg quality 1..100 (clamped) instead of the 0..10 argument: the steps
/// the size search walks.
[[nodiscard]] bool encodeJpegAtLibraryQuality(const toolkit::ImageView& image, int libraryQuality,
                                              std::vector<std::uint8_t>& out,
                                              bool forceBaseline = false,
                                              std::span<const std::uint8_t> icc = {});

} // namespace quill::imagefiles
