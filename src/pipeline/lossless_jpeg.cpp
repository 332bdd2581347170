// Turning, mirroring and cropping a JPEG in its DCT coefficients with libturbojpeg.
#include "pipeline/lossless_jpeg.h"

#include "pipeline/run_plan.h"
#include "settings/preset.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace quill::pipeline {
namespace {

/// The margins of a picture after `turn`, for margins cut off it before the turn.
CropMargins turnedMargins(const CropMargins& m, RotateMode turn) {
    switch (turn) {
    case RotateMode::CounterClockwise90:
        return {.left = m.top, .top = m.right, .right = m.bottom, .bottom = m.left};
    case RotateMode::Clockwise90:
        return {.left = m.bottom, .top = m.left, .right = m.top, .bottom = m.right};
    case RotateMode::Rotate180:
        return {.left = m.right, .top = m.bottom, .right = m.left, .bottom = m.top};
    case RotateMode::MirrorLeftRight:
        return {.left = m.right, .top = m.top, .right = m.left, .bottom = m.bottom};
    case RotateMode::MirrorTopBottom:
        return {.left = m.left, .top = m.bottom, .right = m.right, .bottom = m.top};
    case RotateMode::Transpose:
        return {.left = m.top, .top = m.left, .right = m.bottom, .bottom = m.right};
    case RotateMode::Transverse:
        return {.left = m.bottom, .top = m.right, .right = m.top, .bottom = m.left};
    case RotateMode::Upright:
        break;
    }
    return m;
}

/// libturbojpeg's operation for a turn.
int transformOf(std::optional<RotateMode> turn) {
    if (!turn) return TJXOP_NONE;
    switch (*turn) {
    case RotateMode::CounterClockwise90:
        return TJXOP_ROT270;
    case RotateMode::Clockwise90:
        return TJXOP_ROT90;
    case RotateMode::Rotate180:
        return TJXOP_ROT180;
    case RotateMode::MirrorLeftRight:
        return TJXOP_HFLIP;
    case RotateMode::MirrorTopBottom:
        return TJXOP_VFLIP;
    case RotateMode::Transpose:
        return TJXOP_TRANSPOSE;
    case RotateMode::Transverse:
        return TJXOP_TRANSVERSE;
    case RotateMode::Upright:
        break;
    }
    return -1;
}

struct HandleCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct BufferFree {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

struct Header {
    int width = 0;
    int height = 0;
    int subsampling = -1;
    int colourSpace = -1;
};

std::optional<Header> readHeader(void* handle, const unsigned char* bytes, unsigned long size) {
    Header h;
    if (tjDecompressHeader3(handle, bytes, size, &h.width, &h.height, &h.subsampling,
                            &h.colourSpace) != 0)
        return std::nullopt;
    return h;
}

/// SOI and a JFIF APP0 segment of 16 bytes, then the next marker: what the carry-over expects.
bool startsLikeOurEncoder(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kStart[6] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    static constexpr std::uint8_t kJfif[5] = {'J', 'F', 'I', 'F', 0};
    return bytes.size() > 20 && std::memcmp(bytes.data(), kStart, 6) == 0 &&
           std::memcmp(bytes.data() + 6, kJfif, 5) == 0 && bytes[20] == 0xFF;
}

} // namespace

std::optional<LosslessJpegEdit> losslessJpegPlan(const RunPlan& plan, imagefiles::FormatKind kind,
                                                 std::int32_t orientation) {
    if (kind != imagefiles::FormatKind::Jpeg) return std::nullopt;
    const settings::Preset& s = plan.settings;
    const FormatPlan format = plan.formatFor(kind);
    if (!format.jpegToJpeg || format.pdf || format.encoder != imagefiles::Encoder::Jpeg ||
        format.depthOptionApplies || !format.decodeNeeded)
        return std::nullopt;
    // A chosen quality or a size limit asks for the picture to be encoded anew; a colour
    // conversion changes it.
    if (s.qualityEnabled || s.convertToSrgb || format.sizeLimited) return std::nullopt;
    const EditPlan& edit = plan.edit;
    if (edit.scale || edit.toneChain || !edit.tones.empty() || edit.offsets || edit.canvas ||
        edit.overlay)
        return std::nullopt;
    LosslessJpegEdit lossless;
    if (edit.crop) {
        const auto* margins = std::get_if<CropMargins>(&*edit.crop);
        if (!margins) return std::nullopt; // a trim depends on the pixels
        lossless.margins = *margins;
    }
    if (!edit.crop && !edit.rotate) return std::nullopt;
    lossless.turn = turnFor(edit, orientation);
    if (lossless.turn && int(*lossless.turn) > int(RotateMode::Transverse)) return std::nullopt;
    // The chain crops before it turns, except for an upright turn.
    if (lossless.turn && !turnsFirst(edit))
        lossless.margins = turnedMargins(lossless.margins, *lossless.turn);
    return lossless;
}

std::optional<LosslessJpeg> transformJpegLosslessly(std::span<const std::uint8_t> jpeg,
                                                    const LosslessJpegEdit& edit) {
    if (jpeg.empty()) return std::nullopt;
    const int operation = transformOf(edit.turn);
    const CropMargins& m = edit.margins;
    if (operation < 0 || m.left < 0 || m.top < 0 || m.right < 0 || m.bottom < 0)
        return std::nullopt;
    const Handle handle(tjInitTransform());
    if (!handle) return std::nullopt;
    const auto* source = reinterpret_cast<const unsigned char*>(jpeg.data());
    const auto header = readHeader(handle.get(), source, static_cast<unsigned long>(jpeg.size()));
    // CMYK and YCCK files carry an Adobe segment instead of the JFIF one; an unknown
    // subsampling has no MCU size to check the crop against.
    if (!header || header->subsampling < 0 || header->subsampling >= TJ_NUMSAMP ||
        header->colourSpace == TJCS_CMYK || header->colourSpace == TJCS_YCCK)
        return std::nullopt;

    const bool swaps = edit.turn && sidesSwap(*edit.turn);
    const int turnedWidth = swaps ? header->height : header->width;
    const int turnedHeight = swaps ? header->width : header->height;
    const long long width = (long long)turnedWidth - m.left - m.right;
    const long long height = (long long)turnedHeight - m.top - m.bottom;
    if (width <= 0 || height <= 0) return std::nullopt;

    tjtransform transform{};
    transform.op = operation;
    transform.options = TJXOPT_PERFECT | TJXOPT_COPYNONE;
    if (m.left || m.top || m.right || m.bottom) {
        // The left and top edges must fall on MCU boundaries of the source and of the turned
        // picture alike (libturbojpeg checks the one, libjpeg would round to the other).
        const int mcuWidth = tjMCUWidth[header->subsampling];
        const int mcuHeight = tjMCUHeight[header->subsampling];
        const int acrossStep = std::max(mcuWidth, swaps ? mcuHeight : mcuWidth);
        const int downStep = std::max(mcuHeight, swaps ? mcuWidth : mcuHeight);
        if (m.left % acrossStep != 0 || m.top % downStep != 0) return std::nullopt;
        transform.options |= TJXOPT_CROP;
        transform.r = {m.left, m.top, int(width), int(height)};
    }

    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    // A damaged file is left to the decoder, which does what it always did with it; the scan
    // limit keeps a hostile progressive file from taking unbounded time.
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
    const int result = tjTransform(handle.get(), source, static_cast<unsigned long>(jpeg.size()), 1,
                                   &output, &outputSize, &transform, flags);
    const std::unique_ptr<unsigned char, BufferFree> owned(output);
    if (result != 0 || !output || outputSize == 0) return std::nullopt;

    LosslessJpeg out;
    const std::span<const std::uint8_t> written(output, outputSize);
    if (!startsLikeOurEncoder(written)) return std::nullopt;
    // The result must be the whole edited picture: never one cut down to whole blocks.
    const auto made = readHeader(handle.get(), output, outputSize);
    if (!made || made->width != width || made->height != height) return std::nullopt;
    out.bytes.assign(written.begin(), written.end());
    out.width = int(width);
    out.height = int(height);
    return out;
}

std::uint64_t losslessJpegWorkBytes(std::int64_t width, std::int64_t height,
                                    std::uint64_t fileBytes) {
    // The file, libturbojpeg's output buffer (grown by doubling) and the copy taken of it.
    if (width <= 0 || height <= 0) return 4 * fileBytes;
    // Sides padded to whole MCUs; two arrays of up to four components of 2-byte coefficients.
    const std::uint64_t padded = std::uint64_t(width + 32) * std::uint64_t(height + 32);
    return 4 * fileBytes + 2 * 4 * 2 * padded;
}

} // namespace quill::pipeline
