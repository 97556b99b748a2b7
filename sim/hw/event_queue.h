// The discrete-event queue that drives a machine's hardware in virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

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
};

}  // namespace sim::hw
