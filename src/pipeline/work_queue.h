// The work queue of a run: each image's work (decode, editing chain, encode) is done by a worker
// thread ahead of its turn or, when no worker has started it, by the processing loop's own thread
// in its turn, the same work either way. Room in the memory budget goes to images in list order.
#pragma once

#include "imagefiles/image_record.h"
#include "pipeline/image_steps.h"
#include "pipeline/run_control.h"
#include "pipeline/run_plan.h"
#include "toolkit/memory_budget.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quill::pipeline {

/// The most workers `QUILL_THREADS` can ask for. Each worker is a thread with its own stack and
/// overlay font that may hold an image's room in the memory budget, and past the number of cores
/// more workers only wait for one; the cap keeps a mistyped value (100000, say) from asking the
/// system for thousands of threads, which would fail to start or spend the address space on
/// stacks.
inline constexpr int kMaxWorkerThreads = 256;

/// The number of worker threads a run uses: `QUILL_THREADS` when it is a positive number (at
/// most kMaxWorkerThreads), else every core (at least 1).
[[nodiscard]] int workerThreadCount();

/// An image's work once done: the edited image (without its pixels once encoded) and its
/// encoded bytes, holding what they need of its room in the memory budget.
struct PreparedImage {
    bool loaded = false; ///< the source was decoded (else the image failed to load)
    int editSteps = 0;   ///< the chain's step groups that ran
    EditedImage edited;
    std::optional<EncodedImage> encoded; ///< none: the loop encodes (the output path decides)
    toolkit::MemoryReservation hold;
};

/// The room an image holds in the memory budget from before its decode until its pixels are
/// freed: the most that decoding, editing or encoding it holds at one time (see estimateDecode,
/// estimateEdit, estimateEncodeBytes). At most the budget's limit: an image that needs more
/// waits until nothing else holds room and then runs alone.
[[nodiscard]] std::uint64_t holdBytesFor(const RunPlan& plan,
                                         const imagefiles::ImageRecord& record);

/// Frees the pixels of an image that is encoded and gives back all of its room but what the
/// encoded bytes hold (a PDF copies them once more when it is written).
void keepOnlyEncoded(EditedImage& edited, const EncodedImage& encoded,
                     toolkit::MemoryReservation& hold);

/// Told of an image's work as it goes, on the thread that does it; either may be empty.
struct WorkProgress {
    std::function<void()> loaded;   ///< the decode is over (the image may have failed to load)
    std::function<void()> editStep; ///< one step group of the editing chain is over
};

/// One image's work in the room `hold` reserved for it: the decode, the editing chain and, when
/// the encoder does not depend on the output's name, the encode. The room shrinks as the pixels
/// go. A cancel stops the work between its stages (RunStopped); a failure of the decode is a
/// result (not loaded), anything else that fails throws.
[[nodiscard]] PreparedImage prepareImage(const RunPlan& plan, const EditTools& tools,
                                         const RunFlags& flags,
                                         const imagefiles::ImageRecord& record,
                                         toolkit::MemoryReservation hold,
                                         const WorkProgress& progress = {});

/// Images handed out by the loop in list order (`submit`) and taken in their turn (`take`).
/// Worker threads take the queued images front first; an image no worker has started when its
/// turn comes is done by the thread that takes it, so the loop finishes every image with any
/// number of workers, none included. Only the record's values from the preparation phase go into
/// a worker; everything else stays on the loop's thread.
/// Room: an image's work runs only in room reserved for it, and room goes in list order, so a
/// later image never takes room an earlier one waits for. The loop's image waits for its room as
/// the workers do; room held by finished later images that wait for the loop is freed by dropping
/// their work (it is redone in its turn), so the wait always ends.
/// Workers start no new image while the run is paused, a question is open or the run is stopped;
/// a worker whose work throws hands its image back to the loop. The destructor drops the work in
/// flight and joins every worker.
class WorkQueue {
public:
    /// One image's work in the room reserved for it.
    using Work =
        std::function<PreparedImage(const imagefiles::ImageRecord&, toolkit::MemoryReservation)>;
    /// Called once on each worker thread before its first image: that thread's work (its own
    /// overlay font). A worker whose setup throws takes no image.
    using WorkerSetup = std::function<Work()>;
    /// The room an image's work needs at most (capped at the budget's limit).
    using RoomFor = std::function<std::uint64_t(const imagefiles::ImageRecord&)>;

    WorkQueue(RunFlags& flags, toolkit::MemoryBudget& budget, RoomFor roomFor, WorkerSetup setup,
              int workers);
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;
    ~WorkQueue();

    /// The worker threads that were started (0 when none could be: the loop does all the work).
    [[nodiscard]] std::size_t workers() const { return m_threads.size(); }
    /// Images handed out and not yet taken or dropped.
    [[nodiscard]] std::size_t inFlight() const;

    /// Hands out the image at `position` of the list (nothing happens without workers).
    void submit(std::size_t position, const imagefiles::ImageRecord& record);
    /// The work of the image at `position`: a worker's, waiting while a worker is at it; else
    /// (not handed out, not started, dropped, or failed on a worker) `here`'s, done now on the
    /// calling thread once the image has its room. `workedHere` tells which. Throws what `here`
    /// throws, and RunStopped when the run stops while the image waits for its room.
    [[nodiscard]] PreparedImage take(std::size_t position, const imagefiles::ImageRecord& record,
                                     const Work& here, bool* workedHere = nullptr);
    /// Forgets the work of `position` (the image failed before it needed its pixels).
    void discard(std::size_t position);
    /// Drops the work of every image that reads `path`: an earlier image wrote, moved or removed
    /// it, so the image is redone from the file as the loop finds it in its turn.
    void dropReading(const std::string& path);

private:
    enum class SlotState { Queued, Running, Done, Failed };
    struct Slot {
        std::size_t position = 0;
        imagefiles::ImageRecord record;
        SlotState state = SlotState::Queued;
        std::atomic<bool> dropped{false}; ///< nobody takes the result
        std::atomic<bool> wanted{false};  ///< the loop waits for it: stop waiting for room
        bool working = false;             ///< counted in m_working (guarded by m_mutex)
        std::optional<PreparedImage> result;
    };

    /// An image waiting for room (see reserveInTurn) from construction to destruction.
    class Waiting {
    public:
        Waiting(WorkQueue& owner, std::size_t position, std::uint64_t bytes);
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;
        ~Waiting();

    private:
        WorkQueue& m_owner;
        std::size_t m_position;
    };

    void run() noexcept;
    void work(Slot& slot, const Work& doWork);
    bool mayStart() const;
    bool runGoesOn() const;
    std::uint64_t roomFor(const imagefiles::ImageRecord& record) const;
    /// Room for the image at `position`, in list order: the bytes are taken only when they fit
    /// beside those of every earlier image still waiting, so that a later image never takes the
    /// room an earlier one waits for and keeps its pixels in memory beside that image's.
    toolkit::MemoryReservation reserveInTurn(std::size_t position, std::uint64_t bytes,
                                             const std::function<bool()>& keepWaiting);
    /// Room for the image the calling thread works on (see take); RunStopped when the run stops.
    toolkit::MemoryReservation reserveHere(std::size_t position, std::uint64_t bytes);
    /// Whether finished work that waits to be taken holds room (guarded by m_mutex).
    bool finishedHoldsRoom() const;
    /// Drops finished work that holds room: that with pixels first; when there is none, the
    /// encoded rest. Returns whether any was dropped.
    bool dropFinished();
    /// Marks `slot` dropped and forgets it (with m_mutex held).
    void forget(const std::shared_ptr<Slot>& slot);

    RunFlags& m_flags;
    toolkit::MemoryBudget& m_budget;
    const RoomFor m_roomFor;
    const WorkerSetup m_setup;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<Slot>> m_queue;            ///< handed out, not started
    std::map<std::size_t, std::shared_ptr<Slot>> m_slots; ///< handed out, not taken
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_working{0}; ///< workers holding room for an image they are working on
    std::mutex m_turnMutex;        ///< guards m_waiting; never held while calling the budget
    std::map<std::size_t, std::uint64_t> m_waiting; ///< images waiting for room: their bytes
    std::vector<std::thread> m_threads;
};

} // namespace quill::pipeline
