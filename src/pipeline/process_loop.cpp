// The processing loop over the prepared image list: the run plan is made once, then every image
// goes through the steps of image_steps.h in list order. Each image's work (load, edit, encode)
// goes through the run's work queue (work_queue.h): worker threads do it for the next images while
// the loop commits the earlier ones, and the loop does it itself for an image no worker started,
// so the same loop runs with any number of workers, none included. Everything that is ordered
// (naming, committing, questions, results) stays on the loop's thread.
#include "pipeline/process_loop.h"

#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "pipeline/image_result.h"
#include "pipeline/image_steps.h"
#include "pipeline/run_plan.h"
#include "pipeline/work_queue.h"
#include "toolkit/memory_budget.h"
#include "toolkit/platform/platform.h"
#include "toolkit/stop_request.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_set>

namespace quill::pipeline {
namespace {

using imagefiles::ImageRecord;
using Units = ImageProgressUnits;

/// A result the preparation phase found stands, and the image is not looked at again.
bool carriesResult(const RunPlan& plan, const ImageRecord& record) {
    return plan.run.needsImageData && (record.resultState == ImageResult::Unreadable ||
                                       record.resultState == ImageResult::LoadFailed);
}

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
    WorkQueue& queue;
    ImageRecord& record;
    std::size_t position;
    Progress progress;
    toolkit::MemoryReservation hold = {}; ///< the image's room until its pixels are freed
    bool loaded = false;                  ///< the image's load step is behind it

    void done(ImageStep step) {
        if (step == ImageStep::Load) loaded = true;
        if (env.stepDone) env.stepDone(position, step);
    }
};

/// Load, edit and, where the output's name does not matter, encode: the image's work, taken
/// from the worker that did it or done here now. One progress unit for the load, one per group
/// of editing steps: counted as they pass when the work is done here, at once when it is taken.
EditedImage workOn(ImageContext& c, std::optional<EncodedImage>& encoded) {
    const WorkProgress live{
        .loaded =
            [&] {
                c.done(ImageStep::Load);
                c.progress.advance(Units::kLoad);
            },
        .editStep = [&] { c.progress.advance(); },
    };
    bool workedHere = false;
    PreparedImage ready = c.queue.take(
        c.position, c.record,
        [&](const ImageRecord& record, toolkit::MemoryReservation hold) {
            return prepareImage(c.plan, c.tools, c.env.flags, record, std::move(hold), live);
        },
        &workedHere);
    c.hold = std::move(ready.hold);
    if (!workedHere) {
        live.loaded();
        if (ready.loaded) c.progress.advance(ready.editSteps);
    }
    // Work a worker finished before a cancel stops where work done here would have stopped.
    stopIfCancelled(c.env.flags);
    if (!ready.loaded) {
        c.progress.advance(Units::kEdit);
        return EditedImage{.outcome = {ImageResult::LoadFailed, DetailNone}};
    }
    c.done(ImageStep::Edit);
    encoded = std::move(ready.encoded);
    return std::move(ready.edited);
}

/// Encode (a decoded image not encoded yet) and commit; the working image is freed, and its
/// room given back, once it is encoded.
CommitResult encodeAndCommit(ImageContext& c, const SourceCheck& source, OutputTarget& target,
                             std::optional<EditedImage>& edited,
                             std::optional<EncodedImage> encoded) {
    if (edited) {
        if (!encoded) {
            stopIfCancelled(c.env.flags);
            {
                const toolkit::StopScope stopScope(&c.env.flags.runCancelled);
                encoded = encodeOutput(c.plan, source.format, *edited, target.output.path);
            }
            stopIfCancelled(c.env.flags); // an encoder that gave up on a cancel did not fail
            keepOnlyEncoded(*edited, *encoded, c.hold);
        }
        c.done(ImageStep::Encode);
    }
    CommitResult commit =
        commitOutput(c.plan, c.naming, c.record, target, encoded ? &*encoded : nullptr,
                     edited ? edited->readStamp : std::nullopt);
    c.done(ImageStep::Commit);
    return commit;
}

/// Every step of an image from the source check to the removal of a replaced source.
ImageOutcome runSteps(ImageContext& c, std::optional<OutputTarget>& target) {
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
        edited = workOn(c, encodedAhead);
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
    // The pixels and the encoded bytes are gone: the image's room goes back.
    if (edited) edited->image = toolkit::Image();
    c.hold = {};
    c.progress.advance(Units::kWrite);

    const EditedImage* decoded = edited ? &*edited : nullptr;
    if (outcome.ok()) {
        outcome = finishOutput(c.plan, c.record, source, target->output.path, decoded);
        c.done(ImageStep::Finish);
    }
    // A file larger than the limit is written and finished, yet the image is reported; its
    // source stays, as the sources of other reported images do.
    if (outcome.ok() && commit.overLimit)
        outcome = {ImageResult::StepFailed, DetailLargerThanLimit};
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
std::optional<ImageOutcome> runStepsGuarded(ImageContext& c, std::optional<OutputTarget>& target) {
    imagefiles::DetailCode detail = imagefiles::DetailUnexpectedError;
    try {
        return runSteps(c, target);
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
std::string processImage(ImageContext& c) {
    std::optional<OutputTarget> target;
    const std::optional<ImageOutcome> reached =
        carriesResult(c.plan, c.record) ? ImageOutcome{c.record.resultState, c.record.resultCode}
                                        : runStepsGuarded(c, target);
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

/// After an image, the work done ahead for images that read a path it wrote, moved or removed
/// (its output, its source) is stale: it is dropped, and each such image is redone from the file
/// as the loop finds it in its turn. The image's own work, when it was not taken, goes too.
void dropStale(WorkQueue& queue, std::size_t position, const ImageRecord& record,
               const std::string& outputPath) {
    queue.discard(position);
    if (!outputPath.empty()) queue.dropReading(outputPath);
    queue.dropReading(record.sourcePath);
}

/// The loop: the images from `first` to `end` in list order, each image's work handed out to
/// the workers up to `workers` images ahead of its turn.
void processInTurn(ProcessEnvironment& env, const RunPlan& plan, RunNaming& naming,
                   const EditTools& tools, LeftoverSweep& sweep, std::size_t first, std::size_t end,
                   int workers) {
    // Each worker edits with its own tools (the overlay font is not shared between threads).
    WorkQueue::WorkerSetup setup = [&plan, &flags = env.flags]() -> WorkQueue::Work {
        auto own = std::make_shared<const EditTools>(plan.edit);
        return [&plan, &flags, own](const ImageRecord& record, toolkit::MemoryReservation hold) {
            return prepareImage(plan, *own, flags, record, std::move(hold));
        };
    };
    WorkQueue queue(
        env.flags, toolkit::MemoryBudget::process(),
        [&plan](const ImageRecord& record) { return holdBytesFor(plan, record); }, std::move(setup),
        workers);
    const std::size_t window = queue.workers() + 1;
    std::size_t next = first; // the next position to hand out
    for (std::size_t i = first; i < end; ++i) {
        ImageRecord& record = env.images[i];
        const std::int32_t base = beginImage(env, i);

        for (next = std::max(next, i); next < end && next < i + window; ++next)
            if (workerMayTake(plan, env.images[next])) queue.submit(next, env.images[next]);
        ImageContext context{
            env, plan, naming, tools, sweep, queue, record, i, Progress(env.flags, base)};
        const std::string outputPath = processImage(context);
        dropStale(queue, i, record, outputPath);

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
    // A single image is worked on by the loop alone: no worker would run beside it.
    processInTurn(env, plan, naming, tools, sweep, first, end,
                  env.singleEntry ? 0 : workerThreadCount());

    const auto& s = env.settings;
    if (s.keepUnprocessedImages && !env.flags.quitRequested.load() && !s.exitAfterRun) {
        for (const ImageRecord& record : env.images.records())
            if (record.resultState == ImageResult::Pending)
                (void)imagefiles::addImageRecord(record.sourcePath, env.keepList, plan.keepOptions);
    }
}

} // namespace quill::pipeline
