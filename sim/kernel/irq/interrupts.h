// The kernel's side of interrupts: handlers per line with the sharing rule, delivery to the
// simulated processor, the per-line counts of /proc/interrupts, line autoprobing, and the guard
// against a line that stays asserted without being served.
//
// Delivery happens at delivery points (after each bus access, when local interrupts are enabled
// again, during busy-waits and from the run loop) whenever local interrupts are enabled: the
// lowest pending line that has handlers, is not disabled and whose handlers are not already
// running is served. Handlers run in hard-interrupt context with local interrupts disabled; an
// edge line's latch is acknowledged before they run.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "drivers/serial/kernel/interrupt.h"
#include "sim/hw/event_queue.h"

namespace sim::kernel {

class Machine;

struct IrqLimits {
    // Deliveries of one line at the same virtual instant after which a line that is still
    // pending is taken for stuck and disabled (nothing can have changed in between).
    unsigned storm_limit = 1000;
    // The kernel's spurious-interrupt rule: of `unhandled_window` deliveries, more than
    // `unhandled_limit` that no handler served disable the line.
    unsigned unhandled_window = 100000;
    unsigned unhandled_limit = 99900;
};

struct IrqActionInfo {
    irq_handler_t handler = nullptr;
    unsigned long flags = 0;
    std::string name;
    void* dev_id = nullptr;
};

class Interrupts {
public:
    Interrupts(Machine& machine, IrqLimits limits);

    int request(unsigned line, irq_handler_t handler, unsigned long flags, const char* name,
                void* dev_id, const void* caller);
    void free(unsigned line, void* dev_id, const void* caller);

    // A delivery point: serves pending lines while local interrupts are enabled.
    void delivery_point();
    // Something changed that may make a line deliverable.
    void mark_dirty() { dirty_ = true; }

    unsigned long probe_on(const void* caller);
    int probe_off(unsigned long mask, const void* caller);
    bool probing() const { return probing_; }

    std::string proc_interrupts() const;
    std::uint64_t count(unsigned line) const;
    bool disabled(unsigned line) const;
    bool in_progress(unsigned line) const;
    std::vector<IrqActionInfo> actions(unsigned line) const;
    // Lines that have at least one handler, ascending.
    std::vector<unsigned> active_lines() const;
    // Handlers or cookies in [low, high): what an unloading module left behind. Removes them.
    std::vector<std::pair<unsigned, IrqActionInfo>> remove_actions_in(std::uintptr_t low,
                                                                      std::uintptr_t high);

private:
    struct LineState {
        std::vector<IrqActionInfo> actions;
        bool in_progress = false;
        bool disabled = false;
        bool bogus_reported = false;
        std::uint64_t count = 0;
        unsigned window = 0;
        unsigned unhandled = 0;
        hw::TimePoint burst_time{};
        unsigned burst = 0;
        unsigned burst_unhandled = 0;
    };

    void handle(unsigned line, LineState& state);
    void note_interrupt(unsigned line, LineState& state, int result);
    void report_and_disable(unsigned line, LineState& state, bool nobody_cared);

    Machine& machine_;
    IrqLimits limits_;
    std::map<unsigned, LineState> lines_;
    bool dirty_ = true;
    bool probing_ = false;
    std::vector<unsigned> probe_candidates_;
};

}  // namespace sim::kernel
