// The format table: one row per file format, saying everything the rest of the program asks of a
// format — its code and names, its extensions and MIME types, how its content is recognised, its
// decoder, its encoder and what its files can hold. Detection, loading, the size reader, saving,
// the open-file dialog, the window's format choice, the desktop entry and the help text read it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "imagefiles/codec.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

struct PalettedImage;

/// Format codes stored in ImageRecord::formatKind, with their documented values.
enum class FormatKind : std::int8_t {
    None = -1,     ///< not an image
    Jpeg = 0,      ///< jpg, jpeg, jpe, jfif
    Png = 1,       ///< png
    Bmp = 2,       ///< bmp, dib, rle
    Tga = 3,       ///< tga, vda, icb, vst, tpic
    Tiff = 4,      ///< tif, tiff
    Gif = 5,       ///< gif
    Pcx = 6,       ///< pcx
    Pnm = 7,       ///< pnm, pgm, pbm, ppm
    Ico = 8,       ///< ico, cur
    Jpeg2000 = 9,  ///< jp2, j2k, jpf, jpx, jpm, mj2
    Video = 10,    ///< 3gp, asf, avi, mov, mp4, mpa, mpg, mpeg, wmv (listed, never decoded)
    Webp = 11,     ///< webp
    Avif = 12,     ///< avif
    Heif = 13,     ///< heic, heif, hif
    JpegXl = 14,   ///< jxl
    CameraRaw = 15 ///< cr2, cr3, nef, arw, dng, orf, rw2, raf, pef, srw
};

/// An encoder identifier made of the ASCII codes of a tag of up to four characters, the first
/// character in the lowest byte ("PNG" leaves the highest byte 0).
[[nodiscard]] constexpr std::uint32_t encoderTag(std::string_view tag) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < tag.size() && i < 4; ++i)
        value |= std::uint32_t(std::uint8_t(tag[i])) << (8 * i);
    return value;
}

/// The encoders, with their 32-bit identifiers as callers pass them.
enum class Encoder : std::uint32_t {
    Bmp = 0,                    ///< the built-in uncompressed BMP writer
    Jpeg = encoderTag("JPEG"),  ///< libjpeg, quality 0..10 (x 10), alpha dropped
    Png = encoderTag("PNG"),    ///< libpng, alpha kept, palettes for depths 1, 4 and 8
    Jp2k = encoderTag("JP2K"),  ///< OpenJPEG .jp2, one quality layer, alpha kept
    Webp = encoderTag("WEBP"),  ///< libwebp, lossy 0..9, lossless at 10, alpha kept
    Avif = encoderTag("AVIF"),  ///< libavif (AV1), alpha kept
    JpegXl = encoderTag("JXL"), ///< libjxl, lossy 0..9, lossless at 10, alpha kept
    Tiff = encoderTag("TIFF"),  ///< libtiff with Deflate, alpha at 32 bits, palettes 1, 4, 8
};

/// What a format's files can hold; FormatInfo::holds is a set of these bits.
enum Holds : std::uint16_t {
    HoldsAlpha = 1,     ///< a transparency channel
    HoldsPalette = 2,   ///< palette images of 1, 4 or 8 bits, as the colour-depth choice writes
    HoldsDeep = 4,      ///< more than 8 bits a sample
    HoldsIcc = 8,       ///< an ICC colour profile
    HoldsExif = 16,     ///< an EXIF block
    HoldsXmp = 32,      ///< an XMP packet
    HoldsAnimation = 64 ///< several frames (only the first is read)
};

/// How the quality value 1..10 acts on a format's encoder.
enum class QualityScale : std::uint8_t {
    None,         ///< ignored: the encoder is lossless
    Lossy,        ///< 1 smallest file .. 10 best quality
    LosslessAtTop ///< 1 smallest file .. 9 best lossy quality, 10 lossless
};

using Bytes = std::span<const std::uint8_t>;

/// One row of the format table. Function members are null where the format lacks the ability.
struct FormatInfo {
    FormatKind kind = FormatKind::None;
    std::string_view name = {};        ///< as shown to people: "JPEG", "WebP"
    std::string_view filterLabel = {}; ///< the format's entry in the open-file dialog's list
    /// Extensions, lower-case without the dot; a path is this format's when its extension is one.
    std::span<const std::string_view> extensions = {};
    std::span<const std::string_view> mimeTypes = {};
    std::uint16_t holds = 0; ///< Holds bits

    // Reading.
    /// Whether the first bytes of a file are this format's, by its signature. Null for the
    /// formats of the built-in content rules of the general decoder and the size reader.
    bool (*recognises)(Bytes head) = nullptr;
    /// Whether the signature alone names the format. Camera RAW files are mostly TIFF files and
    /// are told apart by their extension only.
    bool recognisedByContent = true;
    /// The size the header declares; null where the size reader's built-in rules read it.
    DeclaredSize (*declaredSize)(Bytes bytes) = nullptr;
    /// Decodes a whole file; null for formats that are listed but never decoded (videos).
    toolkit::Image (*decode)(Bytes bytes, const DecodeRequest& request) = nullptr;
    /// The metadata blocks of a whole file; null where the format's metadata is read elsewhere
    /// (JPEG) or not at all.
    FileMetadata (*metadata)(Bytes bytes) = nullptr;
    /// Bytes the decoding library holds beside the image for a width x height file.
    std::uint64_t (*decodeWorkBytes)(std::int64_t width, std::int64_t height) = nullptr;
    /// The decoder already turns the picture as the file says it is seen, so the EXIF
    /// orientation must not turn it again.
    bool decoderTurnsUpright = false;

    // Writing.
    bool writable = false;
    Encoder encoder = Encoder::Bmp; ///< meaningful when writable
    /// The extension of the files written in this format ("" when it is never written; the
    /// extension table of every format code otherwise, also for formats only read).
    std::string_view extension = {};
    /// The value of the preset's `outputFormat` that chooses this format; -1 when not offered.
    int outputFormat = -1;
    QualityScale quality = QualityScale::None;
    /// Encoders of the table (the four first encoders are called by the saver directly): a
    /// 24-bit view is written without alpha, a 32-bit view with it; quality 0..10.
    bool (*encode)(const toolkit::ImageView& image, int quality,
                   std::vector<std::uint8_t>& out) = nullptr;
    /// `encode` with an ICC profile embedded, for formats that hold one (HoldsIcc).
    bool (*encodeWithProfile)(const toolkit::ImageView& image, int quality, Bytes icc,
                              std::vector<std::uint8_t>& out) = nullptr;
    /// Palette files of 1, 4 or 8 bits, for formats that hold them.
    bool (*encodePalette)(const PalettedImage& image, int depth,
                          std::vector<std::uint8_t>& out) = nullptr;
    /// Bytes the encoding library holds beside the image for a width x height image.
    std::uint64_t (*encodeWorkBytes)(std::int64_t width, std::int64_t height) = nullptr;
};

/// Every format, one row each, in the order of the open-file dialog; the videos last.
[[nodiscard]] std::span<const FormatInfo> formatTable();

/// The row of a format code; null for None and for codes without a row.
[[nodiscard]] const FormatInfo* formatInfo(FormatKind kind);

/// The row chosen by a value of the preset's `outputFormat`; null for values without one (the
/// PDF choice writes a JPEG, which the PDF writer wraps).
[[nodiscard]] const FormatInfo* formatForOutputChoice(int outputFormat);

/// The row of the format whose signature the first bytes of a file carry, among the formats
/// told apart by content through the table (recognisedByContent); null when none.
[[nodiscard]] const FormatInfo* formatOfContent(Bytes head);

/// Whether files with a video extension count as admissible.
enum class Videos : bool { Excluded, Included };

/// The format code of a path's extension (compared lower-cased). Video extensions give
/// FormatKind::Video only when `videos` is Included, else FormatKind::None.
[[nodiscard]] FormatKind detectFormatByExtension(std::string_view path, Videos videos);

/// The extension of a path's file part without the dot, as written ("" when there is none).
[[nodiscard]] std::string_view extensionOf(std::string_view path);

/// The MIME types of every readable format, each once, in table order.
[[nodiscard]] std::vector<std::string_view> readableMimeTypes();

} // namespace quill::imagefiles
