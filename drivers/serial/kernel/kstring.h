// String and memory helpers the kernel exports to modules.
#pragma once

#include <cstddef>

extern "C" {
void* memset(void* destination, int value, std::size_t count) noexcept;
void* memcpy(void* destination, const void* source, std::size_t count) noexcept;
void* memmove(void* destination, const void* source, std::size_t count) noexcept;
std::size_t strlen(const char* text) noexcept;
int strcmp(const char* left, const char* right) noexcept;
int strncmp(const char* left, const char* right, std::size_t count) noexcept;
}
