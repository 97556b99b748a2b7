// Wait queues. The process side is simulated single-threaded: a sleeper is a run loop waiting
// for the queue's wake count to move, so waking is counting.
#include "drivers/serial/kernel/wait.h"

#include <fmt/format.h>

#include "sim/kernel/base/stop.h"
#include "sim/kernel/base/symbolize.h"

extern "C" void __wake_up(wait_queue_head_t* queue, unsigned int, int, void*) {
    if (queue == nullptr || queue->lock.magic != spinlock_magic) {
        sim::kernel::stop_machine(fmt::format(
            "__wake_up of wait queue {}, which was never initialised; called from {}",
            static_cast<const void*>(queue),
            sim::kernel::describe_address(__builtin_return_address(0))));
    }
    ++queue->wake_count;
}
