// The program's own icon and cursor decoder: one entry's colour bitmap with its mask merged in.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "imagefiles/packed_dib.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes one entry of an icon (.ico) or cursor (.cur) file held in `bytes` into a packed
/// bitmap of the entry's size and depth. `entryIndex` -1 picks the entry with the most bytes
/// (the earliest on a tie); an index out of range picks the first. Pixels the mask leaves
/// transparent become `maskedZero` when their colour value is zero, else `maskedOther`: palette
/// indices (low byte) for 1, 4 and 8 bits, colours (red in the low byte) for 16, 24 and 32 bits.
/// Nothing for a bad header, an entry stored as PNG, or an unsupported depth.
[[nodiscard]] std::optional<PackedDib> decodeIconBitmap(std::span<const std::uint8_t> bytes,
                                                        int entryIndex, toolkit::Rgba maskedZero,
                                                        toolkit::Rgba maskedOther);

/// Decodes the entry with the most bytes of an icon or cursor file held in `bytes`; masked
/// pixels become palette entry 0 or black. A 32-bit entry gives a 32-bit image with its own
/// alpha; an entry stored as PNG is decoded as PNG. Empty on failure.
[[nodiscard]] toolkit::Image decodeIco(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
