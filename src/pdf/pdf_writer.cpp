// The PDF writer: collects the whole file in a buffer while the document is built and closed,
// then writes it through a PendingFile. Every line ends with a single line feed; numbers are
// written with two decimals.
#include "pdf/pdf_writer.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <optional>

#include "toolkit/ascii.h"
#include "toolkit/platform/platform.h"

namespace quill::pdf {

namespace {

constexpr std::size_t kReservedBytes = 63999;
constexpr double kLineWidthPoints = 0.567;
#ifdef QUILL_FUZZING
constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t(1) << 20;
#else
constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t(1) << 30;
#endif

// "P"/"PORTRAIT" -> false, "L"/"LANDSCAPE" -> true, else nullopt.
std::optional<bool> parseLandscape(std::string_view orientation) {
    const std::string o = toolkit::upperAscii(orientation);
    if (o == "P" || o == "PORTRAIT") return false;
    if (o == "L" || o == "LANDSCAPE") return true;
    return std::nullopt;
}

std::optional<double> parseScaleFactor(std::string_view unit) {
    if (unit == "pt") return 1.0;
    if (unit == "mm") return 72.0 / 25.4;
    if (unit == "cm") return 72.0 / 2.54;
    if (unit == "in") return 72.0;
    return std::nullopt;
}

std::optional<double> parseNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !(value > 0) ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "width,height" in points.
std::optional<std::pair<double, double>> parseFormat(std::string_view format) {
    const std::size_t comma = format.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    const auto w = parseNumber(format.substr(0, comma));
    const auto h = parseNumber(format.substr(comma + 1));
    if (!w || !h) return std::nullopt;
    return std::pair{*w, *h};
}

// Escapes the characters that end or break a literal string.
std::string escapeText(std::string_view text) {
    std::string result;
    for (char c : text) {
        if (c == '\\' || c == '(' || c == ')') result += '\\';
        if (c == '\r') {
            result += "\\r";
            continue;
        }
        result += c;
    }
    return result;
}

// The current local time as yyyymmddhhmmss.
std::string localTimestamp() {
    const std::int64_t local = platform::localFromUtc(std::int64_t(std::time(nullptr)));
    using namespace std::chrono;
    const sys_seconds t{seconds{local}};
    const sys_days day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss hms{t - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02u%02u%02d%02d%02d", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(hms.hours().count()),
                  int(hms.minutes().count()), int(hms.seconds().count()));
    return text;
}

std::string tenDigits(std::size_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%010zu", value);
    return text;
}

// The longest file name (in bytes) the usual file systems take.
constexpr std::size_t kMaxFileNameBytes = 255;

// A plausible file name: not empty, no NUL byte, a file part that is not "." or ".." and fits
// the file system's name limit.
bool validFileName(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    const std::string name = platform::filePart(path);
    return !name.empty() && name != "." && name != ".." && name.size() <= kMaxFileNameBytes;
}

} // namespace

std::string formatPdfNumber(double value) {
    if (!std::isfinite(value)) value = 0;
    // Values that round to zero are written without a sign.
    if (std::fabs(value) < 0.005) value = 0;
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    return std::string(text, result.ptr);
}

void PdfWriter::reset() {
    m_state = State::NoDocument;
    m_objectCount = 2;
    m_objectOffsets.assign(3, 0);
    m_pages.clear();
    m_images.clear();
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_creator.clear();
}

bool PdfWriter::createDocument(std::string_view orientation, std::string_view unit,
                               std::string_view format) {
    reset();
    m_lastError = PdfError::None;
    m_systemError = 0;
    const auto landscape = parseLandscape(orientation);
    const auto scale = parseScaleFactor(unit);
    const auto size = parseFormat(format);
    if (!landscape || !scale || !size) return false;
    m_scaleFactor = *scale;
    double w = size->first / m_scaleFactor;
    double h = size->second / m_scaleFactor;
    if (*landscape) std::swap(w, h);
    m_defaultWidth = m_pageWidth = w;
    m_defaultHeight = m_pageHeight = h;
    try {
        m_buffer.reserve(kReservedBytes);
    } catch (const std::bad_alloc&) {
        m_lastError = PdfError::OutOfMemory;
        return false;
    }
    m_state = State::Begun;
    out("%PDF-1.3");
    return true;
}

bool PdfWriter::addPage(std::string_view orientation, std::string_view format) {
    if (m_state != State::Begun && m_state != State::InPage) return false;
    double w = m_defaultWidth;
    double h = m_defaultHeight;
    if (!format.empty()) {
        const auto size = parseFormat(format);
        if (!size) return false;
        w = size->first / m_scaleFactor;
        h = size->second / m_scaleFactor;
        if (m_defaultWidth > m_defaultHeight) std::swap(w, h);
    }
    if (!orientation.empty()) {
        const auto landscape = parseLandscape(orientation);
        if (!landscape) return false;
        if (*landscape != (w > h)) std::swap(w, h);
    }
    Page page;
    page.width = w;
    page.height = h;
    page.content = "2 J\n" + formatPdfNumber(kLineWidthPoints) + " w\n";
    m_pages.push_back(std::move(page));
    m_pageWidth = w;
    m_pageHeight = h;
    m_state = State::InPage;
    return true;
}

double PdfWriter::getPageWidth() const {
    return m_pageWidth;
}
double PdfWriter::getPageHeight() const {
    return m_pageHeight;
}

void PdfWriter::setCreator(std::string text) {
    m_creator = std::move(text);
}

bool PdfWriter::placeImage(const std::string& fileName, double x, double y, double width,
                           double height) {
    if (m_state != State::InPage) return false;
    const bool known = std::any_of(m_images.begin(), m_images.end(),
                                   [&](const ImageEntry& e) { return e.name == fileName; });
    if (known) return placeImageData(fileName, {}, x, y, width, height);
    const auto info = platform::fileInfo(fileName);
    if (!info || info->isDirectory) {
        m_lastError = PdfError::CannotOpen;
        return false;
    }
    if (info->size > kMaxImageFileBytes) {
        m_lastError = PdfError::OutOfMemory;
        return false;
    }
    auto bytes = platform::readFile(fileName, kMaxImageFileBytes);
    if (!bytes) {
        m_lastError = PdfError::CannotRead;
        return false;
    }
    return placeImageData(fileName, std::move(*bytes), x, y, width, height);
}

bool PdfWriter::placeImageData(const std::string& name, std::vector<std::uint8_t> bytes, double x,
                               double y, double width, double height) {
    if (m_state != State::InPage) return false;
    try {
        auto found = std::find_if(m_images.begin(), m_images.end(),
                                  [&](const ImageEntry& e) { return e.name == name; });
        if (found == m_images.end()) {
            ImageEntry entry;
            const PdfError error = readJpegFrame(bytes, entry.frame);
            if (error != PdfError::None) {
                m_lastError = error;
                return false;
            }
            entry.name = name;
            entry.number = int(m_images.size()) + 1;
            entry.bytes = std::move(bytes);
            m_images.push_back(std::move(entry));
            found = m_images.end() - 1;
        }
        const JpegFrame& frame = found->frame;
        if (width == 0 && height == 0) {
            width = frame.width / m_scaleFactor;
            height = frame.height / m_scaleFactor;
        } else if (width == 0) {
            width = height * frame.width / frame.height;
        } else if (height == 0) {
            height = width * frame.height / frame.width;
        }
        const double k = m_scaleFactor;
        m_pages.back().content += "q " + formatPdfNumber(width * k) + " 0 0 " +
                                  formatPdfNumber(height * k) + " " + formatPdfNumber(x * k) + " " +
                                  formatPdfNumber((m_pageHeight - (y + height)) * k) + " cm /I" +
                                  std::to_string(found->number) + " Do Q\n";
        return true;
    } catch (const std::bad_alloc&) {
        m_lastError = PdfError::OutOfMemory;
        return false;
    }
}

void PdfWriter::out(std::string_view line) {
    m_buffer.append(line);
    m_buffer.push_back('\n');
}

void PdfWriter::newObject() {
    ++m_objectCount;
    m_objectOffsets.resize(std::size_t(m_objectCount) + 1, 0);
    m_objectOffsets[std::size_t(m_objectCount)] = m_buffer.size();
    out(std::to_string(m_objectCount) + " 0 obj");
}

void PdfWriter::putPages() {
    const double k = m_scaleFactor;
    for (const Page& page : m_pages) {
        newObject();
        out("<</Type /Page");
        out("/Parent 1 0 R");
        out("/MediaBox [0 0 " + formatPdfNumber(page.width * k) + " " +
            formatPdfNumber(page.height * k) + "]");
        out("/Resources 2 0 R");
        out("/Contents " + std::to_string(m_objectCount + 1) + " 0 R>>");
        out("endobj");
        newObject();
        out("<<");
        out("/Length " + std::to_string(page.content.size()));
        out(">>");
        out("stream");
        out(page.content); // the content ends with its own line feed; this adds the EOL marker
        out("endstream");
        out("endobj");
    }
    m_objectOffsets[1] = m_buffer.size();
    out("1 0 obj");
    out("<</Type /Pages");
    std::string kids = "/Kids [";
    for (std::size_t i = 0; i < m_pages.size(); ++i)
        kids += std::to_string(3 + 2 * i) + " 0 R ";
    out(kids + "]");
    out("/Count " + std::to_string(m_pages.size()));
    out(">>");
    out("endobj");
}

void PdfWriter::putImages() {
    for (ImageEntry& image : m_images) {
        newObject();
        image.objectNumber = m_objectCount;
        out("<</Type /XObject");
        out("/Subtype /Image");
        out("/Width " + std::to_string(image.frame.width));
        out("/Height " + std::to_string(image.frame.height));
        out("/ColorSpace /" + std::string(image.frame.colorSpace));
        if (image.frame.colorSpace == "DeviceCMYK") out("/Decode [1 0 1 0 1 0 1 0]");
        out("/BitsPerComponent " + std::to_string(image.frame.bitsPerComponent));
        out("/Filter /DCTDecode");
        out("/Length " + std::to_string(image.bytes.size()));
        out(">>");
        out("stream");
        m_buffer.append(reinterpret_cast<const char*>(image.bytes.data()), image.bytes.size());
        m_buffer.push_back('\n');
        out("endstream");
        out("endobj");
        image.bytes.clear();
        image.bytes.shrink_to_fit();
    }
}

void PdfWriter::putResources() {
    m_objectOffsets[2] = m_buffer.size();
    out("2 0 obj");
    out("<<");
    out("/ProcSet [/PDF /Text /ImageB /ImageC /ImageI]");
    out("/Font <<");
    out(">>");
    out("/XObject <<");
    for (const ImageEntry& image : m_images)
        out("/I" + std::to_string(image.number) + " " + std::to_string(image.objectNumber) +
            " 0 R");
    out(">>");
    out(">>");
    out("endobj");
}

void PdfWriter::putInfo() {
    newObject();
    out("<<");
    out("/Producer (" + escapeText(kPdfProducer) + ")");
    if (!m_creator.empty()) out("/Creator (" + escapeText(m_creator) + ")");
    out("/CreationDate (D:" + localTimestamp() + ")");
    out(">>");
    out("endobj");
}

void PdfWriter::putCatalog() {
    newObject();
    out("<<");
    out("/Type /Catalog");
    out("/Pages 1 0 R");
    out("/OpenAction [3 0 R /FitH null]");
    out("/PageLayout /OneColumn");
    out(">>");
    out("endobj");
}

void PdfWriter::close() {
    if (m_pages.empty()) (void)addPage();
    putPages();
    putImages();
    putResources();
    putInfo();
    const int infoObject = m_objectCount;
    putCatalog();
    const int catalogObject = m_objectCount;
    const std::size_t xrefOffset = m_buffer.size();
    out("xref");
    out("0 " + std::to_string(m_objectCount + 1));
    out("0000000000 65535 f ");
    for (int i = 1; i <= m_objectCount; ++i)
        out(tenDigits(m_objectOffsets[std::size_t(i)]) + " 00000 n ");
    out("trailer");
    out("<<");
    out("/Size " + std::to_string(m_objectCount + 1));
    out("/Root " + std::to_string(catalogObject) + " 0 R");
    out("/Info " + std::to_string(infoObject) + " 0 R");
    out(">>");
    out("startxref");
    out(std::to_string(xrefOffset));
    out("%%EOF");
    m_state = State::Closed;
    m_pages.clear();
    m_images.clear();
}

std::vector<std::uint8_t> PdfWriter::finishDocument() {
    if (m_state != State::Begun && m_state != State::InPage) return {};
    try {
        close();
        std::vector<std::uint8_t> bytes(m_buffer.begin(), m_buffer.end());
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        return bytes;
    } catch (const std::bad_alloc&) {
        m_lastError = PdfError::OutOfMemory;
        m_state = State::Closed;
        m_pages.clear();
        m_images.clear();
        m_buffer.clear();
        m_buffer.shrink_to_fit();
        return {};
    }
}

bool PdfWriter::saveDocument(const std::string& fileName) {
    if (m_state != State::Begun && m_state != State::InPage) return false;
    const std::vector<std::uint8_t> bytes = finishDocument();
    if (bytes.empty()) return false;
    if (!validFileName(fileName)) {
        m_lastError = PdfError::InvalidFileName;
        return false;
    }
    platform::PendingFile file(fileName);
    if (!file.ok() || !file.write(bytes) || !file.commit()) {
        m_systemError = file.error();
        m_lastError = PdfError::CannotCreate;
        return false;
    }
    return true;
}

} // namespace quill::pdf
