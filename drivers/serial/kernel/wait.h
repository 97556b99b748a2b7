// Wait queues: where processes sleep until something they wait for happens.
#pragma once

#include "drivers/serial/kernel/list.h"
#include "drivers/serial/kernel/spinlock.h"

struct wait_queue_head_t {
    spinlock_t lock;
    list_head task_list;
    unsigned long wake_count;  // wake-ups delivered so far, for observers
};

inline constexpr unsigned int TASK_INTERRUPTIBLE = 1;

extern "C" {
// Wakes sleepers of `queue` in `mode`, at most `nr_exclusive` exclusive ones; `key` is passed on.
void __wake_up(wait_queue_head_t* queue, unsigned int mode, int nr_exclusive, void* key);
}

inline void wake_up_interruptible(wait_queue_head_t* queue) {
    __wake_up(queue, TASK_INTERRUPTIBLE, 1, nullptr);
}
