#include "sim/kernel/cpu/cpu.h"

#include <fmt/format.h>

#include "sim/kernel/base/stop.h"

namespace sim::kernel {

std::string describe_context(std::int32_t context) {
    if (context == process_context_id) return "process context";
    if (context == softirq_context_id) return "timer softirq";
    if (context >= hardirq_context_base) return fmt::format("hardirq {}", context - hardirq_context_base);
    return fmt::format("context {}", context);
}

Cpu::Cpu(unsigned number) { info_.cpu = number; }

void Cpu::enter_hardirq(unsigned line) {
    if ((info_.preempt_count & hardirq_mask) == hardirq_mask) {
        stop_machine("hard-interrupt nesting count overflows");
    }
    info_.preempt_count += hardirq_offset;
    contexts_.push_back(hardirq_context_id(line));
}

void Cpu::exit_hardirq() {
    if (!in_hardirq() || contexts_.back() < hardirq_context_base) {
        stop_machine("leaving a hard interrupt that was never entered");
    }
    info_.preempt_count -= hardirq_offset;
    contexts_.pop_back();
}

void Cpu::enter_softirq() {
    info_.preempt_count += softirq_offset;
    contexts_.push_back(softirq_context_id);
}

void Cpu::exit_softirq() {
    if (!in_softirq() || contexts_.back() != softirq_context_id) {
        stop_machine("leaving a softirq that was never entered");
    }
    info_.preempt_count -= softirq_offset;
    contexts_.pop_back();
}

}  // namespace sim::kernel
