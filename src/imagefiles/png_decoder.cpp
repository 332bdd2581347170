// PNG decoding through libpng. Errors return through setjmp/longjmp, which stays inside this
// file; the library's warnings are silenced.
#include "imagefiles/png_decoder.h"

#include <csetjmp>
#include <cstring>

#include <png.h>

#include "imagefiles/detail/decode_limits.h"

namespace quill::imagefiles {

namespace {

struct Source {
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;
};

// A request that runs past the end gets the bytes that are there and zeros for the rest, so that
// the compressed data before the cut still decodes to rows; zlib then stops at the zeros (or the
// chunk's checksum fails), and a further request fails at once.
void readData(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<Source*>(png_get_io_ptr(png));
    const std::size_t left = source->bytes.size() - source->position;
    if (left == 0) png_error(png, "truncated");
    const std::size_t n = length < left ? length : left;
    std::memcpy(out, source->bytes.data() + source->position, n);
    if (n < length) std::memset(out + n, 0, length - n);
    source->position += n;
}

[[noreturn]] void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void onWarning(png_structp, png_const_charp) {}

struct Header {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool alpha = false;
    int passes = 1;
};

class ReadGuard {
public:
    ReadGuard(png_structp png, png_infop info) : m_png(png), m_info(info) {}
    ~ReadGuard() { png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr); }
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

private:
    png_structp m_png;
    png_infop m_info;
};

// Reads the header and sets up the transformations to 8-bit BGR or BGRA. No C++ object with a
// destructor lives in this frame, so the longjmp of an error is safe.
bool readHeader(png_structp png, png_infop info, Header& header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_info(png, info);
    int bitDepth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &header.width, &header.height, &bitDepth, &colorType, &interlace,
                 nullptr, nullptr);
    // Palette, low-depth grey and tRNS of any colour type expand to full channels; a declared
    // transparent colour thereby becomes real alpha instead of being lost.
    const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_set_expand(png);
    if (trns) png_set_tRNS_to_alpha(png);
    if (bitDepth == 16) png_set_scale_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    png_set_bgr(png);
    header.alpha = trns || (colorType & PNG_COLOR_MASK_ALPHA) != 0;
    header.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_size_t rowBytes = png_get_rowbytes(png, info);
    return rowBytes == png_size_t(header.width) * (header.alpha ? 4 : 3);
}

// Reads every pass into the image; an error keeps what was read. Returns the number of rows
// read (over all passes).
struct RowCount {
    long rows = 0;
};
void readRows(png_structp png, toolkit::Image* image, int passes, RowCount* count) {
    if (setjmp(png_jmpbuf(png))) return;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < image->height(); ++y) {
            png_read_row(png, image->row(y), nullptr);
            ++count->rows;
        }
    }
    png_read_end(png, nullptr);
}

} // namespace

toolkit::Image decodePng(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) return {};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return {};
    png_infop info = png_create_info_struct(png);
    ReadGuard guard(png, info);
    if (!info) return {};
    Source source{bytes, 0};
    png_set_read_fn(png, &source, readData);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    // libpng buffers a text, profile, palette-suggestion or other metadata chunk whole, at the
    // size its header declares, before it checks that size (an oversized chunk is only a
    // warning). None of them is used here: every chunk except the header, palette, tRNS, image
    // data and end is skipped unread, in small reads, so a chunk's declared size never becomes
    // an allocation.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_cache_max(png, 1);
    png_set_chunk_malloc_max(png, 16u << 20);

    Header header;
    if (!readHeader(png, info, header)) return {};
    toolkit::Image image = detail::allocateImage(header.width, header.height,
                                                 header.alpha ? toolkit::PixelFormat::Bgra32
                                                              : toolkit::PixelFormat::Bgr24);
    if (image.empty()) return {};
    RowCount count;
    readRows(png, &image, header.passes, &count);
    if (count.rows == 0) return {}; // no pixel data at all
    return image;
}

} // namespace quill::imagefiles
