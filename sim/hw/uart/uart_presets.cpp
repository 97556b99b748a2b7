#include "sim/hw/uart/uart_presets.h"

#include <array>

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

constexpr TriggerTable t16550{1, 4, 8, 14};
constexpr TriggerTable t650{8, 16, 24, 28};
constexpr TriggerTable t654{8, 16, 56, 60};
constexpr TriggerTable t750_64{1, 16, 32, 56};
constexpr TriggerTable t950_650mode{16, 32, 112, 120};
constexpr TriggerTable txscale{1, 8, 16, 32};

constexpr UartFeatures i8250() {
    UartFeatures f;
    f.part = "8250";
    f.scratch = false;  // the original 8250 has no scratch register
    return f;
}

constexpr UartFeatures ns16450() {
    UartFeatures f;
    f.part = "NS16450";
    return f;
}

constexpr UartFeatures ns16550() {
    UartFeatures f;
    f.part = "NS16550";
    f.fifo = FifoKind::broken;
    f.fifo_depth = 16;
    return f;
}

constexpr UartFeatures ns16550a() {
    UartFeatures f;
    f.part = "NS16550A";
    f.fifo = FifoKind::working;
    f.fifo_depth = 16;
    f.rx_triggers = t16550;
    return f;
}

constexpr UartFeatures st650_common(std::string_view part, EfrAccess efr) {
    UartFeatures f = ns16550a();
    f.part = part;
    f.fifo_depth = 32;
    f.rx_triggers = t650;
    f.ier_mask = 0xff;
    f.ier_enhanced_bits = 0xf0;
    f.mcr_mask = 0xff;
    f.mcr_enhanced_bits = 0xe0;
    f.efr = efr;
    f.sleep = true;
    f.mcr_clock_divide = true;
    return f;
}

constexpr UartFeatures st16c654() {
    UartFeatures f = st650_common("ST16C654", EfrAccess::bank_bf);
    f.fifo_depth = 64;
    f.rx_triggers = t654;
    return f;
}

constexpr UartFeatures xr16c85x(std::string_view part, std::uint16_t id) {
    UartFeatures f = st650_common(part, EfrAccess::bank_bf);
    f.fifo_depth = 128;
    f.rx_triggers = t16550;
    f.xr_trigger_registers = true;
    f.divisor_id = id;
    return f;
}

constexpr UartFeatures ti16c750() {
    UartFeatures f = ns16550a();
    f.part = "TL16C750";
    f.ier_mask = 0x3f;     // bit 4 sleep, bit 5 low-power mode
    f.mcr_mask = 0x3f;     // bit 5 automatic flow control
    f.sleep = true;
    f.wide_fifo_depth = 64;
    f.wide_rx_triggers = t750_64;
    f.wide_mode_in_iir = true;
    f.mcr_auto_flow = true;
    return f;
}

constexpr UartFeatures ox16c95x(std::string_view part, std::uint8_t id3, std::uint8_t rev) {
    UartFeatures f = ns16550a();
    f.part = part;
    f.ier_mask = 0xff;
    f.ier_enhanced_bits = 0xf0;
    f.mcr_mask = 0xff;
    f.mcr_enhanced_bits = 0xe0;
    f.efr = EfrAccess::bank_bf;
    f.sleep = true;
    f.wide_fifo_depth = 128;   // "extended 550" mode
    f.wide_rx_triggers = t16550;
    f.indexed_registers = true;
    f.ids = {0x16, 0xc9, id3, rev};
    f.enhanced_fifo_depth = 128;
    f.enhanced_rx_triggers = t950_650mode;
    return f;
}

constexpr UartFeatures ns_pc8733x() {
    UartFeatures f = ns16550a();
    f.part = "PC87338 UART";
    f.natsemi_banks = true;
    return f;
}

constexpr UartFeatures pxa_xscale() {
    UartFeatures f = ns16550a();
    f.part = "PXA2xx UART";
    f.fifo_depth = 32;
    f.rx_triggers = txscale;
    f.ier_mask = 0xff;
    f.unit_enable = true;
    f.clock_hz = 14'745'600;
    return f;
}

constexpr UartFeatures xr16c2550_a2() {
    UartFeatures f = ns16550a();
    f.part = "XR16C2550 rev A2";
    f.divisor_id = 0x0201;
    f.bank_bf_register2_reads_zero = true;
    return f;
}

constexpr UartFeatures rsa_16550a() {
    UartFeatures f = ns16550a();
    f.part = "RSA board 16550A";
    return f;
}

constexpr UartFeatures with_divisor_bug(UartFeatures f) {
    f.divisor_low_byte_bug = true;
    return f;
}

const std::array presets{
    UartPreset{UartModel::i8250, "8250", 1, "8250", i8250()},
    UartPreset{UartModel::ns16450, "16450", 2, "16450", ns16450()},
    UartPreset{UartModel::ns16550, "16550", 3, "16550", ns16550()},
    UartPreset{UartModel::ns16550a, "16550a", 4, "16550A", ns16550a()},
    UartPreset{UartModel::st16c650, "st16650", 6, "ST16650", st650_common("ST16C650", EfrAccess::under_dlab)},
    UartPreset{UartModel::st16c650v2, "st16650v2", 7, "ST16650V2", st650_common("ST16C650A", EfrAccess::bank_bf)},
    UartPreset{UartModel::ti16c750, "ti16750", 8, "TI16750", ti16c750()},
    UartPreset{UartModel::ox16c950, "16c950", 10, "16C950/954", ox16c95x("OX16C950", 0x50, 0x03)},
    UartPreset{UartModel::ox16c954, "16c954", 10, "16C950/954", ox16c95x("OX16C954", 0x54, 0x01)},
    UartPreset{UartModel::ox16c952_rev1, "16c952-rev1", 10, "16C950/954",
               with_divisor_bug(ox16c95x("OX16C952 rev 1", 0x52, 0x01))},
    UartPreset{UartModel::ox16c952_rev2, "16c952-rev2", 10, "16C950/954", ox16c95x("OX16C952 rev 2", 0x52, 0x02)},
    UartPreset{UartModel::st16c654, "st16654", 11, "ST16654", st16c654()},
    UartPreset{UartModel::xr16c850, "xr16850", 12, "XR16850", xr16c85x("XR16C850", 0x1003)},
    UartPreset{UartModel::xr16c852, "xr16852", 12, "XR16850", xr16c85x("XR16C852", 0x1201)},
    UartPreset{UartModel::xr16c854, "xr16854", 12, "XR16850", xr16c85x("XR16C854", 0x1401)},
    UartPreset{UartModel::ns_pc8733x, "ns16550a", 14, "NS16550A", ns_pc8733x()},
    UartPreset{UartModel::pxa_xscale, "xscale", 15, "XScale", pxa_xscale()},
    UartPreset{UartModel::rsa_16550a, "rsa-16550a", 4, "16550A", rsa_16550a()},
    UartPreset{UartModel::xr16c2550_a2, "xr16c2550", 4, "16550A", xr16c2550_a2()},
};

}  // namespace

std::span<const UartPreset> uart_presets() { return presets; }

const UartPreset& uart_preset(UartModel model) {
    for (const UartPreset& p : presets) {
        if (p.model == model) return p;
    }
    panic("no preset for UART model {}", static_cast<unsigned>(model));
}

std::optional<UartModel> uart_model_by_key(std::string_view key) {
    for (const UartPreset& p : presets) {
        if (p.key == key) return p.model;
    }
    return std::nullopt;
}

}  // namespace sim::hw
