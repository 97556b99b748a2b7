// Error numbers of the kernel the driver runs in. Functions return them negated.
// They live in their own namespace: the C library's <cerrno> defines the E-names as macros.
#pragma once

namespace kerr {
inline constexpr int perm = 1;     // EPERM: operation not permitted
inline constexpr int noent = 2;    // ENOENT
inline constexpr int intr = 4;     // EINTR
inline constexpr int io = 5;       // EIO
inline constexpr int nxio = 6;     // ENXIO
inline constexpr int again = 11;   // EAGAIN: would block
inline constexpr int nomem = 12;   // ENOMEM: mapping failed or device not allocated
inline constexpr int acces = 13;   // EACCES: permission denied
inline constexpr int fault = 14;   // EFAULT
inline constexpr int busy = 16;    // EBUSY
inline constexpr int exist = 17;   // EEXIST
inline constexpr int nodev = 19;   // ENODEV
inline constexpr int inval = 22;   // EINVAL
inline constexpr int notty = 25;   // ENOTTY
inline constexpr int nospc = 28;   // ENOSPC: no free port slot
inline constexpr int range = 34;   // ERANGE
inline constexpr int nosys = 38;   // ENOSYS
inline constexpr int timedout = 110;  // ETIMEDOUT
}  // namespace kerr
