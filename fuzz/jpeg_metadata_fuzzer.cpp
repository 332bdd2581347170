// Fuzzes the JPEG segment scan, the EXIF block lookup and the EXIF tag walk in both modes, plus
// the in-memory rewrites that take their positions from the same scan. The rewrites are read
// again: a file without its segments lists none and is no longer than before, and a comment put
// in twice gives the same bytes as once (it replaces, never piles up).
#include "pipeline/exif.h"
#include "pipeline/jpeg_metadata.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

using namespace quill::pipeline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    JpegMetadata metadata;
    if (!readMetadata(file, metadata)) return 0;
    (void)loadMetadata(file, metadata);

    ExifView view;
    if (openExif(metadata, view)) {
        view.mode = ExifMode::Read;
        view.tags = ExifOrientation | ExifDateTaken | ExifPixelWidth | ExifPixelHeight;
        walkExif(view);

        view.mode = ExifMode::Write;
        view.tags = ExifOrientation | ExifDateTaken | ExifPixelWidth | ExifPixelHeight;
        view.orientation = newOrientation(view.orientation, int(size % 7));
        view.width = int(size);
        view.height = 0x12345;
        view.date = 4102444799;
        walkExif(view);
        (void)storeExif(metadata, view);
    }

    if (const auto stripped = withoutSegments(file, metadata)) {
        JpegMetadata again;
        if (stripped->size() > file.size()) std::abort();
        if (readMetadata(*stripped, again) && !metadata.segments.empty() &&
            !again.segments.empty() && again.segments.size() >= metadata.segments.size())
            std::abort();
    }
    if (const auto once = withComment(file, "comment")) {
        const auto twice = withComment(*once, "comment");
        if (!twice || *twice != *once) std::abort();
    }
    setComment(metadata, "abc");
    (void)insertSegments(file, metadata);
    return 0;
}
