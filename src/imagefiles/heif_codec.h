// HEIF/HEIC reading through libheif: the primary image of a file, with the rotation and mirroring
// its properties ask for applied by libheif, its alpha, and its metadata. Read only: HEVC
// encoding is left out for its patent licensing.
#pragma once

#include <cstdint>
#include <span>

#include "imagefiles/codec.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// True when the first bytes are an ISO box file whose ftyp box names a HEIF brand (heic, heix,
/// heim, heis, hevc, hevx, mif1, msf1) and is not an AVIF file (major brand avif/avis, or an avif
/// compatible brand without a HEVC one); those belong to the AVIF reader.
[[nodiscard]] bool looksLikeHeif(std::span<const std::uint8_t> head);

/// Size of the primary image after its rotation (irot) and cropping; 0 x 0 when unreadable.
[[nodiscard]] DeclaredSize heifDeclaredSize(std::span<const std::uint8_t> bytes);

/// Decodes the primary image to Bgr24, or Bgra32 when it has an alpha image. Samples deeper than
/// 8 bits are rounded to 8. Empty on any failure or when the image is larger than allowed.
[[nodiscard]] toolkit::Image decodeHeif(std::span<const std::uint8_t> bytes,
                                        const DecodeRequest& request);

/// The primary image's EXIF (the TIFF block after the item's offset prefix), XMP (the
/// application/rdf+xml item) and ICC profile (prof or rICC colour property).
[[nodiscard]] FileMetadata readHeifMetadata(std::span<const std::uint8_t> bytes);

/// Memory libheif holds beside the output image while decoding one of this size: the decoded
/// colour and alpha planes (up to 16-bit) and the converted interleaved image, plus the decoder.
[[nodiscard]] std::uint64_t heifDecodeWorkBytes(std::int64_t width, std::int64_t height);

} // namespace quill::imagefiles
