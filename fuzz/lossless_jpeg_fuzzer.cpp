// Fuzzes the lossless JPEG transform with every turn and with crop margins taken from the input,
// and the orientation readers of TIFF structures and PNG eXIf chunks. A transform that succeeds
// must give a file that starts as the metadata carry-over expects and has the size it reports;
// the readers must stay inside the bytes and give only orientations 0..8.
#include "pipeline/exif.h"
#include "pipeline/lossless_jpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

using namespace quill::pipeline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::span<const std::uint8_t> bytes(data + 2, size - 2);
    const std::int32_t tiff = tiffOrientation(bytes);
    const std::span<const std::uint8_t> block = pngExifBlock(bytes);
    const std::int32_t png = tiffOrientation(block);
    if (tiff < 0 || tiff > 8 || png < 0 || png > 8) std::abort();
    if (!block.empty() &&
        (block.data() < bytes.data() || block.data() + block.size() > bytes.data() + bytes.size()))
        std::abort();

    // First byte: the turn (8 = none); second byte: margins in MCU steps and odd pixels.
    LosslessJpegEdit edit;
    if (data[0] % 8 < 7) edit.turn = RotateMode(data[0] % 8);
    const int step = (data[1] & 0x80) ? 1 : 16;
    edit.margins = {.left = (data[1] & 3) * step,
                    .top = ((data[1] >> 2) & 3) * step,
                    .right = (data[1] >> 4) & 1,
                    .bottom = (data[1] >> 5) & 3};
    if (const auto made = transformJpegLosslessly(bytes, edit)) {
        if (made->bytes.size() < 21 || made->bytes[0] != 0xFF || made->bytes[1] != 0xD8 ||
            made->bytes[3] != 0xE0 || made->width < 1 || made->height < 1)
            std::abort();
    }
    return 0;
}
