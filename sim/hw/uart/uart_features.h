// What sets one member of the 8250 family apart from another: the feature set a chip model is
// built from. Presets for the real parts are in uart_presets.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sim::hw {

enum class FifoKind : std::uint8_t {
    none,     // 8250, 16450: one-byte holding registers
    broken,   // 16550 before the A: FCR bit 0 shows in IIR (bits 7-6 read 10) but the FIFO is unusable
    working,
};

enum class EfrAccess : std::uint8_t {
    none,
    under_dlab,  // ST16C650 (first version): EFR answers at offset 2 whenever LCR bit 7 is set
    bank_bf,     // later 650s, 654, 850, 950: EFR answers at offset 2 only with LCR 0xBF
};

using TriggerTable = std::array<std::uint16_t, 4>;  // receive trigger levels by FCR bits 7-6

struct UartFeatures {
    std::string_view part;       // the part as a board vendor would name it
    FifoKind fifo = FifoKind::none;
    unsigned fifo_depth = 1;
    TriggerTable rx_triggers{1, 4, 8, 14};
    bool scratch = true;

    // IER bits that read back; of those, the ones that change only while EFR bit 4 is set.
    std::uint8_t ier_mask = 0x0f;
    std::uint8_t ier_enhanced_bits = 0x00;
    // MCR bits that read back; of those, the ones that change only while EFR bit 4 is set.
    std::uint8_t mcr_mask = 0x1f;
    std::uint8_t mcr_enhanced_bits = 0x00;

    EfrAccess efr = EfrAccess::none;
    bool sleep = false;              // IER 0x10 puts the chip to sleep
    bool mcr_clock_divide = false;   // MCR 0x80 (enhanced) divides the input clock by four
    std::uint32_t clock_hz = 1'843'200;

    // TI16750 / 16C950: FCR bit 5 written under the divisor latch selects the deep FIFO.
    unsigned wide_fifo_depth = 0;
    TriggerTable wide_rx_triggers{};
    bool wide_mode_in_iir = false;   // TI16750: IIR bit 5 shows the 64-byte mode
    bool mcr_auto_flow = false;      // TI16750: MCR 0x20 automatic RTS/CTS

    // 16C950: indexed registers through SPR and ICR, identification bytes, 650/950 modes.
    bool indexed_registers = false;
    std::array<std::uint8_t, 4> ids{};   // ID1, ID2, ID3, REV
    unsigned enhanced_fifo_depth = 0;    // FIFO depth with EFR bit 4 set (650/950 mode)
    TriggerTable enhanced_rx_triggers{};
    bool divisor_low_byte_bug = false;   // 16C952 rev 1: DLL 0 makes it miscount the rate

    // NS PC8733x-style super-I/O UART: register banks 2 and 3 at LCR 0xE0 / 0xE4.
    bool natsemi_banks = false;
    // XScale: IER 0x40 enables the unit; IER 0x10 enables the receiver time-out interrupt.
    bool unit_enable = false;
    // XR16C850: TRG and FCTR in the LCR 0xBF bank with selectable trigger tables.
    bool xr_trigger_registers = false;
    // DLM:DLL read back as a device identification after both were written 0.
    std::optional<std::uint16_t> divisor_id;
    // XR16C2550-style quirk: offset 2 reads 0 in the LCR 0xBF bank although there is no EFR.
    bool bank_bf_register2_reads_zero = false;
};

}  // namespace sim::hw
