#include "sim/hw/uart/uart_registers.h"

namespace sim::hw {

std::string_view plain_register_name(unsigned reg, bool is_write) {
    switch (reg & 7u) {
        case 0: return is_write ? "THR" : "RBR";
        case 1: return "IER";
        case 2: return is_write ? "FCR" : "IIR";
        case 3: return "LCR";
        case 4: return "MCR";
        case 5: return "LSR";
        case 6: return "MSR";
        default: return "SCR";
    }
}

}  // namespace sim::hw
