// JPEG metadata carried from a source file into a re-encoded output: the APP1..APP15 and COM
// segments, the comment, and the file rewrites that put them in place or take them out.
#pragma once

#include "imagefiles/format.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quill::pipeline {

inline constexpr std::uint8_t kMarkerApp0 = 0xE0;
inline constexpr std::uint8_t kMarkerApp1 = 0xE1;
inline constexpr std::uint8_t kMarkerApp15 = 0xEF;
inline constexpr std::uint8_t kMarkerCom = 0xFE;

/// Largest payload a segment can hold: its 16-bit length field counts its own two bytes.
inline constexpr std::size_t kMaxSegmentPayload = 65533;
/// Largest comment text in bytes: the payload also carries the closing zero byte.
inline constexpr std::size_t kMaxCommentBytes = kMaxSegmentPayload - 1;

/// One APP1..APP15 or COM segment of a JPEG file, in file order.
struct MetadataSegment {
    std::uint8_t marker = 0;        ///< second marker byte: 0xE1..0xEF (APP1..APP15) or 0xFE (COM)
    std::int64_t offset = -1;       ///< file offset of the payload in the source; -1 when created
    std::uint16_t length = 0;       ///< payload length (the segment's length field minus 2)
    bool loaded = false;            ///< the payload is in `data` and the segment is to be written
    std::vector<std::uint8_t> data; ///< the payload when loaded
};

/// The metadata segments of one JPEG source.
struct JpegMetadata {
    bool read = false;       ///< the source was a readable JPEG (it starts with FF D8)
    bool present = false;    ///< at least one segment is held
    bool hasApp1 = false;    ///< an APP1 segment was listed
    bool hasComment = false; ///< a COM segment is held
    /// The errno of a read of the file that failed although the file is there (an input/output
    /// error, say): what it holds is then not all the file has. 0 when no read failed so.
    int readError = 0;
    std::vector<MetadataSegment> segments;

    /// Frees every payload and empties the list; all flags become false.
    void clear();
    /// True when at least one segment is loaded, i.e. writeMetadata has something to write.
    [[nodiscard]] bool holdsData() const;
};

/// Lists the APP1..APP15 and COM segments before the compressed data of a JPEG file (positions
/// only). Starts from a cleared `metadata`. Returns metadata.read: false when the file cannot be
/// opened or does not start with FF D8.
[[nodiscard]] bool readMetadata(const std::string& path, JpegMetadata& metadata);
/// The same over the bytes of a file held in memory.
[[nodiscard]] bool readMetadata(std::span<const std::uint8_t> file, JpegMetadata& metadata);

/// Reads every listed payload from its offset; a segment whose payload could be read completely is
/// marked loaded. Returns true when every listed segment is loaded.
[[nodiscard]] bool loadMetadata(const std::string& path, JpegMetadata& metadata);
/// The same over the bytes of a file held in memory.
[[nodiscard]] bool loadMetadata(std::span<const std::uint8_t> file, JpegMetadata& metadata);

/// The COM payload for a UTF-8 text: the text, cut at a character boundary to at most
/// kMaxCommentBytes bytes, followed by a zero byte.
[[nodiscard]] std::vector<std::uint8_t> commentPayload(std::string_view text);

/// Removes every COM segment and appends one new loaded COM segment holding `text`.
void setComment(JpegMetadata& metadata, std::string_view text);

/// The output file's bytes with every loaded segment inserted after the 16-byte APP0 segment that
/// the program's encoder writes at the start (at offset 20). nullopt when the file does not start
/// that way.
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
insertSegments(std::span<const std::uint8_t> output, const JpegMetadata& metadata);
/// Rewrites a freshly encoded JPEG file with the loaded segments inserted (see insertSegments).
/// On any failure the file stays as it was and false is returned.
[[nodiscard]] bool writeMetadata(const std::string& outputPath, const JpegMetadata& metadata);

/// The file's bytes without the listed segments (marker, length and payload each). nullopt when a
/// listed segment is not found at its recorded place, so a file that is not a copy of the source
/// is never cut up.
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
withoutSegments(std::span<const std::uint8_t> file, const JpegMetadata& metadata);
/// Rewrites a byte-for-byte copy of the source without the listed segments. On any failure the
/// file stays as it was and false is returned; an empty list leaves it untouched (true).
[[nodiscard]] bool removeSegments(const std::string& path, const JpegMetadata& metadata);
/// Rewrites the JPEG at `path` (a copy of a source) with the GPS data and the XMP and IPTC
/// location fields taken out of its segments, each left where it was; the rest stays byte for
/// byte. True when there was nothing to take out.
[[nodiscard]] bool removeLocationOfCopy(const std::string& path);

/// The file's bytes with a COM segment holding `text`: it replaces the last COM segment before the
/// compressed data, else follows the last APP0 segment, else follows the start of image.
/// nullopt when the bytes are not a JPEG file.
[[nodiscard]] std::optional<std::vector<std::uint8_t>>
withComment(std::span<const std::uint8_t> file, std::string_view text);
/// Puts a comment into an existing JPEG file (see withComment). On any failure the file stays as
/// it was and false is returned.
[[nodiscard]] bool writeCommentToFile(const std::string& path, std::string_view text);

// --- The processing loop's uses ----------------------------------------------------------------

/// What the preparation phase learns from a JPEG file's EXIF block.
struct ExifDetails {
    std::optional<std::int64_t> recordedDate; ///< date taken, local-time seconds
    std::optional<std::int32_t> orientation;  ///< the orientation tag's value as stored
    /// The errno when the file could not be opened or read (the details are then empty and say
    /// nothing about the file); 0 when it was read.
    int readError = 0;
};
/// Reads the date taken and the orientation of a JPEG file; both empty when it has none.
[[nodiscard]] ExifDetails readExifDetails(const std::string& path);
/// The same for a file of a format whose container carries its EXIF block (the format table's
/// metadata reader); no orientation where the format's decoder turns the picture itself.
[[nodiscard]] ExifDetails readExifDetails(const std::string& path,
                                          const imagefiles::FormatInfo& format);
/// The date taken and the orientation in an EXIF block that starts with its TIFF byte-order mark.
[[nodiscard]] ExifDetails exifDetailsOfBlock(std::span<const std::uint8_t> tiff);

/// What a run wants of a JPEG's metadata.
struct MetadataRequest {
    bool keepMetadata = true;    ///< the source's segments travel to the output
    bool commentEnabled = false; ///< the comment is replaced
    bool reencoded = false;      ///< the image is decoded and encoded again (pick-up only)
};

/// Pick-up for a JPEG source that is written as JPEG: when the image is re-encoded and a comment or
/// the metadata is wanted, the segments are read and loaded; when the file is only copied, moved
/// or left in place and the metadata is not kept, only their list is read (for removeSegments).
/// Otherwise the result is empty.
[[nodiscard]] JpegMetadata pickUpMetadata(const std::string& sourcePath,
                                          const MetadataRequest& request);

/// How the edit changed the picture, for the metadata that travels with it: the JPEG segments
/// carried over, or the blocks put into other formats.
struct CarryEdit {
    bool useExifOrientation = false;   ///< patch the EXIF orientation and pixel size
    std::int32_t rotationApplied = -1; ///< rotateMode applied to the image, -1 when none
    bool sizeMayHaveChanged = false;   ///< crop, rotation, resize or canvas was enabled
    std::int32_t width = 0;            ///< the written image's size
    std::int32_t height = 0;
    bool removeLocation = false; ///< GPS and the XMP/IPTC location fields are dropped
    /// The orientation an upright turn left the pixels in (1): written into the tag whether or
    /// not useExifOrientation is on; -1 leaves it to the rule above.
    std::int32_t orientationAfterEdit = -1;
};

/// How a re-encoded JPEG output gets its metadata.
struct SavedJpegOptions {
    bool keepMetadata = true;    ///< carry the source's segments over
    bool commentEnabled = false; ///< replace the comment by `comment`
    std::string comment;         ///< the expanded comment text (UTF-8)
    CarryEdit edit;              ///< how the edit changed the picture
};
/// After saving a decoded image as JPEG: sets the comment, patches the EXIF orientation (from the
/// orientation stored in the carried EXIF block and the rotation) and pixel size, and writes the
/// segments into the output. Returns false when the output could not be rewritten (it is then
/// unchanged); having nothing to write is success.
[[nodiscard]] bool carryMetadataIntoOutput(const std::string& outputPath, JpegMetadata& metadata,
                                           const SavedJpegOptions& options);
/// carryMetadataIntoOutput's changes to the segments, without writing them anywhere.
void prepareCarriedSegments(JpegMetadata& metadata, const SavedJpegOptions& options);
/// The bytes writeMetadata inserts for the loaded segments (marker, length and payload each).
[[nodiscard]] std::uint64_t insertedSegmentBytes(const JpegMetadata& metadata);

/// For a JPEG file that was only copied, moved or left in place: removes the segments listed at
/// pick-up when the metadata is not kept, then writes the comment when one is enabled. Returns
/// false when a wanted rewrite failed (the file then keeps its previous content).
[[nodiscard]] bool adjustMetadataOfCopy(const std::string& outputPath, const JpegMetadata& listed,
                                        const MetadataRequest& request, std::string_view comment);

} // namespace quill::pipeline
