// Camera RAW decoding through LibRaw (its thread-safe build): one LibRaw object a call, reading
// from memory, with the library's messages silenced. The sizes the file declares are checked
// before the sensor data is unpacked, so a header that claims a huge sensor costs nothing.
#include "imagefiles/raw_codec.h"

#include "imagefiles/detail/decode_limits.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include <libraw/libraw.h>

namespace quill::imagefiles {

namespace {

using toolkit::Image;
using toolkit::PixelFormat;

/// The largest sensor read: a 200-megapixel frame. LibRaw keeps the unpacked data (2 bytes a
/// photosite) and a working copy of 8 bytes a pixel, so this already means about 2 GiB.
constexpr std::int64_t kMaxSensorPixels = std::int64_t{200} * 1000 * 1000;
/// LibRaw's own cap on the memory for unpacked sensor data, in MiB.
constexpr unsigned kMaxRawMemoryMiB = 1024;
/// LibRaw's output colour space number for sRGB.
constexpr int kOutputSrgb = 1;

void ignoreDataError(void*, const char*, int) {}

bool startsWith(std::span<const std::uint8_t> bytes, std::size_t at, const char* text,
                std::size_t length) {
    return bytes.size() >= at + length && std::memcmp(bytes.data() + at, text, length) == 0;
}

/// Whether the bytes name the maker Hasselblad anywhere. LibRaw 0.20 builds a Hasselblad
/// camera's model name with strcat into a fixed buffer while it opens the file, and a crafted
/// model string overruns it (the fortified library then aborts the whole program, found by
/// fuzzing). Hasselblad's own RAW formats (3FR, FFF) are not among the extensions read, so a file
/// that names the maker is refused instead of risking the run.
bool namesHasselblad(std::span<const std::uint8_t> bytes) {
    constexpr std::string_view kMaker = "hasselblad";
    const auto equalFolded = [](std::uint8_t byte, char letter) {
        return (byte | 0x20) == std::uint8_t(letter);
    };
    return std::search(bytes.begin(), bytes.end(), kMaker.begin(), kMaker.end(), equalFolded) !=
           bytes.end();
}

/// A LibRaw object that has opened `bytes`; null when the memory runs out or LibRaw does not
/// recognise the file. LibRaw reads the buffer only; it keeps a pointer to it, so `bytes` must
/// outlive the object.
std::unique_ptr<LibRaw> openRaw(std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || namesHasselblad(bytes)) return nullptr;
    std::unique_ptr<LibRaw> raw;
    try {
        raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    raw->set_dataerror_handler(ignoreDataError, nullptr);
    raw->imgdata.params.max_raw_memory_mb = kMaxRawMemoryMiB;
    void* data = const_cast<std::uint8_t*>(bytes.data());
    if (raw->open_buffer(data, bytes.size()) != LIBRAW_SUCCESS) return nullptr;
    return raw;
}

/// True when the opened file's sensor and developed picture are within the limits: the sensor at
/// most kMaxSensorPixels, a sane pixel aspect, and a developed picture (before any half-size
/// reduction, stretched by the pixel aspect or, for Fuji's diagonal sensors, rotated by 45
/// degrees) that an Image may hold.
bool sizesAllowed(LibRaw& raw) {
    const libraw_image_sizes_t& s = raw.imgdata.sizes;
    if (s.raw_width == 0 || s.raw_height == 0 || s.width == 0 || s.height == 0) return false;
    if (std::int64_t{s.raw_width} * s.raw_height > kMaxSensorPixels) return false;
    const double aspect = s.pixel_aspect;
    if (!(aspect >= 0.25 && aspect <= 4.0)) return false;
    double width = s.width;
    double height = s.height;
    if (aspect < 1)
        height /= aspect;
    else
        width *= aspect;
    if (raw.is_fuji_rotated()) width = height = (width + height) * 0.7072;
    if (width > INT_MAX || height > INT_MAX) return false;
    return detail::decodeSizeAllowed(static_cast<long long>(width) + 1,
                                     static_cast<long long>(height) + 1, PixelFormat::Bgr24);
}

/// True when the file carries the white balance the camera was set to.
bool hasCameraWhiteBalance(const LibRaw& raw) {
    const float* mul = raw.imgdata.color.cam_mul;
    return mul[0] > 0 && mul[1] >= 0 && mul[2] > 0;
}

/// LibRaw's developed picture copied into a 24-bit image; empty on failure.
Image developedImage(LibRaw& raw) {
    int width = 0;
    int height = 0;
    int colours = 0;
    int bits = 0;
    raw.get_mem_image_format(&width, &height, &colours, &bits);
    if (bits != 8 || (colours != 1 && colours != 3)) return {};
    if (!detail::decodeSizeAllowed(width, height, PixelFormat::Bgr24)) return {};
    Image image(width, height, PixelFormat::Bgr24);
    if (image.empty()) return {};
    if (colours == 3) {
        if (raw.copy_mem_image(image.data(), int(image.stride()), 1) != LIBRAW_SUCCESS) return {};
        return image;
    }
    // Monochrome sensors: one grey byte a pixel, spread to the three channels.
    std::vector<std::uint8_t> grey;
    try {
        grey.resize(std::size_t(width) * std::size_t(height));
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (raw.copy_mem_image(grey.data(), width, 0) != LIBRAW_SUCCESS) return {};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = grey.data() + std::size_t(y) * std::size_t(width);
        std::uint8_t* out = image.row(y);
        for (int x = 0; x < width; ++x)
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = in[x];
    }
    return image;
}

std::uint32_t readU32(std::span<const std::uint8_t> b, std::size_t at, bool little) {
    return little ? std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 |
                        std::uint32_t(b[at + 2]) << 16 | std::uint32_t(b[at + 3]) << 24
                  : std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
                        std::uint32_t(b[at + 2]) << 8 | std::uint32_t(b[at + 3]);
}

std::uint16_t readU16(std::span<const std::uint8_t> b, std::size_t at, bool little) {
    return little ? std::uint16_t(b[at] | b[at + 1] << 8) : std::uint16_t(b[at] << 8 | b[at + 1]);
}

/// The XMP packet (tag 700, bytes) of the TIFF structure's first IFD; empty when it has none or
/// the IFD does not fit in the file.
std::vector<std::uint8_t> xmpOfFirstIfd(std::span<const std::uint8_t> tiff) {
    constexpr std::uint16_t kXmpTag = 700;
    if (tiff.size() < 8) return {};
    const bool little = tiff[0] == 'I';
    const std::size_t ifd = readU32(tiff, 4, little);
    if (ifd < 8 || ifd > tiff.size() - 2) return {};
    const std::size_t count = readU16(tiff, ifd, little);
    if (count * 12 > tiff.size() - ifd - 2) return {};
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * i;
        if (readU16(tiff, entry, little) != kXmpTag) continue;
        const std::uint16_t type = readU16(tiff, entry + 2, little);
        if (type != 1 && type != 7) return {}; // BYTE or UNDEFINED
        const std::size_t length = readU32(tiff, entry + 4, little);
        const std::size_t at = length <= 4 ? entry + 8 : readU32(tiff, entry + 8, little);
        if (at > tiff.size() || length > tiff.size() - at) return {};
        return {tiff.begin() + std::ptrdiff_t(at), tiff.begin() + std::ptrdiff_t(at + length)};
    }
    return {};
}

} // namespace

bool looksLikeRaw(std::span<const std::uint8_t> head) {
    const auto is = [&](std::size_t at, const char* text, std::size_t length) {
        return startsWith(head, at, text, length);
    };
    return is(0, "II*\0", 4) || is(0, "MM\0*", 4) ||                   // TIFF-based RAW
           is(0, "IIRO", 4) || is(0, "IIRS", 4) || is(0, "MMOR", 4) || // ORF
           is(0, "IIU\0", 4) ||                                        // RW2
           is(0, "FUJIFILMCCD-RAW", 15) ||                             // RAF
           (is(4, "ftyp", 4) && is(8, "crx ", 4));                     // CR3
}

DeclaredSize rawDeclaredSize(std::span<const std::uint8_t> bytes) {
    try {
        const std::unique_ptr<LibRaw> raw = openRaw(bytes);
        if (!raw) return {};
        const libraw_image_sizes_t& s = raw->imgdata.sizes;
        const double aspect = s.pixel_aspect;
        if (s.width == 0 || s.height == 0 || !(aspect >= 0.25 && aspect <= 4.0)) return {};
        // Stretches by the pixel aspect, rotates Fuji's diagonal sensors and applies the flip,
        // as developing does.
        if (raw->adjust_sizes_info_only() != LIBRAW_SUCCESS) return {};
        return {s.iwidth, s.iheight};
    } catch (...) {
        return {};
    }
}

Image decodeRaw(std::span<const std::uint8_t> bytes, const DecodeRequest& request) {
    try {
        const std::unique_ptr<LibRaw> raw = openRaw(bytes);
        if (!raw || !sizesAllowed(*raw)) return {};
        libraw_output_params_t& params = raw->imgdata.params;
        params.use_camera_wb = 1;
        // A camera that stored no white balance gets one from the picture's own averages.
        if (!hasCameraWhiteBalance(*raw)) params.use_auto_wb = 1;
        params.output_color = kOutputSrgb;
        params.output_bps = 8;
        // The caller scales the result down anyway: one pixel a Bayer cell is a quarter of the
        // work and needs no interpolation.
        params.half_size = request.reduction >= 2 ? 1 : 0;
        if (raw->unpack() != LIBRAW_SUCCESS) return {};
        if (raw->dcraw_process() != LIBRAW_SUCCESS) return {};
        return developedImage(*raw);
    } catch (...) {
        return {};
    }
}

FileMetadata readRawMetadata(std::span<const std::uint8_t> bytes) {
    FileMetadata metadata;
    const bool tiff = startsWith(bytes, 0, "II*\0", 4) || startsWith(bytes, 0, "MM\0*", 4);
    // ORF and RW2 are TIFF structures under a magic number of their own.
    const bool littleOwnMagic = startsWith(bytes, 0, "IIRO", 4) ||
                                startsWith(bytes, 0, "IIRS", 4) || startsWith(bytes, 0, "IIU\0", 4);
    const bool bigOwnMagic = startsWith(bytes, 0, "MMOR", 4);
    if (!tiff && !littleOwnMagic && !bigOwnMagic) return metadata;
    // Without a first IFD inside the file there is no TIFF structure to hand on.
    if (bytes.size() < 8) return metadata;
    const std::uint32_t firstIfd = readU32(bytes, 4, bytes[0] == 'I');
    if (firstIfd < 8 || firstIfd >= bytes.size()) return metadata;
    try {
        metadata.exif.assign(bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (littleOwnMagic) {
        metadata.exif[2] = '*';
        metadata.exif[3] = 0;
    } else if (bigOwnMagic) {
        metadata.exif[2] = 0;
        metadata.exif[3] = '*';
    }
    try {
        metadata.xmp = xmpOfFirstIfd(metadata.exif);
    } catch (const std::bad_alloc&) {
        metadata.xmp.clear();
    }
    return metadata;
}

std::uint64_t rawDecodeWorkBytes(std::int64_t width, std::int64_t height) {
    if (width <= 0 || height <= 0) return 0;
    // Unpacked sensor data (2 bytes a photosite, 8 for four-channel sensors), the 4 x 16-bit
    // working copy, LibRaw's 8-bit developed copy and its interpolation tiles and tables.
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    return pixels * (8 + 8 + 3) + (std::uint64_t{32} << 20);
}

} // namespace quill::imagefiles
