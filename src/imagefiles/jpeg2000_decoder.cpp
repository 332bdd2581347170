// JPEG 2000 decoding through OpenJPEG, reading from memory; the library's messages are silenced.
#include "imagefiles/jpeg2000_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
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
    if (!r.has(pos, 4) || r.u16(pos) != 0xFF4F || r.u16(pos + 2) != 0xFF51) return false;
    pos += 4;
    if (!r.has(pos, 38)) return false;
    const std::size_t sizLength = r.u16(pos);
    const std::uint64_t xsiz = r.u32(pos + 4), ysiz = r.u32(pos + 8);
    const std::uint64_t xo = r.u32(pos + 12), yo = r.u32(pos + 16);
    const std::uint64_t xt = r.u32(pos + 20), yt = r.u32(pos + 24);
    const std::uint64_t xto = r.u32(pos + 28), yto = r.u32(pos + 32);
    const std::uint32_t components = r.u16(pos + 36);
    if (components < 1 || components > 4 || sizLength != 38 + 3 * std::size_t(components) ||
        !r.has(pos, sizLength)) {
        return false;
    }
    if (xsiz <= xo || ysiz <= yo || xt == 0 || yt == 0 || xto > xo || yto > yo || xto + xt <= xo ||
        yto + yt <= yo) {
        return false;
    }
    for (std::uint32_t c = 0; c < components; ++c) {
        const std::size_t at = pos + 38 + 3 * std::size_t(c);
        if ((bytes[at] & 0x7F) >= 31 || bytes[at + 1] == 0 || bytes[at + 2] == 0) return false;
    }
    const std::uint64_t across = (xsiz - xto + xt - 1) / xt;
    const std::uint64_t down = (ysiz - yto + yt - 1) / yt;
    if (across > 65535 || down > 65535) return false;
    const std::uint64_t tiles = across * down;
    if (tiles > 65535 ||
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
        if (marker == 0xFF90 || marker == 0xFF93 || marker == 0xFFD9) break; // SOT, SOD, EOC
        if ((marker >> 8) != 0xFF) return false;
        const std::size_t length = r.u16(pos + 2);
        if (length < 2 || !r.has(pos + 2, length)) return false;
        if (marker == 0xFF52) { // COD
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
    OPJ_CODEC_FORMAT format;
    std::size_t codestream = 0;
    if (isJp2BoxFile(bytes)) {
        format = OPJ_CODEC_JP2;
        codestream = codestreamStart(bytes);
    } else if (isJ2kCodestream(bytes)) {
        format = OPJ_CODEC_J2K;
    } else {
        return {};
    }
    if (codestream == std::string_view::npos || !mainHeaderAcceptable(bytes, codestream)) return {};

    std::unique_ptr<opj_codec_t, CodecFree> codec(opj_create_decompress(format));
    if (!codec) return {};
    opj_set_error_handler(codec.get(), quiet, nullptr);
    opj_set_warning_handler(codec.get(), quiet, nullptr);
    opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters)) return {};

    MemoryStream source{bytes, 0};
    std::unique_ptr<opj_stream_t, StreamFree> stream(opj_stream_create(64 * 1024, OPJ_TRUE));
    if (!stream) return {};
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), bytes.size());
    opj_stream_set_read_function(stream.get(), readProc);
    opj_stream_set_skip_function(stream.get(), skipProc);
    opj_stream_set_seek_function(stream.get(), seekProc);

    opj_image_t* rawImage = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &rawImage)) {
        opj_image_destroy(rawImage);
        return {};
    }
    std::unique_ptr<opj_image_t, ImageFree> header(rawImage);
    const std::uint32_t numComps = header->numcomps;
    if (numComps < 1 || numComps > 4) return {};
    if (header->x1 <= header->x0 || header->y1 <= header->y0) return {};
    const std::uint64_t width = header->x1 - header->x0;
    const std::uint64_t height = header->y1 - header->y0;
    // The library keeps every sample as a 32-bit integer: refuse what would pass the limit.
    if (!detail::decodeSizeAllowed(std::int64_t(width), std::int64_t(height),
                                   toolkit::PixelFormat::Bgra32) ||
        width * height * numComps > detail::kDecodeMaxBytes / 4) {
        return {};
    }

    const bool decoded = opj_decode(codec.get(), stream.get(), header.get()) != 0;
    if (decoded) (void)opj_end_decompress(codec.get(), stream.get());
    opj_image_t& img = *header;
    const opj_image_comp_t& ref = img.comps[0];
    if (ref.w == 0 || ref.h == 0) return {};
    for (std::uint32_t c = 0; c < img.numcomps; ++c) {
        if (!img.comps[c].data || img.comps[c].w == 0 || img.comps[c].h == 0) return {};
    }
    const std::uint32_t comps = std::min<std::uint32_t>(img.numcomps, 4);
    const bool cmyk = img.color_space == OPJ_CLRSPC_CMYK && comps == 4;
    const bool alpha = !cmyk && (comps == 2 || comps == 4);
    toolkit::Image image = detail::allocateImage(
        ref.w, ref.h, alpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24);
    if (image.empty()) return {};

    const Sampler s0(img.comps[0], ref);
    const Sampler s1(img.comps[comps > 1 ? 1 : 0], ref);
    const Sampler s2(img.comps[comps > 2 ? 2 : 0], ref);
    const Sampler s3(img.comps[comps > 3 ? 3 : 0], ref);
    const bool sycc = img.color_space == OPJ_CLRSPC_SYCC && comps >= 3;
    const int bpp = image.bytesPerPixel();
    for (std::uint32_t y = 0; y < ref.h; ++y) {
        std::uint8_t* d = image.row(int(y));
        for (std::uint32_t x = 0; x < ref.w; ++x, d += bpp) {
            std::uint8_t r = s0.at(x, y), g = r, b = r, a = 255;
            if (comps == 2) {
                a = s1.at(x, y);
            } else if (comps >= 3) {
                g = s1.at(x, y);
                b = s2.at(x, y);
                if (comps == 4) a = s3.at(x, y);
            }
            if (sycc) {
                const double Y = r, cb = double(g) - 128.0, cr = double(b) - 128.0;
                r = clampByte(Y + 1.402 * cr);
                g = clampByte(Y - 0.344136 * cb - 0.714136 * cr);
                b = clampByte(Y + 1.772 * cb);
            }
            if (cmyk) {
                const unsigned k = 255u - a;
                r = std::uint8_t(((255u - r) * k + 127) / 255);
                g = std::uint8_t(((255u - g) * k + 127) / 255);
                b = std::uint8_t(((255u - b) * k + 127) / 255);
            }
            d[0] = b;
            d[1] = g;
            d[2] = r;
            if (bpp == 4) d[3] = a;
        }
    }
    return image;
}

} // namespace quill::imagefiles
