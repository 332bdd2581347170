// The steps one image goes through in a run, each taking what it needs and returning what it
// found. The steps read the run plan and change nothing else that is shared, except where said:
// naming and committing use the run's naming state and may ask the overwrite question, so they
// run in list order on one thread; loading, editing and encoding touch only their own image.
#pragma once

#include "imagefiles/image_list.h"
#include "imagefiles/image_record.h"
#include "pipeline/edit_chain.h"
#include "pipeline/image_result.h"
#include "pipeline/jpeg_metadata.h"
#include "pipeline/metadata_carry.h"
#include "pipeline/run_plan.h"
#include "settings/output_naming.h"
#include "toolkit/image.h"
#include "toolkit/platform/platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quill::pipeline {

/// An image's result so far: Done while no step has failed.
struct ImageOutcome {
    ImageResult result = ImageResult::Done;
    std::int32_t detail = DetailNone;

    [[nodiscard]] bool ok() const { return result == ImageResult::Done; }
};

/// What the look at the source found before any work: the file, the format plan, the metadata.
struct SourceCheck {
    ImageOutcome outcome;
    FormatPlan format;
    std::uint32_t mode = 0; ///< the source's permission bits
    JpegMetadata metadata;  ///< picked up from a JPEG that stays a JPEG
};

/// The source must be a regular file long enough to hold an image; its format decides the
/// output format, the encoder and whether it is decoded; a JPEG that stays a JPEG has its
/// metadata picked up.
[[nodiscard]] SourceCheck checkSource(const RunPlan& plan, const imagefiles::ImageRecord& record);

/// The naming state of one run: the numbering counters and the overwrite answers given "for all".
/// Used in list order by one thread.
struct RunNaming {
    RunNaming(const RunPlan& plan, settings::CollisionPolicy& policy)
        : namer(plan.settings, plan.run, plan.commonBase), collisions(policy) {}
    settings::OutputNamer namer;
    settings::CollisionRule collisions;
};

/// Where an image's output goes.
struct OutputTarget {
    ImageOutcome outcome;
    settings::OutputPath output;
    settings::CollisionDecision collision = settings::CollisionDecision::Write;
    int nameRetries = 0;          ///< names found taken by others so far (naming and commit)
    bool skippedAtCommit = false; ///< the name was taken meanwhile and is not to be replaced
};

/// The output path with its numbering, and what to do about a file that is already there (the
/// overwrite question may be asked).
[[nodiscard]] OutputTarget nameOutput(const RunPlan& plan, RunNaming& naming,
                                      const imagefiles::ImageRecord& record,
                                      const FormatPlan& format);

/// How a source is decoded for the editing chain: reduced in the JPEG DCT when the resize that
/// follows reduces at least as much and no step before it needs the full pixels.
struct SourceDecode {
    int reduction = 1;  ///< 1, 2, 4 or 8
    ReducedFrom full{}; ///< the full image's size (from the file's header) when reduced
    /// The source's EXIF orientation 1..8 when the rotate step turns upright and the decoder
    /// leaves the turn to it; 0 otherwise (no tag, or the decoder turned the picture already).
    std::int32_t orientation = 0;
};

/// The EXIF orientation 1..8 an upright turn of the file at `path` follows, read as its format
/// keeps it; 0 when it has none, cannot be read, or the format's decoder turns the picture itself.
[[nodiscard]] std::int32_t uprightOrientation(const std::string& path, imagefiles::FormatKind kind);

/// The decode of `record`'s source the plan allows.
[[nodiscard]] SourceDecode sourceDecodeFor(const RunPlan& plan,
                                           const imagefiles::ImageRecord& record);

/// The colour space of a decoded image's pixels as the run decided it.
struct SourceColour {
    /// The ICC profile the pixels are in and the output embeds as it is; empty when they are
    /// sRGB (or the source had no profile Little CMS can use).
    std::vector<std::uint8_t> profile = {};
    /// The source's profile is not to reach the output: its pixels were converted to sRGB, or
    /// sRGB was asked for.
    bool sourceProfileDropped = false;
};

/// A decoded source and the file its bytes came from.
struct LoadedSource {
    toolkit::Image image = {}; ///< empty when the source could not be decoded
    std::optional<platform::FileStamp> readStamp = {};
    SourceColour colour = {};
};

/// Decodes the source (reduced as `decode` says); an empty image when it cannot (the image then
/// fails with LoadFailed). Never throws. A source with a colour profile keeps it when the output
/// can carry it, metadata is kept and sRGB is not asked for; otherwise its pixels are converted
/// to sRGB here, before any editing step.
[[nodiscard]] LoadedSource loadSource(const RunPlan& plan, const imagefiles::ImageRecord& record,
                                      const SourceDecode& decode = {});

/// The overlay text expanded for this image ("" without a text overlay).
[[nodiscard]] std::string overlayTextFor(const RunPlan& plan,
                                         const imagefiles::ImageRecord& record);

/// A decoded image after the editing chain.
struct EditedImage {
    ImageOutcome outcome;
    toolkit::Image image = {};
    int fileDepth = 24; ///< 32 when the file or the canvas brought alpha
    int width = 0;      ///< the size after the last step
    int height = 0;
    int rotationApplied = -1; ///< rotateMode of the turn made when the rotate step turned it
    /// The EXIF orientation the output's metadata must carry: 1 after an upright turn of a source
    /// stored turned (the pixels are upright now); -1 when the edit leaves the source's tag as
    /// it is (the JPEG carry-over may still patch it, see SavedJpegOptions::useExifOrientation).
    std::int32_t orientationAfterEdit = -1;
    /// The source file as the decoder read it: only that file may be replaced or removed.
    std::optional<platform::FileStamp> readStamp = {};
    SourceColour colour = {}; ///< the colour space of `image`, from the loaded source
    /// The source's EXIF, XMP and IPTC for an output that gets them other than through the JPEG
    /// segment carry-over (see pickUpCarriedMetadata); null when none travel.
    std::shared_ptr<const CarriedMetadata> carried = {};
    /// Bytes the metadata segments and comment put into a JPEG output after it is written (see
    /// jpegSegmentBytes); counted against the size limit.
    std::uint64_t jpegSegmentBytes = 0;
};

/// The bytes finishOutput puts into the JPEG output of `record` (its carried segments and the
/// comment, each with its marker and length); 0 when the output is no JPEG or is not size
/// limited. Reads the source's segments as checkSource does.
[[nodiscard]] std::uint64_t jpegSegmentBytes(const RunPlan& plan,
                                             const imagefiles::ImageRecord& record,
                                             const EditedImage& edited);

/// The source's metadata that travels into its re-encoded output: read when the metadata is kept
/// and the output is not a JPEG from a JPEG (that carries its segments) nor a PDF, and the output
/// format can hold it. Null otherwise or when the source holds none.
[[nodiscard]] std::shared_ptr<const CarriedMetadata>
pickUpCarriedMetadata(const RunPlan& plan, const imagefiles::ImageRecord& record);

/// Runs the editing chain of the plan over a decoded image with the calling thread's tools.
/// `afterStep` is called after each of the chain's step groups. `decode` is how the image was
/// decoded: a reduced image is resized to the size the full image gives. `colour` is the loaded
/// source's: overlays are drawn in the profile it keeps.
[[nodiscard]] EditedImage editImage(const RunPlan& plan, const EditTools& tools,
                                    toolkit::Image image, std::string_view overlayText,
                                    const std::function<void(EditStep)>& afterStep,
                                    const SourceDecode& decode = {}, SourceColour colour = {});

/// An edited image encoded in memory, ready to be committed.
struct EncodedImage {
    std::optional<std::vector<std::uint8_t>> bytes = {}; ///< nullopt: the encoder failed
    bool pdf = false; ///< the bytes are a JPEG to be wrapped into a PDF
    int width = 0;    ///< the image's size (a PDF page is laid out from it)
    int height = 0;
    /// Written at the lowest quality of the size search and still larger than the size limit.
    bool overLimit = false;
};

/// A JPEG source's output made by transforming its DCT coefficients (see losslessJpegPlan): the
/// edited image's record, without pixels, and the output's bytes.
struct LosslessOutput {
    EditedImage edited;
    EncodedImage encoded;
};

/// The output of a JPEG source whose edit the lossless transform can make exactly; nullopt when
/// the plan or the file does not allow it, or the file cannot be read: the image then takes the
/// decoding path, which decides what a failure is. `decode` is sourceDecodeFor's answer.
[[nodiscard]] std::optional<LosslessOutput>
transformLosslessly(const RunPlan& plan, const imagefiles::ImageRecord& record,
                    const SourceDecode& decode);

/// The room the lossless transform of `record` holds in the memory budget, or 0 when the plan
/// never transforms it. `width` x `height` is the source's size (estimateDecode).
[[nodiscard]] std::uint64_t losslessHoldBytes(const RunPlan& plan,
                                              const imagefiles::ImageRecord& record,
                                              std::int64_t width, std::int64_t height);

/// Encodes the edited image as the format plan says (a PDF's page as a baseline JPEG). With a
/// size limit, the quality is the highest up to the one asked for whose written file (with its
/// metadata, or the PDF around the JPEG) fits, see imagefiles::encodeWithinSize.
/// `outputPath` is the named output (its extension can ask for a bare JPEG 2000 codestream).
/// The pixels of `edited` are converted to sRGB first when its profile cannot go into the output
/// (a bare JPEG 2000 codestream, which only the name decides).
[[nodiscard]] EncodedImage encodeOutput(const RunPlan& plan, const FormatPlan& format,
                                        EditedImage& edited, const std::string& outputPath);

/// What committing the output did.
struct CommitResult {
    ImageOutcome outcome;
    int systemError = 0;    ///< errno of a failed write (ENOSPC: the disk is full)
    bool written = false;   ///< an output file was put in place
    bool overLimit = false; ///< the file put in place is larger than the size limit
};

/// Puts the output in place without ever leaving a partial file: the encoded image (or its PDF),
/// or without one (`encoded` null) a copy or move of the source, or nothing when the output is
/// the source itself. A name taken meanwhile moves on to the next number or is decided by the
/// overwrite rule (which may ask). `target.output` then holds the path written. An output that
/// takes the source's own name replaces it only while the path still names the file `readStamp`
/// describes, unchanged.
[[nodiscard]] CommitResult commitOutput(const RunPlan& plan, RunNaming& naming,
                                        const imagefiles::ImageRecord& record, OutputTarget& target,
                                        const EncodedImage* encoded,
                                        const std::optional<platform::FileStamp>& readStamp = {});

/// Metadata, permissions and dates of the output in place. `edited` is the decoded image's
/// record (without its pixels) or null when the file was not decoded. The first failure counts;
/// permissions and dates are still set after a failed metadata step.
[[nodiscard]] ImageOutcome finishOutput(const RunPlan& plan, const imagefiles::ImageRecord& record,
                                        SourceCheck& source, const std::string& outputPath,
                                        const EditedImage* edited);

/// Removes a decoded image's source when its output takes its place (results next to the
/// sources, or moved), once the output is completely in place, and only when the path still
/// names the file the decoder read (`readStamp`), unchanged; otherwise the image fails with
/// DetailSourceChanged and the file stays. The source's folder is flushed after the removal.
[[nodiscard]] ImageOutcome settleSource(const RunPlan& plan, const imagefiles::ImageRecord& record,
                                        const std::optional<platform::FileStamp>& readStamp,
                                        const std::string& outputPath);

/// Adds the source or output to the keep list of a window run, as the keep options say.
/// `outputPath` is null when no output path was computed.
void keepImage(const RunPlan& plan, imagefiles::ImageList& keepList,
               const imagefiles::ImageRecord& record, const ImageOutcome& outcome,
               const std::string* outputPath);

namespace detail {
/// Test seam: called by editImage, on whichever thread edits, with the decoded image's size
/// before the first editing step; what it throws leaves editImage as a throwing step would.
/// nullptr (the default) does nothing.
using EditFault = void (*)(int width, int height);
void setEditFault(EditFault fault);
} // namespace detail

} // namespace quill::pipeline
