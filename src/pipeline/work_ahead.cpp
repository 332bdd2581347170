// Worker threads that load, edit and encode the next images of a run ahead of the loop.
#include "pipeline/work_ahead.h"

#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"

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
    return std::min(std::max({decode.bytes, edit.bytes, encode}), limit);
}

WorkAhead::WorkAhead(const RunPlan& plan, RunFlags& flags, int threads)
    : m_plan(plan), m_flags(flags) {
    // A thread that cannot be started leaves its share of the work to the loop.
    try {
        for (int i = 0; i < threads; ++i)
            m_threads.emplace_back([this] { run(); });
    } catch (const std::exception&) {
    }
}

WorkAhead::~WorkAhead() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping.store(true);
        for (auto& [position, slot] : m_slots)
            slot->dropped.store(true);
        m_slots.clear();
        m_queue.clear();
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

std::size_t WorkAhead::inFlight() const {
    std::lock_guard lock(m_mutex);
    return m_slots.size();
}

void WorkAhead::submit(std::size_t position, const imagefiles::ImageRecord& record) {
    if (m_threads.empty()) return;
    auto slot = std::make_shared<Slot>();
    slot->position = position;
    slot->record = record;
    {
        std::lock_guard lock(m_mutex);
        m_slots[position] = slot;
        m_queue.push_back(std::move(slot));
    }
    m_changed.notify_all();
}

std::optional<PreparedImage> WorkAhead::take(std::size_t position) {
    std::unique_lock lock(m_mutex);
    const auto it = m_slots.find(position);
    if (it == m_slots.end()) return std::nullopt;
    const std::shared_ptr<Slot> slot = it->second;
    m_slots.erase(it);
    if (slot->state == SlotState::Queued) {
        // Not started yet: the loop does it now rather than wait for a worker.
        slot->dropped.store(true);
        std::erase(m_queue, slot);
        return std::nullopt;
    }
    slot->wanted.store(true);
    m_changed.wait(
        lock, [&] { return slot->state == SlotState::Done || slot->state == SlotState::Failed; });
    if (slot->state != SlotState::Done || !slot->result) return std::nullopt;
    return std::move(slot->result);
}

WorkAhead::Waiting::Waiting(WorkAhead& owner, std::size_t position, std::uint64_t bytes)
    : m_owner(owner), m_position(position) {
    const std::lock_guard lock(m_owner.m_turnMutex);
    m_owner.m_waiting[position] = bytes;
}

WorkAhead::Waiting::~Waiting() {
    {
        const std::lock_guard lock(m_owner.m_turnMutex);
        m_owner.m_waiting.erase(m_position);
    }
    // The images after this one may be in turn now.
    m_owner.m_budget.wakeWaiters();
}

toolkit::MemoryReservation WorkAhead::reserveInTurn(std::size_t position, std::uint64_t bytes,
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

toolkit::MemoryReservation WorkAhead::reserveForLoop(std::size_t position, std::uint64_t bytes) {
    toolkit::MemoryReservation hold = reserveInTurn(position, bytes, [&] {
        return m_working.load() > 0 && m_flags.runActive.load() && !m_flags.runCancelled.load();
    });
    if (hold) return hold;
    // This image runs beside what others hold. The room is taken first, so that no worker
    // starts in the room the finished images give back.
    hold = m_budget.reserveRegardless(bytes);
    dropFinished();
    return hold;
}

void WorkAhead::dropFinished() {
    std::vector<std::shared_ptr<Slot>> finished; // freed outside the lock
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_slots.begin(); it != m_slots.end();) {
            // Encoded work holds only its bytes: it stays.
            const auto& result = it->second->result;
            if (it->second->state != SlotState::Done || !result || result->edited.image.empty()) {
                ++it;
                continue;
            }
            it->second->dropped.store(true);
            finished.push_back(std::move(it->second));
            it = m_slots.erase(it);
        }
    }
}

void WorkAhead::discard(std::size_t position) {
    std::lock_guard lock(m_mutex);
    const auto it = m_slots.find(position);
    if (it == m_slots.end()) return;
    it->second->dropped.store(true);
    std::erase(m_queue, it->second);
    m_slots.erase(it);
}

void WorkAhead::dropReading(const std::string& path) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_slots.begin(); it != m_slots.end();) {
        if (it->second->record.sourcePath != path) {
            ++it;
            continue;
        }
        it->second->dropped.store(true);
        std::erase(m_queue, it->second);
        it = m_slots.erase(it);
    }
}

bool WorkAhead::mayStart() const {
    return !m_flags.runPaused.load() && !m_flags.questionOpen.load() && m_flags.runActive.load() &&
           !m_flags.runCancelled.load();
}

void WorkAhead::run() noexcept {
    using namespace std::chrono_literals;
    std::optional<EditTools> tools; // the overlay font of this thread alone
    try {
        tools.emplace(m_plan.edit);
    } catch (...) {
        return;
    }
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
            work(*slot, *tools);
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
    }
}

void WorkAhead::work(Slot& slot, const EditTools& tools) {
    const imagefiles::ImageRecord& record = slot.record;
    PreparedImage ready;
    // Room goes in list order. The loop never waits for an image that waits for room: once it
    // wants the image, the wait ends and the loop does the work itself.
    ready.hold = reserveInTurn(slot.position, holdBytesFor(m_plan, record), [&] {
        return !slot.dropped.load() && !slot.wanted.load() && !m_stopping.load() &&
               m_flags.runActive.load() && !m_flags.runCancelled.load();
    });
    if (!ready.hold || slot.dropped.load()) return;
    {
        // Uncounted only with the slot's new state (run()), so that the loop, once it sees no
        // worker at work, finds every image that holds room finished.
        std::lock_guard lock(m_mutex);
        slot.working = true;
        ++m_working;
    }

    const SourceDecode decode = sourceDecodeFor(m_plan, record);
    stopIfCancelled(m_flags);
    LoadedSource source = loadSource(m_plan, record, decode);
    ready.loaded = !source.image.empty();
    // A cancel stops the work between its stages; the slot then holds no result.
    stopIfCancelled(m_flags);
    if (ready.loaded) {
        ready.edited = editImage(
            m_plan, tools, std::move(source.image), overlayTextFor(m_plan, record),
            [&](EditStep) {
                ++ready.editSteps;
                stopIfCancelled(m_flags);
            },
            decode);
        ready.edited.readStamp = source.readStamp;
        const FormatPlan format = m_plan.formatFor(record.formatKind);
        // The JPEG 2000 flavour depends on the output's name, which only the loop knows.
        if (ready.edited.outcome.ok() && format.encoder &&
            *format.encoder != imagefiles::Encoder::Jp2k && !slot.dropped.load()) {
            stopIfCancelled(m_flags);
            ready.encoded = encodeOutput(m_plan, format, ready.edited, std::string());
            ready.edited.image = toolkit::Image();
            // Until the loop takes it, the image holds only its encoded bytes (a PDF copies
            // them once more when it is written).
            const auto& bytes = ready.encoded->bytes;
            ready.hold.shrinkTo((bytes ? bytes->size() : 0) * (format.pdf ? 2 : 1));
        }
    }
    slot.result = std::move(ready);
}

} // namespace quill::pipeline
