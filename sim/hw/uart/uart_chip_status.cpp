// Interrupt identification, line and modem status, the output pins and the bit clock.
#include "sim/hw/uart/uart_chip.h"

#include <algorithm>

namespace sim::hw {

namespace {

constexpr TriggerTable xr_table_b{8, 16, 24, 28};
constexpr TriggerTable xr_table_c{8, 16, 56, 60};

}  // namespace

unsigned UartChip::fifo_depth() const {
    if (!fifo_mode()) return 1;
    if (fifo_override_) return fifo_override_;
    if (wide_mode_ && features_.wide_fifo_depth) return features_.wide_fifo_depth;
    if (enhanced() && features_.enhanced_fifo_depth) return features_.enhanced_fifo_depth;
    return features_.fifo_depth;
}

unsigned UartChip::rx_trigger_level() const {
    if (!fifo_mode()) return 1;
    const unsigned depth = fifo_depth();
    unsigned level = features_.rx_triggers[fcr_trigger_ & 3u];
    if (fifo_override_) {
        level = features_.rx_triggers[fcr_trigger_ & 3u];
    } else if (wide_mode_ && features_.wide_fifo_depth) {
        level = features_.wide_rx_triggers[fcr_trigger_ & 3u];
    } else if (features_.indexed_registers && enhanced()) {
        level = (icr_[icr_index::acr] & acr_bits::trigger_levels) ? icr_[icr_index::rtl]
                                                                  : features_.enhanced_rx_triggers[fcr_trigger_ & 3u];
    } else if (features_.xr_trigger_registers) {
        switch ((xr_fctr_ >> 4) & 3u) {
            case 1: level = xr_table_b[fcr_trigger_ & 3u]; break;
            case 2: level = xr_table_c[fcr_trigger_ & 3u]; break;
            case 3: level = xr_rx_trigger_; break;
            default: break;
        }
    }
    return std::clamp(level, 1u, depth);
}

std::uint8_t UartChip::shown_errors() const {
    if (fifo_mode()) return rx_fifo_.empty() ? 0 : rx_fifo_.front().errors;
    return held_errors_;
}

std::uint8_t UartChip::compute_iir() const {
    if (faults_.stuck_iir) return *faults_.stuck_iir;
    std::uint8_t fifo_bits = 0;
    if (fifo_enabled_) {
        if (features_.fifo == FifoKind::broken) {
            fifo_bits = iir_bits::fifo_broken;
        } else {
            fifo_bits = iir_bits::fifo_enabled;
            if (wide_mode_ && features_.wide_mode_in_iir) fifo_bits |= iir_bits::wide_fifo;
        }
    }
    if (!unit_enabled()) return fifo_bits | iir_bits::no_interrupt;
    // The 16550's priorities: line status, received data / time-out, THR empty, modem status.
    const bool timeout_enabled = features_.unit_enable ? (ier_ & ier_bits::sleep) : (ier_ & ier_bits::rdi);
    const bool data_ready = fifo_mode() ? rx_fifo_.size() >= rx_trigger_level() : !rx_fifo_.empty();
    std::uint8_t id = iir_bits::no_interrupt;
    if ((ier_ & ier_bits::rlsi) && (overrun_ || shown_errors())) id = iir_bits::line_status;
    else if ((ier_ & ier_bits::rdi) && data_ready) id = iir_bits::rx_data;
    else if (timeout_enabled && timeout_pending_) id = iir_bits::rx_timeout;
    else if ((ier_ & ier_bits::thri) && thre_interrupt_) id = iir_bits::thr_empty;
    else if ((ier_ & ier_bits::msi) && msr_deltas_) id = iir_bits::modem_status;
    return static_cast<std::uint8_t>(fifo_bits | id);
}

void UartChip::after_iir_read(std::uint8_t value) {
    // Reading IIR while THR empty is the reported source clears that interrupt.
    if (!faults_.stuck_iir && (value & 0x0f) == iir_bits::thr_empty) {
        thre_interrupt_ = false;
        if (faults_.thre_not_reasserted) thre_needs_write_ = true;
    }
}

std::uint8_t UartChip::compute_lsr() const {
    std::uint8_t lsr = 0;
    if (!rx_fifo_.empty() || faults_.dr_stuck) lsr |= lsr_bits::dr;
    if (overrun_) lsr |= lsr_bits::oe;
    lsr |= shown_errors();
    if (tx_fifo_.empty()) {
        lsr |= lsr_bits::thre;
        if (!tsr_busy_) lsr |= lsr_bits::temt;
    }
    if (fifo_mode() && rx_error_entries_ > 0) lsr |= lsr_bits::fifo_error;
    return lsr;
}

void UartChip::after_lsr_read() {
    overrun_ = false;
    if (fifo_mode()) {
        if (!rx_fifo_.empty() && rx_fifo_.front().errors) {
            rx_fifo_.front().errors = 0;
            --rx_error_entries_;
        }
    } else {
        held_errors_ = 0;
    }
}

void UartChip::modem_inputs_changed() {
    std::uint8_t lines = 0;
    if (loopback()) {
        // Loopback wires RTS to CTS, DTR to DSR, OUT1 to RI and OUT2 to DCD.
        if (!faults_.loopback_broken) {
            if (mcr_ & mcr_bits::rts) lines |= msr_bits::cts;
            if (mcr_ & mcr_bits::dtr) lines |= msr_bits::dsr;
            if (mcr_ & mcr_bits::out1) lines |= msr_bits::ri;
            if (mcr_ & mcr_bits::out2) lines |= msr_bits::dcd;
        }
    } else {
        if (cts_in_) lines |= msr_bits::cts;
        if (dsr_in_) lines |= msr_bits::dsr;
        if (ri_in_) lines |= msr_bits::ri;
        if (dcd_in_) lines |= msr_bits::dcd;
    }
    const std::uint8_t changed = lines ^ msr_lines_;
    if (changed & msr_bits::cts) msr_deltas_ |= msr_bits::dcts;
    if (changed & msr_bits::dsr) msr_deltas_ |= msr_bits::ddsr;
    if (changed & msr_bits::dcd) msr_deltas_ |= msr_bits::ddcd;
    // TERI marks the end of a ring: RI going inactive.
    if ((changed & msr_bits::ri) && !(lines & msr_bits::ri)) msr_deltas_ |= msr_bits::teri;
    msr_lines_ = lines;
    start_transmitter();
}

void UartChip::set_modem_input(ModemSignal signal, bool asserted) {
    switch (signal) {
        case ModemSignal::cts: cts_in_ = asserted; break;
        case ModemSignal::dsr: dsr_in_ = asserted; break;
        case ModemSignal::ri: ri_in_ = asserted; break;
        case ModemSignal::dcd: dcd_in_ = asserted; break;
    }
    modem_inputs_changed();
    update_outputs();
}

bool UartChip::auto_cts() const {
    if (features_.mcr_auto_flow && (mcr_ & mcr_bits::afe)) return true;
    return features_.efr != EfrAccess::none && (efr_ & efr_bits::auto_cts);
}

bool UartChip::auto_rts() const {
    if (!(mcr_ & mcr_bits::rts)) return false;
    if (features_.mcr_auto_flow && (mcr_ & mcr_bits::afe)) return true;
    return features_.efr != EfrAccess::none && (efr_ & efr_bits::auto_rts);
}

bool UartChip::pending_interrupt() const {
    if (faults_.interrupt_output_dead) return false;
    if (faults_.stuck_iir) return true;
    return (compute_iir() & iir_bits::no_interrupt) == 0;
}

void UartChip::update_outputs() {
    const bool looping = loopback();
    const bool rts = !looping && (mcr_ & mcr_bits::rts) && !(auto_rts() && rts_held_);
    const bool dtr = !looping && (mcr_ & mcr_bits::dtr);
    if (rts != rts_out_) {
        rts_out_ = rts;
        if (line_) line_->line_rts(rts);
    }
    if (dtr != dtr_out_) {
        dtr_out_ = dtr;
        if (line_) line_->line_dtr(dtr);
    }
    const bool intr = pending_interrupt();
    const bool out1 = !looping && (mcr_ & mcr_bits::out1);
    const bool out2 = !looping && (mcr_ & mcr_bits::out2);
    if (intr != intr_out_ || out1 != out1_out_ || out2 != out2_out_) {
        intr_out_ = intr;
        out1_out_ = out1;
        out2_out_ = out2;
        if (listener_) listener_->uart_outputs_changed();
    }
}

void UartChip::attach_line(LineSink* sink) {
    line_ = sink;
    if (!line_) return;
    line_->line_rts(rts_out_);
    line_->line_dtr(dtr_out_);
    if (break_on_wire_ && !loopback()) line_->line_frame(make_break(to_picoseconds(events_.now())));
}

void UartChip::update_timing() {
    // Bit time = samples per bit x divisor / input clock, after the prescalers the part has.
    unsigned __int128 clock_num = clock_hz_;  // effective clock = clock_num / clock_den
    unsigned __int128 clock_den = 1;
    if (features_.natsemi_banks) {
        // EXCR2 PRESL: 00 divides the 24 MHz input by 13 (the PC clock), 01 by 1.625 (eight
        // times faster), 11 by 1. Modelled against the nominal clock so 01 is exactly 8x.
        switch ((ns_excr2_ >> 4) & 3u) {
            case 1: clock_num *= 8; break;
            case 3: clock_num *= 13; break;
            default: break;
        }
    }
    if (enhanced() && (mcr_ & mcr_bits::clock_div)) {
        if (features_.indexed_registers) {
            // 16C950: the prescaler divides by CPR / 8 (five integer and three fraction bits).
            const unsigned cpr = std::max<unsigned>(icr_[icr_index::cpr], 8);
            clock_num *= 8;
            clock_den *= cpr;
        } else if (features_.mcr_clock_divide) {
            clock_den *= 4;
        }
    }
    unsigned samples = 16;
    if (features_.indexed_registers) {
        const unsigned tcr = icr_[icr_index::tcr] & 0x0f;
        if (tcr >= 4) samples = tcr;  // 0 to 3 mean the usual 16
    }
    unsigned divisor = static_cast<unsigned>(dlm_) << 8 | dll_;
    if (features_.divisor_low_byte_bug && dll_ == 0 && dlm_ != 0) {
        // This revision miscounts when the low byte is 0; modelled as dropping the low byte.
        divisor = dlm_;
    }
    if (divisor == 0) divisor = 0x10000;
    const unsigned __int128 numerator =
        static_cast<unsigned __int128>(samples) * divisor * picoseconds_per_second * clock_den;
    bit_ps_ = static_cast<Picoseconds>((numerator + clock_num / 2) / clock_num);
    receiver_.set_format(line_format(), bit_ps_);
}

Duration UartChip::character_time() const {
    return ceil_to_time(line_format().frame_time(bit_ps_)).time_since_epoch();
}

bool UartChip::asleep() const {
    return features_.sleep && (ier_ & ier_bits::sleep) && !pending_interrupt() && tx_fifo_.empty() &&
           !tsr_busy_ && rx_fifo_.empty() && !receiver_.busy();
}

}  // namespace sim::hw
