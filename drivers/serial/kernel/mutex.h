// The sleeping mutex. Taking it may sleep, so it is never taken with a spin lock held or in
// interrupt context.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t mutex_magic = 0x4d555458u;  // "MUTX"

struct mutex {
    std::int32_t count;           // 1 free, 0 held
    std::uint32_t magic;          // mutex_magic: statically defined mutexes carry it from load on
    std::int32_t owner_context;   // -1 when free
    std::uint32_t reserved;
};

// A statically defined mutex starts free: `static mutex serial_mutex = mutex_unlocked;`
inline constexpr mutex mutex_unlocked{1, mutex_magic, -1, 0u};

extern "C" {
void mutex_lock(mutex* lock);
void mutex_unlock(mutex* lock);
}
