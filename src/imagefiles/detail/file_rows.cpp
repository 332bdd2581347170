#include "imagefiles/detail/file_rows.h"

#include <algorithm>
#include <vector>

namespace quill::imagefiles::detail {

namespace {
// About this much of the file is in memory at a time: large reads, little memory.
constexpr std::size_t kSliceBytes = std::size_t{4} << 20;
} // namespace

bool forEachFileRow(platform::InputFile& file, std::uint64_t offset, std::size_t rowBytes,
                    std::size_t rows,
                    const std::function<void(std::size_t, std::span<const std::uint8_t>)>& row) {
    if (rowBytes == 0 || rows == 0) return true;
    const std::size_t rowsPerSlice = std::max<std::size_t>(1, kSliceBytes / rowBytes);
    std::vector<std::uint8_t> slice(std::min(rows, rowsPerSlice) * rowBytes);
    for (std::size_t first = 0; first < rows; first += rowsPerSlice) {
        const std::size_t count = std::min(rowsPerSlice, rows - first);
        const std::span<std::uint8_t> into(slice.data(), count * rowBytes);
        const auto read = file.readAt(offset + std::uint64_t(first) * rowBytes, into);
        if (!read) return false;
        const std::span<const std::uint8_t> got(slice.data(), *read);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t start = i * rowBytes;
            if (start >= got.size()) return true; // the file ends before this row
            row(first + i, got.subspan(start, std::min(rowBytes, got.size() - start)));
        }
        if (*read < into.size()) return true;
    }
    return true;
}

} // namespace quill::imagefiles::detail
