// The TIFF encoder on libtiff. libtiff writes through client procedures into a growing byte
// vector (it seeks back to link the directory into the header, so the file is addressed from
// where it starts in the vector). Rows are turned from blue-green-red(-alpha) into the red-green-
// blue(-alpha) order TIFF stores, one at a time; palette rows are packed to 1, 4 or 8 bits.
// Strips of about 256 KiB keep Deflate's window busy without holding much memory; the library's
// messages are silenced per file, so that encoders running in parallel do not share a handler.
#include "imagefiles/tiff_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include <tiffio.h>

#include "imagefiles/detail/libtiff_handles.h"

#include "toolkit/stop_request.h"

namespace quill::imagefiles {

namespace {

// The file being written: the bytes of `out` from `start` on.
struct MemoryOut {
    std::vector<std::uint8_t>* out;
    std::size_t start = 0;
    toff_t position = 0;
};

toff_t fileSize(const MemoryOut& f) {
    return toff_t(f.out->size() - f.start);
}

tmsize_t readProc(thandle_t handle, void* data, tmsize_t size) {
    auto* f = static_cast<MemoryOut*>(handle);
    if (size <= 0 || f->position >= fileSize(*f)) return 0;
    const toff_t n = std::min(toff_t(size), fileSize(*f) - f->position);
    std::memcpy(data, f->out->data() + f->start + f->position, std::size_t(n));
    f->position += n;
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t handle, void* data, tmsize_t size) {
    auto* f = static_cast<MemoryOut*>(handle);
    if (size < 0) return -1;
    const toff_t end = f->position + toff_t(size);
    try {
        if (end > fileSize(*f)) f->out->resize(f->start + std::size_t(end));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::memcpy(f->out->data() + f->start + f->position, data, std::size_t(size));
    f->position = end;
    return size;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    auto* f = static_cast<MemoryOut*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = f->position;
    else if (whence == SEEK_END)
        base = fileSize(*f);
    // A TIFF of our images stays far below 2^40 bytes; anything beyond is a fault.
    if (offset > (toff_t{1} << 40) || base + offset > (toff_t{1} << 40)) return toff_t(-1);
    f->position = base + offset;
    return f->position;
}

int closeProc(thandle_t) {
    return 0;
}
toff_t sizeProc(thandle_t handle) {
    return fileSize(*static_cast<MemoryOut*>(handle));
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}

constexpr std::size_t kStripBytes = std::size_t{1} << 20;

// Writes one file into `out` after its current end: opens libtiff on it, lets `fill` set the
// fields and write the rows, and closes (which writes the directory). On failure `out` is cut
// back to where it was.
template <typename Fill> bool writeTiff(std::vector<std::uint8_t>& out, Fill fill) {
    const std::size_t start = out.size();
    bool ok = false;
    try {
        MemoryOut file{&out, start};
        const detail::TiffOptions options = detail::quietTiffOptions();
        if (options) {
            const detail::TiffHandle tif(TIFFClientOpenExt("memory", "wl", &file, readProc,
                                                           writeProc, seekProc, closeProc, sizeProc,
                                                           mapProc, unmapProc, options.get()));
            // The directory is written last; only then is the file complete.
            if (tif) ok = fill(tif.get()) && TIFFWriteDirectory(tif.get());
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) out.resize(start);
    return ok;
}

std::uint32_t rowsPerStrip(std::size_t rowBytes) {
    return std::uint32_t(
        std::max<std::size_t>(1, kStripBytes / std::max<std::size_t>(1, rowBytes)));
}

// Writes every row that `makeRow(y, buffer)` produces into the open file.
// Fills strips of rowsPerStrip rows and hands each to libtiff whole: libtiff compresses a whole
// strip with libdeflate in one call, row by row it falls back to zlib's slower stream.
template <typename MakeRow>
bool writeRows(TIFF* tif, int height, std::size_t rowBytes, MakeRow makeRow) {
    const std::uint32_t rows = rowsPerStrip(rowBytes);
    std::vector<std::uint8_t> strip(rowBytes * rows);
    for (int top = 0, index = 0; top < height; top += int(rows), ++index) {
        // A stop request ends the encoding between strips; the half-made output is dropped.
        if (toolkit::stopRequested()) return false;
        const int count = std::min(int(rows), height - top);
        for (int y = 0; y < count; ++y)
            makeRow(top + y, strip.data() + std::size_t(y) * rowBytes);
        if (TIFFWriteEncodedStrip(tif, std::uint32_t(index), strip.data(),
                                  tmsize_t(std::size_t(count) * rowBytes)) < 0)
            return false;
    }
    return true;
}

} // namespace

bool encodeTiff(const toolkit::ImageView& image, int quality, std::vector<std::uint8_t>& out) {
    return encodeTiffWithProfile(image, quality, {}, out);
}

bool encodeTiffWithProfile(const toolkit::ImageView& image, int, std::span<const std::uint8_t> icc,
                           std::vector<std::uint8_t>& out) {
    if (!image.data || image.width <= 0 || image.height <= 0) return false;
    const bool alpha = image.format == toolkit::PixelFormat::Bgra32;
    const int channels = alpha ? 4 : 3;
    const std::size_t rowBytes = std::size_t(image.width) * std::size_t(channels);
    return writeTiff(out, [&](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(image.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(image.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        if (alpha) {
            const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
            TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
        }
        if (!icc.empty())
            TIFFSetField(tif, TIFFTAG_ICCPROFILE, std::uint32_t(icc.size()), icc.data());
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip(rowBytes));
        return TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
               TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
               writeRows(tif, image.height, rowBytes, [&](int y, std::uint8_t* dst) {
                   const std::uint8_t* src = image.row(y);
                   for (int x = 0; x < image.width; ++x, src += channels, dst += channels) {
                       dst[0] = src[2];
                       dst[1] = src[1];
                       dst[2] = src[0];
                       if (alpha) dst[3] = src[3];
                   }
               });
    });
}

bool encodeTiffPalette(const PalettedImage& image, int depth, std::vector<std::uint8_t>& out) {
    if (depth != 1 && depth != 4 && depth != 8) return false;
    if (image.width <= 0 || image.height <= 0 || image.palette.empty() ||
        image.palette.size() > (std::size_t(1) << depth) ||
        image.indices.size() != std::size_t(image.width) * std::size_t(image.height))
        return false;
    const std::size_t entries = std::size_t(1) << depth;
    std::vector<std::uint16_t> red(entries), green(entries), blue(entries);
    for (std::size_t i = 0; i < image.palette.size(); ++i) {
        // TIFF colour maps hold 16-bit values: 255 becomes 65535.
        red[i] = std::uint16_t(image.palette[i].red * 257);
        green[i] = std::uint16_t(image.palette[i].green * 257);
        blue[i] = std::uint16_t(image.palette[i].blue * 257);
    }
    const std::size_t rowBytes = (std::size_t(image.width) * std::size_t(depth) + 7) / 8;
    const int perByte = 8 / depth;
    const std::uint8_t mask = std::uint8_t((1 << depth) - 1);
    return writeTiff(out, [&](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(image.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(image.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, depth);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip(rowBytes));
        return TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
               writeRows(tif, image.height, rowBytes, [&](int y, std::uint8_t* dst) {
                   const std::uint8_t* src =
                       image.indices.data() + std::size_t(y) * std::size_t(image.width);
                   if (depth == 8) {
                       std::memcpy(dst, src, rowBytes);
                       return;
                   }
                   std::memset(dst, 0, rowBytes);
                   for (int x = 0; x < image.width; ++x) {
                       const int shift = depth * (perByte - 1 - x % perByte);
                       dst[x / perByte] |= std::uint8_t((src[x] & mask) << shift);
                   }
               });
    });
}

} // namespace quill::imagefiles
