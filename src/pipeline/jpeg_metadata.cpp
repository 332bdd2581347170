// JPEG metadata segments: listing and loading them from a source, the comment, and the rewrites
// that insert them into an output, take them out of a copy or put a comment into a file.
#include "pipeline/jpeg_metadata.h"

#include "pipeline/exif.h"
#include "pipeline/metadata_carry.h"
#include "toolkit/bytes.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace quill::pipeline {
namespace {

// Files are rewritten whole in memory; a JPEG larger than this is left alone.
constexpr std::uint64_t kMaxRewriteBytes = std::uint64_t(1) << 30;

constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kMarkerSoi = 0xD8;
// The encoder starts its files with SOI and a 16-byte APP0 segment (length field 16).
constexpr std::size_t kEncoderHeaderSize = 20;

bool isCarriedMarker(std::uint8_t marker) {
    return (marker >= kMarkerApp1 && marker <= kMarkerApp15) || marker == kMarkerCom;
}

// Random access to a file's bytes. error() keeps the errno of a failed open or read (0 when
// none), so that a disk that fails is told apart from a file without such a segment.
class FileSource {
public:
    explicit FileSource(const std::string& path) : m_file(platform::InputFile::open(path)) {
        if (m_file)
            m_size = std::int64_t(std::min<std::uint64_t>(m_file->size(), INT64_MAX));
        else
            m_error = platform::lastError();
    }
    [[nodiscard]] std::int64_t size() const { return m_size; }
    [[nodiscard]] bool readAt(std::int64_t offset, std::uint8_t* into, std::size_t count) {
        if (!m_file || offset < 0 || offset > m_size || std::int64_t(count) > m_size - offset)
            return false;
        const auto read = m_file->readAt(std::uint64_t(offset), std::span(into, count));
        if (!read) {
            m_error = platform::lastError();
            return false;
        }
        return *read == count;
    }
    [[nodiscard]] int error() const { return m_error; }

private:
    std::optional<platform::InputFile> m_file;
    std::int64_t m_size = 0;
    int m_error = 0;
};

class MemorySource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    [[nodiscard]] std::int64_t size() const { return std::int64_t(m_bytes.size()); }
    [[nodiscard]] bool readAt(std::int64_t offset, std::uint8_t* into, std::size_t count) const {
        if (offset < 0 || std::uint64_t(offset) > m_bytes.size() ||
            count > m_bytes.size() - std::size_t(offset)) {
            return false;
        }
        if (count > 0) std::memcpy(into, m_bytes.data() + offset, count);
        return true;
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

// Walks the marker segments from offset 2 up to the compressed data: stops at a byte that is not
// a marker, at marker 0 or FF, at a length of 0 or at the end of the file. `visit` gets the
// marker, the segment's file position (at its FF) and its length field. False when the source
// does not start with FF D8.
template <typename Source, typename Visit> bool scanMarkers(Source& source, Visit&& visit) {
    std::uint8_t head[4];
    if (!source.readAt(0, head, 2) || head[0] != kMarkerPrefix || head[1] != kMarkerSoi) {
        return false;
    }
    std::int64_t position = 2;
    while (position < source.size() && source.readAt(position, head, 4)) {
        const std::uint8_t marker = head[1];
        if (head[0] != kMarkerPrefix || marker == 0 || marker == kMarkerPrefix) break;
        const std::uint16_t length = toolkit::loadU16be(head + 2);
        visit(marker, position, length);
        if (length == 0) break;
        position += std::int64_t(length) + 2;
    }
    return true;
}

template <typename Source> bool listSegments(Source& source, JpegMetadata& metadata) {
    metadata.clear();
    metadata.read =
        scanMarkers(source, [&](std::uint8_t marker, std::int64_t position, std::uint16_t length) {
            if (!isCarriedMarker(marker) || length <= 2) return;
            MetadataSegment segment;
            segment.marker = marker;
            segment.offset = position + 4;
            segment.length = std::uint16_t(length - 2);
            metadata.segments.push_back(std::move(segment));
            if (marker == kMarkerApp1) metadata.hasApp1 = true;
            if (marker == kMarkerCom) metadata.hasComment = true;
        });
    metadata.present = !metadata.segments.empty();
    return metadata.read;
}

template <typename Source> bool loadSegments(Source& source, JpegMetadata& metadata) {
    bool all = true;
    for (MetadataSegment& segment : metadata.segments) {
        if (segment.loaded) continue;
        segment.data.resize(segment.length);
        segment.loaded = segment.offset >= 0 &&
                         source.readAt(segment.offset, segment.data.data(), segment.data.size());
        if (!segment.loaded) {
            segment.data.clear();
            segment.data.shrink_to_fit();
            all = false;
        }
    }
    return all;
}

void appendSegment(std::vector<std::uint8_t>& out, std::uint8_t marker,
                   std::span<const std::uint8_t> payload) {
    const std::size_t fieldLength = payload.size() + 2;
    out.push_back(kMarkerPrefix);
    out.push_back(marker);
    toolkit::appendU16be(out, std::uint16_t(fieldLength));
    out.insert(out.end(), payload.begin(), payload.end());
}

void appendRange(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes,
                 std::size_t from, std::size_t to) {
    out.insert(out.end(), bytes.begin() + std::ptrdiff_t(from), bytes.begin() + std::ptrdiff_t(to));
}

// Replaces a file by new content through a temporary file; the file keeps its permission bits.
bool rewriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    platform::PendingFile file(path);
    if (!file.ok() || !file.write(bytes)) return false;
    if (const auto info = platform::fileInfo(path)) (void)file.setMode(info->mode);
    return file.commit();
}

template <typename Transform> bool rewriteWith(const std::string& path, Transform&& transform) {
    const auto bytes = platform::readFile(path, kMaxRewriteBytes);
    if (!bytes) return false;
    const std::optional<std::vector<std::uint8_t>> rewritten = transform(*bytes);
    return rewritten && rewriteFile(path, *rewritten);
}

} // namespace

void JpegMetadata::clear() {
    read = present = hasApp1 = hasComment = false;
    readError = 0;
    segments.clear();
    segments.shrink_to_fit();
}

bool JpegMetadata::holdsData() const {
    return std::any_of(segments.begin(), segments.end(),
                       [](const MetadataSegment& s) { return s.loaded; });
}

namespace {
/// Notes a read error of `source` in `metadata`.
void noteReadError(const FileSource& source, JpegMetadata& metadata) {
    if (platform::isReadError(source.error())) metadata.readError = source.error();
}
} // namespace

bool readMetadata(const std::string& path, JpegMetadata& metadata) {
    FileSource source(path);
    const bool listed = listSegments(source, metadata);
    noteReadError(source, metadata);
    return listed;
}

bool readMetadata(std::span<const std::uint8_t> file, JpegMetadata& metadata) {
    MemorySource source(file);
    return listSegments(source, metadata);
}

bool loadMetadata(const std::string& path, JpegMetadata& metadata) {
    FileSource source(path);
    const bool loaded = loadSegments(source, metadata);
    noteReadError(source, metadata);
    return loaded;
}

bool loadMetadata(std::span<const std::uint8_t> file, JpegMetadata& metadata) {
    MemorySource source(file);
    return loadSegments(source, metadata);
}

std::vector<std::uint8_t> commentPayload(std::string_view text) {
    std::size_t size = std::min(text.size(), kMaxCommentBytes);
    if (size < text.size()) {
        // Step back over continuation bytes (10xxxxxx) so no character is cut in half.
        for (int i = 0; i < 3 && size > 0 && (std::uint8_t(text[size]) & 0xC0) == 0x80; ++i) {
            --size;
        }
    }
    std::vector<std::uint8_t> payload(text.begin(), text.begin() + std::ptrdiff_t(size));
    payload.push_back(0);
    return payload;
}

void setComment(JpegMetadata& metadata, std::string_view text) {
    std::erase_if(metadata.segments,
                  [](const MetadataSegment& s) { return s.marker == kMarkerCom; });
    MetadataSegment comment;
    comment.marker = kMarkerCom;
    comment.data = commentPayload(text);
    comment.length = std::uint16_t(comment.data.size());
    comment.loaded = true;
    metadata.segments.push_back(std::move(comment));
    metadata.present = true;
    metadata.hasComment = true;
}

std::optional<std::vector<std::uint8_t>> insertSegments(std::span<const std::uint8_t> output,
                                                        const JpegMetadata& metadata) {
    static constexpr std::uint8_t kHeader[6] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    if (output.size() <= kEncoderHeaderSize || std::memcmp(output.data(), kHeader, 6) != 0 ||
        output[kEncoderHeaderSize] != kMarkerPrefix) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    std::size_t extra = 0;
    for (const MetadataSegment& s : metadata.segments)
        extra += s.loaded ? s.data.size() + 4 : 0;
    out.reserve(output.size() + extra);
    appendRange(out, output, 0, kEncoderHeaderSize);
    for (const MetadataSegment& segment : metadata.segments) {
        if (!segment.loaded || segment.data.size() > kMaxSegmentPayload) continue;
        appendSegment(out, segment.marker, segment.data);
    }
    appendRange(out, output, kEncoderHeaderSize, output.size());
    return out;
}

bool writeMetadata(const std::string& outputPath, const JpegMetadata& metadata) {
    if (!metadata.holdsData()) return true;
    return rewriteWith(outputPath, [&](std::span<const std::uint8_t> bytes) {
        return insertSegments(bytes, metadata);
    });
}

namespace {

// The file with each segment of `metadata` that was listed in it replaced by the segment of the
// same index in `replacement` (left out when that one is not loaded), or by nothing when
// `replacement` is null.
std::optional<std::vector<std::uint8_t>> withSegmentsReplaced(std::span<const std::uint8_t> file,
                                                              const JpegMetadata& metadata,
                                                              const JpegMetadata* replacement) {
    if (file.size() < 2 || file[0] != kMarkerPrefix || file[1] != kMarkerSoi) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(file.size());
    std::size_t cursor = 0;
    for (const MetadataSegment& segment : metadata.segments) {
        if (segment.offset < 0) continue; // created here, never part of the file
        // Each segment must sit where it was listed, after the previous one, with its marker and
        // length field intact; otherwise this is not the file the list was made from.
        if (segment.offset < std::int64_t(cursor) + 4) return std::nullopt;
        const std::size_t start = std::size_t(segment.offset) - 4;
        const std::size_t end = std::size_t(segment.offset) + segment.length;
        if (end > file.size()) return std::nullopt;
        const std::size_t fieldLength = toolkit::loadU16be(&file[start + 2]);
        if (file[start] != kMarkerPrefix || file[start + 1] != segment.marker ||
            fieldLength != std::size_t(segment.length) + 2) {
            return std::nullopt;
        }
        appendRange(out, file, cursor, start);
        cursor = end;
        const std::size_t index = std::size_t(&segment - metadata.segments.data());
        if (replacement != nullptr && index < replacement->segments.size()) {
            const MetadataSegment& with = replacement->segments[index];
            if (with.loaded && with.data.size() <= kMaxSegmentPayload)
                appendSegment(out, with.marker, with.data);
        }
    }
    appendRange(out, file, cursor, file.size());
    return out;
}

} // namespace

std::optional<std::vector<std::uint8_t>> withoutSegments(std::span<const std::uint8_t> file,
                                                         const JpegMetadata& metadata) {
    return withSegmentsReplaced(file, metadata, nullptr);
}

bool removeLocationOfCopy(const std::string& path) {
    JpegMetadata listed;
    if (!readMetadata(path, listed) || !loadMetadata(path, listed)) return false;
    JpegMetadata cleaned = listed;
    removeLocationFromSegments(cleaned);
    const bool changed =
        !std::equal(listed.segments.begin(), listed.segments.end(), cleaned.segments.begin(),
                    cleaned.segments.end(), [](const MetadataSegment& a, const MetadataSegment& b) {
                        return a.loaded == b.loaded && a.data == b.data;
                    });
    if (!changed) return true;
    return rewriteWith(path, [&](std::span<const std::uint8_t> bytes) {
        return withSegmentsReplaced(bytes, listed, &cleaned);
    });
}

bool removeSegments(const std::string& path, const JpegMetadata& metadata) {
    const bool anyListed = std::any_of(metadata.segments.begin(), metadata.segments.end(),
                                       [](const MetadataSegment& s) { return s.offset >= 0; });
    if (!anyListed) return true;
    return rewriteWith(path, [&](std::span<const std::uint8_t> bytes) {
        return withoutSegments(bytes, metadata);
    });
}

std::optional<std::vector<std::uint8_t>> withComment(std::span<const std::uint8_t> file,
                                                     std::string_view text) {
    struct Found {
        std::size_t position = 0;
        std::size_t end = 0; // one past the segment's last byte
        bool any = false;
    };
    Found app0, comment;
    MemorySource source(file);
    const bool isJpeg =
        scanMarkers(source, [&](std::uint8_t marker, std::int64_t position, std::uint16_t length) {
            if (length < 2 || (marker != kMarkerApp0 && marker != kMarkerCom)) return;
            Found& found = marker == kMarkerApp0 ? app0 : comment;
            found = {std::size_t(position), std::size_t(position) + 2 + length, true};
        });
    if (!isJpeg) return std::nullopt;

    std::size_t before = 2, after = 2; // the new segment replaces the bytes [before, after)
    if (comment.any) {
        before = comment.position;
        after = comment.end;
    } else if (app0.any) {
        before = after = app0.end;
    }
    if (after > file.size()) return std::nullopt; // the segment found is cut off by the file end

    const std::vector<std::uint8_t> payload = commentPayload(text);
    std::vector<std::uint8_t> out;
    out.reserve(file.size() + payload.size() + 4);
    appendRange(out, file, 0, before);
    appendSegment(out, kMarkerCom, payload);
    appendRange(out, file, after, file.size());
    return out;
}

bool writeCommentToFile(const std::string& path, std::string_view text) {
    return rewriteWith(
        path, [&](std::span<const std::uint8_t> bytes) { return withComment(bytes, text); });
}

// --- The processing loop's uses ----------------------------------------------------------------

namespace {

// The prefix of an APP1 payload that holds EXIF.
constexpr std::array<std::uint8_t, 6> kExifPrefix{'E', 'x', 'i', 'f', 0, 0};
// The largest file whose metadata is read whole (the loaders read no larger file either).
constexpr std::size_t kMaxContainerBytes = std::size_t{1} << 31;

void readDetails(ExifView& view, ExifDetails& details) {
    view.mode = ExifMode::Read;
    view.tags = ExifOrientation | ExifDateTaken;
    walkExif(view);
    if (view.tags & ExifDateTaken) details.recordedDate = view.date;
    if (view.tags & ExifOrientation) details.orientation = view.orientation;
}

} // namespace

ExifDetails readExifDetails(const std::string& path) {
    ExifDetails details;
    FileSource source(path);
    JpegMetadata metadata;
    const bool listed = listSegments(source, metadata);
    if (source.error() != 0) {
        details.readError = source.error();
        return details;
    }
    if (!listed || !metadata.hasApp1) return details;
    // Only the APP1 segments can hold EXIF; the others need not be read.
    std::erase_if(metadata.segments,
                  [](const MetadataSegment& s) { return s.marker != kMarkerApp1; });
    (void)loadSegments(source, metadata);
    if (source.error() != 0) {
        details.readError = source.error();
        return details;
    }
    ExifView view;
    if (!openExif(metadata, view)) return details;
    readDetails(view, details);
    return details;
}

ExifDetails exifDetailsOfBlock(std::span<const std::uint8_t> tiff) {
    // The block as an APP1 payload, whose walk reads the first 64 KiB: the directories of the
    // orientation and the date come first in the files of every camera and phone.
    JpegMetadata metadata;
    MetadataSegment segment;
    segment.marker = kMarkerApp1;
    segment.loaded = true;
    const std::size_t kept = std::min(tiff.size(), kMaxSegmentPayload - kExifPrefix.size());
    segment.data.assign(kExifPrefix.begin(), kExifPrefix.end());
    segment.data.insert(segment.data.end(), tiff.begin(), tiff.begin() + std::ptrdiff_t(kept));
    metadata.segments.push_back(std::move(segment));
    ExifDetails details;
    ExifView view;
    if (openExif(metadata, view)) readDetails(view, details);
    return details;
}

ExifDetails readExifDetails(const std::string& path, const imagefiles::FormatInfo& format) {
    ExifDetails details;
    if (format.metadata == nullptr && !(format.holds & imagefiles::HoldsExif)) return details;
    const auto bytes = platform::readFile(path, kMaxContainerBytes);
    if (!bytes) {
        details.readError = platform::lastError();
        return details;
    }
    // Formats whose own reader gives no EXIF (PNG and TIFF read only their profile) are read
    // through Exiv2.
    std::vector<std::uint8_t> exif;
    if (format.metadata != nullptr) exif = format.metadata(*bytes).exif;
    if (exif.empty()) exif = readCarriedMetadata(*bytes, format.kind).exif;
    details = exifDetailsOfBlock(exif);
    if (format.decoderTurnsUpright) details.orientation.reset();
    return details;
}

JpegMetadata pickUpMetadata(const std::string& sourcePath, const MetadataRequest& request) {
    JpegMetadata metadata;
    if (request.reencoded && (request.commentEnabled || request.keepMetadata)) {
        if (readMetadata(sourcePath, metadata)) (void)loadMetadata(sourcePath, metadata);
    } else if (!request.reencoded && !request.keepMetadata) {
        (void)readMetadata(sourcePath, metadata);
    }
    return metadata;
}

bool carryMetadataIntoOutput(const std::string& outputPath, JpegMetadata& metadata,
                             const SavedJpegOptions& options) {
    prepareCarriedSegments(metadata, options);
    if (!metadata.holdsData()) return true;
    return writeMetadata(outputPath, metadata);
}

std::uint64_t insertedSegmentBytes(const JpegMetadata& metadata) {
    std::uint64_t bytes = 0;
    for (const MetadataSegment& segment : metadata.segments)
        if (segment.loaded && segment.data.size() <= kMaxSegmentPayload)
            bytes += 4 + segment.data.size();
    return bytes;
}

void prepareCarriedSegments(JpegMetadata& metadata, const SavedJpegOptions& options) {
    if (!options.keepMetadata) metadata.clear();
    if (options.edit.removeLocation) removeLocationFromSegments(metadata);
    if (options.commentEnabled) setComment(metadata, options.comment);

    ExifView view;
    const bool uprighted =
        options.edit.orientationAfterEdit >= 1 && options.edit.orientationAfterEdit <= 8;
    if (options.keepMetadata && (options.edit.useExifOrientation || uprighted) &&
        metadata.hasApp1 && openExif(metadata, view)) {
        std::uint8_t request = 0;
        if (uprighted) {
            // The pixels were turned as the tag said: left as it was, the tag would turn them
            // once more in every viewer that honours it.
            view.orientation = options.edit.orientationAfterEdit;
            request |= ExifOrientation;
        } else if (options.edit.useExifOrientation && options.edit.rotationApplied >= 0) {
            // The orientation the source was stored with, read from the block being patched. An
            // upright source (1) is left as it is, like a source without the tag: its pixels were
            // turned, and a viewer that honours the tag must show them as they are now rather than
            // turn them back. A source stored turned (2..8) gets the orientation that describes
            // its pixels after the turn.
            view.mode = ExifMode::Read;
            view.tags = ExifOrientation;
            walkExif(view);
            const bool storedTurned = (view.tags & ExifOrientation) && view.orientation != 1;
            const std::int32_t orientation =
                storedTurned ? newOrientation(view.orientation, options.edit.rotationApplied) : -1;
            if (orientation != -1) {
                view.orientation = orientation;
                request |= ExifOrientation;
            }
        }
        if (options.edit.useExifOrientation && options.edit.sizeMayHaveChanged) {
            view.width = options.edit.width;
            view.height = options.edit.height;
            request |= ExifPixelWidth | ExifPixelHeight;
        }
        if (request != 0) {
            view.mode = ExifMode::Write;
            view.tags = request;
            walkExif(view);
            (void)storeExif(metadata, view);
        }
    }
}

bool adjustMetadataOfCopy(const std::string& outputPath, const JpegMetadata& listed,
                          const MetadataRequest& request, std::string_view comment) {
    bool ok = true;
    if (!request.keepMetadata && !listed.segments.empty()) ok = removeSegments(outputPath, listed);
    if (request.commentEnabled) ok = writeCommentToFile(outputPath, comment) && ok;
    return ok;
}

} // namespace quill::pipeline
