// Register numbers and bits of the 8250/16450/16550 family, as the datasheets name them, and
// the narrow interface a board uses to reach a chip (or a fake standing in for one).
#pragma once

#include <cstdint>
#include <string_view>

namespace sim::hw {

namespace uart_reg {
inline constexpr unsigned rbr_thr = 0;  // DLL with LCR.DLAB
inline constexpr unsigned ier = 1;      // DLM with LCR.DLAB
inline constexpr unsigned iir_fcr = 2;  // EFR with LCR 0xBF on EFR parts
inline constexpr unsigned lcr = 3;
inline constexpr unsigned mcr = 4;
inline constexpr unsigned lsr = 5;      // ICR writes on the 16C950
inline constexpr unsigned msr = 6;
inline constexpr unsigned scr = 7;      // SPR, the indexed-register selector on the 16C950
inline constexpr unsigned count = 8;
}  // namespace uart_reg

namespace ier_bits {
inline constexpr std::uint8_t rdi = 0x01;    // received data available (and the timeout)
inline constexpr std::uint8_t thri = 0x02;   // transmit holding register empty
inline constexpr std::uint8_t rlsi = 0x04;   // receiver line status
inline constexpr std::uint8_t msi = 0x08;    // modem status
inline constexpr std::uint8_t sleep = 0x10;  // sleep (650/750/950), receiver time-out enable (XScale)
inline constexpr std::uint8_t uue = 0x40;    // XScale unit enable
}  // namespace ier_bits

namespace iir_bits {
inline constexpr std::uint8_t no_interrupt = 0x01;
inline constexpr std::uint8_t id_mask = 0x0e;
inline constexpr std::uint8_t modem_status = 0x00;
inline constexpr std::uint8_t thr_empty = 0x02;
inline constexpr std::uint8_t rx_data = 0x04;
inline constexpr std::uint8_t line_status = 0x06;
inline constexpr std::uint8_t rx_timeout = 0x0c;
inline constexpr std::uint8_t wide_fifo = 0x20;        // TI16750 64-byte mode
inline constexpr std::uint8_t fifo_broken = 0x80;      // 16550 (pre-A)
inline constexpr std::uint8_t fifo_enabled = 0xc0;
}  // namespace iir_bits

namespace fcr_bits {
inline constexpr std::uint8_t enable = 0x01;
inline constexpr std::uint8_t clear_rx = 0x02;
inline constexpr std::uint8_t clear_tx = 0x04;
inline constexpr std::uint8_t wide = 0x20;        // TI16750 / 16C950: only under the divisor latch
inline constexpr std::uint8_t trigger_shift = 6;
}  // namespace fcr_bits

namespace lcr_bits {
inline constexpr std::uint8_t sbc = 0x40;    // set break
inline constexpr std::uint8_t dlab = 0x80;
inline constexpr std::uint8_t efr_bank = 0xbf;
inline constexpr std::uint8_t ns_bank2 = 0xe0;
inline constexpr std::uint8_t ns_bank3 = 0xe4;
}  // namespace lcr_bits

namespace mcr_bits {
inline constexpr std::uint8_t dtr = 0x01;
inline constexpr std::uint8_t rts = 0x02;
inline constexpr std::uint8_t out1 = 0x04;
inline constexpr std::uint8_t out2 = 0x08;
inline constexpr std::uint8_t loop = 0x10;
inline constexpr std::uint8_t afe = 0x20;        // TI16750 automatic flow control
inline constexpr std::uint8_t clock_div = 0x80;  // 650/850: clock / 4; 16C950: prescaler CPR
}  // namespace mcr_bits

namespace lsr_bits {
inline constexpr std::uint8_t dr = 0x01;
inline constexpr std::uint8_t oe = 0x02;
inline constexpr std::uint8_t pe = 0x04;
inline constexpr std::uint8_t fe = 0x08;
inline constexpr std::uint8_t bi = 0x10;
inline constexpr std::uint8_t thre = 0x20;
inline constexpr std::uint8_t temt = 0x40;
inline constexpr std::uint8_t fifo_error = 0x80;
inline constexpr std::uint8_t errors = pe | fe | bi;
}  // namespace lsr_bits

namespace msr_bits {
inline constexpr std::uint8_t dcts = 0x01;
inline constexpr std::uint8_t ddsr = 0x02;
inline constexpr std::uint8_t teri = 0x04;
inline constexpr std::uint8_t ddcd = 0x08;
inline constexpr std::uint8_t cts = 0x10;
inline constexpr std::uint8_t dsr = 0x20;
inline constexpr std::uint8_t ri = 0x40;
inline constexpr std::uint8_t dcd = 0x80;
inline constexpr std::uint8_t deltas = 0x0f;
}  // namespace msr_bits

namespace efr_bits {
inline constexpr std::uint8_t enhanced = 0x10;
inline constexpr std::uint8_t auto_rts = 0x40;
inline constexpr std::uint8_t auto_cts = 0x80;
}  // namespace efr_bits

// 16C950 indexed control registers, reached through SPR (offset 7) and ICR (offset 5).
namespace icr_index {
inline constexpr std::uint8_t acr = 0x00;
inline constexpr std::uint8_t cpr = 0x01;
inline constexpr std::uint8_t tcr = 0x02;
inline constexpr std::uint8_t cks = 0x03;
inline constexpr std::uint8_t ttl = 0x04;
inline constexpr std::uint8_t rtl = 0x05;
inline constexpr std::uint8_t fcl = 0x06;
inline constexpr std::uint8_t fch = 0x07;
inline constexpr std::uint8_t id1 = 0x08;
inline constexpr std::uint8_t id2 = 0x09;
inline constexpr std::uint8_t id3 = 0x0a;
inline constexpr std::uint8_t rev = 0x0b;
inline constexpr std::uint8_t csr = 0x0c;
inline constexpr std::uint8_t count = 0x14;
}  // namespace icr_index

namespace acr_bits {
inline constexpr std::uint8_t rx_disable = 0x01;
inline constexpr std::uint8_t tx_disable = 0x02;
inline constexpr std::uint8_t trigger_levels = 0x20;  // 950 mode: RTL/TTL replace the FCR table
inline constexpr std::uint8_t icr_read = 0x40;
}  // namespace acr_bits

// Told whenever a chip's interrupt output or its OUT1/OUT2 pins change.
class UartOutputListener {
public:
    virtual void uart_outputs_changed() = 0;

protected:
    ~UartOutputListener() = default;
};

// A chip's register file as a board reaches it: register numbers 0 to 7, one byte each.
class UartRegisters {
public:
    virtual ~UartRegisters() = default;
    virtual std::uint8_t read(unsigned reg) = 0;
    virtual void write(unsigned reg, std::uint8_t value) = 0;
    // The register an access reaches right now, for traces ("LCR", "DLL", "EFR", ...).
    virtual std::string_view register_name(unsigned reg, bool is_write) const = 0;

    // The INTR pin, and the OUT1/OUT2 pins (true: the MCR bit is set and drives the pin; in
    // loopback the pins are held inactive).
    virtual bool interrupt_output() const = 0;
    virtual bool out1() const = 0;
    virtual bool out2() const = 0;
    virtual void set_output_listener(UartOutputListener* listener) = 0;
};

// The 16550 datasheet names: what an access to register `reg` reaches without any bank.
std::string_view plain_register_name(unsigned reg, bool is_write);

}  // namespace sim::hw
