#include "sim/kernel/time/timers.h"

#include <fmt/format.h>

#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"

namespace sim::kernel {

void Timers::check_initialised(const timer_list* timer, const char* service,
                               const void* caller) const {
    if (timer == nullptr) {
        stop_machine(fmt::format("{} of a null timer, called from {}", service,
                                 describe_address(caller)));
    }
    if (!initialised(timer)) {
        stop_machine(fmt::format("{} of timer {}, which init_timer never set up; called from {}",
                                 service, describe_address(timer), describe_address(caller)));
    }
}

void Timers::init(timer_list* timer, const void* caller) {
    if (timer == nullptr) {
        stop_machine(fmt::format("init_timer of a null timer, called from {}",
                                 describe_address(caller)));
    }
    if (pending(timer)) {
        stop_machine(fmt::format("init_timer of timer {}, which is pending; called from {}",
                                 describe_address(timer), describe_address(caller)));
    }
    timer->entry.next = nullptr;
    timer->entry.prev = nullptr;
    timer->base = token();
}

void Timers::unlink(timer_list* timer) {
    const auto found = pending_.find(timer);
    order_.erase(found->second);
    pending_.erase(found);
    timer->entry.next = nullptr;
    timer->entry.prev = reinterpret_cast<list_head*>(list_poison_prev);
}

int Timers::modify(timer_list* timer, unsigned long expires, std::uint64_t tick,
                   unsigned long jiffies, const void* caller) {
    check_initialised(timer, "mod_timer", caller);
    if (timer->function == nullptr) {
        stop_machine(fmt::format("mod_timer of timer {} without a callback; called from {}",
                                 describe_address(timer), describe_address(caller)));
    }
    const bool was_pending = pending(timer);
    if (was_pending) unlink(timer);
    const long ahead = static_cast<long>(expires - jiffies);
    const Key key{tick + static_cast<std::uint64_t>(ahead < 1 ? 1 : ahead), next_sequence_++, timer};
    pending_.emplace(timer, key);
    order_.insert(key);
    timer->expires = expires;
    timer->entry.next = &armed_marker_;
    timer->entry.prev = &armed_marker_;
    return was_pending ? 1 : 0;
}

int Timers::remove(timer_list* timer, const void* caller) {
    check_initialised(timer, "del_timer_sync", caller);
    if (!pending(timer)) return 0;
    unlink(timer);
    return 1;
}

std::optional<std::uint64_t> Timers::next_fire_tick() const {
    if (order_.empty()) return std::nullopt;
    return order_.begin()->tick;
}

timer_list* Timers::take_due(std::uint64_t tick) {
    if (order_.empty() || order_.begin()->tick > tick) return nullptr;
    timer_list* timer = order_.begin()->timer;
    // The record is the caller's memory: if it was freed or overwritten while armed, calling
    // through it would jump anywhere.
    if (timer->base != token() || timer->entry.next != &armed_marker_) {
        stop_machine(fmt::format("pending timer {} was overwritten or freed while armed",
                                 describe_address(timer)));
    }
    unlink(timer);
    return timer;
}

std::vector<timer_list*> Timers::pending_with_callback_in(std::uintptr_t low,
                                                          std::uintptr_t high) const {
    std::vector<timer_list*> found;
    for (const Key& key : order_) {
        const auto callback = reinterpret_cast<std::uintptr_t>(key.timer->function);
        const auto record = reinterpret_cast<std::uintptr_t>(key.timer);
        if ((callback >= low && callback < high) || (record >= low && record < high)) {
            found.push_back(key.timer);
        }
    }
    return found;
}

}  // namespace sim::kernel
