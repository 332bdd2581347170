// The EXIF block of a JPEG's APP1 segment: reading and patching orientation, pixel size and date
// taken in place, and how a rotation changes the orientation tag.
#pragma once

#include "pipeline/jpeg_metadata.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quill::pipeline {

/// Bits of ExifView::tags: set by the caller to request a tag, left set by walkExif when found.
enum ExifTag : std::uint8_t {
    ExifOrientation = 2, ///< 0x0112 in the first image directory
    ExifDateTaken = 4,   ///< 0x9003 (date and time original) in the EXIF sub-directory
    ExifPixelWidth = 8,  ///< 0xA002
    ExifPixelHeight = 16 ///< 0xA003
};

enum class ExifMode : std::uint8_t {
    Write = 0, ///< store the view's values into the requested tags
    Read = 1,  ///< take the requested tags' values into the view
};

/// A working copy of the first loaded APP1 payload that holds EXIF.
struct ExifView {
    bool valid = false;
    bool littleEndian = false;      ///< byte-order mark 49 49 2A 00 (else 4D 4D 00 2A)
    std::uint16_t length = 0;       ///< payload length
    std::vector<std::uint8_t> data; ///< the payload, starting with "Exif" 00 00
    std::size_t segmentIndex = 0;   ///< the segment of JpegMetadata::segments it came from
    ExifMode mode = ExifMode::Read;
    std::uint8_t tags = 0;         ///< ExifTag bits: requested before walkExif, found after it
    std::int32_t orientation = -1; ///< -1 in write mode: leave the tag as it is
    std::int64_t date = 0;         ///< date taken, local-time seconds
    std::int32_t width = -1;       ///< -1 in write mode: leave the tag as it is
    std::int32_t height = -1;      ///< -1 in write mode: leave the tag as it is
};

/// Fills `view` from the first loaded APP1 segment that starts with "Exif" 00 00 and a TIFF
/// byte-order mark. Returns view.valid.
[[nodiscard]] bool openExif(const JpegMetadata& metadata, ExifView& view);

/// Reads or writes the requested tags (view.tags) in the view's data, in the block's byte order;
/// afterwards view.tags holds the requested tags that were found. Tags that are absent are never
/// added, and every offset taken from the block is checked against it.
void walkExif(ExifView& view);

/// Puts the view's data back into the APP1 segment it was taken from. False when that segment is
/// gone or the view is not valid.
[[nodiscard]] bool storeExif(JpegMetadata& metadata, const ExifView& view);

/// The orientation tag after the pixels were turned by `rotateMode` (0 90° counter-clockwise,
/// 1 90° clockwise, 2 180°, 3 mirror left-right, 4 mirror top-bottom, 5 transpose, 6 transverse).
/// -1 when the orientation is outside 1..8 or the mode outside 0..6.
[[nodiscard]] std::int32_t newOrientation(std::int32_t orientation, std::int32_t rotateMode);

/// The orientation tag an output gets after the edit: for a source stored turned (2..8) that was
/// rotated, the orientation that describes its pixels after the turn; -1 to leave the tag as it
/// is (no rotation, an upright source whose pixels were turned, values outside 1..8).
[[nodiscard]] std::int32_t patchedOrientation(std::int32_t stored, std::int32_t rotationApplied);

/// The rotateMode that turns an image stored with this orientation upright; -1 when it already is
/// upright or the orientation is outside 1..8.
[[nodiscard]] std::int32_t uprightRotateMode(std::int32_t orientation);

/// The orientation tag (0x0112) of the first image directory of a TIFF structure: a TIFF file,
/// or an EXIF block from its byte-order mark on. 0 when there is none or its value is outside
/// 1..8. The whole structure is searched: a TIFF file may keep its first directory at its end.
[[nodiscard]] std::int32_t tiffOrientation(std::span<const std::uint8_t> tiff);

/// The EXIF block of a PNG file's eXIf chunk, from its byte-order mark on (a leading "Exif" 00 00,
/// as some writers put it, is skipped); empty when the file has no such chunk or is no PNG file.
[[nodiscard]] std::span<const std::uint8_t> pngExifBlock(std::span<const std::uint8_t> png);

/// Local-time seconds for an EXIF date text "yyyy:mm:dd hh:ii:ss"; nullopt when the text does not
/// follow that pattern or names no valid date and time (as cameras write for an unset clock).
[[nodiscard]] std::optional<std::int64_t> parseExifDate(std::string_view text);
/// The EXIF date text "yyyy:mm:dd hh:ii:ss" for local-time seconds; "" for years outside 1..9999.
[[nodiscard]] std::string formatExifDate(std::int64_t localSeconds);

} // namespace quill::pipeline
