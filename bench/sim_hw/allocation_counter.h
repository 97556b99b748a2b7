// Counts the program's operator new calls (not in sanitizer builds, whose runtime owns them).
#pragma once

#include <cstddef>

std::size_t allocations_so_far();
