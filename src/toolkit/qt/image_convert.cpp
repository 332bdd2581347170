// Conversion between the working image and QImage.
#include "toolkit/qt/image_convert.h"

#include <QtEndian>

#include <cstring>

namespace quill::toolkit::qt {
namespace {

// ARGB32 is a 32-bit word per pixel; only on little-endian machines is its byte order blue,
// green, red, alpha like the working image's.
constexpr QImage::Format kBgra32Format =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? QImage::Format_ARGB32 : QImage::Format_RGBA8888;

} // namespace

QImage toQImage(const toolkit::Image& image) {
    if (image.empty()) return {};
    const bool alpha = image.hasAlpha();
    QImage result(image.width(), image.height(), alpha ? kBgra32Format : QImage::Format_BGR888);
    if (result.isNull()) return {};
    const std::size_t rowBytes = std::size_t(image.width()) * std::size_t(image.bytesPerPixel());
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(result.scanLine(y), image.row(y), rowBytes);
    if (alpha && kBgra32Format == QImage::Format_RGBA8888) result = result.rgbSwapped();
    return result;
}

toolkit::Image fromQImage(const QImage& image) {
    if (image.isNull()) return {};
    const bool alpha = image.hasAlphaChannel();
    const toolkit::PixelFormat format =
        alpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24;
    if (!toolkit::Image::sizeAllowed(image.width(), image.height(), format)) return {};
    QImage source = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_BGR888);
    if (alpha && kBgra32Format == QImage::Format_RGBA8888)
        source = source.convertToFormat(QImage::Format_RGBA8888).rgbSwapped();
    toolkit::Image result(image.width(), image.height(), format);
    if (result.empty()) return {};
    const std::size_t rowBytes = std::size_t(result.width()) * std::size_t(result.bytesPerPixel());
    for (int y = 0; y < result.height(); ++y)
        std::memcpy(result.row(y), source.constScanLine(y), rowBytes);
    return result;
}

} // namespace quill::toolkit::qt
