// AVIF reading and writing through libavif (dav1d decodes, AOM encodes).
#include "imagefiles/avif_codec.h"

#include "imagefiles/detail/decode_limits.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include <avif/avif.h>

namespace quill::imagefiles {

namespace {

using toolkit::Image;
using toolkit::PixelFormat;

struct DecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
using DecoderPtr = std::unique_ptr<avifDecoder, DecoderDeleter>;

struct ImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
using AvifImagePtr = std::unique_ptr<avifImage, ImageDeleter>;

struct EncoderDeleter {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};
using EncoderPtr = std::unique_ptr<avifEncoder, EncoderDeleter>;

/// Largest pixel count handed to the library: a 32-bit image of this many pixels fills the decode
/// cap, so anything larger could never be returned anyway.
std::uint32_t pixelLimit() {
    return std::uint32_t(detail::decodeMaxBytes() / 4);
}

/// A decoder that has parsed the container (no AV1 decoded yet); null when parsing fails.
/// The decoder reads `bytes` in place: they must outlive it.
DecoderPtr parsedDecoder(std::span<const std::uint8_t> bytes, bool wantMetadata) {
    if (bytes.empty()) return {};
    DecoderPtr decoder(avifDecoderCreate());
    if (!decoder) return {};
    decoder->maxThreads = 1;
    decoder->imageSizeLimit = pixelLimit();
    decoder->ignoreExif = wantMetadata ? AVIF_FALSE : AVIF_TRUE;
    decoder->ignoreXMP = wantMetadata ? AVIF_FALSE : AVIF_TRUE;
    if (avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size()) != AVIF_RESULT_OK)
        return {};
    if (avifDecoderParse(decoder.get()) != AVIF_RESULT_OK) return {};
    return decoder;
}

/// How the coded picture is turned into the picture as seen: a crop, then a rotation, then a
/// mirror.
struct Geometry {
    avifCropRect crop{};
    int quarterTurns = 0; ///< anticlockwise, 0..3
    int mirror = -1;      ///< -1 none, 0 top and bottom exchanged, 1 left and right exchanged

    [[nodiscard]] std::uint32_t seenWidth() const {
        return quarterTurns % 2 ? crop.height : crop.width;
    }
    [[nodiscard]] std::uint32_t seenHeight() const {
        return quarterTurns % 2 ? crop.width : crop.height;
    }
};

/// The geometry the container's transform properties ask for. A clean aperture that does not
/// describe a valid crop of this picture is ignored, as the library's own tool reports it.
Geometry geometryOf(const avifImage& image) {
    Geometry geometry;
    geometry.crop = avifCropRect{0, 0, image.width, image.height};
    if (image.transformFlags & AVIF_TRANSFORM_CLAP) {
        avifCropRect rect{};
        avifDiagnostics diag{};
        if (avifCropRectConvertCleanApertureBox(&rect, &image.clap, image.width, image.height,
                                                image.yuvFormat, &diag) &&
            rect.width > 0 && rect.height > 0 && rect.x <= image.width - rect.width &&
            rect.y <= image.height - rect.height)
            geometry.crop = rect;
    }
    if (image.transformFlags & AVIF_TRANSFORM_IROT) geometry.quarterTurns = image.irot.angle & 3;
    if (image.transformFlags & AVIF_TRANSFORM_IMIR) geometry.mirror = image.imir.mode ? 1 : 0;
    return geometry;
}

/// Converts the decoded YUV (already cropped) to `target`, which has its size and format.
/// Deep samples go to 8 bits through libavif's own arithmetic, which rounds; the libyuv shortcut
/// is kept to 8-bit pictures, where it is exact enough and much faster.
bool convertToRgb(const avifImage& yuv, Image& target) {
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &yuv);
    rgb.depth = 8;
    rgb.format = target.hasAlpha() ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
    rgb.avoidLibYUV = yuv.depth > 8 ? AVIF_TRUE : AVIF_FALSE;
    rgb.pixels = target.data();
    rgb.rowBytes = std::uint32_t(target.stride());
    return avifImageYUVToRGB(&yuv, &rgb) == AVIF_RESULT_OK;
}

/// Writes `source` (the cropped picture) into `target` turned and mirrored as `geometry` says.
void orient(const Image& source, const Geometry& geometry, Image& target) {
    const int bpp = source.bytesPerPixel();
    const int sw = source.width();
    const int sh = source.height();
    const int tw = target.width();
    const int th = target.height();
    for (int y = 0; y < th; ++y) {
        std::uint8_t* out = target.row(y);
        for (int x = 0; x < tw; ++x) {
            // Undo the mirror, then the anticlockwise rotation, to find the source pixel.
            int rx = x;
            int ry = y;
            if (geometry.mirror == 1) rx = tw - 1 - x;
            if (geometry.mirror == 0) ry = th - 1 - y;
            int sx = rx;
            int sy = ry;
            switch (geometry.quarterTurns) {
            case 1:
                sx = sw - 1 - ry;
                sy = rx;
                break;
            case 2:
                sx = sw - 1 - rx;
                sy = sh - 1 - ry;
                break;
            case 3:
                sx = ry;
                sy = sh - 1 - rx;
                break;
            default:
                break;
            }
            std::memcpy(out + std::size_t(x) * std::size_t(bpp),
                        source.row(sy) + std::size_t(sx) * std::size_t(bpp), std::size_t(bpp));
        }
    }
}

bool isByteOrderMark(std::span<const std::uint8_t> bytes, std::size_t at) {
    if (at > bytes.size() || bytes.size() - at < 4) return false;
    const std::uint8_t* p = bytes.data() + at;
    return (p[0] == 'I' && p[1] == 'I' && p[2] == 0x2A && p[3] == 0) ||
           (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 0x2A);
}

bool isExifPrefix(std::span<const std::uint8_t> bytes, std::size_t at) {
    static constexpr std::array<std::uint8_t, 6> kPrefix{'E', 'x', 'i', 'f', 0, 0};
    return at <= bytes.size() && bytes.size() - at >= kPrefix.size() &&
           std::equal(kPrefix.begin(), kPrefix.end(), bytes.begin() + std::ptrdiff_t(at));
}

/// Where the TIFF structure starts in an Exif payload: at once, after an "Exif\0\0" prefix, or
/// after the 4-byte big-endian offset the AVIF Exif item begins with (which itself may point at
/// such a prefix). npos when none of these leads to a byte-order mark.
std::size_t tiffStart(std::span<const std::uint8_t> exif) {
    constexpr std::size_t npos = std::size_t(-1);
    if (isByteOrderMark(exif, 0)) return 0;
    if (isExifPrefix(exif, 0)) return isByteOrderMark(exif, 6) ? 6 : npos;
    if (exif.size() < 4) return npos;
    const std::uint64_t offset = (std::uint64_t(exif[0]) << 24) | (std::uint64_t(exif[1]) << 16) |
                                 (std::uint64_t(exif[2]) << 8) | std::uint64_t(exif[3]);
    if (offset > exif.size()) return npos;
    const std::size_t at = 4 + std::size_t(offset);
    if (isByteOrderMark(exif, at)) return at;
    if (isExifPrefix(exif, at) && isByteOrderMark(exif, at + 6)) return at + 6;
    return npos;
}

std::vector<std::uint8_t> copyOf(const avifRWData& data) {
    if (!data.data || data.size == 0) return {};
    return std::vector<std::uint8_t>(data.data, data.data + data.size);
}

/// The quantizer for each quality value 1..10, chosen so that the SSIM of a photograph written
/// at a value matches that of our JPEG at the same value (bench/avif_speed.cpp measures both).
/// Value 10 stops at 1: quantizer 0 would switch the encoder to lossless coding, files nearly twice
/// the size for a hardly better SSIM.
constexpr std::array<int, 10> kQuantizers{47, 39, 36, 34, 29, 25, 24, 15, 7, 1};

} // namespace

bool looksLikeAvif(std::span<const std::uint8_t> head) {
    // Box size (4), "ftyp", major brand (4), minor version (4), then compatible brands.
    if (head.size() < 12 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return false;
    const std::uint32_t boxSize = (std::uint32_t(head[0]) << 24) | (std::uint32_t(head[1]) << 16) |
                                  (std::uint32_t(head[2]) << 8) | std::uint32_t(head[3]);
    if (boxSize < 16) return false;
    const std::size_t end = std::min<std::size_t>(boxSize, head.size());
    const auto isAvifBrand = [&](std::size_t at) {
        return std::memcmp(head.data() + at, "avif", 4) == 0 ||
               std::memcmp(head.data() + at, "avis", 4) == 0;
    };
    if (isAvifBrand(8)) return true;
    for (std::size_t at = 16; at + 4 <= end; at += 4)
        if (isAvifBrand(at)) return true;
    return false;
}

DeclaredSize avifDeclaredSize(std::span<const std::uint8_t> bytes) {
    const DecoderPtr decoder = parsedDecoder(bytes, false);
    if (!decoder || decoder->image->width == 0 || decoder->image->height == 0) return {};
    const Geometry geometry = geometryOf(*decoder->image);
    return DeclaredSize{geometry.seenWidth(), geometry.seenHeight()};
}

Image decodeAvif(std::span<const std::uint8_t> bytes, const DecodeRequest& /*request*/) {
    const DecoderPtr decoder = parsedDecoder(bytes, false);
    if (!decoder) return {};
    // The container's size is known now (sequences may leave it 0): refuse before the AV1 decoder
    // allocates anything.
    const PixelFormat format = decoder->alphaPresent ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
    if (decoder->image->width != 0 && decoder->image->height != 0) {
        const Geometry declared = geometryOf(*decoder->image);
        if (declared.seenWidth() > pixelLimit() || declared.seenHeight() > pixelLimit() ||
            !detail::decodeSizeAllowed(declared.seenWidth(), declared.seenHeight(), format))
            return {};
    }
    if (avifDecoderNextImage(decoder.get()) != AVIF_RESULT_OK) return {};

    const avifImage& decoded = *decoder->image;
    if (!decoded.yuvPlanes[AVIF_CHAN_Y] || decoded.width == 0 || decoded.height == 0) return {};
    // The AV1 payload may disagree with the container; its own size and planes count.
    const PixelFormat actual = decoded.alphaPlane ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
    const Geometry geometry = geometryOf(decoded);
    if (decoded.width > pixelLimit() || decoded.height > pixelLimit() ||
        !detail::decodeSizeAllowed(geometry.crop.width, geometry.crop.height, actual))
        return {};

    // A view of just the crop rectangle, without copying planes.
    AvifImagePtr cropped(avifImageCreateEmpty());
    if (!cropped || avifImageSetViewRect(cropped.get(), &decoded, &geometry.crop) != AVIF_RESULT_OK)
        return {};

    Image upright(int(geometry.crop.width), int(geometry.crop.height), actual);
    if (upright.empty() || !convertToRgb(*cropped, upright)) return {};
    if (geometry.quarterTurns == 0 && geometry.mirror < 0) return upright;

    Image seen(int(geometry.seenWidth()), int(geometry.seenHeight()), actual);
    if (seen.empty()) return {};
    orient(upright, geometry, seen);
    return seen;
}

FileMetadata readAvifMetadata(std::span<const std::uint8_t> bytes) {
    FileMetadata metadata;
    const DecoderPtr decoder = parsedDecoder(bytes, true);
    if (!decoder) return metadata;
    const avifImage& image = *decoder->image;
    metadata.icc = copyOf(image.icc);
    metadata.xmp = copyOf(image.xmp);
    const std::span<const std::uint8_t> exif(image.exif.data,
                                             image.exif.data ? image.exif.size : 0);
    const std::size_t start = tiffStart(exif);
    if (start < exif.size()) metadata.exif.assign(exif.begin() + std::ptrdiff_t(start), exif.end());
    return metadata;
}

std::uint64_t avifDecodeWorkBytes(std::int64_t width, std::int64_t height) {
    const std::uint64_t pixels = std::uint64_t(std::max<std::int64_t>(width, 0)) *
                                 std::uint64_t(std::max<std::int64_t>(height, 0));
    // Decoded planes at up to 16 bits a sample in 4:4:4 plus alpha (8 bytes a pixel, kept by the
    // AV1 decoder as its reference too), a 32-bit buffer before rotation (4), and the decoder's
    // per-row scratch, with room to spare.
    return pixels * 16 + (std::uint64_t(32) << 20);
}

int avifQuantizerFor(int quality) {
    const int value = std::clamp(quality, 1, 10);
    return kQuantizers[std::size_t(value - 1)];
}

bool encodeAvifWith(const toolkit::ImageView& image, int quantizer, int speed,
                    std::vector<std::uint8_t>& out, std::span<const std::uint8_t> icc,
                    const FileMetadata* embed) {
    if (!image.data || image.width <= 0 || image.height <= 0) return false;
    const bool alpha = image.format == PixelFormat::Bgra32;
    AvifImagePtr yuv(avifImageCreate(std::uint32_t(image.width), std::uint32_t(image.height), 8,
                                     AVIF_PIXEL_FORMAT_YUV420));
    if (!yuv) return false;
    yuv->yuvRange = AVIF_RANGE_FULL;
    yuv->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
    yuv->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
    yuv->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
    if (!icc.empty()) {
        // The profile describes the colours; the primaries and transfer say nothing beside it.
        avifImageSetProfileICC(yuv.get(), icc.data(), icc.size());
        yuv->colorPrimaries = AVIF_COLOR_PRIMARIES_UNSPECIFIED;
        yuv->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_UNSPECIFIED;
    }

    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, yuv.get());
    rgb.depth = 8;
    rgb.format = alpha ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_BGR;
    // The library only reads from the pixels when converting to YUV.
    rgb.pixels = const_cast<std::uint8_t*>(image.data);
    rgb.rowBytes = std::uint32_t(image.stride);
    if (avifImageRGBToYUV(yuv.get(), &rgb) != AVIF_RESULT_OK) return false;
    // EXIF (a TIFF structure; libavif adds the offset field of the Exif item) and XMP.
    if (embed != nullptr && !embed->exif.empty())
        avifImageSetMetadataExif(yuv.get(), embed->exif.data(), embed->exif.size());
    if (embed != nullptr && !embed->xmp.empty())
        avifImageSetMetadataXMP(yuv.get(), embed->xmp.data(), embed->xmp.size());

    EncoderPtr encoder(avifEncoderCreate());
    if (!encoder) return false;
    encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
    encoder->maxThreads = 1;
    encoder->speed = std::clamp(speed, 0, 10);
    encoder->minQuantizer = encoder->maxQuantizer = std::clamp(quantizer, 0, 63);
    // Edges of transparent areas show more than colour noise: alpha gets a finer quantizer.
    encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = std::clamp(quantizer / 2, 0, 63);

    avifRWData output = AVIF_DATA_EMPTY;
    const avifResult result = avifEncoderWrite(encoder.get(), yuv.get(), &output);
    if (result == AVIF_RESULT_OK && output.data)
        out.insert(out.end(), output.data, output.data + output.size);
    avifRWDataFree(&output);
    return result == AVIF_RESULT_OK;
}

bool encodeAvif(const toolkit::ImageView& image, int quality, std::vector<std::uint8_t>& out) {
    return encodeAvifWith(image, avifQuantizerFor(quality), kAvifEncodeSpeed, out);
}

bool encodeAvifWithProfile(const toolkit::ImageView& image, int quality,
                           std::span<const std::uint8_t> icc, std::vector<std::uint8_t>& out) {
    return encodeAvifWith(image, avifQuantizerFor(quality), kAvifEncodeSpeed, out, icc);
}

bool encodeAvifCarrying(const toolkit::ImageView& image, int quality,
                        std::span<const std::uint8_t> icc, const FileMetadata* embed,
                        std::vector<std::uint8_t>& out) {
    return encodeAvifWith(image, avifQuantizerFor(quality), kAvifEncodeSpeed, out, icc, embed);
}

std::uint64_t avifEncodeWorkBytes(std::int64_t width, std::int64_t height) {
    const std::uint64_t pixels = std::uint64_t(std::max<std::int64_t>(width, 0)) *
                                 std::uint64_t(std::max<std::int64_t>(height, 0));
    // The YUV 4:2:0 copy with alpha (2.5 bytes a pixel), the AV1 encoder's source, reconstruction
    // and reference frames with their borders, its analysis buffers, and the compressed output:
    // about 13 bytes a pixel measured at 12 megapixels, with room to spare.
    return pixels * 24 + (std::uint64_t(64) << 20);
}

} // namespace quill::imagefiles
