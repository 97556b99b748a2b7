// Spin locks and the local interrupt flag of the processor the caller runs on.
//
// The kernel offers three ways to take a lock (plain, irq, irqsave). The plain and irq forms are
// released by the caller itself with `_spin_unlock`, followed for the irq form by
// `raw_local_irq_enable`; the irqsave form has its own release that restores the saved flags.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t spinlock_magic = 0xdead4eadu;

struct spinlock_t {
    std::uint32_t slock;           // 1 free, 0 held
    std::uint32_t magic;           // spinlock_magic once initialised; a lock without it is a bug
    std::int32_t owner_context;    // the context holding it, -1 when free
    std::uint32_t owner_irq_state; // local interrupt flag of the owner when it took the lock
};

inline constexpr spinlock_t spin_lock_unlocked{1u, spinlock_magic, -1, 0u};

inline void spin_lock_init(spinlock_t* lock) { *lock = spin_lock_unlocked; }

extern "C" {
unsigned long _spin_lock_irqsave(spinlock_t* lock);
void _spin_unlock_irqrestore(spinlock_t* lock, unsigned long flags);
void _spin_lock_irq(spinlock_t* lock);
void _spin_lock(spinlock_t* lock);
void _spin_unlock(spinlock_t* lock);

void raw_local_irq_enable(void);
void raw_local_irq_disable(void);
// Non-zero when local interrupts are enabled (the processor's interrupt flag, 0x200).
unsigned long raw_local_save_flags(void);
}

inline constexpr unsigned long irq_flag_enabled = 0x200;  // x86 EFLAGS.IF

inline void spin_unlock_irq(spinlock_t* lock) {
    _spin_unlock(lock);
    raw_local_irq_enable();
}
