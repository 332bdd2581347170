// The process memory budget: reservations, their release and the wait for room.
#include "toolkit/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace quill::toolkit {
namespace {

TEST(MemoryBudget, ReservationsFitTheLimitAndGiveBackTheirBytes) {
    MemoryBudget budget(100);
    MemoryReservation a = budget.tryReserve(60);
    ASSERT_TRUE(a);
    EXPECT_FALSE(budget.tryReserve(41));
    {
        MemoryReservation b = budget.tryReserve(40);
        EXPECT_TRUE(b);
        EXPECT_EQ(budget.available(), 0u);
        MemoryReservation moved = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(budget.reserved(), 100u);
    }
    EXPECT_EQ(budget.reserved(), 60u);
    a.reset();
    EXPECT_EQ(budget.reserved(), 0u);
    EXPECT_FALSE(budget.tryReserve(101));
    EXPECT_EQ(kDefaultMemoryBudget, std::uint64_t{1536} << 20);
}

TEST(MemoryBudget, WaitingEndsWhenRoomIsGivenBackOrTheWaitIsCalledOff) {
    MemoryBudget budget(100);
    MemoryReservation held = budget.tryReserve(80);
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        MemoryReservation r = budget.reserveWhenFree(50, [] { return true; });
        got = bool(r);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());
    held.reset();
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(budget.reserved(), 0u);

    held = budget.tryReserve(80);
    EXPECT_FALSE(budget.reserveWhenFree(50, [] { return false; }));
    EXPECT_FALSE(budget.reserveWhenFree(101, [] { return true; })); // can never fit
}

} // namespace
} // namespace quill::toolkit
