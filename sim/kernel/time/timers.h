// Kernel timers. A timer fires at the tick its `expires` names, and never sooner than the tick
// after it was armed: a timer armed for a tick that has already begun waits for the next one, as
// the kernel's timer wheel handles it. Callbacks run only from the machine's run loop, in softirq
// context; busy-waits never run them.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "drivers/serial/kernel/timer.h"

namespace sim::kernel {

class Timers {
public:
    Timers() = default;
    Timers(const Timers&) = delete;
    Timers& operator=(const Timers&) = delete;

    // `tick` counts ticks since boot; `jiffies` is the tick as the kernel's counter shows it.
    void init(timer_list* timer, const void* caller);
    int modify(timer_list* timer, unsigned long expires, std::uint64_t tick, unsigned long jiffies,
               const void* caller);
    // The checks on the caller's context are the machine's; this only disarms.
    int remove(timer_list* timer, const void* caller);

    std::optional<std::uint64_t> next_fire_tick() const;
    // Takes the earliest timer due at `tick` out of the pending set, or null.
    timer_list* take_due(std::uint64_t tick);

    bool pending(const timer_list* timer) const { return pending_.contains(timer); }
    std::size_t pending_count() const { return pending_.size(); }
    bool initialised(const timer_list* timer) const { return timer->base == token(); }
    // Pending timers whose callback lies in [low, high).
    std::vector<timer_list*> pending_with_callback_in(std::uintptr_t low, std::uintptr_t high) const;

    timer_list* running() const { return running_; }
    void set_running(timer_list* timer) { running_ = timer; }

private:
    struct Key {
        std::uint64_t tick;
        std::uint64_t sequence;
        timer_list* timer;
        auto operator<=>(const Key&) const = default;
    };
    void* token() const { return const_cast<Timers*>(this); }
    void check_initialised(const timer_list* timer, const char* service, const void* caller) const;
    void unlink(timer_list* timer);

    std::map<const timer_list*, Key> pending_;
    std::set<Key> order_;
    std::uint64_t next_sequence_ = 0;
    timer_list* running_ = nullptr;
    // Pending timers' links point here, so that timer_pending() style checks see them armed.
    list_head armed_marker_{&armed_marker_, &armed_marker_};
};

}  // namespace sim::kernel
