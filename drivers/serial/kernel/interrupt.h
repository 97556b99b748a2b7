// Interrupt lines, their handlers, line autoprobing, and the hard-interrupt context query.
#pragma once

#include <cstdint>

struct pt_regs;  // the interrupted register state; opaque to drivers

using irqreturn_t = int;
inline constexpr irqreturn_t IRQ_NONE = 0;
inline constexpr irqreturn_t IRQ_HANDLED = 1;

using irq_handler_t = irqreturn_t (*)(int irq, void* dev_id, pt_regs* regs);

// request_irq flag: the line may be shared with other handlers that also ask for sharing.
inline constexpr unsigned long IRQF_SHARED = 0x80;

// Number of interrupt lines of the platform.
inline constexpr unsigned int nr_irq_lines = 4096;

extern "C" {
int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags, const char* devname,
                void* dev_id);
void free_irq(unsigned int irq, void* dev_id);

// Starts autoprobing: returns a mask of the lines without a handler, armed to record firing.
unsigned long probe_irq_on(void);
// Ends autoprobing: the one line that fired since probe_irq_on, 0 for none, negative for several.
int probe_irq_off(unsigned long mask);
}

// The running thread's record; its preemption counter carries the interrupt nesting counts.
struct thread_info {
    std::uint32_t flags;
    std::uint32_t status;
    std::uint32_t cpu;
    std::int32_t preempt_count;
};

extern "C" thread_info* current_thread_info(void);

inline constexpr int hardirq_shift = 16;
inline constexpr std::int32_t hardirq_mask = 0xfff << hardirq_shift;  // bits 16 to 27

// Non-zero while the caller runs in hard-interrupt context.
inline std::int32_t in_irq() { return current_thread_info()->preempt_count & hardirq_mask; }
