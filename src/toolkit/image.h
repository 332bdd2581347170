// The working image: a bitmap of 24-bit (blue, green, red) or 32-bit (blue, green, red, alpha)
// pixels that owns its memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quill::toolkit {

/// Pixel layouts, named in memory byte order.
enum class PixelFormat : std::uint8_t {
    Bgr24,  ///< 3 bytes a pixel: blue, green, red
    Bgra32, ///< 4 bytes a pixel: blue, green, red, alpha (straight, not premultiplied)
};

[[nodiscard]] constexpr int bytesPerPixel(PixelFormat format) {
    return format == PixelFormat::Bgr24 ? 3 : 4;
}

/// Largest pixel buffer any image may own (1 GiB); larger requests fail instead of allocating.
inline constexpr std::size_t kMaxImageBytes = std::size_t{1} << 30;

/// A borrowed view of pixels owned elsewhere. Rows are top row first.
struct ImageView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::size_t stride = 0; ///< bytes from one row to the next
    PixelFormat format = PixelFormat::Bgr24;

    [[nodiscard]] const std::uint8_t* row(int y) const { return data + stride * std::size_t(y); }
};

/// An image that owns its pixels. Move-only; `clone()` makes an explicit copy.
/// Rows are stored top row first, each `stride` bytes long (a multiple of 4).
/// An allocation that fails or is too large leaves the image empty instead of throwing.
class Image {
public:
    Image() = default;
    /// Allocates width x height pixels, all bytes zero. Empty on failure or on a size of 0.
    Image(int width, int height, PixelFormat format);

    Image(Image&&) noexcept = default;
    Image& operator=(Image&&) noexcept = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    /// A deep copy; empty when the copy cannot be allocated.
    [[nodiscard]] Image clone() const;

    [[nodiscard]] bool empty() const { return !m_pixels; }
    explicit operator bool() const { return !empty(); }

    [[nodiscard]] int width() const { return m_width; }
    [[nodiscard]] int height() const { return m_height; }
    [[nodiscard]] std::size_t stride() const { return m_stride; }
    [[nodiscard]] PixelFormat format() const { return m_format; }
    [[nodiscard]] int bytesPerPixel() const { return toolkit::bytesPerPixel(m_format); }
    [[nodiscard]] bool hasAlpha() const { return m_format == PixelFormat::Bgra32; }
    [[nodiscard]] std::size_t sizeInBytes() const { return m_stride * std::size_t(m_height); }

    [[nodiscard]] std::uint8_t* data() { return m_pixels.get(); }
    [[nodiscard]] const std::uint8_t* data() const { return m_pixels.get(); }
    [[nodiscard]] std::uint8_t* row(int y) { return m_pixels.get() + m_stride * std::size_t(y); }
    [[nodiscard]] const std::uint8_t* row(int y) const {
        return m_pixels.get() + m_stride * std::size_t(y);
    }
    [[nodiscard]] ImageView view() const {
        return ImageView{m_pixels.get(), m_width, m_height, m_stride, m_format};
    }

    /// Row stride for a width and format: whole pixels padded to a multiple of 4 bytes.
    [[nodiscard]] static std::size_t strideFor(int width, PixelFormat format);
    /// True when an image of this size fits the 1 GiB limit (and both sides are positive).
    [[nodiscard]] static bool sizeAllowed(int width, int height, PixelFormat format);

    /// The same pixels as 32-bit, alpha 255; a 32-bit image is cloned.
    [[nodiscard]] Image toBgra32() const;
    /// The same pixels as 24-bit, alpha dropped; a 24-bit image is cloned.
    [[nodiscard]] Image toBgr24() const;

private:
    struct FreeDeleter {
        void operator()(std::uint8_t* p) const;
    };
    std::unique_ptr<std::uint8_t[], FreeDeleter> m_pixels;
    int m_width = 0;
    int m_height = 0;
    std::size_t m_stride = 0;
    PixelFormat m_format = PixelFormat::Bgr24;
};

/// A colour as the settings store it: red in the low byte, then green, then blue; the top byte is
/// alpha (0 in stored preset colours; opacity is placed there when drawing).
struct Rgba {
    std::uint32_t value = 0;

    [[nodiscard]] constexpr std::uint8_t red() const { return value & 0xFF; }
    [[nodiscard]] constexpr std::uint8_t green() const { return (value >> 8) & 0xFF; }
    [[nodiscard]] constexpr std::uint8_t blue() const { return (value >> 16) & 0xFF; }
    [[nodiscard]] constexpr std::uint8_t alpha() const { return (value >> 24) & 0xFF; }
    [[nodiscard]] static constexpr Rgba fromChannels(std::uint8_t r, std::uint8_t g, std::uint8_t b,
                                                     std::uint8_t a = 0) {
        return Rgba{std::uint32_t(r) | (std::uint32_t(g) << 8) | (std::uint32_t(b) << 16) |
                    (std::uint32_t(a) << 24)};
    }
    constexpr bool operator==(const Rgba&) const = default;
};

} // namespace quill::toolkit
