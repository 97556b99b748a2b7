// serial-lab bridge: the machine in real time, with simulated ttyS devices exposed as host
// pseudo-terminals. What a program writes to the pty goes through the serial core and the
// driver onto the simulated line; what arrives comes back; settings the program makes on the
// pty (speed, framing, flow control) are applied to the port.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lab {

class Lab;
class Session;

struct BridgeOptions {
    std::vector<std::string> devices;  // "ttyS0", ...
    std::vector<std::string> links;    // optional symlink per device, in order
    std::optional<std::chrono::milliseconds> run_for;  // wall time; until a signal when absent
};

// Returns the exit status.
int run_bridge(Lab& lab, const BridgeOptions& options);

}  // namespace lab
