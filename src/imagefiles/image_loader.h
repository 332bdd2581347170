// Loading an image file: the dispatch by format code, the header-only size reader and the PNG
// colour-key step.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "imagefiles/format.h"
#include "toolkit/image.h"
#include "toolkit/memory_budget.h"
#include "toolkit/platform/platform.h"

namespace quill::imagefiles {

/// Width and height of an image as the size reader finds them; x and y are always 0.
struct ImageRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

/// Smallest file size worth opening: no image file of any listed format is shorter. Shorter
/// files count as unreadable without being read.
inline constexpr std::uint64_t kMinimumFileSize = 35;

/// Decodes the file at `path`. FormatKind::None derives the format from the extension (video
/// extensions count only with Videos::Included). Returns an empty image on any failure, for videos
/// and for unknown extensions. `readStamp`, when given, receives the stamp of the file whose
/// bytes were decoded (left alone when nothing was read).
/// `iccProfile`, when given, receives the profile the file embeds (readIccProfile; empty when it
/// has none or the file could not be decoded), found in the bytes already read for the decoder.
[[nodiscard]] toolkit::Image loadImageFile(const std::string& path, FormatKind formatKind,
                                           Videos videos = Videos::Excluded,
                                           platform::FileStamp* readStamp = nullptr,
                                           std::vector<std::uint8_t>* iccProfile = nullptr);

/// loadImageFile, except that a file with JPEG content is decoded reduced in the library's DCT
/// by `reduction` (2, 4 or 8; to ceil(width / reduction) x ceil(height / reduction)). Other
/// content, and any other reduction, decodes at full size.
[[nodiscard]] toolkit::Image loadImageFileReduced(const std::string& path, FormatKind formatKind,
                                                  int reduction, Videos videos = Videos::Excluded,
                                                  platform::FileStamp* readStamp = nullptr,
                                                  std::vector<std::uint8_t>* iccProfile = nullptr);

/// What decoding a file will hold, found from its header before it is decoded.
struct DecodeEstimate {
    /// The file, the decoder's working buffers and twice the image the header declares (the
    /// image and one edited copy; the largest image any file may give when the header does not
    /// tell). 0 when the file will not be read at all (missing, not a regular file, too large).
    std::uint64_t bytes = 0;
    std::int64_t width = 0; ///< the size the header declares; 0 x 0 when it does not tell
    std::int64_t height = 0;
};

/// The estimate for the file at `path`, from its first bytes.
[[nodiscard]] DecodeEstimate estimateDecode(const std::string& path);

/// estimateDecode(path).bytes.
[[nodiscard]] std::uint64_t estimateDecodeBytes(const std::string& path);

/// A decoded image with the bytes it holds reserved against the process memory budget.
struct BudgetedImage {
    toolkit::Image image;
    toolkit::MemoryReservation hold; ///< the image's bytes, given back when this goes
};

/// loadImageFile for decodes outside a run's work queue (the live preview, the preparation's
/// colour counts, an overlay picture), so that they are counted against the process memory budget
/// like a run's: the file's decode estimate is reserved first and, once decoded, shrunk to the
/// image (an estimate past the whole budget holds all of it, as in a run). With `keepWaiting` the
/// reservation waits for room while it returns true, and the image is empty when it gives up.
/// Without, the room is taken at once, past the limit if need be, and the reservations of others
/// wait while it is held.
[[nodiscard]] BudgetedImage loadImageFileBudgeted(const std::string& path, FormatKind formatKind,
                                                  const std::function<bool()>& keepWaiting = {});

/// Reads an image's width and height from its header, decoding the file when the header does not
/// tell. True when both lie in 1..65536; otherwise false with `out` all zero. `readError` (when
/// given) receives the errno when the file could not be read (platform::isReadError), else 0, so
/// that a failing disk is told apart from a file without a size.
[[nodiscard]] bool readImageSize(const std::string& path, ImageRect& out, int* readError = nullptr);

/// The size reader's work on bytes already in memory (`bytes` is the whole file).
[[nodiscard]] bool readImageSizeFromBytes(std::span<const std::uint8_t> bytes, ImageRect& out);

} // namespace quill::imagefiles
