// Fuzzes the PDF writer's JPEG header reading and the placement of the image on a page.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pdf/jpeg_frame.h"
#include "pdf/pdf_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    quill::pdf::JpegFrame frame;
    (void)quill::pdf::readJpegFrame(bytes, frame);

    quill::pdf::PdfWriter writer;
    if (!writer.createDocument("P", "pt", "595.28,841.89") || !writer.addPage()) return 0;
    (void)writer.placeImageData("fuzz.jpg", bytes, 10, 10, 0, 0);
    (void)writer.placeImageData("fuzz.jpg", {}, 0, 0, 100, 0);
    (void)writer.finishDocument();
    return 0;
}
