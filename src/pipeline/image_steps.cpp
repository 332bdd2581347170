// The steps one image goes through in a run.
//
// Writing follows one rule throughout: nothing that exists is removed or replaced until the file
// that takes its place is completely written and flushed to the disk. Outputs are written under a
// temporary name and renamed into place; a source is deleted only after its output (a PDF
// included) is in place and post-processed, and only when the path still names the file that was
// loaded; an existing output that is to be replaced is replaced by that rename, never deleted in
// advance. A new output never replaces a file that appeared after the collision check (another
// run, another program): the commit refuses, and the next number or the collision rule decides.
#include "pipeline/image_steps.h"

#include "imagefiles/colour_profile.h"
#include "imagefiles/format.h"
#include "imagefiles/icc_reader.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "imagefiles/size_limit.h"
#include "pdf/pdf_page_layout.h"
#include "pipeline/exif.h"
#include "pipeline/lossless_jpeg.h"
#include "settings/placeholders.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>

namespace quill::pipeline {
namespace {

namespace platform = quill::platform;
using imagefiles::ImageRecord;

/// How often one image looks for another free name when other runs keep taking them.
constexpr int kMaxNameRetries = 1000;

ImageOutcome failed(ImageResult result, std::int32_t detail = DetailNone) {
    return {result, detail};
}

std::string expanded(const RunPlan& plan, const ImageRecord& record, const std::string& text) {
    return settings::expandImageTokens(text, settings::placeholderValuesOf(record),
                                       plan.settings.noZeroPadding != 0);
}

/// The commit found the name taken although it was free at the collision check.
bool onOutputTaken(RunNaming& naming, const ImageRecord& record, OutputTarget& out,
                   platform::CommitTarget& target) {
    if (++out.nameRetries > kMaxNameRetries) return false;
    if (out.output.numberUsed >= 0) {
        // Numbered names: that number is gone; the namer marks it taken and moves on to the
        // next free one without listing the folder again.
        if (!naming.namer.nextFreeNumber(out.output)) return false;
        target.path = out.output.path;
        return true;
    }
    // A fixed name: an existing output, decided by the collision rule.
    out.collision = naming.collisions.resolve(target.path, record.sourcePath,
                                              settings::CollisionCheck::Applies);
    if (out.collision != settings::CollisionDecision::Replace) {
        out.skippedAtCommit = true;
        return false;
    }
    target.mode = platform::Overwrite::Replace;
    return true;
}

/// Writes encoded bytes (or their PDF) onto the target; the errno on failure, else 0.
std::optional<int> writeEncoded(const RunPlan& plan, const EncodedImage& encoded,
                                platform::CommitTarget& target) {
    if (!encoded.bytes) return 0;
    if (encoded.pdf) {
        const pdf::PdfWrapOutcome outcome = pdf::wrapJpegBytesAsPdf(
            *encoded.bytes, encoded.width, encoded.height, plan.pdfCreator, target);
        if (outcome.result != pdf::PdfWrapResult::Done) return outcome.systemError;
        return std::nullopt;
    }
    const auto written = imagefiles::writeEncodedFile(target, *encoded.bytes);
    if (!written) return written.systemError;
    return std::nullopt;
}

/// Copies or moves a source that is not decoded; nullopt when nothing was to be done.
std::optional<bool> copyOrMove(const settings::Preset& s, const ImageRecord& record,
                               platform::CommitTarget& target) {
    if (s.outputDirEnabled && !s.moveOriginal) return platform::copyFile(record.sourcePath, target);
    if (s.renameEnabled || (s.outputDirEnabled && s.moveOriginal))
        return platform::moveFile(record.sourcePath, target);
    return std::nullopt;
}

/// The file dates an output gets, as the date source says: modification and access time.
std::pair<std::int64_t, std::int64_t> outputDates(const RunPlan& plan, const ImageRecord& record) {
    switch (plan.settings.fileDateSource) {
    case settings::FileDateSource::Fixed:
        return {plan.run.fixedDateRun, plan.run.fixedDateRun};
    case settings::FileDateSource::ImageDate:
        return {record.recordedDate, record.recordedDate};
    case settings::FileDateSource::Shifted: {
        const std::int64_t shift = std::int64_t(plan.settings.fileDateShiftMinutes) * 60;
        return {record.recordedDate + shift, record.accessedDate + shift};
    }
    default:
        return {record.modifiedDate, record.accessedDate};
    }
}

/// Whether a decoded source's profile can go into its output as it is: metadata is kept, sRGB
/// is not asked for, and the output format holds a profile at the depth it is written with (a
/// bare JPEG 2000 codestream, named only later, is settled when it is encoded).
bool outputCarriesProfile(const RunPlan& plan, imagefiles::FormatKind sourceFormat) {
    const settings::Preset& s = plan.settings;
    if (s.convertToSrgb != 0 || s.keepMetadata == 0) return false;
    const FormatPlan format = plan.formatFor(sourceFormat);
    if (!format.encoder || format.pdf) return false;
    const int depth = format.depthOptionApplies ? plan.encode.outputDepth : 24;
    return imagefiles::outputKeepsProfile(*format.encoder, depth, false);
}

/// The colour decision for a decoded source: its profile is kept for the output, or its pixels
/// are converted to sRGB (an sRGB profile needs no conversion) and the profile dropped. A
/// profile Little CMS cannot use on RGB pixels counts as none.
void settleSourceColour(const RunPlan& plan, const ImageRecord& record, LoadedSource& loaded) {
    SourceColour& colour = loaded.colour;
    const imagefiles::ProfileKind kind = imagefiles::profileKind(colour.profile);
    if (kind == imagefiles::ProfileKind::None) {
        colour = {};
        return;
    }
    if (outputCarriesProfile(plan, record.formatKind)) return;
    if (kind == imagefiles::ProfileKind::OtherRgb)
        (void)imagefiles::convertImageToSrgb(loaded.image, colour.profile);
    colour = {.profile = {}, .sourceProfileDropped = true};
}

/// Removes the APP2 profile segments from metadata carried from a JPEG source.
void dropProfileSegments(JpegMetadata& metadata) {
    static constexpr std::uint8_t kApp2 = 0xE2;
    static constexpr char kName[] = "ICC_PROFILE"; // with its NUL, as the segment starts
    std::erase_if(metadata.segments, [](const MetadataSegment& segment) {
        return segment.marker == kApp2 && segment.data.size() >= sizeof kName &&
               std::equal(kName, kName + sizeof kName, segment.data.begin());
    });
}

/// Removing metadata from a copied JPEG leaves its profile segments in place: the pixels are not
/// converted, and without their profile they would show other colours.
void keepProfileOfCopy(const std::string& copyPath, JpegMetadata& metadata) {
    const bool app2 = std::any_of(metadata.segments.begin(), metadata.segments.end(),
                                  [](const MetadataSegment& s) { return s.marker == 0xE2; });
    if (app2 && loadMetadata(copyPath, metadata)) dropProfileSegments(metadata);
}

/// How the edit changed the picture, for the metadata that travels with it.
CarryEdit carryEditOf(const RunPlan& plan, const EditedImage& edited) {
    const settings::Preset& s = plan.settings;
    return {.useExifOrientation = s.useExifOrientation != 0,
            .rotationApplied = edited.rotationApplied,
            .sizeMayHaveChanged =
                s.cropEnabled || s.rotateEnabled || s.resizeEnabled || s.canvasEnabled,
            .width = edited.width,
            .height = edited.height,
            .removeLocation = s.removeLocation != 0,
            .orientationAfterEdit = edited.orientationAfterEdit};
}

/// Encodes with the source's metadata: AVIF and JPEG XL take it while encoding, the other formats
/// Exiv2 writes get it put into the encoded bytes. An output Exiv2 cannot write into is kept as
/// encoded, without metadata.
std::optional<std::vector<std::uint8_t>>
encodeWithMetadata(const RunPlan& plan, const EditedImage& edited, imagefiles::Encoder encoder,
                   imagefiles::EncodeOptions options, int depth) {
    const CarriedMetadata& carried = *edited.carried;
    const CarryEdit edit = carryEditOf(plan, edited);
    imagefiles::FileMetadata blocks;
    if (embedsWhileEncoding(encoder)) {
        blocks = blocksForEncoder(carried, edit);
        options.embed = &blocks;
    }
    auto bytes = imagefiles::encodeImage(edited.image, encoder, options, depth);
    if (bytes && embedsAfterEncoding(encoder)) {
        if (auto with = embedMetadata(*bytes, encoder, carried, edit)) bytes = std::move(with);
    }
    return bytes;
}

/// How a re-encoded JPEG output of `record` gets its metadata.
SavedJpegOptions savedJpegOptions(const RunPlan& plan, const ImageRecord& record,
                                  const EditedImage& edited) {
    const settings::Preset& s = plan.settings;
    return {.keepMetadata = s.keepMetadata != 0,
            .commentEnabled = s.commentEnabled != 0,
            .comment = s.commentEnabled ? expanded(plan, record, plan.run.commentRun) : "",
            .edit = carryEditOf(plan, edited)};
}

/// The output within the size limit: every encode of the search is completed as it would be
/// written (metadata put in, the PDF around the JPEG) and measured so.
EncodedImage encodeWithinLimit(const RunPlan& plan, const FormatPlan& format,
                               const EditedImage& edited, imagefiles::EncodeOptions options,
                               int depth) {
    const imagefiles::Encoder encoder = *format.encoder;
    imagefiles::FileMetadata blocks;
    std::optional<CarryEdit> edit;
    if (edited.carried && !format.pdf) {
        edit = carryEditOf(plan, edited);
        if (embedsWhileEncoding(encoder)) {
            blocks = blocksForEncoder(*edited.carried, *edit);
            options.embed = &blocks;
        }
    }
    const auto complete = [&](std::vector<std::uint8_t>& bytes) -> std::uint64_t {
        if (format.pdf)
            return pdf::pdfWrapSize(bytes, edited.width, edited.height, plan.pdfCreator);
        if (edit && embedsAfterEncoding(encoder)) {
            if (auto with = embedMetadata(bytes, encoder, *edited.carried, *edit))
                bytes = std::move(*with);
        }
        return bytes.size() + edited.jpegSegmentBytes;
    };
    imagefiles::SizedEncoding sized = imagefiles::encodeWithinSize(
        edited.image, encoder, options, depth, plan.encode.sizeLimitBytes, complete);
    const bool overLimit = sized.bytes.has_value() && !sized.fits;
    return EncodedImage{.bytes = std::move(sized.bytes),
                        .pdf = format.pdf,
                        .width = edited.width,
                        .height = edited.height,
                        .overLimit = overLimit};
}

/// The metadata of a JPEG output that is not a PDF; true when there was nothing to do.
bool writeMetadata(const RunPlan& plan, const ImageRecord& record, SourceCheck& source,
                   const std::string& outputPath, const EditedImage* edited) {
    const settings::Preset& s = plan.settings;
    if (edited) {
        if (edited->colour.sourceProfileDropped) dropProfileSegments(source.metadata);
        return carryMetadataIntoOutput(outputPath, source.metadata,
                                       savedJpegOptions(plan, record, *edited));
    }
    const std::string comment = s.commentEnabled ? expanded(plan, record, plan.run.commentRun) : "";
    // Metadata that was to be removed and is still there is a promise not kept.
    if (record.formatKind != imagefiles::FormatKind::Jpeg) return true;
    if (s.keepMetadata == 0) keepProfileOfCopy(outputPath, source.metadata);
    // A copy loses its location like a re-encoded output does.
    if (s.keepMetadata != 0 && s.removeLocation != 0 && !removeLocationOfCopy(outputPath))
        return false;
    return adjustMetadataOfCopy(
        outputPath, source.metadata,
        {.keepMetadata = s.keepMetadata != 0, .commentEnabled = s.commentEnabled != 0}, comment);
}

} // namespace

std::shared_ptr<const CarriedMetadata> pickUpCarriedMetadata(const RunPlan& plan,
                                                             const ImageRecord& record) {
    const FormatPlan format = plan.formatFor(record.formatKind);
    if (!plan.settings.keepMetadata || !format.decodeNeeded || format.jpegToJpeg || format.pdf ||
        !format.encoder)
        return nullptr;
    if (!embedsAfterEncoding(*format.encoder) && !embedsWhileEncoding(*format.encoder))
        return nullptr;
    try {
        auto carried = std::make_shared<CarriedMetadata>(
            readCarriedMetadata(record.sourcePath, record.formatKind));
        if (carried->empty()) return nullptr;
        return carried;
    } catch (const std::exception&) {
        return nullptr; // no memory for the blocks: the output goes without them
    }
}

SourceCheck checkSource(const RunPlan& plan, const ImageRecord& record) {
    SourceCheck check;
    // Only a regular file is an image: a FIFO, socket or device is never opened.
    const auto info = platform::fileInfo(record.sourcePath);
    if (!info || !(info->attributes & platform::AttrArchive) ||
        info->size < imagefiles::kMinimumFileSize) {
        check.outcome = failed(ImageResult::Unreadable);
        return check;
    }
    check.mode = info->mode;

    const bool video = record.formatKind == imagefiles::FormatKind::Video;
    check.format = plan.formatFor(record.formatKind);
    // A format that cannot be written still gets its new name or place when it is not decoded.
    const bool unwritable = !video && !check.format.encoder;
    if (unwritable && (check.format.decodeNeeded || !plan.fileOperation)) {
        check.outcome = failed(ImageResult::UnsupportedFormat);
        return check;
    }

    const settings::Preset& s = plan.settings;
    if (check.format.jpegToJpeg)
        check.metadata =
            pickUpMetadata(record.sourcePath, {.keepMetadata = s.keepMetadata != 0,
                                               .commentEnabled = s.commentEnabled != 0,
                                               .reencoded = check.format.decodeNeeded});
    // Metadata that could not be read is not metadata the file lacks: the output would go out
    // without it, and a moved source would take it along to nowhere.
    if (check.metadata.readError) check.outcome = failed(ImageResult::Unreadable, DetailReadError);
    return check;
}

OutputTarget nameOutput(const RunPlan& plan, RunNaming& naming, const ImageRecord& record,
                        const FormatPlan& format) {
    OutputTarget out;
    const settings::OutputFormatChoice choice{.formatChanges = format.formatChanges,
                                              .targetFormat = format.targetFormat,
                                              .pdf = format.pdf};
    out.output = naming.namer.outputPathFor(record, choice);
    switch (out.output.status) {
    case settings::OutputPathStatus::Ready:
        break;
    case settings::OutputPathStatus::SameAsSource:
        out.outcome = failed(ImageResult::SameAsSource);
        return out;
    case settings::OutputPathStatus::NumberingFailed:
        out.outcome = failed(ImageResult::StepFailed, DetailNumbering);
        return out;
    }

    // A numbered name is never an existing output: a name another run took since the number
    // was placed moves on to the next number, and one taken after this check is caught when the
    // output is committed without replacing (the image then moves on to the next number).
    const bool numbered = out.output.numberUsed >= 0 && out.output.path != record.sourcePath;
    if (numbered) {
        while (platform::fileExists(out.output.path) && ++out.nameRetries <= kMaxNameRetries) {
            if (!naming.namer.nextFreeNumber(out.output)) {
                out.outcome = failed(ImageResult::StepFailed, DetailNumbering);
                return out;
            }
        }
        return out;
    }

    // Without conversion, renaming or an output directory the output is the source itself; any
    // other path is an existing output like every other.
    const bool checked = settings::collisionCheckApplies(plan.settings, choice.formatChanges) ||
                         out.output.path != record.sourcePath;
    out.collision = naming.collisions.resolve(out.output.path, record.sourcePath,
                                              checked ? settings::CollisionCheck::Applies
                                                      : settings::CollisionCheck::Skipped);
    if (out.collision == settings::CollisionDecision::Skip)
        out.outcome = failed(ImageResult::SkippedExisting);
    return out;
}

namespace {

// The largest file whose orientation is looked for in a whole read (as the loaders read).
constexpr std::uint64_t kMaxOrientationFile = std::uint64_t{1} << 31;

} // namespace

// Decoders that turn the picture themselves (HEIF and AVIF by their transform boxes, JPEG XL,
// camera RAW) say so in the format table and get 0, so that no picture is turned twice; the
// TIFF decoder returns the rows as stored, so TIFF files are turned by the orientation of their
// first directory.
std::int32_t uprightOrientation(const std::string& path, imagefiles::FormatKind kind) {
    if (kind == imagefiles::FormatKind::Jpeg) {
        const std::int32_t value = readExifDetails(path).orientation.value_or(0);
        return value >= 1 && value <= 8 ? value : 0;
    }
    const bool png = kind == imagefiles::FormatKind::Png;
    const bool tiff = kind == imagefiles::FormatKind::Tiff;
    const imagefiles::FormatInfo* format = imagefiles::formatInfo(kind);
    const bool exifReader = format && format->metadata && !format->decoderTurnsUpright;
    if (!png && !tiff && !exifReader) return 0;
    const auto bytes = platform::readFile(path, kMaxOrientationFile);
    if (!bytes) return 0; // the decode that follows reports an unreadable file
    if (png) return tiffOrientation(pngExifBlock(*bytes));
    if (tiff) return tiffOrientation(*bytes);
    return tiffOrientation(format->metadata(*bytes).exif);
}

SourceDecode sourceDecodeFor(const RunPlan& plan, const ImageRecord& record) {
    const EditPlan& edit = plan.edit;
    SourceDecode decode;
    if (edit.rotate == RotateMode::Upright)
        decode.orientation = uprightOrientation(record.sourcePath, record.formatKind);
    // A crop or trim needs the full pixels; the resize is the first step that may lose them.
    const bool jpeg = record.formatKind == imagefiles::FormatKind::Jpeg;
    const bool raw = record.formatKind == imagefiles::FormatKind::CameraRaw;
    if ((!jpeg && !raw) || !edit.scale || edit.crop) return decode;
    imagefiles::ImageRect rect;
    if (!imagefiles::readImageSize(record.sourcePath, rect)) return decode;
    const std::optional<RotateMode> turn = turnFor(edit, decode.orientation);
    const bool turned = turn && sidesSwap(*turn);
    const int width = turned ? rect.height : rect.width;
    const int height = turned ? rect.width : rect.height;
    int reduction = 1;
    if (jpeg) {
        reduction = largestDctReduction(width, height, *edit.scale);
    } else if (const auto target = measureScale(*edit.scale, width, height)) {
        // A camera RAW developed at half size takes one pixel from each 2 x 2 cell of its
        // sensor instead of interpolating them: as sharp as the full decode once halved.
        if (2 * std::int64_t(target->width) <= width && 2 * std::int64_t(target->height) <= height)
            reduction = 2;
    }
    if (reduction <= 1) return decode;
    decode.reduction = reduction;
    decode.full = {rect.width, rect.height};
    return decode;
}

LoadedSource loadSource(const RunPlan& plan, const ImageRecord& record,
                        const SourceDecode& decode) {
    const imagefiles::Videos videos{plan.settings.includeVideos != 0};
    LoadedSource loaded;
    platform::FileStamp stamp;
    try {
        loaded.image = decode.reduction > 1
                           ? imagefiles::loadImageFileReduced(record.sourcePath, record.formatKind,
                                                              decode.reduction, videos, &stamp,
                                                              &loaded.colour.profile)
                           : imagefiles::loadImageFile(record.sourcePath, record.formatKind, videos,
                                                       &stamp, &loaded.colour.profile);
        if (!loaded.image.empty()) settleSourceColour(plan, record, loaded);
    } catch (const std::exception&) {
        return {}; // no memory for the decode, say: the image could not be loaded
    }
    if (!loaded.image.empty()) loaded.readStamp = stamp;
    return loaded;
}

std::string overlayTextFor(const RunPlan& plan, const ImageRecord& record) {
    const settings::Preset& s = plan.settings;
    if (!s.overlayEnabled || s.overlayKind != settings::OverlayKind::Text) return {};
    return expanded(plan, record, plan.run.overlayTextRun);
}

namespace {
std::atomic<detail::EditFault> g_editFault{nullptr};
} // namespace

void detail::setEditFault(EditFault fault) {
    g_editFault.store(fault);
}

EditedImage editImage(const RunPlan& plan, const EditTools& tools, toolkit::Image image,
                      std::string_view overlayText, const std::function<void(EditStep)>& afterStep,
                      const SourceDecode& decode, SourceColour colour) {
    if (const detail::EditFault fault = g_editFault.load()) fault(image.width(), image.height());
    EditedImage edited;
    const bool fileAlpha = image.hasAlpha();
    // A file that did not decode to the reduced size (not a JPEG after all, say) was decoded
    // whole and is resized as it is.
    std::optional<ReducedFrom> reducedFrom;
    const int r = decode.reduction;
    if (r > 1 && image.width() == (decode.full.width + r - 1) / r &&
        image.height() == (decode.full.height + r - 1) / r)
        reducedFrom = ReducedFrom{decode.full.width, decode.full.height, r};
    const EditOutcome chain = applyEditChain(image, plan.edit, tools, overlayText, afterStep,
                                             reducedFrom, decode.orientation, colour.profile);
    edited.outcome = {chain.result, chain.detail};
    // A canvas filled with transparency turns the output into a 32-bit file.
    edited.fileDepth = fileAlpha || chain.canvasMadeAlpha ? 32 : 24;
    edited.width = image.width();
    edited.height = image.height();
    edited.rotationApplied = chain.rotation ? int(*chain.rotation) : -1;
    if (chain.rotation && turnsFirst(plan.edit)) edited.orientationAfterEdit = 1;
    edited.image = std::move(image);
    edited.colour = std::move(colour);
    return edited;
}

std::optional<LosslessOutput> transformLosslessly(const RunPlan& plan, const ImageRecord& record,
                                                  const SourceDecode& decode) {
    const auto edit = losslessJpegPlan(plan, record.formatKind, decode.orientation);
    if (!edit) return std::nullopt;
    platform::FileStamp stamp;
    const auto bytes = platform::readFile(record.sourcePath, kMaxOrientationFile, &stamp);
    if (!bytes) return std::nullopt;
    // Without its metadata the output would lose the source's profile: a profile other than
    // sRGB takes the decoding path, which converts the pixels to sRGB.
    if (plan.settings.keepMetadata == 0 && imagefiles::profileKind(imagefiles::readIccProfile(
                                               *bytes)) == imagefiles::ProfileKind::OtherRgb)
        return std::nullopt;
    std::optional<LosslessJpeg> made;
    try {
        made = transformJpegLosslessly(*bytes, *edit);
    } catch (const std::bad_alloc&) {
        return std::nullopt; // the decoding path needs less room
    }
    if (!made) return std::nullopt;
    LosslessOutput out;
    EditedImage& edited = out.edited;
    edited.width = made->width;
    edited.height = made->height;
    edited.rotationApplied = edit->turn ? int(*edit->turn) : -1;
    if (edit->turn && turnsFirst(plan.edit)) edited.orientationAfterEdit = 1;
    edited.readStamp = stamp;
    out.encoded.bytes.emplace(std::move(made->bytes));
    out.encoded.width = made->width;
    out.encoded.height = made->height;
    return out;
}

std::uint64_t losslessHoldBytes(const RunPlan& plan, const ImageRecord& record, std::int64_t width,
                                std::int64_t height) {
    // Any orientation: only whether the plan could take the lossless path matters here.
    if (!losslessJpegPlan(plan, record.formatKind, 0)) return 0;
    return losslessJpegWorkBytes(width, height,
                                 std::uint64_t(std::max<std::int64_t>(0, record.fileSize)));
}

EncodedImage encodeOutput(const RunPlan& plan, const FormatPlan& format, EditedImage& edited,
                          const std::string& outputPath) {
    // Never decoded: such a format fails before.
    if (!format.encoder)
        return EncodedImage{
            .bytes = {}, .pdf = format.pdf, .width = edited.width, .height = edited.height};
    imagefiles::EncodeOptions options{.quality = plan.encode.quality};
    int depth = edited.fileDepth;
    if (format.depthOptionApplies) {
        options.dither = plan.encode.dither;
        depth = plan.encode.outputDepth;
    }
    // The page of a PDF is a JPEG in memory; readers of PDF take baseline frames only.
    options.baseline = format.pdf;
    options.codestream = imagefiles::writesCodestream(*format.encoder, outputPath);
    std::vector<std::uint8_t>& profile = edited.colour.profile;
    if (!profile.empty() &&
        !imagefiles::outputKeepsProfile(*format.encoder, depth, options.codestream)) {
        // Only a bare JPEG 2000 codestream, which its name decides, gets here: no colour box.
        (void)imagefiles::convertImageToSrgb(edited.image, profile);
        profile.clear();
        edited.colour.sourceProfileDropped = true;
    }
    // A JPEG from a JPEG gets the source's own profile segments with the rest of its metadata.
    if (!(format.jpegToJpeg && plan.settings.keepMetadata != 0)) options.iccProfile = profile;
    if (format.sizeLimited) return encodeWithinLimit(plan, format, edited, options, depth);
    // Built in one piece: GCC 12 at -O1 takes a result filled in after its declaration for one
    // that may be read uninitialised.
    return EncodedImage{
        .bytes = edited.carried && !format.pdf
                     ? encodeWithMetadata(plan, edited, *format.encoder, options, depth)
                     : imagefiles::encodeImage(edited.image, *format.encoder, options, depth),
        .pdf = format.pdf,
        .width = edited.width,
        .height = edited.height,
        .overLimit = false};
}

std::uint64_t jpegSegmentBytes(const RunPlan& plan, const ImageRecord& record,
                               const EditedImage& edited) {
    const FormatPlan format = plan.formatFor(record.formatKind);
    if (!format.sizeLimited || format.pdf || format.targetFormat != imagefiles::FormatKind::Jpeg)
        return 0;
    const settings::Preset& s = plan.settings;
    JpegMetadata metadata;
    if (format.jpegToJpeg)
        metadata = pickUpMetadata(record.sourcePath, {.keepMetadata = s.keepMetadata != 0,
                                                      .commentEnabled = s.commentEnabled != 0,
                                                      .reencoded = format.decodeNeeded});
    if (edited.colour.sourceProfileDropped) dropProfileSegments(metadata);
    prepareCarriedSegments(metadata, savedJpegOptions(plan, record, edited));
    return insertedSegmentBytes(metadata);
}

CommitResult commitOutput(const RunPlan& plan, RunNaming& naming, const ImageRecord& record,
                          OutputTarget& out, const EncodedImage* encoded,
                          const std::optional<platform::FileStamp>& readStamp) {
    CommitResult commit;
    platform::CommitTarget target;
    target.path = out.output.path;
    const bool replaces = out.collision == settings::CollisionDecision::Replace ||
                          out.output.path == record.sourcePath;
    target.mode = replaces ? platform::Overwrite::Replace : platform::Overwrite::FailIfExists;
    target.onExists = [&](platform::CommitTarget& t) {
        return onOutputTaken(naming, record, out, t);
    };
    // An output written over its own source replaces only the picture that was decoded: a file
    // that another program put there, or rewrote, since the read is the user's newer picture.
    bool sourceChanged = false;
    if (encoded && readStamp) {
        target.mayReplace = [&](const platform::CommitTarget& t) {
            if (t.path != record.sourcePath) return true;
            sourceChanged = platform::fileStamp(t.path) != readStamp;
            return !sourceChanged;
        };
    }

    // The output folder was made when the image was named; one removed since (by the user,
    // while the run goes on) is made again, as it would be before a run.
    if (plan.settings.outputDirEnabled && !out.output.directory.empty() &&
        !platform::isDirectory(out.output.directory))
        (void)platform::createDirectories(out.output.directory);

    std::optional<int> error;
    if (encoded) {
        error = writeEncoded(plan, *encoded, target);
    } else if (const auto done = copyOrMove(plan.settings, record, target)) {
        if (!*done) error = platform::lastError();
    } else {
        return commit; // the output is the source itself: nothing to write
    }
    if (!error) {
        commit.written = true;
        commit.overLimit = encoded && encoded->overLimit;
        return commit;
    }
    if (out.skippedAtCommit) {
        commit.outcome = failed(ImageResult::SkippedExisting);
        return commit;
    }
    commit.systemError = *error;
    commit.outcome =
        failed(ImageResult::WriteFailed, sourceChanged ? DetailSourceChanged : DetailNone);
    return commit;
}

ImageOutcome finishOutput(const RunPlan& plan, const ImageRecord& record, SourceCheck& source,
                          const std::string& outputPath, const EditedImage* edited) {
    const settings::Preset& s = plan.settings;
    ImageOutcome outcome;
    const bool jpegOutput =
        source.format.targetFormat == imagefiles::FormatKind::Jpeg && !source.format.pdf;
    if (jpegOutput && !writeMetadata(plan, record, source, outputPath, edited))
        outcome = failed(ImageResult::StepFailed, DetailMetadata);

    // Attributes and dates act on the output path itself, never on a link's target. Keeping the
    // source's permission bits is best effort (file systems without them refuse); a requested
    // reset or date that is not set fails the image.
    if (s.resetFileAttributes) {
        if (!platform::setDefaultPermissions(outputPath) && outcome.ok())
            outcome = failed(ImageResult::StepFailed, DetailFileDates);
    } else {
        (void)platform::setPermissions(outputPath, source.mode);
    }
    if (s.setFileDates) {
        const auto [modified, accessed] = outputDates(plan, record);
        // The creation date cannot be set on Linux; modification and access times are.
        if (!platform::setFileDates(outputPath, modified, accessed) && outcome.ok())
            outcome = failed(ImageResult::StepFailed, DetailFileDates);
    }
    return outcome;
}

ImageOutcome settleSource(const RunPlan& plan, const ImageRecord& record,
                          const std::optional<platform::FileStamp>& readStamp,
                          const std::string& outputPath) {
    const settings::Preset& s = plan.settings;
    const bool replaces = !s.outputDirEnabled || s.moveOriginal;
    if (!replaces || outputPath == record.sourcePath) return {};
    // The path must still name the file the decoder read, unchanged: a file put there meanwhile
    // (a new picture, a link to a file elsewhere) or rewritten in place is not ours to remove.
    if (!readStamp || platform::fileStamp(record.sourcePath) != readStamp)
        return failed(ImageResult::WriteFailed, DetailSourceChanged);
    if (!platform::deleteFile(record.sourcePath)) return failed(ImageResult::WriteFailed);
    // The removal counts only once the folder's entries are on the disk.
    if (!platform::syncDirectory(platform::directoryPart(record.sourcePath)))
        return failed(ImageResult::WriteFailed);
    return {};
}

void keepImage(const RunPlan& plan, imagefiles::ImageList& keepList, const ImageRecord& record,
               const ImageOutcome& outcome, const std::string* outputPath) {
    if (!plan.keepsAnything) return;
    const settings::Preset& s = plan.settings;
    if (s.keepProcessedSources)
        (void)imagefiles::addImageRecord(record.sourcePath, keepList, plan.keepOptions);
    if (s.keepFailedSources && !outcome.ok())
        (void)imagefiles::addImageRecord(record.sourcePath, keepList, plan.keepOptions);
    if (s.loadOutputImages && outcome.ok() && outputPath)
        (void)imagefiles::addImageRecord(*outputPath, keepList, plan.keepOptions);
}

} // namespace quill::pipeline
