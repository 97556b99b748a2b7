// Framing as users write it: "8N1", "7E1", "8O2", "5N1.5", "8M1", "8S1".
#pragma once

#include <string>
#include <string_view>

#include "sim/hw/line/line_frame.h"
#include "tools/serial-lab/status.h"

namespace lab {

Expected<sim::hw::LineFormat> parse_line_format(std::string_view text);
std::string format_line_format(const sim::hw::LineFormat& format);

}  // namespace lab
