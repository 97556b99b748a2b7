// The real parts: one preset per member of the family, each with the type number the driver's
// type table gives it.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "sim/hw/uart/uart_features.h"

namespace sim::hw {

enum class UartModel : std::uint8_t {
    i8250,
    ns16450,
    ns16550,            // FIFO broken
    ns16550a,
    st16c650,           // first version: EFR under any divisor-latch access
    st16c650v2,
    ti16c750,
    ox16c950,
    ox16c954,
    ox16c952_rev1,      // third identification byte 0x52, revision 1
    ox16c952_rev2,
    st16c654,
    xr16c850,
    xr16c852,
    xr16c854,
    ns_pc8733x,         // NS16550A-class super-I/O UART with register banks and prescaler
    pxa_xscale,
    rsa_16550a,         // the 16550A on an RSA board
    xr16c2550_a2,       // divisor identification 0x0201, 16-byte FIFO, no EFR
};

struct UartPreset {
    UartModel model;
    std::string_view key;       // short name for configuration ("16550a", "16c950", ...)
    unsigned type;              // the driver's type number it should be found as
    std::string_view type_name; // the driver's name for that type
    UartFeatures features;
};

std::span<const UartPreset> uart_presets();
const UartPreset& uart_preset(UartModel model);
std::optional<UartModel> uart_model_by_key(std::string_view key);

}  // namespace sim::hw
