// Format codes: the table of extensions and the lookup by a path's extension.
#include "imagefiles/format.h"

#include <string>

#include "toolkit/ascii.h"

namespace quill::imagefiles {

namespace {

constexpr std::string_view kJpeg[] = {"jpg", "jpeg", "jpe", "jfif"};
constexpr std::string_view kPng[] = {"png"};
constexpr std::string_view kBmp[] = {"bmp", "dib", "rle"};
constexpr std::string_view kTga[] = {"tga", "vda", "icb", "vst", "tpic"};
constexpr std::string_view kTiff[] = {"tif", "tiff"};
constexpr std::string_view kGif[] = {"gif"};
constexpr std::string_view kPcx[] = {"pcx"};
constexpr std::string_view kPnm[] = {"pnm", "pgm", "pbm", "ppm"};
constexpr std::string_view kIco[] = {"ico", "cur"};
constexpr std::string_view kJpeg2000[] = {"jp2", "j2k", "jpf", "jpx", "jpm", "mj2"};
constexpr std::string_view kVideo[] = {"3gp", "asf", "avi",  "mov", "mp4",
                                       "mpa", "mpg", "mpeg", "wmv"};

constexpr FormatExtensions kTable[] = {
    {FormatKind::Jpeg, "JPG", kJpeg},
    {FormatKind::Png, "PNG", kPng},
    {FormatKind::Bmp, "BMP", kBmp},
    {FormatKind::Tga, "TGA", kTga},
    {FormatKind::Tiff, "TIF", kTiff},
    {FormatKind::Gif, "GIF", kGif},
    {FormatKind::Pcx, "PCX", kPcx},
    {FormatKind::Pnm, "PNM", kPnm},
    {FormatKind::Ico, "ICO", kIco},
    {FormatKind::Jpeg2000, "JP2", kJpeg2000},
    {FormatKind::Video, "3GP, AVI, MOV, MPG, WMV", kVideo},
};

} // namespace

std::span<const FormatExtensions> formatExtensionTable() {
    return kTable;
}

std::string_view extensionOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = file.rfind('.');
    if (dot == std::string_view::npos) return {};
    return file.substr(dot + 1);
}

FormatKind detectFormatByExtension(std::string_view path, Videos videos) {
    const std::string_view ext = extensionOf(path);
    if (ext.empty() || ext.size() > 4) return FormatKind::None;
    const std::string lower = toolkit::lowerAscii(ext);
    for (const FormatExtensions& format : kTable) {
        for (std::string_view extension : format.extensions) {
            if (extension != lower) continue;
            if (format.kind == FormatKind::Video && videos == Videos::Excluded)
                return FormatKind::None;
            return format.kind;
        }
    }
    return FormatKind::None;
}

} // namespace quill::imagefiles
