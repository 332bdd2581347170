// The layout of the one-page PDF that wraps an output JPEG, and the file steps of the wrap.
#include "pdf/pdf_page_layout.h"

#include <cmath>
#include <optional>

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

namespace {

/// Lays the page out, places the image (from memory when `jpeg` holds it, else from the file)
/// and returns the finished document; empty with the errors in `outcome` on failure.
std::vector<std::uint8_t> buildDocument(const std::string& jpegName,
                                        std::optional<std::vector<std::uint8_t>> jpeg,
                                        int imageWidth, int imageHeight, const std::string& creator,
                                        PdfWrapOutcome& outcome) {
    const PdfPageLayout layout = pdfPageLayout(imageWidth, imageHeight);
    PdfWriter writer;
    std::vector<std::uint8_t> document;
    if (writer.createDocument(layout.landscape ? "L" : "P", "pt", "595.28,841.89") &&
        writer.addPage()) {
        if (jpeg)
            (void)writer.placeImageData(jpegName, std::move(*jpeg), layout.x, layout.y,
                                        layout.width, layout.height);
        else
            (void)writer.placeImage(jpegName, layout.x, layout.y, layout.width, layout.height);
        writer.setCreator(creator);
        if (writer.getLastError() == 0) document = writer.finishDocument();
    }
    outcome.pdfError = writer.getLastError();
    if (outcome.pdfError != 0 || (long long)(document.size()) < kMinPdfFileBytes) document.clear();
    return document;
}

PdfWrapOutcome commitDocument(const std::vector<std::uint8_t>& document,
                              platform::CommitTarget& target, PdfWrapOutcome outcome) {
    if (document.empty()) return outcome;
    if (!platform::writeFileAtomically(target, document)) {
        outcome.systemError = platform::lastError();
        outcome.pdfError = std::int32_t(PdfError::CannotCreate);
        return outcome;
    }
    outcome.result = PdfWrapResult::Done;
    return outcome;
}

} // namespace

PdfWrapOutcome wrapJpegAsPdf(const PdfWrapRequest& request) {
    PdfWrapOutcome outcome;
    const auto document = buildDocument(request.jpegPath, std::nullopt, request.imageWidth,
                                        request.imageHeight, request.creator, outcome);
    platform::CommitTarget target{.path = request.outputPath, .mode = platform::Overwrite::Replace};
    outcome = commitDocument(document, target, outcome);
    // A JPEG under the output name was replaced by the document, or is removed after a failure.
    if (request.jpegPath != request.outputPath || outcome.result != PdfWrapResult::Done)
        (void)platform::deleteFile(request.jpegPath);
    return outcome;
}

PdfWrapOutcome wrapJpegBytesAsPdf(std::vector<std::uint8_t> jpeg, int imageWidth, int imageHeight,
                                  const std::string& creator, platform::CommitTarget& target) {
    PdfWrapOutcome outcome;
    const auto document =
        buildDocument(target.path, std::move(jpeg), imageWidth, imageHeight, creator, outcome);
    return commitDocument(document, target, outcome);
}

std::uint64_t pdfWrapSize(std::vector<std::uint8_t> jpeg, int imageWidth, int imageHeight,
                          const std::string& creator) {
    PdfWrapOutcome outcome;
    return buildDocument("page.jpg", std::move(jpeg), imageWidth, imageHeight, creator, outcome)
        .size();
}

} // namespace quill::pdf
