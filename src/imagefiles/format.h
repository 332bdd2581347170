// Format codes: which kind of file a path names, judged by its extension.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quill::imagefiles {

/// Format codes stored in ImageRecord::formatKind, with their documented values.
enum class FormatKind : std::int8_t {
    None = -1,    ///< not an image
    Jpeg = 0,     ///< jpg, jpeg, jpe, jfif
    Png = 1,      ///< png
    Bmp = 2,      ///< bmp, dib, rle
    Tga = 3,      ///< tga, vda, icb, vst, tpic
    Tiff = 4,     ///< tif, tiff
    Gif = 5,      ///< gif
    Pcx = 6,      ///< pcx
    Pnm = 7,      ///< pnm, pgm, pbm, ppm
    Ico = 8,      ///< ico, cur
    Jpeg2000 = 9, ///< jp2, j2k, jpf, jpx, jpm, mj2
    Video = 10,   ///< 3gp, asf, avi, mov, mp4, mpa, mpg, mpeg, wmv (listed, never decoded)
};

/// One format of the extension table: its code, the label of its entry in the open-file dialog's
/// filter list, and its extensions (lower-case, without the dot).
struct FormatExtensions {
    FormatKind kind;
    std::string_view label;
    std::span<const std::string_view> extensions;
};

/// Every extension the program knows, one row per format in the dialog's order; the videos last.
[[nodiscard]] std::span<const FormatExtensions> formatExtensionTable();

/// Whether files with a video extension count as admissible.
enum class Videos : bool { Excluded, Included };

/// The format code of a path's extension (compared lower-cased). Video extensions give
/// FormatKind::Video only when `videos` is Included, else FormatKind::None.
[[nodiscard]] FormatKind detectFormatByExtension(std::string_view path, Videos videos);

/// The extension of a path's file part without the dot, as written ("" when there is none).
[[nodiscard]] std::string_view extensionOf(std::string_view path);

} // namespace quill::imagefiles
