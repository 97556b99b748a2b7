// The kernel log. A message's first characters "<N>" give its priority (3 error, 4 warning,
// 6 information); a message without them is logged at the default priority.
#pragma once

extern "C" {
int printk(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Writes the caller's stack to the log.
void dump_stack(void);
}
