// Turning, mirroring and cropping a JPEG in its DCT coefficients, without decoding it: no loss
// of quality, and far less work than a decode and an encode.
#pragma once

#include "imagefiles/format.h"
#include "pipeline/edit_chain.h"
#include "pipeline/rotate.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quill::pipeline {

struct RunPlan;

/// A lossless edit: a turn (one of the modes 0..6, never Upright), then margins cut off the
/// turned picture.
struct LosslessJpegEdit {
    std::optional<RotateMode> turn = std::nullopt;
    CropMargins margins = {}; ///< of the picture after the turn
};

/// The edit that replaces a run's decode, edit and encode of a source of `kind` stored with EXIF
/// `orientation` (0 when none is known), or nullopt when the run must decode: the source is a
/// JPEG written as a plain JPEG file at no chosen quality, and its only pixel steps are the
/// rotate step and crop margins (no trim, resize, colour step, canvas, overlay or colour
/// conversion). The margins are moved onto the turned picture as the chain's order says. Whether
/// the file itself allows it is for transformJpegLosslessly to find out.
[[nodiscard]] std::optional<LosslessJpegEdit>
losslessJpegPlan(const RunPlan& plan, imagefiles::FormatKind kind, std::int32_t orientation);

/// A JPEG file made by a lossless transform: SOI and a 16-byte JFIF APP0 segment first, as the
/// program's encoder writes them (the metadata carry-over inserts its segments after them), and
/// no other APPn or COM segment.
struct LosslessJpeg {
    std::vector<std::uint8_t> bytes;
    int width = 0;
    int height = 0;
};

/// Transforms the coefficients of `jpeg` by `edit`. nullopt whenever the result would not be
/// exactly the edited picture at its full size, so that the caller decodes instead: the turn
/// would leave the partial blocks of an edge that does not end on a whole MCU at the top or left
/// (libturbojpeg's perfect check), the crop's left or top edge is not on an MCU boundary, the
/// file is damaged, or its colour space is one the JFIF header cannot describe (CMYK).
[[nodiscard]] std::optional<LosslessJpeg>
transformJpegLosslessly(std::span<const std::uint8_t> jpeg, const LosslessJpegEdit& edit);

/// The bytes a transform of a width x height JPEG file of `fileBytes` holds at most: the file,
/// the coefficients of the source and of the turned result (up to four components at full
/// resolution, two bytes each) and the growing output buffer.
[[nodiscard]] std::uint64_t losslessJpegWorkBytes(std::int64_t width, std::int64_t height,
                                                  std::uint64_t fileBytes);

} // namespace quill::pipeline
