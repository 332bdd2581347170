// The one sequence every batch run goes through.
#include "batch/run_driver.h"

#include "batch/prepare.h"
#include "batch/worker_thread.h"
#include "pipeline/image_result.h"
#include "pipeline/process_loop.h"

#include <chrono>
#include <thread>

namespace quill::batch {

using pipeline::RunPhase;

RunDriver::RunDriver(RunSetup setup, RunFace& face) : m_setup(std::move(setup)), m_face(face) {}

bool RunDriver::begin() {
    auto& images = m_setup.images;
    if (!m_face.passChecks(images, m_setup.settings, m_run)) return false;
    m_keepList.emplace(images.lastRecordId());
    auto& flags = m_setup.flags;
    flags.resetForRun();
    flags.runActive.store(1);
    if (m_setup.scope == RunScope::WholeList) {
        for (auto& record : images.records()) {
            record.resultState = imagefiles::ImageResult::Pending;
            record.resultCode = imagefiles::DetailNone;
            record.resultText.clear();
        }
        images.setCurrentIndex(0);
    }
    return true;
}

RunOutcome RunDriver::work() {
    auto& flags = m_setup.flags;
    auto& images = m_setup.images;
    // The one image of a run over the current image, found again by its number after the
    // preparation.
    std::int32_t currentId = 0;
    if (m_setup.scope == RunScope::CurrentImage) {
        const std::ptrdiff_t current = images.currentIndex();
        if (current >= 0 && std::size_t(current) < images.size())
            currentId = images[std::size_t(current)].recordId;
    }

    RunEnd end = RunEnd::Finished;
    if (m_run.needsImageData && !prepareOnWorker()) end = RunEnd::PreparationNotStarted;
    bool process = end == RunEnd::Finished && !flags.runCancelled.load();
    if (process && m_setup.scope == RunScope::CurrentImage) {
        const std::ptrdiff_t at = images.indexOfId(currentId);
        images.setCurrentIndex(at);
        // The filter marks the image instead of removing it from the list: it stays unprocessed.
        process =
            at >= 0 && !(images[std::size_t(at)].resultState == imagefiles::ImageResult::Pending &&
                         images[std::size_t(at)].resultCode == imagefiles::DetailFiltered);
    }
    if (process && !processOnWorker()) end = RunEnd::ProcessingNotStarted;

    const RunOutcome result = outcome(end);
    // The list is updated only when the program goes on after a run that went to the end.
    if (end == RunEnd::Finished && result.allOk && !flags.runCancelled.load() &&
        !flags.quitRequested.load() && !m_setup.settings.exitAfterRun) {
        enterPhase(RunPhase::Finishing,
                   pipeline::kProcessingUnitsPerImage * std::int32_t(images.size()));
        m_face.phaseDone(RunPhase::Finishing);
    }
    flags.runActive.store(0);
    return result;
}

RunOutcome RunDriver::dryRun(const std::function<void(const pipeline::DryRunLine&)>& report) {
    auto& flags = m_setup.flags;
    RunEnd end = RunEnd::Finished;
    if (m_run.needsImageData && !prepareOnWorker(true)) end = RunEnd::PreparationNotStarted;
    RunOutcome result{.end = end};
    if (end == RunEnd::Finished && !flags.runCancelled.load())
        result.allOk = pipeline::dryRunImages(m_setup.images, m_setup.settings, m_run,
                                              m_face.collisions(), report);
    flags.runActive.store(0);
    return result;
}

bool RunDriver::prepareOnWorker(bool markFiltered) {
    auto& images = m_setup.images;
    auto& flags = m_setup.flags;
    enterPhase(RunPhase::Preparing, std::int32_t(images.size()));
    PrepareEnvironment prep{.images = images,
                            .keepList = *m_keepList,
                            .settings = m_setup.settings,
                            .run = m_run,
                            .flags = flags,
                            .previewRun = m_setup.scope == RunScope::CurrentImage,
                            .markFiltered = markFiltered};
    const bool started = runOnWorker([&prep] { prepare(prep); });
    m_face.phaseDone(RunPhase::Preparing);
    flags.progressCounter.store(0);
    if (m_setup.scope == RunScope::WholeList) images.setCurrentIndex(0);
    return started;
}

bool RunDriver::processOnWorker() {
    using namespace std::chrono_literals;
    auto& images = m_setup.images;
    auto& flags = m_setup.flags;
    enterPhase(RunPhase::Processing,
               pipeline::kProcessingUnitsPerImage * std::int32_t(images.size()));
    pipeline::ProcessEnvironment processing{.images = images,
                                            .keepList = *m_keepList,
                                            .settings = m_setup.settings,
                                            .run = m_run,
                                            .flags = flags,
                                            .collisions = m_face.collisions(),
                                            .diskFull = m_face.diskFull(),
                                            .pdfCreator = m_setup.pdfCreator,
                                            .singleEntry = m_setup.scope == RunScope::CurrentImage,
                                            .leftoversRemoved = m_setup.leftoversRemoved};
    const bool started = runOnWorker([&processing] { pipeline::processImages(processing); });
    // A question may still be open (the progress window asks its own before a cancel): the run
    // ends only once it is answered, polled like the pause flags. A run torn down while it asks
    // is no longer active and stops waiting.
    while (flags.questionOpen.load() && flags.runActive.load())
        std::this_thread::sleep_for(50ms);
    m_face.phaseDone(RunPhase::Processing);
    return started;
}

void RunDriver::enterPhase(RunPhase phase, std::int32_t units) {
    m_face.phaseStarting(phase, units);
    m_setup.flags.enterPhase(phase);
}

RunOutcome RunDriver::outcome(RunEnd end) const {
    RunOutcome result{.end = end};
    for (const auto& record : m_setup.images.records()) {
        if (imagefiles::isFailure(record.resultState)) result.allOk = false;
        if (record.resultState != imagefiles::ImageResult::Pending) ++result.processed;
    }
    return result;
}

} // namespace quill::batch
