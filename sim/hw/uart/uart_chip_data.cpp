// The data path: transmit holding register or FIFO into the shift register and onto the wire,
// and the wire through the receiver into the receive FIFO with its errors and time-out.
#include "sim/hw/uart/uart_chip.h"

#include <algorithm>

namespace sim::hw {

void UartChip::emit(const LineFrame& frame) {
    if (loopback()) {
        // In loopback the serial output idles at mark and the shift register feeds the receiver.
        if (!faults_.loopback_broken) receiver_.frame_arrived(frame);
    } else if (line_) {
        line_->line_frame(frame);
    }
}

void UartChip::receive_frame(const LineFrame& frame) {
    // The receiver input is disconnected from the pin while in loopback.
    if (!loopback()) receiver_.frame_arrived(frame);
}

// ---- transmit ----

void UartChip::write_thr(std::uint8_t value) {
    thre_interrupt_ = false;
    thre_needs_write_ = false;
    if (fifo_mode()) {
        // A write to a full transmit FIFO is lost.
        if (tx_fifo_.size() < fifo_depth()) tx_fifo_.push(value);
    } else if (tx_fifo_.empty()) {
        tx_fifo_.push(value);
    } else {
        tx_fifo_.back() = value;  // THR still full: the new byte replaces the old
    }
    start_transmitter();
}

bool UartChip::transmitter_held() const {
    if (!unit_enabled()) return true;
    if (features_.indexed_registers && (icr_[icr_index::acr] & acr_bits::tx_disable)) return true;
    return auto_cts() && !(msr_lines_ & msr_bits::cts);
}

void UartChip::start_transmitter() {
    if (tsr_busy_ || tx_fifo_.empty() || transmitter_held()) return;
    const std::uint8_t byte = tx_fifo_.pop();
    tsr_busy_ = true;
    const LineFrame frame = make_frame(byte, line_format(), bit_ps_, to_picoseconds(events_.now()));
    // With break set the output is held at space; the shift register still runs.
    if (!break_active()) emit(frame);
    tx_event_ = events_.schedule_at(ceil_to_time(frame.end()), [this] { transmit_done(); });
    if (tx_fifo_.empty()) tx_became_empty();
}

void UartChip::tx_became_empty() { thre_interrupt_ = true; }

void UartChip::transmit_done() {
    tx_event_ = EventId::none;
    tsr_busy_ = false;
    start_transmitter();
    update_outputs();
}

void UartChip::clear_tx() {
    if (tx_fifo_.empty()) return;
    tx_fifo_.clear();
    tx_became_empty();
}

// ---- receive ----

void UartChip::character_received(const ReceivedCharacter& c) {
    if (!unit_enabled()) return;
    if (features_.indexed_registers && (icr_[icr_index::acr] & acr_bits::rx_disable)) return;
    std::uint8_t errors = 0;
    if (c.parity_error) errors |= lsr_bits::pe;
    if (c.framing_error) errors |= lsr_bits::fe;
    if (c.break_condition) errors |= lsr_bits::bi;  // one 0 character for the whole break
    const std::uint8_t data = c.break_condition ? 0 : c.data;
    last_rx_activity_ = events_.now();
    if (fifo_mode()) {
        // A full FIFO keeps its contents; the character in the shift register is lost.
        if (rx_fifo_.size() >= fifo_depth()) {
            overrun_ = true;
        } else {
            rx_fifo_.push(RxEntry{data, errors});
            if (errors) ++rx_error_entries_;
        }
    } else {
        if (!rx_fifo_.empty()) {
            overrun_ = true;  // RBR still full: the new character overwrites it
            rx_fifo_.front() = RxEntry{data, 0};
        } else {
            rx_fifo_.push(RxEntry{data, 0});
        }
        held_errors_ |= errors;
    }
    rx_fifo_changed();
    arm_timeout();
    update_outputs();
}

void UartChip::after_rbr_read() {
    if (rx_fifo_.empty()) return;
    const RxEntry entry = rx_fifo_.pop();
    if (entry.errors) --rx_error_entries_;
    last_rbr_ = entry.data;
    timeout_pending_ = false;
    last_rx_activity_ = events_.now();
    rx_fifo_changed();
    arm_timeout();
}

void UartChip::clear_rx() {
    rx_fifo_.clear();
    rx_error_entries_ = 0;
    timeout_pending_ = false;
    rx_fifo_changed();
}

void UartChip::rx_fifo_changed() {
    // Automatic RTS: drop RTS when the FIFO reaches its trigger level, raise it again once the
    // FIFO has been emptied (TI16750) or has fallen below the trigger (EFR parts).
    const std::size_t level = rx_fifo_.size();
    const unsigned trigger = rx_trigger_level();
    if (level >= trigger && fifo_mode()) {
        rts_held_ = true;
    } else if (rts_held_) {
        const bool ti_style = features_.mcr_auto_flow && (mcr_ & mcr_bits::afe);
        if (ti_style ? level == 0 : level < trigger) rts_held_ = false;
    }
}

void UartChip::arm_timeout() {
    // The character time-out needs only one pending check: the check re-arms itself for the
    // latest activity, so a steady stream costs one event per four character times.
    if (!fifo_mode() || rx_fifo_.empty() || timeout_pending_ || timeout_event_ != EventId::none) return;
    const TimePoint when = std::max(last_rx_activity_ + 4 * character_time(), events_.now());
    timeout_event_ = events_.schedule_at(when, [this] { timeout_check(); });
}

void UartChip::timeout_check() {
    timeout_event_ = EventId::none;
    if (!fifo_mode() || rx_fifo_.empty() || timeout_pending_) return;
    const TimePoint deadline = last_rx_activity_ + 4 * character_time();
    if (events_.now() < deadline) {
        timeout_event_ = events_.schedule_at(deadline, [this] { timeout_check(); });
        return;
    }
    timeout_pending_ = true;
    update_outputs();
}

}  // namespace sim::hw
