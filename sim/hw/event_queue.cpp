#include "sim/hw/event_queue.h"

#include <algorithm>

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

constexpr std::uint64_t slot_bits = 32;

EventId make_id(std::uint32_t slot, std::uint32_t generation) {
    // The slot is stored plus one so that no id is ever 0.
    return static_cast<EventId>((static_cast<std::uint64_t>(generation) << slot_bits) |
                                (static_cast<std::uint64_t>(slot) + 1));
}

}  // namespace

TimePoint EventQueue::now() const { return now_; }

bool EventQueue::later(const Entry& a, const Entry& b) {
    if (a.when != b.when) return a.when > b.when;
    return a.sequence > b.sequence;
}

bool EventQueue::live(const Entry& entry) const {
    const Slot& slot = slots_[entry.slot];
    return slot.live && slot.generation == entry.generation;
}

EventId EventQueue::schedule_at(TimePoint when, Callback callback) {
    if (when < now_) {
        panic("event scheduled in the past: at {} ns, now {} ns", when.time_since_epoch().count(),
              now_.time_since_epoch().count());
    }
    if (!callback) panic("event scheduled without a callback");
    std::uint32_t slot;
    if (!free_slots_.empty()) {
        slot = free_slots_.back();
        free_slots_.pop_back();
    } else {
        slot = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    Slot& s = slots_[slot];
    ++s.generation;
    s.live = true;
    s.callback = std::move(callback);
    heap_.push_back(Entry{when, next_sequence_++, slot, s.generation});
    std::push_heap(heap_.begin(), heap_.end(), later);
    ++live_count_;
    return make_id(slot, s.generation);
}

EventId EventQueue::schedule_after(Duration delay, Callback callback) {
    if (delay < Duration::zero()) panic("event scheduled with a negative delay of {} ns", delay.count());
    return schedule_at(now_ + delay, std::move(callback));
}

void EventQueue::release_slot(std::uint32_t slot) {
    Slot& s = slots_[slot];
    s.live = false;
    s.callback = nullptr;
    free_slots_.push_back(slot);
    --live_count_;
}

bool EventQueue::cancel(EventId id) {
    if (!is_scheduled(id)) return false;
    const auto raw = static_cast<std::uint64_t>(id);
    release_slot(static_cast<std::uint32_t>((raw & 0xffffffffu) - 1));
    drop_dead_top();
    // Cancelled entries stay in the heap until they surface; rebuild when they dominate so a
    // device that keeps re-arming a far timeout cannot grow the heap without bound.
    if (heap_.size() > 64 && heap_.size() > 4 * live_count_) compact();
    return true;
}

bool EventQueue::is_scheduled(EventId id) const {
    const auto raw = static_cast<std::uint64_t>(id);
    const auto low = raw & 0xffffffffu;
    if (low == 0 || low > slots_.size()) return false;
    const Slot& slot = slots_[low - 1];
    return slot.live && slot.generation == static_cast<std::uint32_t>(raw >> slot_bits);
}

void EventQueue::drop_dead_top() {
    while (!heap_.empty() && !live(heap_.front())) {
        std::pop_heap(heap_.begin(), heap_.end(), later);
        heap_.pop_back();
    }
}

void EventQueue::compact() {
    std::erase_if(heap_, [this](const Entry& e) { return !live(e); });
    std::make_heap(heap_.begin(), heap_.end(), later);
}

std::optional<TimePoint> EventQueue::next_event_time() const {
    if (heap_.empty()) return std::nullopt;
    return heap_.front().when;
}

bool EventQueue::run_next() {
    if (heap_.empty()) return false;
    std::pop_heap(heap_.begin(), heap_.end(), later);
    const Entry entry = heap_.back();
    heap_.pop_back();
    // The callback leaves its slot before it runs, so it may schedule, cancel or reuse freely.
    Callback callback = std::move(slots_[entry.slot].callback);
    release_slot(entry.slot);
    now_ = entry.when;
    drop_dead_top();
    callback();
    return true;
}

void EventQueue::advance_to(TimePoint until) {
    if (until < now_) {
        panic("time asked to run backwards: to {} ns, now {} ns", until.time_since_epoch().count(),
              now_.time_since_epoch().count());
    }
    while (!heap_.empty() && heap_.front().when <= until) run_next();
    now_ = until;
}

std::size_t EventQueue::pending_count() const { return live_count_; }

}  // namespace sim::hw
