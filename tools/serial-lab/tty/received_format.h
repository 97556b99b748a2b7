// Received characters as the lab shows them: runs of plain text in quotes with escapes, and
// each character that arrived with an error flag in brackets ("[break 0x00]", "[parity 0x41]").
#pragma once

#include <span>
#include <string>

#include "sim/kernel/tty/tty.h"

namespace lab {

std::string format_received(std::span<const sim::kernel::ReceivedChar> received);
// Sixteen bytes a line with offsets, flags marked after the byte (b, p, f, o).
std::string format_received_hex(std::span<const sim::kernel::ReceivedChar> received);

}  // namespace lab
