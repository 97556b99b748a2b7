// Processor I/O: the only way to a device register. Port I/O reaches the 64 KiB I/O space;
// memory accesses reach a window that __ioremap handed out.
#pragma once

#include <cstdint>

extern "C" {
std::uint8_t inb(std::uint16_t port);
void outb(std::uint8_t value, std::uint16_t port);
// Slow forms: each access is followed by the I/O pause, a dummy write to port 0x80, for old
// boards that need time between accesses.
std::uint8_t inb_p(std::uint16_t port);
void outb_p(std::uint8_t value, std::uint16_t port);

std::uint8_t readb(const volatile void* address);
void writeb(std::uint8_t value, volatile void* address);
std::uint32_t readl(const volatile void* address);
void writel(std::uint32_t value, volatile void* address);
}

inline constexpr std::uint16_t io_pause_port = 0x80;
