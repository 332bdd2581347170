// Reading the rows of an uncompressed raster straight from its file, a slice at a time, so that a
// large file is never held whole beside the image decoded from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "toolkit/platform/platform.h"

namespace quill::imagefiles::detail {

/// Calls `row(index, bytes)` for rows 0 .. rows - 1 of `rowBytes` bytes each, stored one after
/// the other from `offset`. Where the file ends, the last call gets the bytes that are there (a
/// shorter span, never an empty one) and no further row is read. False when a read failed; the
/// rows passed so far stay.
[[nodiscard]] bool
forEachFileRow(platform::InputFile& file, std::uint64_t offset, std::size_t rowBytes,
               std::size_t rows,
               const std::function<void(std::size_t, std::span<const std::uint8_t>)>& row);

} // namespace quill::imagefiles::detail
