// How a board's interrupt output reaches the machine: any line, edge- or level-triggered, or
// none at all.
#pragma once

#include <optional>

#include "sim/hw/interrupt_controller.h"

namespace sim::hw {

struct InterruptWiring {
    std::optional<InterruptLine> line;  // none: the output goes nowhere
    Trigger trigger = Trigger::edge;

    static InterruptWiring none() { return {}; }
    static InterruptWiring edge(std::uint32_t line) { return {InterruptLine{line}, Trigger::edge}; }
    static InterruptWiring level(std::uint32_t line) { return {InterruptLine{line}, Trigger::level}; }
};

// The board's driver of its line. Wiring a line also sets the line's trigger mode.
class BoardInterrupt {
public:
    BoardInterrupt(InterruptController& controller, InterruptWiring wiring);
    void set(bool asserted) { pin_.set(asserted); }
    bool asserted() const { return pin_.asserted(); }
    const InterruptWiring& wiring() const { return wiring_; }

private:
    InterruptWiring wiring_;
    InterruptPin pin_;
};

}  // namespace sim::hw
