// Conversion between the working image and QImage, for showing images in the windows.
#pragma once

#include "toolkit/image.h"

#include <QImage>

namespace quill::toolkit::qt {

/// A deep copy of the image as a QImage (24-bit as BGR888, 32-bit as ARGB32 with straight
/// alpha). A null QImage for an empty image.
[[nodiscard]] QImage toQImage(const toolkit::Image& image);
/// A deep copy of a QImage as a working image: 32-bit when it has an alpha channel, else 24-bit.
/// Empty for a null QImage or one too large for the image limit.
[[nodiscard]] toolkit::Image fromQImage(const QImage& image);

} // namespace quill::toolkit::qt
