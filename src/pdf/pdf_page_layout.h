// Wrapping a JPEG file into a one-page A4 PDF: the page layout and the file steps around it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/platform/platform.h"

namespace quill::pdf {

/// Where the image goes on the page, in points; a width or height of 0 lets the writer derive
/// that side from the image's aspect ratio.
struct PdfPageLayout {
    bool landscape = false;
    double pageWidth = 0;
    double pageHeight = 0;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

/// The layout for an image of this pixel size on A4 (595.28 x 841.89 points): landscape when the
/// image is wider than high and wider than 595 pixels; an image larger than the page spans its
/// width (centred vertically) or its height (centred horizontally), whichever scales it less;
/// any other image keeps its pixel size in points, centred. Offsets are whole points.
[[nodiscard]] PdfPageLayout pdfPageLayout(int imageWidth, int imageHeight);

/// Result of a wrap, with the values of the image result codes.
enum class PdfWrapResult : int {
    Done = 1,        ///< the PDF is in place at the output path
    WriteFailed = 8, ///< no output remains; the intermediate JPEG is deleted too
};

/// What the wrap needs.
struct PdfWrapRequest {
    int imageWidth = 0;
    int imageHeight = 0;
    std::string jpegPath;   ///< the intermediate JPEG (usually the output path itself)
    std::string outputPath; ///< where the PDF goes
    std::string creator;    ///< the document's creator text
};

/// Outcome of a wrap.
struct PdfWrapOutcome {
    PdfWrapResult result = PdfWrapResult::WriteFailed;
    int pdfError = 0;    ///< the writer's last error
    int systemError = 0; ///< errno of a failed file write or rename (ENOSPC when the disk is full)
};

/// Smallest size of a plausible written document; anything shorter counts as a failed write.
inline constexpr long long kMinPdfFileBytes = 770;

/// Wraps the JPEG file into a PDF laid out by pdfPageLayout and written onto outputPath through
/// a temporary file. Failure (a writer error, a save failure or a document shorter than 770
/// bytes) deletes the JPEG and leaves no PDF; success deletes a JPEG that is not at outputPath.
[[nodiscard]] PdfWrapOutcome wrapJpegAsPdf(const PdfWrapRequest& request);

/// Wraps JPEG bytes held in memory into a PDF committed onto `target` (which may refuse to
/// replace a file, see CommitTarget). `target.path` is the path written in the end.
[[nodiscard]] PdfWrapOutcome wrapJpegBytesAsPdf(std::vector<std::uint8_t> jpeg, int imageWidth,
                                                int imageHeight, const std::string& creator,
                                                platform::CommitTarget& target);

/// The size of the document wrapJpegBytesAsPdf writes for these bytes; 0 when it cannot be made.
[[nodiscard]] std::uint64_t pdfWrapSize(std::vector<std::uint8_t> jpeg, int imageWidth,
                                        int imageHeight, const std::string& creator);

} // namespace quill::pdf
