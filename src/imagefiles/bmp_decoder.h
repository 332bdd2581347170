// BMP decoding (our own code).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "toolkit/image.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

/// Decodes a Windows or OS/2 bitmap: 1, 2, 4, 8, 16, 24 and 32 bits per pixel, RLE4, RLE8 and
/// OS/2 RLE24, bit-field masks (an alpha mask gives a 32-bit image), top-down and bottom-up rows,
/// and JPEG or PNG data wrapped in a bitmap header. A file that breaks off keeps the rows decoded
/// so far, the rest zero. Empty on failure.
[[nodiscard]] toolkit::Image decodeBmp(std::span<const std::uint8_t> bytes);

/// decodeBmp for an uncompressed bitmap (no run-length coding, no wrapped JPEG or PNG) read from
/// `file` a slice of rows at a time, so the file is never held whole beside its pixels; `head`
/// holds the file's first bytes. Nothing when the file is not such a bitmap or its headers and
/// palette do not lie in `head` (the caller then reads it whole); an empty image when it cannot
/// be decoded or a read failed.
[[nodiscard]] std::optional<toolkit::Image>
decodeUncompressedBmpFile(platform::InputFile& file, std::span<const std::uint8_t> head);

} // namespace quill::imagefiles
