// Checked locks. Every spin lock and mutex operation of the kernel services passes through here.
// The machine stops, naming the locks and the callers, when code
// - takes a spin lock its own context already holds, or one an interrupted context holds (on one
//   processor that can never be released: a deadlock);
// - releases a lock it does not hold, or uses one that was never initialised;
// - takes locks in an order that contradicts an order seen before (A then B after B then A), or
//   a declared order (by default: no `irq_lists` chain lock while a `serial8250_ports` port lock
//   is held);
// - takes a lock in hard-interrupt context that it also takes elsewhere with interrupts enabled;
// - sleeps (mutex_lock, request_irq, free_irq, a waiting del_timer_sync) with a spin lock held,
//   with interrupts disabled, or in interrupt context.
//
// Locks are grouped into classes the way lockdep groups them: a lock inside a module's or the
// program's exported object (`serial8250_ports`, `irq_lists`) belongs to that object's class;
// `name_lock` gives any other lock a class. Order is tracked between classes.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "drivers/serial/kernel/mutex.h"
#include "drivers/serial/kernel/spinlock.h"
#include "sim/kernel/cpu/cpu.h"

namespace sim::kernel {

// Locks of class `first` are never taken while a lock of class `second` is held.
struct LockOrderRule {
    std::string first;
    std::string second;
};

struct HeldLock {
    const void* lock = nullptr;
    bool is_mutex = false;
    std::int32_t context = process_context_id;
    const void* caller = nullptr;  // return address into the code that took it
    bool irqs_enabled = false;     // local interrupt flag once the lock was held
    int lock_class = -1;
};

class LockChecker {
public:
    LockChecker(const Cpu& cpu, std::vector<LockOrderRule> rules);

    void acquire(spinlock_t* lock, const void* caller);
    void release(spinlock_t* lock, const void* caller);
    void mutex_lock(::mutex* lock, const void* caller);
    void mutex_unlock(::mutex* lock, const void* caller);
    // Stops the machine if the caller may not sleep here.
    void might_sleep(std::string_view what, const void* caller) const;
    // Stops the machine if `context` still holds a spin lock when it `ends` (a handler returning,
    // a module's init returning).
    void expect_no_spin_locks(std::int32_t context, std::string_view ends) const;

    const std::vector<HeldLock>& held() const { return held_; }
    std::size_t spin_locks_held() const;
    bool holds(const void* lock) const;

    // Gives a lock that lies in no exported object a class for order checking.
    void name_lock(const void* lock, std::string class_name);
    void add_order_rule(LockOrderRule rule);
    // Module memory went away: the address-to-class answers may be stale.
    void forget_address_classes();

    std::string describe_lock(const void* lock) const;

private:
    struct LockClass {
        std::string name;
        bool used_in_hardirq = false;
        const void* hardirq_caller = nullptr;
        bool used_with_irqs_enabled = false;
        const void* irqs_enabled_caller = nullptr;
        std::int32_t irqs_enabled_context = process_context_id;
    };
    struct Dependency {
        const void* caller = nullptr;  // where the second lock was taken with the first held
    };

    int class_of(const void* lock);
    int class_named(const std::string& name);
    void check_magic(const spinlock_t* lock, std::string_view operation, const void* caller) const;
    void check_order(int taking, const void* lock, const void* caller);
    void check_irq_safety(int lock_class, const void* lock, const void* caller);
    bool reaches(int from, int to) const;
    std::string holders_text() const;

    const Cpu& cpu_;
    std::vector<LockOrderRule> rules_;
    std::vector<HeldLock> held_;
    std::vector<LockClass> classes_;
    std::map<std::string, int, std::less<>> class_index_;
    std::unordered_map<const void*, int> address_classes_;
    std::unordered_map<const void*, std::string> named_locks_;
    std::map<std::pair<int, int>, Dependency> dependencies_;
    std::vector<std::set<int>> edges_;
};

}  // namespace sim::kernel
