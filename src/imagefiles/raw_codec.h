// Camera RAW files (CR2, CR3, NEF, ARW, DNG, ORF, RW2, RAF, PEF, SRW), read through LibRaw: the
// sensor data is developed to 8-bit sRGB with the camera's white balance and turned upright by
// the camera's orientation. RAW files are read only.
#pragma once

#include <cstdint>
#include <span>

#include "imagefiles/codec.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// True when the first bytes carry one of the RAW family's signatures: a TIFF byte-order mark
/// (most RAW formats are TIFF structures, so plain TIFF files match too), ORF ("IIRO", "IIRS",
/// "MMOR"), RW2 ("IIU\0"), RAF ("FUJIFILMCCD-RAW") or CR3 (an ISO media file of brand "crx ").
[[nodiscard]] bool looksLikeRaw(std::span<const std::uint8_t> head);

/// The size of the developed, upright picture at full size, read without unpacking the sensor
/// data; 0 x 0 when LibRaw does not recognise the file.
[[nodiscard]] DeclaredSize rawDeclaredSize(std::span<const std::uint8_t> bytes);

/// Develops the file's sensor data into a 24-bit sRGB image, turned upright. With a reduction of
/// 2 or more the picture is developed at half size (one pixel a Bayer cell), which is much
/// faster. Empty when the file cannot be read or is too large.
[[nodiscard]] toolkit::Image decodeRaw(std::span<const std::uint8_t> bytes,
                                       const DecodeRequest& request);

/// For TIFF-based RAW files the EXIF block is the file's own TIFF structure (IFD0 holds Make,
/// Model, DateTime and Orientation, and points to the Exif IFD), so it is the whole file; ORF and
/// RW2 files get the standard TIFF magic number in place of their own. The XMP packet is the
/// one in IFD0. RAF and CR3 containers give no metadata. No ICC profile is given: the decoder's
/// pixels are sRGB whatever profile the file names. Note that the EXIF Orientation describes
/// the stored sensor data, which the decoder has already turned upright.
[[nodiscard]] FileMetadata readRawMetadata(std::span<const std::uint8_t> bytes);

/// Memory LibRaw holds beside the output image while developing a picture of this output size:
/// the unpacked sensor data, its four-channel working copy and the developed 8-bit copy.
[[nodiscard]] std::uint64_t rawDecodeWorkBytes(std::int64_t width, std::int64_t height);

} // namespace quill::imagefiles
