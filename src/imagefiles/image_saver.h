// Saving the working image: the encoder identifiers, the output extensions and saveImageFile.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imagefiles/format.h"
#include "toolkit/image.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

/// The encoder with this identifier; nullopt when no encoder has it.
[[nodiscard]] std::optional<Encoder> encoderFromIdentifier(std::uint32_t identifier);
/// The encoder that writes a format (the writable rows of the format table); nullopt otherwise.
[[nodiscard]] std::optional<Encoder> encoderForFormat(FormatKind format);

/// How an encoder writes, beside the file's depth.
struct EncodeOptions {
    /// 0..10 (clamped), for JPEG (times 10 is the libjpeg quality) and JPEG 2000 (the rate of
    /// jp2CompressionRate); PNG and BMP ignore it.
    int quality = 0;
    /// Palette reductions (depths 1, 4 and 8) use Floyd-Steinberg dithering.
    bool dither = false;
    /// A JPEG uses baseline (8-bit) quantisation tables at every quality, as readers that take
    /// only baseline frames (PDF) need.
    bool baseline = false;
    /// JPEG 2000 as a bare codestream instead of the JP2 box format (saveImageFile sets it for
    /// paths ending in ".j2k" or ".j2c").
    bool codestream = false;
    /// An ICC profile to embed as it is (empty: none), in the formats that hold one: JPEG, PNG,
    /// TIFF, WebP, AVIF, JPEG XL and JP2 files; ignored by BMP, by palette depths and by bare
    /// JPEG 2000 codestreams (outputKeepsProfile says which). The bytes are borrowed.
    std::span<const std::uint8_t> iccProfile = {};
    /// EXIF (TIFF structure) and XMP that AVIF and JPEG XL write into their files; null or empty
    /// blocks write none. The other encoders ignore it.
    const FileMetadata* embed = nullptr;
    /// -1 writes at `quality`. Otherwise a step of the encoder's own quality scale below the one
    /// `quality` gives, 0 the worst (see qualityStepsBelow): the size search's encodes.
    int stepBelow = -1;

    /// The options of a packed flags value (the form of the identifier interface below); a
    /// negative value is quality 0 without options.
    [[nodiscard]] static EncodeOptions fromFlags(int flags);
};

/// The packed flags value: the quality 0..10 in the low byte and these bits for the options.
inline constexpr int kSaveQualityMask = 0xFF;
inline constexpr int kSaveFlagDither = 256;
inline constexpr int kSaveFlagBaseline = 512;
inline constexpr int kSaveFlagCodestream = 1024;

/// The outcome of a save: success, and the errno of the failing file operation (ENOSPC when the
/// disk is full; 0 when the failure was not a system error, such as an unknown encoder).
struct SaveResult {
    bool ok = false;
    int systemError = 0;
    explicit operator bool() const { return ok; }
};

/// Writes `image` to `path` with the encoder `encoderIdentifier` (an Encoder value). `flags` holds
/// the packed options (EncodeOptions::fromFlags); `depth` is the file's bits per pixel (1, 4 or 8
/// reduce to a palette of 2, 16 or 256 colours for PNG and BMP, without alpha; BMP writes alpha
/// only at 32; PNG and JPEG 2000 keep the alpha of every 32-bit image; JPEG drops it). The file is
/// written under a temporary name in the target folder and renamed onto `path` only when complete:
/// on failure no partial file remains and an existing file is untouched.
[[nodiscard]] SaveResult saveImageFile(const toolkit::Image& image, const std::string& path,
                                       std::uint32_t encoderIdentifier, int flags, int depth);
/// The same with a typed encoder and its options.
[[nodiscard]] SaveResult saveImageFile(const toolkit::Image& image, const std::string& path,
                                       Encoder encoder, EncodeOptions options, int depth);
/// The same onto a commit target (a new output that must not replace a file, see CommitTarget);
/// `target.path` is the path written in the end.
[[nodiscard]] SaveResult saveImageFile(const toolkit::Image& image, platform::CommitTarget& target,
                                       Encoder encoder, EncodeOptions options, int depth);
/// Encodes into memory as saveImageFile would write; nullopt when the encoder fails.
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
encodeImage(const toolkit::Image& image, Encoder encoder, const EncodeOptions& options, int depth);

/// How many steps of its own quality scale `encoder` has below the one `quality` (0..10) writes
/// at, for the size search (EncodeOptions::stepBelow); 0 for encoders without a quality scale.
/// Step s is libjpeg quality s + 1, libwebp quality s (lossy; all 101 lie below lossless), AV1
/// quantizer 63 - s, or the JPEG XL distance of quality s on libjxl's 0..100 scale. Never more
/// than 127, so that eight encodes always find the best step that fits.
[[nodiscard]] int qualityStepsBelow(Encoder encoder, int quality);

/// Whether an output written by `encoder` at `depth` bits per pixel (as a bare codestream when
/// `codestream`) carries EncodeOptions::iccProfile; where it does not, the pixels must be sRGB.
[[nodiscard]] bool outputKeepsProfile(Encoder encoder, int depth, bool codestream);

/// Bytes that encoding a width x height image with `encoder` at `depth` bits per pixel holds
/// beside the image it reads: the library's working buffers, a palette reduction and the
/// encoded bytes as they grow. An upper estimate, for the memory budget.
[[nodiscard]] std::uint64_t estimateEncodeBytes(Encoder encoder, std::int64_t width,
                                                std::int64_t height, int depth);

/// Whether the file name asks for a bare codestream: JPEG 2000 written to a path ending in ".j2k"
/// or ".j2c".
[[nodiscard]] bool writesCodestream(Encoder encoder, const std::string& path);
/// Writes bytes encoded by encodeImage onto a commit target, as saveImageFile does.
[[nodiscard]] SaveResult writeEncodedFile(platform::CommitTarget& target,
                                          const std::vector<std::uint8_t>& bytes);

/// The extension of a format code as the format table gives it: "jpg", "png", "bmp", "tga", "tif",
/// "gif", "pcx", "pnm", "ico", "jp2", "webp", "avif", "heic", "jxl"; "" for None, Video and
/// camera RAW.
[[nodiscard]] std::string extensionForFormat(FormatKind format);

} // namespace quill::imagefiles
