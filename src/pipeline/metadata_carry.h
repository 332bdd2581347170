// EXIF, XMP and IPTC carried from a source of any format into an output of another format (or
// written by another encoder than the JPEG segment carry-over): read from the source, patched to
// the edited picture (orientation, pixel size), stripped of location fields on request, and put
// into the encoded bytes in memory before they are committed. Exiv2 does the reading and writing;
// AVIF and JPEG XL get their blocks through their encoders, which Exiv2 cannot write.
#pragma once

#include "imagefiles/codec.h"
#include "imagefiles/format.h"
#include "pipeline/jpeg_metadata.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quill::pipeline {

/// The metadata of a source as independent blocks; each empty when the source has none.
struct CarriedMetadata {
    std::vector<std::uint8_t> exif; ///< a TIFF structure starting with its byte-order mark
    std::string xmp;                ///< the XMP packet
    std::vector<std::uint8_t> iptc; ///< IPTC IIM datasets (1C records)

    [[nodiscard]] bool empty() const { return exif.empty() && xmp.empty() && iptc.empty(); }
};

/// Reads the metadata of a source file. AVIF, HEIF and JPEG XL through the format table's reader
/// (Exiv2 cannot read their EXIF), every other format through Exiv2. Empty when the file holds
/// none or cannot be read; never throws.
[[nodiscard]] CarriedMetadata readCarriedMetadata(const std::string& path,
                                                  imagefiles::FormatKind kind);
/// The same over a file held in memory.
[[nodiscard]] CarriedMetadata readCarriedMetadata(std::span<const std::uint8_t> file,
                                                  imagefiles::FormatKind kind);

/// Whether metadata is put into this encoder's output after encoding (through Exiv2).
[[nodiscard]] bool embedsAfterEncoding(imagefiles::Encoder encoder);
/// Whether this encoder takes the EXIF and XMP blocks itself (EncodeOptions::embed).
[[nodiscard]] bool embedsWhileEncoding(imagefiles::Encoder encoder);

/// The EXIF (TIFF structure) and XMP blocks patched to the edit, for an encoder that writes them
/// itself. IPTC has no place in those formats and is left out.
[[nodiscard]] imagefiles::FileMetadata blocksForEncoder(const CarriedMetadata& carried,
                                                        const CarryEdit& edit);

/// The encoded file with the metadata, patched to the edit, written in. nullopt when the format
/// is not one Exiv2 writes or Exiv2 fails: the bytes given stay the output, without metadata.
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
embedMetadata(std::span<const std::uint8_t> encoded, imagefiles::Encoder encoder,
              const CarriedMetadata& carried, const CarryEdit& edit);

/// Drops the location from the carried JPEG segments: the GPS directory of the EXIF APP1, the
/// location properties of the XMP APP1 and the location datasets of the IPTC in APP13. A segment
/// without any is left byte for byte; an EXIF block that cannot be rewritten is dropped whole
/// rather than carried with its position.
void removeLocationFromSegments(JpegMetadata& metadata);

/// The EXIF block (TIFF structure) of a file in a format the format table has no metadata reader
/// for (PNG, TIFF, ...), through Exiv2; empty when none.
[[nodiscard]] std::vector<std::uint8_t> exifBlockOfFile(const std::string& path,
                                                        imagefiles::FormatKind kind);

} // namespace quill::pipeline
