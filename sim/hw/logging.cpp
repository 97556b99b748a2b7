#include "sim/hw/logging.h"

#include <cstdio>
#include <cstdlib>

namespace sim::hw {

void panic_message(std::string_view message) {
    std::fprintf(stderr, "panic: %.*s\n", static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

void warn_message(std::string_view message) {
    std::fprintf(stderr, "warn: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace sim::hw
