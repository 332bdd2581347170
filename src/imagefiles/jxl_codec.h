// JPEG XL reading and writing through libjxl, on the calling thread only (the program runs
// several decoders and encoders at once on its own threads).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imagefiles/codec.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// True for a bare JPEG XL codestream (FF 0A) or the container's signature box.
[[nodiscard]] bool looksLikeJxl(std::span<const std::uint8_t> head);

/// The image size from the basic header, after the orientation libjxl applies when decoding;
/// 0 x 0 when unreadable.
[[nodiscard]] DeclaredSize jxlDeclaredSize(std::span<const std::uint8_t> bytes);

/// Decodes the (first frame of the) image to Bgr24, or Bgra32 when it has alpha, with its
/// orientation applied; samples of other depths are rounded to 8 bits by libjxl. Empty on any
/// failure.
[[nodiscard]] toolkit::Image decodeJxl(std::span<const std::uint8_t> bytes,
                                       const DecodeRequest& request);

/// The ICC profile the file describes its colours with, and the Exif and "xml " boxes (also when
/// Brotli-compressed); EXIF without the box's 4-byte offset field.
[[nodiscard]] FileMetadata readJxlMetadata(std::span<const std::uint8_t> bytes);

/// The ICC profile of the pixels the decoder gives: empty when they are sRGB (libjxl describes
/// every file with a profile, also files that embed none), else the profile (an embedded one as
/// stored, a colour space named by the file as libjxl writes it out).
[[nodiscard]] std::vector<std::uint8_t> readJxlPixelProfile(std::span<const std::uint8_t> bytes);

/// Memory libjxl holds beside the output image while decoding one of this size.
[[nodiscard]] std::uint64_t jxlDecodeWorkBytes(std::int64_t width, std::int64_t height);

/// The butteraugli distance used for quality values 1..9 (10 is lossless). Chosen so that each
/// value matches the structural similarity of the JPEG encoder at the same value on photographs.
inline constexpr float kJxlDistanceForQuality[10] = {
    // 0 is treated as 1.
    14.6f, 14.6f, 7.6f, 5.7f, 5.0f, 3.8f, 3.1f, 3.0f, 1.9f, 1.05f,
};

/// Appends a JPEG XL codestream of `image` to `out`: quality 10 is lossless, 1..9 (0 as 1) lossy
/// at the distance of kJxlDistanceForQuality; a 32-bit view keeps its alpha, a 24-bit one has
/// none. False when libjxl reports an error.
[[nodiscard]] bool encodeJxl(const toolkit::ImageView& image, int quality,
                             std::vector<std::uint8_t>& out);
/// The same with an ICC profile embedded (`icc` not empty): the samples are then coded in the
/// profile's space as they are, not as sRGB. For the format table.
[[nodiscard]] bool encodeJxlWithProfile(const toolkit::ImageView& image, int quality,
                                        std::span<const std::uint8_t> icc,
                                        std::vector<std::uint8_t>& out);
/// The same with the profile (may be empty), in the box format with the EXIF and XMP blocks of
/// `embed` (may be null) as "Exif" and "xml " boxes.
[[nodiscard]] bool encodeJxlCarrying(const toolkit::ImageView& image, int quality,
                                     std::span<const std::uint8_t> icc, const FileMetadata* embed,
                                     std::vector<std::uint8_t>& out);
/// encodeJxlCarrying at a butteraugli distance (up to 25) instead of the 0..10 argument; 0 or
/// less is lossless. The steps the size search walks.
[[nodiscard]] bool encodeJxlAtDistance(const toolkit::ImageView& image, float distance,
                                       std::span<const std::uint8_t> icc, const FileMetadata* embed,
                                       std::vector<std::uint8_t>& out);

/// Memory libjxl holds beside the input image while encoding one of this size.
[[nodiscard]] std::uint64_t jxlEncodeWorkBytes(std::int64_t width, std::int64_t height);

} // namespace quill::imagefiles
