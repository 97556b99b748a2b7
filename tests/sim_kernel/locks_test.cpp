// Checked locks: the three lock forms keep the interrupt flag right and record their owner;
// every misuse stops the machine with a message that names the locks.
#include <gtest/gtest.h>

#include <chrono>

#include "drivers/serial/kernel/interrupt.h"
#include "drivers/serial/kernel/io.h"
#include "drivers/serial/kernel/list.h"
#include "drivers/serial/kernel/mutex.h"
#include "drivers/serial/kernel/spinlock.h"
#include "sim/kernel/machine.h"
#include "tests/sim_kernel/test_devices.h"

namespace sim::kernel {

// Zero-filled, never initialised; exported so that the message can name it.
extern mutex bad_mutex;
mutex bad_mutex;

namespace {

TEST(LockTest, TheLockFormsKeepTheInterruptFlag) {
    Machine machine;
    spinlock_t outer = spin_lock_unlocked;
    spinlock_t inner = spin_lock_unlocked;
    const unsigned long outer_flags = _spin_lock_irqsave(&outer);
    EXPECT_EQ(outer_flags, irq_flag_enabled);
    EXPECT_EQ(raw_local_save_flags(), 0u);
    EXPECT_EQ(outer.slock, 0u);
    EXPECT_EQ(outer.owner_context, process_context_id);
    // Nested irqsave saves "disabled" and restores it.
    const unsigned long inner_flags = _spin_lock_irqsave(&inner);
    EXPECT_EQ(inner_flags, 0u);
    _spin_unlock_irqrestore(&inner, inner_flags);
    EXPECT_EQ(raw_local_save_flags(), 0u);
    _spin_unlock_irqrestore(&outer, outer_flags);
    EXPECT_EQ(raw_local_save_flags(), irq_flag_enabled);
    EXPECT_EQ(outer.slock, 1u);
    EXPECT_EQ(outer.owner_context, -1);

    _spin_lock_irq(&outer);
    EXPECT_EQ(raw_local_save_flags(), 0u);
    spin_unlock_irq(&outer);
    EXPECT_EQ(raw_local_save_flags(), irq_flag_enabled);
    _spin_lock(&outer);
    EXPECT_EQ(raw_local_save_flags(), irq_flag_enabled);
    _spin_unlock(&outer);
    EXPECT_EQ(machine.locks().spin_locks_held(), 0u);
}

TEST(LockTest, ConsistentOrderAndMutexUseAreAccepted) {
    Machine machine;
    spinlock_t first = spin_lock_unlocked;
    spinlock_t second = spin_lock_unlocked;
    machine.locks().name_lock(&first, "first_class");
    machine.locks().name_lock(&second, "second_class");
    mutex m = mutex_unlocked;
    for (int round = 0; round < 2; ++round) {
        mutex_lock(&m);
        const unsigned long flags = _spin_lock_irqsave(&first);
        _spin_lock(&second);
        _spin_unlock(&second);
        _spin_unlock_irqrestore(&first, flags);
        mutex_unlock(&m);
    }
    EXPECT_EQ(m.count, 1);
}

struct LockingDevice {
    spinlock_t* lock;
    bool irqsave;
};

irqreturn_t locking_handler(int, void* dev_id, pt_regs*) {
    auto* device = static_cast<LockingDevice*>(dev_id);
    if (device->irqsave) {
        const unsigned long flags = _spin_lock_irqsave(device->lock);
        _spin_unlock_irqrestore(device->lock, flags);
    } else {
        _spin_lock(device->lock);
        _spin_unlock(device->lock);
    }
    outb(0, 0x300);
    return IRQ_HANDLED;
}

// A machine with a device on irq 5 whose handler takes `lock`.
struct InterruptingMachine {
    explicit InterruptingMachine(spinlock_t* lock) : device{lock, true} {
        machine.bus().claim_io(0x300, 2, pin, "pin");
        request_irq(5, locking_handler, 0, "pin", &device);
    }
    void raise() { outb(1, 0x300); }
    Machine machine;
    testing::PinDevice pin{machine.interrupt_controller(), 5};
    LockingDevice device;
};

TEST(LockDeathTest, MisuseStopsTheMachineNamingTheLocks) {
    EXPECT_DEATH(
        {
            Machine machine;
            spinlock_t lock = spin_lock_unlocked;
            _spin_lock(&lock);
            _spin_lock(&lock);
        },
        "spin lock recursion: .* taken again by process context");
    EXPECT_DEATH(
        {
            Machine machine;
            spinlock_t lock = spin_lock_unlocked;
            _spin_unlock(&lock);
        },
        "spin unlock of .*, which is not held");
    EXPECT_DEATH(
        {
            Machine machine;
            spinlock_t lock{};
            _spin_lock(&lock);
        },
        "bad magic 0x00000000");
    EXPECT_DEATH(
        {
            Machine machine;
            mutex_lock(&bad_mutex);
        },
        "mutex_lock of .*bad_mutex.* with bad magic");
    EXPECT_DEATH(
        {
            Machine machine;
            mutex m = mutex_unlocked;
            mutex_lock(&m);
            mutex_lock(&m);
        },
        "deadlock: mutex .* is already held by process context");
    EXPECT_DEATH(
        {
            Machine machine;
            mutex m = mutex_unlocked;
            mutex_unlock(&m);
        },
        "mutex_unlock of .*, which is not held");
}

TEST(LockDeathTest, OrderInversionsStopTheMachine) {
    EXPECT_DEATH(
        {
            Machine machine;
            spinlock_t a = spin_lock_unlocked;
            spinlock_t b = spin_lock_unlocked;
            machine.locks().name_lock(&a, "class_a");
            machine.locks().name_lock(&b, "class_b");
            _spin_lock(&a);
            _spin_lock(&b);
            _spin_unlock(&b);
            _spin_unlock(&a);
            _spin_lock(&b);
            _spin_lock(&a);
        },
        "possible circular locking dependency: class_a .* taken while holding class_b");
    // The declared order holds from the first time: no chain lock under a port lock.
    EXPECT_DEATH(
        {
            Machine machine;
            spinlock_t chain = spin_lock_unlocked;
            spinlock_t port = spin_lock_unlocked;
            machine.locks().name_lock(&chain, "irq_lists");
            machine.locks().name_lock(&port, "serial8250_ports");
            const unsigned long flags = _spin_lock_irqsave(&port);
            _spin_lock(&chain);
            _spin_unlock_irqrestore(&port, flags);
        },
        "lock order violated: irq_lists .* taken while holding serial8250_ports");
}

TEST(LockDeathTest, InterruptsMeetingHeldLocksStopTheMachine) {
    // The process holds the lock with interrupts on; the handler wants it: a deadlock.
    EXPECT_DEATH(
        {
            spinlock_t lock = spin_lock_unlocked;
            InterruptingMachine m(&lock);
            _spin_lock(&lock);
            m.raise();
        },
        "deadlock: hardirq 5 wants spin lock .* held by the interrupted process context .*"
        "interrupts enabled");
    // Without the race: taken in the handler, and elsewhere with interrupts on.
    EXPECT_DEATH(
        {
            spinlock_t lock = spin_lock_unlocked;
            InterruptingMachine m(&lock);
            m.machine.locks().name_lock(&lock, "port_class");
            m.raise();
            _spin_lock(&lock);
        },
        "inconsistent lock state: port_class locks are taken in hard-interrupt context");
}

TEST(LockDeathTest, SleepingInAtomicContextStopsTheMachine) {
    EXPECT_DEATH(
        {
            Machine machine;
            spinlock_t lock = spin_lock_unlocked;
            mutex m = mutex_unlocked;
            _spin_lock(&lock);
            mutex_lock(&m);
        },
        "sleeping function mutex_lock called with spin locks held: .* held by process context");
    EXPECT_DEATH(
        {
            Machine machine;
            mutex m = mutex_unlocked;
            raw_local_irq_disable();
            mutex_lock(&m);
        },
        "sleeping function mutex_lock called with local interrupts disabled");
    EXPECT_DEATH(
        {
            Machine machine;
            spinlock_t lock = spin_lock_unlocked;
            _spin_lock(&lock);
            machine.run_for(std::chrono::milliseconds(1));
        },
        "run_for \\(the process sleeps\\) with spin lock");
}

TEST(ListTest, AddsAfterTheNodeAndPoisonsRemovedLinks) {
    Machine machine;
    list_head a{}, b{}, c{};
    INIT_LIST_HEAD(&a);
    list_add(&b, &a);
    list_add(&c, &a);  // a, c, b
    EXPECT_EQ(a.next, &c);
    EXPECT_EQ(c.next, &b);
    EXPECT_EQ(b.next, &a);
    EXPECT_EQ(a.prev, &b);
    list_del(&c);
    EXPECT_EQ(a.next, &b);
    EXPECT_EQ(b.prev, &a);
    EXPECT_EQ(reinterpret_cast<unsigned long>(c.next), list_poison_next);
    EXPECT_EQ(reinterpret_cast<unsigned long>(c.prev), list_poison_prev);
}

TEST(ListDeathTest, CorruptionStopsTheMachine) {
    EXPECT_DEATH(
        {
            Machine machine;
            list_head a{};
            list_head b{};
            INIT_LIST_HEAD(&a);
            list_add(&b, &a);
            list_del(&b);
            list_del(&b);
        },
        "list_del of .*, which was already removed");
    EXPECT_DEATH(
        {
            Machine machine;
            list_head a{};
            list_head b{};
            list_head stray{};
            INIT_LIST_HEAD(&a);
            list_add(&b, &a);
            b.prev = &stray;
            list_del(&b);
        },
        "list_del corruption");
}

}  // namespace
}  // namespace sim::kernel
