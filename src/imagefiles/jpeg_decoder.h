// JPEG decoding through libjpeg-turbo.
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a baseline, extended or progressive JPEG (greyscale, YCbCr/RGB, CMYK/YCCK) into a
/// 24-bit image. A file that breaks off after the header yields the rows decoded so far (the
/// library fills the rest from the missing data as grey). Empty on failure.
[[nodiscard]] toolkit::Image decodeJpeg(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
