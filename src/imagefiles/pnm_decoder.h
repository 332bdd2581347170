// The program's own PNM decoder: bitmaps (P1, P4), grey maps (P2, P5) and pix maps (P3, P6).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "imagefiles/packed_dib.h"
#include "toolkit/image.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

/// Decodes a PNM file held in `bytes` into a packed bitmap: 1 bit with a black and white palette
/// for bitmaps, 8 bits with a grey palette for grey maps, 24 bits for pix maps. Nothing for a
/// bad signature, a maximum value outside 1..65535 or a size that cannot be allocated.
[[nodiscard]] std::optional<PackedDib> decodePnmBitmap(std::span<const std::uint8_t> bytes);

/// Decodes a PNM file held in `bytes` into a 24-bit image; empty on failure.
[[nodiscard]] toolkit::Image decodePnm(std::span<const std::uint8_t> bytes);

/// The width and height declared by the PNM header at the start of `head`, when the header lies
/// whole in it and decodePnm would allocate an image of that size; nothing otherwise.
[[nodiscard]] std::optional<std::pair<int, int>> readPnmSize(std::span<const std::uint8_t> head);

/// decodePnm for a raw grey or pix map (P5, P6) read from `file` a slice at a time, so the file
/// is never held whole beside its pixels; `head` holds the file's first bytes. Nothing when the
/// file is not such a map or its header does not lie whole in `head` (the caller then reads the
/// file whole); an empty image when it cannot be decoded or a read failed.
[[nodiscard]] std::optional<toolkit::Image> decodeRawPnmFile(platform::InputFile& file,
                                                             std::span<const std::uint8_t> head);

} // namespace quill::imagefiles
