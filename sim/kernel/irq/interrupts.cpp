#include "sim/kernel/irq/interrupts.h"

#include <algorithm>

#include <fmt/format.h>

#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"
#include "sim/kernel/machine.h"

// The register frame handed to handlers. Nothing here reads it; handlers get a valid pointer
// all the same, as they would from the kernel's interrupt entry.
struct pt_regs {
    unsigned long ip;
};

namespace sim::kernel {
namespace {

hw::InterruptLine as_line(unsigned line) { return static_cast<hw::InterruptLine>(line); }

}  // namespace

Interrupts::Interrupts(Machine& machine, IrqLimits limits) : machine_(machine), limits_(limits) {}

int Interrupts::request(unsigned line, irq_handler_t handler, unsigned long flags,
                        const char* name, void* dev_id, const void* caller) {
    if (line >= nr_irq_lines || handler == nullptr) return -kerr::inval;
    // A shared handler is told apart from the others by its cookie; without one free_irq could
    // not find it again.
    if ((flags & IRQF_SHARED) != 0 && dev_id == nullptr) return -kerr::inval;
    machine_.locks().might_sleep("request_irq", caller);
    if (auto error = machine_.faults().check(FaultPoint::request_irq)) return *error;
    LineState& state = lines_[line];
    if (!state.actions.empty()) {
        const bool all_share = (flags & IRQF_SHARED) != 0 &&
                               std::all_of(state.actions.begin(), state.actions.end(),
                                           [](const IrqActionInfo& a) {
                                               return (a.flags & IRQF_SHARED) != 0;
                                           });
        if (!all_share) {
            machine_.log().write(fmt::format("<3>IRQ handler type mismatch for IRQ {}\n", line));
            return -kerr::busy;
        }
    }
    state.actions.push_back(IrqActionInfo{handler, flags, name != nullptr ? name : "", dev_id});
    if (state.actions.size() == 1) {
        // The first handler starts the line afresh, also after it was disabled as stuck.
        state.disabled = false;
        state.window = state.unhandled = 0;
        state.burst = state.burst_unhandled = 0;
    }
    dirty_ = true;
    return 0;
}

void Interrupts::free(unsigned line, void* dev_id, const void* caller) {
    if (line >= nr_irq_lines) {
        machine_.log().write(fmt::format("<3>Trying to free IRQ {} which does not exist\n", line));
        return;
    }
    machine_.locks().might_sleep("free_irq", caller);
    const auto found = lines_.find(line);
    if (found != lines_.end()) {
        auto& actions = found->second.actions;
        const auto action = std::find_if(actions.begin(), actions.end(),
                                         [dev_id](const IrqActionInfo& a) { return a.dev_id == dev_id; });
        if (action != actions.end()) {
            actions.erase(action);
            return;
        }
    }
    machine_.log().write(fmt::format("<3>Trying to free already-free IRQ {}\n", line));
}

void Interrupts::delivery_point() {
    if (!dirty_) return;
    Cpu& cpu = machine_.cpu();
    hw::InterruptController& controller = machine_.interrupt_controller();
    while (cpu.irqs_enabled()) {
        dirty_ = false;
        LineState* next = nullptr;
        unsigned next_line = 0;
        for (auto& [line, state] : lines_) {
            if (state.actions.empty() || state.in_progress || state.disabled) continue;
            if (controller.pending(as_line(line))) {
                next = &state;
                next_line = line;
                break;
            }
        }
        if (next == nullptr) return;
        handle(next_line, *next);
    }
}

void Interrupts::handle(unsigned line, LineState& state) {
    Cpu& cpu = machine_.cpu();
    hw::InterruptController& controller = machine_.interrupt_controller();
    if (controller.trigger(as_line(line)) == hw::Trigger::edge) controller.acknowledge(as_line(line));
    state.in_progress = true;
    ++state.count;
    const bool irqs_were_enabled = cpu.irqs_enabled();
    cpu.set_irqs_enabled(false);
    const std::int32_t preempt_before = cpu.thread()->preempt_count;
    cpu.enter_hardirq(line);
    pt_regs regs{0};
    int result = IRQ_NONE;
    // Handlers cannot come or go meanwhile: request_irq and free_irq stop the machine in
    // interrupt context.
    for (std::size_t i = 0; i < state.actions.size(); ++i) {
        const IrqActionInfo action = state.actions[i];
        const int returned = action.handler(static_cast<int>(line), action.dev_id, &regs);
        if (returned != IRQ_NONE && returned != IRQ_HANDLED && !state.bogus_reported) {
            state.bogus_reported = true;
            machine_.log().write(fmt::format("<3>irq event {}: bogus return value {:x}\n", line,
                                             static_cast<unsigned>(returned)));
        }
        result |= returned;
    }
    machine_.locks().expect_no_spin_locks(hardirq_context_id(line),
                                          fmt::format("the handler of irq {}", line));
    cpu.exit_hardirq();
    if (cpu.thread()->preempt_count != preempt_before) {
        stop_machine(fmt::format("the handler of irq {} changed the preemption count from {:#x} "
                                 "to {:#x}",
                                 line, preempt_before, cpu.thread()->preempt_count));
    }
    cpu.set_irqs_enabled(irqs_were_enabled);
    state.in_progress = false;
    dirty_ = true;
    note_interrupt(line, state, result);
}

void Interrupts::note_interrupt(unsigned line, LineState& state, int result) {
    const hw::TimePoint now = machine_.now();
    const bool unhandled = (result & IRQ_HANDLED) == 0;
    if (state.burst != 0 && state.burst_time == now) {
        ++state.burst;
        if (unhandled) ++state.burst_unhandled;
    } else {
        state.burst_time = now;
        state.burst = 1;
        state.burst_unhandled = unhandled ? 1 : 0;
    }
    if (unhandled) ++state.unhandled;
    ++state.window;
    // Nothing can change while virtual time stands still: a line still asserted after this many
    // rounds at one instant would be served forever.
    if (state.burst >= limits_.storm_limit &&
        machine_.interrupt_controller().pending(as_line(line))) {
        report_and_disable(line, state, state.burst_unhandled == state.burst);
        return;
    }
    if (state.window >= limits_.unhandled_window) {
        if (state.unhandled > limits_.unhandled_limit) {
            report_and_disable(line, state, true);
            return;
        }
        state.window = state.unhandled = 0;
    }
}

void Interrupts::report_and_disable(unsigned line, LineState& state, bool nobody_cared) {
    KernelLog& log = machine_.log();
    if (nobody_cared) {
        log.write(fmt::format(
            "<3>irq {}: nobody cared (try booting with the \"irqpoll\" option)\n", line));
    } else {
        log.write(fmt::format("<3>irq {}: still asserted after {} rounds of its handlers at one "
                              "instant\n",
                              line, state.burst));
    }
    log.write("<3>handlers:\n");
    for (const IrqActionInfo& action : state.actions) {
        log.write(fmt::format("<3>[<{}>] ({})\n", reinterpret_cast<const void*>(action.handler),
                              describe_address(reinterpret_cast<const void*>(action.handler))));
    }
    log.write(fmt::format("<0>Disabling IRQ #{}\n", line));
    state.disabled = true;
    state.window = state.unhandled = 0;
    state.burst = state.burst_unhandled = 0;
}

unsigned long Interrupts::probe_on(const void* caller) {
    machine_.locks().might_sleep("probe_irq_on", caller);
    if (probing_) {
        stop_machine(fmt::format("probe_irq_on while an earlier probe is still running; called "
                                 "from {}",
                                 describe_address(caller)));
    }
    probing_ = true;
    probe_candidates_.clear();
    hw::InterruptController& controller = machine_.interrupt_controller();
    unsigned long mask = 0;
    // Line 0 is the system timer's on a PC and is never a probe answer (0 means "none").
    for (unsigned line = 1; line < nr_irq_lines; ++line) {
        const auto found = lines_.find(line);
        if (found != lines_.end() && !found->second.actions.empty()) continue;
        const hw::InterruptLine l = as_line(line);
        if (controller.trigger(l) == hw::Trigger::level) {
            if (controller.level(l)) continue;  // asserted already: it says nothing
        } else if (controller.pending(l)) {
            // An old edge is consumed now, as a kernel that unmasks the line for the probe
            // takes it; the line sits this probe out as spurious.
            controller.acknowledge(l);
            continue;
        }
        probe_candidates_.push_back(line);
        if (line < 32) mask |= 1ul << line;
    }
    controller.clear_edge_history();
    return mask;
}

int Interrupts::probe_off(unsigned long, const void* caller) {
    if (!probing_) {
        stop_machine(fmt::format("probe_irq_off without probe_irq_on; called from {}",
                                 describe_address(caller)));
    }
    probing_ = false;
    hw::InterruptController& controller = machine_.interrupt_controller();
    int found = 0;
    int fired = 0;
    for (unsigned line : probe_candidates_) {
        const auto state = lines_.find(line);
        if (state != lines_.end() && !state->second.actions.empty()) continue;
        const hw::InterruptLine l = as_line(line);
        const bool edge = controller.trigger(l) == hw::Trigger::edge;
        if (!(edge ? controller.rose_since_cleared(l) : controller.level(l))) continue;
        if (fired++ == 0) found = static_cast<int>(line);
        // The probe took the interrupt; it must not come back as a stale one later.
        if (edge) controller.acknowledge(l);
    }
    probe_candidates_.clear();
    return fired > 1 ? -found : found;
}

std::string Interrupts::proc_interrupts() const {
    const hw::InterruptController& controller = machine_.interrupt_controller();
    std::string out = fmt::format("           CPU{:<8}\n", machine_.cpu().number());
    for (const auto& [line, state] : lines_) {
        if (state.actions.empty()) continue;
        const bool edge = controller.trigger(as_line(line)) == hw::Trigger::edge;
        out += fmt::format("{:3}: {:10}  {:>14}  ", line, state.count,
                           edge ? "IO-APIC-edge" : "IO-APIC-level");
        for (std::size_t i = 0; i < state.actions.size(); ++i) {
            if (i != 0) out += ", ";
            out += state.actions[i].name;
        }
        out += '\n';
    }
    out += fmt::format("NMI: {:10}\n", 0);
    out += fmt::format("ERR: {:10}\n", 0);
    return out;
}

std::uint64_t Interrupts::count(unsigned line) const {
    const auto found = lines_.find(line);
    return found == lines_.end() ? 0 : found->second.count;
}

bool Interrupts::disabled(unsigned line) const {
    const auto found = lines_.find(line);
    return found != lines_.end() && found->second.disabled;
}

bool Interrupts::in_progress(unsigned line) const {
    const auto found = lines_.find(line);
    return found != lines_.end() && found->second.in_progress;
}

std::vector<IrqActionInfo> Interrupts::actions(unsigned line) const {
    const auto found = lines_.find(line);
    return found == lines_.end() ? std::vector<IrqActionInfo>{} : found->second.actions;
}

std::vector<unsigned> Interrupts::active_lines() const {
    std::vector<unsigned> out;
    for (const auto& [line, state] : lines_) {
        if (!state.actions.empty()) out.push_back(line);
    }
    return out;
}

std::vector<std::pair<unsigned, IrqActionInfo>> Interrupts::remove_actions_in(
    std::uintptr_t low, std::uintptr_t high) {
    std::vector<std::pair<unsigned, IrqActionInfo>> removed;
    const auto inside = [&](const void* p) {
        const auto at = reinterpret_cast<std::uintptr_t>(p);
        return at >= low && at < high;
    };
    for (auto& [line, state] : lines_) {
        // The line is captured by copy: clang before 16 cannot capture a structured binding.
        std::erase_if(state.actions, [&, line = line](const IrqActionInfo& action) {
            if (!inside(reinterpret_cast<const void*>(action.handler)) && !inside(action.dev_id)) {
                return false;
            }
            removed.emplace_back(line, action);
            return true;
        });
    }
    return removed;
}

}  // namespace sim::kernel
