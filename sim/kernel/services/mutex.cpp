#include "drivers/serial/kernel/mutex.h"

#include "sim/kernel/machine.h"

extern "C" void mutex_lock(mutex* lock) {
    sim::kernel::Machine::current().locks().mutex_lock(lock, __builtin_return_address(0));
}

extern "C" void mutex_unlock(mutex* lock) {
    sim::kernel::Machine::current().locks().mutex_unlock(lock, __builtin_return_address(0));
}
