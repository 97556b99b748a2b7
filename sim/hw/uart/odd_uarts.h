// Stand-ins for the chips that are not there or not right: an empty socket, and a scriptable
// fake that answers reads from a table, records writes and can be told to fail.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/hw/event_queue.h"
#include "sim/hw/uart/uart_registers.h"

namespace sim::hw {

// An empty socket on a board: the data bus floats high and nothing drives the interrupt.
class AbsentUart final : public UartRegisters {
public:
    std::uint8_t read(unsigned) override { return 0xff; }
    void write(unsigned, std::uint8_t) override {}
    std::string_view register_name(unsigned reg, bool is_write) const override {
        return plain_register_name(reg, is_write);
    }
    bool interrupt_output() const override { return false; }
    bool out1() const override { return false; }
    bool out2() const override { return false; }
    void set_output_listener(UartOutputListener*) override {}
};

// Answers reads of a register from a script: the answers are given in turn and the last one
// repeats. A script can be tied to an LCR value (the last one written to offset 3), which then
// takes precedence, so one bank can answer differently. Registers without a script answer from
// a backing chip if there is one (every write reaches it too), else with the default answer.
class ScriptedUart final : public UartRegisters {
public:
    struct Write {
        unsigned reg;
        std::uint8_t value;
        TimePoint time;
    };

    explicit ScriptedUart(EventQueue& events, UartRegisters* backing = nullptr);

    void script_reads(unsigned reg, std::vector<std::uint8_t> answers,
                      std::optional<std::uint8_t> when_lcr = std::nullopt);
    void set_default_read(std::uint8_t value) { default_read_ = value; }
    // A failed chip floats: reads 0xff, drops writes (still recorded) and drives no interrupt.
    void fail(bool failed);
    bool failed() const { return failed_; }
    // Pins as the board sees them, when there is no backing chip.
    void set_interrupt(bool asserted);
    void set_out_pins(bool out1, bool out2);

    std::span<const Write> writes() const { return writes_; }
    std::vector<std::uint8_t> writes_to(unsigned reg) const;
    std::size_t reads_of(unsigned reg) const { return reads_[reg & 7u]; }
    void clear_log();

    std::uint8_t read(unsigned reg) override;
    void write(unsigned reg, std::uint8_t value) override;
    std::string_view register_name(unsigned reg, bool is_write) const override;
    bool interrupt_output() const override;
    bool out1() const override;
    bool out2() const override;
    void set_output_listener(UartOutputListener* listener) override;

private:
    struct Script {
        std::vector<std::uint8_t> answers;
        std::size_t next = 0;
    };
    void changed();

    EventQueue& events_;
    UartRegisters* backing_;
    UartOutputListener* listener_ = nullptr;
    std::map<std::pair<unsigned, int>, Script> scripts_;  // (reg, lcr or -1)
    std::uint8_t default_read_ = 0x00;
    std::uint8_t lcr_ = 0;
    bool failed_ = false;
    bool interrupt_ = false, out1_ = false, out2_ = false;
    std::vector<Write> writes_;
    std::size_t reads_[8] = {};
};

}  // namespace sim::hw
