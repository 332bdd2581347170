// The one sequence every batch run goes through, whichever face started it (console, window or
// preview): the run flags, the pre-run checks, the preparation and the processing each on a
// worker thread, and the outcome the face shows.
#pragma once

#include "imagefiles/image_list.h"
#include "pipeline/dry_run.h"
#include "pipeline/run_control.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quill::batch {

/// What a face of a run supplies to the driver: the checks in its form, its answers to the
/// questions a run asks, and its display of the phases.
class RunFace {
public:
    virtual ~RunFace() = default;
    /// The pre-run checks in this face's form (printed lines or boxes), on the thread that calls
    /// RunDriver::begin(). True lets the run start, with `run` holding the derived run settings.
    [[nodiscard]] virtual bool passChecks(const imagefiles::ImageList& images,
                                          const settings::Preset& settings,
                                          settings::RunSettings& run) = 0;
    /// The overwrite question.
    [[nodiscard]] virtual settings::CollisionPolicy& collisions() = 0;
    /// The disk-full question.
    [[nodiscard]] virtual pipeline::DiskFullQuestion& diskFull() = 0;
    /// A phase starts and counts `units` progress units; called before the phase shows in
    /// `RunFlags::runPhase`, so that a display that sees the phase finds its total already set.
    virtual void phaseStarting(pipeline::RunPhase phase, std::int32_t units) {
        (void)phase;
        (void)units;
    }
    /// The work of a phase is over; the face may keep the phase on screen a little longer.
    virtual void phaseDone(pipeline::RunPhase phase) { (void)phase; }
};

/// Which images a run covers.
enum class RunScope {
    WholeList,    ///< every image of the list; each record's result starts empty
    CurrentImage, ///< only the list's current image; an image the filter excludes stays unprocessed
};

/// How the driver's part of a run ended.
enum class RunEnd {
    Finished,              ///< the phases ran (a cancel may have ended them early)
    PreparationNotStarted, ///< no worker thread could be started for the preparation
    ProcessingNotStarted,  ///< no worker thread could be started for the processing
};

/// What a run came to, for the face to show.
struct RunOutcome {
    RunEnd end = RunEnd::Finished;
    bool allOk = true;         ///< no image of the list has a failed result
    std::size_t processed = 0; ///< images of the list with a result
};

/// What a run works on besides its face.
struct RunSetup {
    imagefiles::ImageList& images;
    /// The settings the run works with; the caller keeps them unchanged while the run lasts.
    const settings::Preset& settings;
    pipeline::RunFlags& flags;
    std::string pdfCreator; ///< creator text of PDF output
    RunScope scope = RunScope::WholeList;
    /// See pipeline::ProcessEnvironment::leftoversRemoved.
    std::function<void(const std::string& folder, std::size_t removed)> leftoversRemoved = {};
};

/// Runs one batch through its phases. begin() on the thread that shows the checks; work() on a
/// thread that may wait (never a window's thread), then the face shows the outcome.
class RunDriver {
public:
    RunDriver(RunSetup setup, RunFace& face);
    RunDriver(const RunDriver&) = delete;
    RunDriver& operator=(const RunDriver&) = delete;

    /// Asks the face's checks; when they pass, resets the run flags, marks the run active and,
    /// for the whole list, empties every record's result and makes the first record current.
    /// False when the checks refused the run; then nothing was changed.
    [[nodiscard]] bool begin();

    /// Preparation (when the settings need image details) and processing (unless the run was
    /// cancelled or the preparation could not start), each on a worker thread of lower
    /// priority; then, for a run that went to the end without a failure and does not end the
    /// program, the finishing phase. Marks the run inactive before it returns.
    [[nodiscard]] RunOutcome work();

    /// A dry run in place of work(): the preparation (filtered images stay in the list, marked),
    /// then each image's line to `report` in run order; nothing is written, moved or deleted.
    /// `allOk` says whether any image would fail.
    [[nodiscard]] RunOutcome dryRun(const std::function<void(const pipeline::DryRunLine&)>& report);

    /// The list the run works on.
    [[nodiscard]] imagefiles::ImageList& images() { return m_setup.images; }
    /// The run settings the checks derived.
    [[nodiscard]] const settings::RunSettings& runSettings() const { return m_run; }
    /// The records the run keeps for the list after it (window runs); made by begin().
    [[nodiscard]] imagefiles::ImageList& keepList() { return *m_keepList; }

private:
    [[nodiscard]] bool prepareOnWorker(bool markFiltered = false);
    [[nodiscard]] bool processOnWorker();
    void enterPhase(pipeline::RunPhase phase, std::int32_t units);
    [[nodiscard]] RunOutcome outcome(RunEnd end) const;

    RunSetup m_setup;
    RunFace& m_face;
    settings::RunSettings m_run;
    std::optional<imagefiles::ImageList> m_keepList;
};

} // namespace quill::batch
