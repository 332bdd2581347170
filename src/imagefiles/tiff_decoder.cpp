// TIFF decoding through libtiff, reading from memory; the library's messages are silenced.
#include "imagefiles/tiff_decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>

#include "imagefiles/detail/libtiff_handles.h"

#include "imagefiles/detail/decode_limits.h"

namespace quill::imagefiles {

namespace {

struct MemoryFile {
    std::span<const std::uint8_t> bytes;
    toff_t position = 0;
};

tmsize_t readProc(thandle_t handle, void* out, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(handle);
    if (size <= 0 || f->position >= f->bytes.size()) return 0;
    const toff_t left = f->bytes.size() - f->position;
    const toff_t n = toff_t(size) < left ? toff_t(size) : left;
    std::memcpy(out, f->bytes.data() + f->position, std::size_t(n));
    f->position += n;
    return tmsize_t(n);
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = f->position;
    else if (whence == SEEK_END)
        base = f->bytes.size();
    if (offset > ~toff_t{0} - base) return toff_t(-1);
    f->position = base + offset;
    return f->position;
}
int closeProc(thandle_t) {
    return 0;
}
toff_t sizeProc(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->bytes.size();
}
int mapProc(thandle_t handle, void** base, toff_t* size) {
    auto* f = static_cast<MemoryFile*>(handle);
    *base = const_cast<std::uint8_t*>(f->bytes.data());
    *size = f->bytes.size();
    return 1;
}
void unmapProc(thandle_t, void*, toff_t) {}

// The library writes the reason for refusing an image into a buffer of this size.
constexpr std::size_t kTiffMessageBytes = 1024;

class RgbaImage {
public:
    RgbaImage() { std::memset(&m_img, 0, sizeof m_img); }
    ~RgbaImage() {
        if (m_begun) TIFFRGBAImageEnd(&m_img);
    }
    RgbaImage(const RgbaImage&) = delete;
    RgbaImage& operator=(const RgbaImage&) = delete;
    bool begin(TIFF* tif) {
        char message[kTiffMessageBytes];
        m_begun = TIFFRGBAImageBegin(&m_img, tif, 0, message) != 0;
        return m_begun;
    }
    TIFFRGBAImage& get() { return m_img; }

private:
    TIFFRGBAImage m_img;
    bool m_begun = false;
};

// Greyscale with sample sizes the RGBA interface refuses (such as 12 bits), stored in strips:
// read row by row and scale to 0..255. Empty when the layout is not of this kind.
toolkit::Image decodeDeepGrey(TIFF* tif) {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 0, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits) ||
        !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) ||
        !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        return {};
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    if (TIFFIsTiled(tif) || samples != 1 || bits < 2 || bits > 16 || bits == 8 ||
        (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE)) {
        return {};
    }
    toolkit::Image image = detail::allocateImage(width, height, toolkit::PixelFormat::Bgr24);
    if (image.empty()) return {};
    const tmsize_t lineSize = TIFFScanlineSize(tif);
    if (lineSize <= 0 || std::uint64_t(lineSize) * 8 < std::uint64_t(width) * bits) return {};
    std::vector<std::uint8_t> line(std::size_t(lineSize), 0);
    const std::uint32_t max = (1u << bits) - 1;
    for (std::uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, line.data(), y, 0) < 0) break; // the rest stays zero
        std::uint8_t* d = image.row(int(y));
        std::uint64_t bit = 0;
        for (std::uint32_t x = 0; x < width; ++x, d += 3) {
            std::uint32_t v = 0;
            for (int i = 0; i < bits; ++i, ++bit) {
                v = (v << 1) | ((line[std::size_t(bit / 8)] >> (7 - bit % 8)) & 1u);
            }
            if (photometric == PHOTOMETRIC_MINISWHITE) v = max - v;
            const std::uint8_t grey = std::uint8_t((v * 255u + max / 2) / max);
            d[0] = d[1] = d[2] = grey;
        }
    }
    return image;
}

// The RGBA interface premultiplies unassociated alpha; declaring it associated makes the library
// pass the stored samples through, so colours under partial alpha stay exact. True when the file's
// alpha is premultiplied (associated) itself.
bool passAlphaThrough(TIFF* tif) {
    std::uint16_t extraCount = 0;
    std::uint16_t* extraTypes = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0 &&
        extraTypes[0] == EXTRASAMPLE_ASSOCALPHA) {
        return true;
    }
    if (extraCount > 0 && extraTypes && extraTypes[0] == EXTRASAMPLE_UNASSALPHA) {
        std::vector<std::uint16_t> types(extraTypes, extraTypes + extraCount);
        types[0] = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, extraCount, types.data());
    }
    return false;
}

// Copies the library's RGBA raster (one row of `image`'s width after the other) into the image.
void copyRaster(const std::vector<std::uint32_t>& raster, bool premultiplied,
                toolkit::Image& image) {
    const auto width = std::uint32_t(image.width());
    const int bpp = image.bytesPerPixel();
    for (int y = 0; y < image.height(); ++y) {
        const std::uint32_t* src = raster.data() + std::size_t(y) * width;
        std::uint8_t* dst = image.row(y);
        for (std::uint32_t x = 0; x < width; ++x, dst += bpp) {
            const std::uint32_t p = src[x];
            dst[0] = std::uint8_t(TIFFGetB(p));
            dst[1] = std::uint8_t(TIFFGetG(p));
            dst[2] = std::uint8_t(TIFFGetR(p));
            if (bpp != 4) continue;
            const unsigned a = TIFFGetA(p);
            dst[3] = std::uint8_t(a);
            // The working image holds straight alpha: undo the file's premultiplication.
            if (premultiplied && a != 0 && a != 255) {
                for (int c = 0; c < 3; ++c) {
                    dst[c] = std::uint8_t(std::min(255u, (dst[c] * 255u + a / 2) / a));
                }
            }
        }
    }
}

// The first image of the file through the library's RGBA interface, or through decodeDeepGrey
// where that interface refuses it. `fileBytes` counts against the decode budget.
toolkit::Image decodeOpened(TIFF* tif, std::size_t fileBytes) {
    char message[kTiffMessageBytes];
    if (!TIFFRGBAImageOK(tif, message)) return decodeDeepGrey(tif);
    const bool premultiplied = passAlphaThrough(tif);

    RgbaImage rgba;
    if (!rgba.begin(tif)) return {};
    TIFFRGBAImage& img = rgba.get();
    const std::uint32_t width = img.width;
    const std::uint32_t height = img.height;
    const bool alpha = img.alpha != 0;
    if (!detail::decodeSizeAllowed(width, height, toolkit::PixelFormat::Bgra32)) return {};
    // The RGBA raster and the image exist together until the end; both, with the file, must fit
    // the decode budget before either is allocated.
    const toolkit::PixelFormat format =
        alpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24;
    const std::uint64_t rasterBytes = std::uint64_t(width) * height * 4;
    const std::uint64_t imageBytes =
        std::uint64_t(toolkit::Image::strideFor(int(width), format)) * height;
    if (!detail::fitsDecodeBudget({fileBytes, rasterBytes, imageBytes})) return {};
    toolkit::Image image = detail::allocateImage(width, height, format);
    if (image.empty()) return {};
    std::vector<std::uint32_t> raster;
    try {
        raster.assign(std::size_t(width) * height, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    // Stored row order, top row first: the Orientation tag is not applied here.
    img.req_orientation = ORIENTATION_TOPLEFT;
    if (img.orientation != ORIENTATION_TOPLEFT) img.req_orientation = img.orientation;
    (void)TIFFRGBAImageGet(&img, raster.data(), width, height); // damaged parts stay zero
    copyRaster(raster, premultiplied, image);
    return image;
}

} // namespace

toolkit::Image decodeTiff(std::span<const std::uint8_t> bytes) {
    // Shorter than the byte order mark, the version and the first directory's offset.
    constexpr std::size_t kMinFileBytes = 8;
    if (bytes.size() < kMinFileBytes) return {};
    const detail::TiffOptions options = detail::quietTiffOptions();
    if (!options) return {};
    // No single allocation of the library may pass what the budget leaves beside the file.
    const std::uint64_t room =
        detail::decodeBudget() > bytes.size() ? detail::decodeBudget() - bytes.size() : 1;
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options.get(), tmsize_t(std::min<std::uint64_t>(detail::decodeMaxBytes(), room)));
    MemoryFile file{bytes, 0};
    detail::TiffHandle tif(TIFFClientOpenExt("memory", "rm", &file, readProc, writeProc, seekProc,
                                             closeProc, sizeProc, mapProc, unmapProc,
                                             options.get()));
    if (!tif) return {};
    return decodeOpened(tif.get(), bytes.size());
}

} // namespace quill::imagefiles
