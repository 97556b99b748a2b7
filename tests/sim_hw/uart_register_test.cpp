// Register behaviour of the chip model: banks, interrupt identification and its clearing
// rules, loopback, modem status, automatic flow control, sleep and the part-specific extras.
#include <string_view>

#include <gtest/gtest.h>

#include "sim/hw/line/host_endpoint.h"
#include "sim/hw/uart/uart_chip.h"
#include "tests/sim_hw/sim_fixture.h"
#include "tests/sim_hw/uart_probe.h"

namespace sim::hw {
namespace {

using namespace test;

struct NameCase {
    UartModel model;
    std::uint8_t lcr;
    unsigned reg;
    bool is_write;
    std::string_view name;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << uart_preset(c.model).key << " LCR " << int{c.lcr} << " reg " << c.reg << (c.is_write ? " write" : " read");
}

class RegisterBanks : public ::testing::TestWithParam<NameCase> {};

TEST_P(RegisterBanks, NameFollowsTheBank) {
    const NameCase& c = GetParam();
    EventQueue events;
    UartChip chip(events, c.model);
    chip.write(3, c.lcr);
    EXPECT_EQ(chip.register_name(c.reg, c.is_write), c.name);
}

using M = UartModel;
INSTANTIATE_TEST_SUITE_P(
    Names, RegisterBanks,
    ::testing::Values(NameCase{M::ns16550a, 0x03, 0, false, "RBR"}, NameCase{M::ns16550a, 0x03, 0, true, "THR"},
                      NameCase{M::ns16550a, 0x83, 0, true, "DLL"}, NameCase{M::ns16550a, 0x83, 1, false, "DLM"},
                      NameCase{M::ns16550a, 0x03, 2, false, "IIR"}, NameCase{M::ns16550a, 0x03, 2, true, "FCR"},
                      NameCase{M::ns16550a, 0xbf, 2, false, "IIR"}, NameCase{M::ns16550a, 0xbf, 4, false, "MCR"},
                      NameCase{M::st16c650v2, 0xbf, 2, true, "EFR"}, NameCase{M::st16c650v2, 0x80, 2, false, "IIR"},
                      NameCase{M::st16c650v2, 0xbf, 4, true, "XON1"}, NameCase{M::st16c650v2, 0xbf, 7, false, "XOFF2"},
                      NameCase{M::st16c650v2, 0xbf, 0, true, "DLL"}, NameCase{M::st16c650, 0x80, 2, false, "EFR"},
                      NameCase{M::st16c650, 0x03, 2, false, "IIR"}, NameCase{M::xr16c850, 0xbf, 0, true, "TRG"},
                      NameCase{M::xr16c850, 0xbf, 0, false, "FC"}, NameCase{M::xr16c850, 0xbf, 1, true, "FCTR"},
                      NameCase{M::xr16c850, 0x80, 1, true, "DLM"}, NameCase{M::ox16c950, 0x03, 5, true, "ICR"},
                      NameCase{M::ox16c950, 0x03, 5, false, "LSR"}, NameCase{M::ox16c950, 0xbf, 5, true, "XON2"},
                      NameCase{M::ns_pc8733x, 0xe0, 2, false, "EXCR1"}, NameCase{M::ns_pc8733x, 0xe0, 4, true, "EXCR2"},
                      NameCase{M::ns_pc8733x, 0xe0, 0, true, "DLL"}, NameCase{M::ns16550a, 0xe0, 2, false, "IIR"},
                      NameCase{M::ns_pc8733x, 0xe4, 0, false, "RES"}));

class Chip16550A : public ::testing::Test {
protected:
    void SetUp() override {
        host.connect(chip);
        program_line(chip, 1, 0x03);
        chip.write(2, 0x01);
    }
    void TearDown() override { host.disconnect(); }
    std::uint8_t iir_id() { return chip.read(2) & 0x0f; }

    EventQueue events;
    UartChip chip{events, UartModel::ns16550a};
    HostEndpoint host{events};
};

TEST_F(Chip16550A, InterruptPrioritiesAndClearingRules) {
    chip.write(1, 0x0f);
    EXPECT_EQ(iir_id(), 0x02) << "THR empty: raised as soon as it is enabled";
    EXPECT_EQ(iir_id(), 0x01) << "reading IIR cleared it";
    host.set_modem_output(ModemSignal::dsr, true);
    host.send_byte('x', FrameFault::framing);
    run_for(events, 200us);
    EXPECT_EQ(iir_id(), 0x06) << "line status first";
    EXPECT_EQ(iir_id(), 0x06) << "IIR reads do not clear it";
    chip.read(5);
    EXPECT_EQ(iir_id(), 0x04) << "then received data";
    chip.read(0);
    EXPECT_EQ(iir_id(), 0x00) << "then modem status (THR empty was cleared above)";
    chip.read(6);
    EXPECT_EQ(iir_id(), 0x01);
    chip.write(0, 'a');  // writing THR clears THRE; it comes back when the FIFO empties
    EXPECT_EQ(iir_id(), 0x02);
    chip.write(0, 'b');
    chip.write(0, 'c');
    EXPECT_EQ(iir_id(), 0x01) << "a THR write clears a pending THR-empty";
    run_for(events, 90us);
    EXPECT_EQ(iir_id(), 0x01) << "'b' went on, 'c' still waits in the FIFO";
    run_for(events, 90us);
    EXPECT_EQ(iir_id(), 0x02);
}

TEST_F(Chip16550A, EnablingTheTransmitInterruptAgainRaisesItAgain) {
    chip.write(1, 0x02);
    EXPECT_EQ(iir_id(), 0x02);
    EXPECT_EQ(iir_id(), 0x01);
    chip.write(1, 0x00);
    chip.write(1, 0x02);
    EXPECT_EQ(iir_id(), 0x02);
}

TEST_F(Chip16550A, ThreAndTemtFollowTheTransmitter) {
    EXPECT_EQ(chip.read(5) & 0x60, 0x60);
    chip.write(0, 'z');
    EXPECT_EQ(chip.read(5) & 0x60, 0x20) << "byte moved to the shift register at once";
    run_for(events, chip.character_time());
    EXPECT_EQ(chip.read(5) & 0x60, 0x60);
    run_for(events, 10us);
    ASSERT_EQ(host.received_bytes().size(), 1u);
}

TEST_F(Chip16550A, LoopbackWiresDataAndModemLinesInside) {
    host.set_modem_output(ModemSignal::cts, true);
    host.set_modem_output(ModemSignal::dcd, true);
    chip.read(6);
    chip.write(4, 0x10 | 0x01 | 0x04);  // loop, DTR, OUT1
    EXPECT_EQ(chip.read(6), 0x60 | 0x01 | 0x02 | 0x08) << "DSR and RI from DTR and OUT1; CTS and DCD dropped";
    EXPECT_FALSE(chip.dtr_output()) << "the pins are held inactive in loopback";
    EXPECT_FALSE(chip.out1());
    chip.write(4, 0x10 | 0x01);
    EXPECT_EQ(chip.read(6), 0x20 | 0x04) << "TERI when RI goes away";
    chip.write(0, 'L');
    run_for(events, 200us);
    EXPECT_EQ(chip.read(5) & 0x01, 0x01);
    EXPECT_EQ(chip.read(0), 'L');
    EXPECT_TRUE(host.received().empty()) << "nothing reaches the wire";
    host.send_byte('H');
    run_for(events, 200us);
    EXPECT_EQ(chip.read(5) & 0x01, 0x00) << "the receiver does not listen to the pin";
    chip.write(4, 0x00);
    host.send_byte('H');
    run_for(events, 200us);
    EXPECT_EQ(chip.read(0), 'H');
}

TEST_F(Chip16550A, ModemStatusChangeBitsAndTrailingEdgeRing) {
    chip.read(6);
    host.set_modem_output(ModemSignal::ri, true);
    EXPECT_EQ(chip.read(6), 0x40) << "the leading edge of a ring sets no change bit";
    host.set_modem_output(ModemSignal::ri, false);
    EXPECT_EQ(chip.read(6), 0x04);
    host.set_modem_output(ModemSignal::dcd, true);
    host.set_modem_output(ModemSignal::dcd, false);
    EXPECT_EQ(chip.read(6), 0x08) << "a change stays latched even when the line is back";
    EXPECT_EQ(chip.read(6), 0x00);
}

TEST_F(Chip16550A, FifoControlClearsAndDisables) {
    host.send("ab");
    run_for(events, 200us);
    EXPECT_EQ(chip.rx_level(), 2u);
    chip.write(0, 1);
    chip.write(0, 2);
    chip.write(0, 3);
    chip.write(2, 0x03);
    EXPECT_EQ(chip.rx_level(), 0u);
    EXPECT_GT(chip.tx_level(), 0u);
    chip.write(2, 0x05);
    EXPECT_EQ(chip.tx_level(), 0u);
    EXPECT_TRUE(chip.transmitter_busy()) << "the shift register is not part of the FIFO";
    chip.write(2, 0x00);
    EXPECT_EQ(chip.read(2) & 0xc0, 0x00);
    EXPECT_EQ(chip.fifo_depth(), 1u);
}

TEST(ChipFlowControl, Ti16750AutomaticRtsAndCts) {
    EventQueue events;
    UartChip chip(events, UartModel::ti16c750);
    HostEndpoint host(events);
    host.connect(chip);
    program_line(chip, 1, 0x03);
    chip.write(3, 0x80);
    chip.write(2, 0x61);  // 64-byte mode, trigger 16
    chip.write(3, 0x03);
    EXPECT_EQ(chip.fifo_depth(), 64u);
    EXPECT_EQ(chip.rx_trigger_level(), 16u);
    chip.write(4, 0x22);  // AFE with RTS
    EXPECT_TRUE(host.peer_rts());
    host.set_flow_control(true);
    for (int i = 0; i < 40; ++i) host.send_byte(static_cast<std::uint8_t>(i));
    run_for(events, 10ms);
    EXPECT_EQ(chip.rx_level(), 16u) << "RTS dropped at mid stop bit of the 16th, before the next start";
    EXPECT_FALSE(host.peer_rts());
    for (int i = 0; i < 15; ++i) chip.read(0);
    EXPECT_FALSE(host.peer_rts()) << "raised again only when the FIFO is empty";
    chip.read(0);
    EXPECT_TRUE(host.peer_rts());
    // Automatic CTS: the transmitter waits for CTS between characters.
    chip.write(0, 'a');
    chip.write(0, 'b');
    run_for(events, 1ms);
    EXPECT_EQ(chip.tx_level(), 2u);
    host.set_modem_output(ModemSignal::cts, true);
    run_for(events, 1ms);
    EXPECT_EQ(chip.tx_level(), 0u);
    host.disconnect();
}

TEST(ChipFlowControl, EfrAutomaticCtsNeedsTheEfrBit) {
    EventQueue events;
    UartChip chip(events, UartModel::st16c654);
    program_line(chip, 1, 0x03);
    chip.write(2, 0x01);
    chip.write(0, 'a');
    EXPECT_TRUE(chip.transmitter_busy()) << "without EFR 0x80 CTS is not looked at";
    run_for(events, 1ms);
    chip.write(3, 0xbf);
    chip.write(2, 0x80);
    chip.write(3, 0x03);
    chip.write(0, 'b');
    EXPECT_FALSE(chip.transmitter_busy());
    chip.set_modem_input(ModemSignal::cts, true);
    EXPECT_TRUE(chip.transmitter_busy());
}

TEST(ChipSleep, EnhancedSleepBitNeedsEfrAndKeepsAfterwards) {
    EventQueue events;
    UartChip chip(events, UartModel::st16c650v2);
    chip.write(1, 0x10);
    EXPECT_EQ(chip.read(1), 0x00) << "IER bit 4 is locked while EFR bit 4 is clear";
    chip.write(3, 0xbf);
    chip.write(2, 0x10);
    chip.write(3, 0x00);
    chip.write(1, 0x10);
    chip.write(3, 0xbf);
    chip.write(2, 0x00);
    chip.write(3, 0x00);
    EXPECT_EQ(chip.read(1), 0x10);
    EXPECT_TRUE(chip.asleep());
    chip.write(0, 'w');
    EXPECT_FALSE(chip.asleep()) << "work wakes it";
    run_for(events, 20ms);
    EXPECT_TRUE(chip.asleep());
    UartChip ti(events, UartModel::ti16c750);
    ti.write(1, 0x10);
    EXPECT_TRUE(ti.asleep()) << "the TI16750 needs no EFR";
    UartChip plain(events, UartModel::ns16550a);
    plain.write(1, 0x10);
    EXPECT_EQ(plain.read(1), 0x00);
    EXPECT_FALSE(plain.asleep());
}

TEST(ChipXScale, UnitEnableGatesEverything) {
    EventQueue events;
    UartChip chip(events, UartModel::pxa_xscale);
    HostEndpoint host(events, HostSettings{115200, format_8n1});
    host.connect(chip);
    program_line(chip, 8, 0x03);  // 14.7456 MHz / (16 x 8)
    chip.write(2, 0x01);
    chip.write(1, 0x0f);
    EXPECT_FALSE(chip.interrupt_output());
    chip.write(0, 'u');
    host.send_byte('v');
    run_for(events, 1ms);
    EXPECT_TRUE(host.received().empty());
    EXPECT_EQ(chip.rx_level(), 0u);
    chip.write(1, 0x4f);
    EXPECT_TRUE(chip.interrupt_output());
    run_for(events, 1ms);
    EXPECT_EQ(host.received_bytes(), std::vector<std::uint8_t>{'u'});
    host.send_byte('v');
    run_for(events, 1ms);
    EXPECT_EQ(chip.read(0), 'v');
    // The receiver time-out needs IER 0x10 on this part.
    chip.write(2, 0x41);  // trigger 8: one character raises no data interrupt
    host.send_byte('t');
    run_for(events, 2ms);
    EXPECT_NE(chip.read(2) & 0x0f, 0x0c);
    chip.write(1, 0x5f);
    EXPECT_EQ(chip.read(2) & 0x0f, 0x0c);
    host.disconnect();
}

TEST(ChipNatsemi, PrescalerInBankTwoRunsTheClockEightTimesFaster) {
    EventQueue events;
    UartChip chip(events, UartModel::ns_pc8733x);
    program_line(chip, 12, 0x03);
    const Duration at_9600 = chip.character_time();
    UartProbe p(events, chip);
    p.out(3, 0xe0);
    EXPECT_EQ(p.in(0), 12);
    p.out(4, static_cast<std::uint8_t>((p.in(4) & ~0xb0) | 0x10));
    EXPECT_NEAR(static_cast<double>(chip.character_time().count()), at_9600.count() / 8.0, 1.0);
    p.out(0, 96);
    p.out(1, 0);
    p.out(3, 0x03);
    EXPECT_EQ(chip.character_time(), at_9600);
    EXPECT_EQ(chip.lcr(), 0x03);
    EXPECT_FALSE(chip.break_active()) << "LCR 0xE0 selects a bank here; it sets no break";
}

TEST(ChipOxford, TransmitterDisableAndChannelReset) {
    EventQueue events;
    UartChip chip(events, UartModel::ox16c950);
    UartProbe p(events, chip);
    program_line(chip, 1, 0x03);
    p.out(7, 0x00);
    p.out(5, 0x02);  // ACR: transmitter off
    p.out(0, 'x');
    EXPECT_FALSE(chip.transmitter_busy());
    p.out(5, 0x00);
    EXPECT_TRUE(chip.transmitter_busy());
    p.enable_enhanced();
    p.out(7, 0x0c);
    p.out(5, 0x00);  // CSR: reset the channel
    EXPECT_EQ(chip.efr(), 0x00);
    EXPECT_EQ(chip.lcr(), 0x00);
    EXPECT_FALSE(chip.transmitter_busy());
}

TEST(ChipOxford, Revision1MiscountsWithAZeroLowDivisorByte) {
    EventQueue events;
    UartChip rev1(events, UartModel::ox16c952_rev1);
    UartChip rev2(events, UartModel::ox16c952_rev2);
    program_line(rev1, 0x0100, 0x03);
    program_line(rev2, 0x0100, 0x03);
    EXPECT_NE(rev1.character_time(), rev2.character_time());
    program_line(rev1, 0x0101, 0x03);
    program_line(rev2, 0x0101, 0x03);
    EXPECT_EQ(rev1.character_time(), rev2.character_time());
}

TEST(ChipExar, TriggerTableFromFctrAndProgrammedLevels) {
    EventQueue events;
    UartChip chip(events, UartModel::xr16c850);
    chip.write(2, 0xc1);
    EXPECT_EQ(chip.rx_trigger_level(), 14u);
    chip.write(3, 0xbf);
    const std::uint8_t v = chip.read(1);
    chip.write(1, static_cast<std::uint8_t>((v & 0x7f) | 0x30));
    chip.write(0, 0x60);
    chip.write(1, static_cast<std::uint8_t>((v & 0x7f) | 0xb0));
    chip.write(0, 0x60);
    chip.write(3, 0x00);
    EXPECT_EQ(chip.rx_trigger_level(), 0x60u);
    EXPECT_EQ(chip.fifo_depth(), 128u);
}

struct FaultCase {
    const char* name;
    UartFaults faults;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

FaultCase fault(const char* name, bool UartFaults::*member) {
    UartFaults f;
    f.*member = true;
    return {name, f};
}

FaultCase stuck_iir(std::uint8_t value) {
    UartFaults f;
    f.stuck_iir = value;
    return {"stuck", f};
}

class OddChip : public ::testing::TestWithParam<FaultCase> {};

TEST_P(OddChip, ShowsItsFaultToTheProbes) {
    const FaultCase& c = GetParam();
    EventQueue events;
    UartChip chip(events, UartModel::ns16550a);
    chip.set_faults(c.faults);
    UartProbe p(events, chip);
    const std::string_view name = c.name;
    if (name == "ier") {
        EXPECT_FALSE(p.ier_reads_back());
        EXPECT_FALSE(p.classify().has_value());
    } else if (name == "loopback") {
        EXPECT_NE(p.loopback_msr(), 0x90);
        p.out(2, 0x01);
        EXPECT_EQ(p.fifo_size(), 0u);
    } else if (name == "dr") {
        p.out(2, 0x01);
        EXPECT_EQ(p.fifo_size(), 256u);
    } else if (name == "stuck") {
        EXPECT_TRUE(chip.interrupt_output());
        for (int i = 0; i < 3; ++i) {
            p.in(5);
            p.in(0);
            p.in(6);
            EXPECT_EQ(p.in(2), 0xc4);
        }
    } else if (name == "dead") {
        p.out(1, 0x0f);
        EXPECT_EQ(p.in(2) & 0x0f, 0x02) << "the chip knows, its pin does not show it";
        EXPECT_FALSE(chip.interrupt_output());
    } else if (name == "no_reassert") {
        p.out(1, 0x02);
        EXPECT_EQ(p.in(2) & 0x0f, 0x02);
        p.out(1, 0x00);
        p.out(1, 0x02);
        EXPECT_EQ(p.in(2) & 0x01, 0x01);
    } else if (name == "silent") {
        p.out(1, 0x02);
        EXPECT_EQ(p.in(5) & 0x40, 0x40);
        EXPECT_EQ(p.in(2) & 0x01, 0x01);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, OddChip,
                         ::testing::Values(fault("ier", &UartFaults::ier_reads_zero),
                                           fault("loopback", &UartFaults::loopback_broken),
                                           fault("dr", &UartFaults::dr_stuck), stuck_iir(0xc4),
                                           fault("dead", &UartFaults::interrupt_output_dead),
                                           fault("no_reassert", &UartFaults::thre_not_reasserted),
                                           fault("silent", &UartFaults::thre_silent_on_enable)),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sim::hw
