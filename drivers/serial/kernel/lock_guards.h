// Scoped holders for the kernel's three lock forms, so that every path out of a locked region
// releases the lock the way it was taken. The driver and the serial core both hold port locks
// through these, so both go through the same lock services and their checks.
#pragma once

#include "drivers/serial/kernel/spinlock.h"

// spin_lock_irqsave / spin_unlock_irqrestore
class irqsave_lock {
public:
    explicit irqsave_lock(spinlock_t* lock) : lock_(lock), flags_(_spin_lock_irqsave(lock)) {}
    ~irqsave_lock() { _spin_unlock_irqrestore(lock_, flags_); }
    irqsave_lock(const irqsave_lock&) = delete;
    irqsave_lock& operator=(const irqsave_lock&) = delete;

private:
    spinlock_t* lock_;
    unsigned long flags_;
};

// spin_lock_irq / spin_unlock_irq: local interrupts are enabled again at the end.
class irq_lock {
public:
    explicit irq_lock(spinlock_t* lock) : lock_(lock) { _spin_lock_irq(lock); }
    ~irq_lock() { spin_unlock_irq(lock_); }
    irq_lock(const irq_lock&) = delete;
    irq_lock& operator=(const irq_lock&) = delete;

private:
    spinlock_t* lock_;
};

// spin_lock / spin_unlock: the interrupt state is left as it is.
class plain_lock {
public:
    explicit plain_lock(spinlock_t* lock) : lock_(lock) { _spin_lock(lock); }
    ~plain_lock() { _spin_unlock(lock_); }
    plain_lock(const plain_lock&) = delete;
    plain_lock& operator=(const plain_lock&) = delete;

private:
    spinlock_t* lock_;
};
