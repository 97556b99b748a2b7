// Module parameter text as the kernel's loader reads it: a command line of `name=value` words
// (double quotes group spaces), and numbers in C notation (0x hex, leading 0 octal).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::kernel {

struct ParamArgument {
    std::string name;
    std::optional<std::string> value;  // absent for a bare `name`
};

std::vector<ParamArgument> split_param_string(std::string_view text);

// Parameter names compare with '-' and '_' taken as the same character.
bool param_names_equal(std::string_view a, std::string_view b);

// A whole unsigned number no larger than `max`, optionally followed by one newline (as a write
// to a parameter file brings). No sign, no other trailing text.
std::optional<std::uint64_t> parse_unsigned(std::string_view text, std::uint64_t max);

}  // namespace sim::kernel
