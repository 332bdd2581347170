// JPEG decoding through libjpeg-turbo. Errors return through setjmp/longjmp, which stays inside
// this file; the library's warnings are silenced.
#include "imagefiles/jpeg_decoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "imagefiles/detail/decode_limits.h"
#include "toolkit/stop_request.h"

namespace quill::imagefiles {

namespace {

// A hostile progressive file can hold thousands of tiny scans, each of which costs a pass over
// the whole coefficient buffer; real files have a few dozen.
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool stopped = false; ///< the decode gave up because the thread's work was asked to stop
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr, int) {}
void onOutput(j_common_ptr) {}

// Called by the library every few rows of every pass: a large progressive file spends most of its
// time in passes that give no output row yet, so the stop request is polled here.
void onProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->is_decompressor && d->input_scan_number > kMaxScans) {
        cinfo->err->msg_code = JERR_NOT_COMPILED;
        cinfo->err->error_exit(cinfo);
    }
    if (toolkit::stopRequested()) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        err->stopped = true;
        std::longjmp(err->jump, 1);
    }
}

// The decode runs in two steps that each set their own jump point, so that no C++ object with a
// destructor lives in a frame a longjmp leaves.
/// How much smaller than the file to decode: a fixed reduction, or the strongest one that still
/// gives at least a minimum size.
struct Reduction {
    int minWidth = 0;
    int minHeight = 0;
    unsigned denominator = 1;
};

bool readHeader(jpeg_decompress_struct& cinfo, ErrorManager& err,
                std::span<const std::uint8_t> bytes, Reduction reduction) {
    if (setjmp(err.jump)) return false;
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    switch (cinfo.jpeg_color_space) {
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        break;
    default:
        // Greyscale, YCbCr and RGB all convert straight to the image's byte order.
        cinfo.out_color_space = JCS_EXT_BGR;
        break;
    }
    if (reduction.denominator > 1) {
        cinfo.scale_num = 1;
        cinfo.scale_denom = reduction.denominator;
    } else if (reduction.minWidth > 0 && reduction.minHeight > 0) {
        // The library's reduced decoding: the largest reduction that still gives at least the
        // requested size.
        for (unsigned denom = 8; denom > 1; denom /= 2) {
            if ((cinfo.image_width + denom - 1) / denom >= unsigned(reduction.minWidth) &&
                (cinfo.image_height + denom - 1) / denom >= unsigned(reduction.minHeight)) {
                cinfo.scale_num = 1;
                cinfo.scale_denom = denom;
                break;
            }
        }
    }
    jpeg_calc_output_dimensions(&cinfo);
    return true;
}

// Converts one row of CMYK samples to blue, green, red. Files with an Adobe marker store the
// inks inverted (the usual case for Photoshop); others store them directly.
void cmykRowToBgr(const std::uint8_t* src, std::uint8_t* dst, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, src += 4, dst += 3) {
        unsigned c = src[0], m = src[1], y = src[2], k = src[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        // With inverted storage, red = (255 - C)(255 - K) / 255 becomes c * k / 255.
        dst[2] = std::uint8_t((c * k + 127) / 255);
        dst[1] = std::uint8_t((m * k + 127) / 255);
        dst[0] = std::uint8_t((y * k + 127) / 255);
    }
}

struct DecodeState {
    toolkit::Image* image = nullptr;
    JSAMPLE* cmykRow = nullptr;
    bool anyRow = false; ///< at least one row was decoded before an error
};

void decodeRows(jpeg_decompress_struct& cinfo, ErrorManager& err, DecodeState& state) {
    if (setjmp(err.jump)) { // keeps the rows decoded so far
        state.anyRow = cinfo.output_scanline > 0;
        return;
    }
    state.anyRow = true;
    jpeg_start_decompress(&cinfo);
    toolkit::Image& image = *state.image;
    const bool cmyk = cinfo.out_color_space == JCS_CMYK;
    const bool inverted = cinfo.saw_Adobe_marker;
    JSAMPROW rows[4];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        if (cmyk) {
            rows[0] = state.cmykRow;
            if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
            cmykRowToBgr(state.cmykRow, image.row(int(first)), cinfo.output_width, inverted);
            continue;
        }
        int count = 0;
        for (; count < 4 && first + JDIMENSION(count) < cinfo.output_height; ++count) {
            rows[count] = image.row(int(first + JDIMENSION(count)));
        }
        if (jpeg_read_scanlines(&cinfo, rows, JDIMENSION(count)) == 0) break;
    }
    jpeg_finish_decompress(&cinfo);
}

// Bytes the library keeps for whole-image coefficient buffers: a progressive or multi-scan file
// holds every DCT coefficient of the image (two bytes each) until its last scan. Single-scan
// baseline files decode a band at a time and need none.
std::uint64_t coefficientBytes(const jpeg_decompress_struct& cinfo) {
    if (!cinfo.progressive_mode && !cinfo.buffered_image &&
        cinfo.comps_in_scan >= cinfo.num_components)
        return 0;
    const std::uint64_t maxH = std::uint64_t(std::max(cinfo.max_h_samp_factor, 1));
    const std::uint64_t maxV = std::uint64_t(std::max(cinfo.max_v_samp_factor, 1));
    std::uint64_t total = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        const std::uint64_t h = std::uint64_t(std::max(comp.h_samp_factor, 1));
        const std::uint64_t v = std::uint64_t(std::max(comp.v_samp_factor, 1));
        // Blocks across and down, rounded up to whole MCUs as the library allocates them.
        const std::uint64_t across =
            (std::uint64_t(cinfo.image_width) * h + maxH * 8 - 1) / (maxH * 8);
        const std::uint64_t down =
            (std::uint64_t(cinfo.image_height) * v + maxV * 8 - 1) / (maxV * 8);
        total += ((across + h - 1) / h * h) * ((down + v - 1) / v * v) * 64 * 2;
    }
    return total;
}

class DecompressGuard {
public:
    explicit DecompressGuard(jpeg_decompress_struct& cinfo) : m_cinfo(cinfo) {}
    ~DecompressGuard() { jpeg_destroy_decompress(&m_cinfo); }
    DecompressGuard(const DecompressGuard&) = delete;
    DecompressGuard& operator=(const DecompressGuard&) = delete;

private:
    jpeg_decompress_struct& m_cinfo;
};

} // namespace

namespace {

toolkit::Image decode(std::span<const std::uint8_t> bytes, Reduction reduction) {
    if (bytes.size() < 4) return {};
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = onMessage;
    err.base.output_message = onOutput;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = onProgress;
    if (setjmp(err.jump)) return {};
    jpeg_create_decompress(&cinfo);
    DecompressGuard guard(cinfo);
    cinfo.progress = &progress;
    cinfo.mem->max_memory_to_use = long(detail::decodeMaxBytes());

    if (!readHeader(cinfo, err, bytes, reduction)) return {};
    // The file, the image and the coefficient buffers must fit the decode budget together; what
    // does not is refused before anything large is allocated. The library's own limit then
    // covers whatever else it allocates (the scan counts the file does not declare up front).
    if (!detail::decodeSizeAllowed(cinfo.output_width, cinfo.output_height,
                                   toolkit::PixelFormat::Bgr24)) {
        return {};
    }
    const std::uint64_t imageBytes = std::uint64_t(toolkit::Image::strideFor(
                                         int(cinfo.output_width), toolkit::PixelFormat::Bgr24)) *
                                     cinfo.output_height;
    const std::uint64_t coefficients = coefficientBytes(cinfo);
    if (!detail::fitsDecodeBudget({bytes.size(), imageBytes, coefficients})) return {};
    const std::uint64_t libraryBytes = detail::decodeBudget() - bytes.size() - imageBytes;
    cinfo.mem->max_memory_to_use =
        long(std::min<std::uint64_t>(libraryBytes, detail::decodeMaxBytes()));
    toolkit::Image image =
        detail::allocateImage(cinfo.output_width, cinfo.output_height, toolkit::PixelFormat::Bgr24);
    if (image.empty()) return {};
    std::unique_ptr<JSAMPLE[]> cmykRow;
    if (cinfo.out_color_space == JCS_CMYK) {
        cmykRow.reset(new (std::nothrow) JSAMPLE[std::size_t(cinfo.output_width) * 4]);
        if (!cmykRow) return {};
    }
    DecodeState state{&image, cmykRow.get()};
    decodeRows(cinfo, err, state);
    if (err.stopped) return {};   // asked to stop: the rows so far are of no use
    if (!state.anyRow) return {}; // failed before the first row: nothing to show
    return image;
}

} // namespace

toolkit::Image decodeJpeg(std::span<const std::uint8_t> bytes) {
    return decode(bytes, Reduction{});
}

toolkit::Image decodeJpegReduced(std::span<const std::uint8_t> bytes, int minWidth, int minHeight) {
    return decode(bytes, Reduction{minWidth, minHeight});
}

toolkit::Image decodeJpegScaled(std::span<const std::uint8_t> bytes, int reduction) {
    const bool valid = reduction == 2 || reduction == 4 || reduction == 8;
    return decode(bytes, Reduction{0, 0, valid ? unsigned(reduction) : 1u});
}

} // namespace quill::imagefiles
