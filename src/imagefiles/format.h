// Format codes: which kind of file a path names, judged by its extension.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quill::imagefiles {

/// Format codes stored in ImageRecord::formatKind.
enum FormatKind : std::int8_t {
    FormatNone = -1,    ///< not an image
    FormatJpeg = 0,     ///< jpg, jpeg, jpe, jfif
    FormatPng = 1,      ///< png
    FormatBmp = 2,      ///< bmp, dib, rle
    FormatTga = 3,      ///< tga, vda, icb, vst, tpic
    FormatTiff = 4,     ///< tif, tiff
    FormatGif = 5,      ///< gif
    FormatPcx = 6,      ///< pcx
    FormatPnm = 7,      ///< pnm, pgm, pbm, ppm
    FormatIco = 8,      ///< ico, cur
    FormatJpeg2000 = 9, ///< jp2, j2k, jpf, jpx, jpm, mj2
    FormatVideo = 10,   ///< 3gp, asf, avi, mov, mp4, mpa, mpg, mpeg, wmv (listed, never decoded)
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
/// FormatVideo only when `videos` is Included, else FormatNone.
[[nodiscard]] FormatKind detectFormatByExtension(std::string_view path, Videos videos);

/// The extension of a path's file part without the dot, as written ("" when there is none).
[[nodiscard]] std::string_view extensionOf(std::string_view path);

} // namespace quill::imagefiles
