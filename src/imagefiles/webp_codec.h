// WebP reading and writing through libwebp: lossy and lossless still images, alpha, the first
// frame of an animation, and the EXIF, XMP and ICC chunks of the extended format.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imagefiles/codec.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Largest width or height a WebP file can hold.
inline constexpr int kWebpMaxSide = 16383;

/// True when `head` starts like a WebP file: a RIFF header whose form type is "WEBP".
[[nodiscard]] bool looksLikeWebp(std::span<const std::uint8_t> head);

/// The image size the header declares: the canvas of an extended or animated file, else the
/// size of the single image. 0 x 0 when the bytes do not tell.
[[nodiscard]] DeclaredSize webpDeclaredSize(std::span<const std::uint8_t> bytes);

/// Decodes a still WebP file, or the first frame of an animated one composited onto its
/// transparent canvas. 32-bit when the file has alpha (or the first frame leaves part of the
/// canvas uncovered), 24-bit otherwise. `request` is not used: libwebp has no cheaper way to
/// decode at a reduced size. Empty on failure.
[[nodiscard]] toolkit::Image decodeWebp(std::span<const std::uint8_t> bytes,
                                        const DecodeRequest& request);

/// The EXIF, XMP and ICC chunks of an extended WebP file. An EXIF chunk that starts with
/// "Exif\0\0" loses that prefix; one that does not then start with a TIFF byte-order mark is
/// dropped.
[[nodiscard]] FileMetadata readWebpMetadata(std::span<const std::uint8_t> bytes);

/// Memory libwebp holds beside the output image while decoding a file of this canvas size: the
/// worst case is an animation with a lossless first frame (two canvases and the lossless
/// decoder's own ARGB buffer).
[[nodiscard]] std::uint64_t webpDecodeWorkBytes(std::int64_t width, std::int64_t height);

/// The libwebp quality (0..100) of the lossy encodings for the user's values 1..9 (index 0 is
/// value 1); value 10 writes a lossless file. Chosen so that a photograph keeps about the same
/// structural similarity as our JPEG encoder gives it at the same value (see webp_codec.cpp).
inline constexpr int kWebpLossyQuality[9] = {3, 16, 28, 34, 52, 72, 73, 86, 94};

/// Appends a WebP file of `image` to `out`. `quality` 0..10: 10 is lossless with every pixel
/// kept exactly (also the colour under alpha 0), 1..9 (and 0, taken as 1) lossy. A 32-bit view
/// is written with its alpha (libwebp leaves the alpha out when every pixel is opaque), a 24-bit
/// view without. False when a side exceeds kWebpMaxSide, libwebp fails or a stop is requested.
[[nodiscard]] bool encodeWebp(const toolkit::ImageView& image, int quality,
                              std::vector<std::uint8_t>& out);
/// The same with an ICC profile embedded (the extended format's ICCP chunk), for the table.
[[nodiscard]] bool encodeWebpWithProfile(const toolkit::ImageView& image, int quality,
                                         std::span<const std::uint8_t> icc,
                                         std::vector<std::uint8_t>& out);
/// A lossy WebP at a libwebp quality 0..100 (clamped), with `icc` embedded when not empty: the
/// steps the size search walks.
[[nodiscard]] bool encodeWebpLossy(const toolkit::ImageView& image, int libwebpQuality,
                                   std::span<const std::uint8_t> icc,
                                   std::vector<std::uint8_t>& out);

/// Memory libwebp holds while encoding an image of this size (worst case: lossless), not
/// counting the source pixels and the output file.
[[nodiscard]] std::uint64_t webpEncodeWorkBytes(std::int64_t width, std::int64_t height);

} // namespace quill::imagefiles
