// What one change of line settings writes to the UART: the framing byte, the FIFO control
// byte, the order of the writes on each family member, the receive path's status masks and
// the modem-status interrupt.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "line_port.h"
#include "sim/hw/line/host_endpoint.h"

namespace driver_test {
namespace {

using sim::hw::LineFormat;
using sim::hw::Parity;
using sim::hw::UartModel;

struct FramingCase {
    const char* what;
    tcflag_t framing;
    std::uint8_t lcr;
    LineFormat on_the_wire;
};

TEST(Framing, SettingsBecomeTheLineControlByteAndTheChipFramesThatWay) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    const FramingCase cases[] = {
        // The even-parity bit follows PARODD alone, so it shows although parity is off.
        {"CS8 without parity", CS8, 0x13, {8, Parity::none, 2}},
        {"CS8 odd parity", CS8 | PARENB | PARODD, 0x0b, {8, Parity::odd, 2}},
        {"CS7 even parity", CS7 | PARENB, 0x1a, {7, Parity::even, 2}},
        {"CS5 long stop, PARODD without PARENB", CS5 | CSTOPB | PARODD, 0x04, {5, Parity::none, 3}},
        {"CS6 two stop bits", CS6 | CSTOPB, 0x15, {6, Parity::none, 4}},
        {"CS7 odd parity two stop bits", CS7 | PARENB | PARODD | CSTOPB, 0x0e, {7, Parity::odd, 4}},
        {"CS8 mark parity", CS8 | PARENB | PARODD | CMSPAR, 0x2b, {8, Parity::mark, 2}},
        {"CS8 space parity", CS8 | PARENB | CMSPAR, 0x3b, {8, Parity::space, 2}},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto trace = lp.apply(line_settings(B9600, c.framing));
        const std::vector<RegisterAccess> expected = {wr("LCR", static_cast<std::uint8_t>(c.lcr | 0x80)),
                                                      wr("LCR", c.lcr)};
        EXPECT_EQ(writes_among(trace, {"LCR"}), expected) << "latch opened with the framing, then closed";
        EXPECT_EQ(lp.up().lcr_shadow, c.lcr);
        EXPECT_EQ(lp.chip().lcr(), c.lcr);
        EXPECT_EQ(lp.chip().line_format(), c.on_the_wire);
    }
}

struct FifoCase {
    const char* what;
    UartModel model;
    std::uint32_t clock_hz;  // 0: the part's own
    tcflag_t speed;
    std::vector<RegisterAccess> fcr_writes;
    unsigned chip_fifo_depth;  // 0: not asserted
};

TEST(FifoControl, TriggerByRateAndModeByType) {
    const FifoCase cases[] = {
        {"16550A at 1800 bit/s: one-byte trigger", UartModel::ns16550a, 0, B1800,
         {wr("FCR", 0x01), wr("FCR", 0x01)}, 16},
        {"16550A at 2400 bit/s: the type's trigger", UartModel::ns16550a, 0, B2400,
         {wr("FCR", 0x01), wr("FCR", 0x81)}, 16},
        // A 38,384 Hz clock tops out at 2399 bit/s (clock / 16): the serial core keeps the
        // asked 2400 within that maximum, which puts the rate one below the threshold.
        {"16550A at 2399 bit/s", UartModel::ns16550a, 2399 * 16, B2400, {wr("FCR", 0x01), wr("FCR", 0x01)}, 0},
        {"16550A at 115200 bit/s", UartModel::ns16550a, 0, B115200, {wr("FCR", 0x01), wr("FCR", 0x81)}, 16},
        {"TI16750 at 1800 bit/s", UartModel::ti16c750, 0, B1800, {wr("FCR", 0x01)}, 0},
        {"TI16750 at 9600 bit/s: 64-byte mode", UartModel::ti16c750, 0, B9600, {wr("FCR", 0xa1)}, 64},
        {"ST16650V2", UartModel::st16c650v2, 0, B9600, {wr("FCR", 0x01), wr("FCR", 0x41)}, 0},
        {"ST16654", UartModel::st16c654, 0, B9600, {wr("FCR", 0x01), wr("FCR", 0x61)}, 0},
        {"RSA board", UartModel::rsa_16550a, 0, B9600, {wr("FCR", 0x01), wr("FCR", 0xc1)}, 0},
        {"16450 has no FIFO", UartModel::ns16450, 0, B9600, {wr("FCR", 0x00)}, 0},
        {"ST16650: FIFO capability but depth 1", UartModel::st16c650, 0, B9600, {wr("FCR", 0x00)}, 0},
        {"ST16650 below 2400 bit/s", UartModel::st16c650, 0, B1800, {wr("FCR", 0x00)}, 0},
    };
    for (const FifoCase& c : cases) {
        SCOPED_TRACE(c.what);
        LinePort lp({.model = c.model, .clock_hz = c.clock_hz});
        ASSERT_TRUE(lp.ready());
        const auto trace = lp.apply(line_settings(c.speed));
        EXPECT_EQ(writes_among(trace, {"FCR"}), c.fcr_writes);
        if (lp.has_chip()) {
            EXPECT_EQ(lp.chip().fifo_enabled(), (c.fcr_writes.back().value.value_or(0) & 0x01) != 0);
            if (c.chip_fifo_depth != 0) {
                EXPECT_EQ(lp.chip().fifo_depth(), c.chip_fifo_depth);
            }
        }
    }
}

struct SequenceCase {
    const char* what;
    UartModel model;
    tcflag_t flow;
    std::vector<RegisterAccess> writes;
};

// At 9600 bit/s the divisor is 12 on the PC's 1.8432 MHz crystal and 96 on a 14.7456 MHz one.
TEST(SettingsSequence, EachFamilyMemberGetsItsRegistersInItsOrder) {
    const SequenceCase cases[] = {
        {"16550A", UartModel::ns16550a, 0,
         {wr("IER", 0x00), wr("LCR", 0x93), wr("DLL", 0x0c), wr("DLM", 0x00), wr("LCR", 0x13), wr("FCR", 0x01),
          wr("FCR", 0x81), wr("MCR", 0x00)}},
        {"ST16650V2 with CRTSCTS: automatic CTS in EFR", UartModel::st16c650v2, CRTSCTS,
         {wr("IER", 0x08), wr("LCR", 0xbf), wr("EFR", 0x80), wr("LCR", 0x93), wr("DLL", 0x0c), wr("DLM", 0x00),
          wr("LCR", 0x13), wr("FCR", 0x01), wr("FCR", 0x41), wr("MCR", 0x00)}},
        {"ST16650V2 without CRTSCTS", UartModel::st16c650v2, 0,
         {wr("IER", 0x00), wr("LCR", 0xbf), wr("EFR", 0x00), wr("LCR", 0x93), wr("DLL", 0x0c), wr("DLM", 0x00),
          wr("LCR", 0x13), wr("FCR", 0x01), wr("FCR", 0x41), wr("MCR", 0x00)}},
        // The 64-byte mode bit is only taken while the divisor latch is open.
        {"TI16750 with CRTSCTS", UartModel::ti16c750, CRTSCTS,
         {wr("IER", 0x08), wr("LCR", 0x93), wr("DLL", 0x0c), wr("DLM", 0x00), wr("FCR", 0xa1), wr("LCR", 0x13),
          wr("MCR", 0x20)}},
        {"16C950: sample clock first", UartModel::ox16c950, 0,
         {wr("SCR", 0x02), wr("ICR", 0x00), wr("IER", 0x00), wr("LCR", 0x93), wr("DLL", 0x0c), wr("DLM", 0x00),
          wr("LCR", 0x13), wr("FCR", 0x01), wr("FCR", 0x81), wr("MCR", 0x00)}},
        // Autoconfiguration switched the part to its fast clock; bank 2 holds the latch.
        {"NS16550A: divisor latch in bank 2", UartModel::ns_pc8733x, 0,
         {wr("IER", 0x00), wr("LCR", 0xe0), wr("DLL", 0x60), wr("DLM", 0x00), wr("LCR", 0x13), wr("FCR", 0x01),
          wr("FCR", 0x81), wr("MCR", 0x00)}},
        {"XScale: unit enable and receiver time-out", UartModel::pxa_xscale, 0,
         {wr("IER", 0x50), wr("LCR", 0x93), wr("DLL", 0x60), wr("DLM", 0x00), wr("LCR", 0x13), wr("FCR", 0x01),
          wr("FCR", 0x81), wr("MCR", 0x00)}},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.what);
        LinePort lp({.model = c.model});
        ASSERT_TRUE(lp.ready());
        lp.up().ier_shadow = 0;
        const auto trace = lp.apply(line_settings(B9600, CS8 | c.flow));
        EXPECT_EQ(trace, c.writes) << "nothing is read, nothing else is written";
        EXPECT_EQ(lp.up().lcr_shadow, 0x13);
        const auto ier_writes = writes_among(c.writes, {"IER"});
        ASSERT_EQ(ier_writes.size(), 1u);
        EXPECT_EQ(lp.up().ier_shadow, ier_writes[0].value.value_or(0));
        EXPECT_NE(lp.port()->fifo_timeout, 0u) << "the serial core was told the new timing";
    }
}

TEST(SettingsSequence, XScaleUnitRunsAfterItsFirstSettings) {
    LinePort lp({.model = UartModel::pxa_xscale});
    ASSERT_TRUE(lp.ready());
    lp.apply(line_settings(B115200));
    EXPECT_TRUE(lp.chip().unit_enabled());
    EXPECT_EQ(lp.chip().ier() & 0x50, 0x50);
}

struct MaskCase {
    const char* what;
    tcflag_t iflag;
    bool receiver_on;
    std::uint32_t status_mask;
    std::uint32_t ignore_mask;
};

TEST(StatusMasks, InputFlagsChooseWhatTheReceivePathReportsAndDrops) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    const MaskCase cases[] = {
        {"nothing asked", 0, true, 0x23, 0x00},
        {"INPCK: parity and framing errors", INPCK, true, 0x2f, 0x00},
        {"BRKINT: breaks", BRKINT, true, 0x33, 0x00},
        {"PARMRK: breaks", PARMRK, true, 0x33, 0x00},
        {"INPCK and BRKINT", INPCK | BRKINT, true, 0x3f, 0x00},
        {"IGNPAR", IGNPAR, true, 0x23, 0x0c},
        {"IGNBRK alone", IGNBRK, true, 0x23, 0x10},
        {"IGNBRK with IGNPAR also drops overruns", IGNBRK | IGNPAR, true, 0x23, 0x1e},
        {"CREAD clear drops every character", 0, false, 0x23, 0x01},
        {"everything ignored, receiver off", IGNBRK | IGNPAR | INPCK, false, 0x2f, 0x1f},
    };
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.what);
        // Leftovers of earlier settings must not survive.
        lp.port()->rx_status_mask = 0xff;
        lp.port()->rx_ignore_mask = 0xff;
        ktermios settings = line_settings(B9600, CS8, c.iflag);
        if (!c.receiver_on) settings.c_cflag &= ~CREAD;
        lp.apply(settings);
        EXPECT_EQ(lp.port()->rx_status_mask, c.status_mask);
        EXPECT_EQ(lp.port()->rx_ignore_mask, c.ignore_mask);
    }
}

struct ModemIrqCase {
    const char* what;
    tcflag_t cflag_extra;
    bool modem_lines_ignored;  // CLOCAL
    bool always_modem_irq;
    bool has_core_state;
    std::uint32_t core_flags;
    bool modem_irq;
};

TEST(ModemStatusInterrupt, OnWhenAnythingWatchesTheModemLines) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    const ModemIrqCase cases[] = {
        {"CLOCAL and nothing else", 0, true, false, false, 0, false},
        {"CLOCAL clear: carrier is watched", 0, false, false, false, 0, true},
        {"CRTSCTS", CRTSCTS, true, false, false, 0, true},
        {"always_modem_irq", 0, true, true, false, 0, true},
        {"DSR flow control of the open port", 0, true, false, true, state_dsr_flow, true},
        {"open port with other flow flags only", 0, true, false, true, state_cts_flow | state_check_cd, false},
    };
    const std::uint32_t flags_before = lp.port()->port_flags;
    for (const ModemIrqCase& c : cases) {
        SCOPED_TRACE(c.what);
        core_port_state state{};
        state.flags = c.core_flags;
        lp.port()->core_state = c.has_core_state ? &state : nullptr;
        lp.port()->port_flags = flags_before | (c.always_modem_irq ? always_modem_irq : 0u);
        // The other causes stay as they were; the modem-status bit is decided afresh.
        lp.up().ier_shadow = 0x0f;
        ktermios settings = line_settings(B9600, CS8 | c.cflag_extra);
        if (!c.modem_lines_ignored) settings.c_cflag &= ~CLOCAL;
        const auto trace = lp.apply(settings);
        const std::uint8_t ier = c.modem_irq ? 0x0f : 0x07;
        EXPECT_EQ(writes_among(trace, {"IER"}), std::vector<RegisterAccess>{wr("IER", ier)});
        EXPECT_EQ(lp.up().ier_shadow, ier);
        EXPECT_EQ(lp.chip().ier(), ier);
        lp.port()->core_state = nullptr;
        lp.port()->port_flags = flags_before;
    }
}

// The masks at work: a character with a parity error between two good ones, from a far end
// that uses even parity, read by a process.
struct ParityInputCase {
    const char* what;
    tcflag_t iflag;
    std::vector<unsigned char> bytes;
    std::vector<char> flags;
};

TEST(StatusMasks, ParityErrorsAreReportedDroppedOrPassedAsTheSettingsSay) {
    using namespace std::chrono_literals;
    const ParityInputCase cases[] = {
        {"INPCK reports it", INPCK, {'a', 'b', 'c'}, {TTY_NORMAL, TTY_PARITY, TTY_NORMAL}},
        {"IGNPAR drops it", INPCK | IGNPAR, {'a', 'c'}, {TTY_NORMAL, TTY_NORMAL}},
        {"without INPCK it passes as a plain character", 0, {'a', 'b', 'c'}, {TTY_NORMAL, TTY_NORMAL, TTY_NORMAL}},
    };
    for (const ParityInputCase& c : cases) {
        SCOPED_TRACE(c.what);
        LinePort lp({});
        ASSERT_TRUE(lp.ready());
        const auto file = lp.dm.core().open(lp.device());
        ASSERT_TRUE(file.ok()) << file.error();
        ASSERT_EQ(lp.dm.core().set_termios(*file, line_settings(B38400, CS8 | PARENB, c.iflag)), 0);
        lp.dm.machine.run_for(50ms);
        ASSERT_EQ(lp.dm.core().flush(*file, sim::kernel::FlushQueues::both), 0);

        sim::hw::HostEndpoint host(lp.dm.machine.events(), {38400, {8, Parity::even, 2}});
        host.connect(lp.chip());
        host.send_byte('a');
        host.send_byte('b', sim::hw::FrameFault::parity);
        host.send_byte('c');
        lp.dm.machine.run_for(20ms);
        const auto got = lp.dm.core().read(*file, {.max = 16, .min = c.bytes.size(), .limit = 200ms});
        ASSERT_TRUE(got.ok()) << got.error();
        EXPECT_EQ(got->bytes, c.bytes);
        EXPECT_EQ(got->flags, c.flags);
        EXPECT_EQ(lp.dm.core().get_counters(*file)->parity_errors, 1u) << "counted whatever the settings";
        host.disconnect();
        EXPECT_EQ(lp.dm.core().close(*file), 0);
    }
}

}  // namespace
}  // namespace driver_test
