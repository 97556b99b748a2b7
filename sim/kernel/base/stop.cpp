#include "sim/kernel/base/stop.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace sim::kernel {
namespace {

std::function<void(std::string_view)>& stop_hook() {
    static std::function<void(std::string_view)> hook;
    return hook;
}

}  // namespace

void set_stop_hook(std::function<void(std::string_view message)> hook) {
    stop_hook() = std::move(hook);
}

void stop_machine(std::string_view message, std::source_location where) {
    // The hook may itself stop the machine; take it out first so that cannot loop.
    auto hook = std::exchange(stop_hook(), nullptr);
    if (hook) hook(message);
    std::fprintf(stderr, "kernel stopped at %s:%u (%s): %.*s\n", where.file_name(), where.line(),
                 where.function_name(), static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
    std::abort();
}

}  // namespace sim::kernel
