// The JPEG 2000 encoder on OpenJPEG. The codec writes into a seekable in-memory stream (it goes
// back to fill in box lengths), from which the caller writes the file in one piece. The 9/7
// irreversible wavelet is used because every output is lossy at a fixed rate, where it keeps
// more detail than the reversible 5/3 one.
#include "imagefiles/jp2_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include <openjpeg.h>

namespace quill::imagefiles {

namespace {

constexpr std::array<int, 11> kRates{500, 250, 125, 100, 80, 60, 30, 15, 10, 5, 2};
constexpr int kMaxResolutions = 6;

struct MemoryStream {
    std::vector<std::uint8_t>* out;
    std::size_t start;    // where this file begins in *out
    std::size_t position; // relative to start
    bool failed = false;
};

OPJ_SIZE_T streamWrite(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    try {
        const std::size_t end = s->start + s->position + size;
        if (s->out->size() < end) s->out->resize(end);
        std::memcpy(s->out->data() + s->start + s->position, buffer, size);
        s->position += size;
        return size;
    } catch (const std::bad_alloc&) {
        s->failed = true;
        return OPJ_SIZE_T(-1);
    }
}

OPJ_OFF_T streamSkip(OPJ_OFF_T count, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (count < 0 && std::size_t(-count) > s->position) return -1;
    s->position = std::size_t(OPJ_OFF_T(s->position) + count);
    return count;
}

OPJ_BOOL streamSeek(OPJ_OFF_T offset, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (offset < 0) return OPJ_FALSE;
    s->position = std::size_t(offset);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};

// The number of wavelet resolutions the image's smaller side allows (each halves it).
int resolutionsFor(int width, int height) {
    int side = std::min(width, height);
    int levels = 1;
    while (levels < kMaxResolutions && side >= 2) {
        side /= 2;
        ++levels;
    }
    return levels;
}

} // namespace

int jp2CompressionRate(int quality) {
    return kRates[std::size_t(std::clamp(quality, 0, 10))];
}

bool encodeJp2(const toolkit::ImageView& image, int quality, std::vector<std::uint8_t>& out,
               bool codestream) {
    if (!image.data || image.width <= 0 || image.height <= 0) return false;
    const bool alpha = image.format == toolkit::PixelFormat::Bgra32;
    const int components = alpha ? 4 : 3;
    std::array<opj_image_cmptparm_t, 4> params{};
    for (int c = 0; c < components; ++c) {
        params[std::size_t(c)].dx = 1;
        params[std::size_t(c)].dy = 1;
        params[std::size_t(c)].w = OPJ_UINT32(image.width);
        params[std::size_t(c)].h = OPJ_UINT32(image.height);
        params[std::size_t(c)].prec = 8;
        params[std::size_t(c)].sgnd = 0;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> jp2Image(
        opj_image_create(OPJ_UINT32(components), params.data(), OPJ_CLRSPC_SRGB));
    if (!jp2Image) return false;
    jp2Image->x0 = 0;
    jp2Image->y0 = 0;
    jp2Image->x1 = OPJ_UINT32(image.width);
    jp2Image->y1 = OPJ_UINT32(image.height);
    if (alpha) jp2Image->comps[3].alpha = 1;
    // Components are red, green, blue (and alpha); memory holds blue, green, red (, alpha).
    constexpr int kSourceChannel[4] = {2, 1, 0, 3};
    const int bpp = toolkit::bytesPerPixel(image.format);
    for (int c = 0; c < components; ++c) {
        OPJ_INT32* dst = jp2Image->comps[c].data;
        const int channel = kSourceChannel[c];
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t* p = image.row(y) + channel;
            for (int x = 0; x < image.width; ++x, p += bpp)
                *dst++ = *p;
        }
    }

    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = float(jp2CompressionRate(quality));
    parameters.cp_disto_alloc = 1;
    parameters.irreversible = 1;
    parameters.tcp_mct = 1; // colour transform over the first three components
    parameters.numresolution = resolutionsFor(image.width, image.height);

    std::unique_ptr<opj_codec_t, CodecDeleter> codec(
        opj_create_compress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (!codec) return false;
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_info_handler(codec.get(), quiet, nullptr);
    if (!opj_setup_encoder(codec.get(), &parameters, jp2Image.get())) return false;

    MemoryStream memory{&out, out.size(), 0};
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(opj_stream_create(1 << 20, OPJ_FALSE));
    if (!stream) return false;
    opj_stream_set_user_data(stream.get(), &memory, nullptr);
    opj_stream_set_write_function(stream.get(), streamWrite);
    opj_stream_set_skip_function(stream.get(), streamSkip);
    opj_stream_set_seek_function(stream.get(), streamSeek);

    const bool ok = opj_start_compress(codec.get(), jp2Image.get(), stream.get()) &&
                    opj_encode(codec.get(), stream.get()) &&
                    opj_end_compress(codec.get(), stream.get()) && !memory.failed;
    stream.reset(); // flushes what is still buffered
    if (!ok || memory.failed) {
        out.resize(memory.start);
        return false;
    }
    return true;
}

} // namespace quill::imagefiles
