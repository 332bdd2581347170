// The processing loop over the prepared image list.
//
// Writing follows one rule throughout: nothing that exists is removed or replaced until the file
// that takes its place is completely written and flushed to the disk. Outputs are written under a
// temporary name and renamed into place; a source is deleted only after its output (a PDF
// included) is in place and post-processed, and only when the path still names the file that was
// loaded; an existing output that is to be replaced is replaced by that rename, never deleted in
// advance. A new output never replaces a file that appeared after the collision check (another
// run, another program): the commit refuses, and the next number or the collision rule decides.
#include "pipeline/process_loop.h"

#include "imagefiles/format.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "pdf/pdf_page_layout.h"
#include "pipeline/edit_chain.h"
#include "pipeline/image_result.h"
#include "pipeline/jpeg_metadata.h"
#include "settings/placeholders.h"
#include "toolkit/memory_budget.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace quill::pipeline {
namespace {

namespace platform = quill::platform;
using imagefiles::ImageRecord;
using settings::Preset;

/// Conversion bits of one image.
enum ConversionBits : int {
    JpegToJpeg = 2,    ///< JPEG source written as JPEG
    FormatChanges = 4, ///< the output format differs from the source's
    PdfOutput = 8,     ///< the output is wrapped into a PDF
};

/// Values computed once per run from the working settings.
struct RunValues {
    int quality = 8;
    int outputDepth = 24;
    int depthFlag = 0;
    EditValues edit; ///< tone tables, channel offsets and the prepared overlay
    imagefiles::ListOptions keepOptions;
    bool keepsAnything = false; ///< one of the per-image keep options applies
};

RunValues computeRunValues(const Preset& s, const settings::RunSettings& run) {
    RunValues v;
    v.quality = s.qualityEnabled ? s.quality : 8;
    if (s.colorDepthEnabled) {
        static constexpr int kDepths[] = {1, 4, 8, 24, 32};
        const auto depth = s.colorDepth <= settings::ColorDepth::Bits32
                               ? s.colorDepth
                               : settings::ColorDepth::Bits24;
        v.outputDepth = kDepths[std::size_t(depth)];
        v.depthFlag = (s.colorDepth < settings::ColorDepth::Bits24 && s.colorDepthOption == 1)
                          ? imagefiles::kSaveFlagDither
                          : 0;
    }
    v.edit = prepareEditValues(s, run);
    v.keepOptions.includeHiddenFiles = true; // outputs and sources of the run are kept as they are
    v.keepOptions.includeVideos = true;
    v.keepsAnything =
        !s.exitAfterRun && (s.keepProcessedSources || s.keepFailedSources || s.loadOutputImages);
    return v;
}

/// The output format code for a source: the source's own, or the chosen output format.
int targetFormatFor(const Preset& s, int sourceFormat) {
    if (sourceFormat == imagefiles::FormatVideo) return sourceFormat;
    if (!s.convertFormat) return sourceFormat;
    switch (s.outputFormat) {
    case settings::OutputFormat::Jpeg:
        return imagefiles::FormatJpeg;
    case settings::OutputFormat::Png:
        return imagefiles::FormatPng;
    case settings::OutputFormat::Bmp:
        return imagefiles::FormatBmp;
    case settings::OutputFormat::Jpeg2000:
        return imagefiles::FormatJpeg2000;
    case settings::OutputFormat::Pdf:
        return imagefiles::FormatJpeg; // wrapped into a PDF afterwards
    default:
        return -1;
    }
}

/// How often one image looks for another free name when other runs keep taking them.
constexpr int kMaxNameRetries = 1000;

/// What happens to a source of a format, decided from the settings alone (steps 3 and 4).
struct ImagePlan {
    int targetFormat = -1;
    std::optional<imagefiles::Encoder> encoder; ///< none: the program cannot write the format
    int conversion = 0;
    bool depthOptionApplies = false;
    bool decodeNeeded = false;
};

ImagePlan planFor(const Preset& s, const settings::RunSettings& run, int source) {
    ImagePlan plan;
    const bool video = source == imagefiles::FormatVideo;
    plan.targetFormat = targetFormatFor(s, source);
    if (video) return plan; // never decoded, never re-encoded
    plan.encoder = imagefiles::encoderForFormat(plan.targetFormat);
    if (source == imagefiles::FormatJpeg && plan.targetFormat == imagefiles::FormatJpeg)
        plan.conversion |= JpegToJpeg;
    if (s.convertFormat && plan.targetFormat != source) plan.conversion |= FormatChanges;
    if (s.convertFormat && s.outputFormat == settings::OutputFormat::Pdf)
        plan.conversion = (plan.conversion & ~JpegToJpeg) | FormatChanges | PdfOutput;
    const int target = plan.targetFormat;
    const bool paletteTarget = target == imagefiles::FormatPng || target == imagefiles::FormatBmp;
    const bool qualityTarget =
        target == imagefiles::FormatJpeg || target == imagefiles::FormatJpeg2000;
    plan.depthOptionApplies = s.colorDepthEnabled && paletteTarget;
    const bool qualityApplies = s.qualityEnabled && qualityTarget;
    plan.decodeNeeded = s.cropEnabled || s.rotateEnabled || s.resizeEnabled || run.anyColorAdjust ||
                        s.canvasEnabled || s.overlayEnabled || (plan.conversion & FormatChanges) ||
                        qualityApplies || plan.depthOptionApplies;
    return plan;
}

/// The per-image work. One instance lives for one record.
class ImageJob {
public:
    ImageJob(ProcessEnvironment& env, RunValues& values, settings::OutputNamer& namer,
             settings::CollisionRule& collisions, ImageRecord& record, std::int32_t progressBase)
        : m_env(env), m_s(env.settings), m_values(values), m_namer(namer), m_collisions(collisions),
          m_record(record), m_progress(progressBase) {}

    /// Hands over the decode of this record's source that was made ahead of time; the load step
    /// then uses it instead of decoding again.
    void usePreloaded(std::future<toolkit::Image> preloaded) { m_preloaded = std::move(preloaded); }

    void run();
    /// The output path the job wrote (or would have written); "" when none was computed.
    [[nodiscard]] const std::string& outputPath() const {
        static const std::string none;
        return m_pathComputed ? m_output.path : none;
    }

private:
    void advance() { m_env.flags.progressCounter.store(++m_progress); }
    [[nodiscard]] bool ok() const { return m_result == ImageResult::Done; }
    void fail(ImageResult result, std::int32_t detail = DetailNone) {
        m_result = result;
        m_detail = detail;
    }

    void decide();
    void computeOutputPath();
    void loadAndEdit();
    void write();
    [[nodiscard]] platform::CommitTarget commitTarget();
    [[nodiscard]] bool onOutputTaken(platform::CommitTarget& target);
    void removeReplacedSource();
    void postProcess();
    void keep();
    [[nodiscard]] std::string expanded(const std::string& text) const {
        return settings::expandImageTokens(text, settings::placeholderValuesOf(m_record),
                                           m_s.noZeroPadding != 0);
    }

    ProcessEnvironment& m_env;
    const Preset& m_s;
    RunValues& m_values;
    settings::OutputNamer& m_namer;
    settings::CollisionRule& m_collisions;
    ImageRecord& m_record;
    std::int32_t m_progress;

    ImageResult m_result = ImageResult::Done;
    std::int32_t m_detail = DetailNone;
    int m_systemError = 0;
    int m_conversion = 0;
    bool m_decodeNeeded = false;
    bool m_depthOptionApplies = false;
    bool m_loaded = false;
    bool m_written = false;
    toolkit::Image m_image;
    int m_fileDepth = 24;
    int m_finalWidth = 0; ///< size of the working image after the last operation
    int m_finalHeight = 0;
    int m_targetFormat = -1;
    std::uint32_t m_encoder = 0;
    settings::OutputPath m_output;
    settings::OutputFormatChoice m_choice;
    settings::CollisionDecision m_collision = settings::CollisionDecision::Write;
    bool m_skippedAtCommit = false; ///< the output name was taken meanwhile and is not replaced
    int m_commitRetries = 0;
    std::optional<platform::FileIdentity> m_sourceIdentity;
    bool m_pathComputed = false;
    int m_rotationApplied = -1;
    std::uint32_t m_sourceMode = 0;
    JpegMetadata m_metadata;
    std::future<toolkit::Image> m_preloaded;
};

void ImageJob::run() {
    // Step 1: a result the preparation phase found already stands.
    const bool carried =
        m_env.run.needsImageData && (m_record.resultState == ImageResult::Unreadable ||
                                     m_record.resultState == ImageResult::LoadFailed);
    if (carried) {
        m_result = m_record.resultState;
        m_detail = m_record.resultCode;
    } else {
        decide();
        if (ok()) computeOutputPath();
        advance(); // output path and collision
        loadAndEdit();
        if (ok()) write();
        if (m_result == ImageResult::WriteFailed && platform::isDiskFull(m_systemError) &&
            m_env.diskFull.askStopAfterDiskFull(m_output.path))
            m_env.flags.runCancelled.store(1);
        m_image = toolkit::Image();
        advance(); // write
        if (ok()) postProcess();
        // The source goes last: after its output is in place, flushed and post-processed.
        if (ok()) removeReplacedSource();
    }
    keep();
    advance(); // keep list

    m_record.resultState = m_result;
    m_record.resultCode = m_detail;
    if (m_pathComputed) m_record.resultText = m_output.path;
    if (m_output.numberUsed >= 0 && !ok()) m_namer.giveBackNumber(m_output);
}

void ImageJob::decide() {
    // Step 2: the file must exist and be long enough to hold any image.
    // Only a regular file is an image: a FIFO, socket or device is never opened.
    const auto info = platform::fileInfo(m_record.sourcePath);
    if (!info || !(info->attributes & platform::AttrArchive) || info->size < kMinimumFileSize) {
        fail(ImageResult::Unreadable);
        return;
    }
    m_sourceMode = info->mode;
    m_sourceIdentity = platform::fileIdentity(m_record.sourcePath);

    // Steps 3 and 4: output format, encoder, conversion bits, whether to decode at all.
    const bool video = m_record.formatKind == imagefiles::FormatVideo;
    const ImagePlan plan = planFor(m_s, m_env.run, m_record.formatKind);
    m_targetFormat = plan.targetFormat;
    m_conversion = plan.conversion;
    m_depthOptionApplies = plan.depthOptionApplies;
    m_decodeNeeded = plan.decodeNeeded;
    if (plan.encoder)
        m_encoder = std::uint32_t(*plan.encoder);
    else if (!video)
        fail(ImageResult::UnsupportedFormat);
    if (m_result == ImageResult::UnsupportedFormat && !m_decodeNeeded) {
        const bool fileOperation = m_s.commentEnabled || !m_s.keepMetadata || m_s.setFileDates ||
                                   m_s.resetFileAttributes || m_s.renameEnabled ||
                                   m_s.outputDirEnabled;
        if (fileOperation) m_result = ImageResult::Done;
    }
    if (video) m_result = ImageResult::Done;
    if (!ok()) return;

    // Step 5: metadata of a JPEG that stays a JPEG.
    if (m_conversion & JpegToJpeg)
        m_metadata = pickUpMetadata(m_record.sourcePath, m_decodeNeeded, m_s.commentEnabled != 0,
                                    m_s.keepMetadata != 0);
}

void ImageJob::computeOutputPath() {
    // Step 6: directory, name with numbering, extension.
    settings::OutputFormatChoice& choice = m_choice;
    choice.formatChanges = (m_conversion & FormatChanges) != 0;
    choice.targetFormat = m_targetFormat;
    choice.pdf = (m_conversion & PdfOutput) != 0;
    m_output = m_namer.outputPathFor(m_record, choice);
    m_pathComputed = true;
    switch (m_output.status) {
    case settings::OutputPathStatus::Ready:
        break;
    case settings::OutputPathStatus::SameAsSource:
        fail(ImageResult::SameAsSource);
        return;
    case settings::OutputPathStatus::NumberingFailed:
        fail(ImageResult::StepFailed, DetailNumbering);
        return;
    }

    // Step 7: an existing output file.
    // A numbered name that another run took since the number was placed: take the next one.
    while (m_output.numberUsed >= 0 && m_output.path != m_record.sourcePath &&
           platform::fileExists(m_output.path) && ++m_commitRetries <= kMaxNameRetries) {
        if (!m_namer.nextFreeNumber(m_output)) {
            fail(ImageResult::StepFailed, DetailNumbering);
            return;
        }
    }
    // A numbered name is never an existing output: numbering skips taken names, and a name that
    // another run takes after this check is caught when the output is committed without
    // replacing (the image then moves on to the next number).
    if (m_output.numberUsed >= 0 && m_output.path != m_record.sourcePath) {
        m_collision = settings::CollisionDecision::Write;
        return;
    }

    // Without conversion, renaming or an output directory the output is the source itself; any
    // other path is an existing output like every other.
    const bool checked = settings::collisionCheckApplies(m_s, choice.formatChanges) ||
                         m_output.path != m_record.sourcePath;
    m_collision = m_collisions.resolve(m_output.path, m_record.sourcePath, checked);
    if (m_collision == settings::CollisionDecision::Skip) fail(ImageResult::SkippedExisting);
}

void ImageJob::loadAndEdit() {
    // Step 8: load.
    if (ok() && m_decodeNeeded) {
        m_image = m_preloaded.valid()
                      ? m_preloaded.get()
                      : imagefiles::loadImageFile(m_record.sourcePath, m_record.formatKind,
                                                  m_s.includeVideos != 0);
        if (m_image.empty())
            fail(ImageResult::LoadFailed);
        else {
            m_loaded = true;
            m_fileDepth = m_image.hasAlpha() ? 32 : 24;
        }
    }
    advance();
    // Steps 9 to 12: the editing chain, shared with the live preview, one progress unit per
    // step group whether it ran or not.
    constexpr int kEditSteps = 6;
    constexpr int kCanvasStep = 5;
    if (!ok() || !m_loaded) {
        for (int i = 0; i < kEditSteps; ++i)
            advance();
        return;
    }
    int stepsDone = 0;
    const std::string text = m_s.overlayEnabled && m_s.overlayKind == settings::OverlayKind::Text
                                 ? expanded(m_env.run.overlayTextRun)
                                 : std::string();
    const EditOutcome outcome = applyEditChain(m_image, m_s, m_env.run, m_values.edit, text, [&] {
        // A canvas filled with transparency turns the output into a 32-bit file.
        if (++stepsDone == kCanvasStep && m_s.canvasEnabled && m_image.hasAlpha()) m_fileDepth = 32;
        if (stepsDone == kEditSteps) {
            m_finalWidth = m_image.width();
            m_finalHeight = m_image.height();
        }
        advance();
    });
    m_rotationApplied = outcome.rotationApplied;
    if (outcome.result != ImageResult::Done) fail(outcome.result, outcome.detail);
}

platform::CommitTarget ImageJob::commitTarget() {
    platform::CommitTarget target;
    target.path = m_output.path;
    const bool replaces =
        m_collision == settings::CollisionDecision::Replace || m_output.path == m_record.sourcePath;
    target.mode = replaces ? platform::Overwrite::Replace : platform::Overwrite::FailIfExists;
    target.onExists = [this](platform::CommitTarget& t) { return onOutputTaken(t); };
    return target;
}

bool ImageJob::onOutputTaken(platform::CommitTarget& target) {
    // The name was free at the collision check and is taken now.
    if (++m_commitRetries > kMaxNameRetries) return false;
    if (m_output.numberUsed >= 0) {
        // Numbered names: that number is gone; the namer marks it taken and moves on to the
        // next free one without listing the folder again.
        if (!m_namer.nextFreeNumber(m_output)) return false;
        target.path = m_output.path;
        return true;
    }
    // A fixed name: an existing output, decided by the collision rule.
    m_collision = m_collisions.resolve(target.path, m_record.sourcePath, true);
    if (m_collision != settings::CollisionDecision::Replace) {
        m_skippedAtCommit = true;
        return false;
    }
    target.mode = platform::Overwrite::Replace;
    return true;
}

void ImageJob::write() {
    // Step 13: exactly one of save, copy, move (or nothing: the output is the source itself).
    platform::CommitTarget target = commitTarget();
    auto failWrite = [&](int systemError) {
        if (m_skippedAtCommit) {
            fail(ImageResult::SkippedExisting);
            return;
        }
        m_systemError = systemError;
        fail(ImageResult::WriteFailed);
    };
    if (m_loaded) {
        int flags = m_values.quality;
        int depth = m_fileDepth;
        if (m_depthOptionApplies) {
            flags += m_values.depthFlag;
            depth = m_values.outputDepth;
        }
        if (m_conversion & PdfOutput) {
            // The page's JPEG stays in memory; readers of PDF take baseline frames only.
            auto jpeg = imagefiles::encodeImage(m_image, imagefiles::Encoder::Jpeg,
                                                flags | imagefiles::kSaveFlagBaseline, depth);
            if (!jpeg) return failWrite(0);
            m_image = toolkit::Image();
            const pdf::PdfWrapOutcome outcome = pdf::wrapJpegBytesAsPdf(
                std::move(*jpeg), m_finalWidth, m_finalHeight, m_env.pdfCreator, target);
            if (outcome.result != pdf::PdfWrapResult::Done) return failWrite(outcome.systemError);
        } else {
            const auto saved = imagefiles::saveImageFile(
                m_image, target, imagefiles::Encoder(m_encoder), flags, depth);
            if (!saved) return failWrite(saved.systemError);
        }
        m_written = true;
        return;
    }
    if (m_s.outputDirEnabled && !m_s.moveOriginal) {
        if (!platform::copyFile(m_record.sourcePath, target))
            return failWrite(platform::lastError());
        m_written = true;
    } else if (m_s.renameEnabled || (m_s.outputDirEnabled && m_s.moveOriginal)) {
        if (!platform::moveFile(m_record.sourcePath, target))
            return failWrite(platform::lastError());
        m_written = true;
    }
}

void ImageJob::removeReplacedSource() {
    // A decoded image takes its source's place when results go next to the sources, or when
    // sources are moved; the source goes only now that the output is completely in place.
    if (!m_loaded || !m_written) return;
    const bool replaces = !m_s.outputDirEnabled || m_s.moveOriginal;
    if (!replaces || m_output.path == m_record.sourcePath) return;
    // The path must still name the file that was loaded: a file put there meanwhile (a link to
    // a file elsewhere, say) is not ours to remove.
    if (!m_sourceIdentity || platform::fileIdentity(m_record.sourcePath) != m_sourceIdentity) {
        m_systemError = ESTALE;
        fail(ImageResult::WriteFailed);
        return;
    }
    if (!platform::deleteFile(m_record.sourcePath)) {
        m_systemError = platform::lastError();
        fail(ImageResult::WriteFailed);
        return;
    }
    (void)platform::syncDirectory(platform::directoryPart(m_record.sourcePath));
}

void ImageJob::postProcess() {
    const std::string& target = m_output.path;
    const bool jpegOutput = m_targetFormat == imagefiles::FormatJpeg && !(m_conversion & PdfOutput);

    // Step 16: metadata, attributes, dates.
    if (jpegOutput) {
        const std::string comment = m_s.commentEnabled ? expanded(m_env.run.commentRun) : "";
        if (m_loaded) {
            SavedJpegOptions options;
            options.keepMetadata = m_s.keepMetadata != 0;
            options.commentEnabled = m_s.commentEnabled != 0;
            options.comment = comment;
            options.useExifOrientation = m_s.useExifOrientation != 0;
            options.rotationApplied = m_rotationApplied;
            options.sizeMayHaveChanged =
                m_s.cropEnabled || m_s.rotateEnabled || m_s.resizeEnabled || m_s.canvasEnabled;
            options.width = m_finalWidth;
            options.height = m_finalHeight;
            if (!carryMetadataIntoOutput(target, m_metadata, options))
                fail(ImageResult::StepFailed, DetailMetadata);
        } else if (m_record.formatKind == imagefiles::FormatJpeg) {
            // Metadata that was to be removed and is still there is a promise not kept.
            if (!adjustMetadataOfCopy(target, m_metadata, m_s.keepMetadata != 0,
                                      m_s.commentEnabled != 0, comment))
                fail(ImageResult::StepFailed, DetailMetadata);
        }
    }

    // Attributes and dates act on the output path itself, never on a link's target. Keeping the
    // source's permission bits is best effort (file systems without them refuse); a requested
    // reset or date that is not set fails the image.
    if (m_s.resetFileAttributes) {
        if (!platform::setDefaultPermissions(target) && ok())
            fail(ImageResult::StepFailed, DetailFileDates);
    } else {
        (void)platform::setPermissions(target, m_sourceMode);
    }

    if (m_s.setFileDates) {
        std::int64_t modified = m_record.modifiedDate;
        std::int64_t accessed = m_record.accessedDate;
        switch (m_s.fileDateSource) {
        case settings::FileDateSource::Fixed:
            modified = accessed = m_env.run.fixedDateRun;
            break;
        case settings::FileDateSource::ImageDate:
            modified = accessed = m_record.recordedDate;
            break;
        case settings::FileDateSource::Shifted: {
            const std::int64_t shift = std::int64_t(m_s.fileDateShiftMinutes) * 60;
            modified = m_record.recordedDate + shift;
            accessed = m_record.accessedDate + shift;
            break;
        }
        default:
            break;
        }
        // The creation date cannot be set on Linux; modification and access times are.
        if (!platform::setFileDates(target, modified, accessed) && ok())
            fail(ImageResult::StepFailed, DetailFileDates);
    }
}

void ImageJob::keep() {
    // Step 17: the keep list of a window run.
    if (!m_values.keepsAnything) return;
    auto& keepList = m_env.keepList;
    if (m_s.keepProcessedSources)
        (void)imagefiles::addImageRecord(m_record.sourcePath, keepList, m_values.keepOptions);
    if (m_s.keepFailedSources && !ok())
        (void)imagefiles::addImageRecord(m_record.sourcePath, keepList, m_values.keepOptions);
    if (m_s.loadOutputImages && ok() && m_pathComputed)
        (void)imagefiles::addImageRecord(m_output.path, keepList, m_values.keepOptions);
}

/// Holds while the run is paused or a question is open; false when the loop must stop.
bool mayGoOn(RunFlags& flags) {
    using namespace std::chrono_literals;
    while ((flags.runPaused.load() || flags.questionOpen.load()) && flags.runActive.load())
        std::this_thread::sleep_for(50ms);
    return !flags.runCancelled.load() && flags.runActive.load();
}

} // namespace

void processImages(ProcessEnvironment& env) {
    RunValues values = computeRunValues(env.settings, env.run);
    const std::string commonBase =
        env.settings.mirrorSubfolders ? settings::commonBaseFolder(env.images) : std::string();
    settings::OutputNamer namer(env.settings, env.run, commonBase);
    settings::CollisionRule collisions(env.collisions);

    std::size_t first = 0;
    std::size_t end = env.images.size();
    if (env.singleEntry) {
        const std::ptrdiff_t current = env.images.currentIndex();
        if (current < 0 || std::size_t(current) >= env.images.size()) return;
        first = std::size_t(current);
        end = first + 1;
    }

    // While one image is edited and encoded, the next one is decoded on a second thread. The
    // decode ahead is dropped when the current image's output replaces the next source, so the
    // next image is always read as the loop would find it.
    // Every image holds its estimated bytes against the process budget from before its decode
    // to the end of its job; the decode ahead waits until its image fits beside the current one.
    struct AheadHold {
        std::atomic<bool> dropped{false};
        toolkit::MemoryReservation bytes;
    };
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    const auto holdFor = [&budget](const ImageRecord& record) {
        return std::min(imagefiles::estimateDecodeBytes(record.sourcePath), budget.limit());
    };
    const bool decodeAhead = !env.singleEntry;
    std::future<toolkit::Image> ahead;
    std::shared_ptr<AheadHold> aheadHold;
    auto startDecode = [&](const ImageRecord& record, std::shared_ptr<AheadHold> hold) {
        return std::async(std::launch::async,
                          [&budget, &flags = env.flags, hold, bytes = holdFor(record),
                           path = record.sourcePath, kind = int(record.formatKind),
                           videos = env.settings.includeVideos != 0] {
                              hold->bytes = budget.reserveWhenFree(bytes, [&] {
                                  return !hold->dropped.load() && flags.runActive.load() &&
                                         !flags.runCancelled.load();
                              });
                              if (!hold->bytes) return toolkit::Image{};
                              return imagefiles::loadImageFile(path, kind, videos);
                          });
    };
    for (std::size_t i = first; i < end; ++i) {
        ImageRecord& record = env.images[i];
        env.images.setCurrentIndex(std::ptrdiff_t(i));
        const std::int32_t base = std::int32_t(10 * i);
        env.flags.progressCounter.store(base);
        env.flags.publishCurrent(record.recordId, record.fileName, record.folder);

        const std::shared_ptr<AheadHold> currentHold =
            ahead.valid() ? std::move(aheadHold) : std::make_shared<AheadHold>();
        if (!ahead.valid() && planFor(env.settings, env.run, record.formatKind).decodeNeeded)
            currentHold->bytes = budget.tryReserve(holdFor(record));
        // This image's decode gets its room before the next one may ask for room: otherwise the
        // next could take the room this one waits for and hold it until its own job ends.
        if (ahead.valid()) ahead.wait();
        ImageJob job(env, values, namer, collisions, record, base);
        if (ahead.valid()) job.usePreloaded(std::move(ahead));
        const bool nextWanted =
            decodeAhead && i + 1 < end &&
            planFor(env.settings, env.run, env.images[i + 1].formatKind).decodeNeeded &&
            !(env.run.needsImageData && (env.images[i + 1].resultState == ImageResult::Unreadable ||
                                         env.images[i + 1].resultState == ImageResult::LoadFailed));
        std::future<toolkit::Image> next;
        std::shared_ptr<AheadHold> nextHold;
        if (nextWanted) {
            nextHold = std::make_shared<AheadHold>();
            next = startDecode(env.images[i + 1], nextHold);
        }
        job.run();
        if (next.valid()) {
            if (job.outputPath() == env.images[i + 1].sourcePath) {
                nextHold->dropped = true;
                next = {}; // waits for the stale decode and drops it
            } else {
                ahead = std::move(next);
                aheadHold = std::move(nextHold);
            }
        }

        if (!mayGoOn(env.flags) || env.singleEntry) {
            if (aheadHold) aheadHold->dropped = true;
            break;
        }
    }
    ahead = {};

    const auto& s = env.settings;
    if (s.keepUnprocessedImages && !env.flags.quitRequested.load() && !s.exitAfterRun) {
        for (const ImageRecord& record : env.images.records())
            if (record.resultState == ImageResult::Pending)
                (void)imagefiles::addImageRecord(record.sourcePath, env.keepList,
                                                 values.keepOptions);
    }
}

} // namespace quill::pipeline
