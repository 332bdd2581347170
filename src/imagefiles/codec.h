// What a codec file gives the format table: the size a file's header declares, a decoder, the
// metadata blocks the file carries, and (for formats that are written) an encoder.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// The size a file declares before it is decoded: the size of the image its decoder returns at
/// full size (after any rotation the decoder applies). 0 x 0 when the bytes do not tell.
struct DeclaredSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

/// What the caller allows a decoder.
struct DecodeRequest {
    /// The image may come out smaller by up to this factor on each side (1, 2, 4 or 8): decoders
    /// that can reduce cheaply while decoding use it (camera RAW at half size), the others ignore
    /// it. The caller resizes the result to its target in any case.
    int reduction = 1;
};

/// The metadata blocks a file carries, as it stores them; each empty when the file has none.
struct FileMetadata {
    /// EXIF: a TIFF structure that starts with its byte-order mark ("II*\0" or "MM\0*"), without
    /// the "Exif\0\0" prefix some containers put before it.
    std::vector<std::uint8_t> exif;
    std::vector<std::uint8_t> xmp; ///< the XMP packet
    std::vector<std::uint8_t> icc; ///< the ICC colour profile
};

} // namespace quill::imagefiles
