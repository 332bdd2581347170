// JPEG XL through libjxl: decoding from memory without a parallel runner, so that the library
// works on the calling thread, and encoding the same way.
#include "imagefiles/jxl_codec.h"

#include "imagefiles/detail/decode_limits.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <jxl/decode.h>
#include <jxl/encode.h>

namespace quill::imagefiles {

namespace {

/// Largest metadata box accepted (after decompression), so that a small Brotli stream cannot
/// expand without bound.
constexpr std::size_t kMaxBoxBytes = std::size_t(64) << 20;

struct DecoderFree {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
struct EncoderFree {
    void operator()(JxlEncoder* e) const { JxlEncoderDestroy(e); }
};
using DecoderPtr = std::unique_ptr<JxlDecoder, DecoderFree>;

/// A decoder reading all of `bytes`, subscribed to `events`.
DecoderPtr openDecoder(std::span<const std::uint8_t> bytes, int events) {
    if (bytes.empty() || !looksLikeJxl(bytes)) return {};
    DecoderPtr dec(JxlDecoderCreate(nullptr));
    if (!dec) return {};
    if (JxlDecoderSubscribeEvents(dec.get(), events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec.get(), bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
        return {};
    JxlDecoderCloseInput(dec.get());
    return dec;
}

/// Width and height after the orientation: orientations 5..8 swap the sides.
DeclaredSize orientedSize(const JxlBasicInfo& info) {
    if (info.orientation >= JXL_ORIENT_TRANSPOSE) return {info.ysize, info.xsize};
    return {info.xsize, info.ysize};
}

/// Swaps the first and third byte of each pixel: RGB(A) from libjxl to BGR(A), or back.
void swapRedBlue(std::uint8_t* row, int width, int bpp) {
    for (int x = 0; x < width; ++x, row += bpp)
        std::swap(row[0], row[2]);
}

/// Collects one metadata box: the buffer libjxl writes into grows while it asks for more.
struct BoxReader {
    std::vector<std::uint8_t>* target = nullptr;
    std::vector<std::uint8_t> buffer;

    bool start(JxlDecoder* dec, std::vector<std::uint8_t>* into) {
        target = into;
        buffer.assign(65536, 0);
        return JxlDecoderSetBoxBuffer(dec, buffer.data(), buffer.size()) == JXL_DEC_SUCCESS;
    }
    bool grow(JxlDecoder* dec) {
        if (!target) return false;
        const std::size_t left = JxlDecoderReleaseBoxBuffer(dec);
        const std::size_t used = buffer.size() - left;
        if (buffer.size() >= kMaxBoxBytes) return false;
        buffer.resize(std::min(buffer.size() * 2, kMaxBoxBytes));
        return JxlDecoderSetBoxBuffer(dec, buffer.data() + used, buffer.size() - used) ==
               JXL_DEC_SUCCESS;
    }
    void finish(JxlDecoder* dec) {
        if (!target) return;
        const std::size_t left = JxlDecoderReleaseBoxBuffer(dec);
        buffer.resize(buffer.size() - left);
        *target = std::move(buffer);
        target = nullptr;
        buffer = {};
    }
};

/// The TIFF block of an Exif box: its first 4 bytes give the big-endian offset from their end to
/// the TIFF header.
std::vector<std::uint8_t> tiffFromExifBox(const std::vector<std::uint8_t>& box) {
    if (box.size() < 4) return {};
    const std::uint64_t start = 4 + (std::uint64_t(box[0]) << 24 | std::uint64_t(box[1]) << 16 |
                                     std::uint64_t(box[2]) << 8 | std::uint64_t(box[3]));
    if (start + 8 > box.size()) return {};
    const std::uint8_t* p = box.data() + start;
    const bool intel = p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0;
    const bool motorola = p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42;
    if (!intel && !motorola) return {};
    return {box.begin() + std::ptrdiff_t(start), box.end()};
}

} // namespace

bool looksLikeJxl(std::span<const std::uint8_t> head) {
    static constexpr std::uint8_t kContainer[12] = {0,   0,   0,    12,   'J',  'X',
                                                    'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (head.size() >= 2 && head[0] == 0xFF && head[1] == 0x0A) return true;
    return head.size() >= 12 && std::memcmp(head.data(), kContainer, 12) == 0;
}

DeclaredSize jxlDeclaredSize(std::span<const std::uint8_t> bytes) {
    const DecoderPtr dec = openDecoder(bytes, JXL_DEC_BASIC_INFO);
    if (!dec || JxlDecoderProcessInput(dec.get()) != JXL_DEC_BASIC_INFO) return {};
    JxlBasicInfo info;
    if (JxlDecoderGetBasicInfo(dec.get(), &info) != JXL_DEC_SUCCESS) return {};
    return orientedSize(info);
}

toolkit::Image decodeJxl(std::span<const std::uint8_t> bytes, const DecodeRequest& /*request*/) {
    const DecoderPtr dec = openDecoder(bytes, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE);
    if (!dec) return {};
    // Straight alpha, as the images of the program keep it.
    if (JxlDecoderSetUnpremultiplyAlpha(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS) return {};
    toolkit::Image out;
    JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 4};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info;
            if (JxlDecoderGetBasicInfo(dec.get(), &info) != JXL_DEC_SUCCESS) return {};
            const DeclaredSize size = orientedSize(info);
            const bool alpha = info.alpha_bits > 0;
            const auto pixelFormat =
                alpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24;
            if (size.width > 0x7FFFFFFF || size.height > 0x7FFFFFFF ||
                !detail::decodeSizeAllowed(size.width, size.height, pixelFormat))
                return {};
            format.num_channels = alpha ? 4 : 3;
            out = toolkit::Image(int(size.width), int(size.height), pixelFormat);
            if (out.empty()) return {};
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            // Rows padded to 4 bytes are exactly the rows of the output image, so libjxl writes
            // into it directly.
            std::size_t needed = 0;
            if (out.empty() ||
                JxlDecoderImageOutBufferSize(dec.get(), &format, &needed) != JXL_DEC_SUCCESS ||
                needed > out.sizeInBytes() ||
                JxlDecoderSetImageOutBuffer(dec.get(), &format, out.data(), needed) !=
                    JXL_DEC_SUCCESS)
                return {};
        } else if (status == JXL_DEC_FULL_IMAGE) {
            // The first frame of an animation is the picture; the rest is not decoded.
            break;
        } else {
            // JXL_DEC_SUCCESS before a frame, JXL_DEC_ERROR, or input that ends early.
            return {};
        }
    }
    for (int y = 0; y < out.height(); ++y)
        swapRedBlue(out.row(y), out.width(), out.bytesPerPixel());
    return out;
}

FileMetadata readJxlMetadata(std::span<const std::uint8_t> bytes) {
    FileMetadata meta;
    const DecoderPtr dec = openDecoder(bytes, JXL_DEC_COLOR_ENCODING | JXL_DEC_BOX);
    if (!dec) return meta;
    if (JxlDecoderSetDecompressBoxes(dec.get(), JXL_TRUE) != JXL_DEC_SUCCESS) return meta;
    BoxReader box;
    std::vector<std::uint8_t> exifBox;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_COLOR_ENCODING) {
            std::size_t size = 0;
            if (JxlDecoderGetICCProfileSize(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                            &size) == JXL_DEC_SUCCESS &&
                size > 0 && size <= kMaxBoxBytes) {
                meta.icc.resize(size);
                if (JxlDecoderGetColorAsICCProfile(dec.get(), nullptr,
                                                   JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                                   meta.icc.data(), size) != JXL_DEC_SUCCESS)
                    meta.icc.clear();
            }
        } else if (status == JXL_DEC_BOX) {
            box.finish(dec.get());
            JxlBoxType type;
            if (JxlDecoderGetBoxType(dec.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) break;
            if (std::memcmp(type, "Exif", 4) == 0 && exifBox.empty()) {
                if (!box.start(dec.get(), &exifBox)) break;
            } else if (std::memcmp(type, "xml ", 4) == 0 && meta.xmp.empty()) {
                if (!box.start(dec.get(), &meta.xmp)) break;
            }
        } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
            if (!box.grow(dec.get())) break;
        } else if (status == JXL_DEC_SUCCESS) {
            box.finish(dec.get());
            break;
        } else {
            // An error or a file that ends early: what was read whole is kept.
            break;
        }
    }
    meta.exif = tiffFromExifBox(exifBox);
    return meta;
}

std::uint64_t jxlDecodeWorkBytes(std::int64_t width, std::int64_t height) {
    const std::uint64_t pixels = std::uint64_t(std::max<std::int64_t>(width, 0)) *
                                 std::uint64_t(std::max<std::int64_t>(height, 0));
    // libjxl decodes group by group: a 12-megapixel photo peaks at about 4 bytes a pixel besides
    // the output; three times that covers frames kept whole (modular images, animations).
    return pixels * 12 + (std::uint64_t(32) << 20);
}

std::vector<std::uint8_t> readJxlPixelProfile(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint8_t> icc;
    const DecoderPtr dec = openDecoder(bytes, JXL_DEC_COLOR_ENCODING);
    if (!dec || JxlDecoderProcessInput(dec.get()) != JXL_DEC_COLOR_ENCODING) return icc;
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &encoding) == JXL_DEC_SUCCESS &&
        encoding.color_space == JXL_COLOR_SPACE_RGB &&
        encoding.white_point == JXL_WHITE_POINT_D65 && encoding.primaries == JXL_PRIMARIES_SRGB &&
        encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB)
        return icc;
    std::size_t size = 0;
    if (JxlDecoderGetICCProfileSize(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > kMaxBoxBytes)
        return icc;
    icc.resize(size);
    if (JxlDecoderGetColorAsICCProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       icc.data(), size) != JXL_DEC_SUCCESS)
        icc.clear();
    return icc;
}

bool encodeJxl(const toolkit::ImageView& image, int quality, std::vector<std::uint8_t>& out) {
    return encodeJxlCarrying(image, quality, {}, nullptr, out);
}

bool encodeJxlWithProfile(const toolkit::ImageView& image, int quality,
                          std::span<const std::uint8_t> icc, std::vector<std::uint8_t>& out) {
    return encodeJxlCarrying(image, quality, icc, nullptr, out);
}

bool encodeJxlCarrying(const toolkit::ImageView& image, int quality,
                       std::span<const std::uint8_t> icc, const FileMetadata* embed,
                       std::vector<std::uint8_t>& out) {
    const int q = std::clamp(quality, 0, 10);
    return encodeJxlAtDistance(image, q == 10 ? 0.0f : kJxlDistanceForQuality[q], icc, embed, out);
}

bool encodeJxlAtDistance(const toolkit::ImageView& image, float distance,
                         std::span<const std::uint8_t> icc, const FileMetadata* embed,
                         std::vector<std::uint8_t>& out) {
    if (!image.data || image.width <= 0 || image.height <= 0) return false;
    const bool alpha = image.format == toolkit::PixelFormat::Bgra32;
    const int bpp = toolkit::bytesPerPixel(image.format);
    const bool lossless = distance <= 0.0f;

    std::unique_ptr<JxlEncoder, EncoderFree> enc(JxlEncoderCreate(nullptr));
    if (!enc) return false;
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(image.width);
    info.ysize = std::uint32_t(image.height);
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.num_extra_channels = alpha ? 1 : 0;
    info.alpha_bits = alpha ? 8 : 0;
    // Lossless keeps the samples as they are; lossy works in the XYB space.
    info.uses_original_profile = lossless || !icc.empty() ? JXL_TRUE : JXL_FALSE;
    if (JxlEncoderSetBasicInfo(enc.get(), &info) != JXL_ENC_SUCCESS) return false;
    if (alpha) {
        JxlExtraChannelInfo extra;
        JxlEncoderInitExtraChannelInfo(JXL_CHANNEL_ALPHA, &extra);
        extra.bits_per_sample = 8;
        if (JxlEncoderSetExtraChannelInfo(enc.get(), 0, &extra) != JXL_ENC_SUCCESS) return false;
    }
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    if (!icc.empty()) {
        if (JxlEncoderSetICCProfile(enc.get(), icc.data(), icc.size()) != JXL_ENC_SUCCESS)
            return false;
    } else if (JxlEncoderSetColorEncoding(enc.get(), &colour) != JXL_ENC_SUCCESS) {
        return false;
    }

    // EXIF ("Exif": a 4-byte offset to the TIFF header, 0 here, then the TIFF structure) and XMP
    // ("xml ") boxes, ahead of the codestream so that readers find them first.
    if (embed != nullptr && (!embed->exif.empty() || !embed->xmp.empty())) {
        if (JxlEncoderUseBoxes(enc.get()) != JXL_ENC_SUCCESS) return false;
        if (!embed->exif.empty()) {
            std::vector<std::uint8_t> box(4, 0);
            box.insert(box.end(), embed->exif.begin(), embed->exif.end());
            if (JxlEncoderAddBox(enc.get(), "Exif", box.data(), box.size(), JXL_FALSE) !=
                JXL_ENC_SUCCESS)
                return false;
        }
        if (!embed->xmp.empty() &&
            JxlEncoderAddBox(enc.get(), "xml ", embed->xmp.data(), embed->xmp.size(), JXL_FALSE) !=
                JXL_ENC_SUCCESS)
            return false;
        JxlEncoderCloseBoxes(enc.get());
    }

    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc.get(), nullptr);
    if (!settings) return false;
    // On one thread a 12-megapixel photo takes about 2.5 s at lossy effort 5 (17% smaller than
    // effort 3 or 4 at 0.8 s; effort 7 takes 7.5 s for no gain) and 1.5 s at lossless effort 2.
    if (JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT,
                                         lossless ? 2 : 5) != JXL_ENC_SUCCESS)
        return false;
    if (lossless) {
        if (JxlEncoderSetFrameLossless(settings, JXL_TRUE) != JXL_ENC_SUCCESS) return false;
    } else if (JxlEncoderSetFrameDistance(settings, std::min(distance, 25.0f)) != JXL_ENC_SUCCESS) {
        return false;
    }

    // libjxl takes RGB(A) rows without padding.
    const std::size_t rowBytes = std::size_t(image.width) * std::size_t(bpp);
    std::vector<std::uint8_t> pixels;
    try {
        pixels.resize(rowBytes * std::size_t(image.height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = pixels.data() + rowBytes * std::size_t(y);
        std::memcpy(row, image.row(y), rowBytes);
        swapRedBlue(row, image.width, bpp);
    }
    const JxlPixelFormat format{std::uint32_t(bpp), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()) != JXL_ENC_SUCCESS)
        return false;
    JxlEncoderCloseInput(enc.get());
    pixels = {};

    const std::size_t start = out.size();
    std::size_t used = 0;
    out.resize(start + 65536);
    for (;;) {
        std::uint8_t* next = out.data() + start + used;
        std::size_t avail = out.size() - start - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc.get(), &next, &avail);
        used = std::size_t(next - (out.data() + start));
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) {
            out.resize(start);
            return false;
        }
        out.resize(out.size() * 2);
    }
    out.resize(start + used);
    return true;
}

std::uint64_t jxlEncodeWorkBytes(std::int64_t width, std::int64_t height) {
    const std::uint64_t pixels = std::uint64_t(std::max<std::int64_t>(width, 0)) *
                                 std::uint64_t(std::max<std::int64_t>(height, 0));
    // Measured on a 12-megapixel photo: about 42 bytes a pixel at the lossy settings and 65 for
    // lossless (the packed RGB(A) copy, the encoder's float planes and its coding buffers).
    return pixels * 80 + (std::uint64_t(64) << 20);
}

} // namespace quill::imagefiles
