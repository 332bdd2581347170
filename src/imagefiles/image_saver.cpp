// saveImageFile: picks the encoder, reduces to a palette where the depth asks for one, encodes
// into memory and writes the file through a PendingFile, so that only a complete file ever
// appears under the output name.
#include "imagefiles/image_saver.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "imagefiles/avif_codec.h"
#include "imagefiles/bmp_encoder.h"
#include "imagefiles/jp2_encoder.h"
#include "imagefiles/jpeg_encoder.h"
#include "imagefiles/jxl_codec.h"
#include "imagefiles/png_encoder.h"
#include "imagefiles/quantizer.h"
#include "imagefiles/webp_codec.h"
#include "toolkit/ascii.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

namespace {

bool isPaletteDepth(int depth) {
    return depth == 1 || depth == 4 || depth == 8;
}

/// A path whose extension names a bare JPEG 2000 codestream.
bool namesCodestream(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
    const std::string extension = toolkit::lowerAscii(path.substr(dot + 1));
    return extension == "j2k" || extension == "j2c";
}

SaveResult failure(int systemError) {
    return SaveResult{false, systemError};
}

SaveResult writeOut(platform::CommitTarget& target, const std::vector<std::uint8_t>& bytes) {
    platform::PendingFile file(target.path);
    if (!file.ok()) return failure(file.error());
    if (!file.write(bytes) || !file.commit(target))
        return failure(file.error() ? file.error() : EIO);
    return SaveResult{true, 0};
}

// The row of the format an encoder writes; null for identifiers without one.
const FormatInfo* formatOfEncoder(Encoder encoder) {
    for (const FormatInfo& format : formatTable())
        if (format.writable && format.encoder == encoder) return &format;
    return nullptr;
}

// The JPEG XL distance of quality 0..100 on libjxl's scale (its cjxl's mapping): 25 at 0, 6.4 at
// 30, then 0.09 less per step to 0.1 at 100.
float jxlDistanceOfQuality(int quality) {
    const double q = quality;
    if (quality >= 30) return float(0.1 + (100.0 - q) * 0.09);
    return float(53.0 / 3000.0 * q * q - 23.0 / 20.0 * q + 25.0);
}

// The encoders' own quality at a step below the 0..10 quality (see qualityStepsBelow).
bool encodeAtStep(Encoder encoder, const toolkit::ImageView& view, const EncodeOptions& options,
                  std::vector<std::uint8_t>& bytes) {
    const int step = options.stepBelow;
    switch (encoder) {
    case Encoder::Jpeg:
        return encodeJpegAtLibraryQuality(view, step + 1, bytes, options.baseline,
                                          options.iccProfile);
    case Encoder::Webp:
        return encodeWebpLossy(view, step, options.iccProfile, bytes);
    case Encoder::Avif:
        return encodeAvifWith(view, 63 - step, kAvifEncodeSpeed, bytes, options.iccProfile,
                              options.embed);
    case Encoder::JpegXl:
        return encodeJxlAtDistance(view, jxlDistanceOfQuality(step), options.iccProfile,
                                   options.embed, bytes);
    default:
        return false;
    }
}

// The encoders of the format table: palette depths where the format holds palettes; alpha is
// written at depth 32 (what a picture with alpha gets unless a depth is chosen) and left out at
// 24, where the chosen depth says the file has none.
bool encodeThroughTable(const FormatInfo& format, const toolkit::Image& image,
                        const EncodeOptions& options, int depth, std::vector<std::uint8_t>& bytes) {
    if (format.encodePalette != nullptr && isPaletteDepth(depth)) {
        const Dithering dithering = options.dither ? Dithering::FloydSteinberg : Dithering::None;
        const auto paletted = quantizeImage(image.view(), 1 << depth, dithering);
        return paletted && format.encodePalette(*paletted, depth, bytes);
    }
    if (format.encode == nullptr) return false;
    const int quality = std::clamp(options.quality, 0, 10);
    // AVIF and JPEG XL write the EXIF and XMP blocks they are given while encoding.
    const auto write = [&](const toolkit::ImageView& view) {
        if (options.stepBelow >= 0) return encodeAtStep(format.encoder, view, options, bytes);
        if (options.embed != nullptr && format.encoder == Encoder::Avif)
            return encodeAvifCarrying(view, quality, options.iccProfile, options.embed, bytes);
        if (options.embed != nullptr && format.encoder == Encoder::JpegXl)
            return encodeJxlCarrying(view, quality, options.iccProfile, options.embed, bytes);
        if (!options.iccProfile.empty() && format.encodeWithProfile != nullptr)
            return format.encodeWithProfile(view, quality, options.iccProfile, bytes);
        return format.encode(view, quality, bytes);
    };
    if (image.hasAlpha() && (depth != 32 || (format.holds & HoldsAlpha) == 0)) {
        const toolkit::Image opaque = image.toBgr24();
        return !opaque.empty() && write(opaque.view());
    }
    return write(image.view());
}

// Encodes into `bytes`; false on an encoder failure.
bool encode(const toolkit::Image& image, Encoder encoder, const EncodeOptions& options, int depth,
            std::vector<std::uint8_t>& bytes) {
    const toolkit::ImageView view = image.view();
    if ((encoder == Encoder::Bmp || encoder == Encoder::Png) && isPaletteDepth(depth)) {
        const Dithering dithering = options.dither ? Dithering::FloydSteinberg : Dithering::None;
        const auto paletted = quantizeImage(view, 1 << depth, dithering);
        if (!paletted) return false;
        return encoder == Encoder::Bmp ? encodeBmpPalette(*paletted, depth, bytes)
                                       : encodePngPalette(*paletted, depth, bytes);
    }
    switch (encoder) {
    case Encoder::Bmp:
        return encodeBmp(view, depth == 32 ? BmpAlpha::Write : BmpAlpha::Drop, bytes);
    case Encoder::Jpeg:
        if (options.stepBelow >= 0) return encodeAtStep(encoder, view, options, bytes);
        return encodeJpeg(view, options.quality, bytes, options.baseline, options.iccProfile);
    case Encoder::Png:
        return encodePng(view, bytes, {}, options.iccProfile);
    case Encoder::Jp2k:
        return encodeJp2(view, options.quality, bytes, options.codestream, {}, options.iccProfile);
    default: {
        const FormatInfo* format = formatOfEncoder(encoder);
        return format != nullptr && encodeThroughTable(*format, image, options, depth, bytes);
    }
    }
}

} // namespace

EncodeOptions EncodeOptions::fromFlags(int flags) {
    if (flags < 0) return {};
    return EncodeOptions{.quality = flags & kSaveQualityMask,
                         .dither = (flags & kSaveFlagDither) != 0,
                         .baseline = (flags & kSaveFlagBaseline) != 0,
                         .codestream = (flags & kSaveFlagCodestream) != 0};
}

std::optional<Encoder> encoderFromIdentifier(std::uint32_t identifier) {
    if (const FormatInfo* format = formatOfEncoder(Encoder(identifier)); format != nullptr)
        return format->encoder;
    return std::nullopt;
}

std::optional<Encoder> encoderForFormat(FormatKind kind) {
    const FormatInfo* format = formatInfo(kind);
    if (format == nullptr || !format->writable) return std::nullopt;
    return format->encoder;
}

SaveResult saveImageFile(const toolkit::Image& image, const std::string& path,
                         std::uint32_t encoderIdentifier, int flags, int depth) {
    const auto encoder = encoderFromIdentifier(encoderIdentifier);
    if (!encoder) return failure(0);
    return saveImageFile(image, path, *encoder, EncodeOptions::fromFlags(flags), depth);
}

SaveResult saveImageFile(const toolkit::Image& image, const std::string& path, Encoder encoder,
                         EncodeOptions options, int depth) {
    platform::CommitTarget target{.path = path, .mode = platform::Overwrite::Replace};
    return saveImageFile(image, target, encoder, options, depth);
}

SaveResult saveImageFile(const toolkit::Image& image, platform::CommitTarget& target,
                         Encoder encoder, EncodeOptions options, int depth) {
    if (target.path.empty()) return failure(0);
    if (writesCodestream(encoder, target.path)) options.codestream = true;
    const auto bytes = encodeImage(image, encoder, options, depth);
    if (!bytes) return failure(0);
    return writeOut(target, *bytes);
}

std::optional<std::vector<std::uint8_t>> encodeImage(const toolkit::Image& image, Encoder encoder,
                                                     const EncodeOptions& options, int depth) {
    if (image.empty()) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    try {
        if (!encode(image, encoder, options, depth, bytes)) return std::nullopt;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    return bytes;
}

std::uint64_t estimateEncodeBytes(Encoder encoder, std::int64_t width, std::int64_t height,
                                  int depth) {
    if (width <= 0 || height <= 0) return 0;
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    const std::uint64_t channels = depth == 32 ? 4 : 3;
    const std::uint64_t raw = pixels * channels;
    // A growing output vector may hold twice its bytes while it moves to a larger buffer.
    if ((encoder == Encoder::Bmp || encoder == Encoder::Png) && isPaletteDepth(depth))
        return pixels * 3; // the palette indices, PNG's packed rows, the output
    switch (encoder) {
    case Encoder::Bmp:
        return raw + 4 * std::uint64_t(height); // one allocation, rows padded to 4 bytes
    case Encoder::Png:
        return 2 * raw; // incompressible rows come out a little larger than they went in
    case Encoder::Jpeg:
        return raw; // even at the highest quality well below the raw size, doubled
    case Encoder::Jp2k:
        // Written in tiles (kJp2TilingPixels), OpenJPEG holds one tile's 32-bit samples and
        // buffers; the output, half the raw size at rate 2, may be held twice while it grows.
        if (std::int64_t(pixels) > kJp2TilingPixels) return raw + kJp2TileWorkBytes;
        // As one tile it copies the image into 32-bit samples per component, keeps a buffer of
        // 1.4 bytes per sample for the coded tile, and code-block buffers filled as they are
        // coded: a 15000 x 15000 image peaked at 6.8 bytes per sample beside the image it read.
        return 7 * raw;
    default:
        break;
    }
    // The encoders of the format table: their library's buffers and the output as it grows.
    const FormatInfo* format = formatOfEncoder(encoder);
    if (format == nullptr) return 0;
    if (format->encodePalette != nullptr && isPaletteDepth(depth)) return pixels * 3;
    const std::uint64_t work =
        format->encodeWorkBytes != nullptr ? format->encodeWorkBytes(width, height) : raw;
    return work + 2 * raw;
}

int qualityStepsBelow(Encoder encoder, int quality) {
    const int q = std::clamp(quality, 0, 10);
    switch (encoder) {
    case Encoder::Jpeg:
        return std::max(jpegLibraryQuality(q), 1) - 1;
    case Encoder::Webp:
        return q == 10 ? 101 : kWebpLossyQuality[std::max(q, 1) - 1];
    case Encoder::Avif:
        return 63 - avifQuantizerFor(q);
    case Encoder::JpegXl: {
        if (q == 10) return 100; // every lossy step lies below lossless
        int steps = 0;
        while (steps < 100 && jxlDistanceOfQuality(steps) > kJxlDistanceForQuality[q])
            ++steps;
        return steps;
    }
    default:
        return 0;
    }
}

bool outputKeepsProfile(Encoder encoder, int depth, bool codestream) {
    switch (encoder) {
    case Encoder::Bmp:
        return false;
    case Encoder::Png:
        return !isPaletteDepth(depth); // palette files hold the quantiser's sRGB colours
    case Encoder::Jpeg:
        return true;
    case Encoder::Jp2k:
        return !codestream; // a bare codestream has no colour box
    default: {
        const FormatInfo* format = formatOfEncoder(encoder);
        if (format == nullptr || format->encodeWithProfile == nullptr) return false;
        return !(format->encodePalette != nullptr && isPaletteDepth(depth));
    }
    }
}

bool writesCodestream(Encoder encoder, const std::string& path) {
    return encoder == Encoder::Jp2k && namesCodestream(path);
}

SaveResult writeEncodedFile(platform::CommitTarget& target,
                            const std::vector<std::uint8_t>& bytes) {
    if (target.path.empty()) return failure(0);
    return writeOut(target, bytes);
}

std::string extensionForFormat(FormatKind kind) {
    const FormatInfo* format = formatInfo(kind);
    return format != nullptr ? std::string(format->extension) : std::string();
}

} // namespace quill::imagefiles
