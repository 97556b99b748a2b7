// Kernel timers, counted in ticks (`jiffies`). A timer's callback runs in softirq context from
// the tick, never from inside a busy-wait.
#pragma once

#include "drivers/serial/kernel/list.h"

struct timer_list {
    list_head entry;
    unsigned long expires;                 // absolute tick
    void (*function)(unsigned long data);  // set by the owner
    unsigned long data;                    // set by the owner, passed to `function`
    void* base;                            // the kernel's bookkeeping; set by init_timer
};

extern "C" {
extern volatile unsigned long jiffies;

void init_timer(timer_list* timer);
// Arms (or re-arms) the timer to fire at tick `expires`. Returns 1 if it was pending, else 0.
int mod_timer(timer_list* timer, unsigned long expires);
// Disarms the timer and waits until a callback of it that is running has finished.
// Returns 1 if it was pending, else 0. May wait: never called with a spin lock held.
int del_timer_sync(timer_list* timer);
}
