// Port flags as words: "skip_test|irq_autoprobe", or a number, for board device entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/serial-lab/status.h"

namespace lab {

Expected<std::uint32_t> parse_port_flags(std::string_view text);
std::string format_port_flags(std::uint32_t flags);
std::string port_flag_names();

}  // namespace lab
