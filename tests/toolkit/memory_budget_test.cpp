// Memory limits: the working image refuses oversized requests, and the process memory budget
// hands out reservations, takes them back and lets a caller wait for room.
#include "toolkit/memory_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "toolkit/image.h"

namespace quill::toolkit {
namespace {

TEST(Image, RefusesEmptyAndOversizedRequestsWithoutThrowing) {
    EXPECT_TRUE(Image(0, 10, PixelFormat::Bgr24).empty());
    EXPECT_TRUE(Image(65536, 65536, PixelFormat::Bgra32).empty()); // 16 GiB
    EXPECT_TRUE(Image(1 << 30, 2, PixelFormat::Bgr24).empty());
}

TEST(MemoryBudget, ReservationsFitTheLimitAndGiveBackTheirBytes) {
    MemoryBudget budget(100);
    MemoryReservation a = budget.tryReserve(60);
    ASSERT_TRUE(a);
    EXPECT_FALSE(budget.tryReserve(41));
    {
        MemoryReservation b = budget.tryReserve(40);
        EXPECT_TRUE(b);
        MemoryReservation moved = std::move(b);
        EXPECT_EQ(budget.reserved(), 100u); // the move holds the bytes once
    }
    EXPECT_EQ(budget.reserved(), 60u);
    a.reset();
    EXPECT_EQ(budget.reserved(), 0u);
    EXPECT_FALSE(budget.tryReserve(101));
}

TEST(MemoryBudget, WaitingEndsWhenRoomIsGivenBackOrTheWaitIsCalledOff) {
    MemoryBudget budget(100);
    MemoryReservation held = budget.tryReserve(80);
    std::atomic<bool> got{false};
    std::thread waiter([&] { got = bool(budget.reserveWhenFree(50, [] { return true; })); });
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
