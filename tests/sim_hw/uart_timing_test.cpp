// Timing of characters, FIFO trigger levels, the character time-out and overrun.
#include <gtest/gtest.h>

#include "sim/hw/line/host_endpoint.h"
#include "sim/hw/uart/uart_chip.h"
#include "tests/sim_hw/sim_fixture.h"

namespace sim::hw {
namespace {

using namespace test;

constexpr std::uint8_t lcr_8n1 = 0x03;

class UartTiming : public ::testing::Test {
protected:
    void SetUp() override {
        host.connect(chip);
        program_line(chip, 1, lcr_8n1);  // 115200 bit/s from 1.8432 MHz
    }
    void TearDown() override { host.disconnect(); }

    std::uint8_t iir() { return chip.read(2); }

    EventQueue events;
    UartChip chip{events, UartModel::ns16550a};
    HostEndpoint host{events, HostSettings{115200, format_8n1}};
};

TEST_F(UartTiming, CharacterAt115200Is86Point8Microseconds) {
    EXPECT_NEAR(static_cast<double>(chip.character_time().count()), 86'805.6, 1.0);
    host.set_frame_log(true);
    chip.write(2, 0x01);
    chip.write(0, 'A');
    chip.write(0, 'B');
    const TimePoint start = events.now();
    // The first byte went straight to the shift register, the second waits in the FIFO.
    EXPECT_EQ(chip.read(5) & 0x60, 0x00);
    run_for(events, 86us);
    EXPECT_EQ(chip.read(5) & 0x60, 0x00);
    run_for(events, 1us);
    EXPECT_EQ(chip.read(5) & 0x60, 0x20) << "THR empty, shift register busy";
    run_until(events, [&] { return chip.read(5) & 0x40; });
    EXPECT_NEAR(static_cast<double>((events.now() - start).count()), 2 * 86'805.6, 2.0);
    ASSERT_EQ(host.frames().size(), 2u);
    EXPECT_NEAR(static_cast<double>(host.frames()[1].start - host.frames()[0].start) / 1000.0, 86'805.6, 1.0);
    run_for(events, 1ms);
    EXPECT_EQ(host.received_bytes(), (std::vector<std::uint8_t>{'A', 'B'}));
}

TEST_F(UartTiming, FramingSetsTheCharacterLength) {
    struct Case {
        std::uint8_t lcr;
        unsigned half_bits;
    };
    // start + data + parity + stop; 1.5 stop bits only for 5-bit words.
    for (const Case c : {Case{0x03, 20}, Case{0x0b, 22}, Case{0x07, 22}, Case{0x04, 15}, Case{0x00, 14}, Case{0x1f, 24}}) {
        program_line(chip, 12, c.lcr);
        const double bit = 16.0 * 12 / 1'843'200 * 1e9;
        EXPECT_NEAR(static_cast<double>(chip.character_time().count()), bit * c.half_bits / 2, 1.0)
            << "LCR " << int{c.lcr};
    }
}

TEST_F(UartTiming, Trigger14RaisesReceiveInterruptOnFourteenthCharacter) {
    chip.write(2, 0xc1);
    chip.write(1, 0x01);
    for (int i = 0; i < 20; ++i) host.send_byte(static_cast<std::uint8_t>(i));
    ASSERT_TRUE(run_until(events, [&] { return chip.rx_level() == 13; }));
    EXPECT_EQ(iir(), 0xc1);
    EXPECT_FALSE(chip.interrupt_output());
    ASSERT_TRUE(run_until(events, [&] { return chip.rx_level() == 14; }));
    EXPECT_TRUE(chip.interrupt_output());
    EXPECT_EQ(iir(), 0xc4);
    // Reading below the trigger clears it.
    chip.read(0);
    EXPECT_EQ(iir(), 0xc1);
}

TEST_F(UartTiming, PartialFifoTimesOutFourCharacterTimesAfterTheLast) {
    chip.write(2, 0xc1);
    chip.write(1, 0x01);
    for (int i = 0; i < 5; ++i) host.send_byte(static_cast<std::uint8_t>('a' + i));
    ASSERT_TRUE(run_until(events, [&] { return chip.rx_level() == 5; }));
    const Duration four = 4 * chip.character_time();
    run_for(events, four - 1us);
    EXPECT_EQ(iir(), 0xc1);
    run_for(events, 2us);
    EXPECT_EQ(iir(), 0xcc);
    EXPECT_TRUE(chip.interrupt_output());
    // A read clears the time-out and starts the count again for what is left.
    EXPECT_EQ(chip.read(0), 'a');
    EXPECT_EQ(iir(), 0xc1);
    run_for(events, four + 1us);
    EXPECT_EQ(iir(), 0xcc);
    for (int i = 0; i < 4; ++i) chip.read(0);
    run_for(events, 2 * four);
    EXPECT_EQ(iir(), 0xc1) << "an empty FIFO does not time out";
}

TEST_F(UartTiming, FullFifoOverrunsOnTheNextCharacter) {
    chip.write(2, 0xc1);
    chip.write(1, 0x05);
    for (int i = 0; i < 17; ++i) host.send_byte(static_cast<std::uint8_t>(i));
    ASSERT_TRUE(run_until(events, [&] { return chip.rx_level() == 16; }));
    EXPECT_EQ(chip.peek(5) & 0x02, 0x00);
    ASSERT_TRUE(run_until(events, [&] { return (chip.peek(5) & 0x02) != 0; }));
    EXPECT_EQ(chip.rx_level(), 16u) << "the character in the shift register is lost, the FIFO kept";
    EXPECT_EQ(iir(), 0xc6);
    EXPECT_EQ(chip.read(5) & 0x03, 0x03);
    EXPECT_EQ(chip.read(5) & 0x02, 0x00) << "reading LSR clears OE";
    for (int i = 0; i < 16; ++i) EXPECT_EQ(chip.read(0), i);
}

TEST(UartTimingNoFifo, HoldingRegisterOverrunKeepsTheNewestCharacter) {
    EventQueue events;
    UartChip chip(events, UartModel::ns16450);
    HostEndpoint host(events);
    host.connect(chip);
    program_line(chip, 1, lcr_8n1);
    host.send("xy");
    run_for(events, 1ms);
    EXPECT_EQ(chip.read(5) & 0x03, 0x03);
    EXPECT_EQ(chip.read(0), 'y');
    EXPECT_EQ(chip.read(5) & 0x01, 0x00);
    host.disconnect();
}

TEST(UartTimingSampleClock, Oxford950SampleClockRaisesTheRate) {
    EventQueue events;
    UartChip chip(events, UartModel::ox16c950);
    program_line(chip, 1, lcr_8n1);
    const Duration at16 = chip.character_time();
    for (const auto& [tcr, factor] : {std::pair{0x04, 4}, std::pair{0x08, 2}, std::pair{0x00, 1}, std::pair{0x02, 1}}) {
        chip.write(7, 0x02);  // TCR
        chip.write(5, static_cast<std::uint8_t>(tcr));
        EXPECT_NEAR(static_cast<double>(chip.character_time().count()),
                    static_cast<double>(at16.count()) / factor, 1.0) << "TCR " << tcr;
    }
}

}  // namespace
}  // namespace sim::hw
