// The discrete-event queue that drives a machine's hardware in virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "sim/hw/virtual_time.h"

namespace sim::hw {

// Identifies one scheduled event; 0 is never issued.
enum class EventId : std::uint64_t { none = 0 };

// Hardware events only: kernel timers are the kernel's and run from its tick, not from here.
// Events at the same time run in the order they were scheduled. Scheduling in the past panics.
class EventQueue {
public:
    using Callback = std::function<void()>;

    TimePoint now() const;

    EventId schedule_at(TimePoint when, Callback callback);
    EventId schedule_after(Duration delay, Callback callback);
    // Returns false when the event already ran or was cancelled.
    bool cancel(EventId id);
    bool is_scheduled(EventId id) const;

    std::optional<TimePoint> next_event_time() const;
    // Runs the earliest event, moving now() to its time. False when the queue is empty.
    bool run_next();
    // Runs every event due at or before `until` in order, then sets now() to `until`.
    // `until` before now() panics.
    void advance_to(TimePoint until);

    std::size_t pending_count() const;

private:
    // A binary heap of small entries over slot storage: scheduling, cancelling and running an
    // event allocate nothing once the queue has grown to its working size, and a callback that
    // captures only a pointer or two is kept inside std::function's own storage.
    struct Entry {
        TimePoint when;
        std::uint64_t sequence;
        std::uint32_t slot;
        std::uint32_t generation;
    };
    struct Slot {
        Callback callback;
        std::uint32_t generation = 0;
        bool live = false;
    };

    static bool later(const Entry& a, const Entry& b);
    bool live(const Entry& entry) const;
    void drop_dead_top();
    void compact();
    void release_slot(std::uint32_t slot);

    TimePoint now_{};
    std::uint64_t next_sequence_ = 0;
    std::size_t live_count_ = 0;
    std::vector<Entry> heap_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> free_slots_;
};

}  // namespace sim::hw
