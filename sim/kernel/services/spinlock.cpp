// Spin locks and the local interrupt flag. Every lock operation goes through the lock checker.
#include "drivers/serial/kernel/spinlock.h"

#include "sim/kernel/machine.h"

using sim::kernel::Machine;

extern "C" unsigned long _spin_lock_irqsave(spinlock_t* lock) {
    Machine& machine = Machine::current();
    const unsigned long flags = machine.cpu().irqs_enabled() ? irq_flag_enabled : 0;
    machine.local_irq_disable();
    machine.locks().acquire(lock, __builtin_return_address(0));
    return flags;
}

extern "C" void _spin_unlock_irqrestore(spinlock_t* lock, unsigned long flags) {
    Machine& machine = Machine::current();
    machine.locks().release(lock, __builtin_return_address(0));
    if ((flags & irq_flag_enabled) != 0) {
        machine.local_irq_enable();
    } else {
        machine.local_irq_disable();
    }
}

extern "C" void _spin_lock_irq(spinlock_t* lock) {
    Machine& machine = Machine::current();
    machine.local_irq_disable();
    machine.locks().acquire(lock, __builtin_return_address(0));
}

extern "C" void _spin_lock(spinlock_t* lock) {
    Machine::current().locks().acquire(lock, __builtin_return_address(0));
}

extern "C" void _spin_unlock(spinlock_t* lock) {
    Machine::current().locks().release(lock, __builtin_return_address(0));
}

extern "C" void raw_local_irq_enable(void) { Machine::current().local_irq_enable(); }

extern "C" void raw_local_irq_disable(void) { Machine::current().local_irq_disable(); }

extern "C" unsigned long raw_local_save_flags(void) {
    return Machine::current().cpu().irqs_enabled() ? irq_flag_enabled : 0;
}
