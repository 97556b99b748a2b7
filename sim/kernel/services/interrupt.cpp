// Interrupt lines, autoprobing and the hard-interrupt query.
#include "drivers/serial/kernel/interrupt.h"

#include "sim/kernel/machine.h"

using sim::kernel::Machine;

extern "C" int request_irq(unsigned int irq, irq_handler_t handler, unsigned long flags,
                           const char* devname, void* dev_id) {
    return Machine::current().interrupts().request(irq, handler, flags, devname, dev_id,
                                                   __builtin_return_address(0));
}

extern "C" void free_irq(unsigned int irq, void* dev_id) {
    Machine::current().interrupts().free(irq, dev_id, __builtin_return_address(0));
}

extern "C" unsigned long probe_irq_on(void) {
    return Machine::current().interrupts().probe_on(__builtin_return_address(0));
}

extern "C" int probe_irq_off(unsigned long mask) {
    return Machine::current().interrupts().probe_off(mask, __builtin_return_address(0));
}

extern "C" thread_info* current_thread_info(void) { return Machine::current().cpu().thread(); }
