// Interrupts: the sharing rule, delivery at each delivery point and only with local interrupts
// enabled, the handler's context, the guard against a stuck line, /proc/interrupts, and line
// autoprobing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "drivers/serial/kernel/delay.h"
#include "drivers/serial/kernel/interrupt.h"
#include "drivers/serial/kernel/io.h"
#include "drivers/serial/kernel/spinlock.h"
#include "sim/kernel/machine.h"
#include "tests/sim_kernel/test_devices.h"

namespace sim::kernel {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using testing::PinDevice;

constexpr std::uint16_t device_port = 0x300;
constexpr unsigned device_line = 5;

struct HandlerLog {
    int calls = 0;
    int depth = 0;
    int deepest = 0;
    std::vector<std::int32_t> hardirq_counts;
    std::vector<unsigned long> flags;
    std::vector<hw::TimePoint> times;
    Machine* machine = nullptr;
    bool release_pin = true;       // the handler serves the device
    bool enable_inside = false;    // the handler enables interrupts while it runs
    irqreturn_t answer = IRQ_HANDLED;
};

irqreturn_t recording_handler(int, void* dev_id, pt_regs*) {
    auto* log = static_cast<HandlerLog*>(dev_id);
    ++log->calls;
    log->deepest = std::max(log->deepest, ++log->depth);
    log->hardirq_counts.push_back(in_irq());
    log->flags.push_back(raw_local_save_flags());
    log->times.push_back(log->machine->now());
    if (log->enable_inside) {
        raw_local_irq_enable();
        inb(device_port);  // a delivery point with interrupts on and the line still asserted
        raw_local_irq_disable();
    }
    if (log->release_pin) outb(0, device_port);
    --log->depth;
    return log->answer;
}

class IrqTest : public ::testing::Test {
protected:
    IrqTest() {
        log.machine = &machine;
        EXPECT_TRUE(machine.bus().claim_io(device_port, 2, device, "pin"));
    }
    void use_level_trigger() {
        machine.interrupt_controller().set_trigger(static_cast<hw::InterruptLine>(device_line),
                                                   hw::Trigger::level);
    }
    int request(unsigned long flags = 0) {
        return request_irq(device_line, recording_handler, flags, "pin", &log);
    }

    Machine machine;
    PinDevice device{machine.interrupt_controller(), device_line};
    HandlerLog log;
};

struct SharingCase {
    unsigned long first;
    unsigned long second;
    int expected;
};

class IrqSharingTest : public IrqTest, public ::testing::WithParamInterface<SharingCase> {};

TEST_P(IrqSharingTest, ShareOnlyWhenEveryHandlerAsks) {
    HandlerLog other;
    other.machine = &machine;
    ASSERT_EQ(request_irq(device_line, recording_handler, GetParam().first, "first", &other), 0);
    EXPECT_EQ(request_irq(device_line, recording_handler, GetParam().second, "second", &log),
              GetParam().expected);
    EXPECT_EQ(machine.interrupts().actions(device_line).size(), GetParam().expected == 0 ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Table, IrqSharingTest,
                         ::testing::Values(SharingCase{IRQF_SHARED, IRQF_SHARED, 0},
                                           SharingCase{0, IRQF_SHARED, -kerr::busy},
                                           SharingCase{IRQF_SHARED, 0, -kerr::busy},
                                           SharingCase{0, 0, -kerr::busy}));

TEST_F(IrqTest, BadRequestsAreRefused) {
    EXPECT_EQ(request_irq(nr_irq_lines, recording_handler, 0, "x", &log), -kerr::inval);
    EXPECT_EQ(request_irq(3, nullptr, 0, "x", &log), -kerr::inval);
    EXPECT_EQ(request_irq(3, recording_handler, IRQF_SHARED, "x", nullptr), -kerr::inval);
    machine.faults().fail_next(FaultPoint::request_irq);
    EXPECT_EQ(request(), -kerr::busy);
    EXPECT_EQ(request(), 0);
    free_irq(device_line, &log);
    free_irq(device_line, &log);
    EXPECT_TRUE(machine.log().contains("Trying to free already-free IRQ 5"));
}

TEST_F(IrqTest, DeliveredAfterTheBusAccessInHardIrqContextWithInterruptsOff) {
    ASSERT_EQ(request(), 0);
    outb(1, device_port);
    ASSERT_EQ(log.calls, 1);
    EXPECT_NE(log.hardirq_counts[0], 0);
    EXPECT_EQ(log.flags[0], 0u);
    EXPECT_EQ(in_irq(), 0);
    EXPECT_EQ(raw_local_save_flags(), irq_flag_enabled);
    EXPECT_EQ(machine.interrupts().count(device_line), 1u);
}

TEST_F(IrqTest, HeldBackWhileInterruptsAreDisabledAndTakenOnEnable) {
    ASSERT_EQ(request(), 0);
    spinlock_t lock = spin_lock_unlocked;
    const unsigned long flags = _spin_lock_irqsave(&lock);
    outb(1, device_port);
    udelay(100);
    EXPECT_EQ(log.calls, 0);
    _spin_unlock_irqrestore(&lock, flags);
    EXPECT_EQ(log.calls, 1);
}

TEST_F(IrqTest, TakenDuringABusyWaitWhenTheDeviceRaisesIt) {
    ASSERT_EQ(request(), 0);
    machine.events().schedule_after(microseconds(30), [this] { device.set_pin(true); });
    udelay(100);
    ASSERT_EQ(log.calls, 1);
    EXPECT_EQ(log.times[0].time_since_epoch(), microseconds(30));
}

TEST_F(IrqTest, TakenFromTheRunLoop) {
    ASSERT_EQ(request(), 0);
    machine.events().schedule_after(milliseconds(3), [this] { device.set_pin(true); });
    machine.run_for(milliseconds(5));
    ASSERT_EQ(log.calls, 1);
    EXPECT_EQ(log.times[0].time_since_epoch(), milliseconds(3));
}

TEST_F(IrqTest, AHandlerIsNeverEnteredAgainWhileItRuns) {
    use_level_trigger();
    log.enable_inside = true;
    ASSERT_EQ(request(), 0);
    outb(1, device_port);
    EXPECT_EQ(log.calls, 1);
    EXPECT_EQ(log.deepest, 1);
}

TEST_F(IrqTest, AStuckLineNobodyServesIsDisabled) {
    use_level_trigger();
    log.release_pin = false;
    log.answer = IRQ_NONE;
    ASSERT_EQ(request(), 0);
    outb(1, device_port);
    EXPECT_TRUE(machine.interrupts().disabled(device_line));
    EXPECT_EQ(log.calls, static_cast<int>(machine.settings().irq.storm_limit));
    EXPECT_TRUE(machine.log().contains("irq 5: nobody cared")) << machine.log().dmesg();
    EXPECT_TRUE(machine.log().contains("Disabling IRQ #5"));
    // Disabled: no more deliveries. A fresh request starts the line again.
    inb(device_port);
    EXPECT_EQ(log.calls, static_cast<int>(machine.settings().irq.storm_limit));
    free_irq(device_line, &log);
    log.release_pin = true;
    ASSERT_EQ(request(), 0);
    inb(device_port);
    EXPECT_FALSE(machine.interrupts().disabled(device_line));
    EXPECT_FALSE(device.pin());
}

TEST_F(IrqTest, ALineThatStaysAssertedDespiteItsHandlerIsDisabled) {
    use_level_trigger();
    log.release_pin = false;
    ASSERT_EQ(request(), 0);
    outb(1, device_port);
    EXPECT_TRUE(machine.interrupts().disabled(device_line));
    EXPECT_TRUE(machine.log().contains("irq 5: still asserted")) << machine.log().dmesg();
}

TEST_F(IrqTest, ProcInterruptsListsLinesWithHandlers) {
    HandlerLog other;
    other.machine = &machine;
    ASSERT_EQ(request(IRQF_SHARED), 0);
    ASSERT_EQ(request_irq(device_line, recording_handler, IRQF_SHARED, "other", &other), 0);
    outb(1, device_port);
    EXPECT_EQ(machine.files().read("/proc/interrupts").content,
              "           CPU0       \n"
              "  5:          1    IO-APIC-edge  pin, other\n"
              "NMI:          0\n"
              "ERR:          0\n");
}

class ProbeTest : public IrqTest {
protected:
    std::unique_ptr<PinDevice> second_device(unsigned line) {
        auto extra = std::make_unique<PinDevice>(machine.interrupt_controller(), line);
        EXPECT_TRUE(machine.bus().claim_io(0x310, 2, *extra, "second"));
        return extra;
    }
};

TEST_F(ProbeTest, FindsTheOneLineThatFired) {
    const unsigned long mask = probe_irq_on();
    EXPECT_NE(mask & (1ul << device_line), 0u);
    outb(1, device_port);
    outb(0, device_port);
    EXPECT_EQ(probe_irq_off(mask), static_cast<int>(device_line));
}

TEST_F(ProbeTest, AnswersZeroWhenNothingFired) {
    EXPECT_EQ(probe_irq_off(probe_irq_on()), 0);
}

TEST_F(ProbeTest, AnswersNegativeWhenSeveralFired) {
    auto extra = second_device(9);
    const unsigned long mask = probe_irq_on();
    outb(1, 0x310);
    outb(1, device_port);
    EXPECT_EQ(probe_irq_off(mask), -static_cast<int>(device_line));
}

TEST_F(ProbeTest, IgnoresLinesWithHandlersAndLinesAlreadyAsserted) {
    auto extra = second_device(9);
    ASSERT_EQ(request(), 0);
    machine.interrupt_controller().set_trigger(static_cast<hw::InterruptLine>(9), hw::Trigger::level);
    extra->set_pin(true);
    const unsigned long mask = probe_irq_on();
    EXPECT_EQ(mask & (1ul << device_line), 0u);
    EXPECT_EQ(mask & (1ul << 9), 0u);
    outb(1, device_port);
    EXPECT_EQ(probe_irq_off(mask), 0);
}

TEST_F(ProbeTest, AnOldEdgeIsForgottenByAnEmptyProbe) {
    outb(1, device_port);  // no handler: the edge stays latched
    outb(0, device_port);
    EXPECT_EQ(probe_irq_off(probe_irq_on()), 0);
    const unsigned long mask = probe_irq_on();
    EXPECT_NE(mask & (1ul << device_line), 0u);
    outb(1, device_port);
    EXPECT_EQ(probe_irq_off(mask), static_cast<int>(device_line));
}

irqreturn_t requesting_handler(int, void*, pt_regs*) {
    static int cookie;
    request_irq(7, requesting_handler, 0, "again", &cookie);
    return IRQ_HANDLED;
}

TEST(IrqDeathTest, SleepingCallsInTheWrongContextStopTheMachine) {
    EXPECT_DEATH(
        {
            Machine machine;
            PinDevice device(machine.interrupt_controller(), device_line);
            machine.bus().claim_io(device_port, 2, device, "pin");
            request_irq(device_line, requesting_handler, 0, "pin", nullptr);
            outb(1, device_port);
        },
        "sleeping function request_irq called from hardirq 5");
    EXPECT_DEATH(
        {
            Machine machine;
            HandlerLog log;
            spinlock_t lock = spin_lock_unlocked;
            _spin_lock(&lock);
            request_irq(3, recording_handler, 0, "x", &log);
        },
        "sleeping function request_irq called with spin locks held");
    EXPECT_DEATH(
        {
            Machine machine;
            probe_irq_on();
            probe_irq_on();
        },
        "probe_irq_on while an earlier probe is still running");
}

}  // namespace
}  // namespace sim::kernel
