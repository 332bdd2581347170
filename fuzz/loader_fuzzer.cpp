// Fuzz target: our glue around every decoder, through the loader as a run uses it. The first byte
// picks the format the file is taken for (as its extension would); the rest is the file. The
// loader is driven at full size and reduced, and the size reader and the decode estimate read
// the same file, as preparation does.
#include "imagefiles/format.h"
#include "imagefiles/image_loader.h"
#include "memory_file.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace quill;
using imagefiles::FormatKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static constexpr FormatKind kKinds[] = {
        FormatKind::Jpeg, FormatKind::Png,      FormatKind::Bmp,      FormatKind::Tga,
        FormatKind::Tiff, FormatKind::Gif,      FormatKind::Pcx,      FormatKind::Pnm,
        FormatKind::Ico,  FormatKind::Jpeg2000, FormatKind::Webp,     FormatKind::Avif,
        FormatKind::Heif, FormatKind::JpegXl,   FormatKind::CameraRaw};
    const FormatKind kind = kKinds[data[0] % std::size(kKinds)];
    const fuzz::MemoryFile file(std::span<const std::uint8_t>(data + 1, size - 1));
    const std::string path = file.path();
    if (path.empty()) return 0;
    (void)imagefiles::estimateDecode(path);
    imagefiles::ImageRect rect;
    (void)imagefiles::readImageSize(path, rect);
    (void)imagefiles::loadImageFile(path, kind);
    (void)imagefiles::loadImageFileReduced(path, kind, 2 << (data[0] / 32 % 3));
    return 0;
}
