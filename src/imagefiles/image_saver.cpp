// saveImageFile: picks the encoder, reduces to a palette where the depth asks for one, encodes
// into memory and writes the file through a PendingFile, so that only a complete file ever
// appears under the output name.
#include "imagefiles/image_saver.h"

#include <array>
#include <cerrno>
#include <vector>

#include "imagefiles/bmp_encoder.h"
#include "imagefiles/jp2_encoder.h"
#include "imagefiles/jpeg_encoder.h"
#include "imagefiles/png_encoder.h"
#include "imagefiles/quantizer.h"
#include "toolkit/ascii.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

namespace {

// The registered encoders other than the built-in BMP writer. PNG and JPEG 2000 take 32-bit
// pixels with their alpha; the JPEG encoder reads only the colour bytes of 32-bit pixels.
constexpr std::array<Encoder, 3> kEncoders{Encoder::Jpeg, Encoder::Png, Encoder::Jp2k};

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

// Encodes into `bytes`; false on an encoder failure.
bool encode(const toolkit::Image& image, Encoder encoder, int flags, int depth,
            std::vector<std::uint8_t>& bytes) {
    if (flags < 0) flags = 0; // quality 0, no flag bits
    const int quality = flags & kSaveQualityMask;
    const toolkit::ImageView view = image.view();
    if ((encoder == Encoder::Bmp || encoder == Encoder::Png) && isPaletteDepth(depth)) {
        const Dithering dithering =
            (flags & kSaveFlagDither) ? Dithering::FloydSteinberg : Dithering::None;
        const auto paletted = quantizeImage(view, 1 << depth, dithering);
        if (!paletted) return false;
        return encoder == Encoder::Bmp ? encodeBmpPalette(*paletted, depth, bytes)
                                       : encodePngPalette(*paletted, depth, bytes);
    }
    switch (encoder) {
    case Encoder::Bmp:
        return encodeBmp(view, depth == 32 ? BmpAlpha::Write : BmpAlpha::Drop, bytes);
    case Encoder::Jpeg:
        return encodeJpeg(view, quality, bytes, (flags & kSaveFlagBaseline) != 0);
    case Encoder::Png:
        return encodePng(view, bytes);
    case Encoder::Jp2k:
        return encodeJp2(view, quality, bytes, (flags & kSaveFlagCodestream) != 0);
    }
    return false;
}

} // namespace

std::optional<Encoder> encoderFromIdentifier(std::uint32_t identifier) {
    if (identifier == std::uint32_t(Encoder::Bmp)) return Encoder::Bmp;
    for (const Encoder encoder : kEncoders)
        if (std::uint32_t(encoder) == identifier) return encoder;
    return std::nullopt;
}

std::optional<Encoder> encoderForFormat(int formatCode) {
    switch (formatCode) {
    case 0:
        return Encoder::Jpeg;
    case 1:
        return Encoder::Png;
    case 2:
        return Encoder::Bmp;
    case 9:
        return Encoder::Jp2k;
    default:
        return std::nullopt;
    }
}

SaveResult saveImageFile(const toolkit::Image& image, const std::string& path,
                         std::uint32_t encoderIdentifier, int flags, int depth) {
    const auto encoder = encoderFromIdentifier(encoderIdentifier);
    if (!encoder) return failure(0);
    return saveImageFile(image, path, *encoder, flags, depth);
}

SaveResult saveImageFile(const toolkit::Image& image, const std::string& path, Encoder encoder,
                         int flags, int depth) {
    platform::CommitTarget target{.path = path, .mode = platform::Overwrite::Replace};
    return saveImageFile(image, target, encoder, flags, depth);
}

SaveResult saveImageFile(const toolkit::Image& image, platform::CommitTarget& target,
                         Encoder encoder, int flags, int depth) {
    if (target.path.empty()) return failure(0);
    if (flags < 0) flags = 0;
    if (encoder == Encoder::Jp2k && namesCodestream(target.path)) flags |= kSaveFlagCodestream;
    const auto bytes = encodeImage(image, encoder, flags, depth);
    if (!bytes) return failure(0);
    return writeOut(target, *bytes);
}

std::optional<std::vector<std::uint8_t>> encodeImage(const toolkit::Image& image, Encoder encoder,
                                                     int flags, int depth) {
    if (image.empty()) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    try {
        if (!encode(image, encoder, flags, depth, bytes)) return std::nullopt;
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
    }
    return 0;
}

int saveFlagsForPath(Encoder encoder, const std::string& path) {
    return encoder == Encoder::Jp2k && namesCodestream(path) ? kSaveFlagCodestream : 0;
}

SaveResult writeEncodedFile(platform::CommitTarget& target,
                            const std::vector<std::uint8_t>& bytes) {
    if (target.path.empty()) return failure(0);
    return writeOut(target, bytes);
}

std::string extensionForFormat(int formatCode) {
    static constexpr std::array<const char*, 10> kExtensions{"jpg", "png", "bmp", "tga", "tif",
                                                             "gif", "pcx", "pnm", "ico", "jp2"};
    if (formatCode < 0 || formatCode >= int(kExtensions.size())) return {};
    return kExtensions[std::size_t(formatCode)];
}

} // namespace quill::imagefiles
