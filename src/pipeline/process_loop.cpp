// The processing loop over the prepared image list: the run plan is made once, then every image
// goes through the steps of image_steps.h in list order. With one thread the next image is decoded
// ahead; with more, worker threads load, edit and encode the next images (work_ahead.h) while
// everything that is ordered stays on the loop's thread.
#include "pipeline/process_loop.h"

#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "pipeline/image_result.h"
#include "pipeline/image_steps.h"
#include "pipeline/run_plan.h"
#include "pipeline/work_ahead.h"
#include "toolkit/memory_budget.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_set>

namespace quill::pipeline {
namespace {

using imagefiles::ImageRecord;
using Units = ImageProgressUnits;

/// A decode made ahead on another thread: the source (its image empty when it could not be
/// loaded or its room was refused), or nullopt when the decode ahead itself failed and the loop
/// decodes again.
using AheadDecode = std::future<std::optional<LoadedSource>>;

/// A result the preparation phase found stands, and the image is not looked at again.
bool carriesResult(const RunPlan& plan, const ImageRecord& record) {
    return plan.run.needsImageData && (record.resultState == ImageResult::Unreadable ||
                                       record.resultState == ImageResult::LoadFailed);
}

/// While one image is edited and encoded, the next one is decoded on a second thread. The
/// decode ahead is dropped when the current image's output replaces the next source, so the
/// next image is always read as the loop would find it.
/// Every image holds its estimated bytes against the process budget from before its decode to
/// the end of its steps; the decode ahead waits until its image fits beside the current one.
class DecodeAhead {
public:
    DecodeAhead(const RunPlan& plan, RunFlags& flags) : m_plan(plan), m_flags(flags) {}
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;
    ~DecodeAhead() { dropPending(); }

    /// Gives the image about to be processed its room and hands over its decode when one was
    /// made ahead (else the returned future is empty).
    AheadDecode beginImage(const ImageRecord& record) {
        m_currentHold = m_ahead.valid() ? std::move(m_aheadHold) : std::make_shared<Hold>();
        // Without a decode ahead nothing of this loop holds room: the image takes its room now,
        // regardless of what others hold, and the next decode ahead waits beside it.
        if (!m_ahead.valid() && m_plan.formatFor(record.formatKind).decodeNeeded)
            m_currentHold->bytes = m_budget.reserveRegardless(bytesFor(record));
        // This image's decode gets its room before the next one may ask for room: otherwise the
        // next could take the room this one waits for and hold it until its own steps end.
        if (m_ahead.valid()) m_ahead.wait();
        return std::move(m_ahead);
    }

    /// Starts decoding `record` ahead of its turn. When no thread can be started the image is
    /// simply decoded in its turn.
    void start(const ImageRecord& record) {
        auto hold = std::make_shared<Hold>();
        try {
            m_next = std::async(std::launch::async, [this, hold, record, bytes = bytesFor(record)] {
                return decode(hold, record, bytes);
            });
            m_nextHold = std::move(hold);
        } catch (const std::exception&) {
            m_next = {};
            m_nextHold.reset();
        }
    }

    /// After the current image: keeps the decode ahead, or drops it when the current image's
    /// output (`outputPath`) replaced the next source.
    void endImage(const std::string& outputPath, const std::string& nextSource) {
        if (!m_next.valid()) return;
        if (outputPath == nextSource) {
            m_nextHold->dropped = true;
            m_next = {}; // waits for the stale decode and drops it
            return;
        }
        m_ahead = std::move(m_next);
        m_aheadHold = std::move(m_nextHold);
    }

    /// The loop stops: a decode ahead gives up waiting for room.
    void dropPending() {
        if (m_aheadHold) m_aheadHold->dropped = true;
        m_ahead = {};
        m_currentHold.reset();
    }

private:
    struct Hold {
        std::atomic<bool> dropped{false};
        toolkit::MemoryReservation bytes;
    };

    std::uint64_t bytesFor(const ImageRecord& record) const { return holdBytesFor(m_plan, record); }

    /// The decode ahead's thread. Nothing escapes it: a failure hands the decode back to the loop.
    std::optional<LoadedSource> decode(const std::shared_ptr<Hold>& hold, const ImageRecord& record,
                                       std::uint64_t bytes) noexcept {
        try {
            hold->bytes = m_budget.reserveWhenFree(bytes, [&] {
                return !hold->dropped.load() && m_flags.runActive.load() &&
                       !m_flags.runCancelled.load();
            });
            if (!hold->bytes) return LoadedSource{};
            return loadSource(m_plan, record, sourceDecodeFor(m_plan, record));
        } catch (...) {
            return std::nullopt;
        }
    }

    const RunPlan& m_plan;
    RunFlags& m_flags;
    toolkit::MemoryBudget& m_budget = toolkit::MemoryBudget::process();
    std::shared_ptr<Hold> m_currentHold;
    AheadDecode m_ahead; ///< the current image's decode, made while the image before it ran
    std::shared_ptr<Hold> m_aheadHold;
    AheadDecode m_next; ///< the next image's decode, running while the current image runs
    std::shared_ptr<Hold> m_nextHold;
};

/// The loop's share of the progress counter: kProcessingUnitsPerImage units per image, counted
/// as ImageProgressUnits lists them.
class Progress {
public:
    Progress(RunFlags& flags, std::int32_t base) : m_flags(flags), m_value(base) {}
    void advance(int units = 1) { m_flags.progressCounter.store(m_value += units); }

private:
    RunFlags& m_flags;
    std::int32_t m_value;
};

/// The output folders of a run that were cleared of leftover temporary files: each is listed once
/// per run, however many images go there.
class LeftoverSweep {
public:
    explicit LeftoverSweep(const ProcessEnvironment& env) : m_report(env.leftoversRemoved) {}
    /// Clears the folder of `outputPath` unless it was cleared before in this run. Called on the
    /// loop's thread, the only one that writes files, before the image's first write: no
    /// temporary file of this run exists at that moment.
    void beforeWriting(const std::string& outputPath) {
        if (!m_report) return;
        std::string folder = platform::directoryPart(outputPath);
        if (!m_done.insert(folder).second) return;
        const std::size_t removed = platform::removeLeftoverTemporaries(folder);
        if (removed > 0) m_report(folder, removed);
    }

private:
    const std::function<void(const std::string&, std::size_t)>& m_report;
    std::unordered_set<std::string> m_done;
};

/// What the steps of one image share in the loop.
struct ImageContext {
    ProcessEnvironment& env;
    const RunPlan& plan;
    RunNaming& naming;
    const EditTools& tools;
    LeftoverSweep& sweep;
    ImageRecord& record;
    std::size_t position;
    Progress progress;
    WorkAhead* workAhead = nullptr;       ///< the run's workers (null: one thread)
    toolkit::MemoryReservation hold = {}; ///< the image's room when the loop decodes it
    bool loaded = false;                  ///< the image's load step is behind it

    void done(ImageStep step) {
        if (step == ImageStep::Load) loaded = true;
        if (env.stepDone) env.stepDone(position, step);
    }
};

/// Load and edit: one progress unit for the load, one per group of editing steps.
EditedImage loadAndEdit(ImageContext& c, AheadDecode ahead) {
    // A decode after a cancel would only be thrown away.
    if (!ahead.valid()) stopIfCancelled(c.env.flags);
    const SourceDecode decode = sourceDecodeFor(c.plan, c.record);
    std::optional<LoadedSource> made = ahead.valid() ? ahead.get() : std::nullopt;
    LoadedSource source = made ? std::move(*made) : loadSource(c.plan, c.record, decode);
    c.done(ImageStep::Load);
    c.progress.advance(Units::kLoad);
    if (source.image.empty()) {
        c.progress.advance(Units::kEdit);
        return EditedImage{.outcome = {ImageResult::LoadFailed, DetailNone}};
    }
    stopIfCancelled(c.env.flags);
    EditedImage edited = editImage(
        c.plan, c.tools, std::move(source.image), overlayTextFor(c.plan, c.record),
        [&](EditStep) {
            c.progress.advance(); // one unit a step group
            stopIfCancelled(c.env.flags);
        },
        decode);
    edited.readStamp = source.readStamp;
    c.done(ImageStep::Edit);
    return edited;
}

/// Load and edit from a worker's work, when a worker did it: the same steps and progress units
/// as loadAndEdit, and the encoded bytes when the worker encoded them too.
std::optional<EditedImage> takePrepared(ImageContext& c, std::optional<EncodedImage>& encoded) {
    std::optional<PreparedImage> ready = c.workAhead->take(c.position);
    if (!ready) {
        c.hold = c.workAhead->reserveForLoop(c.position, holdBytesFor(c.plan, c.record));
        return std::nullopt;
    }
    c.hold = std::move(ready->hold);
    c.done(ImageStep::Load);
    c.progress.advance(Units::kLoad);
    if (!ready->loaded) {
        c.progress.advance(Units::kEdit);
        return EditedImage{.outcome = {ImageResult::LoadFailed, DetailNone}};
    }
    c.progress.advance(ready->editSteps);
    c.done(ImageStep::Edit);
    encoded = std::move(ready->encoded);
    return std::move(ready->edited);
}

/// Encode (a decoded image) and commit; the working image is freed once it is encoded.
CommitResult encodeAndCommit(ImageContext& c, const SourceCheck& source, OutputTarget& target,
                             std::optional<EditedImage>& edited,
                             std::optional<EncodedImage> encoded) {
    if (edited) {
        if (!encoded) {
            stopIfCancelled(c.env.flags);
            encoded = encodeOutput(c.plan, source.format, *edited, target.output.path);
        }
        edited->image = toolkit::Image();
        c.done(ImageStep::Encode);
    }
    CommitResult commit =
        commitOutput(c.plan, c.naming, c.record, target, encoded ? &*encoded : nullptr,
                     edited ? edited->readStamp : std::nullopt);
    c.done(ImageStep::Commit);
    return commit;
}

/// Every step of an image from the source check to the removal of a replaced source.
ImageOutcome runSteps(ImageContext& c, AheadDecode ahead, std::optional<OutputTarget>& target) {
    SourceCheck source = checkSource(c.plan, c.record);
    c.done(ImageStep::Check);
    ImageOutcome outcome = source.outcome;
    if (outcome.ok()) {
        target = nameOutput(c.plan, c.naming, c.record, source.format);
        c.done(ImageStep::Name);
        outcome = target->outcome;
    }
    c.progress.advance(Units::kOutputPath);

    std::optional<EditedImage> edited;
    std::optional<EncodedImage> encodedAhead;
    if (outcome.ok() && source.format.decodeNeeded) {
        if (c.workAhead) edited = takePrepared(c, encodedAhead);
        if (!edited) edited = loadAndEdit(c, std::move(ahead));
        outcome = edited->outcome;
    } else {
        c.progress.advance(Units::kLoad + Units::kEdit);
    }
    CommitResult commit;
    if (outcome.ok()) {
        c.sweep.beforeWriting(target->output.path);
        commit = encodeAndCommit(c, source, *target, edited, std::move(encodedAhead));
        outcome = commit.outcome;
    }
    if (outcome.result == ImageResult::WriteFailed && platform::isDiskFull(commit.systemError) &&
        c.env.diskFull.askStopAfterDiskFull(target->output.path))
        c.env.flags.runCancelled.store(1);
    if (edited) edited->image = toolkit::Image();
    c.progress.advance(Units::kWrite);

    const EditedImage* decoded = edited ? &*edited : nullptr;
    if (outcome.ok()) {
        outcome = finishOutput(c.plan, c.record, source, target->output.path, decoded);
        c.done(ImageStep::Finish);
    }
    // The source goes last: after its output is in place, flushed and post-processed.
    if (outcome.ok() && decoded && commit.written) {
        outcome = settleSource(c.plan, c.record, decoded->readStamp, target->output.path);
        c.done(ImageStep::Settle);
    }
    return outcome;
}

/// The steps of an image, where whatever throws fails this image only: a load that throws
/// failed to load, a later step failed as a step; the run goes on with the next image. A cancel
/// between the stages, before anything is written, leaves the image unprocessed (nullopt).
std::optional<ImageOutcome> runStepsGuarded(ImageContext& c, AheadDecode ahead,
                                            std::optional<OutputTarget>& target) {
    imagefiles::DetailCode detail = imagefiles::DetailUnexpectedError;
    try {
        return runSteps(c, std::move(ahead), target);
    } catch (const RunStopped&) {
        c.hold = {};
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        detail = imagefiles::DetailOutOfMemory;
    } catch (...) {
    }
    c.hold = {};
    return ImageOutcome{c.loaded ? ImageResult::StepFailed : ImageResult::LoadFailed, detail};
}

/// One image, from its carried or computed result to its record. Returns the path its output
/// went to ("" when no path was computed).
std::string processImage(ImageContext& c, AheadDecode ahead) {
    std::optional<OutputTarget> target;
    const std::optional<ImageOutcome> reached =
        carriesResult(c.plan, c.record) ? ImageOutcome{c.record.resultState, c.record.resultCode}
                                        : runStepsGuarded(c, std::move(ahead), target);
    if (!reached) {
        // Stopped before anything was written: the image stays unprocessed, as the images
        // after it do, and its number goes back.
        if (target && target->output.numberUsed >= 0) c.naming.namer.giveBackNumber(target->output);
        return {};
    }
    const ImageOutcome& outcome = *reached;
    keepImage(c.plan, c.env.keepList, c.record, outcome, target ? &target->output.path : nullptr);
    c.done(ImageStep::Keep);
    c.progress.advance(Units::kKeepList);

    c.record.resultState = outcome.result;
    c.record.resultCode = outcome.detail;
    if (!target) return {};
    c.record.resultText = target->output.path;
    if (target->output.numberUsed >= 0 && !outcome.ok())
        c.naming.namer.giveBackNumber(target->output);
    return target->output.path;
}

/// The positions the run covers: the whole list, or only its current record.
std::pair<std::size_t, std::size_t> positionsOf(const ProcessEnvironment& env) {
    if (!env.singleEntry) return {0, env.images.size()};
    const std::ptrdiff_t current = env.images.currentIndex();
    if (current < 0 || std::size_t(current) >= env.images.size()) return {0, 0};
    return {std::size_t(current), std::size_t(current) + 1};
}

/// Whether a worker can do the image's loading, editing and encoding.
bool workerMayTake(const RunPlan& plan, const ImageRecord& record) {
    const FormatPlan format = plan.formatFor(record.formatKind);
    return format.decodeNeeded && format.encoder && !carriesResult(plan, record);
}

/// Makes position `i` the current image: the list's current record, the progress counter at the
/// image's first unit, and the name the progress window shows. Returns that first unit.
std::int32_t beginImage(ProcessEnvironment& env, std::size_t i) {
    const ImageRecord& record = env.images[i];
    env.images.setCurrentIndex(std::ptrdiff_t(i));
    const std::int32_t base = kProcessingUnitsPerImage * std::int32_t(i);
    env.flags.progressCounter.store(base);
    env.flags.publishCurrent(record.recordId, record.fileName, record.folder);
    return base;
}

/// The loop on one thread, the next image decoded ahead.
void processInOrder(ProcessEnvironment& env, const RunPlan& plan, RunNaming& naming,
                    const EditTools& tools, LeftoverSweep& sweep, std::size_t first,
                    std::size_t end) {
    DecodeAhead decodeAhead(plan, env.flags);
    for (std::size_t i = first; i < end; ++i) {
        ImageRecord& record = env.images[i];
        const std::int32_t base = beginImage(env, i);

        AheadDecode ahead = decodeAhead.beginImage(record);
        const bool nextWanted = !env.singleEntry && i + 1 < end &&
                                plan.formatFor(env.images[i + 1].formatKind).decodeNeeded &&
                                !carriesResult(plan, env.images[i + 1]);
        if (nextWanted) decodeAhead.start(env.images[i + 1]);
        ImageContext context{env, plan, naming, tools, sweep, record, i, Progress(env.flags, base)};
        const std::string outputPath = processImage(context, std::move(ahead));
        if (i + 1 < end) decodeAhead.endImage(outputPath, env.images[i + 1].sourcePath);

        if (!mayGoOn(env.flags) || env.singleEntry) break;
    }
    decodeAhead.dropPending();
}

/// The loop with workers: up to threads + 1 images are loaded, edited and encoded ahead, and
/// each image's ordered steps run here in list order. Work that read a path an earlier image
/// has written, moved or removed is dropped, and the image is redone from the file as it is now.
void processWithWorkers(ProcessEnvironment& env, const RunPlan& plan, RunNaming& naming,
                        const EditTools& tools, LeftoverSweep& sweep, std::size_t first,
                        std::size_t end, int threads) {
    WorkAhead workAhead(plan, env.flags, threads);
    const std::size_t window = std::size_t(threads) + 1;
    std::size_t next = first; // the next position to hand out
    for (std::size_t i = first; i < end; ++i) {
        ImageRecord& record = env.images[i];
        const std::int32_t base = beginImage(env, i);

        for (next = std::max(next, i); next < end && next < i + window; ++next)
            if (workerMayTake(plan, env.images[next])) workAhead.submit(next, env.images[next]);
        ImageContext context{env, plan, naming, tools, sweep, record, i, Progress(env.flags, base)};
        context.workAhead = &workAhead;
        const std::string outputPath = processImage(context, AheadDecode{});
        workAhead.discard(i);
        if (!outputPath.empty()) workAhead.dropReading(outputPath);
        workAhead.dropReading(record.sourcePath);

        if (!mayGoOn(env.flags)) break;
    }
}

} // namespace

void processImages(ProcessEnvironment& env) {
    const RunPlan plan = makeRunPlan(env.settings, env.run, env.images, env.pdfCreator);
    RunNaming naming(plan, env.collisions);
    const EditTools tools(plan.edit);
    const auto [first, end] = positionsOf(env);
    if (first == end) return;

    LeftoverSweep sweep(env);
    const int threads = env.singleEntry ? 1 : workerThreadCount();
    if (threads > 1)
        processWithWorkers(env, plan, naming, tools, sweep, first, end, threads);
    else
        processInOrder(env, plan, naming, tools, sweep, first, end);

    const auto& s = env.settings;
    if (s.keepUnprocessedImages && !env.flags.quitRequested.load() && !s.exitAfterRun) {
        for (const ImageRecord& record : env.images.records())
            if (record.resultState == ImageResult::Pending)
                (void)imagefiles::addImageRecord(record.sourcePath, env.keepList, plan.keepOptions);
    }
}

} // namespace quill::pipeline
