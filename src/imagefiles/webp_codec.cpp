// WebP through libwebp. Still images decode straight into the output image (libwebp writes
// blue-green-red(-alpha) rows at our stride); animations go through WebPAnimDecoder, which
// composites the first frame onto a transparent canvas. Metadata chunks come from the demuxer.
//
// Encoding settings, measured on a 4000x3000 photograph with cwebp on the shared 2-core machine
// (one thread, as the workers encode files in parallel):
//   lossy q80:  method 2  0.43 s 257 KB, method 3  0.98 s 240 KB, method 4  0.98 s 241 KB
//   lossless:   level 0   1.03 s 4.1 MB, level 1   2.33 s 3.7 MB
// Method 2 is within 7% of the default's size at under half its time, and stays near a second
// when the machine is busy (about 2 s with five builds running, where method 4 took 5 s).
// Lossless level 0 keeps a 12-megapixel file near a second; the next level costs over twice
// that for 12% less.
//
// Quality values 1..9 map to the libwebp quality whose mean SSIM (bench/ssim.h, luma) over eight
// photographs of tests/data/thirdparty/jpeg first reaches that of our JPEG encoder at the same
// value (libwebp quality 0..100 tried in steps of 1, method 2):
//   value   1      2      3      4      5      6      7      8      9
//   JPEG  0.802  0.874  0.903  0.914  0.940  0.957  0.958  0.979  0.990
//   WebP  0.814  0.876  0.903  0.916  0.941  0.958  0.958  0.979  0.991   (libwebp q in the table)
// WebP files came out 3-40% smaller than the JPEG files up to value 8, 8% larger at value 9.
#include "imagefiles/webp_codec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "imagefiles/detail/decode_limits.h"
#include "toolkit/stop_request.h"

namespace quill::imagefiles {

namespace {

constexpr int kLossyMethod = 2;
constexpr int kLosslessLevel = 0;

struct DemuxDelete {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct AnimDecoderDelete {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// Frees what libwebp allocated for a picture, on every way out of the encoder.
class PictureGuard {
public:
    explicit PictureGuard(WebPPicture& picture) : m_picture(picture) {}
    ~PictureGuard() { WebPPictureFree(&m_picture); }
    PictureGuard(const PictureGuard&) = delete;
    PictureGuard& operator=(const PictureGuard&) = delete;

private:
    WebPPicture& m_picture;
};

/// Whether decoding a file with these features into an image of `format` fits the budget of
/// one decode: the file, our image and what libwebp holds beside it. A few bytes can declare a
/// picture of 16384 x 16384 that the lossless decoder fills with one colour, so the size cap
/// alone lets gigabytes through.
bool fitsBudget(std::span<const std::uint8_t> bytes, const WebPBitstreamFeatures& features,
                toolkit::PixelFormat format) {
    if (!detail::decodeSizeAllowed(features.width, features.height, format)) return false;
    const auto width = std::uint64_t(features.width);
    const auto pixels = width * std::uint64_t(features.height);
    const std::uint64_t image =
        std::uint64_t(toolkit::Image::strideFor(features.width, format)) * features.height;
    // An animation: two canvases of 32-bit pixels. Lossless data (and lossless alpha, format 0
    // "mixed"): 32-bit pixels. Lossy data: row caches.
    const std::uint64_t library = features.has_animation ? 8 * pixels
                                  : features.format == 1 ? 256 * width
                                                         : 4 * pixels;
    return detail::fitsDecodeBudget({bytes.size(), image, library});
}

// The first frame of an animation, composited by WebPAnimDecoder onto its canvas.
toolkit::Image decodeFirstFrame(std::span<const std::uint8_t> bytes,
                                const WebPBitstreamFeatures& features) {
    // The decoder holds two canvases of 32-bit pixels beside our image.
    if (!fitsBudget(bytes, features, toolkit::PixelFormat::Bgra32)) return {};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return {};
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData data{bytes.data(), bytes.size()};
    const std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete> decoder(
        WebPAnimDecoderNew(&data, &options));
    if (!decoder) return {};
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) return {};
    const int width = int(info.canvas_width);
    const int height = int(info.canvas_height);
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas) return {};
    const std::size_t canvasStride = std::size_t(width) * 4;

    // The canvas starts transparent, so a first frame that leaves part of it uncovered has alpha
    // even when the file's header does not say so.
    bool alpha = features.has_alpha != 0;
    for (int y = 0; y < height && !alpha; ++y) {
        const std::uint8_t* row = canvas + std::size_t(y) * canvasStride;
        for (int x = 0; x < width; ++x)
            if (row[std::size_t(x) * 4 + 3] != 255) {
                alpha = true;
                break;
            }
    }
    toolkit::Image image = detail::allocateImage(
        width, height, alpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24);
    if (!image) return {};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = canvas + std::size_t(y) * canvasStride;
        std::uint8_t* dst = image.row(y);
        if (alpha) {
            std::memcpy(dst, src, canvasStride);
            continue;
        }
        for (int x = 0; x < width; ++x, src += 4, dst += 3) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
    return image;
}

// Copies the chunk with this four-character code (the first one) out of the demuxer.
std::vector<std::uint8_t> chunk(const WebPDemuxer* demux, const char* fourcc) {
    WebPChunkIterator it;
    std::vector<std::uint8_t> bytes;
    if (!WebPDemuxGetChunk(demux, fourcc, 1, &it)) return bytes;
    bytes.assign(it.chunk.bytes, it.chunk.bytes + it.chunk.size);
    WebPDemuxReleaseChunkIterator(&it);
    return bytes;
}

// The EXIF chunk as the TIFF structure it should be: some writers put JPEG's "Exif\0\0" before
// it; anything that then does not start with a byte-order mark is not usable EXIF.
std::vector<std::uint8_t> tiffExif(std::vector<std::uint8_t> exif) {
    static constexpr std::uint8_t kPrefix[] = {'E', 'x', 'i', 'f', 0, 0};
    if (exif.size() >= sizeof kPrefix && std::memcmp(exif.data(), kPrefix, sizeof kPrefix) == 0)
        exif.erase(exif.begin(), exif.begin() + sizeof kPrefix);
    static constexpr std::uint8_t kIntel[] = {'I', 'I', 0x2A, 0};
    static constexpr std::uint8_t kMotorola[] = {'M', 'M', 0, 0x2A};
    if (exif.size() < 8 ||
        (std::memcmp(exif.data(), kIntel, 4) != 0 && std::memcmp(exif.data(), kMotorola, 4) != 0))
        exif.clear();
    return exif;
}

struct WriteState {
    std::vector<std::uint8_t>* out;
    bool outOfMemory = false;
};

int writeBytes(const std::uint8_t* data, std::size_t size, const WebPPicture* picture) {
    auto* state = static_cast<WriteState*>(picture->custom_ptr);
    try {
        state->out->insert(state->out->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        state->outOfMemory = true;
        return 0;
    }
    return 1;
}

// libwebp reports progress between macroblock rows; returning 0 abandons the encoding.
int keepGoing(int, const WebPPicture*) {
    return toolkit::stopRequested() ? 0 : 1;
}

} // namespace

bool looksLikeWebp(std::span<const std::uint8_t> head) {
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

DeclaredSize webpDeclaredSize(std::span<const std::uint8_t> bytes) {
    WebPBitstreamFeatures features;
    if (!looksLikeWebp(bytes) ||
        WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK)
        return {};
    return {features.width, features.height};
}

toolkit::Image decodeWebp(std::span<const std::uint8_t> bytes, const DecodeRequest&) {
    if (!looksLikeWebp(bytes)) return {};
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return {};
    if (WebPGetFeatures(bytes.data(), bytes.size(), &config.input) != VP8_STATUS_OK) return {};
    if (config.input.has_animation) return decodeFirstFrame(bytes, config.input);

    const bool alpha = config.input.has_alpha != 0;
    const auto format = alpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24;
    if (!fitsBudget(bytes, config.input, format)) return {};
    toolkit::Image image = detail::allocateImage(config.input.width, config.input.height, format);
    if (!image) return {};
    config.options.use_threads = 0;
    config.output.colorspace = alpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.data();
    config.output.u.RGBA.stride = int(image.stride());
    config.output.u.RGBA.size = image.sizeInBytes();
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) return {};
    return image;
}

FileMetadata readWebpMetadata(std::span<const std::uint8_t> bytes) {
    FileMetadata metadata;
    if (!looksLikeWebp(bytes)) return metadata;
    // The partial demuxer also reads the chunks of a file that breaks off after them.
    const WebPData data{bytes.data(), bytes.size()};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    const std::unique_ptr<WebPDemuxer, DemuxDelete> demux(WebPDemuxPartial(&data, &state));
    if (!demux || state == WEBP_DEMUX_PARSE_ERROR) return metadata;
    try {
        metadata.exif = tiffExif(chunk(demux.get(), "EXIF"));
        metadata.xmp = chunk(demux.get(), "XMP ");
        metadata.icc = chunk(demux.get(), "ICCP");
    } catch (const std::bad_alloc&) {
        return {};
    }
    return metadata;
}

std::uint64_t webpDecodeWorkBytes(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return 0;
    const auto pixels = std::uint64_t(width) * std::uint64_t(height);
    // Two 32-bit canvases for an animation, the lossless decoder's 32-bit pixels (measured at 4
    // bytes a pixel for a still lossless file; lossy files need only row caches), the parser.
    return 12 * pixels + 256 * std::uint64_t(width) + (std::uint64_t{1} << 20);
}

namespace {

// Encodes lossless (`libwebpQuality` > 100) or lossy at a libwebp quality 0..100.
bool encodeWebpAt(const toolkit::ImageView& image, int libwebpQuality,
                  std::vector<std::uint8_t>& out) {
    if (!image.data || image.width <= 0 || image.height <= 0 || image.width > kWebpMaxSide ||
        image.height > kWebpMaxSide || image.stride > std::size_t(0x7FFFFFFF))
        return false;
    WebPConfig config;
    if (!WebPConfigInit(&config)) return false;
    if (libwebpQuality > 100) {
        if (!WebPConfigLosslessPreset(&config, kLosslessLevel)) return false;
        config.exact = 1; // keep the colour of transparent pixels too
    } else {
        config.quality = float(libwebpQuality < 0 ? 0 : libwebpQuality);
        config.method = kLossyMethod;
    }
    config.thread_level = 0;
    if (!WebPValidateConfig(&config)) return false;

    WebPPicture picture;
    if (!WebPPictureInit(&picture)) return false;
    const PictureGuard guard(picture);
    picture.width = image.width;
    picture.height = image.height;
    picture.use_argb = config.lossless;
    const int stride = int(image.stride);
    const bool imported = image.format == toolkit::PixelFormat::Bgra32
                              ? WebPPictureImportBGRA(&picture, image.data, stride)
                              : WebPPictureImportBGR(&picture, image.data, stride);
    if (!imported) return false;

    const std::size_t start = out.size();
    WriteState state{&out};
    picture.writer = writeBytes;
    picture.custom_ptr = &state;
    picture.progress_hook = keepGoing;
    if (WebPEncode(&config, &picture) && !state.outOfMemory) return true;
    out.resize(start);
    return false;
}

// Puts the profile into the simple file that starts at `start` of `out`: the muxer turns it into
// an extended one (VP8X) with the ICCP chunk first. On failure `out` ends before `start`.
bool addProfile(std::vector<std::uint8_t>& out, std::size_t start,
                std::span<const std::uint8_t> icc) {
    const WebPData plain{out.data() + start, out.size() - start};
    const WebPData profile{icc.data(), icc.size()};
    WebPMux* mux = WebPMuxCreate(&plain, 1);
    WebPData assembled{};
    const bool ok = mux != nullptr && WebPMuxSetChunk(mux, "ICCP", &profile, 1) == WEBP_MUX_OK &&
                    WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
    WebPMuxDelete(mux);
    out.resize(start);
    if (ok) {
        try {
            out.insert(out.end(), assembled.bytes, assembled.bytes + assembled.size);
        } catch (const std::bad_alloc&) {
            out.resize(start);
            WebPDataClear(&assembled);
            return false;
        }
    }
    WebPDataClear(&assembled);
    return ok;
}

} // namespace

bool encodeWebp(const toolkit::ImageView& image, int quality, std::vector<std::uint8_t>& out) {
    quality = quality < 1 ? 1 : quality > 10 ? 10 : quality;
    return encodeWebpAt(image, quality == 10 ? 101 : kWebpLossyQuality[quality - 1], out);
}

bool encodeWebpWithProfile(const toolkit::ImageView& image, int quality,
                           std::span<const std::uint8_t> icc, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    if (!encodeWebp(image, quality, out)) return false;
    return icc.empty() || addProfile(out, start, icc);
}

bool encodeWebpLossy(const toolkit::ImageView& image, int libwebpQuality,
                     std::span<const std::uint8_t> icc, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    if (!encodeWebpAt(image, std::clamp(libwebpQuality, 0, 100), out)) return false;
    return icc.empty() || addProfile(out, start, icc);
}

std::uint64_t webpEncodeWorkBytes(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return 0;
    const auto pixels = std::uint64_t(width) * std::uint64_t(height);
    // Lossless: the 32-bit picture, the encoder's transformed copy, its hash chain and backward
    // references; measured at 14.5 bytes a pixel for a 12-megapixel photograph at level 0. Lossy
    // holds much less (YUV planes, tokens; 1.5 bytes a pixel).
    return 20 * pixels + (std::uint64_t{4} << 20);
}

} // namespace quill::imagefiles
