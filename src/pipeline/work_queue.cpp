// The work queue of a run: image work done by worker threads ahead or by the loop in its turn.
#include "pipeline/work_queue.h"

#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "toolkit/stop_request.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>

namespace quill::pipeline {

int workerThreadCount() {
    if (const char* text = std::getenv("QUILL_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value > 0)
            return int(std::min<long>(value, kMaxWorkerThreads));
    }
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

std::uint64_t holdBytesFor(const RunPlan& plan, const imagefiles::ImageRecord& record) {
    const std::uint64_t limit = toolkit::MemoryBudget::process().limit();
    const imagefiles::DecodeEstimate decode = imagefiles::estimateDecode(record.sourcePath);
    if (decode.width <= 0 || decode.height <= 0) return std::min(decode.bytes, limit);
    const EditEstimate edit = estimateEdit(plan.edit, decode.width, decode.height);
    std::uint64_t encode = 0;
    const FormatPlan format = plan.formatFor(record.formatKind);
    if (format.encoder) {
        // The final image, and the encoder beside it; a PDF copies the encoded page once more.
        const int depth = format.depthOptionApplies ? plan.encode.outputDepth : 32;
        const std::uint64_t encoder =
            imagefiles::estimateEncodeBytes(*format.encoder, edit.width, edit.height, depth);
        encode = std::uint64_t(edit.width) * std::uint64_t(edit.height) * 4 +
                 (format.pdf ? 2 : 1) * encoder;
    }
    const std::uint64_t lossless = losslessHoldBytes(plan, record, decode.width, decode.height);
    return std::min(std::max({decode.bytes, edit.bytes, encode, lossless}), limit);
}

void keepOnlyEncoded(EditedImage& edited, const EncodedImage& encoded,
                     toolkit::MemoryReservation& hold) {
    edited.image = toolkit::Image();
    const std::uint64_t bytes = encoded.bytes ? encoded.bytes->size() : 0;
    hold.shrinkTo(bytes * (encoded.pdf ? 2 : 1));
}

PreparedImage prepareImage(const RunPlan& plan, const EditTools& tools, const RunFlags& flags,
                           const imagefiles::ImageRecord& record, toolkit::MemoryReservation hold,
                           const WorkProgress& progress) {
    // The decoder, the editing steps and the encoder poll the cancel flag as they go, so that a
    // cancel does not wait for a step in flight; a step that gave up is then no failure.
    const toolkit::StopScope stopScope(&flags.runCancelled);
    PreparedImage ready;
    ready.hold = std::move(hold);
    const SourceDecode decode = sourceDecodeFor(plan, record);
    stopIfCancelled(flags); // a decode after a cancel would only be thrown away
    if (std::optional<LosslessOutput> lossless = transformLosslessly(plan, record, decode)) {
        ready.loaded = true;
        if (progress.loaded) progress.loaded();
        for (; ready.editSteps < kEditStepCount; ++ready.editSteps)
            if (progress.editStep) progress.editStep();
        ready.edited = std::move(lossless->edited);
        ready.encoded = std::move(lossless->encoded);
        keepOnlyEncoded(ready.edited, *ready.encoded, ready.hold);
        return ready;
    }
    LoadedSource source = loadSource(plan, record, decode);
    stopIfCancelled(flags);
    ready.loaded = !source.image.empty();
    if (progress.loaded) progress.loaded();
    if (!ready.loaded) {
        ready.hold.reset();
        return ready;
    }
    stopIfCancelled(flags);
    ready.edited = editImage(
        plan, tools, std::move(source.image), overlayTextFor(plan, record),
        [&](EditStep) {
            ++ready.editSteps;
            if (progress.editStep) progress.editStep();
            stopIfCancelled(flags);
        },
        decode, std::move(source.colour));
    ready.edited.readStamp = source.readStamp;
    ready.edited.carried = pickUpCarriedMetadata(plan, record);
    ready.edited.jpegSegmentBytes = jpegSegmentBytes(plan, record, ready.edited);
    if (!ready.edited.outcome.ok()) {
        ready.edited.image = toolkit::Image();
        ready.hold.reset();
        return ready;
    }
    // The JPEG 2000 flavour depends on the output's name, which only the loop knows.
    const FormatPlan format = plan.formatFor(record.formatKind);
    if (format.encoder && *format.encoder != imagefiles::Encoder::Jp2k) {
        stopIfCancelled(flags);
        ready.encoded = encodeOutput(plan, format, ready.edited, std::string());
        stopIfCancelled(flags);
        keepOnlyEncoded(ready.edited, *ready.encoded, ready.hold);
    }
    return ready;
}

WorkQueue::WorkQueue(RunFlags& flags, toolkit::MemoryBudget& budget, RoomFor roomFor,
                     WorkerSetup setup, int workers)
    : m_flags(flags), m_budget(budget), m_roomFor(std::move(roomFor)), m_setup(std::move(setup)) {
    // A thread that cannot be started leaves its share of the work to the loop.
    try {
        for (int i = 0; i < workers; ++i)
            m_threads.emplace_back([this] { run(); });
    } catch (const std::exception&) {
    }
}

WorkQueue::~WorkQueue() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping.store(true);
        for (auto& [position, slot] : m_slots)
            slot->dropped.store(true);
        m_slots.clear();
        m_queue.clear();
    }
    m_changed.notify_all();
    m_budget.wakeWaiters(); // a worker waiting for room stops waiting
    for (std::thread& thread : m_threads)
        thread.join();
}

std::size_t WorkQueue::inFlight() const {
    std::lock_guard lock(m_mutex);
    return m_slots.size();
}

void WorkQueue::submit(std::size_t position, const imagefiles::ImageRecord& record) {
    if (m_threads.empty()) return;
    auto slot = std::make_shared<Slot>();
    slot->position = position;
    slot->record = record;
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_slots.find(position); it != m_slots.end()) forget(it->second);
        m_slots[position] = slot;
        m_queue.push_back(std::move(slot));
    }
    m_changed.notify_all();
}

PreparedImage WorkQueue::take(std::size_t position, const imagefiles::ImageRecord& record,
                              const Work& here, bool* workedHere) {
    std::shared_ptr<Slot> slot;
    {
        std::unique_lock lock(m_mutex);
        if (const auto it = m_slots.find(position); it != m_slots.end()) {
            slot = it->second;
            m_slots.erase(it);
        }
        if (slot && slot->state == SlotState::Queued) {
            // Not started yet: done here rather than waiting for a worker.
            slot->dropped.store(true);
            std::erase(m_queue, slot);
        } else if (slot) {
            // A worker waiting for the image's room gives the image back at once.
            slot->wanted.store(true);
            lock.unlock();
            m_budget.wakeWaiters();
            lock.lock();
            m_changed.wait(lock, [&] {
                return slot->state == SlotState::Done || slot->state == SlotState::Failed;
            });
            if (slot->state == SlotState::Done && slot->result) {
                if (workedHere) *workedHere = false;
                return std::move(*slot->result);
            }
        }
    }
    if (workedHere) *workedHere = true;
    return here(record, reserveHere(position, roomFor(record)));
}

WorkQueue::Waiting::Waiting(WorkQueue& owner, std::size_t position, std::uint64_t bytes)
    : m_owner(owner), m_position(position) {
    const std::lock_guard lock(m_owner.m_turnMutex);
    m_owner.m_waiting[position] = bytes;
}

WorkQueue::Waiting::~Waiting() {
    {
        const std::lock_guard lock(m_owner.m_turnMutex);
        m_owner.m_waiting.erase(m_position);
    }
    // The images after this one may be in turn now.
    m_owner.m_budget.wakeWaiters();
}

std::uint64_t WorkQueue::roomFor(const imagefiles::ImageRecord& record) const {
    return std::min(m_roomFor(record), m_budget.limit());
}

toolkit::MemoryReservation WorkQueue::reserveInTurn(std::size_t position, std::uint64_t bytes,
                                                    const std::function<bool()>& keepWaiting) {
    const Waiting waiting(*this, position, bytes);
    return m_budget.reserveInTurn(bytes, keepWaiting, [&](std::uint64_t available) {
        const std::lock_guard lock(m_turnMutex);
        std::uint64_t needed = bytes;
        for (auto it = m_waiting.begin(); it != m_waiting.end() && it->first < position; ++it)
            needed += std::min(it->second, available); // no overflow: each is capped
        return needed <= available;
    });
}

toolkit::MemoryReservation WorkQueue::reserveHere(std::size_t position, std::uint64_t bytes) {
    for (;;) {
        // Room held by a worker at work comes back when its image is encoded or dropped; room
        // held by finished images that wait for the loop comes back only when they are dropped.
        toolkit::MemoryReservation hold = reserveInTurn(position, bytes, [&] {
            if (!runGoesOn()) return false;
            if (m_working.load() > 0) return true;
            const std::lock_guard lock(m_mutex);
            return !finishedHoldsRoom();
        });
        if (hold) return hold;
        if (!runGoesOn()) throw RunStopped{};
        (void)dropFinished();
    }
}

bool WorkQueue::finishedHoldsRoom() const {
    return std::any_of(m_slots.begin(), m_slots.end(), [](const auto& entry) {
        const Slot& slot = *entry.second;
        return slot.state == SlotState::Done && slot.result && slot.result->hold.bytes() > 0;
    });
}

bool WorkQueue::dropFinished() {
    std::vector<std::shared_ptr<Slot>> finished; // freed outside the lock
    {
        std::lock_guard lock(m_mutex);
        const auto holdsRoom = [](const Slot& slot, bool withPixels) {
            return slot.state == SlotState::Done && slot.result && slot.result->hold.bytes() > 0 &&
                   (!withPixels || !slot.result->edited.image.empty());
        };
        // Encoded work holds few bytes and saves the most work: it goes only when it must.
        const bool pixels = std::any_of(m_slots.begin(), m_slots.end(), [&](const auto& entry) {
            return holdsRoom(*entry.second, true);
        });
        for (const auto& [position, slot] : m_slots)
            if (holdsRoom(*slot, pixels)) finished.push_back(slot);
        for (const std::shared_ptr<Slot>& slot : finished)
            forget(slot);
    }
    return !finished.empty();
}

void WorkQueue::forget(const std::shared_ptr<Slot>& slot) {
    slot->dropped.store(true);
    std::erase(m_queue, slot);
    m_slots.erase(slot->position);
}

void WorkQueue::discard(std::size_t position) {
    std::shared_ptr<Slot> slot; // freed outside the lock
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_slots.find(position);
        if (it == m_slots.end()) return;
        slot = it->second;
        forget(slot);
    }
    m_budget.wakeWaiters(); // a worker waiting for the image's room stops waiting
}

void WorkQueue::dropReading(const std::string& path) {
    std::vector<std::shared_ptr<Slot>> stale; // freed outside the lock
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [position, slot] : m_slots)
            if (slot->record.sourcePath == path) stale.push_back(slot);
        for (const std::shared_ptr<Slot>& slot : stale)
            forget(slot);
    }
    if (!stale.empty()) m_budget.wakeWaiters();
}

bool WorkQueue::runGoesOn() const {
    return m_flags.runActive.load() && !m_flags.runCancelled.load();
}

bool WorkQueue::mayStart() const {
    return !m_flags.runPaused.load() && !m_flags.questionOpen.load() && runGoesOn();
}

void WorkQueue::run() noexcept {
    using namespace std::chrono_literals;
    Work doWork;
    try {
        doWork = m_setup();
    } catch (...) {
    }
    if (!doWork) return; // this thread takes no image: the loop does its share
    for (;;) {
        std::shared_ptr<Slot> slot;
        {
            std::unique_lock lock(m_mutex);
            // Flags are plain atomics: a pause or question is noticed within 50 ms.
            while (!m_stopping.load() && (m_queue.empty() || !mayStart()))
                m_changed.wait_for(lock, 50ms);
            if (m_stopping.load()) return;
            slot = m_queue.front();
            m_queue.pop_front();
            slot->state = SlotState::Running;
        }
        bool done = false;
        try {
            work(*slot, doWork);
            done = slot->result.has_value();
        } catch (...) {
            slot->result.reset();
        }
        {
            std::lock_guard lock(m_mutex);
            slot->state = done ? SlotState::Done : SlotState::Failed;
            if (slot->working) --m_working;
            slot->working = false;
            if (slot->dropped.load()) slot->result.reset();
        }
        m_changed.notify_all();
        m_budget.wakeWaiters(); // the loop may wait for this image's end to free room
    }
}

void WorkQueue::work(Slot& slot, const Work& doWork) {
    // Room goes in list order. The loop never waits for an image that waits for room: once it
    // wants the image, the wait ends and the loop does the work itself.
    toolkit::MemoryReservation hold = reserveInTurn(slot.position, roomFor(slot.record), [&] {
        return !slot.dropped.load() && !slot.wanted.load() && !m_stopping.load() && runGoesOn();
    });
    if (!hold || slot.dropped.load()) return;
    {
        // Uncounted only with the slot's new state (run()), so that the loop, once it sees no
        // worker at work, finds every image that holds room finished.
        std::lock_guard lock(m_mutex);
        slot.working = true;
        ++m_working;
    }
    slot.result = doWork(slot.record, std::move(hold));
}

} // namespace quill::pipeline
