// The serve command's job queue: as many jobs at a time as it has slots, the
// others in arrival order up to the capacity, places given up by clients
// that left, and shutdown sending the waiting away while the running jobs
// go on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "job_queue.h"

namespace {

using Admission = JobQueue::Admission;

bool always() { return true; }

void wait_until_waiting(const JobQueue& queue, size_t count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (queue.length().waiting != count) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "waiting " << queue.length().waiting;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

TEST(JobQueue, OneRunsTheOthersWaitAndRunInArrivalOrder) {
    JobQueue queue(8);
    ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread> waiters;
    for (int id = 0; id < 5; ++id) {
        waiters.emplace_back([&, id] {
            ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(id);
            }
            queue.finished();
        });
        wait_until_waiting(queue, static_cast<size_t>(id) + 1);
    }
    EXPECT_EQ(queue.length().running, 1u);
    queue.finished();
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(queue.length().running + queue.length().waiting, 0u);
}

TEST(JobQueue, FullQueueRefusesAtOnceAndZeroCapacityOnlyRuns) {
    JobQueue none(0);
    ASSERT_EQ(none.wait_for_turn(always), Admission::Run);
    EXPECT_EQ(none.wait_for_turn(always), Admission::Full);

    JobQueue queue(1);
    ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
    std::thread waiter([&] {
        EXPECT_EQ(queue.wait_for_turn(always), Admission::Run);
        queue.finished();
    });
    wait_until_waiting(queue, 1);
    EXPECT_EQ(queue.wait_for_turn(always), Admission::Full);
    queue.finished();
    waiter.join();
}

TEST(JobQueue, ALeavingClientGivesItsPlaceToTheNext) {
    JobQueue queue(4);
    ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
    std::atomic<bool> first_wanted{true};
    std::thread first([&] {
        EXPECT_EQ(queue.wait_for_turn([&] { return first_wanted.load(); }), Admission::Abandoned);
    });
    wait_until_waiting(queue, 1);
    std::thread second([&] {
        EXPECT_EQ(queue.wait_for_turn(always), Admission::Run);
        queue.finished();
    });
    wait_until_waiting(queue, 2);
    first_wanted = false;
    first.join();
    EXPECT_EQ(queue.length().waiting, 1u);
    queue.finished();
    second.join();
}

TEST(JobQueue, CloseSendsTheWaitingAwayAndTheRunningJobGoesOn) {
    JobQueue queue(4);
    ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
    std::thread waiter([&] { EXPECT_EQ(queue.wait_for_turn(always), Admission::Closed); });
    wait_until_waiting(queue, 1);
    queue.close();
    waiter.join();
    EXPECT_EQ(queue.wait_for_turn(always), Admission::Closed);
    EXPECT_EQ(queue.length().running, 1u);
    { JobTurn ends_the_running_job(queue); }
    EXPECT_EQ(queue.length().running, 0u);
}

TEST(JobQueue, SlotsRunSideBySideAndAFreedSlotGoesToTheFirstWaiting) {
    JobQueue queue(4, 2);
    ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
    ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
    EXPECT_EQ(queue.length().running, 2u);
    std::atomic<int> started{0};
    std::vector<std::thread> waiters;
    for (int id = 0; id < 2; ++id) {
        waiters.emplace_back([&] {
            ASSERT_EQ(queue.wait_for_turn(always), Admission::Run);
            ++started;
        });
        wait_until_waiting(queue, static_cast<size_t>(id) + 1);
    }
    // Both freed slots are taken: the two waiting run side by side.
    queue.finished();
    queue.finished();
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(started.load(), 2);
    const JobQueue::Length length = queue.length();
    EXPECT_EQ(length.running, 2u);
    EXPECT_EQ(length.waiting, 0u);
    EXPECT_EQ(length.slots, 2u);
}

}  // namespace
