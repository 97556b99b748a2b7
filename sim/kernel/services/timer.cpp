// Kernel timers and the tick counter.
#include "drivers/serial/kernel/timer.h"

#include <fmt/format.h>

#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"
#include "sim/kernel/machine.h"

using sim::kernel::Machine;

extern "C" {
volatile unsigned long jiffies = 0;
}

extern "C" void init_timer(timer_list* timer) {
    Machine::current().timers().init(timer, __builtin_return_address(0));
}

extern "C" int mod_timer(timer_list* timer, unsigned long expires) {
    Machine& machine = Machine::current();
    return machine.timers().modify(timer, expires, machine.ticks(), machine.jiffies(),
                                   __builtin_return_address(0));
}

extern "C" int del_timer_sync(timer_list* timer) {
    Machine& machine = Machine::current();
    const void* caller = __builtin_return_address(0);
    // The wait for a running callback is what makes these deadlocks: a callback waiting for
    // itself, or for a callback that needs the lock or the processor the caller holds.
    if (timer != nullptr && machine.timers().running() == timer) {
        sim::kernel::stop_machine(fmt::format(
            "del_timer_sync of timer {} from its own callback would wait forever; called from {}",
            sim::kernel::describe_address(timer), sim::kernel::describe_address(caller)));
    }
    if (machine.cpu().in_hardirq()) {
        sim::kernel::stop_machine(fmt::format("del_timer_sync called from {}; called from {}",
                                              sim::kernel::describe_context(machine.cpu().context()),
                                              sim::kernel::describe_address(caller)));
    }
    if (machine.locks().spin_locks_held() != 0) {
        machine.locks().might_sleep("del_timer_sync", caller);
    }
    return machine.timers().remove(timer, caller);
}
