// The PDF writer: builds a small document in memory (pages with JPEG images) and writes it in
// one piece.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <quill_version.h>

#include "pdf/jpeg_frame.h"
#include "pdf/pdf_error.h"

namespace quill::pdf {

/// Producer text of every document.
inline constexpr std::string_view kPdfProducer = "Quillmere " QUILL_VERSION_STRING;

/// One document at a time: createDocument, addPage, placeImage, setCreator, saveDocument.
/// Errors are recorded for getLastError; a failed placement leaves the document valid.
class PdfWriter {
public:
    /// Lifecycle of the document.
    enum class State : std::int32_t { NoDocument = 0, Begun = 1, InPage = 2, Closed = 3 };

    PdfWriter() = default;

    /// Begins a document, discarding any previous one and resetting the last error.
    /// `orientation` "P", "L" or "LANDSCAPE" (any case); `unit` "pt", "mm", "cm" or "in";
    /// `format` two numbers in points separated by a comma, such as "595.28,841.89".
    /// False (and no document) when an argument is not understood.
    [[nodiscard]] bool createDocument(std::string_view orientation, std::string_view unit,
                                      std::string_view format);
    /// Starts a new page; empty arguments select the document's orientation and format.
    [[nodiscard]] bool addPage(std::string_view orientation = {}, std::string_view format = {});
    /// Size of the current page (else of the document) in user units, after orientation.
    [[nodiscard]] double getPageWidth() const;
    [[nodiscard]] double getPageHeight() const;

    /// Places the JPEG file `fileName` with its top-left corner at (x, y) from the page's
    /// top-left corner, in user units. A width or height of 0 derives that side from the image's
    /// aspect ratio; both 0 use its pixel size. The same file is embedded once however often it
    /// is placed. False, with the last error set, when the image cannot be placed.
    bool placeImage(const std::string& fileName, double x, double y, double width, double height);
    /// placeImage with the file's bytes already in memory; `name` identifies the image.
    bool placeImageData(const std::string& name, std::vector<std::uint8_t> bytes, double x,
                        double y, double width, double height);

    /// Sets the creator text of the information dictionary.
    void setCreator(std::string text);

    /// Closes the document and writes it to `fileName` (through a temporary file renamed at the
    /// end, replacing an existing file only when complete). False with the last error
    /// InvalidFileName or CannotCreate (systemError() then holds the errno); the document is
    /// closed either way.
    [[nodiscard]] bool saveDocument(const std::string& fileName);
    /// Closes the document and returns the finished file's bytes (empty without a document).
    [[nodiscard]] std::vector<std::uint8_t> finishDocument();

    /// The last error as its numeric code (0 when none).
    [[nodiscard]] std::int32_t getLastError() const { return std::int32_t(m_lastError); }
    [[nodiscard]] PdfError lastError() const { return m_lastError; }
    /// The errno of the failed file creation or write behind CannotCreate (0 otherwise).
    [[nodiscard]] int systemError() const { return m_systemError; }
    [[nodiscard]] State state() const { return m_state; }

private:
    struct ImageEntry {
        std::string name;
        int number = 0; // position in m_images, from 1
        int objectNumber = 0;
        JpegFrame frame;
        std::vector<std::uint8_t> bytes;
    };
    struct Page {
        double width = 0; // user units
        double height = 0;
        std::string content;
    };

    void out(std::string_view line);
    void newObject();
    void putPages();
    void putImages();
    void putResources();
    void putInfo();
    void putCatalog();
    void close();
    void reset();

    State m_state = State::NoDocument;
    double m_scaleFactor = 1;
    double m_defaultWidth = 0; // user units, after the document's orientation
    double m_defaultHeight = 0;
    double m_pageWidth = 0;
    double m_pageHeight = 0;
    int m_objectCount = 2;
    std::vector<std::size_t> m_objectOffsets;
    std::vector<Page> m_pages;
    std::vector<ImageEntry> m_images;
    std::string m_buffer;
    std::string m_creator;
    PdfError m_lastError = PdfError::None;
    int m_systemError = 0;
};

/// A real number with exactly two decimals and a point, as the document writes numbers.
[[nodiscard]] std::string formatPdfNumber(double value);

} // namespace quill::pdf
