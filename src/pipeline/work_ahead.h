// Worker threads that load, edit and encode the next images of a run into memory while the
// processing loop commits the earlier ones in list order.
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

/// The most workers `QUILL_THREADS` can ask for. Each worker is a thread with its own stack that
/// may hold an image in flight, and past the number of cores more workers only wait for one; the
/// cap keeps a mistyped value (100000, say) from asking the system for thousands of threads, which
/// would fail to start or spend the address space on stacks.
inline constexpr int kMaxWorkerThreads = 256;

/// The number of worker threads a run uses: `QUILL_THREADS` when it is a positive number (at
/// most kMaxWorkerThreads), else every core (at least 1).
[[nodiscard]] int workerThreadCount();

/// An image made ready by a worker: the edited image (without its pixels once encoded) and its
/// encoded bytes, holding its room in the memory budget until the loop is done with the image.
struct PreparedImage {
    bool loaded = false; ///< the source was decoded (else the image failed to load)
    int editSteps = 0;   ///< the chain's step groups that ran
    EditedImage edited;
    std::optional<EncodedImage> encoded; ///< none: the loop encodes (the output path decides)
    toolkit::MemoryReservation hold;
};

/// The room an image holds in the memory budget from before its decode to the end of its
/// steps: the most that decoding, editing or encoding it holds at one time (see estimateDecode,
/// estimateEdit, estimateEncodeBytes). At most the budget's limit: an image that needs more
/// waits until nothing else holds room and then runs alone.
[[nodiscard]] std::uint64_t holdBytesFor(const RunPlan& plan,
                                         const imagefiles::ImageRecord& record);

/// A bounded pool of workers. The loop hands out images in list order (`submit`), takes each
/// image's work in its turn (`take`) and drops work that an earlier image's output made stale
/// (`dropReading`). Only the source path, the immutable plan and the record's values from the
/// preparation phase go into a worker; everything else stays on the loop's thread.
/// Workers start no new image while the run is paused, a question is open or the run is stopped;
/// a worker that fails hands its image back to the loop. The destructor drops the work in flight
/// and joins every worker.
class WorkAhead {
public:
    WorkAhead(const RunPlan& plan, RunFlags& flags, int threads);
    WorkAhead(const WorkAhead&) = delete;
    WorkAhead& operator=(const WorkAhead&) = delete;
    ~WorkAhead();

    /// The workers that are running (0 when none could be started: the loop does all the work).
    [[nodiscard]] std::size_t workers() const { return m_threads.size(); }
    /// Images handed out and not yet taken or dropped.
    [[nodiscard]] std::size_t inFlight() const;

    /// Hands out the image at `position` of the list.
    void submit(std::size_t position, const imagefiles::ImageRecord& record);
    /// The work for `position`, waiting while a worker is at it; nullopt when there is none (not
    /// handed out, not started yet, dropped, or failed): the loop then does the work itself.
    [[nodiscard]] std::optional<PreparedImage> take(std::size_t position);
    /// Room in the memory budget for the image at `position`, which the loop decodes itself. Room
    /// goes to images in list order, and this image comes before every image handed out: no
    /// worker takes room while it waits. It waits while a worker runs an image that will give
    /// its room back. Room then held only by finished later images, which wait for the loop, is
    /// not waited for: their work is dropped (the loop redoes it in its turn), so that their
    /// pixels are not kept beside this image's, and the room is taken regardless.
    [[nodiscard]] toolkit::MemoryReservation reserveForLoop(std::size_t position,
                                                            std::uint64_t bytes);
    /// Forgets the work for `position` (the image failed before it needed its pixels).
    void discard(std::size_t position);
    /// Drops the work of every image that reads `path`: an earlier image wrote, moved or removed
    /// it, so the image is redone from the file as the loop finds it now.
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
        Waiting(WorkAhead& owner, std::size_t position, std::uint64_t bytes);
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;
        ~Waiting();

    private:
        WorkAhead& m_owner;
        std::size_t m_position;
    };

    void run() noexcept;
    void work(Slot& slot, const EditTools& tools);
    bool mayStart() const;
    /// Room for the image at `position`, in list order: the bytes are taken only when they fit
    /// beside those of every earlier image still waiting, so that a later image never takes the
    /// room an earlier one waits for and keeps its pixels in memory beside that image's.
    toolkit::MemoryReservation reserveInTurn(std::size_t position, std::uint64_t bytes,
                                             const std::function<bool()>& keepWaiting);
    /// Drops the finished work of later images that holds room (see reserveForLoop).
    void dropFinished();

    const RunPlan& m_plan;
    RunFlags& m_flags;
    toolkit::MemoryBudget& m_budget = toolkit::MemoryBudget::process();
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
