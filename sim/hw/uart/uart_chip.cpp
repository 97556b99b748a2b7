// Construction, reset and the register file with its banks.
#include "sim/hw/uart/uart_chip.h"

#include <algorithm>

#include "sim/hw/logging.h"

namespace sim::hw {

namespace {

// Power-on divisor: datasheets leave the latch undefined; 12 (9600 bit/s from 1.8432 MHz) is
// what a PC's firmware leaves behind, and keeps an unprogrammed chip from crawling.
constexpr std::uint8_t reset_divisor_low = 12;
constexpr std::uint8_t cpr_reset = 0x20;  // 16C950 prescaler 4.0

}  // namespace

UartChip::UartChip(EventQueue& events, const UartFeatures& features)
    : events_(events),
      features_(features),
      clock_hz_(features.clock_hz),
      receiver_(events, [this](const ReceivedCharacter& c) { character_received(c); }) {
    resize_fifos();
    registers_to_reset_values();
    modem_inputs_changed();
    msr_deltas_ = 0;
    update_timing();
    update_outputs();
}

UartChip::UartChip(EventQueue& events, UartModel model) : UartChip(events, uart_preset(model).features) {}

UartChip::~UartChip() {
    if (tx_event_ != EventId::none) events_.cancel(tx_event_);
    if (timeout_event_ != EventId::none) events_.cancel(timeout_event_);
}

void UartChip::resize_fifos() {
    const std::size_t capacity = std::max({features_.fifo_depth, features_.wide_fifo_depth,
                                           features_.enhanced_fifo_depth, fifo_override_, 1u});
    rx_fifo_.set_capacity(capacity);
    tx_fifo_.set_capacity(capacity);
    rx_error_entries_ = 0;
    timeout_pending_ = false;
}

void UartChip::registers_to_reset_values() {
    ier_ = 0;
    lcr_ = 0;
    lcr_written_ = 0;
    mcr_ = 0;
    scr_ = 0;
    dll_ = reset_divisor_low;
    dlm_ = 0;
    efr_ = 0;
    fcr_trigger_ = 0;
    fifo_enabled_ = false;
    wide_mode_ = false;
    flow_chars_ = {};
    ns_excr1_ = 0;
    ns_excr2_ = 0;
    xr_fctr_ = 0;
    xr_rx_trigger_ = 0;
    xr_tx_trigger_ = 0;
    const std::uint8_t cks = icr_[icr_index::cks];
    icr_ = {};
    icr_[icr_index::cpr] = cpr_reset;
    icr_[icr_index::cks] = cks;  // the channel reset spares the clock selection
    last_rbr_ = 0;
    held_errors_ = 0;
    overrun_ = false;
    thre_interrupt_ = false;
    thre_needs_write_ = false;
    rts_held_ = false;
}

void UartChip::reset() {
    if (tx_event_ != EventId::none) events_.cancel(tx_event_);
    if (timeout_event_ != EventId::none) events_.cancel(timeout_event_);
    tx_event_ = EventId::none;
    timeout_event_ = EventId::none;
    tsr_busy_ = false;
    const bool was_break = break_active();
    registers_to_reset_values();
    rx_fifo_.clear();
    tx_fifo_.clear();
    rx_error_entries_ = 0;
    timeout_pending_ = false;
    receiver_.switch_source();
    if (was_break) emit(make_mark(to_picoseconds(events_.now())));
    modem_inputs_changed();
    msr_deltas_ = 0;
    update_timing();
    update_outputs();
}

void UartChip::set_input_clock(std::uint32_t hz) {
    if (hz == 0) fatal("a UART input clock of 0 Hz");
    clock_hz_ = hz;
    update_timing();
}

void UartChip::set_fifo_depth_override(unsigned depth) {
    fifo_override_ = depth;
    const bool had_tx = !tx_fifo_.empty();
    resize_fifos();
    if (had_tx) tx_became_empty();
    update_outputs();
}

void UartChip::clear_fifos() {
    clear_rx();
    clear_tx();
    update_outputs();
}

void UartChip::set_faults(const UartFaults& faults) {
    faults_ = faults;
    modem_inputs_changed();
    update_outputs();
}

std::uint8_t UartChip::icr(std::uint8_t index) const {
    if (index >= icr_index::id1 && index <= icr_index::rev) return features_.ids[index - icr_index::id1];
    if (index == icr_index::csr || index >= icr_index::count) return 0;
    return icr_[index];
}

bool UartChip::icr_read_enabled() const {
    return features_.indexed_registers && (icr_[icr_index::acr] & acr_bits::icr_read);
}

UartChip::Target UartChip::decode(unsigned reg, bool is_write) const {
    const std::uint8_t l = lcr_written_;
    const bool dlab = l & lcr_bits::dlab;
    const bool bf = l == lcr_bits::efr_bank && features_.efr == EfrAccess::bank_bf;
    const bool xr = bf && features_.xr_trigger_registers;
    const bool ns2 = features_.natsemi_banks && l == lcr_bits::ns_bank2;
    const bool ns3 = features_.natsemi_banks && l == lcr_bits::ns_bank3;
    switch (reg & 7u) {
        case 0:
            if (xr) return is_write ? Target::trg : Target::fc;
            if (ns3) return Target::reserved;
            if (dlab) return Target::dll;
            return is_write ? Target::thr : Target::rbr;
        case 1:
            if (xr) return Target::fctr;
            if (ns3) return Target::reserved;
            if (dlab) return Target::dlm;
            return Target::ier;
        case 2:
            if (bf || (features_.efr == EfrAccess::under_dlab && dlab)) return Target::efr;
            if (ns2) return Target::excr1;
            if (ns3) return Target::reserved;
            if (!is_write && l == lcr_bits::efr_bank && features_.bank_bf_register2_reads_zero) {
                return Target::iir_zero;
            }
            return is_write ? Target::fcr : Target::iir;
        case 3:
            return Target::lcr;
        case 4:
            if (bf) return Target::xon1;
            if (ns2) return Target::excr2;
            if (ns3) return Target::reserved;
            return Target::mcr;
        case 5:
            if (bf) return Target::xon2;
            if (ns2 || ns3) return Target::reserved;
            if (features_.indexed_registers && (is_write || icr_read_enabled())) return Target::icr;
            return Target::lsr;
        case 6:
            if (bf) return Target::xoff1;
            if (ns2) return Target::txflv;
            if (ns3) return Target::reserved;
            return Target::msr;
        default:
            if (bf) return Target::xoff2;
            if (ns2) return Target::rxflv;
            if (ns3) return Target::reserved;
            return Target::scr;
    }
}

std::string_view UartChip::register_name(unsigned reg, bool is_write) const {
    switch (decode(reg, is_write)) {
        case Target::rbr: return "RBR";
        case Target::thr: return "THR";
        case Target::dll: return "DLL";
        case Target::dlm: return "DLM";
        case Target::ier: return "IER";
        case Target::iir:
        case Target::iir_zero: return "IIR";
        case Target::fcr: return "FCR";
        case Target::efr: return "EFR";
        case Target::lcr: return "LCR";
        case Target::mcr: return "MCR";
        case Target::lsr: return "LSR";
        case Target::msr: return "MSR";
        case Target::scr: return "SCR";
        case Target::icr: return "ICR";
        case Target::xon1: return "XON1";
        case Target::xon2: return "XON2";
        case Target::xoff1: return "XOFF1";
        case Target::xoff2: return "XOFF2";
        case Target::trg: return "TRG";
        case Target::fc: return "FC";
        case Target::fctr: return "FCTR";
        case Target::excr1: return "EXCR1";
        case Target::excr2: return "EXCR2";
        case Target::txflv: return "TXFLV";
        case Target::rxflv: return "RXFLV";
        case Target::reserved: return "RES";
    }
    return "RES";
}

std::uint8_t UartChip::read_divisor_byte(bool high) const {
    // Parts with a divisor identification answer with it while the latch holds zero.
    if (features_.divisor_id && dll_ == 0 && dlm_ == 0) {
        return static_cast<std::uint8_t>(high ? *features_.divisor_id >> 8 : *features_.divisor_id);
    }
    return high ? dlm_ : dll_;
}

std::uint8_t UartChip::value_of(Target target) const {
    switch (target) {
        case Target::rbr: return rx_fifo_.empty() ? last_rbr_ : rx_fifo_.front().data;
        case Target::dll: return read_divisor_byte(false);
        case Target::dlm: return read_divisor_byte(true);
        case Target::ier: return faults_.ier_reads_zero ? 0 : ier_;
        case Target::iir: return compute_iir();
        case Target::efr: return efr_;
        case Target::lcr: return lcr_written_;
        case Target::mcr: return mcr_;
        case Target::lsr: return compute_lsr();
        case Target::msr: return static_cast<std::uint8_t>(msr_lines_ | msr_deltas_);
        case Target::scr: return features_.scratch ? scr_ : 0xff;
        case Target::icr: return icr(scr_);
        case Target::xon1: return flow_chars_[0];
        case Target::xon2: return flow_chars_[1];
        case Target::xoff1: return flow_chars_[2];
        case Target::xoff2: return flow_chars_[3];
        case Target::fc: {
            const std::size_t level = (xr_fctr_ & 0x80) ? tx_fifo_.size() : rx_fifo_.size();
            return static_cast<std::uint8_t>(std::min<std::size_t>(level, 0xff));
        }
        case Target::fctr: return xr_fctr_;
        case Target::excr1: return static_cast<std::uint8_t>((ns_excr1_ & ~mcr_bits::loop) | (mcr_ & mcr_bits::loop));
        case Target::excr2: return ns_excr2_;
        case Target::txflv: return static_cast<std::uint8_t>(std::min<std::size_t>(tx_fifo_.size(), 0xff));
        case Target::rxflv: return static_cast<std::uint8_t>(std::min<std::size_t>(rx_fifo_.size(), 0xff));
        case Target::iir_zero:
        case Target::reserved:
        case Target::thr:
        case Target::fcr:
        case Target::trg: return 0;
    }
    return 0;
}

std::uint8_t UartChip::peek(unsigned reg) const { return value_of(decode(reg, false)); }

std::uint8_t UartChip::read(unsigned reg) {
    const Target target = decode(reg, false);
    const std::uint8_t value = value_of(target);
    switch (target) {
        case Target::rbr: after_rbr_read(); break;
        case Target::iir: after_iir_read(value); break;
        case Target::lsr: after_lsr_read(); break;
        case Target::msr: msr_deltas_ = 0; break;
        default: break;
    }
    update_outputs();
    return value;
}

void UartChip::write(unsigned reg, std::uint8_t value) {
    write_target(decode(reg, true), value);
    update_outputs();
}

void UartChip::write_target(Target target, std::uint8_t value) {
    switch (target) {
        case Target::thr: write_thr(value); break;
        case Target::dll: dll_ = value; update_timing(); break;
        case Target::dlm: dlm_ = value; update_timing(); break;
        case Target::ier: write_ier(value); break;
        case Target::fcr: write_fcr(value); break;
        case Target::efr: write_efr(value); break;
        case Target::lcr: write_lcr(value); break;
        case Target::mcr: write_mcr(value); break;
        case Target::scr: scr_ = value; break;
        case Target::icr: write_icr(scr_, value); break;
        case Target::xon1: flow_chars_[0] = value; break;
        case Target::xon2: flow_chars_[1] = value; break;
        case Target::xoff1: flow_chars_[2] = value; break;
        case Target::xoff2: flow_chars_[3] = value; break;
        case Target::trg: ((xr_fctr_ & 0x80) ? xr_tx_trigger_ : xr_rx_trigger_) = value; break;
        case Target::fctr: xr_fctr_ = value; break;
        case Target::excr1:
            // EXCR1 bit 4 is the same latch as MCR bit 4 (loopback).
            ns_excr1_ = static_cast<std::uint8_t>(value & ~mcr_bits::loop);
            write_mcr(static_cast<std::uint8_t>((mcr_ & ~mcr_bits::loop) | (value & mcr_bits::loop)));
            break;
        case Target::excr2: ns_excr2_ = value; update_timing(); break;
        // Read-only or unmodelled: the write goes nowhere, as on the chip.
        case Target::rbr:
        case Target::iir:
        case Target::iir_zero:
        case Target::lsr:
        case Target::msr:
        case Target::fc:
        case Target::txflv:
        case Target::rxflv:
        case Target::reserved: break;
    }
}

void UartChip::write_ier(std::uint8_t value) {
    std::uint8_t writable = features_.ier_mask;
    if (!enhanced()) writable = static_cast<std::uint8_t>(writable & ~features_.ier_enhanced_bits);
    const auto updated = static_cast<std::uint8_t>((ier_ & ~writable & features_.ier_mask) | (value & writable));
    const bool thri_rises = !(ier_ & ier_bits::thri) && (updated & ier_bits::thri);
    const bool unit_was_enabled = unit_enabled();
    ier_ = updated;
    // Enabling the transmit interrupt while THR is empty raises it at once (16550 datasheet).
    if (thri_rises && tx_fifo_.empty() && !faults_.thre_silent_on_enable && !thre_needs_write_) {
        thre_interrupt_ = true;
    }
    if (unit_enabled() && !unit_was_enabled) start_transmitter();
}

void UartChip::write_fcr(std::uint8_t value) {
    if (features_.fifo == FifoKind::none) return;
    const bool dlab = lcr_written_ & lcr_bits::dlab;
    if (dlab && features_.wide_fifo_depth) {
        const bool wide = value & fcr_bits::wide;
        if (wide != wide_mode_) {
            wide_mode_ = wide;
            clear_rx();
            clear_tx();
        }
    }
    const bool enable = value & fcr_bits::enable;
    if (enable != fifo_enabled_) {
        // Changing FCR bit 0 empties both FIFOs.
        fifo_enabled_ = enable;
        clear_rx();
        clear_tx();
    }
    if (!enable) return;  // the other bits are only taken with bit 0 set
    if (value & fcr_bits::clear_rx) clear_rx();
    if (value & fcr_bits::clear_tx) clear_tx();
    fcr_trigger_ = static_cast<std::uint8_t>(value >> fcr_bits::trigger_shift);
    rx_fifo_changed();
}

void UartChip::write_efr(std::uint8_t value) {
    const unsigned depth_before = fifo_depth();
    efr_ = value;
    if (fifo_depth() != depth_before) {
        clear_rx();
        clear_tx();
    }
    update_timing();
    rx_fifo_changed();
    start_transmitter();
}

void UartChip::write_lcr(std::uint8_t value) {
    const bool break_before = break_active();
    lcr_written_ = value;
    if (features_.natsemi_banks && (value == lcr_bits::ns_bank2 || value == lcr_bits::ns_bank3)) {
        // Selecting bank 2 or 3 writes the bank select register only; the framing stays.
        lcr_ = static_cast<std::uint8_t>(lcr_ | lcr_bits::dlab);
    } else {
        lcr_ = value;
    }
    update_timing();
    if (break_active() != break_before) {
        const Picoseconds now = to_picoseconds(events_.now());
        emit(break_active() ? make_break(now) : make_mark(now));
        break_on_wire_ = break_active();
    }
}

void UartChip::write_mcr(std::uint8_t value) {
    std::uint8_t writable = features_.mcr_mask;
    if (!enhanced()) writable = static_cast<std::uint8_t>(writable & ~features_.mcr_enhanced_bits);
    const auto updated = static_cast<std::uint8_t>((mcr_ & ~writable & features_.mcr_mask) | (value & writable));
    const bool loop_changed = (updated ^ mcr_) & mcr_bits::loop;
    mcr_ = updated;
    if (loop_changed) receiver_.switch_source();
    modem_inputs_changed();
    update_timing();
    rx_fifo_changed();
    start_transmitter();
}

void UartChip::write_icr(std::uint8_t index, std::uint8_t value) {
    if (index >= icr_index::count) return;
    if (index >= icr_index::id1 && index <= icr_index::rev) return;  // read-only
    if (index == icr_index::csr) {
        // Writing 0 to CSR resets the channel (everything but the clock selection).
        if (value == 0) reset();
        return;
    }
    icr_[index] = value;
    if (index == icr_index::acr) {
        rx_fifo_changed();
        start_transmitter();
    }
    if (index == icr_index::cpr || index == icr_index::tcr || index == icr_index::cks) update_timing();
}

}  // namespace sim::hw
