// Chips and hosts joined by cables: bulk transfer at line rate, receivers set differently from
// their senders, breaks and deliberate errors.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/hw/line/host_endpoint.h"
#include "sim/hw/line/null_modem.h"
#include "sim/hw/uart/uart_chip.h"
#include "tests/sim_hw/sim_fixture.h"

namespace sim::hw {
namespace {

using namespace test;

std::vector<std::uint8_t> pattern(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return v;
}

// What a polling driver does with one chip: drain the receiver, top up the transmit FIFO.
struct Pump {
    UartChip& chip;
    const std::vector<std::uint8_t>& out;
    std::size_t sent = 0;
    std::vector<std::uint8_t> in;
    unsigned errors = 0;

    void service() {
        for (std::uint8_t lsr = chip.read(5); lsr & 0x01; lsr = chip.read(5)) {
            if (lsr & 0x1e) ++errors;
            in.push_back(chip.read(0));
        }
        if ((chip.read(5) & 0x20) && sent < out.size()) {
            for (unsigned i = 0; i < 16 && sent < out.size(); ++i) chip.write(0, out[sent++]);
        }
    }
};

TEST(NullModem, MovesSixtyFourKilobytesBothWaysAtLineRate) {
    EventQueue events;
    UartChip a(events, UartModel::ns16550a);
    UartChip b(events, UartModel::ns16550a);
    NullModemCable cable(a, b);
    for (UartChip* c : {&a, &b}) {
        program_line(*c, 1, 0x03);
        c->write(2, 0x07);
    }
    const auto a_to_b = pattern(64 * 1024, 1);
    const auto b_to_a = pattern(64 * 1024, 2);
    Pump pa{a, a_to_b, 0, {}, 0}, pb{b, b_to_a, 0, {}, 0};
    const TimePoint start = events.now();
    pa.service();
    pb.service();
    while (pa.in.size() < b_to_a.size() || pb.in.size() < a_to_b.size()) {
        ASSERT_TRUE(events.run_next()) << "the line went quiet";
        pa.service();
        pb.service();
    }
    const double seconds = std::chrono::duration<double>(events.now() - start).count();
    const double line_rate = 64.0 * 1024 * 10 / 115200;  // ten bits a character
    EXPECT_GE(seconds, line_rate);
    EXPECT_LE(seconds, line_rate * 1.001);
    EXPECT_EQ(pa.errors + pb.errors, 0u);
    EXPECT_TRUE(pb.in == a_to_b);
    EXPECT_TRUE(pa.in == b_to_a);
}

TEST(NullModem, CrossesModemLines) {
    EventQueue events;
    UartChip a(events, UartModel::ns16550a);
    UartChip b(events, UartModel::ns16550a);
    NullModemCable cable(a, b);
    b.read(6);
    a.write(4, 0x02);  // RTS
    EXPECT_EQ(b.read(6), 0x11) << "CTS with its change bit";
    a.write(4, 0x01);  // DTR, RTS off
    EXPECT_EQ(b.read(6), 0xa0 | 0x01 | 0x02 | 0x08) << "DSR and DCD up, CTS down";
    EXPECT_EQ(a.read(6) & 0xf0, 0x00);
}

enum class Outcome { clean, parity_errors, garbage };

struct Mismatch {
    const char* name;
    HostSettings sender;
    std::uint8_t receiver_lcr;
    std::uint16_t receiver_divisor;
    Outcome outcome;
};

void PrintTo(const Mismatch& m, std::ostream* os) { *os << m.name; }

class LineMismatch : public ::testing::TestWithParam<Mismatch> {};

TEST_P(LineMismatch, ReceiverSeesWhatHardwareWould) {
    const Mismatch& m = GetParam();
    EventQueue events;
    UartChip chip(events, UartModel::ns16550a);
    HostEndpoint host(events, m.sender);
    host.connect(chip);
    program_line(chip, m.receiver_divisor, m.receiver_lcr);
    chip.write(2, 0x07);
    const std::string text = "The quick brown fox jumps over the lazy dog 0123456789";
    host.send(text);
    unsigned errors = 0, parity_errors = 0;
    std::string got;
    ASSERT_TRUE(run_until(events, [&] {
        for (std::uint8_t lsr = chip.read(5); lsr & 0x01; lsr = chip.read(5)) {
            if (lsr & 0x0c) ++errors;
            if ((lsr & 0x0c) == 0x04) ++parity_errors;
            got.push_back(static_cast<char>(chip.read(0)));
        }
        return !host.transmitting() && !chip.transmitter_busy() && events.pending_count() == 0;
    }));
    switch (m.outcome) {
        case Outcome::clean:
            EXPECT_EQ(errors, 0u);
            EXPECT_EQ(got, text);
            break;
        case Outcome::parity_errors:
            // The data bits are where the receiver expects them; only the parity disagrees.
            EXPECT_EQ(parity_errors, text.size());
            EXPECT_EQ(got, text);
            break;
        case Outcome::garbage:
            EXPECT_GT(errors, 0u);
            EXPECT_NE(got, text);
            break;
    }
    host.disconnect();
}

constexpr LineFormat f8e1{8, Parity::even, 2};
constexpr LineFormat f8o1{8, Parity::odd, 2};
constexpr LineFormat f7n1{7, Parity::none, 2};

INSTANTIATE_TEST_SUITE_P(
    Cases, LineMismatch,
    ::testing::Values(Mismatch{"same", {115200, format_8n1}, 0x03, 1, Outcome::clean},
                      Mismatch{"two_percent_fast", {117500, format_8n1}, 0x03, 1, Outcome::clean},
                      Mismatch{"two_percent_slow", {112900, format_8n1}, 0x03, 1, Outcome::clean},
                      Mismatch{"seven_percent_fast", {123300, format_8n1}, 0x03, 1, Outcome::garbage},
                      Mismatch{"sender_slower", {9600, format_8n1}, 0x03, 1, Outcome::garbage},
                      Mismatch{"sender_faster", {115200, format_8n1}, 0x03, 12, Outcome::garbage},
                      Mismatch{"even_into_odd", {115200, f8e1}, 0x0b, 1, Outcome::parity_errors},
                      Mismatch{"odd_into_even", {115200, f8o1}, 0x1b, 1, Outcome::parity_errors},
                      Mismatch{"even_matches", {115200, f8e1}, 0x1b, 1, Outcome::clean},
                      Mismatch{"none_into_parity", {115200, format_8n1}, 0x1b, 1, Outcome::garbage},
                      Mismatch{"seven_into_eight", {115200, f7n1}, 0x03, 1, Outcome::garbage}),
    [](const ::testing::TestParamInfo<Mismatch>& info) { return std::string(info.param.name); });

class HostLine : public ::testing::Test {
protected:
    void SetUp() override {
        host.connect(chip);
        program_line(chip, 1, 0x1b);  // 8E1
        chip.write(2, 0x07);
    }
    void TearDown() override { host.disconnect(); }

    EventQueue events;
    UartChip chip{events, UartModel::ns16550a};
    HostEndpoint host{events, HostSettings{115200, f8e1}};
};

TEST_F(HostLine, BreakArrivesAsOneZeroCharacterWithBreakIndication) {
    host.send_break(10ms);
    host.send_byte('k');
    run_for(events, 12ms);
    EXPECT_EQ(chip.read(5) & 0x1f, 0x19) << "DR, FE and BI";
    EXPECT_EQ(chip.read(0), 0x00);
    EXPECT_EQ(chip.read(5) & 0x1f, 0x01) << "then 'k', clean";
    EXPECT_EQ(chip.read(0), 'k');
    EXPECT_EQ(chip.read(5) & 0x01, 0x00) << "only one character for the whole break";
}

TEST_F(HostLine, BreakIndicationComesOneCharacterTimeIntoTheBreak) {
    chip.write(1, 0x04);
    host.send_break(100ms);
    run_for(events, chip.character_time() + 1us);
    EXPECT_EQ(chip.read(2) & 0x0f, 0x06);
    EXPECT_EQ(chip.read(5) & 0x10, 0x10);
}

TEST_F(HostLine, DeliberateErrorsAffectOnlyTheirCharacter) {
    host.send_byte('p', FrameFault::parity);
    host.send_byte('f', FrameFault::framing);
    host.send_byte('o');
    run_for(events, 1ms);
    EXPECT_EQ(chip.read(5) & 0x0d, 0x05);
    EXPECT_EQ(chip.read(0), 'p');
    EXPECT_EQ(chip.read(5) & 0x0d, 0x09);
    EXPECT_EQ(chip.read(0), 'f');
    EXPECT_EQ(chip.read(5) & 0x0d, 0x01);
    EXPECT_EQ(chip.read(0), 'o');
    EXPECT_EQ(chip.read(5) & 0x80, 0x00);
}

TEST_F(HostLine, ErrorInFifoShowsInLsrBit7UntilRead) {
    host.send_byte('a');
    host.send_byte('b', FrameFault::parity);
    run_for(events, 1ms);
    EXPECT_EQ(chip.read(5) & 0x85, 0x81) << "bit 7: an error further down the FIFO";
    chip.read(0);
    EXPECT_EQ(chip.read(5) & 0x85, 0x85);
    EXPECT_EQ(chip.read(5) & 0x85, 0x01) << "read once, the error bits are gone";
}

TEST_F(HostLine, ChipBreakAndFramingReachTheHost) {
    host.set_frame_log(true);
    chip.write(0, 0x55);
    run_for(events, 1ms);
    ASSERT_EQ(host.received().size(), 1u);
    EXPECT_EQ(host.received()[0].data, 0x55);
    EXPECT_FALSE(host.received()[0].parity_error);
    ASSERT_EQ(host.frames().size(), 1u);
    EXPECT_EQ(host.frames()[0].slots, 11u) << "start, eight data, parity, stop";
    chip.write(3, 0x1b | 0x40);
    run_for(events, 5ms);
    chip.write(3, 0x1b);
    run_for(events, 1ms);
    ASSERT_EQ(host.received().size(), 2u);
    EXPECT_TRUE(host.received()[1].break_condition);
}

TEST_F(HostLine, HostHonoursRtsWhenAskedTo) {
    host.set_flow_control(true);
    host.send("abc");
    run_for(events, 1ms);
    EXPECT_EQ(chip.rx_level(), 0u);
    chip.write(4, 0x02);
    run_for(events, 1ms);
    EXPECT_EQ(chip.rx_level(), 3u);
}

}  // namespace
}  // namespace sim::hw
