// The JPEG encoder on libjpeg-turbo. Rows go to the library as they lie in memory: blue-green-red
// input is declared as JCS_EXT_BGR (or JCS_EXT_BGRX, whose fourth byte the library skips), so
// there is no copy or channel swap on our side. Output collects in a growing byte vector.
#include "imagefiles/jpeg_encoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include "toolkit/stop_request.h"

namespace quill::imagefiles {

namespace {

constexpr std::size_t kOutputChunk = 64 * 1024;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* self = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(self->jump, 1);
}

void onMessage(j_common_ptr, int) {} // warnings are not shown

struct VectorDestination {
    jpeg_destination_mgr base;
    std::vector<std::uint8_t>* out;
    std::size_t start; // where this file begins in *out
};

// Grows the output; an allocation failure becomes a libjpeg error, which never lets a C++
// exception pass through the library's C frames.
void grow(j_compress_ptr cinfo, std::vector<std::uint8_t>& out, std::size_t size) {
    try {
        out.resize(size);
    } catch (const std::bad_alloc&) {
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    }
}

void initDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    grow(cinfo, *dest->out, dest->start + kOutputChunk);
    dest->base.next_output_byte = dest->out->data() + dest->start;
    dest->base.free_in_buffer = kOutputChunk;
}

boolean emptyOutput(j_compress_ptr cinfo) {
    // Called when the whole buffer is full: grow it and hand over the new tail.
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    const std::size_t used = dest->out->size();
    grow(cinfo, *dest->out, used + std::max(kOutputChunk, (used - dest->start) / 2));
    dest->base.next_output_byte = dest->out->data() + used;
    dest->base.free_in_buffer = dest->out->size() - used;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->out->resize(dest->out->size() - dest->base.free_in_buffer);
}

// Runs the compression; kept apart from encodeJpeg so that no object with a destructor lives in
// the frame that longjmp unwinds.
bool compress(jpeg_compress_struct& cinfo, ErrorManager& errors, VectorDestination& dest,
              const toolkit::ImageView& image, int libraryQuality, bool forceBaseline,
              std::span<const std::uint8_t> icc) {
    if (setjmp(errors.jump)) return false;
    jpeg_create_compress(&cinfo);
    cinfo.dest = &dest.base;
    cinfo.image_width = JDIMENSION(image.width);
    cinfo.image_height = JDIMENSION(image.height);
    const bool four = image.format == toolkit::PixelFormat::Bgra32;
    cinfo.input_components = four ? 4 : 3;
    cinfo.in_color_space = four ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, libraryQuality, forceBaseline ? TRUE : FALSE);
    cinfo.write_JFIF_header = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    // The profile follows the JFIF header, split by the library into segments of 65519 bytes.
    if (!icc.empty())
        jpeg_write_icc_profile(&cinfo, icc.data(), static_cast<unsigned int>(icc.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        // A stop request ends the encoding between rows; the half-made output is dropped.
        if (toolkit::stopRequested()) return false;
        JSAMPROW row = const_cast<JSAMPROW>(image.row(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

} // namespace

bool encodeJpeg(const toolkit::ImageView& image, int quality, std::vector<std::uint8_t>& out,
                bool forceBaseline, std::span<const std::uint8_t> icc) {
    return encodeJpegAtLibraryQuality(image, jpegLibraryQuality(quality), out, forceBaseline, icc);
}

bool encodeJpegAtLibraryQuality(const toolkit::ImageView& image, int libraryQuality,
                                std::vector<std::uint8_t>& out, bool forceBaseline,
                                std::span<const std::uint8_t> icc) {
    if (!image.data || image.width <= 0 || image.height <= 0 || image.width > JPEG_MAX_DIMENSION ||
        image.height > JPEG_MAX_DIMENSION)
        return false;
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.emit_message = onMessage;
    VectorDestination dest{};
    dest.base.init_destination = initDestination;
    dest.base.empty_output_buffer = emptyOutput;
    dest.base.term_destination = termDestination;
    dest.out = &out;
    dest.start = out.size();
    const bool ok = compress(cinfo, errors, dest, image, std::clamp(libraryQuality, 1, 100),
                             forceBaseline, icc);
    jpeg_destroy_compress(&cinfo);
    if (!ok) out.resize(dest.start);
    return ok;
}

} // namespace quill::imagefiles
