// Fuzzes the metadata carried between formats: Exiv2 reads the input as a source of the format its
// content names (JPEG otherwise), the blocks are patched for an edit and written into a small PNG
// and WebP made here, the AVIF/JPEG XL blocks are built, and the JPEG segments lose their
// location. Nothing may throw out of the wrappers, and a written output must still decode.
#include "imagefiles/format.h"
#include "imagefiles/image_saver.h"
#include "pipeline/jpeg_metadata.h"
#include "pipeline/metadata_carry.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

using namespace quill;
using namespace quill::pipeline;

namespace {

std::vector<std::uint8_t> smallFile(imagefiles::Encoder encoder) {
    toolkit::Image image(8, 6, toolkit::PixelFormat::Bgr24);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 24; ++x)
            image.row(y)[x] = std::uint8_t(x * 9 + y);
    auto bytes = imagefiles::encodeImage(image, encoder, {.quality = 5}, 24);
    if (!bytes) std::abort();
    return *bytes;
}

void writeInto(imagefiles::FormatKind kind, imagefiles::Encoder encoder,
               const std::vector<std::uint8_t>& plain, const CarriedMetadata& carried,
               const CarryEdit& edit) {
    const auto out = embedMetadata(plain, encoder, carried, edit);
    if (out && imagefiles::formatInfo(kind)->decode(*out, {}).empty()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> png = smallFile(imagefiles::Encoder::Png);
    static const std::vector<std::uint8_t> webp = smallFile(imagefiles::Encoder::Webp);
    const std::span<const std::uint8_t> file(data, size);

    const imagefiles::FormatInfo* format =
        imagefiles::formatOfContent(file.first(std::min<std::size_t>(size, 64)));
    const imagefiles::FormatKind kind = format ? format->kind : imagefiles::FormatKind::Jpeg;
    const CarriedMetadata carried = readCarriedMetadata(file, kind);
    const CarryEdit edit{.useExifOrientation = true,
                         .rotationApplied = int(size % 8) - 1,
                         .sizeMayHaveChanged = true,
                         .width = 8,
                         .height = 6,
                         .removeLocation = (size & 1) != 0};
    writeInto(imagefiles::FormatKind::Png, imagefiles::Encoder::Png, png, carried, edit);
    writeInto(imagefiles::FormatKind::Webp, imagefiles::Encoder::Webp, webp, carried, edit);
    (void)blocksForEncoder(carried, edit);

    JpegMetadata metadata;
    if (readMetadata(file, metadata)) {
        (void)loadMetadata(file, metadata);
        removeLocationFromSegments(metadata);
        for (const MetadataSegment& s : metadata.segments)
            if (s.loaded && s.data.size() != s.length) std::abort();
    }
    return 0;
}
