// A machine with the 8250 module and two 16550A UARTs on PC cards, ttyS0 (0x3f8, line 4) and
// ttyS1 (0x2f8, line 3), joined by a null-modem cable; both ports open, raw, at 115200 8N1.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "sim/hw/board/pc_card.h"
#include "sim/hw/line/null_modem.h"
#include "sim/hw/uart/uart_chip.h"
#include "sim/kernel/machine.h"
#include "sim/kernel/serial_core/serial_core.h"

namespace driver_bench {

class PairRig {
public:
    PairRig();
    ~PairRig();
    PairRig(const PairRig&) = delete;
    PairRig& operator=(const PairRig&) = delete;

    // Empty when the rig is up; otherwise what went wrong.
    const std::string& error() const { return error_; }

    // Writes `bytes` on ttyS0 and reads as many on ttyS1; false if they did not all arrive
    // unchanged.
    bool move(std::span<const unsigned char> bytes);
    // The same both ways at once: `bytes` from ttyS0 to ttyS1 and from ttyS1 to ttyS0.
    bool exchange(std::span<const unsigned char> bytes);

    sim::kernel::Machine machine;

private:
    bool receive(sim::kernel::FileHandle file, std::span<const unsigned char> expected);
    sim::kernel::SerialCore& core() { return machine.subsystem<sim::kernel::SerialCore>(); }

    sim::hw::UartChip chip0_{machine.events(), sim::hw::UartModel::ns16550a};
    sim::hw::UartChip chip1_{machine.events(), sim::hw::UartModel::ns16550a};
    sim::hw::PcSerialCard card0_;
    sim::hw::PcSerialCard card1_;
    sim::hw::NullModemCable cable_{chip0_, chip1_};
    sim::kernel::FileHandle tty0_{};
    sim::kernel::FileHandle tty1_{};
    std::string error_;
};

}  // namespace driver_bench
