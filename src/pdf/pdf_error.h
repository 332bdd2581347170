// The PDF writer's error codes, as getLastError reports them.
#pragma once

#include <cstdint>

namespace quill::pdf {

/// Values of the writer's last error.
enum class PdfError : std::int32_t {
    None = 0,              ///< no error
    BadMarker = 7,         ///< a JPEG marker does not start with FF
    CannotOpen = 8,        ///< the image file cannot be opened
    CannotRead = 9,        ///< the image file cannot be read completely
    NoBaselineFrame = 11,  ///< no usable baseline frame marker (C0) found
    PngWithoutHeader = 12, ///< a PNG signature not followed by IHDR
    UnsupportedImage = 13, ///< neither a JPEG starting with JFIF nor a placeable image
    InvalidFileName = 14,  ///< the output file name is not valid
    CannotCreate = 15,     ///< the output file cannot be created or written
    OutOfMemory = 17,      ///< memory ran out (or the image file is too large)
};

} // namespace quill::pdf
