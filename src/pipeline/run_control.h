// The run-control flags through which the threads of a batch run talk, and the questions a run
// may have to ask while it works.
#pragma once

#include "pipeline/edit_step.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace quill::pipeline {

/// The units of `RunFlags::progressCounter` an image counts in the processing loop, in the
/// loop's order, so that a progress bar moves within one image. The preparation phase counts
/// one unit per image.
struct ImageProgressUnits {
    static constexpr std::int32_t kOutputPath = 1; ///< its output path and collision
    static constexpr std::int32_t kLoad = 1;
    static constexpr std::int32_t kEdit = kEditStepCount; ///< one per step group of the chain
    static constexpr std::int32_t kWrite = 1;
    static constexpr std::int32_t kKeepList = 1;
};
/// Units per image while the processing loop runs.
inline constexpr std::int32_t kProcessingUnitsPerImage =
    ImageProgressUnits::kOutputPath + ImageProgressUnits::kLoad + ImageProgressUnits::kEdit +
    ImageProgressUnits::kWrite + ImageProgressUnits::kKeepList;

/// The phases of a run, in their order, as `RunFlags::runPhase` holds them.
enum class RunPhase : std::int32_t {
    Idle,       ///< before the first phase, and after the run once its face is done with it
    Preparing,  ///< image details read, the filter conditions applied, the list sorted
    Processing, ///< the processing loop
    Finishing,  ///< the list updated after a run that went to the end (window runs)
};

/// The only process-wide mutable state of a run. Each flag is a single 32-bit value written by one
/// side and polled by the other; no lock is taken for them.
struct RunFlags {
    std::atomic<std::int32_t> runActive{0};       ///< drivers write; workers stop waiting at 0
    std::atomic<std::int32_t> runPaused{0};       ///< progress window writes; workers hold while 1
    std::atomic<std::int32_t> runCancelled{0};    ///< progress window, loop, preview run write
    std::atomic<std::int32_t> questionOpen{0};    ///< whoever shows a question; workers hold
    std::atomic<std::int32_t> quitRequested{0};   ///< progress window writes; the program ends
    std::atomic<std::int32_t> runPhase{0};        ///< a RunPhase; the run driver writes
    std::atomic<std::int32_t> progressCounter{0}; ///< preparation and loop write; display reads
    std::atomic<std::int32_t> previewRun{0};      ///< preview run writes
    std::atomic<std::int32_t> loadingPaths{0};    ///< path loaders write
    std::atomic<std::int32_t> currentImageId{0};  ///< loop writes; display reads
    /// The signal that asked the program to stop (SIGINT, SIGTERM, SIGHUP), 0 while none did;
    /// the signal watcher writes it before it sets runCancelled, the drivers read it. It
    /// outlives resetForRun: a signal during loading or the checks still stops the run.
    std::atomic<std::int32_t> stopSignal{0};

    /// Resets every flag of a run to 0 (loadingPaths is left alone: it belongs to the loaders;
    /// a stop signal that came already cancels the new run at once).
    void resetForRun() {
        for (auto* f : {&runActive, &runPaused, &runCancelled, &questionOpen, &quitRequested,
                        &runPhase, &progressCounter, &previewRun, &currentImageId})
            f->store(0);
        // The watcher writes stopSignal before runCancelled: either the signal is seen here or
        // its runCancelled comes after the reset above.
        if (stopSignal.load()) {
            quitRequested.store(1);
            runCancelled.store(1);
        }
    }

    void enterPhase(RunPhase phase) { runPhase.store(std::int32_t(phase)); }
    [[nodiscard]] RunPhase phase() const { return RunPhase(runPhase.load()); }

    /// What the signal watcher does with a stop signal: no new image starts, a pause or an open
    /// question no longer holds the run, and the program ends after the run.
    void stopForSignal(int signal) {
        stopSignal.store(signal);
        quitRequested.store(1);
        runPaused.store(0);
        runCancelled.store(1);
    }

    /// Name and folder of the image being processed, for the progress display. Strings cannot be
    /// single atomic values, so this pair alone sits behind a mutex.
    void publishCurrent(std::int32_t id, const std::string& fileName, const std::string& folder) {
        std::lock_guard lock(m_currentMutex);
        m_currentFileName = fileName;
        m_currentFolder = folder;
        currentImageId.store(id);
    }
    void readCurrent(std::string& fileName, std::string& folder) const {
        std::lock_guard lock(m_currentMutex);
        fileName = m_currentFileName;
        folder = m_currentFolder;
    }

private:
    mutable std::mutex m_currentMutex;
    std::string m_currentFileName;
    std::string m_currentFolder;
};

/// Holds while the run is paused or a question is open; false when the worker must stop. The wait
/// polls every 50 ms: the flags are plain atomics with no condition to wait on.
inline bool mayGoOn(RunFlags& flags) {
    using namespace std::chrono_literals;
    while ((flags.runPaused.load() || flags.questionOpen.load()) && flags.runActive.load())
        std::this_thread::sleep_for(50ms);
    return !flags.runCancelled.load() && flags.runActive.load();
}

/// Thrown between the stages of an image's work (decode, each editing step, encode) once the run
/// is cancelled, so that a cancel does not wait for the work in flight to finish: the image is
/// left unprocessed. Not a std::exception, so that no handler of failures takes it for one.
struct RunStopped {};

/// Throws RunStopped when the run was cancelled.
inline void stopIfCancelled(const RunFlags& flags) {
    if (flags.runCancelled.load()) throw RunStopped{};
}

/// The question a run asks when a write failed because the disk is full. The console answers by
/// policy; the window asks the user. (The overwrite question is settings::CollisionPolicy.)
class DiskFullQuestion {
public:
    virtual ~DiskFullQuestion() = default;
    /// Writing `outputPath` failed because the disk is full: true stops the run.
    [[nodiscard]] virtual bool askStopAfterDiskFull(const std::string& outputPath) = 0;
};

} // namespace quill::pipeline
