// Reading the baseline frame of a JFIF file for the PDF writer. Only the marker segments are
// walked; the entropy-coded data is never looked at, because the file is embedded unchanged.
#include "pdf/jpeg_frame.h"

#include <array>
#include <cstring>

#include "toolkit/bytes.h"

namespace quill::pdf {

namespace {

constexpr std::array<std::uint8_t, 4> kJfifStart{0xFF, 0xD8, 0xFF, 0xE0};
constexpr std::array<std::uint8_t, 8> kPngSignature{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kBaselineFrame = 0xC0;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kEndOfImage = 0xD9;
// A marker segment is walked only while this many bytes remain, enough for a whole frame header.
constexpr std::size_t kMinSegmentBytes = 10;

} // namespace

PdfError readJpegFrame(std::span<const std::uint8_t> bytes, JpegFrame& frame) {
    frame = {};
    if (bytes.size() < kJfifStart.size() ||
        std::memcmp(bytes.data(), kJfifStart.data(), kJfifStart.size()) != 0) {
        if (bytes.size() >= kPngSignature.size() &&
            std::memcmp(bytes.data(), kPngSignature.data(), kPngSignature.size()) == 0) {
            // The chunk after the signature must be IHDR; PNG images are not placed by this
            // writer either way.
            const bool hasHeader =
                bytes.size() >= 16 && std::memcmp(bytes.data() + 12, "IHDR", 4) == 0;
            return hasHeader ? PdfError::UnsupportedImage : PdfError::PngWithoutHeader;
        }
        return PdfError::UnsupportedImage;
    }
    // Skip the JFIF segment by its length, which counts its own two bytes.
    std::size_t pos = 4;
    if (bytes.size() < pos + 2) return PdfError::NoBaselineFrame;
    pos += toolkit::loadU16be(&bytes[pos]);
    while (pos < bytes.size() && bytes.size() - pos >= kMinSegmentBytes) {
        if (bytes[pos] != 0xFF) return PdfError::BadMarker;
        const std::uint8_t marker = bytes[pos + 1];
        if (marker == kBaselineFrame) {
            frame.bitsPerComponent = bytes[pos + 4];
            frame.height = int(toolkit::loadU16be(&bytes[pos + 5]));
            frame.width = int(toolkit::loadU16be(&bytes[pos + 7]));
            frame.components = bytes[pos + 9];
            frame.colorSpace = frame.components == 1   ? "DeviceGray"
                               : frame.components == 3 ? "DeviceRGB"
                                                       : "DeviceCMYK";
            // A zero size would make the placement divide by zero and the page unreadable.
            if (frame.width == 0 || frame.height == 0) return PdfError::NoBaselineFrame;
            return PdfError::None;
        }
        // Entropy-coded data follows a start of scan, and nothing follows the end of image: a
        // file without a baseline frame before them (progressive or extended) is refused here
        // instead of walking into the scan data.
        if (marker == kStartOfScan || marker == kEndOfImage) return PdfError::NoBaselineFrame;
        pos += std::size_t(toolkit::loadU16be(&bytes[pos + 2])) + 2;
    }
    return PdfError::NoBaselineFrame;
}

} // namespace quill::pdf
