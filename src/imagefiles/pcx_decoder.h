// The program's own PCX decoder: 16-colour planar, 256-colour and 24-bit true-colour files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "imagefiles/packed_dib.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a PCX file held in `bytes` into a packed bitmap of (planes x bits per plane) bits per
/// pixel. Nothing for a short header, a bad manufacturer or version byte, or a depth that a
/// bitmap cannot hold.
[[nodiscard]] std::optional<PackedDib> decodePcxBitmap(std::span<const std::uint8_t> bytes);

/// Decodes a PCX file held in `bytes` into a 24-bit image; empty on failure.
[[nodiscard]] toolkit::Image decodePcx(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
