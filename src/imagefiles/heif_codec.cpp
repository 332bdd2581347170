// HEIF/HEIC reading through libheif, from memory, without worker threads of the library (the
// program decodes several files at once on its own threads).
#include "imagefiles/heif_codec.h"

#include "imagefiles/detail/decode_limits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include <libheif/heif.h>

namespace quill::imagefiles {

namespace {

/// Largest side libheif may accept: its limit is this value squared, in pixels, which is the
/// number of 32-bit pixels that fit the image size cap.
constexpr int kMaxSide = 16384;

std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

/// Registers libheif's decoder plugins once for the whole process; later calls are no-ops.
void initLibrary() {
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)done;
}

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using ContextPtr = std::unique_ptr<heif_context, ContextFree>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleFree>;

/// A parsed file and its primary image. The context reads `bytes` in place, so they must outlive
/// it.
struct Primary {
    ContextPtr context;
    HandlePtr handle;
};

Primary openPrimary(std::span<const std::uint8_t> bytes) {
    Primary p;
    if (bytes.size() < 16 || !looksLikeHeif(bytes)) return p;
    initLibrary();
    p.context.reset(heif_context_alloc());
    if (!p.context) return p;
    heif_context_set_maximum_image_size_limit(p.context.get(), kMaxSide);
    heif_context_set_max_decoding_threads(p.context.get(), 0);
    heif_error err = heif_context_read_from_memory_without_copy(p.context.get(), bytes.data(),
                                                                bytes.size(), nullptr);
    if (err.code != heif_error_Ok) return p;
    heif_image_handle* handle = nullptr;
    err = heif_context_get_primary_image_handle(p.context.get(), &handle);
    if (err.code == heif_error_Ok) p.handle.reset(handle);
    return p;
}

/// Copies interleaved RGB(A) samples of `bits` depth into a Bgr24/Bgra32 image. Deep samples
/// come as 16-bit little-endian words and are rounded to 8 bits.
void copyPixels(const std::uint8_t* plane, int planeStride, int bits, bool alpha,
                toolkit::Image& out) {
    const int channels = alpha ? 4 : 3;
    const int outBpp = out.bytesPerPixel();
    const std::uint32_t max = (1u << bits) - 1;
    for (int y = 0; y < out.height(); ++y) {
        const std::uint8_t* src = plane + std::size_t(planeStride) * std::size_t(y);
        std::uint8_t* dst = out.row(y);
        for (int x = 0; x < out.width(); ++x, dst += outBpp) {
            std::array<std::uint8_t, 4> v{};
            for (int c = 0; c < channels; ++c) {
                if (bits == 8) {
                    v[std::size_t(c)] = src[c];
                } else {
                    const std::uint32_t s = std::min<std::uint32_t>(
                        std::uint32_t(src[2 * c]) | std::uint32_t(src[2 * c + 1]) << 8, max);
                    v[std::size_t(c)] = std::uint8_t((s * 255 + max / 2) / max);
                }
            }
            src += bits == 8 ? channels : 2 * channels;
            dst[0] = v[2];
            dst[1] = v[1];
            dst[2] = v[0];
            if (alpha) dst[3] = v[3];
        }
    }
}

/// The Exif item as the TIFF block: libheif returns the item whole, starting with a 4-byte
/// big-endian offset from the end of that field to the TIFF header (usually past "Exif\0\0").
std::vector<std::uint8_t> tiffFromExifItem(const std::vector<std::uint8_t>& item) {
    if (item.size() < 4) return {};
    const std::uint64_t start = 4 + std::uint64_t(be32(item.data()));
    if (start + 8 > item.size()) return {};
    const std::uint8_t* p = item.data() + start;
    const bool intel = p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0;
    const bool motorola = p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42;
    if (!intel && !motorola) return {};
    return {item.begin() + std::ptrdiff_t(start), item.end()};
}

} // namespace

bool looksLikeHeif(std::span<const std::uint8_t> head) {
    if (head.size() < 16 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return false;
    const std::uint32_t boxSize = be32(head.data());
    if (boxSize < 16) return false;
    // Only the brands within both the box and the bytes given are looked at.
    const std::size_t end = std::min<std::size_t>(boxSize, head.size());
    const auto isHeifBrand = [](std::string_view b) {
        return b == "heic" || b == "heix" || b == "heim" || b == "heis" || b == "hevc" ||
               b == "hevx" || b == "mif1" || b == "msf1";
    };
    const auto isHevcBrand = [](std::string_view b) {
        return b == "heic" || b == "heix" || b == "heim" || b == "heis" || b == "hevc" ||
               b == "hevx";
    };
    const std::string_view major(reinterpret_cast<const char*>(head.data()) + 8, 4);
    if (major == "avif" || major == "avis") return false;
    bool heif = isHeifBrand(major);
    bool hevc = isHevcBrand(major);
    bool avif = false;
    for (std::size_t at = 16; at + 4 <= end; at += 4) {
        const std::string_view brand(reinterpret_cast<const char*>(head.data()) + at, 4);
        heif = heif || isHeifBrand(brand);
        hevc = hevc || isHevcBrand(brand);
        avif = avif || brand == "avif" || brand == "avis";
    }
    return heif && (hevc || !avif);
}

DeclaredSize heifDeclaredSize(std::span<const std::uint8_t> bytes) {
    const Primary p = openPrimary(bytes);
    if (!p.handle) return {};
    const int w = heif_image_handle_get_width(p.handle.get());
    const int h = heif_image_handle_get_height(p.handle.get());
    if (w <= 0 || h <= 0) return {};
    return {w, h};
}

toolkit::Image decodeHeif(std::span<const std::uint8_t> bytes, const DecodeRequest& /*request*/) {
    const Primary p = openPrimary(bytes);
    if (!p.handle) return {};
    heif_image_handle* handle = p.handle.get();
    const int w = heif_image_handle_get_width(handle);
    const int h = heif_image_handle_get_height(handle);
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    const auto format = alpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24;
    if (!detail::decodeSizeAllowed(w, h, format)) return {};
    const int lumaBits = heif_image_handle_get_luma_bits_per_pixel(handle);
    const int chromaBits = heif_image_handle_get_chroma_bits_per_pixel(handle);
    // Deep images are fetched as 16-bit samples and rounded here: libheif's own reduction to
    // 8 bits shifts, which darkens by up to one step.
    const bool deep = lumaBits > 8 || chromaBits > 8;
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);

    // Default options keep the transformations (irot, imir, clap) applied.
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options) return {};
    heif_image* raw = nullptr;
    const heif_error err =
        heif_decode_image(handle, &raw, heif_colorspace_RGB, chroma, options.get());
    const std::unique_ptr<heif_image, ImageFree> decoded(raw);
    if (err.code != heif_error_Ok || !decoded) return {};
    if (heif_image_get_width(raw, heif_channel_interleaved) != w ||
        heif_image_get_height(raw, heif_channel_interleaved) != h)
        return {};
    const int bits = heif_image_get_bits_per_pixel_range(raw, heif_channel_interleaved);
    if (deep ? (bits <= 8 || bits > 16) : bits != 8) return {};
    int planeStride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(raw, heif_channel_interleaved, &planeStride);
    const int channels = alpha ? 4 : 3;
    if (!plane || planeStride < w * channels * (deep ? 2 : 1)) return {};

    toolkit::Image out(w, h, format);
    if (out.empty()) return {};
    copyPixels(plane, planeStride, deep ? bits : 8, alpha, out);
    return out;
}

FileMetadata readHeifMetadata(std::span<const std::uint8_t> bytes) {
    FileMetadata meta;
    const Primary p = openPrimary(bytes);
    if (!p.handle) return meta;
    heif_image_handle* handle = p.handle.get();

    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count > 0 && count < 4096) {
        std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
        const int got =
            heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
        for (int i = 0; i < got; ++i) {
            const heif_item_id id = ids[std::size_t(i)];
            const std::string_view type = heif_image_handle_get_metadata_type(handle, id);
            const char* contentType = heif_image_handle_get_metadata_content_type(handle, id);
            const bool isExif = type == "Exif";
            const bool isXmp = type == "mime" && contentType &&
                               std::string_view(contentType) == "application/rdf+xml";
            if ((isExif && !meta.exif.empty()) || (isXmp && !meta.xmp.empty()) ||
                (!isExif && !isXmp))
                continue;
            const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
            if (size == 0 || size > bytes.size()) continue;
            std::vector<std::uint8_t> block(size);
            if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
                continue;
            if (isExif)
                meta.exif = tiffFromExifItem(block);
            else
                meta.xmp = std::move(block);
        }
    }

    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle);
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        if (size > 0 && size <= bytes.size()) {
            meta.icc.resize(size);
            if (heif_image_handle_get_raw_color_profile(handle, meta.icc.data()).code !=
                heif_error_Ok)
                meta.icc.clear();
        }
    }
    return meta;
}

std::uint64_t heifDecodeWorkBytes(std::int64_t width, std::int64_t height) {
    const std::uint64_t pixels = std::uint64_t(std::max<std::int64_t>(width, 0)) *
                                 std::uint64_t(std::max<std::int64_t>(height, 0));
    // Up to 16-bit 4:4:4 colour planes plus an alpha plane (8 bytes a pixel), the converted
    // interleaved RGBA at 16 bits (8 bytes), and the HEVC decoder's frames and tables.
    return pixels * 16 + (std::uint64_t(32) << 20);
}

} // namespace quill::imagefiles
