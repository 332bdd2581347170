// One entry of the image list: the file, its dates and attributes, the image details a batch run
// fills in, and the result of the last run.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "imagefiles/format.h"

namespace quill::imagefiles {

/// The result of one image of a batch run, stored in `ImageRecord::resultState`.
enum class ImageResult : std::uint8_t {
    Pending = 0,           ///< not processed (yet)
    Done = 1,              ///< processed and written
    Unreadable = 2,        ///< file missing, shorter than 35 bytes, or it could not be read
    SkippedExisting = 3,   ///< the output exists and the user or policy chose not to overwrite
    SameAsSource = 4,      ///< the output path equals the source path while an output dir is used
    LoadFailed = 5,        ///< the decoder did not deliver an image
    StepFailed = 6,        ///< an operation failed; the detail code names it
    UnsupportedFormat = 7, ///< the output format is one the program cannot write
    WriteFailed = 8,       ///< writing, copying, moving or the PDF wrap failed
};

/// Detail codes stored in `ImageRecord::resultCode`: with StepFailed the operation that failed;
/// the codes from DetailSourceChanged on say why any failure happened.
enum DetailCode : std::int32_t {
    DetailNone = 0,
    DetailFiltered = 1,         ///< preview run only: the filter conditions excluded the image
    DetailCrop = 2,             ///< crop or automatic trim
    DetailRotate = 3,           ///< rotate or flip
    DetailResize = 4,           ///< resize
    DetailColour = 5,           ///< colour adjustment
    DetailCanvas = 6,           ///< canvas
    DetailOverlay = 7,          ///< text or image overlay
    DetailMetadata = 9,         ///< removing metadata or writing the comment into the output
    DetailFileDates = 10,       ///< setting the output's file dates or attributes
    DetailNumbering = 12,       ///< no number could be given to the name
    DetailSourceChanged = 13,   ///< the source was changed or replaced while it was processed
    DetailReadError = 14,       ///< an input/output error while reading the file
    DetailOutOfMemory = 15,     ///< the memory for the image's work could not be had
    DetailUnexpectedError = 16, ///< the image's work stopped on an unexpected error
    /// The output was written at the lowest quality and is still larger than the size limit.
    DetailLargerThanLimit = 17,
};

/// True for every result other than Pending and Done.
[[nodiscard]] constexpr bool isFailure(ImageResult result) {
    return result != ImageResult::Pending && result != ImageResult::Done;
}

/// One image-list entry. Paths are byte strings exactly as the file system gives them.
/// Dates are local-time seconds (the local wall-clock time counted as if it were UTC).
struct ImageRecord {
    std::int32_t recordId = 0; ///< unique for the life of the program; never reused
    std::string sourcePath;    ///< the full path handed in
    std::string folder;        ///< directory part of sourcePath, ending with "/"
    std::string fileName;      ///< file name without a short extension (the %FN% value)
    FormatKind formatKind = FormatKind::None; ///< the format of the file's extension
    std::uint32_t attributes = 0;             ///< platform::Attribute bits (2 hidden, 4 system)
    /// Size in bytes. 64-bit so that files above 2 GiB (videos) keep their real size.
    std::int64_t fileSize = 0;
    std::int64_t createdDate = 0;  ///< creation date
    std::int64_t recordedDate = 0; ///< last-modified date; a run may replace it by the EXIF date
    std::int64_t modifiedDate = 0; ///< last-modified date, kept unchanged
    std::int64_t accessedDate = 0; ///< last-access date
    /// Width and height in pixels (0 until the batch run reads them). 32-bit because the size
    /// reader accepts sides up to 65536, which a 16-bit field cannot hold.
    std::int32_t width = 0;
    std::int32_t height = 0;
    /// width * height; 64-bit because 65536 x 65536 does not fit 32 bits.
    std::int64_t pixelCount = 0;
    float aspectRatio = 0.0f;                       ///< width / height
    std::int32_t colorCount = 0;                    ///< distinct colours (details pass)
    float brightness = 0.0f;                        ///< average brightness 0..1 (details pass)
    std::int8_t orientation = -1;                   ///< EXIF orientation; -1 = none read
    ImageResult resultState = ImageResult::Pending; ///< result of the last run
    std::int32_t resultCode = DetailNone;           ///< DetailCode of the last result
    std::string resultText;                         ///< output path computed in the last run
};

/// The ordered list of image records with its current element, the never-reused record counter
/// and the busy and cancel flags of the loader.
class ImageList {
public:
    ImageList() = default;
    /// A list whose record numbers continue after `lastRecordId` (the keep list of a run starts
    /// from the image list's counter so that numbers stay unique when it replaces that list).
    explicit ImageList(std::int32_t lastRecordId) : m_lastRecordId(lastRecordId) {}
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;

    [[nodiscard]] std::size_t size() const { return m_records.size(); }
    [[nodiscard]] bool empty() const { return m_records.empty(); }
    [[nodiscard]] ImageRecord& operator[](std::size_t i) { return m_records[i]; }
    [[nodiscard]] const ImageRecord& operator[](std::size_t i) const { return m_records[i]; }
    /// The records in list order; callers may sort, change or erase records through it, but add
    /// records only with append() and leave `sourcePath` unchanged.
    [[nodiscard]] std::vector<ImageRecord>& records() { return m_records; }
    [[nodiscard]] const std::vector<ImageRecord>& records() const { return m_records; }

    /// Index of the record with this number, or -1.
    [[nodiscard]] std::ptrdiff_t indexOfId(std::int32_t recordId) const;
    /// Index of the record with exactly this source path (case-sensitive), or -1.
    [[nodiscard]] std::ptrdiff_t indexOfPath(const std::string& sourcePath) const;
    /// True when a record has exactly this source path; constant time on average.
    [[nodiscard]] bool containsPath(const std::string& sourcePath);

    /// Appends a record, numbering it with the next value of the counter (the counter is
    /// incremented first). Returns the new record.
    ImageRecord& append(ImageRecord record);
    /// Removes the record at `index`; the current index follows the records it pointed at.
    void erase(std::size_t index);
    /// Removes, in one pass, every record whose entry in `remove` is non-zero (`remove` has one
    /// entry per record, missing entries keep their record). The current index follows its
    /// record, or the next record kept after it when its own was removed.
    void eraseMarked(const std::vector<std::uint8_t>& remove);
    /// Removes every record. The counter is kept.
    void clear();
    /// Moves every record of `other` to the end of this list, keeping their numbers, and empties
    /// `other`. The counter becomes the larger of both counters.
    void takeRecordsFrom(ImageList& other);

    /// The last number handed out (0 before the first record).
    [[nodiscard]] std::int32_t lastRecordId() const { return m_lastRecordId; }

    /// The record the batch run or the pipeline works on: an index, or -1 for none.
    [[nodiscard]] std::ptrdiff_t currentIndex() const { return m_current; }
    void setCurrentIndex(std::ptrdiff_t index);
    /// The current record, or nullptr.
    [[nodiscard]] ImageRecord* current();

    /// 1 while paths are being added. Written by the loader, polled by the window and console.
    std::atomic<std::int32_t> busy{0};
    /// Set to 1 by the user to stop adding paths. Polled by addPaths after each path and
    /// directory entry; cleared by the loader when it starts.
    std::atomic<std::int32_t> cancel{0};

private:
    void syncPaths();

    std::vector<ImageRecord> m_records;
    // How many records hold each source path, for a constant-time duplicate test. Kept by every
    // member that adds or removes records; records() lets callers erase past it, which shows as
    // a different total and rebuilds the counts once.
    std::unordered_map<std::string, std::uint32_t> m_paths;
    std::size_t m_pathTotal = 0;
    std::int32_t m_lastRecordId = 0;
    std::ptrdiff_t m_current = -1;
};

} // namespace quill::imagefiles
