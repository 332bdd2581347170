// Loading an image file: the dispatch by format code, the header-only size reader and the PNG
// colour-key step.
#include "imagefiles/image_loader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "imagefiles/bmp_decoder.h"
#include "imagefiles/detail/byte_reader.h"
#include "imagefiles/detail/decode_limits.h"
#include "imagefiles/format.h"
#include "imagefiles/general_decoder.h"
#include "imagefiles/gif_decoder.h"
#include "imagefiles/icc_reader.h"
#include "imagefiles/ico_decoder.h"
#include "imagefiles/jpeg_decoder.h"
#include "imagefiles/pcx_decoder.h"
#include "imagefiles/pnm_decoder.h"
#include "imagefiles/tga_decoder.h"
#include "toolkit/ascii.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

namespace {

using Bytes = std::span<const std::uint8_t>;

// Raw content types of the size reader.
enum ContentType {
    ContentNone = 0,
    ContentBmp = 1,
    ContentGif87 = 3,
    ContentGif89 = 4,
    ContentCur = 6,
    ContentIco = 7,
    ContentJp2 = 9,
    ContentJ2k = 10,
    ContentJpeg = 11,
    ContentPcx = 12,
    ContentPng = 13,
    ContentPnm = 14,
    ContentTga = 15,
    ContentTiffLe = 17,
    ContentTiffBe = 18,
};

bool startsWith(Bytes bytes, std::size_t offset, const char* text, std::size_t length) {
    return offset <= bytes.size() && length <= bytes.size() - offset &&
           std::memcmp(bytes.data() + offset, text, length) == 0;
}

// The signatures in the order they are tried; the first match wins.
ContentType contentTypeOf(Bytes b) {
    if (startsWith(b, 0, "\xFF\xD8", 2)) return ContentJpeg;
    if (startsWith(b, 0, "\x89PNG\r\n\x1A\n", 8)) return ContentPng;
    if (startsWith(b, 0, "GIF89a", 6)) return ContentGif89;
    if (startsWith(b, 0, "BM", 2)) return ContentBmp;
    if (b.size() >= 18 && startsWith(b, b.size() - 18, "TRUEVISION-XFILE.", 17)) return ContentTga;
    if (startsWith(b, 0, "\0\0\0\x0CjP  \r\n\x87\n", 12)) return ContentJp2;
    if (startsWith(b, 0, "II*\0", 4)) return ContentTiffLe;
    if (b.size() >= 2 && b[0] == 0x0A && b[1] <= 5) return ContentPcx;
    if (startsWith(b, 0, "\0\0\1\0", 4)) return ContentIco;
    if (startsWith(b, 0, "\xFF\x4F", 2)) return ContentJ2k;
    if (startsWith(b, 0, "GIF87a", 6)) return ContentGif87;
    if (b.size() >= 2 && b[0] == 'P' && b[1] <= '6') return ContentPnm;
    if (startsWith(b, 0, "MM\0*", 4)) return ContentTiffBe;
    if (startsWith(b, 0, "\0\0\2\0", 4)) return ContentCur;
    return ContentNone;
}

struct Size {
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// The second byte of the markers that hold an image's size: JPEG 2000's SIZ, and the baseline
// and progressive frame headers of JPEG.
constexpr std::uint8_t kJ2kMarkerSiz = 0x51;
constexpr std::uint8_t kJpegMarkerSof0 = 0xC0;
constexpr std::uint8_t kJpegMarkerSof2 = 0xC2;

// A TIFF directory entry: tag (2), type (2), count (4), value (4); a SHORT value takes the first
// two bytes of the value field.
constexpr std::size_t kTiffEntryBytes = 12;
constexpr std::uint16_t kTiffTypeShort = 3;
constexpr std::uint16_t kTiffTagImageWidth = 256;
constexpr std::uint16_t kTiffTagImageLength = 257;

// The header size of an OS/2 core BMP, whose sides are 16-bit.
constexpr std::uint32_t kBmpCoreHeaderBytes = 12;

// The sides a readable image may have.
constexpr std::int64_t kMaxImageSide = 65536;

// Walks JPEG 2000 marker segments from `pos` to the SIZ marker.
Size codestreamSize(detail::ByteReader& r, std::size_t pos) {
    Size s;
    while (r.has(pos, 2)) {
        if (r.u8(pos) != 0xFF) break;
        const std::uint8_t marker = r.u8(pos + 1);
        if (marker == kJ2kMarkerSiz) {
            if (r.has(pos + 6, 8)) {
                s.width = r.u32be(pos + 6);
                s.height = r.u32be(pos + 10);
            }
            break;
        }
        if (marker == 0x00 || !r.has(pos + 2, 2)) break;
        const std::uint16_t length = r.u16be(pos + 2);
        if (length < 1) break;
        pos += std::size_t(length) + 2;
    }
    return s;
}

Size jpegSize(detail::ByteReader& r) {
    Size s;
    std::size_t pos = 2;
    while (r.has(pos, 2)) {
        if (r.u8(pos) != 0xFF) break;
        const std::uint8_t marker = r.u8(pos + 1);
        if (marker == kJpegMarkerSof0 || marker == kJpegMarkerSof2) {
            if (r.has(pos + 5, 4)) {
                s.height = r.u16be(pos + 5);
                s.width = r.u16be(pos + 7);
            }
            break;
        }
        if (marker == 0x00 || marker == 0xFF || !r.has(pos + 2, 2)) break;
        const std::uint16_t length = r.u16be(pos + 2);
        if (length == 0) break;
        pos += std::size_t(length) + 2;
    }
    return s;
}

Size tiffSize(detail::ByteReader& r, bool bigEndian) {
    const auto u16 = [&](std::size_t at) { return bigEndian ? r.u16be(at) : r.u16le(at); };
    const auto u32 = [&](std::size_t at) { return bigEndian ? r.u32be(at) : r.u32le(at); };
    Size s;
    std::size_t pos = std::size_t(u32(4)) + 2;
    while (r.has(pos, kTiffEntryBytes)) {
        const std::uint16_t tag = u16(pos);
        if (tag == 0) break;
        const std::uint16_t type = u16(pos + 2);
        const std::int64_t value = type == kTiffTypeShort ? u16(pos + 8) : u32(pos + 8);
        if (tag == kTiffTagImageWidth) s.width = value;
        if (tag == kTiffTagImageLength) s.height = value;
        if (s.width > 0 && s.height > 0) break;
        pos += kTiffEntryBytes;
    }
    return s;
}

Size headerSize(detail::ByteReader& r, ContentType type) {
    Size s;
    switch (type) {
    case ContentBmp:
        // The OS/2 core header (size 12) stores 16-bit sides; reading it as 32-bit values would
        // turn every such file into an unreadable one.
        if (r.u32le(14) == kBmpCoreHeaderBytes) {
            s.width = r.u16le(18);
            s.height = r.u16le(20);
        } else {
            s.width = std::int32_t(r.u32le(18));
            s.height = std::int32_t(r.u32le(22));
        }
        break;
    case ContentGif87:
    case ContentGif89:
        s.width = r.u16le(6);
        s.height = r.u16le(8);
        break;
    case ContentJp2: {
        std::size_t pos = 12;
        while (r.has(pos, 4)) {
            const std::uint32_t length = r.u32be(pos);
            if (length < 1) break;
            pos += length;
        }
        // Only a last box of length 0 (running to the end) stops inside the file; its header and
        // the codestream's start marker come before the marker segments.
        s = codestreamSize(r, pos + 10);
        break;
    }
    case ContentJ2k:
        s = codestreamSize(r, 2);
        break;
    case ContentJpeg:
        s = jpegSize(r);
        break;
    case ContentPcx:
        s.width = std::int64_t(r.u16le(8)) - r.u16le(4) + 1;
        s.height = std::int64_t(r.u16le(10)) - r.u16le(6) + 1;
        break;
    case ContentPng:
        s.width = r.u32be(16);
        s.height = r.u32be(20);
        break;
    case ContentTga:
        s.width = r.u16le(12);
        s.height = r.u16le(14);
        break;
    case ContentPnm:
        // The header is text: read it as the decoder does, so a map of several hundred
        // megabytes is not decoded just to learn its size.
        if (const auto size = readPnmSize(r.tail(0))) {
            s.width = size->first;
            s.height = size->second;
        }
        break;
    case ContentTiffLe:
        s = tiffSize(r, false);
        break;
    case ContentTiffBe:
        s = tiffSize(r, true);
        break;
    default:
        break;
    }
    if (r.failed() && (s.width == 0 || s.height == 0)) return Size{};
    s.width = std::llabs(s.width);
    s.height = std::llabs(s.height);
    return s;
}

// Decodes the whole file by its content family when the header did not tell the size.
Size decodedSize(Bytes bytes, ContentType type) {
    toolkit::Image image;
    switch (type) {
    case ContentCur:
    case ContentIco:
        image = decodeIco(bytes);
        break;
    case ContentPcx:
        image = decodePcx(bytes);
        break;
    case ContentPnm:
        image = decodePnm(bytes);
        break;
    case ContentGif87:
    case ContentGif89:
        return Size{};
    default:
        break;
    }
    // Signatures of two bytes or four are weak: an uncompressed TGA without ID field and footer
    // begins 00 00 02 00 like a cursor. What the family's decoder cannot read gets the general
    // decoder's chance, so such files are not reported unreadable.
    if (image.empty()) image = decodeGeneral(bytes);
    return Size{image.width(), image.height()};
}

bool finish(Size s, ImageRect& out) {
    out = ImageRect{};
    if (s.width < 1 || s.width > kMaxImageSide || s.height < 1 || s.height > kMaxImageSide)
        return false;
    out.width = std::int32_t(s.width);
    out.height = std::int32_t(s.height);
    return true;
}

// The most a file may take in memory while it is decoded: the file and the image made from it
// must both fit the decode budget, and no supported format stores its pixels in more than twice
// the bytes of the decoded image (16-bit samples), so the file gets two thirds of the budget.
std::uint64_t readLimit() {
    return std::min(detail::kMaxFileBytes, detail::decodeBudget() / 3 * 2);
}

// The first bytes of a file, enough for every signature and header the size reader looks at.
constexpr std::size_t kHeadBytes = std::size_t{256} << 10;

// nullopt when the file could not be read; platform::lastError() then says why.
std::optional<std::vector<std::uint8_t>> readHead(platform::InputFile& file) {
    std::vector<std::uint8_t> head(kHeadBytes);
    const auto read = file.readAt(0, head);
    if (!read) return std::nullopt;
    head.resize(*read);
    return head;
}

// nullopt when the file could not be opened or read; platform::lastError() then says why.
std::optional<std::vector<std::uint8_t>> readHead(const std::string& path) {
    auto file = platform::InputFile::open(path);
    if (!file) return std::nullopt;
    return readHead(*file);
}

// Sets `readError` (when given) to the errno of the failed read when it was an input/output
// error or a refusal of access, rather than a file that went away or is too large.
void noteReadError(int* readError) {
    if (readError != nullptr && platform::isReadError(platform::lastError()))
        *readError = platform::lastError();
}

// True when some decoder could take a file that starts with `head`; a file no decoder takes is
// not read any further (a large file of zeros, for instance).
bool someDecoderAccepts(Bytes head) {
    if (contentTypeOf(head) != ContentNone || looksLikeTga(head)) return true;
    for (const FormatInfo& format : formatTable())
        if (format.recognises != nullptr && format.recognises(head)) return true;
    return startsWith(head, 0, "II+\0", 4) || startsWith(head, 0, "MM\0+", 4) ||
           startsWith(head, 0, "GIF", 3) || (!head.empty() && head[0] == 'P');
}

// A file opened for decoding, with its first bytes (all of a small file).
struct OpenedFile {
    platform::InputFile file;
    std::vector<std::uint8_t> head;
};

// Opens a file for decoding, refusing what exceeds the read limit or what no decoder could take,
// before the bulk of it is read. `readError` as noteReadError sets it.
std::optional<OpenedFile> openForDecoding(const std::string& path, int* readError) {
    auto file = platform::InputFile::open(path);
    if (!file) {
        noteReadError(readError);
        return std::nullopt;
    }
    if (file->size() > readLimit()) return std::nullopt;
    auto head = readHead(*file);
    if (!head) {
        noteReadError(readError);
        return std::nullopt;
    }
    if (file->size() > kHeadBytes && !someDecoderAccepts(*head)) return std::nullopt;
    return OpenedFile{std::move(*file), std::move(*head)};
}

// The whole of an opened file: its head and the rest after it. A file that shrank while being
// read yields what was there.
std::optional<std::vector<std::uint8_t>> readWhole(OpenedFile& opened, int* readError) {
    std::vector<std::uint8_t> bytes = std::move(opened.head);
    const std::size_t have = bytes.size();
    if (have == kHeadBytes && opened.file.size() > have) {
        bytes.resize(std::size_t(opened.file.size()));
        const auto read =
            opened.file.readAt(have, std::span(bytes.data() + have, bytes.size() - have));
        if (!read) {
            noteReadError(readError);
            return std::nullopt;
        }
        bytes.resize(have + *read);
    }
    return bytes;
}

// Reads a whole file for decoding, as openForDecoding refuses it. `stamp` receives the stamp of
// the file that was read.
std::optional<std::vector<std::uint8_t>> readForDecoding(const std::string& path,
                                                         int* readError = nullptr,
                                                         platform::FileStamp* stamp = nullptr) {
    auto opened = openForDecoding(path, readError);
    if (!opened) return std::nullopt;
    if (stamp != nullptr) *stamp = opened->file.stamp();
    return readWhole(*opened, readError);
}

// Decoders that read an uncompressed raster from its file a slice at a time, so that the file is
// never held whole beside its pixels; nothing when the file is not theirs.
using StreamedDecoder = std::optional<toolkit::Image> (*)(platform::InputFile&, Bytes head);

StreamedDecoder streamedDecoderFor(const FormatInfo& format) {
    if (format.kind == FormatKind::Pnm) return decodeRawPnmFile;
    // The general decoder takes any file that starts "BM" as a bitmap.
    if (format.decode == decodeByContent) return decodeUncompressedBmpFile;
    return nullptr;
}

toolkit::Image load(const std::string& path, FormatKind formatKind, Videos videos, int reduction,
                    platform::FileStamp* readStamp, std::vector<std::uint8_t>* iccProfile) {
    if (iccProfile != nullptr) iccProfile->clear();
    if (formatKind == FormatKind::None) formatKind = detectFormatByExtension(path, videos);
    const FormatInfo* format = formatInfo(formatKind);
    if (format == nullptr || format->decode == nullptr) return {};
    auto opened = openForDecoding(path, nullptr);
    if (!opened) return {};
    if (readStamp != nullptr) *readStamp = opened->file.stamp();
    // A small file is decoded from its head, which holds all of it.
    if (const StreamedDecoder streamed = streamedDecoderFor(*format);
        streamed != nullptr && opened->head.size() == kHeadBytes) {
        if (auto image = streamed(opened->file, opened->head)) return std::move(*image);
    }
    const auto bytes = readWhole(*opened, nullptr);
    if (!bytes) return {};
    const DecodeRequest request{.reduction = reduction};
    toolkit::Image image = format->decode(*bytes, request);
    // A file named for one of the table's own codecs but holding another format (a JPEG saved
    // as .webp, say) is decoded by its content, as a misnamed file of the first formats is.
    if (image.empty() && format->recognises != nullptr && format->decode != decodeByContent)
        image = decodeByContent(*bytes, request);
    // A camera RAW is developed into sRGB, whatever profile its TIFF structure holds.
    if (iccProfile != nullptr && !image.empty() && format->kind != FormatKind::CameraRaw)
        *iccProfile = readIccProfile(*bytes);
    return image;
}

// The size a format of the table declares, read from `bytes` (the head or the whole file).
Size declaredSizeOf(const FormatInfo& format, Bytes bytes) {
    if (format.declaredSize == nullptr) return Size{};
    const DeclaredSize declared = format.declaredSize(bytes);
    return Size{declared.width, declared.height};
}

// The format of the table that a path's extension alone decides (camera RAW, whose files are
// mostly TIFF files); null for every other path.
const FormatInfo* formatByExtensionOnly(const std::string& path) {
    const FormatInfo* format = formatInfo(detectFormatByExtension(path, Videos::Excluded));
    return format != nullptr && !format->recognisedByContent && format->declaredSize != nullptr
               ? format
               : nullptr;
}

} // namespace

toolkit::Image loadImageFile(const std::string& path, FormatKind formatKind, Videos videos,
                             platform::FileStamp* readStamp,
                             std::vector<std::uint8_t>* iccProfile) {
    return load(path, formatKind, videos, 1, readStamp, iccProfile);
}

toolkit::Image loadImageFileReduced(const std::string& path, FormatKind formatKind, int reduction,
                                    Videos videos, platform::FileStamp* readStamp,
                                    std::vector<std::uint8_t>* iccProfile) {
    return load(path, formatKind, videos, reduction, readStamp, iccProfile);
}

BudgetedImage loadImageFileBudgeted(const std::string& path, FormatKind formatKind,
                                    const std::function<bool()>& keepWaiting) {
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    // As a run holds them: an estimate past the whole budget holds the whole budget.
    const std::uint64_t bytes = std::clamp<std::uint64_t>(
        estimateDecodeBytes(path), 1, std::max<std::uint64_t>(budget.limit(), 1));
    BudgetedImage loaded;
    loaded.hold =
        keepWaiting ? budget.reserveWhenFree(bytes, keepWaiting) : budget.reserveRegardless(bytes);
    if (!loaded.hold) return loaded;
    loaded.image = loadImageFile(path, formatKind);
    loaded.hold.shrinkTo(loaded.image.sizeInBytes());
    return loaded;
}

bool readImageSizeFromBytes(Bytes bytes, ImageRect& out) {
    if (const FormatInfo* format = formatOfContent(bytes); format != nullptr)
        return finish(declaredSizeOf(*format, bytes), out);
    const ContentType type = contentTypeOf(bytes);
    detail::ByteReader r(bytes);
    Size s = headerSize(r, type);
    if (s.width == 0 || s.height == 0) s = decodedSize(bytes, type);
    return finish(s, out);
}

DecodeEstimate estimateDecode(const std::string& path) {
    const auto info = platform::fileInfo(path);
    if (!info || info->isDirectory || !platform::isRegularFile(path)) return {};
    if (info->size > readLimit()) return {}; // refused unread
    std::vector<std::uint8_t> head = readHead(path).value_or(std::vector<std::uint8_t>());
    // A camera RAW tells its size only to its library, which reads the whole file.
    const FormatInfo* format = formatByExtensionOnly(path);
    if (format != nullptr && head.size() == kHeadBytes)
        head = readForDecoding(path).value_or(std::move(head));
    if (format == nullptr) format = formatOfContent(head);
    detail::ByteReader r(head);
    const ContentType type = contentTypeOf(head);
    Size s = format != nullptr ? declaredSizeOf(*format, head) : headerSize(r, type);
    DecodeEstimate estimate;
    std::uint64_t image = detail::decodeMaxBytes(); // the most any image may take
    std::uint64_t library = 0;
    if (s.width > 0 && s.height > 0 && s.width <= 0x7FFFFFFF && s.height <= 0x7FFFFFFF) {
        estimate.width = s.width;
        estimate.height = s.height;
        const std::uint64_t pixels = std::uint64_t(s.width) * std::uint64_t(s.height);
        image = std::min<std::uint64_t>(image, pixels * 4);
        const std::uint64_t mostLibrary = 4 * std::uint64_t(detail::decodeMaxBytes());
        if (format != nullptr && format->decodeWorkBytes != nullptr)
            library = std::min(format->decodeWorkBytes(s.width, s.height), mostLibrary);
        // OpenJPEG decodes into 32-bit samples, up to four components, beside the image.
        else if (type == ContentJp2 || type == ContentJ2k)
            library = std::min<std::uint64_t>(pixels * 16, mostLibrary);
    }
    estimate.bytes = info->size + library + 2 * image;
    return estimate;
}

std::uint64_t estimateDecodeBytes(const std::string& path) {
    return estimateDecode(path).bytes;
}

bool readImageSize(const std::string& path, ImageRect& out, int* readError) {
    if (readError != nullptr) *readError = 0;
    // Most files carry their size in the first bytes: read only those when the header answers.
    // Only signatures that win before the TGA footer test qualify, since that test looks at the
    // end of the file, which a head does not hold.
    const auto info = platform::fileInfo(path);
    if (info && !info->isDirectory && info->size > kHeadBytes && info->size <= readLimit() &&
        platform::isRegularFile(path)) {
        const auto head = readHead(path);
        if (!head) {
            noteReadError(readError);
            out = ImageRect{};
            return false;
        }
        if (const FormatInfo* format = formatOfContent(*head); format != nullptr) {
            const Size s = declaredSizeOf(*format, *head);
            if (s.width != 0 && s.height != 0) return finish(s, out);
        }
        const ContentType type = contentTypeOf(*head);
        if (type == ContentJpeg || type == ContentPng || type == ContentGif89 ||
            type == ContentBmp || type == ContentPnm) {
            detail::ByteReader r(*head);
            const Size s = headerSize(r, type);
            if (s.width != 0 && s.height != 0) return finish(s, out);
        }
    }
    const auto bytes = readForDecoding(path, readError);
    if (!bytes) {
        out = ImageRect{};
        return false;
    }
    // A camera RAW's size is the size of the picture its library develops, not of the preview
    // its TIFF structure shows first; a file the library refuses is judged by its content.
    if (const FormatInfo* format = formatByExtensionOnly(path); format != nullptr) {
        if (finish(declaredSizeOf(*format, *bytes), out)) return true;
    }
    return readImageSizeFromBytes(*bytes, out);
}

} // namespace quill::imagefiles
