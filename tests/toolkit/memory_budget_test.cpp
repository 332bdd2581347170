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

TEST(MemoryBudget, WorkThatMustRunNowHoldsRoomPastTheLimitAndOthersWaitForIt) {
    MemoryBudget budget(100);
    MemoryReservation finished = budget.tryReserve(30); // a finished image waiting for the loop
    MemoryReservation now = budget.reserveRegardless(100);
    ASSERT_TRUE(now);
    EXPECT_EQ(budget.reserved(), 130u);
    EXPECT_EQ(budget.available(), 0u);
    EXPECT_FALSE(budget.tryReserve(1));
    std::atomic<bool> got{false};
    std::thread waiter([&] { got = bool(budget.reserveWhenFree(60, [] { return true; })); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load()) << "nothing starts beside work that runs past the limit";
    now.reset();
    waiter.join();
    EXPECT_TRUE(got.load());

    // A reservation that shrinks to what it still needs gives the rest back at once.
    finished.shrinkTo(10);
    EXPECT_EQ(finished.bytes(), 10u);
    EXPECT_EQ(budget.reserved(), 10u);
    finished.shrinkTo(20); // never grows
    EXPECT_EQ(budget.reserved(), 10u);
    finished.reset();
    EXPECT_EQ(budget.reserved(), 0u);
}

TEST(MemoryBudget, ACallerOutOfTurnWaitsEvenWhereItsBytesWouldFit) {
    MemoryBudget budget(100);
    std::atomic<bool> inTurn{false};
    std::atomic<std::uint64_t> offered{0};
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        got = bool(budget.reserveInTurn(
            40, [] { return true; },
            [&](std::uint64_t available) {
                offered = available;
                return inTurn.load();
            }));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load()) << "room is free, but it is not this caller's turn";
    EXPECT_EQ(offered.load(), 100u);
    inTurn = true;
    budget.wakeWaiters(); // its turn came without any room being given back
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(budget.reserved(), 0u);
    EXPECT_FALSE(budget.reserveInTurn(
        10, [] { return false; }, [](std::uint64_t) { return false; }));
}

} // namespace
} // namespace quill::toolkit
