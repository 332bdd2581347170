// AVIF files through libavif: still images and the first frame of image sequences, 8/10/12-bit,
// with or without alpha; written lossy as 8-bit YUV 4:2:0 by the AOM encoder.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imagefiles/codec.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// True when the bytes start with an ISO-BMFF "ftyp" box whose brands include "avif" or "avis".
/// Needs the whole ftyp box (the first 32 bytes or so of a file).
[[nodiscard]] bool looksLikeAvif(std::span<const std::uint8_t> head);

/// The size the container declares for the primary image (or the first frame), as decodeAvif
/// returns it: after the clean-aperture crop and a rotation by 90 or 270 degrees. 0 x 0 when the
/// container cannot be parsed.
[[nodiscard]] DeclaredSize avifDeclaredSize(std::span<const std::uint8_t> bytes);

/// Decodes the primary image, or the first frame of a sequence, as it is meant to be seen: the
/// container's clean aperture (clap), rotation (irot) and mirroring (imir) applied in that order.
/// Samples deeper than 8 bits are rounded to 8. Bgra32 when the file has an alpha plane, else
/// Bgr24; empty on any failure.
[[nodiscard]] toolkit::Image decodeAvif(std::span<const std::uint8_t> bytes,
                                        const DecodeRequest& request);

/// The Exif (from its TIFF byte-order mark on), XMP and ICC blocks of the primary image.
[[nodiscard]] FileMetadata readAvifMetadata(std::span<const std::uint8_t> bytes);

/// Memory the decoder (AV1 frame buffers, YUV planes, a rotation buffer) holds beside the
/// returned image, for a picture of this size.
[[nodiscard]] std::uint64_t avifDecodeWorkBytes(std::int64_t width, std::int64_t height);

/// The AV1 quantizer (0 best .. 63 worst) used for a quality argument 0..10 (0 counts as 1).
[[nodiscard]] int avifQuantizerFor(int quality);

/// The encoder speed (libavif 0..10, slowest to fastest) files are written with: AOM's fastest
/// (libavif passes 10 on as 9). A detailed 12-megapixel photograph takes about 1.4 s of one core
/// at value 10 and gives files smaller than our JPEG at the same value; speeds 6 and 7 take 20 s.
inline constexpr int kAvifEncodeSpeed = 9;

/// encodeAvif with an explicit AV1 quantizer (0..63) and encoder speed (0..10), for measuring.
/// `icc`, when not empty, is embedded as the colr box's profile; `embed` (may be null) gives the
/// EXIF and XMP blocks the file carries.
[[nodiscard]] bool encodeAvifWith(const toolkit::ImageView& image, int quantizer, int speed,
                                  std::vector<std::uint8_t>& out,
                                  std::span<const std::uint8_t> icc = {},
                                  const FileMetadata* embed = nullptr);

/// Appends a lossy AVIF of `image` to `out`: 8-bit YUV 4:2:0 (full range, BT.601 matrix, sRGB
/// colours), with an alpha plane for a 32-bit view and none for a 24-bit one. `quality` is the
/// 0..10 argument. False when libavif reports an error.
[[nodiscard]] bool encodeAvif(const toolkit::ImageView& image, int quality,
                              std::vector<std::uint8_t>& out);
/// The same with an ICC profile embedded (`icc` not empty), for the format table.
[[nodiscard]] bool encodeAvifWithProfile(const toolkit::ImageView& image, int quality,
                                         std::span<const std::uint8_t> icc,
                                         std::vector<std::uint8_t>& out);
/// The same with the profile (may be empty) and the EXIF and XMP blocks of `embed` in the file.
[[nodiscard]] bool encodeAvifCarrying(const toolkit::ImageView& image, int quality,
                                      std::span<const std::uint8_t> icc, const FileMetadata* embed,
                                      std::vector<std::uint8_t>& out);

/// Memory the encoder (YUV copy, AV1 encoder state and frame buffers, the output) holds while
/// writing a picture of this size.
[[nodiscard]] std::uint64_t avifEncodeWorkBytes(std::int64_t width, std::int64_t height);

} // namespace quill::imagefiles
