// Time: jiffies follow the virtual clock at the machine's HZ, busy-waits advance time without
// running timers, and timers fire from the run loop at their tick, in softirq context.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <vector>

#include "drivers/serial/kernel/delay.h"
#include "drivers/serial/kernel/interrupt.h"
#include "drivers/serial/kernel/spinlock.h"
#include "drivers/serial/kernel/timer.h"
#include "sim/kernel/machine.h"

namespace sim::kernel {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

class JiffiesTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(JiffiesTest, FollowTheClock) {
    MachineSettings settings;
    settings.hz = GetParam();
    Machine machine{settings};
    EXPECT_EQ(jiffies, 0u);
    machine.run_for(seconds(1));
    EXPECT_EQ(jiffies, GetParam());
    // Just short of the next tick it has not moved; at the tick it has.
    const hw::TimePoint next = machine.tick_start(GetParam() + 1);
    machine.run_for(next - machine.now() - nanoseconds(1));
    EXPECT_EQ(jiffies, GetParam());
    machine.run_for(nanoseconds(1));
    EXPECT_EQ(jiffies, GetParam() + 1);
}

INSTANTIATE_TEST_SUITE_P(Rates, JiffiesTest, ::testing::Values(100u, 250u, 300u, 1000u));

struct Recorder {
    Machine* machine = nullptr;
    std::vector<hw::TimePoint> fired;
    std::vector<std::int32_t> preempt_counts;
    std::vector<unsigned long> flags;
    timer_list timer{};
    int rearm = 0;
    unsigned long rearm_ticks = 1;

    static void callback(unsigned long data) {
        auto* self = reinterpret_cast<Recorder*>(data);
        self->fired.push_back(self->machine->now());
        self->preempt_counts.push_back(current_thread_info()->preempt_count);
        self->flags.push_back(raw_local_save_flags());
        if (self->rearm > 0) {
            --self->rearm;
            mod_timer(&self->timer, jiffies + self->rearm_ticks);
        }
    }
};

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        recorder.machine = &machine;
        init_timer(&recorder.timer);
        recorder.timer.function = Recorder::callback;
        recorder.timer.data = reinterpret_cast<unsigned long>(&recorder);
    }
    Machine machine;
    Recorder recorder;
};

TEST_F(TimerTest, FiresAtItsTickInSoftirqContextWithInterruptsEnabled) {
    machine.run_for(microseconds(100));
    EXPECT_EQ(mod_timer(&recorder.timer, jiffies + 5), 0);
    ASSERT_TRUE(machine.run_until([&] { return !recorder.fired.empty(); }, seconds(1)));
    EXPECT_EQ(recorder.fired[0], machine.tick_start(5));
    EXPECT_EQ(jiffies, 5u);
    EXPECT_NE(recorder.preempt_counts[0] & softirq_mask, 0);
    EXPECT_EQ(recorder.preempt_counts[0] & hardirq_mask, 0);
    EXPECT_EQ(recorder.flags[0], irq_flag_enabled);
    EXPECT_EQ(current_thread_info()->preempt_count, 0);
}

TEST_F(TimerTest, ATimerForAPastTickWaitsForTheNextOne) {
    machine.run_for(milliseconds(10));  // tick 2, 2 ms into it
    mod_timer(&recorder.timer, jiffies - 1);
    machine.run_for(milliseconds(1));
    EXPECT_TRUE(recorder.fired.empty());
    machine.run_for(milliseconds(1));
    ASSERT_EQ(recorder.fired.size(), 1u);
    EXPECT_EQ(recorder.fired[0], machine.tick_start(3));
}

TEST_F(TimerTest, ACallbackThatRearmsForNowRunsOncePerTick) {
    recorder.rearm = 1000;
    recorder.rearm_ticks = 0;
    mod_timer(&recorder.timer, jiffies + 1);
    machine.run_for(seconds(1));
    EXPECT_EQ(recorder.fired.size(), 250u);
}

TEST_F(TimerTest, ModAndDelReportWhetherItWasPending) {
    EXPECT_EQ(mod_timer(&recorder.timer, jiffies + 10), 0);
    EXPECT_EQ(mod_timer(&recorder.timer, jiffies + 20), 1);
    EXPECT_EQ(recorder.timer.expires, 20u);
    EXPECT_EQ(del_timer_sync(&recorder.timer), 1);
    EXPECT_EQ(del_timer_sync(&recorder.timer), 0);
    machine.run_for(seconds(1));
    EXPECT_TRUE(recorder.fired.empty());
}

TEST_F(TimerTest, BusyWaitsAdvanceTimeButNeverRunTimers) {
    mod_timer(&recorder.timer, jiffies + 1);
    mdelay(100);
    EXPECT_EQ(machine.now().time_since_epoch(), milliseconds(100));
    EXPECT_EQ(jiffies, 25u);
    EXPECT_TRUE(recorder.fired.empty());
    machine.run_for(nanoseconds(0));
    EXPECT_EQ(recorder.fired.size(), 1u);
}

TEST_F(TimerTest, UdelayRoundsPartialMicrosecondsUp) {
    __const_udelay(1);
    EXPECT_EQ(machine.now().time_since_epoch(), microseconds(1));
    udelay(10);
    EXPECT_EQ(machine.now().time_since_epoch(), microseconds(11));
    __const_udelay(udelay_xloops_per_us + 1);
    EXPECT_EQ(machine.now().time_since_epoch(), microseconds(13));
}

TEST(TimerWrapTest, FiresAcrossTheJiffiesWrap) {
    MachineSettings settings;
    settings.initial_jiffies = ULONG_MAX - 2;
    Machine machine{settings};
    Recorder recorder;
    recorder.machine = &machine;
    init_timer(&recorder.timer);
    recorder.timer.function = Recorder::callback;
    recorder.timer.data = reinterpret_cast<unsigned long>(&recorder);
    mod_timer(&recorder.timer, jiffies + 5);
    machine.run_for(seconds(1));
    ASSERT_EQ(recorder.fired.size(), 1u);
    EXPECT_EQ(recorder.fired[0], machine.tick_start(5));
}

struct SelfDeleter {
    timer_list timer{};
    static void callback(unsigned long data) { del_timer_sync(&reinterpret_cast<SelfDeleter*>(data)->timer); }
};

TEST(TimerDeathTest, MisuseStopsTheMachine) {
    EXPECT_DEATH(
        {
            Machine machine;
            SelfDeleter deleter;
            init_timer(&deleter.timer);
            deleter.timer.function = SelfDeleter::callback;
            deleter.timer.data = reinterpret_cast<unsigned long>(&deleter);
            mod_timer(&deleter.timer, jiffies + 1);
            machine.run_for(seconds(1));
        },
        "del_timer_sync of timer .* from its own callback");
    EXPECT_DEATH(
        {
            Machine machine;
            timer_list timer{};
            timer.function = Recorder::callback;
            mod_timer(&timer, 1);
        },
        "mod_timer of timer .* which init_timer never set up");
    EXPECT_DEATH(
        {
            Machine machine;
            timer_list timer{};
            init_timer(&timer);
            spinlock_t lock = spin_lock_unlocked;
            _spin_lock(&lock);
            del_timer_sync(&timer);
        },
        "sleeping function del_timer_sync called with spin locks held");
    EXPECT_DEATH(
        {
            Machine machine;
            timer_list timer{};
            init_timer(&timer);
            mod_timer(&timer, 1);
        },
        "without a callback");
}

}  // namespace
}  // namespace sim::kernel
