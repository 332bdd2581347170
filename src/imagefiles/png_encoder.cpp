// The PNG encoder on libpng. Blue-green-red(-alpha) rows go to libpng as they lie in memory with
// png_set_bgr, so there is no copy; palette rows are packed to 1, 4 or 8 bits first.
//
// Compression: zlib level 6 with libpng's adaptive per-row filter choice, the default users know
// from other PNG writers. Measured on two photographs (640x480 and 480x360, best of three, on a
// busy 2-core machine; bench/encode_bench.cpp has the 3-megapixel version):
//   level 1 adaptive: 187 / 269 KB,  39 /  39 ms     level 6 none:     215 / 376 KB,  47 /  49 ms
//   level 3 adaptive: 169 / 258 KB,  43 /  61 ms     level 6 Paeth:    151 / 242 KB,  80 / 168 ms
//   level 6 adaptive: 148 / 242 KB, 121 / 187 ms     level 9 adaptive: 139 / 238 KB, 751 / 518 ms
// Filtering saves a third of the size; level 9 buys 2-6% for 3 to 6 times the time, which a
// batch of many files should not pay; level 3 is 2-3 times faster but 7-13% larger. Palette
// images are written unfiltered, which compresses them best.
#include "imagefiles/png_encoder.h"

#include <csetjmp>
#include <new>

#include <png.h>

#include "toolkit/stop_request.h"

namespace quill::imagefiles {

namespace {

struct WriteState {
    std::vector<std::uint8_t>* out;
    bool outOfMemory = false;
};

void writeBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<WriteState*>(png_get_io_ptr(png));
    try {
        state->out->insert(state->out->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        state->outOfMemory = true;
        png_error(png, "out of memory");
    }
}

void flushBytes(png_structp) {}

[[noreturn]] void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

int filterMask(PngFilters filters) {
    switch (filters) {
    case PngFilters::None:
        return PNG_FILTER_NONE;
    case PngFilters::Paeth:
        return PNG_FILTER_PAETH;
    case PngFilters::Adaptive:
        break;
    }
    return PNG_ALL_FILTERS;
}

// Owns the libpng write structures.
class PngWriter {
public:
    PngWriter() {
        m_png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
        if (m_png) m_info = png_create_info_struct(m_png);
    }
    ~PngWriter() { png_destroy_write_struct(&m_png, m_info ? &m_info : nullptr); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    [[nodiscard]] bool ok() const { return m_png && m_info; }
    png_structp png() const { return m_png; }
    png_infop info() const { return m_info; }

private:
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
};

// The libpng calls proper. Nothing with a destructor lives in this frame, so a longjmp out of
// libpng is safe; `rows` and `palette` are prepared by the caller.
bool writePng(PngWriter& writer, WriteState& state, int width, int height, int bitDepth,
              int colorType, bool bgr, const png_color* palette, int paletteSize, png_bytep* rows,
              PngTuning tuning, std::span<const std::uint8_t> icc) {
    png_structp png = writer.png();
    png_infop info = writer.info();
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, &state, writeBytes, flushBytes);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette) png_set_PLTE(png, info, palette, paletteSize);
    if (!icc.empty()) {
        // The profile is carried as it came: libpng's comparison with the sRGB profiles it knows
        // would refuse widely used early sRGB profiles (cameras embed them) as "incorrect", and a
        // profile it finds fault with otherwise is left out with a warning instead of failing
        // the whole file.
        png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
        png_set_benign_errors(png, 1);
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, icc.data(),
                     png_uint_32(icc.size()));
    }
    png_set_compression_level(png, tuning.zlibLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE,
                   palette ? PNG_FILTER_NONE : filterMask(tuning.filters));
    png_write_info(png, info);
    if (bgr) png_set_bgr(png);
    for (int y = 0; y < height; ++y) {
        // A stop request ends the encoding between rows; the half-made output is dropped.
        if (toolkit::stopRequested()) return false;
        png_write_row(png, rows[y]);
    }
    png_write_end(png, info);
    return true;
}

} // namespace

bool encodePng(const toolkit::ImageView& image, std::vector<std::uint8_t>& out, PngTuning tuning,
               std::span<const std::uint8_t> icc) {
    if (!image.data || image.width <= 0 || image.height <= 0) return false;
    const std::size_t start = out.size();
    try {
        std::vector<png_bytep> rows(std::size_t(image.height));
        for (int y = 0; y < image.height; ++y)
            rows[std::size_t(y)] = const_cast<png_bytep>(image.row(y));
        PngWriter writer;
        WriteState state{&out};
        const bool alpha = image.format == toolkit::PixelFormat::Bgra32;
        if (writer.ok() && writePng(writer, state, image.width, image.height, 8,
                                    alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, true, nullptr,
                                    0, rows.data(), tuning, icc))
            return true;
    } catch (const std::bad_alloc&) {
    }
    out.resize(start);
    return false;
}

bool encodePngPalette(const PalettedImage& image, int bitDepth, std::vector<std::uint8_t>& out,
                      PngTuning tuning) {
    if (bitDepth != 1 && bitDepth != 4 && bitDepth != 8) return false;
    if (image.width <= 0 || image.height <= 0 || image.palette.empty() ||
        image.palette.size() > (std::size_t(1) << bitDepth) ||
        image.indices.size() != std::size_t(image.width) * std::size_t(image.height))
        return false;
    const std::size_t start = out.size();
    try {
        std::vector<png_color> palette;
        for (const PaletteColor& c : image.palette)
            palette.push_back({c.red, c.green, c.blue});
        const std::size_t rowSize = (std::size_t(image.width) * std::size_t(bitDepth) + 7) / 8;
        std::vector<std::uint8_t> packed;
        if (bitDepth < 8) packed.assign(rowSize * std::size_t(image.height), 0);
        std::vector<png_bytep> rows(std::size_t(image.height));
        const int perByte = 8 / bitDepth;
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* src =
                image.indices.data() + std::size_t(y) * std::size_t(image.width);
            if (bitDepth == 8) {
                rows[std::size_t(y)] = const_cast<png_bytep>(src);
                continue;
            }
            std::uint8_t* dst = packed.data() + std::size_t(y) * rowSize;
            for (int x = 0; x < image.width; ++x) {
                const int shift = bitDepth * (perByte - 1 - x % perByte);
                dst[x / perByte] |= std::uint8_t((src[x] & ((1 << bitDepth) - 1)) << shift);
            }
            rows[std::size_t(y)] = dst;
        }
        PngWriter writer;
        WriteState state{&out};
        if (writer.ok() &&
            writePng(writer, state, image.width, image.height, bitDepth, PNG_COLOR_TYPE_PALETTE,
                     false, palette.data(), int(palette.size()), rows.data(), tuning, {}))
            return true;
    } catch (const std::bad_alloc&) {
    }
    out.resize(start);
    return false;
}

} // namespace quill::imagefiles
