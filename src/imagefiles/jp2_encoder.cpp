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
// The smallest tile side written when a tile side is asked for.
constexpr int kMinTileSide = 32;
// Each sample is one byte of the working image.
constexpr OPJ_UINT32 kSampleBits = 8;
// The bytes the codec writes to the memory stream at a time.
constexpr OPJ_SIZE_T kStreamChunkBytes = 1 << 20;

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

// The side of the square tiles an image is written in; 0 for one tile. Sides are powers of two:
// OpenJPEG 2.5 codes tiles of other sides wrongly (lossy where it should be lossless) or fails.
int tileSideFor(int width, int height, int requested) {
    if (requested < 0) return std::int64_t(width) * height > kJp2TilingPixels ? kJp2TileSide : 0;
    if (requested == 0 || requested >= std::max(width, height)) return 0;
    int side = kMinTileSide;
    while (side <= requested / 2)
        side *= 2;
    return side;
}

struct Region {
    int x, y, width, height;
};

// Copies one component of `region` of `image` into `dst`, row after row; components are red,
// green, blue (and alpha) while memory holds blue, green, red (, alpha).
template <typename Sample>
void copyComponent(const toolkit::ImageView& image, const Region& region, int component,
                   Sample* dst) {
    constexpr int kSourceChannel[4] = {2, 1, 0, 3};
    const int bpp = toolkit::bytesPerPixel(image.format);
    for (int y = region.y; y < region.y + region.height; ++y) {
        const std::uint8_t* p = image.row(y) + std::size_t(region.x) * std::size_t(bpp) +
                                std::size_t(kSourceChannel[component]);
        for (int x = 0; x < region.width; ++x, p += bpp)
            *dst++ = Sample(*p);
    }
}

// Writes the image tile by tile, each tile's components one after another, one byte a sample:
// the codec holds the samples and work buffers of one tile at a time.
bool writeTiles(opj_codec_t* codec, opj_stream_t* stream, const toolkit::ImageView& image,
                int components, int tileSide) {
    const int across = (image.width + tileSide - 1) / tileSide;
    const int down = (image.height + tileSide - 1) / tileSide;
    std::vector<OPJ_BYTE> samples(std::size_t(tileSide) * std::size_t(tileSide) *
                                  std::size_t(components));
    for (int ty = 0; ty < down; ++ty) {
        for (int tx = 0; tx < across; ++tx) {
            const Region region{tx * tileSide, ty * tileSide,
                                std::min(tileSide, image.width - tx * tileSide),
                                std::min(tileSide, image.height - ty * tileSide)};
            const std::size_t plane = std::size_t(region.width) * std::size_t(region.height);
            for (int c = 0; c < components; ++c)
                copyComponent(image, region, c, samples.data() + std::size_t(c) * plane);
            if (!opj_write_tile(codec, OPJ_UINT32(ty * across + tx), samples.data(),
                                OPJ_UINT32(plane * std::size_t(components)), stream))
                return false;
        }
    }
    return true;
}

using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;

// The codec's image of `components` 8-bit components. Untiled, it holds a copy of the samples;
// tiled, the codec gets no samples of its own: each tile's samples are handed over when the tile
// is written.
ImagePtr createImage(const toolkit::ImageView& image, int components, int tileSide) {
    std::array<opj_image_cmptparm_t, 4> params{};
    for (int c = 0; c < components; ++c) {
        params[std::size_t(c)].dx = 1;
        params[std::size_t(c)].dy = 1;
        params[std::size_t(c)].w = OPJ_UINT32(image.width);
        params[std::size_t(c)].h = OPJ_UINT32(image.height);
        params[std::size_t(c)].prec = kSampleBits;
        params[std::size_t(c)].sgnd = 0;
    }
    ImagePtr jp2Image(
        tileSide > 0 ? opj_image_tile_create(OPJ_UINT32(components), params.data(), OPJ_CLRSPC_SRGB)
                     : opj_image_create(OPJ_UINT32(components), params.data(), OPJ_CLRSPC_SRGB));
    if (!jp2Image) return {};
    jp2Image->x0 = 0;
    jp2Image->y0 = 0;
    jp2Image->x1 = OPJ_UINT32(image.width);
    jp2Image->y1 = OPJ_UINT32(image.height);
    if (components == 4) jp2Image->comps[3].alpha = 1;
    if (tileSide == 0) {
        const Region whole{0, 0, image.width, image.height};
        for (int c = 0; c < components; ++c)
            copyComponent(image, whole, c, jp2Image->comps[c].data);
    }
    return jp2Image;
}

// One quality layer at the rate of `quality` (or lossless), the colour transform, and the
// resolutions the image's (or the tile's) smaller side allows.
opj_cparameters_t encoderParameters(const toolkit::ImageView& image, int quality,
                                    const Jp2Coding& coding, int tileSide) {
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    if (coding.lossless) {
        parameters.tcp_rates[0] = 0; // every bit kept
        parameters.irreversible = 0;
    } else {
        parameters.tcp_rates[0] = float(jp2CompressionRate(quality));
        parameters.irreversible = 1;
    }
    parameters.cp_disto_alloc = 1;
    parameters.tcp_mct = 1; // colour transform over the first three components
    parameters.numresolution = tileSide > 0 ? resolutionsFor(std::min(tileSide, image.width),
                                                             std::min(tileSide, image.height))
                                            : resolutionsFor(image.width, image.height);
    if (tileSide > 0) {
        parameters.tile_size_on = OPJ_TRUE;
        parameters.cp_tx0 = 0;
        parameters.cp_ty0 = 0;
        parameters.cp_tdx = tileSide;
        parameters.cp_tdy = tileSide;
    }
    return parameters;
}

// A compressor for a bare codestream or the JP2 box format, with the library's messages silenced.
CodecPtr createCodec(bool codestream) {
    CodecPtr codec(opj_create_compress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (!codec) return {};
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_info_handler(codec.get(), quiet, nullptr);
    return codec;
}

// A library stream that writes into `memory`, which must outlive it.
StreamPtr createStream(MemoryStream& memory) {
    StreamPtr stream(opj_stream_create(kStreamChunkBytes, OPJ_FALSE));
    if (!stream) return {};
    opj_stream_set_user_data(stream.get(), &memory, nullptr);
    opj_stream_set_write_function(stream.get(), streamWrite);
    opj_stream_set_skip_function(stream.get(), streamSkip);
    opj_stream_set_seek_function(stream.get(), streamSeek);
    return stream;
}

} // namespace

namespace {

// The profile goes into the JP2 header box here: OpenJPEG 2.5.0 asserts on an image that brings
// one. Its colour box (method 1, sRGB) is replaced by one of method 2 holding the profile, and
// the header box's length grows with it. False when the file is not laid out as expected.
bool embedProfile(std::vector<std::uint8_t>& out, std::size_t start,
                  std::span<const std::uint8_t> icc) {
    const auto u32 = [&](std::size_t at) {
        return (std::uint32_t(out[at]) << 24) | (std::uint32_t(out[at + 1]) << 16) |
               (std::uint32_t(out[at + 2]) << 8) | std::uint32_t(out[at + 3]);
    };
    const auto put32 = [](std::uint8_t* at, std::size_t value) {
        for (int i = 0; i < 4; ++i)
            at[i] = std::uint8_t(value >> (24 - 8 * i));
    };
    if (icc.size() > 0x7FFFFFF0u) return false;
    for (std::size_t box = start; box + 8 <= out.size();) {
        const std::size_t length = u32(box);
        if (length < 8 || length > out.size() - box) return false;
        if (std::memcmp(&out[box + 4], "jp2h", 4) != 0) {
            box += length;
            continue;
        }
        for (std::size_t inner = box + 8; inner + 8 <= box + length;) {
            const std::size_t innerLength = u32(inner);
            if (innerLength < 8 || innerLength > box + length - inner) return false;
            if (std::memcmp(&out[inner + 4], "colr", 4) != 0) {
                inner += innerLength;
                continue;
            }
            std::vector<std::uint8_t> colr(11);
            put32(colr.data(), colr.size() + icc.size());
            std::memcpy(&colr[4], "colr", 4);
            colr[8] = 2; // method: restricted ICC profile; precedence and approximation 0
            colr.insert(colr.end(), icc.begin(), icc.end());
            out.erase(out.begin() + std::ptrdiff_t(inner),
                      out.begin() + std::ptrdiff_t(inner + innerLength));
            out.insert(out.begin() + std::ptrdiff_t(inner), colr.begin(), colr.end());
            const std::size_t newLength = length - innerLength + colr.size();
            if (newLength > 0xFFFFFFFFu) return false;
            put32(&out[box], newLength);
            return true;
        }
        return false;
    }
    return false;
}

} // namespace

int jp2CompressionRate(int quality) {
    return kRates[std::size_t(std::clamp(quality, 0, 10))];
}

bool encodeJp2(const toolkit::ImageView& image, int quality, std::vector<std::uint8_t>& out,
               bool codestream, const Jp2Coding& coding, std::span<const std::uint8_t> icc) {
    if (!image.data || image.width <= 0 || image.height <= 0) return false;
    const int components = image.format == toolkit::PixelFormat::Bgra32 ? 4 : 3;
    const int tileSide = tileSideFor(image.width, image.height, coding.tileSide);
    const ImagePtr jp2Image = createImage(image, components, tileSide);
    if (!jp2Image) return false;
    opj_cparameters_t parameters = encoderParameters(image, quality, coding, tileSide);
    const CodecPtr codec = createCodec(codestream);
    if (!codec) return false;
    if (!opj_setup_encoder(codec.get(), &parameters, jp2Image.get())) return false;

    MemoryStream memory{&out, out.size(), 0};
    StreamPtr stream = createStream(memory);
    if (!stream) return false;
    bool ok = opj_start_compress(codec.get(), jp2Image.get(), stream.get());
    if (ok && tileSide > 0) {
        ok = writeTiles(codec.get(), stream.get(), image, components, tileSide);
    } else if (ok) {
        ok = opj_encode(codec.get(), stream.get());
    }
    ok = ok && opj_end_compress(codec.get(), stream.get()) && !memory.failed;
    stream.reset(); // flushes what is still buffered
    if (!ok || memory.failed ||
        (!icc.empty() && !codestream && !embedProfile(out, memory.start, icc))) {
        out.resize(memory.start);
        return false;
    }
    return true;
}

} // namespace quill::imagefiles
