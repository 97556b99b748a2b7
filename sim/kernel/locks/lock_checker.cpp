#include "sim/kernel/locks/lock_checker.h"

#include <algorithm>
#include <utility>

#include <fmt/format.h>

#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"

namespace sim::kernel {
namespace {

std::string caller_text(const void* caller) {
    return caller == nullptr ? std::string("(unknown caller)") : describe_address(caller);
}

}  // namespace

LockChecker::LockChecker(const Cpu& cpu, std::vector<LockOrderRule> rules)
    : cpu_(cpu), rules_(std::move(rules)) {}

std::string LockChecker::describe_lock(const void* lock) const {
    if (auto named = named_locks_.find(lock); named != named_locks_.end()) {
        return fmt::format("{} ({})", named->second, lock);
    }
    return describe_address(lock);
}

int LockChecker::class_named(const std::string& name) {
    if (auto found = class_index_.find(name); found != class_index_.end()) return found->second;
    const int index = static_cast<int>(classes_.size());
    classes_.push_back(LockClass{name});
    edges_.emplace_back();
    class_index_.emplace(name, index);
    return index;
}

int LockChecker::class_of(const void* lock) {
    if (auto cached = address_classes_.find(lock); cached != address_classes_.end()) {
        return cached->second;
    }
    int index = -1;
    if (auto named = named_locks_.find(lock); named != named_locks_.end()) {
        index = class_named(named->second);
    } else if (SymbolHit hit = symbol_at(lock); !hit.name.empty()) {
        index = class_named(hit.name);
    }
    address_classes_.emplace(lock, index);
    return index;
}

void LockChecker::name_lock(const void* lock, std::string class_name) {
    named_locks_[lock] = std::move(class_name);
    address_classes_.erase(lock);
}

void LockChecker::add_order_rule(LockOrderRule rule) { rules_.push_back(std::move(rule)); }

void LockChecker::forget_address_classes() { address_classes_.clear(); }

std::size_t LockChecker::spin_locks_held() const {
    return static_cast<std::size_t>(
        std::count_if(held_.begin(), held_.end(), [](const HeldLock& h) { return !h.is_mutex; }));
}

bool LockChecker::holds(const void* lock) const {
    return std::any_of(held_.begin(), held_.end(),
                       [lock](const HeldLock& h) { return h.lock == lock; });
}

std::string LockChecker::holders_text() const {
    std::string text;
    for (const HeldLock& h : held_) {
        if (h.is_mutex) continue;
        if (!text.empty()) text += ", ";
        text += fmt::format("{} held by {} since {}", describe_lock(h.lock),
                            describe_context(h.context), caller_text(h.caller));
    }
    return text;
}

void LockChecker::check_magic(const spinlock_t* lock, std::string_view operation,
                              const void* caller) const {
    if (lock == nullptr) {
        stop_machine(fmt::format("{} of a null spin lock, called from {}", operation,
                                 caller_text(caller)));
    }
    if (lock->magic != spinlock_magic) {
        stop_machine(fmt::format(
            "{} of spin lock {} with bad magic {:#010x} (never initialised?), called from {}",
            operation, describe_lock(lock), lock->magic, caller_text(caller)));
    }
    if (lock->slock > 1) {
        stop_machine(fmt::format("{} of corrupted spin lock {} (lock word {:#x}), called from {}",
                                 operation, describe_lock(lock), lock->slock,
                                 caller_text(caller)));
    }
}

bool LockChecker::reaches(int from, int to) const {
    std::vector<int> pending{from};
    std::vector<bool> seen(classes_.size(), false);
    while (!pending.empty()) {
        const int at = pending.back();
        pending.pop_back();
        if (at == to) return true;
        if (seen[static_cast<std::size_t>(at)]) continue;
        seen[static_cast<std::size_t>(at)] = true;
        for (int next : edges_[static_cast<std::size_t>(at)]) pending.push_back(next);
    }
    return false;
}

void LockChecker::check_order(int taking, const void* lock, const void* caller) {
    const std::int32_t context = cpu_.context();
    for (const HeldLock& h : held_) {
        if (h.is_mutex || h.context != context || h.lock_class < 0 || h.lock_class == taking) {
            continue;
        }
        const LockClass& held_class = classes_[static_cast<std::size_t>(h.lock_class)];
        const LockClass& taking_class = classes_[static_cast<std::size_t>(taking)];
        for (const LockOrderRule& rule : rules_) {
            if (rule.first == taking_class.name && rule.second == held_class.name) {
                stop_machine(fmt::format(
                    "lock order violated: {} taken while holding {} (taken by {}); {} locks are "
                    "always taken before {} locks; called from {}",
                    describe_lock(lock), describe_lock(h.lock), caller_text(h.caller), rule.first,
                    rule.second, caller_text(caller)));
            }
        }
        if (reaches(taking, h.lock_class)) {
            const auto earlier = dependencies_.find({taking, h.lock_class});
            stop_machine(fmt::format(
                "possible circular locking dependency: {} taken while holding {} (taken by {}), "
                "but {} locks were taken while holding {} locks before{}; called from {}",
                describe_lock(lock), describe_lock(h.lock), caller_text(h.caller),
                held_class.name, taking_class.name,
                earlier != dependencies_.end()
                    ? fmt::format(" (at {})", caller_text(earlier->second.caller))
                    : std::string(),
                caller_text(caller)));
        }
        if (edges_[static_cast<std::size_t>(h.lock_class)].insert(taking).second) {
            dependencies_[{h.lock_class, taking}] = Dependency{caller};
        }
    }
}

void LockChecker::check_irq_safety(int lock_class, const void* lock, const void* caller) {
    LockClass& c = classes_[static_cast<std::size_t>(lock_class)];
    if (cpu_.in_hardirq()) {
        if (!c.used_in_hardirq) {
            c.used_in_hardirq = true;
            c.hardirq_caller = caller;
        }
    } else if (cpu_.irqs_enabled()) {
        if (!c.used_with_irqs_enabled) {
            c.used_with_irqs_enabled = true;
            c.irqs_enabled_caller = caller;
            c.irqs_enabled_context = cpu_.context();
        }
    }
    if (c.used_in_hardirq && c.used_with_irqs_enabled) {
        stop_machine(fmt::format(
            "inconsistent lock state: {} locks are taken in hard-interrupt context (at {}) and "
            "with interrupts enabled in {} (at {}); an interrupt arriving while the lock is held "
            "deadlocks. Lock {}",
            c.name, caller_text(c.hardirq_caller), describe_context(c.irqs_enabled_context),
            caller_text(c.irqs_enabled_caller), describe_lock(lock)));
    }
}

void LockChecker::acquire(spinlock_t* lock, const void* caller) {
    check_magic(lock, "spin lock", caller);
    const std::int32_t context = cpu_.context();
    if (lock->slock == 0) {
        const auto holder = std::find_if(held_.begin(), held_.end(),
                                         [lock](const HeldLock& h) { return h.lock == lock; });
        if (holder == held_.end()) {
            stop_machine(fmt::format(
                "spin lock {} is marked held but no context holds it (copied or overwritten "
                "while held?), called from {}",
                describe_lock(lock), caller_text(caller)));
        }
        if (holder->context == context) {
            stop_machine(fmt::format(
                "spin lock recursion: {} taken again by {}, which holds it since {}; called from "
                "{}",
                describe_lock(lock), describe_context(context), caller_text(holder->caller),
                caller_text(caller)));
        }
        stop_machine(fmt::format(
            "deadlock: {} wants spin lock {}, held by the interrupted {} since {} (taken with "
            "interrupts {}); called from {}",
            describe_context(context), describe_lock(lock), describe_context(holder->context),
            caller_text(holder->caller), holder->irqs_enabled ? "enabled" : "disabled",
            caller_text(caller)));
    }
    if (holds(lock)) {
        stop_machine(fmt::format("spin lock {} was initialised again while held; called from {}",
                                 describe_lock(lock), caller_text(caller)));
    }
    const int lock_class = class_of(lock);
    if (lock_class >= 0) {
        check_order(lock_class, lock, caller);
        check_irq_safety(lock_class, lock, caller);
    }
    lock->slock = 0;
    lock->owner_context = context;
    lock->owner_irq_state = cpu_.irqs_enabled() ? static_cast<std::uint32_t>(irq_flag_enabled) : 0u;
    held_.push_back(HeldLock{lock, false, context, caller, cpu_.irqs_enabled(), lock_class});
}

void LockChecker::release(spinlock_t* lock, const void* caller) {
    check_magic(lock, "spin unlock", caller);
    const auto holder = std::find_if(held_.begin(), held_.end(),
                                     [lock](const HeldLock& h) { return h.lock == lock; });
    if (lock->slock != 0 || holder == held_.end()) {
        stop_machine(fmt::format("spin unlock of {}, which is not held; called from {}",
                                 describe_lock(lock), caller_text(caller)));
    }
    if (holder->context != cpu_.context()) {
        stop_machine(fmt::format(
            "spin unlock of {} by {}, but {} holds it since {}; called from {}",
            describe_lock(lock), describe_context(cpu_.context()),
            describe_context(holder->context), caller_text(holder->caller), caller_text(caller)));
    }
    held_.erase(holder);
    lock->slock = 1;
    lock->owner_context = -1;
    lock->owner_irq_state = 0;
}

void LockChecker::might_sleep(std::string_view what, const void* caller) const {
    if (cpu_.in_interrupt()) {
        stop_machine(fmt::format("sleeping function {} called from {}; called from {}", what,
                                 describe_context(cpu_.context()), caller_text(caller)));
    }
    if (spin_locks_held() != 0) {
        stop_machine(fmt::format("sleeping function {} called with spin locks held: {}; called "
                                 "from {}",
                                 what, holders_text(), caller_text(caller)));
    }
    if (!cpu_.irqs_enabled()) {
        stop_machine(fmt::format(
            "sleeping function {} called with local interrupts disabled; called from {}", what,
            caller_text(caller)));
    }
}

void LockChecker::expect_no_spin_locks(std::int32_t context, std::string_view ends) const {
    for (const HeldLock& h : held_) {
        if (!h.is_mutex && h.context == context) {
            stop_machine(fmt::format("{} returns with spin lock {} held (taken by {})", ends,
                                     describe_lock(h.lock), caller_text(h.caller)));
        }
    }
}

void LockChecker::mutex_lock(::mutex* lock, const void* caller) {
    if (lock == nullptr) {
        stop_machine(fmt::format("mutex_lock of a null mutex, called from {}", caller_text(caller)));
    }
    if (lock->magic != mutex_magic) {
        stop_machine(fmt::format(
            "mutex_lock of {} with bad magic {:#010x} (never initialised?), called from {}",
            describe_lock(lock), lock->magic, caller_text(caller)));
    }
    might_sleep("mutex_lock", caller);
    if (lock->count != 1) {
        const auto holder = std::find_if(held_.begin(), held_.end(),
                                         [lock](const HeldLock& h) { return h.lock == lock; });
        stop_machine(fmt::format(
            "deadlock: mutex {} is already held{}; {} would sleep on it forever; called from {}",
            describe_lock(lock),
            holder != held_.end()
                ? fmt::format(" by {} since {}", describe_context(holder->context),
                              caller_text(holder->caller))
                : fmt::format(" (count {})", lock->count),
            describe_context(cpu_.context()), caller_text(caller)));
    }
    lock->count = 0;
    lock->owner_context = cpu_.context();
    held_.push_back(HeldLock{lock, true, cpu_.context(), caller, cpu_.irqs_enabled(), -1});
}

void LockChecker::mutex_unlock(::mutex* lock, const void* caller) {
    if (lock == nullptr || lock->magic != mutex_magic) {
        stop_machine(fmt::format("mutex_unlock of {} which is not an initialised mutex, called "
                                 "from {}",
                                 describe_lock(lock), caller_text(caller)));
    }
    if (cpu_.in_interrupt()) {
        stop_machine(fmt::format("mutex_unlock of {} from {}; called from {}", describe_lock(lock),
                                 describe_context(cpu_.context()), caller_text(caller)));
    }
    const auto holder = std::find_if(held_.begin(), held_.end(),
                                     [lock](const HeldLock& h) { return h.lock == lock; });
    if (lock->count != 0 || holder == held_.end()) {
        stop_machine(fmt::format("mutex_unlock of {}, which is not held; called from {}",
                                 describe_lock(lock), caller_text(caller)));
    }
    held_.erase(holder);
    lock->count = 1;
    lock->owner_context = -1;
}

}  // namespace sim::kernel
