// The working image: allocation, copies and format conversion.
#include "toolkit/image.h"

#include <cstdlib>
#include <cstring>

namespace quill::toolkit {

void Image::FreeDeleter::operator()(std::uint8_t* p) const {
    std::free(p);
}

std::size_t Image::strideFor(int width, PixelFormat format) {
    const std::size_t bytes = std::size_t(width) * std::size_t(toolkit::bytesPerPixel(format));
    return (bytes + 3) & ~std::size_t{3};
}

bool Image::sizeAllowed(int width, int height, PixelFormat format) {
    if (width <= 0 || height <= 0) return false;
    const std::size_t stride = strideFor(width, format);
    return stride <= kMaxImageBytes / std::size_t(height);
}

Image::Image(int width, int height, PixelFormat format) {
    if (!sizeAllowed(width, height, format)) return;
    const std::size_t stride = strideFor(width, format);
    auto* p = static_cast<std::uint8_t*>(std::calloc(std::size_t(height), stride));
    if (!p) return;
    m_pixels.reset(p);
    m_width = width;
    m_height = height;
    m_stride = stride;
    m_format = format;
}

Image Image::clone() const {
    if (empty()) return {};
    Image copy(m_width, m_height, m_format);
    if (copy.empty()) return {};
    std::memcpy(copy.data(), data(), sizeInBytes());
    return copy;
}

Image Image::toBgra32() const {
    if (empty()) return {};
    if (m_format == PixelFormat::Bgra32) return clone();
    Image out(m_width, m_height, PixelFormat::Bgra32);
    if (out.empty()) return {};
    for (int y = 0; y < m_height; ++y) {
        const std::uint8_t* s = row(y);
        std::uint8_t* d = out.row(y);
        for (int x = 0; x < m_width; ++x, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 255;
        }
    }
    return out;
}

Image Image::toBgr24() const {
    if (empty()) return {};
    if (m_format == PixelFormat::Bgr24) return clone();
    Image out(m_width, m_height, PixelFormat::Bgr24);
    if (out.empty()) return {};
    for (int y = 0; y < m_height; ++y) {
        const std::uint8_t* s = row(y);
        std::uint8_t* d = out.row(y);
        for (int x = 0; x < m_width; ++x, s += 4, d += 3) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
    return out;
}

} // namespace quill::toolkit
