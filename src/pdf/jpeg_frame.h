// Reading what the PDF writer needs from a JPEG file: the baseline frame's size and components.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "pdf/pdf_error.h"

namespace quill::pdf {

/// The baseline frame of a JPEG file.
struct JpegFrame {
    int width = 0;
    int height = 0;
    int bitsPerComponent = 0;
    int components = 0;
    std::string_view colorSpace; ///< "DeviceGray", "DeviceRGB" or "DeviceCMYK"
};

/// Checks that `bytes` (a whole file) is a JPEG beginning FF D8 FF E0 (JFIF) and reads its
/// baseline frame (marker C0) into `frame`. Every read is bounds-checked. Returns None on success;
/// BadMarker, NoBaselineFrame (no C0 before the first scan, as in progressive files, or a frame
/// of zero width or height), PngWithoutHeader or UnsupportedImage otherwise.
[[nodiscard]] PdfError readJpegFrame(std::span<const std::uint8_t> bytes, JpegFrame& frame);

} // namespace quill::pdf
