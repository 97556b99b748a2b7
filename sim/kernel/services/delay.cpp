// Busy-waits: time passes on the machine while the caller spins.
#include "drivers/serial/kernel/delay.h"

#include <chrono>

#include "sim/kernel/machine.h"

extern "C" void __const_udelay(unsigned long xloops) {
    // xloops is microseconds scaled by 2^32 / 10^6; a fraction of a microsecond is a whole one.
    const unsigned long microseconds = xloops / udelay_xloops_per_us +
                                       (xloops % udelay_xloops_per_us != 0 ? 1 : 0);
    sim::kernel::Machine::current().busy_wait(std::chrono::microseconds(microseconds));
}

extern "C" void touch_nmi_watchdog(void) { sim::kernel::Machine::current().touch_watchdog(); }
