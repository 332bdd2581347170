// The layout of the one-page PDF that wraps an output JPEG, and the file steps of the wrap.
#include "pdf/pdf_page_layout.h"

#include <cmath>

#include "pdf/pdf_writer.h"
#include "toolkit/platform/platform.h"

namespace quill::pdf {

namespace {

constexpr double kA4Width = 595.28;
constexpr double kA4Height = 841.89;
constexpr int kLandscapeMinWidth = 595;

} // namespace

PdfPageLayout pdfPageLayout(int imageWidth, int imageHeight) {
    PdfPageLayout layout;
    layout.landscape = imageWidth > imageHeight && imageWidth > kLandscapeMinWidth;
    layout.pageWidth = layout.landscape ? kA4Height : kA4Width;
    layout.pageHeight = layout.landscape ? kA4Width : kA4Height;
    if (imageWidth <= 0 || imageHeight <= 0) return layout;
    const double w = imageWidth;
    const double h = imageHeight;
    const double sx = layout.pageWidth / w;
    const double sy = layout.pageHeight / h;
    // Equal scale factors take the first rule, so an image larger than the page with exactly the
    // page's proportions is still fitted instead of overflowing it.
    if (sx <= sy && w > std::round(layout.pageWidth)) {
        layout.x = 0;
        layout.y = std::trunc((layout.pageHeight - h * sx) / 2);
        layout.width = layout.pageWidth;
        layout.height = 0;
    } else if (sy < sx && h > std::round(layout.pageHeight)) {
        layout.x = std::trunc((layout.pageWidth - w * sy) / 2);
        layout.y = 0;
        layout.width = 0;
        layout.height = layout.pageHeight;
    } else {
        layout.x = std::trunc((layout.pageWidth - w) / 2);
        layout.y = std::trunc((layout.pageHeight - h) / 2);
    }
    return layout;
}

PdfWrapOutcome wrapJpegAsPdf(const PdfWrapRequest &request) {
    PdfWrapOutcome outcome;
    const std::string tempPath = request.outputPath + "_temp";
    const PdfPageLayout layout = pdfPageLayout(request.imageWidth, request.imageHeight);
    PdfWriter writer;
    bool ok = writer.createDocument(layout.landscape ? "L" : "P", "pt", "595.28,841.89") &&
              writer.addPage();
    if (ok) {
        (void)writer.placeImage(request.jpegPath, layout.x, layout.y, layout.width, layout.height);
        writer.setCreator(request.creator);
        ok = writer.saveDocument(tempPath);
    }
    outcome.pdfError = writer.getLastError();
    outcome.systemError = writer.systemError();
    if (ok && outcome.pdfError == 0) {
        const auto info = platform::fileInfo(tempPath);
        ok = info && (long long)(info->size) >= kMinPdfFileBytes;
    } else {
        ok = false;
    }
    if (ok) {
        // The rename replaces the intermediate JPEG when it lies at the output path.
        if (request.jpegPath != request.outputPath) (void)platform::deleteFile(request.jpegPath);
        if (platform::moveFile(tempPath, request.outputPath, platform::Overwrite::Replace)) {
            outcome.result = PdfWrapResult::Done;
            return outcome;
        }
        outcome.systemError = platform::lastError();
    }
    (void)platform::deleteFile(request.jpegPath);
    if (platform::fileExists(tempPath)) (void)platform::deleteFile(tempPath);
    outcome.result = PdfWrapResult::WriteFailed;
    return outcome;
}

} // namespace quill::pdf
