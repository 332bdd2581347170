// JPEG 2000 decoding through OpenJPEG, reading from memory; the library's messages are silenced.
#include "imagefiles/jpeg2000_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include <openjpeg.h>

#include "imagefiles/detail/decode_limits.h"
#include "toolkit/bytes.h"

namespace quill::imagefiles {

namespace {

struct MemoryStream {
    std::span<const std::uint8_t> bytes;
    std::size_t position = 0;
};

OPJ_SIZE_T readProc(void* out, OPJ_SIZE_T size, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (s->position >= s->bytes.size()) return OPJ_SIZE_T(-1);
    const std::size_t n = std::min<std::size_t>(size, s->bytes.size() - s->position);
    std::memcpy(out, s->bytes.data() + s->position, n);
    s->position += n;
    return n;
}
OPJ_OFF_T skipProc(OPJ_OFF_T count, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (count < 0) {
        if (std::size_t(-count) > s->position) return -1;
        s->position -= std::size_t(-count);
        return count;
    }
    const std::size_t left = s->bytes.size() - std::min(s->position, s->bytes.size());
    const std::size_t n = std::min<std::size_t>(std::size_t(count), left);
    s->position += n;
    return OPJ_OFF_T(n);
}
OPJ_BOOL seekProc(OPJ_OFF_T to, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (to < 0 || std::size_t(to) > s->bytes.size()) return OPJ_FALSE;
    s->position = std::size_t(to);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

struct CodecFree {
    void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct StreamFree {
    void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct ImageFree {
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

// One component's sample at image position (x, y), scaled to 0..255.
class Sampler {
public:
    Sampler(const opj_image_comp_t& comp, const opj_image_comp_t& reference)
        : m_comp(comp), m_ref(reference) {
        const unsigned prec = std::clamp<unsigned>(comp.prec, 1, 31);
        m_max = (std::int64_t{1} << prec) - 1;
        m_offset = comp.sgnd ? (std::int64_t{1} << (prec - 1)) : 0;
    }
    [[nodiscard]] std::uint8_t at(std::uint32_t x, std::uint32_t y) const {
        std::uint32_t cx = x, cy = y;
        if (m_comp.dx != m_ref.dx || m_comp.dy != m_ref.dy) {
            cx = std::uint32_t(std::uint64_t(x) * m_ref.dx / std::max<std::uint32_t>(m_comp.dx, 1));
            cy = std::uint32_t(std::uint64_t(y) * m_ref.dy / std::max<std::uint32_t>(m_comp.dy, 1));
        }
        cx = std::min(cx, m_comp.w - 1);
        cy = std::min(cy, m_comp.h - 1);
        std::int64_t v = std::int64_t(m_comp.data[std::size_t(cy) * m_comp.w + cx]) + m_offset;
        v = std::clamp<std::int64_t>(v, 0, m_max);
        if (m_max == 255) return std::uint8_t(v);
        return std::uint8_t((v * 255 + m_max / 2) / m_max);
    }

private:
    const opj_image_comp_t& m_comp;
    const opj_image_comp_t& m_ref;
    std::int64_t m_max = 255;
    std::int64_t m_offset = 0;
};

// The library sets up its state for every tile and component while it reads the main header,
// before any check of ours could run: a file of a hundred bytes can declare tens of thousands of
// tiles. The main header is therefore checked first, from SIZ and COD: sizes, tile count,
// components, decomposition levels and code-block sizes.
constexpr std::uint64_t kPerTileStateBytes = 8 << 10;      // tile coding parameters
constexpr std::uint64_t kPerComponentStateBytes = 2 << 10; // per tile and component
constexpr std::uint64_t kMaxHeaderStateBytes = std::uint64_t{128} << 20;
// The library counts tiles in each direction, and all of them, in 16 bits.
constexpr std::uint64_t kMaxTiles = 65535;
// The most components an image of ours can come from: grey, grey + alpha, RGB, RGBA or CMYK.
constexpr std::uint32_t kMaxComponents = 4;

// Codestream markers of the main header.
constexpr std::uint32_t kMarkerSoc = 0xFF4F; // start of codestream
constexpr std::uint32_t kMarkerSiz = 0xFF51; // image and tile size
constexpr std::uint32_t kMarkerCod = 0xFF52; // coding style default
constexpr std::uint32_t kMarkerSot = 0xFF90; // start of tile part: the main header ends
constexpr std::uint32_t kMarkerSod = 0xFF93; // start of data
constexpr std::uint32_t kMarkerEoc = 0xFFD9; // end of codestream
// The fixed part of SIZ before its three bytes per component.
constexpr std::size_t kSizFixedBytes = 38;

struct BigEndian {
    std::span<const std::uint8_t> bytes;
    [[nodiscard]] bool has(std::size_t at, std::size_t n) const {
        return at <= bytes.size() && n <= bytes.size() - at;
    }
    [[nodiscard]] std::uint32_t u16(std::size_t at) const {
        return toolkit::loadU16be(bytes.data() + at);
    }
    [[nodiscard]] std::uint32_t u32(std::size_t at) const {
        return toolkit::loadU32be(bytes.data() + at);
    }
};

// Where the codestream of a JP2 file begins: the contents of its "jp2c" box; npos when absent.
std::size_t codestreamStart(std::span<const std::uint8_t> bytes) {
    const BigEndian r{bytes};
    std::size_t pos = 0;
    while (r.has(pos, 8)) {
        std::uint64_t length = r.u32(pos);
        std::size_t header = 8;
        if (length == 1) {
            if (!r.has(pos, 16)) break;
            length = std::uint64_t(r.u32(pos + 8)) << 32 | r.u32(pos + 12);
            header = 16;
        } else if (length == 0) {
            length = bytes.size() - pos;
        }
        if (std::memcmp(bytes.data() + pos + 4, "jp2c", 4) == 0) return pos + header;
        if (length < header || length > bytes.size() - pos) break;
        pos += std::size_t(length);
    }
    return std::string_view::npos;
}

// True when the main header (SOC, SIZ, then segments up to the first tile) declares what this
// decoder can hold within the decode budget.
bool mainHeaderAcceptable(std::span<const std::uint8_t> bytes, std::size_t pos) {
    const BigEndian r{bytes};
    if (!r.has(pos, 4) || r.u16(pos) != kMarkerSoc || r.u16(pos + 2) != kMarkerSiz) return false;
    pos += 4;
    if (!r.has(pos, kSizFixedBytes)) return false;
    const std::size_t sizLength = r.u16(pos);
    const std::uint64_t xsiz = r.u32(pos + 4), ysiz = r.u32(pos + 8);
    const std::uint64_t xo = r.u32(pos + 12), yo = r.u32(pos + 16);
    const std::uint64_t xt = r.u32(pos + 20), yt = r.u32(pos + 24);
    const std::uint64_t xto = r.u32(pos + 28), yto = r.u32(pos + 32);
    const std::uint32_t components = r.u16(pos + 36);
    if (components < 1 || components > kMaxComponents ||
        sizLength != kSizFixedBytes + 3 * std::size_t(components) || !r.has(pos, sizLength)) {
        return false;
    }
    if (xsiz <= xo || ysiz <= yo || xt == 0 || yt == 0 || xto > xo || yto > yo || xto + xt <= xo ||
        yto + yt <= yo) {
        return false;
    }
    for (std::uint32_t c = 0; c < components; ++c) {
        const std::size_t at = pos + kSizFixedBytes + 3 * std::size_t(c);
        if ((bytes[at] & 0x7F) >= 31 || bytes[at + 1] == 0 || bytes[at + 2] == 0) return false;
    }
    const std::uint64_t across = (xsiz - xto + xt - 1) / xt;
    const std::uint64_t down = (ysiz - yto + yt - 1) / yt;
    if (across > kMaxTiles || down > kMaxTiles) return false;
    const std::uint64_t tiles = across * down;
    if (tiles > kMaxTiles ||
        tiles * (kPerTileStateBytes + components * kPerComponentStateBytes) > kMaxHeaderStateBytes)
        return false;
    // The library holds every sample as a 32-bit integer beside the image made from them.
    if (xsiz - xo > 0x7FFFFFFF || ysiz - yo > 0x7FFFFFFF) return false;
    const std::uint64_t pixels = (xsiz - xo) * (ysiz - yo);
    if (pixels > (std::uint64_t{1} << 40) ||
        !detail::fitsDecodeBudget({bytes.size(), pixels * components * 4, pixels * 4}))
        return false;

    // The segments after SIZ up to the first tile: COD must be sane where it appears.
    pos += sizLength;
    while (r.has(pos, 4)) {
        const std::uint32_t marker = r.u16(pos);
        if (marker == kMarkerSot || marker == kMarkerSod || marker == kMarkerEoc) break;
        if ((marker >> 8) != 0xFF) return false;
        const std::size_t length = r.u16(pos + 2);
        if (length < 2 || !r.has(pos + 2, length)) return false;
        if (marker == kMarkerCod) {
            if (length < 12) return false;
            const std::uint32_t layers = r.u16(pos + 6);
            const std::uint32_t levels = bytes[pos + 9];
            const std::uint32_t blockWidth = bytes[pos + 10], blockHeight = bytes[pos + 11];
            if (layers == 0 || levels > 32 || blockWidth > 8 || blockHeight > 8 ||
                blockWidth + blockHeight > 8) {
                return false;
            }
        }
        pos += 2 + length;
    }
    return true;
}

std::uint8_t clampByte(double v) {
    return std::uint8_t(std::clamp(v + 0.5, 0.0, 255.0));
}

// The bytes the library reads ahead from the memory stream at a time.
constexpr OPJ_SIZE_T kStreamChunkBytes = 64 * 1024;

using CodecPtr = std::unique_ptr<opj_codec_t, CodecFree>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamFree>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageFree>;

// A decompressor for `format` with the library's messages silenced.
CodecPtr createCodec(OPJ_CODEC_FORMAT format) {
    CodecPtr codec(opj_create_decompress(format));
    if (!codec) return {};
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return {};
    return codec;
}

// A library stream that reads `source`, which must outlive it.
StreamPtr createStream(MemoryStream& source) {
    StreamPtr stream(opj_stream_create(kStreamChunkBytes, OPJ_TRUE));
    if (!stream) return {};
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), source.bytes.size());
    opj_stream_set_read_function(stream.get(), readProc);
    opj_stream_set_skip_function(stream.get(), skipProc);
    opj_stream_set_seek_function(stream.get(), seekProc);
    return stream;
}

// The image header as the library reads it; empty when it fails or declares an image this decoder
// refuses (component count, size).
ImagePtr readHeader(opj_codec_t& codec, opj_stream_t& stream) {
    opj_image_t* rawImage = nullptr;
    if (!opj_read_header(&stream, &codec, &rawImage)) {
        opj_image_destroy(rawImage);
        return {};
    }
    ImagePtr header(rawImage);
    const std::uint32_t numComps = header->numcomps;
    if (numComps < 1 || numComps > kMaxComponents) return {};
    if (header->x1 <= header->x0 || header->y1 <= header->y0) return {};
    const std::uint64_t width = header->x1 - header->x0;
    const std::uint64_t height = header->y1 - header->y0;
    // The library keeps every sample as a 32-bit integer: refuse what would pass the limit.
    if (!detail::decodeSizeAllowed(std::int64_t(width), std::int64_t(height),
                                   toolkit::PixelFormat::Bgra32) ||
        width * height * numComps > detail::decodeMaxBytes() / 4) {
        return {};
    }
    return header;
}

// True when every component of the decoded image holds samples.
bool componentsDecoded(const opj_image_t& img) {
    if (img.comps[0].w == 0 || img.comps[0].h == 0) return false;
    for (std::uint32_t c = 0; c < img.numcomps; ++c) {
        if (!img.comps[c].data || img.comps[c].w == 0 || img.comps[c].h == 0) return false;
    }
    return true;
}

struct Rgba8 {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
};

// Maps the components of each position to a colour: grey, grey + alpha, three colour components
// (RGB or YCbCr) with or without alpha, or CMYK. Components of a lower resolution than the first
// are sampled at the nearest position.
class ColorReader {
public:
    explicit ColorReader(const opj_image_t& img)
        : m_comps(std::min<std::uint32_t>(img.numcomps, kMaxComponents)),
          m_cmyk(img.color_space == OPJ_CLRSPC_CMYK && m_comps == 4),
          m_sycc(img.color_space == OPJ_CLRSPC_SYCC && m_comps >= 3),
          m_s0(img.comps[0], img.comps[0]), m_s1(component(img, 1), img.comps[0]),
          m_s2(component(img, 2), img.comps[0]), m_s3(component(img, 3), img.comps[0]) {}

    [[nodiscard]] bool hasAlpha() const { return !m_cmyk && (m_comps == 2 || m_comps == 4); }

    [[nodiscard]] Rgba8 at(std::uint32_t x, std::uint32_t y) const {
        Rgba8 c;
        c.r = c.g = c.b = m_s0.at(x, y);
        if (m_comps == 2) {
            c.a = m_s1.at(x, y);
        } else if (m_comps >= 3) {
            c.g = m_s1.at(x, y);
            c.b = m_s2.at(x, y);
            if (m_comps == 4) c.a = m_s3.at(x, y);
        }
        if (m_sycc) fromYcc(c);
        if (m_cmyk) fromCmyk(c);
        return c;
    }

private:
    // Component c, or the first one where the image has fewer.
    static const opj_image_comp_t& component(const opj_image_t& img, std::uint32_t c) {
        return img.comps[std::min<std::uint32_t>(img.numcomps, kMaxComponents) > c ? c : 0];
    }
    // Y, Cb, Cr in r, g, b become RGB (the full-range conversion).
    static void fromYcc(Rgba8& c) {
        const double Y = c.r, cb = double(c.g) - 128.0, cr = double(c.b) - 128.0;
        c.r = clampByte(Y + 1.402 * cr);
        c.g = clampByte(Y - 0.344136 * cb - 0.714136 * cr);
        c.b = clampByte(Y + 1.772 * cb);
    }
    // C, M, Y in r, g, b and K in a become RGB.
    static void fromCmyk(Rgba8& c) {
        const unsigned k = 255u - c.a;
        c.r = std::uint8_t(((255u - c.r) * k + 127) / 255);
        c.g = std::uint8_t(((255u - c.g) * k + 127) / 255);
        c.b = std::uint8_t(((255u - c.b) * k + 127) / 255);
    }

    std::uint32_t m_comps;
    bool m_cmyk;
    bool m_sycc;
    Sampler m_s0, m_s1, m_s2, m_s3;
};

// The decoded components as an image of the first component's size.
toolkit::Image toImage(const opj_image_t& img) {
    const opj_image_comp_t& ref = img.comps[0];
    const ColorReader colors(img);
    toolkit::Image image = detail::allocateImage(ref.w, ref.h,
                                                 colors.hasAlpha() ? toolkit::PixelFormat::Bgra32
                                                                   : toolkit::PixelFormat::Bgr24);
    if (image.empty()) return {};
    const int bpp = image.bytesPerPixel();
    for (std::uint32_t y = 0; y < ref.h; ++y) {
        std::uint8_t* d = image.row(int(y));
        for (std::uint32_t x = 0; x < ref.w; ++x, d += bpp) {
            const Rgba8 c = colors.at(x, y);
            d[0] = c.b;
            d[1] = c.g;
            d[2] = c.r;
            if (bpp == 4) d[3] = c.a;
        }
    }
    return image;
}

// The codec for the file's container (a JP2 box file or a bare codestream) when its main header
// passes the checks above.
std::optional<OPJ_CODEC_FORMAT> acceptedFormat(std::span<const std::uint8_t> bytes) {
    OPJ_CODEC_FORMAT format;
    std::size_t codestream = 0;
    if (isJp2BoxFile(bytes)) {
        format = OPJ_CODEC_JP2;
        codestream = codestreamStart(bytes);
    } else if (isJ2kCodestream(bytes)) {
        format = OPJ_CODEC_J2K;
    } else {
        return std::nullopt;
    }
    if (codestream == std::string_view::npos || !mainHeaderAcceptable(bytes, codestream))
        return std::nullopt;
    return format;
}

} // namespace

bool isJp2BoxFile(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kSignature[12] = {0,   0,   0,    0x0C, 'j',  'P',
                                                    ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    return bytes.size() >= 12 && std::memcmp(bytes.data(), kSignature, 12) == 0;
}

bool isJ2kCodestream(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 4 && bytes[0] == 0xFF && bytes[1] == 0x4F && bytes[2] == 0xFF &&
           bytes[3] == 0x51;
}

toolkit::Image decodeJpeg2000(std::span<const std::uint8_t> bytes) {
    const std::optional<OPJ_CODEC_FORMAT> format = acceptedFormat(bytes);
    if (!format) return {};
    const CodecPtr codec = createCodec(*format);
    if (!codec) return {};
    MemoryStream source{bytes, 0};
    const StreamPtr stream = createStream(source);
    if (!stream) return {};
    const ImagePtr image = readHeader(*codec, *stream);
    if (!image) return {};

    // The samples are used even when the library reports a failure part-way, as long as every
    // component holds data.
    const bool decoded = opj_decode(codec.get(), stream.get(), image.get()) != 0;
    if (decoded) (void)opj_end_decompress(codec.get(), stream.get());
    if (!componentsDecoded(*image)) return {};
    return toImage(*image);
}

} // namespace quill::imagefiles
