// The format table and the lookups over it.
#include "imagefiles/format.h"

#include <algorithm>
#include <string>

#include "imagefiles/avif_codec.h"
#include "imagefiles/general_decoder.h"
#include "imagefiles/gif_decoder.h"
#include "imagefiles/heif_codec.h"
#include "imagefiles/icc_reader.h"
#include "imagefiles/ico_decoder.h"
#include "imagefiles/jxl_codec.h"
#include "imagefiles/pcx_decoder.h"
#include "imagefiles/pnm_decoder.h"
#include "imagefiles/raw_codec.h"
#include "imagefiles/tiff_encoder.h"
#include "imagefiles/webp_codec.h"
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
constexpr std::string_view kWebp[] = {"webp"};
constexpr std::string_view kAvif[] = {"avif"};
constexpr std::string_view kHeif[] = {"heic", "heif", "hif"};
constexpr std::string_view kJpegXl[] = {"jxl"};
constexpr std::string_view kCameraRaw[] = {"cr2", "cr3", "nef", "arw", "dng",
                                           "orf", "rw2", "raf", "pef", "srw"};
constexpr std::string_view kVideo[] = {"3gp", "asf", "avi",  "mov", "mp4",
                                       "mpa", "mpg", "mpeg", "wmv"};

constexpr std::string_view kJpegMime[] = {"image/jpeg"};
constexpr std::string_view kPngMime[] = {"image/png"};
constexpr std::string_view kBmpMime[] = {"image/bmp", "image/x-bmp"};
constexpr std::string_view kTgaMime[] = {"image/x-tga", "image/x-targa"};
constexpr std::string_view kTiffMime[] = {"image/tiff"};
constexpr std::string_view kGifMime[] = {"image/gif"};
constexpr std::string_view kPcxMime[] = {"image/x-pcx", "image/vnd.zbrush.pcx"};
constexpr std::string_view kPnmMime[] = {"image/x-portable-anymap", "image/x-portable-bitmap",
                                         "image/x-portable-graymap", "image/x-portable-pixmap"};
constexpr std::string_view kIcoMime[] = {"image/vnd.microsoft.icon", "image/x-win-bitmap"};
constexpr std::string_view kJpeg2000Mime[] = {"image/jp2", "image/jpx"};
constexpr std::string_view kWebpMime[] = {"image/webp"};
constexpr std::string_view kAvifMime[] = {"image/avif"};
constexpr std::string_view kHeifMime[] = {"image/heic", "image/heif", "image/heic-sequence",
                                          "image/heif-sequence"};
constexpr std::string_view kJpegXlMime[] = {"image/jxl"};
constexpr std::string_view kCameraRawMime[] = {
    "image/x-canon-cr2",  "image/x-canon-cr3",   "image/x-nikon-nef",     "image/x-sony-arw",
    "image/x-adobe-dng",  "image/x-olympus-orf", "image/x-panasonic-rw2", "image/x-fuji-raf",
    "image/x-pentax-pef", "image/x-samsung-srw"};
constexpr std::string_view kVideoMime[] = {"video/3gpp",      "video/x-ms-asf", "video/x-msvideo",
                                           "video/quicktime", "video/mp4",      "video/mpeg",
                                           "video/x-ms-wmv"};

// The decoders of the first formats, in the table's form.
toolkit::Image decodeGifFile(Bytes bytes, const DecodeRequest&) {
    return decodeGif(bytes);
}
toolkit::Image decodePcxFile(Bytes bytes, const DecodeRequest&) {
    return decodePcx(bytes);
}
toolkit::Image decodePnmFile(Bytes bytes, const DecodeRequest&) {
    return decodePnm(bytes);
}
toolkit::Image decodeIcoFile(Bytes bytes, const DecodeRequest&) {
    return decodeIco(bytes);
}

constexpr std::uint16_t kMetadataHolds = HoldsIcc | HoldsExif | HoldsXmp;

// The rows in the order of the open-file dialog's list; the videos last.
constexpr FormatInfo kTable[] = {
    {.kind = FormatKind::Jpeg,
     .name = "JPEG",
     .filterLabel = "JPG",
     .extensions = kJpeg,
     .mimeTypes = kJpegMime,
     .holds = kMetadataHolds,
     .decode = decodeByContent,
     .writable = true,
     .encoder = Encoder::Jpeg,
     .extension = "jpg",
     .outputFormat = 0,
     .quality = QualityScale::Lossy},
    {.kind = FormatKind::Png,
     .name = "PNG",
     .filterLabel = "PNG",
     .extensions = kPng,
     .mimeTypes = kPngMime,
     .holds = HoldsAlpha | HoldsPalette | HoldsDeep | kMetadataHolds,
     .decode = decodePngWithColorKey,
     .metadata = readIccOnlyMetadata,
     .writable = true,
     .encoder = Encoder::Png,
     .extension = "png",
     .outputFormat = 1},
    {.kind = FormatKind::Bmp,
     .name = "BMP",
     .filterLabel = "BMP",
     .extensions = kBmp,
     .mimeTypes = kBmpMime,
     .holds = HoldsAlpha | HoldsPalette,
     .decode = decodeByContent,
     .writable = true,
     .encoder = Encoder::Bmp,
     .extension = "bmp",
     .outputFormat = 2},
    {.kind = FormatKind::Tga,
     .name = "TGA",
     .filterLabel = "TGA",
     .extensions = kTga,
     .mimeTypes = kTgaMime,
     .holds = HoldsAlpha | HoldsPalette,
     .decode = decodeByContent,
     .extension = "tga"},
    {.kind = FormatKind::Tiff,
     .name = "TIFF",
     .filterLabel = "TIF",
     .extensions = kTiff,
     .mimeTypes = kTiffMime,
     .holds = HoldsAlpha | HoldsPalette | HoldsDeep | kMetadataHolds,
     .decode = decodeByContent,
     .metadata = readIccOnlyMetadata,
     .decoderTurnsUpright = true,
     .writable = true,
     .encoder = Encoder::Tiff,
     .extension = "tif",
     .outputFormat = 8,
     .encode = encodeTiff,
     .encodeWithProfile = encodeTiffWithProfile,
     .encodePalette = encodeTiffPalette},
    {.kind = FormatKind::Gif,
     .name = "GIF",
     .filterLabel = "GIF",
     .extensions = kGif,
     .mimeTypes = kGifMime,
     .holds = HoldsAlpha | HoldsPalette | HoldsAnimation,
     .decode = decodeGifFile,
     .extension = "gif"},
    {.kind = FormatKind::Pcx,
     .name = "PCX",
     .filterLabel = "PCX",
     .extensions = kPcx,
     .mimeTypes = kPcxMime,
     .holds = HoldsPalette,
     .decode = decodePcxFile,
     .extension = "pcx"},
    {.kind = FormatKind::Pnm,
     .name = "PNM",
     .filterLabel = "PNM",
     .extensions = kPnm,
     .mimeTypes = kPnmMime,
     .holds = HoldsDeep,
     .decode = decodePnmFile,
     .extension = "pnm"},
    {.kind = FormatKind::Ico,
     .name = "ICO/CUR",
     .filterLabel = "ICO",
     .extensions = kIco,
     .mimeTypes = kIcoMime,
     .holds = HoldsAlpha | HoldsPalette,
     .decode = decodeIcoFile,
     .extension = "ico"},
    {.kind = FormatKind::Jpeg2000,
     .name = "JPEG 2000",
     .filterLabel = "JP2",
     .extensions = kJpeg2000,
     .mimeTypes = kJpeg2000Mime,
     .holds = HoldsAlpha | HoldsDeep | HoldsIcc,
     .decode = decodeByContent,
     .metadata = readIccOnlyMetadata,
     .writable = true,
     .encoder = Encoder::Jp2k,
     .extension = "jp2",
     .outputFormat = 3,
     .quality = QualityScale::Lossy},
    {.kind = FormatKind::Webp,
     .name = "WebP",
     .filterLabel = "WEBP",
     .extensions = kWebp,
     .mimeTypes = kWebpMime,
     .holds = HoldsAlpha | HoldsAnimation | kMetadataHolds,
     .recognises = looksLikeWebp,
     .declaredSize = webpDeclaredSize,
     .decode = decodeWebp,
     .metadata = readWebpMetadata,
     .decodeWorkBytes = webpDecodeWorkBytes,
     .writable = true,
     .encoder = Encoder::Webp,
     .extension = "webp",
     .outputFormat = 5,
     .quality = QualityScale::LosslessAtTop,
     .encode = encodeWebp,
     .encodeWithProfile = encodeWebpWithProfile,
     .encodeWorkBytes = webpEncodeWorkBytes},
    {.kind = FormatKind::Avif,
     .name = "AVIF",
     .filterLabel = "AVIF",
     .extensions = kAvif,
     .mimeTypes = kAvifMime,
     .holds = HoldsAlpha | HoldsDeep | HoldsAnimation | kMetadataHolds,
     .recognises = looksLikeAvif,
     .declaredSize = avifDeclaredSize,
     .decode = decodeAvif,
     .metadata = readAvifMetadata,
     .decodeWorkBytes = avifDecodeWorkBytes,
     .decoderTurnsUpright = true,
     .writable = true,
     .encoder = Encoder::Avif,
     .extension = "avif",
     .outputFormat = 6,
     .quality = QualityScale::Lossy,
     .encode = encodeAvif,
     .encodeWithProfile = encodeAvifWithProfile,
     .encodeWorkBytes = avifEncodeWorkBytes},
    {.kind = FormatKind::Heif,
     .name = "HEIC/HEIF",
     .filterLabel = "HEIC",
     .extensions = kHeif,
     .mimeTypes = kHeifMime,
     .holds = HoldsAlpha | HoldsDeep | kMetadataHolds,
     .recognises = looksLikeHeif,
     .declaredSize = heifDeclaredSize,
     .decode = decodeHeif,
     .metadata = readHeifMetadata,
     .decodeWorkBytes = heifDecodeWorkBytes,
     .decoderTurnsUpright = true,
     .extension = "heic"},
    {.kind = FormatKind::JpegXl,
     .name = "JPEG XL",
     .filterLabel = "JXL",
     .extensions = kJpegXl,
     .mimeTypes = kJpegXlMime,
     .holds = HoldsAlpha | HoldsDeep | HoldsAnimation | kMetadataHolds,
     .recognises = looksLikeJxl,
     .declaredSize = jxlDeclaredSize,
     .decode = decodeJxl,
     .metadata = readJxlMetadata,
     .decodeWorkBytes = jxlDecodeWorkBytes,
     .decoderTurnsUpright = true,
     .writable = true,
     .encoder = Encoder::JpegXl,
     .extension = "jxl",
     .outputFormat = 7,
     .quality = QualityScale::LosslessAtTop,
     .encode = encodeJxl,
     .encodeWithProfile = encodeJxlWithProfile,
     .encodeWorkBytes = jxlEncodeWorkBytes},
    {.kind = FormatKind::CameraRaw,
     .name = "Camera RAW",
     .filterLabel = "RAW",
     .extensions = kCameraRaw,
     .mimeTypes = kCameraRawMime,
     .holds = HoldsExif | HoldsXmp,
     .recognises = looksLikeRaw,
     .recognisedByContent = false,
     .declaredSize = rawDeclaredSize,
     .decode = decodeRaw,
     .metadata = readRawMetadata,
     .decodeWorkBytes = rawDecodeWorkBytes,
     .decoderTurnsUpright = true},
    {.kind = FormatKind::Video,
     .name = "Video",
     .filterLabel = "3GP, AVI, MOV, MPG, WMV",
     .extensions = kVideo,
     .mimeTypes = kVideoMime},
};

} // namespace

std::span<const FormatInfo> formatTable() {
    return kTable;
}

const FormatInfo* formatInfo(FormatKind kind) {
    for (const FormatInfo& row : kTable)
        if (row.kind == kind) return &row;
    return nullptr;
}

const FormatInfo* formatForOutputChoice(int outputFormat) {
    for (const FormatInfo& row : kTable)
        if (row.writable && row.outputFormat == outputFormat) return &row;
    return nullptr;
}

const FormatInfo* formatOfContent(Bytes head) {
    for (const FormatInfo& row : kTable)
        if (row.recognises != nullptr && row.recognisedByContent && row.recognises(head))
            return &row;
    return nullptr;
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
    for (const FormatInfo& format : kTable) {
        for (std::string_view extension : format.extensions) {
            if (extension != lower) continue;
            if (format.kind == FormatKind::Video && videos == Videos::Excluded)
                return FormatKind::None;
            return format.kind;
        }
    }
    return FormatKind::None;
}

std::vector<std::string_view> readableMimeTypes() {
    std::vector<std::string_view> types;
    for (const FormatInfo& row : kTable) {
        if (row.decode == nullptr) continue;
        for (std::string_view type : row.mimeTypes)
            if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    }
    return types;
}

} // namespace quill::imagefiles
