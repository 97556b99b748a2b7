// Busy-waits. Time passes while the caller spins; devices keep working meanwhile.
#pragma once

extern "C" {
// Spins for xloops / 4294 microseconds (the caller scales microseconds by 4294, 2^32 / 10^6).
void __const_udelay(unsigned long xloops);
// Tells the lock-up detector that a long wait is intended.
void touch_nmi_watchdog(void);
}

inline constexpr unsigned long udelay_xloops_per_us = 4294;

inline void udelay(unsigned long microseconds) {
    __const_udelay(microseconds * udelay_xloops_per_us);
}

inline void mdelay(unsigned long milliseconds) {
    while (milliseconds--) udelay(1000);
}
