// The memory budget of the process: one limit that every large allocation of image data is
// measured against, so that decoding ahead, library work buffers and whole-file reads together
// stay below it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace quill::toolkit {

/// The default limit: 1.5 GiB.
inline constexpr std::uint64_t kDefaultMemoryBudget = std::uint64_t{3} << 29;

class MemoryBudget;

/// Bytes held against a budget; given back when the reservation is destroyed or reset. An empty
/// reservation holds nothing and tests false.
class MemoryReservation {
public:
    MemoryReservation() = default;
    MemoryReservation(MemoryReservation&& other) noexcept;
    MemoryReservation& operator=(MemoryReservation&& other) noexcept;
    MemoryReservation(const MemoryReservation&) = delete;
    MemoryReservation& operator=(const MemoryReservation&) = delete;
    ~MemoryReservation() { reset(); }

    explicit operator bool() const { return m_budget != nullptr; }
    [[nodiscard]] std::uint64_t bytes() const { return m_bytes; }
    /// Gives the bytes back.
    void reset();
    /// Gives back all but `bytes` (nothing when it holds no more than that).
    void shrinkTo(std::uint64_t bytes);

private:
    friend class MemoryBudget;
    MemoryReservation(MemoryBudget* budget, std::uint64_t bytes)
        : m_budget(budget), m_bytes(bytes) {}
    MemoryBudget* m_budget = nullptr;
    std::uint64_t m_bytes = 0;
};

/// A limit and the bytes currently reserved against it. Thread-safe.
class MemoryBudget {
public:
    explicit MemoryBudget(std::uint64_t limit = kDefaultMemoryBudget) : m_limit(limit) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    /// The budget of the whole process, shared by the decoders and the processing loop.
    [[nodiscard]] static MemoryBudget& process();

    [[nodiscard]] std::uint64_t limit() const;
    /// Changes the limit (tests and start-up); reservations already held stay.
    void setLimit(std::uint64_t limit);
    [[nodiscard]] std::uint64_t reserved() const;
    /// What could be reserved now: the limit less what is held, 0 when more is held.
    [[nodiscard]] std::uint64_t available() const;

    /// Reserves `bytes` when they fit beside what is held; an empty reservation otherwise.
    [[nodiscard]] MemoryReservation tryReserve(std::uint64_t bytes);
    /// Waits until `bytes` fit beside what is held and reserves them. Gives up with an empty
    /// reservation at once when `bytes` exceed the limit itself, and when `keepWaiting` (polled
    /// whenever a reservation is given back, and every 100 ms) returns false.
    [[nodiscard]] MemoryReservation reserveWhenFree(std::uint64_t bytes,
                                                    const std::function<bool()>& keepWaiting);
    /// reserveWhenFree for callers that hand out room in an order of their own: the bytes are
    /// reserved only when they fit and `inTurn`, asked under the budget's lock with the bytes
    /// that are free, agrees. `inTurn` must not call into the budget.
    [[nodiscard]] MemoryReservation
    reserveInTurn(std::uint64_t bytes, const std::function<bool()>& keepWaiting,
                  const std::function<bool(std::uint64_t available)>& inTurn);
    /// Wakes every caller waiting for room, so that each asks again (its turn may have come
    /// without any room being given back).
    void wakeWaiters();

    /// Reserves `bytes` at once, past the limit when they do not fit: for work that has to run
    /// now. While these bytes are held, every other reservation waits.
    [[nodiscard]] MemoryReservation reserveRegardless(std::uint64_t bytes);

private:
    friend class MemoryReservation;
    void release(std::uint64_t bytes);

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    std::uint64_t m_limit;
    std::uint64_t m_reserved = 0;
};

} // namespace quill::toolkit
