// Format codes: the table of extensions and the lookup by a path's extension.
#include "imagefiles/format.h"

#include <array>
#include <string>

namespace quill::imagefiles {

namespace {

struct ExtensionEntry {
    std::string_view extension;
    FormatKind kind;
};

// Tested in this order; the first match wins.
constexpr std::array<ExtensionEntry, 38> kExtensions{{
    {"jpg", FormatJpeg},     {"jpeg", FormatJpeg},    {"jpe", FormatJpeg},
    {"jfif", FormatJpeg},    {"png", FormatPng},      {"bmp", FormatBmp},
    {"dib", FormatBmp},      {"rle", FormatBmp},      {"tga", FormatTga},
    {"vda", FormatTga},      {"icb", FormatTga},      {"vst", FormatTga},
    {"tpic", FormatTga},     {"tif", FormatTiff},     {"tiff", FormatTiff},
    {"gif", FormatGif},      {"pcx", FormatPcx},      {"pnm", FormatPnm},
    {"pgm", FormatPnm},      {"pbm", FormatPnm},      {"ppm", FormatPnm},
    {"ico", FormatIco},      {"cur", FormatIco},      {"jp2", FormatJpeg2000},
    {"j2k", FormatJpeg2000}, {"jpf", FormatJpeg2000}, {"jpx", FormatJpeg2000},
    {"jpm", FormatJpeg2000}, {"mj2", FormatJpeg2000}, {"3gp", FormatVideo},
    {"asf", FormatVideo},    {"avi", FormatVideo},    {"mov", FormatVideo},
    {"mp4", FormatVideo},    {"mpa", FormatVideo},    {"mpg", FormatVideo},
    {"mpeg", FormatVideo},   {"wmv", FormatVideo},
}};

} // namespace

std::string_view extensionOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = file.rfind('.');
    if (dot == std::string_view::npos) return {};
    return file.substr(dot + 1);
}

FormatKind detectFormatByExtension(std::string_view path, bool includeVideos) {
    const std::string_view ext = extensionOf(path);
    if (ext.empty() || ext.size() > 4) return FormatNone;
    std::string lower(ext);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    for (const ExtensionEntry& entry : kExtensions) {
        if (entry.extension != lower) continue;
        if (entry.kind == FormatVideo && !includeVideos) return FormatNone;
        return entry.kind;
    }
    return FormatNone;
}

} // namespace quill::imagefiles
