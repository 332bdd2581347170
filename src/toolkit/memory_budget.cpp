// The memory budget of the process.
#include "toolkit/memory_budget.h"

#include <chrono>
#include <utility>

namespace quill::toolkit {

MemoryReservation::MemoryReservation(MemoryReservation&& other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept {
    if (this != &other) {
        reset();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void MemoryReservation::reset() {
    if (m_budget) m_budget->release(m_bytes);
    m_budget = nullptr;
    m_bytes = 0;
}

void MemoryReservation::shrinkTo(std::uint64_t bytes) {
    if (!m_budget || bytes >= m_bytes) return;
    m_budget->release(m_bytes - bytes);
    m_bytes = bytes;
}

MemoryBudget& MemoryBudget::process() {
    static MemoryBudget budget;
    return budget;
}

std::uint64_t MemoryBudget::limit() const {
    const std::lock_guard lock(m_mutex);
    return m_limit;
}

void MemoryBudget::setLimit(std::uint64_t limit) {
    {
        const std::lock_guard lock(m_mutex);
        m_limit = limit;
    }
    m_released.notify_all();
}

std::uint64_t MemoryBudget::reserved() const {
    const std::lock_guard lock(m_mutex);
    return m_reserved;
}

std::uint64_t MemoryBudget::available() const {
    const std::lock_guard lock(m_mutex);
    return m_reserved < m_limit ? m_limit - m_reserved : 0;
}

MemoryReservation MemoryBudget::tryReserve(std::uint64_t bytes) {
    const std::lock_guard lock(m_mutex);
    if (m_reserved > m_limit || bytes > m_limit - m_reserved) return {};
    m_reserved += bytes;
    return MemoryReservation(this, bytes);
}

MemoryReservation MemoryBudget::reserveWhenFree(std::uint64_t bytes,
                                                const std::function<bool()>& keepWaiting) {
    return reserveInTurn(bytes, keepWaiting, {});
}

MemoryReservation
MemoryBudget::reserveInTurn(std::uint64_t bytes, const std::function<bool()>& keepWaiting,
                            const std::function<bool(std::uint64_t available)>& inTurn) {
    std::unique_lock lock(m_mutex);
    while (true) {
        if (bytes > m_limit) return {};
        if (m_reserved <= m_limit && bytes <= m_limit - m_reserved &&
            (!inTurn || inTurn(m_limit - m_reserved))) {
            m_reserved += bytes;
            return MemoryReservation(this, bytes);
        }
        lock.unlock();
        if (keepWaiting && !keepWaiting()) return {};
        lock.lock();
        // Woken by a release; the timeout lets keepWaiting() be asked again, so a cancelled
        // run stops waiting even when nothing is released.
        m_released.wait_for(lock, std::chrono::milliseconds(100));
    }
}

MemoryReservation MemoryBudget::reserveRegardless(std::uint64_t bytes) {
    const std::lock_guard lock(m_mutex);
    m_reserved += bytes;
    return MemoryReservation(this, bytes);
}

void MemoryBudget::wakeWaiters() {
    m_released.notify_all();
}

void MemoryBudget::release(std::uint64_t bytes) {
    {
        const std::lock_guard lock(m_mutex);
        m_reserved -= bytes < m_reserved ? bytes : m_reserved;
    }
    m_released.notify_all();
}

} // namespace quill::toolkit
