// Fuzz target: our glue around every decoder, through the loader as a run uses it. The input is
// the file. It is taken for the format its first bytes name where the table recognises one, as a
// file with the right extension would be; otherwise for a format chosen by its length, as a file
// with a wrong extension would be. The loader runs at full size and reduced, and the size reader
// and the decode estimate read the same file, as preparation does.
#include "imagefiles/format.h"
#include "imagefiles/image_loader.h"
#include "memory_file.h"

#include <cstddef>
#include <cstdint>
#include <span>

using namespace quill;
using imagefiles::FormatKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static constexpr FormatKind kKinds[] = {
        FormatKind::Jpeg, FormatKind::Png,      FormatKind::Bmp,      FormatKind::Tga,
        FormatKind::Tiff, FormatKind::Gif,      FormatKind::Pcx,      FormatKind::Pnm,
        FormatKind::Ico,  FormatKind::Jpeg2000, FormatKind::Webp,     FormatKind::Avif,
        FormatKind::Heif, FormatKind::JpegXl,   FormatKind::CameraRaw};
    const std::span<const std::uint8_t> bytes(data, size);
    const imagefiles::FormatInfo* named = imagefiles::formatOfContent(bytes);
    const FormatKind kind = named ? named->kind : kKinds[size % std::size(kKinds)];
    const fuzz::MemoryFile file(bytes);
    const std::string path = file.path();
    if (path.empty()) return 0;
    (void)imagefiles::estimateDecode(path);
    imagefiles::ImageRect rect;
    (void)imagefiles::readImageSize(path, rect);
    (void)imagefiles::loadImageFile(path, kind);
    (void)imagefiles::loadImageFileReduced(path, kind, 2 << (size % 3));
    return 0;
}
