#include "sim/hw/event_queue.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace sim::hw {
namespace {

using namespace std::chrono_literals;

TimePoint at(Duration d) { return TimePoint{} + d; }

TEST(EventQueue, RunsInTimeOrderAndSameTimeInSchedulingOrder) {
    EventQueue queue;
    std::string order;
    queue.schedule_at(at(30ns), [&] { order += 'c'; });
    queue.schedule_at(at(10ns), [&] { order += 'a'; });
    queue.schedule_at(at(20ns), [&] { order += 'b'; });
    queue.schedule_at(at(20ns), [&] { order += 'B'; });
    queue.advance_to(at(25ns));
    EXPECT_EQ(order, "abB");
    EXPECT_EQ(queue.now(), at(25ns));
    EXPECT_EQ(queue.pending_count(), 1u);
    EXPECT_EQ(queue.next_event_time(), at(30ns));
    EXPECT_TRUE(queue.run_next());
    EXPECT_EQ(order, "abBc");
    EXPECT_EQ(queue.now(), at(30ns));
    EXPECT_FALSE(queue.run_next());
    EXPECT_FALSE(queue.next_event_time().has_value());
}

TEST(EventQueue, CancelRemovesOnlyThatEventAndIdsAreNotReused) {
    EventQueue queue;
    int ran = 0;
    const EventId first = queue.schedule_after(5ns, [&] { ran += 1; });
    const EventId second = queue.schedule_after(5ns, [&] { ran += 10; });
    EXPECT_NE(first, EventId::none);
    EXPECT_TRUE(queue.is_scheduled(first));
    EXPECT_TRUE(queue.cancel(first));
    EXPECT_FALSE(queue.cancel(first));
    EXPECT_FALSE(queue.is_scheduled(first));
    EXPECT_EQ(queue.pending_count(), 1u);
    // The freed slot is reused, but the old id must not reach the new event.
    const EventId third = queue.schedule_after(7ns, [&] { ran += 100; });
    EXPECT_NE(third, first);
    EXPECT_FALSE(queue.cancel(first));
    queue.advance_to(at(10ns));
    EXPECT_EQ(ran, 110);
    EXPECT_FALSE(queue.is_scheduled(second));
    EXPECT_FALSE(queue.cancel(second));
    EXPECT_FALSE(queue.cancel(EventId::none));
}

TEST(EventQueue, CallbacksMayScheduleAndCancelWhileRunning) {
    EventQueue queue;
    std::vector<int> seen;
    EventId victim{};
    queue.schedule_at(at(1ns), [&] {
        seen.push_back(1);
        queue.schedule_after(0ns, [&] { seen.push_back(2); });  // same time: runs next
        queue.cancel(victim);
    });
    victim = queue.schedule_at(at(2ns), [&] { seen.push_back(99); });
    queue.schedule_at(at(3ns), [&] { seen.push_back(3); });
    queue.advance_to(at(100ns));
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST(EventQueue, ManyCancelledRearmsDoNotPileUp) {
    EventQueue queue;
    EventId id{};
    for (int i = 0; i < 10000; ++i) {
        if (id != EventId::none) queue.cancel(id);
        id = queue.schedule_after(1s, [] {});
    }
    EXPECT_EQ(queue.pending_count(), 1u);
    EXPECT_TRUE(queue.run_next());
    EXPECT_FALSE(queue.run_next());
}

TEST(EventQueueDeathTest, SchedulingInThePastPanics) {
    EventQueue queue;
    queue.advance_to(at(100ns));
    EXPECT_DEATH(queue.schedule_at(at(99ns), [] {}), "panic: event scheduled in the past");
    EXPECT_DEATH(queue.advance_to(at(50ns)), "panic: time asked to run backwards");
}

}  // namespace
}  // namespace sim::hw
