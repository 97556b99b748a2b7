// The simulated processor: its local interrupt flag, the thread record whose preemption counter
// carries the interrupt nesting counts, and the stack of execution contexts (process, the timer
// softirq, the hard-interrupt handlers of one line each) that the kernel entered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drivers/serial/kernel/interrupt.h"

namespace sim::kernel {

// Context identifiers as locks and mutexes record them in `owner_context`.
inline constexpr std::int32_t process_context_id = 0;
inline constexpr std::int32_t softirq_context_id = 1;
inline constexpr std::int32_t hardirq_context_base = 0x10000;
inline constexpr std::int32_t hardirq_context_id(unsigned line) {
    return hardirq_context_base + static_cast<std::int32_t>(line);
}
// "process context", "timer softirq", "hardirq 4"
std::string describe_context(std::int32_t context);

inline constexpr std::int32_t softirq_shift = 8;
inline constexpr std::int32_t softirq_offset = 1 << softirq_shift;
inline constexpr std::int32_t softirq_mask = 0xff << softirq_shift;
inline constexpr std::int32_t hardirq_offset = 1 << hardirq_shift;

class Cpu {
public:
    explicit Cpu(unsigned number);

    unsigned number() const { return info_.cpu; }
    thread_info* thread() { return &info_; }
    const thread_info& thread() const { return info_; }

    bool irqs_enabled() const { return irqs_enabled_; }
    // Sets the flag only; enabling through the kernel services is also a delivery point.
    void set_irqs_enabled(bool enabled) { irqs_enabled_ = enabled; }

    std::int32_t context() const { return contexts_.back(); }
    bool in_hardirq() const { return (info_.preempt_count & hardirq_mask) != 0; }
    bool in_softirq() const { return (info_.preempt_count & softirq_mask) != 0; }
    bool in_interrupt() const { return in_hardirq() || in_softirq(); }
    // The contexts entered so far, outermost (process) first.
    const std::vector<std::int32_t>& context_stack() const { return contexts_; }

    void enter_hardirq(unsigned line);
    void exit_hardirq();
    void enter_softirq();
    void exit_softirq();

private:
    thread_info info_{};
    bool irqs_enabled_ = true;
    std::vector<std::int32_t> contexts_{process_context_id};
};

}  // namespace sim::kernel
