// Failures of the simulated hardware, kept apart as in gem5: a panic is a state the model can
// never reach whatever its user does (a bug here), fatal is the user's configuration mistake,
// warn is odd but survivable.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace sim::hw {

[[noreturn]] void panic_message(std::string_view message);
void warn_message(std::string_view message);

// Aborts with the message on stderr.
template <typename... Args>
[[noreturn]] void panic(fmt::format_string<Args...> format, Args&&... args) {
    panic_message(fmt::format(format, std::forward<Args>(args)...));
}

template <typename... Args>
void warn(fmt::format_string<Args...> format, Args&&... args) {
    warn_message(fmt::format(format, std::forward<Args>(args)...));
}

// A configuration the user asked for that cannot be built (a claim that overlaps, a line
// number out of range). Thrown so that whoever builds the machine can report it and go on.
class ConfigurationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

template <typename... Args>
[[noreturn]] void fatal(fmt::format_string<Args...> format, Args&&... args) {
    throw ConfigurationError(fmt::format(format, std::forward<Args>(args)...));
}

}  // namespace sim::hw
