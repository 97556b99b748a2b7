// Boards around the chips: address decoding, interrupt gating and wiring, and the stand-ins
// for missing or odd chips, checked on the bus by register name.
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/hw/board/four_port_board.h"
#include "sim/hw/board/hub6_board.h"
#include "sim/hw/board/mmio_board.h"
#include "sim/hw/board/pc_card.h"
#include "sim/hw/board/rsa_board.h"
#include "sim/hw/bus.h"
#include "sim/hw/logging.h"
#include "sim/hw/uart/odd_uarts.h"
#include "sim/hw/uart/uart_chip.h"
#include "tests/sim_hw/sim_fixture.h"
#include "tests/sim_hw/uart_probe.h"

namespace sim::hw {
namespace {

using namespace test;

class Boards : public ::testing::Test {
protected:
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const BusAccess& a : bus.trace()) out.emplace_back(a.register_name);
        return out;
    }
    // Raise the chip's THR-empty interrupt.
    static void raise_interrupt(UartRegisters& chip) {
        chip.write(1, 0x00);
        chip.write(1, 0x02);
    }

    EventQueue events;
    Bus bus{events};
    InterruptController irqs;
};

TEST_F(Boards, PcCardRoutesPortsAndTracesRegisterNames) {
    UartChip chip(events, UartModel::st16c650v2);
    PcSerialCard card(bus, irqs, chip, 0x3f8, InterruptWiring::edge(4));
    bus.set_tracing(true);
    bus.outb(0x3fb, 0xbf);
    bus.outb(0x3fa, 0x10);
    bus.outb(0x3fb, 0x80);
    bus.outb(0x3f8, 0x0c);
    bus.outb(0x3fb, 0x03);
    bus.inb(0x3fa);
    EXPECT_EQ(names(), (std::vector<std::string>{"LCR", "EFR", "LCR", "DLL", "LCR", "IIR"}));
    EXPECT_EQ(bus.trace()[1].device, "serial");
    EXPECT_EQ(chip.efr(), 0x10);
    EXPECT_EQ(chip.divisor(), 0x0c);
}

TEST_F(Boards, PcCardGatesTheInterruptWithOut2) {
    UartChip chip(events, UartModel::ns16550a);
    PcSerialCard card(bus, irqs, chip, 0x2f8, InterruptWiring::edge(3));
    const InterruptLine line3{3};
    raise_interrupt(chip);
    EXPECT_TRUE(chip.interrupt_output());
    EXPECT_FALSE(irqs.level(line3)) << "OUT2 clear: the buffer is off";
    bus.outb(0x2fc, 0x08);
    EXPECT_TRUE(irqs.pending(line3));
    irqs.acknowledge(line3);
    bus.outb(0x2fc, 0x18);
    EXPECT_FALSE(irqs.level(line3)) << "loopback holds OUT2 inactive, so the line drops";
    bus.outb(0x2fc, 0x08);
    EXPECT_TRUE(irqs.pending(line3)) << "a new edge";
    bus.inb(0x2fa);  // IIR read clears THR empty
    EXPECT_FALSE(irqs.level(line3));
}

TEST_F(Boards, InterruptWiringLevelEdgeOrNone) {
    UartChip a(events, UartModel::ns16550a), b(events, UartModel::ns16550a);
    PcSerialCard level_card(bus, irqs, a, 0x100, InterruptWiring::level(9), "level");
    PcSerialCard no_line(bus, irqs, b, 0x108, InterruptWiring::none(), "none");
    EXPECT_EQ(irqs.trigger(InterruptLine{9}), Trigger::level);
    for (std::uint16_t base : {0x100, 0x108}) {
        bus.outb(static_cast<std::uint16_t>(base + 4), 0x08);
        bus.outb(static_cast<std::uint16_t>(base + 1), 0x02);
    }
    EXPECT_TRUE(irqs.pending(InterruptLine{9}));
    irqs.acknowledge(InterruptLine{9});
    EXPECT_TRUE(irqs.pending(InterruptLine{9})) << "a level line stays pending while driven";
    EXPECT_TRUE(no_line.interrupt_asserted());
    EXPECT_EQ(irqs.lowest_pending(), InterruptLine{9}) << "the unwired card drives nothing";
    EXPECT_THROW(PcSerialCard(bus, irqs, b, 0x104, InterruptWiring::edge(4), "overlap"), ConfigurationError);
    EXPECT_THROW(PcSerialCard(bus, irqs, b, 0x200, InterruptWiring::edge(5000), "bad line"), ConfigurationError);
}

TEST_F(Boards, RsaBoardModeRegisterSwitchesClockAndFifos) {
    UartChip chip(events, UartModel::rsa_16550a);
    RsaBoard board(bus, irqs, chip, 0x300, InterruptWiring::edge(5));
    program_line(chip, 8, 0x03);
    const Picoseconds slow_bit = chip.bit_time();
    chip.write(2, 0x01);
    EXPECT_EQ(chip.fifo_depth(), 16u);
    bus.set_tracing(true);
    const std::uint8_t mode = bus.inb(0x2f8);
    bus.outb(0x2f8, mode | 0x04);
    EXPECT_EQ(bus.inb(0x2f8) & 0x04, 0x04);
    EXPECT_EQ(names(), (std::vector<std::string>{"RSA_MSR", "RSA_MSR", "RSA_MSR"}));
    EXPECT_EQ(chip.input_clock(), 14'745'600u);
    EXPECT_NEAR(static_cast<double>(chip.bit_time() * 8), static_cast<double>(slow_bit), 8.0);
    chip.write(2, 0x01);
    EXPECT_EQ(chip.fifo_depth(), 2048u);
    for (int i = 0; i < 100; ++i) chip.write(0, static_cast<std::uint8_t>(i));
    EXPECT_EQ(chip.tx_level(), 99u) << "far more than a 16550A holds";
    bus.outb(0x2fa, 0x00);  // FIFO reset
    EXPECT_EQ(chip.tx_level(), 0u);
    bus.outb(0x2f8, 0x00);
    EXPECT_EQ(chip.input_clock(), 1'843'200u);
    EXPECT_EQ(bus.inb(0x300 + 3), 0x03) << "the UART sits at the base";
}

TEST_F(Boards, RsaBoardWithoutFifoOptionRefusesTheModeBit) {
    UartChip chip(events, UartModel::rsa_16550a);
    RsaBoard board(bus, irqs, chip, 0x300, InterruptWiring::edge(5));
    board.set_fifo_option(false);
    bus.outb(0x2f8, 0x04);
    EXPECT_EQ(bus.inb(0x2f8) & 0x04, 0x00);
    EXPECT_EQ(chip.input_clock(), 1'843'200u);
}

TEST_F(Boards, FourPortBoardRegisterAndOut1Gating) {
    UartChip c0(events, UartModel::ns16550a), c1(events, UartModel::ns16550a), c2(events, UartModel::ns16550a);
    AbsentUart empty;
    FourPortBoard board(bus, irqs, {&c0, &c1, &c2, &empty}, 0x1a0, InterruptWiring::edge(5));
    const std::uint16_t icp = (0x1a8 & 0xfe0) | 0x1f;
    EXPECT_EQ(icp, 0x1bf);
    bus.set_tracing(true);
    bus.inb(icp);
    bus.inb(0x1ab);
    EXPECT_EQ(names(), (std::vector<std::string>{"FOURPORT_IRQ", "LCR"}));
    bus.outb(0x1a8 + 1, 0x02);
    EXPECT_EQ(bus.inb(icp), 0x02) << "port 1 requests; the board output is still disabled";
    EXPECT_FALSE(irqs.level(InterruptLine{5}));
    bus.outb(icp, 0x80);
    EXPECT_TRUE(irqs.pending(InterruptLine{5}));
    bus.outb(0x1a8 + 4, 0x04);  // OUT1 on port 1 turns its interrupt off
    EXPECT_FALSE(irqs.level(InterruptLine{5}));
    EXPECT_EQ(bus.inb(icp), 0x80);
    bus.outb(0x1a8 + 4, 0x03);
    EXPECT_TRUE(irqs.level(InterruptLine{5})) << "DTR and RTS only, as the interrupt probe sets them";
    EXPECT_EQ(bus.inb(0x1b8 + 5), 0xff) << "the empty socket floats";
    EXPECT_THROW(FourPortBoard(bus, irqs, {&c0, &c1, &c2, &empty}, 0x2a8, InterruptWiring::edge(5)),
                 ConfigurationError);
}

TEST_F(Boards, Hub6IndexSelectsPortAndRegister) {
    UartChip c0(events, UartModel::ns16550a), c1(events, UartModel::ns16550a);
    std::array<UartRegisters*, 2> chips{&c0, &c1};
    Hub6Board board(bus, irqs, chips, 0x302, InterruptWiring::edge(3));
    // The port's index value minus one, plus the register, as the driver writes it.
    const std::uint8_t port1 = (0 << 6) | (1 << 3);
    bus.set_tracing(true);
    bus.outb(0x302, port1 + 3);
    bus.outb(0x303, 0x1b);
    bus.outb(0x302, port1 + 5);
    bus.inb(0x303);
    EXPECT_EQ(names(), (std::vector<std::string>{"HUB6_INDEX", "LCR", "HUB6_INDEX", "LSR"}));
    EXPECT_EQ(c1.lcr(), 0x1b);
    EXPECT_EQ(c0.lcr(), 0x00);
    bus.outb(0x302, (1 << 6) | 3);  // card 1 is not this board
    EXPECT_EQ(bus.inb(0x303), 0xff);
    bus.outb(0x302, 0xff);  // port 7 does not exist
    EXPECT_EQ(bus.inb(0x303), 0xff);
    bus.outb(0x302, port1 + 4);
    bus.outb(0x303, 0x08);
    raise_interrupt(c1);
    EXPECT_TRUE(irqs.pending(InterruptLine{3}));
}

TEST_F(Boards, MemoryMappedBoardShiftAndWidth) {
    UartChip chip(events, UartModel::ns16550a);
    MmioUartBoard board(bus, irqs, chip, 0xfe000000, 2, InterruptWiring::level(40));
    bus.set_tracing(true);
    bus.write_memory(0xfe000000 + (3 << 2), 4, 0xffffff83);
    bus.write_memory(0xfe000000 + (0 << 2), 1, 0x01);
    bus.write_memory(0xfe000000 + (3 << 2), 4, 0x03);
    EXPECT_EQ(bus.read_memory(0xfe000000 + (3 << 2), 4), 0x03u) << "upper 24 bits read 0";
    EXPECT_EQ(bus.read_memory(0xfe000000 + (5 << 2), 1), 0x60u);
    EXPECT_EQ(names(), (std::vector<std::string>{"LCR", "DLL", "LCR", "LCR", "LSR"}));
    EXPECT_EQ(chip.divisor(), 1u);
    EXPECT_EQ(board.window_length(), 32u);
    raise_interrupt(chip);
    EXPECT_TRUE(irqs.pending(InterruptLine{40})) << "no OUT2 gate on this board";
}

TEST_F(Boards, IirWordBoardReadsIirInBits8To15AndHangsOnIerBit6) {
    UartChip chip(events, UartModel::ns16550a);
    IirWordBoard board(bus, irqs, chip, 0xfd000000, InterruptWiring::edge(7));
    bus.set_tracing(true);
    bus.write_memory(0xfd000001, 1, 0x02);
    const std::uint32_t word = bus.read_memory(0xfd000000, 4);
    EXPECT_EQ(word, 0x0200u) << "IIR 0x02 on the second byte lane";
    EXPECT_EQ(bus.read_memory(0xfd000002, 1), 0x01u) << "the word read cleared THR empty";
    EXPECT_EQ(names(), (std::vector<std::string>{"IER", "IIR", "IIR"}));
    bus.write_memory(0xfd000003, 1, 0x80);
    bus.write_memory(0xfd000001, 1, 0x45);  // DLM, not IER: harmless
    EXPECT_FALSE(board.hung());
    bus.write_memory(0xfd000003, 1, 0x03);
    bus.write_memory(0xfd000001, 1, 0x45);
    EXPECT_TRUE(board.hung());
    EXPECT_EQ(bus.read_memory(0xfd000005, 1), 0xffu);
}

// The chip's registers as the CPU sees them through port I/O.
class BusPorts final : public UartRegisters {
public:
    BusPorts(Bus& bus, std::uint16_t base) : bus_(bus), base_(base) {}
    std::uint8_t read(unsigned reg) override { return bus_.inb(static_cast<std::uint16_t>(base_ + reg)); }
    void write(unsigned reg, std::uint8_t v) override { bus_.outb(static_cast<std::uint16_t>(base_ + reg), v); }
    std::string_view register_name(unsigned reg, bool is_write) const override {
        return plain_register_name(reg, is_write);
    }
    bool interrupt_output() const override { return false; }
    bool out1() const override { return false; }
    bool out2() const override { return false; }
    void set_output_listener(UartOutputListener*) override {}

private:
    Bus& bus_;
    std::uint16_t base_;
};

TEST_F(Boards, AbsentChipIsTheFloatingBus) {
    BusPorts ports(bus, 0x3e8);
    UartProbe probe(events, ports);
    EXPECT_FALSE(probe.ier_reads_back());
    EXPECT_FALSE(probe.classify().has_value());
    EXPECT_EQ(ports.read(5), 0xff) << "LSR all ones: the startup safety check's case";
    AbsentUart socket;
    PcSerialCard card(bus, irqs, socket, 0x2e8, InterruptWiring::edge(3));
    BusPorts on_card(bus, 0x2e8);
    UartProbe card_probe(events, on_card);
    EXPECT_FALSE(card_probe.ier_reads_back());
    EXPECT_FALSE(card.interrupt_asserted());
}

TEST_F(Boards, ScriptedFakeAnswersFromItsTableAndRecordsWrites) {
    ScriptedUart fake(events);
    fake.script_reads(2, {0x41});  // IIR bits 7-6 read 01
    fake.script_reads(1, {0x00, 0x00, 0x0f});  // saved, then the two read-backs
    fake.script_reads(6, {0x90});
    PcSerialCard card(bus, irqs, fake, 0x3f8, InterruptWiring::edge(4));
    BusPorts ports(bus, 0x3f8);
    UartProbe probe(events, ports);
    EXPECT_EQ(probe.classify(), 0u);
    EXPECT_EQ(fake.writes_to(3).front(), 0xbf);
    EXPECT_EQ(fake.reads_of(2), 1u);
    bus.set_tracing(true);
    bus.outb(0x3fb, 0x80);
    EXPECT_EQ(bus.trace()[0].register_name, "LCR");
    // Bank-tied answers take precedence while LCR holds their value.
    fake.script_reads(2, {0x00}, 0xbf);
    bus.outb(0x3fb, 0xbf);
    EXPECT_EQ(bus.inb(0x3fa), 0x00);
    bus.outb(0x3fb, 0x00);
    EXPECT_EQ(bus.inb(0x3fa), 0x41);
    fake.set_interrupt(true);
    fake.set_out_pins(false, true);
    EXPECT_TRUE(irqs.pending(InterruptLine{4}));
    fake.fail(true);
    EXPECT_EQ(bus.inb(0x3fa), 0xff);
    EXPECT_FALSE(card.interrupt_asserted());
    const std::size_t before = fake.writes().size();
    bus.outb(0x3f9, 0x01);
    EXPECT_EQ(fake.writes().size(), before + 1) << "a failed chip still shows what was written";
}

TEST_F(Boards, ScriptedFakeOverARealChipChangesOneAnswer) {
    UartChip chip(events, UartModel::ns16550a);
    ScriptedUart fake(events, &chip);
    fake.script_reads(5, {0xff});
    BusPorts direct(bus, 0);
    PcSerialCard card(bus, irqs, fake, 0x3f8, InterruptWiring::edge(4));
    BusPorts ports(bus, 0x3f8);
    UartProbe probe(events, ports);
    EXPECT_TRUE(probe.ier_reads_back());
    EXPECT_EQ(probe.loopback_msr(), 0x90);
    EXPECT_EQ(ports.read(5), 0xff);
    ports.write(3, 0x1b);
    EXPECT_EQ(chip.lcr(), 0x1b) << "writes reach the chip behind";
    EXPECT_EQ(fake.register_name(2, false), "IIR");
}

}  // namespace
}  // namespace sim::hw
