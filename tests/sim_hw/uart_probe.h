// Register-level probes of a chip model, the tests a type-detection routine makes, written
// against the datasheets so the presets can be checked without the driver.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "sim/hw/event_queue.h"
#include "sim/hw/uart/uart_registers.h"

namespace sim::hw::test {

class UartProbe {
public:
    UartProbe(EventQueue& events, UartRegisters& chip) : events_(events), chip_(chip) {}

    std::uint8_t in(unsigned reg) { return chip_.read(reg); }
    void out(unsigned reg, std::uint8_t value) { chip_.write(reg, value); }
    void wait(std::chrono::nanoseconds d) { events_.advance_to(events_.now() + d); }

    bool ier_reads_back() {
        const std::uint8_t saved = in(1);
        out(1, 0x00);
        const std::uint8_t a = in(1);
        out(1, 0x0f);
        const std::uint8_t b = in(1);
        out(1, saved);
        return a == 0x00 && b == 0x0f;
    }
    std::uint8_t loopback_msr() {
        const std::uint8_t saved = in(4);
        out(4, 0x1a);
        const std::uint8_t msr = in(6);
        out(4, saved);
        return msr & 0xf0;
    }
    // IIR bits 7-6 after clearing a possible EFR and enabling the FIFO.
    unsigned fifo_bits() {
        out(3, 0xbf);
        out(2, 0x00);
        out(3, 0x00);
        out(2, 0x01);
        return in(2) >> 6;
    }
    bool scratch_holds() {
        const std::uint8_t saved = in(7);
        out(7, 0xa5);
        const std::uint8_t a = in(7);
        out(7, 0x5a);
        const std::uint8_t b = in(7);
        out(7, saved);
        return a == 0xa5 && b == 0x5a;
    }
    // Register 2 under LCR 0x80; when it reads 0, whether 0xA8 then sticks.
    struct DlabEfr {
        std::uint8_t first;
        bool holds_a8;
    };
    DlabEfr register2_under_dlab() {
        out(3, 0x80);
        DlabEfr r{in(2), false};
        if (r.first == 0) {
            out(2, 0xa8);
            r.holds_a8 = in(2) != 0;
            out(2, 0x00);
        }
        out(3, 0x00);
        return r;
    }
    std::uint8_t register2_under_bf() {
        out(3, 0xbf);
        const std::uint8_t v = in(2);
        out(3, 0x00);
        return v;
    }
    std::uint16_t divisor_id() {
        const std::uint8_t lcr = in(3);
        out(3, 0x80);
        const std::uint8_t dll = in(0), dlm = in(1);
        out(0, 0);
        out(1, 0);
        const std::uint8_t low = in(0), high = in(1);
        out(0, dll);
        out(1, dlm);
        out(3, lcr);
        return static_cast<std::uint16_t>(high << 8 | low);
    }
    // Loops 256 bytes back at the clock's top rate and counts what the receiver kept.
    unsigned fifo_size() {
        const std::uint8_t lcr = in(3);
        out(3, 0x00);
        const std::uint8_t iir = in(2), mcr = in(4);
        out(2, 0x07);
        out(4, 0x10);
        out(3, 0x80);
        const std::uint8_t dll = in(0), dlm = in(1);
        out(0, 0x01);
        out(1, 0x00);
        out(3, 0x03);
        for (unsigned i = 0; i < 256; ++i) out(0, static_cast<std::uint8_t>(i));
        wait(std::chrono::milliseconds(20));
        unsigned count = 0;
        while ((in(5) & 0x01) && count < 256) {
            in(0);
            ++count;
        }
        out(2, iir);
        out(4, mcr);
        out(3, 0x80);
        out(0, dll);
        out(1, dlm);
        out(3, lcr);
        return count;
    }
    // Bank-2 register 2 bit 4 equals MCR bit 4 and follows it when MCR bit 4 flips.
    bool ns_bank2_mirror() {
        out(3, 0x00);
        const std::uint8_t m = in(4);
        out(3, 0xe0);
        std::uint8_t x = in(2);
        if (((m ^ x) & 0x10) != 0) {
            out(3, 0x00);
            return false;
        }
        out(3, 0x00);
        out(4, m ^ 0x10);
        out(3, 0xe0);
        x = in(2);
        out(3, 0x00);
        out(4, m);
        return ((m ^ x) & 0x10) != 0;
    }
    // IIR >> 5 after FCR 0x21 with LCR 0x00, and with LCR 0x80.
    std::pair<unsigned, unsigned> wide_fifo_iir() {
        out(3, 0x00);
        out(2, 0x21);
        const unsigned a = in(2) >> 5;
        out(2, 0x01);
        out(3, 0x80);
        out(2, 0x21);
        const unsigned b = in(2) >> 5;
        out(2, 0x01);
        out(3, 0x00);
        return {a, b};
    }
    // IER bit 0x40 can be cleared and then set.
    bool ier_bit6_settable() {
        const std::uint8_t s = in(1);
        out(1, s & ~0x40);
        if (in(1) & 0x40) {
            out(1, s);
            return false;
        }
        out(1, s | 0x40);
        const bool settable = in(1) & 0x40;
        if (!settable) out(1, s);
        return settable;
    }
    std::uint8_t icr_read(std::uint8_t index, std::uint8_t acr = 0) {
        out(7, 0x00);
        out(5, acr | 0x40);
        out(7, index);
        const std::uint8_t v = in(5);
        out(7, 0x00);
        out(5, acr);
        return v;
    }
    void enable_enhanced() {
        out(3, 0xbf);
        out(2, 0x10);
        out(3, 0x00);
    }

    // The type the detection table gives for what this chip shows, tested in the table's order.
    std::optional<unsigned> classify() {
        if (!ier_reads_back() || loopback_msr() != 0x90) return std::nullopt;
        switch (fifo_bits()) {
            case 0: return scratch_holds() ? 2u : 1u;
            case 1: return 0u;
            case 2: return 3u;
            default: break;
        }
        const DlabEfr dlab = register2_under_dlab();
        if (dlab.first == 0) return dlab.holds_a8 ? 6u : 4u;
        bool efr = register2_under_bf() == 0;
        if (efr && divisor_id() == 0x0201 && fifo_size() == 16) efr = false;
        if (!efr) {
            if (ns_bank2_mirror()) return 14u;
            if (wide_fifo_iir() == std::pair<unsigned, unsigned>{6, 7}) return 8u;
            if (ier_bit6_settable()) return 15u;
            return 4u;
        }
        enable_enhanced();
        const std::uint8_t id1 = icr_read(8), id2 = icr_read(9), id3 = icr_read(10);
        if (id1 == 0x16 && id2 == 0xc9 && (id3 == 0x50 || id3 == 0x52 || id3 == 0x54)) return 10u;
        const unsigned high = divisor_id() >> 8;
        if (high == 0x10 || high == 0x12 || high == 0x14) return 12u;
        return fifo_size() == 64 ? 11u : 7u;
    }

private:
    EventQueue& events_;
    UartRegisters& chip_;
};

}  // namespace sim::hw::test
