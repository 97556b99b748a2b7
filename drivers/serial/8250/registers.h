// UART register numbers and bits, as the 16550 datasheets name them, and the extra registers of
// the descendants this driver knows (RSA board, 16C950, NS16550A, XScale).
#pragma once

#include <cstdint>

// Register numbers before the access layer applies `reg_shift`.
enum uart_register : int {
    reg_rbr = 0,      // receive buffer (read)
    reg_thr = 0,      // transmit holding (write)
    reg_dll = 0,      // divisor latch low, while LCR bit 0x80 is set
    reg_ier = 1,      // interrupt enable
    reg_dlm = 1,      // divisor latch high, while LCR bit 0x80 is set
    reg_iir = 2,      // interrupt identification (read)
    reg_fcr = 2,      // FIFO control (write)
    reg_efr = 2,      // enhanced features, while LCR holds 0xbf
    reg_lcr = 3,      // line control
    reg_mcr = 4,      // modem control
    reg_lsr = 5,      // line status
    reg_icr_data = 5, // 16C950: the indexed register that SCR selects (write)
    reg_msr = 6,      // modem status
    reg_scr = 7,      // scratch; on the 16C950 the indexed-register selector
    reg_rsa_mode = -8,        // RSA board: mode register
    reg_rsa_fifo_reset = -6,  // RSA board: FIFO reset
};

// IER
inline constexpr std::uint8_t ier_rdi = 0x01;    // received data
inline constexpr std::uint8_t ier_thri = 0x02;   // transmit holding register empty
inline constexpr std::uint8_t ier_rlsi = 0x04;   // receiver line status
inline constexpr std::uint8_t ier_msi = 0x08;    // modem status
inline constexpr std::uint8_t ier_sleep = 0x10;  // sleep mode on chips that can sleep
inline constexpr std::uint8_t ier_rtoie = 0x10;  // XScale: receiver time-out interrupt
inline constexpr std::uint8_t ier_uue = 0x40;    // XScale: unit enable

// IIR
inline constexpr std::uint8_t iir_no_int = 0x01;  // set: no interrupt pending
inline constexpr std::uint8_t iir_fifo_bits = 0xc0;

// FCR
inline constexpr std::uint8_t fcr_enable_fifo = 0x01;
inline constexpr std::uint8_t fcr_clear_rcvr = 0x02;
inline constexpr std::uint8_t fcr_clear_xmit = 0x04;
inline constexpr std::uint8_t fcr7_64byte = 0x20;  // TI16750: 64-byte FIFO mode

// LCR
inline constexpr std::uint8_t lcr_wlen5 = 0x00;
inline constexpr std::uint8_t lcr_wlen6 = 0x01;
inline constexpr std::uint8_t lcr_wlen7 = 0x02;
inline constexpr std::uint8_t lcr_wlen8 = 0x03;
inline constexpr std::uint8_t lcr_stop = 0x04;    // two stop bits (1.5 for 5-bit words)
inline constexpr std::uint8_t lcr_parity = 0x08;
inline constexpr std::uint8_t lcr_eparity = 0x10;
inline constexpr std::uint8_t lcr_sparity = 0x20;
inline constexpr std::uint8_t lcr_sbc = 0x40;     // break
inline constexpr std::uint8_t lcr_dlab = 0x80;    // divisor latch access
inline constexpr std::uint8_t lcr_efr_bank = 0xbf;  // opens the enhanced register bank
inline constexpr std::uint8_t lcr_ns_bank2 = 0xe0;  // NS16550A register bank 2, latch open

// MCR
inline constexpr std::uint8_t mcr_dtr = 0x01;
inline constexpr std::uint8_t mcr_rts = 0x02;
inline constexpr std::uint8_t mcr_out1 = 0x04;
inline constexpr std::uint8_t mcr_out2 = 0x08;
inline constexpr std::uint8_t mcr_loop = 0x10;
inline constexpr std::uint8_t mcr_afe = 0x20;  // automatic flow control

// LSR
inline constexpr std::uint8_t lsr_dr = 0x01;
inline constexpr std::uint8_t lsr_oe = 0x02;
inline constexpr std::uint8_t lsr_pe = 0x04;
inline constexpr std::uint8_t lsr_fe = 0x08;
inline constexpr std::uint8_t lsr_bi = 0x10;
inline constexpr std::uint8_t lsr_thre = 0x20;
inline constexpr std::uint8_t lsr_temt = 0x40;
inline constexpr std::uint8_t lsr_brk_error_bits = 0x1e;

// MSR
inline constexpr std::uint8_t msr_dcts = 0x01;
inline constexpr std::uint8_t msr_ddsr = 0x02;
inline constexpr std::uint8_t msr_teri = 0x04;
inline constexpr std::uint8_t msr_ddcd = 0x08;
inline constexpr std::uint8_t msr_any_delta = 0x0f;
inline constexpr std::uint8_t msr_cts = 0x10;
inline constexpr std::uint8_t msr_dsr = 0x20;
inline constexpr std::uint8_t msr_ri = 0x40;
inline constexpr std::uint8_t msr_dcd = 0x80;

// EFR
inline constexpr std::uint8_t efr_ecb = 0x10;   // enhanced functions on
inline constexpr std::uint8_t efr_cts = 0x80;   // automatic CTS

// 16C950 indexed registers and ACR bits
inline constexpr int icr_acr = 0x00;
inline constexpr int icr_tcr = 0x02;   // sample clock for the highest rates
inline constexpr int icr_id1 = 0x08;
inline constexpr int icr_id2 = 0x09;
inline constexpr int icr_id3 = 0x0a;
inline constexpr int icr_rev = 0x0b;
inline constexpr int icr_cks = 0x0c;
inline constexpr std::uint8_t acr_tx_disable = 0x02;
inline constexpr std::uint8_t acr_icr_read = 0x40;

// RSA board mode register
inline constexpr std::uint8_t rsa_mode_fifo = 0x04;

// Clocks
inline constexpr std::uint32_t standard_clock_hz = 1843200;  // 0x1c2000
inline constexpr std::uint32_t fast_clock_hz = 14745600;     // 0xe10000, 921600 x 16
