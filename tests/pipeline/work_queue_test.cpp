// The work queue on its own, with a stand-in for an image's work: every image handed out is
// taken once in its turn whoever does the work, dropped work is redone, a cancel ends every wait,
// failing or missing workers leave their images to the loop, and room in the budget is never
// exceeded nor waited for forever.
#include "pipeline/work_queue.h"

#include "thread_refusal.h"
#include "toolkit/image.h"
#include "toolkit/memory_budget.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quill::pipeline {
namespace {

using imagefiles::ImageRecord;
using namespace std::chrono_literals;

/// Waits until `done` holds (at most 20 s, so that a fault fails instead of hanging).
bool waitUntil(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + 20s; !done();)
        if (std::chrono::steady_clock::now() > end)
            return false;
        else
            std::this_thread::sleep_for(1ms);
    return true;
}

class WorkQueueTest : public ::testing::Test {
protected:
    enum class Setup { Ready, Throws, Slow };

    WorkQueueTest() { flags.runActive = 1; }

    static ImageRecord image(int id, const std::string& path = {}) {
        ImageRecord record;
        record.recordId = id;
        record.sourcePath = path.empty() ? "/in/" + std::to_string(id) + ".png" : path;
        return record;
    }

    /// The stand-in for an image's work: notes what the budget holds while it runs, and returns
    /// the image's id (as its step count) with pixels that keep their room.
    PreparedImage doWork(const ImageRecord& record, toolkit::MemoryReservation hold) {
        const std::uint64_t now = budget.reserved();
        reservedAtWork[std::size_t(record.recordId) % std::size(reservedAtWork)] = now;
        std::uint64_t seen = mostReserved.load();
        while (!mostReserved.compare_exchange_weak(seen, std::max(seen, now))) {
        }
        PreparedImage ready;
        ready.loaded = true;
        ready.editSteps = record.recordId;
        ready.hold = std::move(hold);
        if (encodes(record)) {
            ready.hold.shrinkTo(0); // its pixels are gone and its bytes are few
        } else {
            ready.edited.image = toolkit::Image(1, 1, toolkit::PixelFormat::Bgr24);
        }
        return ready;
    }

    std::unique_ptr<WorkQueue> makeQueue(int workers, Setup setup = Setup::Ready) {
        return std::make_unique<WorkQueue>(
            flags, budget, [this](const ImageRecord& record) { return roomOf(record); },
            [this, setup]() -> WorkQueue::Work {
                if (setup == Setup::Throws) throw std::runtime_error("no overlay font");
                if (setup == Setup::Slow) waitUntil([this] { return started.load(); });
                return [this](const ImageRecord& record, toolkit::MemoryReservation hold) {
                    ++workerCalls;
                    if (onWorker) onWorker(record);
                    return doWork(record, std::move(hold));
                };
            },
            workers);
    }

    /// Takes the image at `position` as the loop does, telling whether the loop did its work.
    PreparedImage take(WorkQueue& queue, std::size_t position, const ImageRecord& record,
                       bool* workedHere = nullptr) {
        return queue.take(
            position, record,
            [this](const ImageRecord& r, toolkit::MemoryReservation hold) {
                ++hereCalls;
                return doWork(r, std::move(hold));
            },
            workedHere);
    }

    /// Hands out and takes `images` as the loop does: each image handed out up to one image per
    /// worker ahead of its turn. Returns each image's step count (its id).
    std::vector<int> runAll(WorkQueue& queue, const std::vector<ImageRecord>& images) {
        std::vector<int> ids;
        std::size_t next = 0;
        for (std::size_t i = 0; i < images.size(); ++i) {
            for (next = std::max(next, i); next < images.size() && next <= i + queue.workers();
                 ++next)
                queue.submit(next, images[next]);
            ids.push_back(take(queue, i, images[i]).editSteps);
            queue.discard(i);
        }
        return ids;
    }

    RunFlags flags;
    toolkit::MemoryBudget budget{1000};
    std::function<std::uint64_t(const ImageRecord&)> roomOf = [](const ImageRecord&) {
        return 100;
    };
    std::function<bool(const ImageRecord&)> encodes = [](const ImageRecord&) { return false; };
    std::function<void(const ImageRecord&)> onWorker; ///< set before the queue is made
    std::atomic<bool> started{false};                 ///< lets slow workers start
    std::atomic<int> workerCalls{0};
    std::atomic<int> hereCalls{0};
    std::atomic<std::uint64_t> mostReserved{0};
    std::atomic<std::uint64_t> reservedAtWork[16] = {}; ///< by image id
};

TEST_F(WorkQueueTest, EveryImageIsTakenOnceInItsTurnWithAnyNumberOfWorkers) {
    std::vector<ImageRecord> images;
    for (int id = 0; id < 12; ++id)
        images.push_back(image(id));
    const std::vector<int> inOrder = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (const int workers : {0, 1, 4}) {
        SCOPED_TRACE(std::to_string(workers) + " workers");
        workerCalls = hereCalls = 0;
        const auto queue = makeQueue(workers);
        EXPECT_EQ(queue->workers(), std::size_t(workers));
        EXPECT_EQ(runAll(*queue, images), inOrder);
        EXPECT_EQ(workerCalls + hereCalls, 12) << "each image's work is done once";
        if (workers == 0) {
            EXPECT_EQ(hereCalls, 12);
        }
        EXPECT_EQ(queue->inFlight(), 0u);
        EXPECT_EQ(budget.reserved(), 0u) << "taken work gives its room back with its result";
    }
}

TEST_F(WorkQueueTest, DroppedWorkIsRedoneByTheLoopInItsTurn) {
    const std::vector<ImageRecord> images = {
        image(0), image(1), image(2, "/in/shared.png"), image(3, "/in/shared.png"),
        image(4), image(5)};
    std::atomic<bool> holdFive{true}; // image 5 stays at work until the drop
    onWorker = [&](const ImageRecord& record) {
        if (record.recordId == 5) waitUntil([&] { return !holdFive.load(); });
    };
    const auto queue = makeQueue(3);
    for (std::size_t i = 0; i < images.size(); ++i)
        queue->submit(i, images[i]);
    ASSERT_TRUE(waitUntil([&] { return workerCalls == 6; }));
    ASSERT_TRUE(waitUntil([&] { return budget.reserved() == 600; }));

    queue->discard(1);                        // the image failed before its pixels were needed
    queue->dropReading("/in/shared.png");     // an earlier image wrote over the path both read
    queue->dropReading(images[5].sourcePath); // dropped while a worker is still at it
    holdFive = false;
    EXPECT_EQ(queue->inFlight(), 2u);
    EXPECT_TRUE(waitUntil([&] { return budget.reserved() == 200; }))
        << "dropped work gives its room back, finished or not";

    const bool redone[] = {false, true, true, true, false, true};
    for (std::size_t i = 0; i < images.size(); ++i) {
        bool workedHere = false;
        EXPECT_EQ(take(*queue, i, images[i], &workedHere).editSteps, int(i));
        EXPECT_EQ(workedHere, redone[i]) << i;
    }
    EXPECT_EQ(budget.reserved(), 0u);
}

TEST_F(WorkQueueTest, WorkersStartNothingWhilePausedAndACancelEndsEveryWait) {
    // Paused: the loop does the image in its turn; the workers start once the pause ends.
    {
        flags.runPaused = 1;
        const auto queue = makeQueue(2);
        queue->submit(0, image(0));
        queue->submit(1, image(1));
        std::this_thread::sleep_for(150ms);
        EXPECT_EQ(workerCalls, 0);
        bool workedHere = false;
        EXPECT_EQ(take(*queue, 0, image(0), &workedHere).editSteps, 0);
        EXPECT_TRUE(workedHere);
        flags.runPaused = 0;
        EXPECT_TRUE(waitUntil([&] { return workerCalls == 1; }));
        EXPECT_EQ(take(*queue, 1, image(1), &workedHere).editSteps, 1);
        EXPECT_FALSE(workedHere);
    }
    // No room: workers and the loop wait; a cancel ends both waits, and the queue ends at once.
    toolkit::MemoryReservation everything = budget.tryReserve(1000);
    ASSERT_TRUE(everything);
    workerCalls = hereCalls = 0;
    std::unique_ptr<WorkQueue> queue = makeQueue(2);
    for (std::size_t i = 0; i < 4; ++i)
        queue->submit(i, image(int(i)));
    std::thread canceller([&] {
        std::this_thread::sleep_for(150ms);
        flags.runCancelled = 1;
    });
    EXPECT_THROW((void)take(*queue, 0, image(0)), RunStopped);
    canceller.join();
    EXPECT_EQ(workerCalls + hereCalls, 0) << "nothing ran without room";
    const auto before = std::chrono::steady_clock::now();
    queue.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s) << "no worker kept waiting";
    everything.reset();
    EXPECT_EQ(budget.reserved(), 0u);
}

TEST_F(WorkQueueTest, AWorkerThatThrowsHandsItsImageBackToTheLoop) {
    const struct {
        const char* what;
        std::function<void()> thrower;
    } cases[] = {
        {"no memory", [] { throw std::bad_alloc(); }},
        {"anything else", [] { throw std::runtime_error("decoder fault"); }},
        {"not even an exception", [] { throw 42; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        onWorker = [&](const ImageRecord& record) {
            if (record.recordId == 1) c.thrower();
        };
        const auto queue = makeQueue(2);
        for (std::size_t i = 0; i < 2; ++i)
            queue->submit(i, image(int(i)));
        ASSERT_TRUE(waitUntil([&] { return workerCalls == 2; }));
        bool workedHere = false;
        EXPECT_EQ(take(*queue, 0, image(0)).editSteps, 0);
        EXPECT_EQ(take(*queue, 1, image(1), &workedHere).editSteps, 1);
        EXPECT_TRUE(workedHere) << "redone by the loop";
        // What the loop's own work throws reaches the loop, and its room comes back.
        EXPECT_THROW(
            (void)queue->take(2, image(2),
                              [](const ImageRecord&, toolkit::MemoryReservation) -> PreparedImage {
                                  throw std::runtime_error("the loop's work failed");
                              }),
            std::runtime_error);
        EXPECT_EQ(take(*queue, 3, image(3)).editSteps, 3) << "the queue goes on";
        EXPECT_EQ(budget.reserved(), 0u);
        workerCalls = 0;
    }
    onWorker = nullptr;
}

TEST_F(WorkQueueTest, WorkersThatNeverStartLeaveEveryImageToTheLoop) {
    std::vector<ImageRecord> images;
    for (int id = 0; id < 6; ++id)
        images.push_back(image(id));
    const std::vector<int> inOrder = {0, 1, 2, 3, 4, 5};
    const struct {
        const char* what;
        Setup setup;
        bool refused;
    } cases[] = {
        {"no thread can be started", Setup::Ready, true},
        {"a worker cannot set up", Setup::Throws, false},
        {"the workers are slow to start", Setup::Slow, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        workerCalls = hereCalls = 0;
        started = false;
        std::unique_ptr<WorkQueue> queue;
        if (c.refused) {
            const test::ThreadsRefused refused;
            queue = makeQueue(4, c.setup);
        } else {
            queue = makeQueue(4, c.setup);
        }
        EXPECT_EQ(queue->workers(), c.refused ? 0u : 4u);
        EXPECT_EQ(runAll(*queue, images), inOrder);
        EXPECT_EQ(hereCalls, 6);
        EXPECT_EQ(workerCalls, 0);
        started = true;
        queue.reset();
        EXPECT_EQ(budget.reserved(), 0u);
    }
}

TEST_F(WorkQueueTest, RoomIsNeverExceededAndEveryWaitForItEnds) {
    // Nothing of the loop runs past the budget: it waits until room held elsewhere comes back.
    {
        toolkit::MemoryReservation others = budget.tryReserve(950);
        std::thread release([&] {
            std::this_thread::sleep_for(100ms);
            others.reset();
        });
        const auto queue = makeQueue(0);
        EXPECT_EQ(take(*queue, 0, image(0)).editSteps, 0);
        release.join();
        EXPECT_LE(mostReserved.load(), 1000u);
    }
    // Images that each need most of the budget (two never fit together), one that needs more
    // than all of it (it runs alone), and workers that fail the first image, so that the loop
    // redoes it while later images hold their room finished: the run ends within the budget.
    std::vector<ImageRecord> images;
    for (int id = 0; id < 8; ++id)
        images.push_back(image(id));
    roomOf = [](const ImageRecord& record) -> std::uint64_t {
        return record.recordId == 4 ? 1500 : 600;
    };
    const std::vector<int> inOrder = {0, 1, 2, 3, 4, 5, 6, 7};
    for (const int workers : {1, 4}) {
        for (const bool firstFails : {false, true}) {
            SCOPED_TRACE(std::to_string(workers) + " workers" +
                         (firstFails ? ", first fails" : ""));
            mostReserved = 0;
            onWorker = [&](const ImageRecord& record) {
                if (firstFails && record.recordId == 0) throw std::runtime_error("failed");
            };
            const auto queue = makeQueue(workers);
            EXPECT_EQ(runAll(*queue, images), inOrder);
            EXPECT_LE(mostReserved.load(), 1000u);
            EXPECT_EQ(reservedAtWork[4].load(), 1000u) << "the largest image runs alone";
            EXPECT_EQ(budget.reserved(), 0u);
        }
    }
    onWorker = nullptr;

    // The loop redoes a stale image while a later one waits finished with its pixels in the room
    // the loop's image needs: that work is dropped (and redone in its turn) instead of waited for.
    encodes = [](const ImageRecord& record) { return record.recordId == 0; };
    mostReserved = 0;
    workerCalls = 0;
    const auto queue = makeQueue(1);
    queue->submit(0, images[0]);
    queue->submit(1, images[1]);
    ASSERT_TRUE(waitUntil([&] { return workerCalls == 2 && budget.reserved() == 600; }));
    queue->dropReading(images[0].sourcePath);
    std::atomic<bool> over{false};
    std::thread watchdog([&] {
        if (!waitUntil([&] { return over.load(); })) flags.runCancelled = 1;
    });
    bool workedHere[2] = {};
    EXPECT_EQ(take(*queue, 0, images[0], &workedHere[0]).editSteps, 0);
    EXPECT_EQ(take(*queue, 1, images[1], &workedHere[1]).editSteps, 1);
    over = true;
    watchdog.join();
    EXPECT_TRUE(workedHere[0] && workedHere[1]);
    EXPECT_LE(mostReserved.load(), 1000u);
}

} // namespace
} // namespace quill::pipeline
