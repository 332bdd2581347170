// JPEG 2000 decoding through OpenJPEG.
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a JP2/JPX box file or a raw J2K codestream (chosen by content) with 1 to 4
/// components: grey, grey + alpha, RGB (or sYCC), RGBA or CMYK. Samples of other precisions than
/// 8 bits are scaled to 0..255. A codestream that breaks off decodes as far as it goes. Empty on
/// failure.
[[nodiscard]] toolkit::Image decodeJpeg2000(std::span<const std::uint8_t> bytes);

/// True when the bytes start with the JP2 signature box.
[[nodiscard]] bool isJp2BoxFile(std::span<const std::uint8_t> bytes);
/// True when the bytes start with a J2K codestream (SOC marker FF 4F then FF 51).
[[nodiscard]] bool isJ2kCodestream(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
