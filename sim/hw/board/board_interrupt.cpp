#include "sim/hw/board/board_interrupt.h"

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

InterruptPin make_pin(InterruptController& controller, const InterruptWiring& wiring) {
    if (!wiring.line) return InterruptPin{};
    if (static_cast<std::uint32_t>(*wiring.line) >= interrupt_line_count) {
        fatal("interrupt line {} does not exist", static_cast<std::uint32_t>(*wiring.line));
    }
    controller.set_trigger(*wiring.line, wiring.trigger);
    return InterruptPin(controller, *wiring.line);
}

}  // namespace

BoardInterrupt::BoardInterrupt(InterruptController& controller, InterruptWiring wiring)
    : wiring_(wiring), pin_(make_pin(controller, wiring)) {}

}  // namespace sim::hw
