// One model of the 8250/16450/16550 family and its descendants, configured by a feature set.
// Registers with their banks, FIFOs with trigger levels and the character timeout, timing from
// clock, divisor and framing, interrupt identification with the 16550's priorities and clearing
// rules, loopback, modem lines, break, errors, overrun, sleep and automatic flow control.
//
// Time comes only from the event queue: the chip schedules one event when a character leaves
// its transmit shift register, its receiver one when a character has been sampled, and a
// time-out check at most every four character times while the receive FIFO holds data.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sim/hw/event_queue.h"
#include "sim/hw/line/line_frame.h"
#include "sim/hw/line/serial_device.h"
#include "sim/hw/line/serial_receiver.h"
#include "sim/hw/uart/fixed_ring.h"
#include "sim/hw/uart/uart_features.h"
#include "sim/hw/uart/uart_presets.h"
#include "sim/hw/uart/uart_registers.h"

namespace sim::hw {

// Faults of damaged or odd parts, for the driver's edge cases. All off on a sound chip.
struct UartFaults {
    bool ier_reads_zero = false;          // IER does not read back
    bool loopback_broken = false;         // MCR loopback connects neither data nor modem lines
    bool dr_stuck = false;                // LSR DR never clears
    std::optional<std::uint8_t> stuck_iir;  // IIR always reads this and INTR stays asserted
    bool interrupt_output_dead = false;   // INTR never asserts
    bool thre_not_reasserted = false;     // re-enabling THRI does not raise THRE again
    bool thre_silent_on_enable = false;   // enabling THRI with THR empty raises nothing
};

class UartChip final : public UartRegisters, public SerialDevice {
public:
    UartChip(EventQueue& events, const UartFeatures& features);
    UartChip(EventQueue& events, UartModel model);
    ~UartChip() override;
    UartChip(const UartChip&) = delete;
    UartChip& operator=(const UartChip&) = delete;

    // UartRegisters
    std::uint8_t read(unsigned reg) override;
    void write(unsigned reg, std::uint8_t value) override;
    std::string_view register_name(unsigned reg, bool is_write) const override;
    bool interrupt_output() const override { return intr_out_; }
    bool out1() const override { return out1_out_; }
    bool out2() const override { return out2_out_; }
    void set_output_listener(UartOutputListener* listener) override { listener_ = listener; }

    // SerialDevice
    void receive_frame(const LineFrame& frame) override;
    void set_modem_input(ModemSignal signal, bool asserted) override;
    void attach_line(LineSink* sink) override;
    bool rts_output() const override { return rts_out_; }
    bool dtr_output() const override { return dtr_out_; }

    // Board-level controls.
    void set_input_clock(std::uint32_t hz);
    std::uint32_t input_clock() const { return clock_hz_; }
    // A board FIFO that replaces the chip's own (the RSA board's 2048 bytes); 0 for the chip's.
    void set_fifo_depth_override(unsigned depth);
    void clear_fifos();
    void set_faults(const UartFaults& faults);
    const UartFaults& faults() const { return faults_; }
    // Power-on reset (the MR pin).
    void reset();

    // Observation without side effects, for tests, benches and the lab.
    const UartFeatures& features() const { return features_; }
    std::uint8_t peek(unsigned reg) const;
    std::uint8_t lcr() const { return lcr_; }
    std::uint8_t mcr() const { return mcr_; }
    std::uint8_t ier() const { return ier_; }
    std::uint8_t efr() const { return efr_; }
    std::uint8_t icr(std::uint8_t index) const;  // 16C950 indexed register, without side effects
    std::uint16_t divisor() const { return static_cast<std::uint16_t>(dlm_ << 8 | dll_); }
    LineFormat line_format() const { return LineFormat::from_lcr(lcr_); }
    Picoseconds bit_time() const { return bit_ps_; }
    Duration character_time() const;
    bool fifo_enabled() const { return fifo_enabled_; }
    unsigned fifo_depth() const;
    unsigned rx_trigger_level() const;
    std::size_t rx_level() const { return rx_fifo_.size(); }
    std::size_t tx_level() const { return tx_fifo_.size(); }
    bool transmitter_busy() const { return tsr_busy_; }
    bool break_active() const { return (lcr_ & lcr_bits::sbc) != 0; }
    bool loopback() const { return (mcr_ & mcr_bits::loop) != 0; }
    bool asleep() const;
    bool unit_enabled() const { return !features_.unit_enable || (ier_ & ier_bits::uue); }

private:
    struct RxEntry {
        std::uint8_t data = 0;
        std::uint8_t errors = 0;  // LSR PE, FE, BI of this character
    };

    // Register access, one job each.
    std::uint8_t compute_iir() const;
    std::uint8_t compute_lsr() const;
    std::uint8_t shown_errors() const;
    void after_iir_read(std::uint8_t value);
    void after_lsr_read();
    void after_rbr_read();
    void write_thr(std::uint8_t value);
    void write_ier(std::uint8_t value);
    void write_fcr(std::uint8_t value);
    void write_lcr(std::uint8_t value);
    void write_mcr(std::uint8_t value);
    void write_efr(std::uint8_t value);
    std::uint8_t read_divisor_byte(bool high) const;
    void write_icr(std::uint8_t index, std::uint8_t value);

    // What an access to an offset reaches under the current banking.
    enum class Target : std::uint8_t {
        rbr, thr, dll, dlm, ier, iir, iir_zero, fcr, efr, lcr, mcr, lsr, msr, scr, icr,
        xon1, xon2, xoff1, xoff2, trg, fc, fctr, excr1, excr2, txflv, rxflv, reserved,
    };
    Target decode(unsigned reg, bool is_write) const;
    std::uint8_t value_of(Target target) const;
    void write_target(Target target, std::uint8_t value);
    bool enhanced() const { return (efr_ & efr_bits::enhanced) != 0; }
    bool icr_read_enabled() const;
    bool fifo_mode() const { return fifo_enabled_ && features_.fifo == FifoKind::working; }
    bool auto_cts() const;
    bool auto_rts() const;
    void emit(const LineFrame& frame);

    // Receive path.
    void character_received(const ReceivedCharacter& c);
    void arm_timeout();
    void timeout_check();
    void rx_fifo_changed();
    void resize_fifos();
    // Transmit path.
    void start_transmitter();
    void transmit_done();
    void tx_became_empty();
    bool transmitter_held() const;
    // Modem lines, timing, outputs.
    void modem_inputs_changed();
    void update_timing();
    void update_outputs();
    bool pending_interrupt() const;
    void clear_rx();
    void clear_tx();
    void registers_to_reset_values();

    EventQueue& events_;
    UartFeatures features_;
    UartFaults faults_{};
    std::uint32_t clock_hz_;
    unsigned fifo_override_ = 0;

    // Registers.
    std::uint8_t ier_ = 0, lcr_ = 0, mcr_ = 0, scr_ = 0, dll_ = 0, dlm_ = 0, efr_ = 0;
    std::uint8_t lcr_written_ = 0;  // NS parts: the last value written to offset 3 (BSR)
    std::uint8_t fcr_trigger_ = 0;  // FCR bits 7-6
    bool fifo_enabled_ = false;
    bool wide_mode_ = false;        // FCR bit 5 under the divisor latch (TI16750, 16C950)
    std::array<std::uint8_t, 4> flow_chars_{};  // XON1, XON2, XOFF1, XOFF2
    std::uint8_t ns_excr1_ = 0, ns_excr2_ = 0;
    std::uint8_t xr_fctr_ = 0, xr_rx_trigger_ = 0, xr_tx_trigger_ = 0;
    std::array<std::uint8_t, icr_index::count> icr_{};
    std::uint8_t last_rbr_ = 0;

    // Receiver.
    SerialReceiver receiver_;
    FixedRing<RxEntry> rx_fifo_;
    std::uint8_t held_errors_ = 0;     // without FIFO: PE/FE/BI latched until LSR is read
    unsigned rx_error_entries_ = 0;    // FIFO entries still carrying error bits (LSR bit 7)
    bool overrun_ = false;
    bool timeout_pending_ = false;
    TimePoint last_rx_activity_{};
    EventId timeout_event_ = EventId::none;

    // Transmitter.
    FixedRing<std::uint8_t> tx_fifo_;
    bool tsr_busy_ = false;
    EventId tx_event_ = EventId::none;
    bool thre_interrupt_ = false;
    bool thre_needs_write_ = false;  // thre_not_reasserted: IER alone cannot raise it again
    bool rts_held_ = false;          // automatic RTS: the receive FIFO asked the far end to wait

    // Modem lines: what the far end drives, and the MSR bits as last seen.
    bool cts_in_ = false, dsr_in_ = false, ri_in_ = false, dcd_in_ = false;
    std::uint8_t msr_lines_ = 0;
    std::uint8_t msr_deltas_ = 0;

    // Outputs.
    LineSink* line_ = nullptr;
    UartOutputListener* listener_ = nullptr;
    bool intr_out_ = false, out1_out_ = false, out2_out_ = false, rts_out_ = false, dtr_out_ = false;
    bool break_on_wire_ = false;
    Picoseconds bit_ps_ = 0;
};

}  // namespace sim::hw
