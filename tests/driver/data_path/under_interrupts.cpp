// The data path as it runs for real: a 16550A at 0x100 on line 5, opened by a process, the far
// end of its cable driven by a host. Errors and breaks reach the reader with their flags, and
// CTS flow control holds output back and lets it go again, all under the chip's interrupts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "driver_harness.h"
#include "sim/hw/line/host_endpoint.h"

namespace driver_test {
namespace {

using namespace std::chrono_literals;
using sim::hw::FrameFault;
using sim::hw::ModemSignal;
using sim::kernel::FileHandle;

class UnderInterrupts : public ::testing::Test {
protected:
    UnderInterrupts() : chip(dm.place_pc_uart(0x100, sim::hw::UartModel::ns16550a, 5)), host(dm.machine.events()) {}

    void SetUp() override {
        host.connect(chip);
        ASSERT_TRUE(dm.load("nr_uarts=8"));
        uart_port templ = io_template(0x100, 5);
        line = dm.register_port(templ);
        ASSERT_GE(line, 0);
        auto opened = dm.core().open("ttyS" + std::to_string(line), sim::kernel::OpenMode::nonblocking);
        ASSERT_TRUE(opened.ok()) << opened.error();
        file = *opened;
    }
    void TearDown() override {
        if (file.id >= 0) {
            EXPECT_EQ(dm.core().close(file), 0);
        }
        host.disconnect();
    }

    void apply(tcflag_t cflag, tcflag_t iflag) {
        ktermios settings = *dm.core().get_termios(file);
        settings.c_cflag = B115200 | CS8 | CREAD | CLOCAL | cflag;
        settings.c_iflag = iflag;
        ASSERT_EQ(dm.core().set_termios(file, settings), 0);
        sim::hw::HostSettings host_settings;
        host_settings.format = sim::hw::LineFormat::from_lcr((cflag & PARENB) ? 0x1b : 0x03);
        host.set_settings(host_settings);
        dm.machine.run_for(10ms);
        ASSERT_EQ(dm.core().flush(file, sim::kernel::FlushQueues::both), 0);
    }

    DriverMachine dm;
    sim::hw::UartChip& chip;
    sim::hw::HostEndpoint host;
    int line = -1;
    FileHandle file{};
};

TEST_F(UnderInterrupts, ErrorsAndBreaksReachTheReaderWithTheirFlags) {
    apply(PARENB, INPCK | BRKINT);
    const uart_icount before = *dm.core().get_counters(file);

    host.send_byte('a');
    host.send_byte('b', FrameFault::parity);
    host.send_break(1ms);
    host.send_byte('c', FrameFault::framing);
    host.send_byte('d');
    dm.machine.run_for(20ms);

    auto got = dm.core().read(file, {.max = 16, .min = 5, .limit = 100ms});
    ASSERT_TRUE(got.ok()) << got.error();
    EXPECT_EQ(got->bytes, (std::vector<unsigned char>{'a', 'b', 0, 'c', 'd'}));
    EXPECT_EQ(got->flags, (std::vector<char>{TTY_NORMAL, TTY_PARITY, TTY_BREAK, TTY_FRAME, TTY_NORMAL}));
    const uart_icount after = *dm.core().get_counters(file);
    EXPECT_EQ(after.rx_chars - before.rx_chars, 5u);
    EXPECT_EQ(after.parity_errors - before.parity_errors, 1u);
    EXPECT_EQ(after.breaks - before.breaks, 1u);
    EXPECT_EQ(after.frame_errors - before.frame_errors, 1u);
}

TEST_F(UnderInterrupts, IgnoredErrorsNeverReachTheReader) {
    // A break is dropped only when it is reported at all (BRKINT) and then ignored.
    apply(PARENB, INPCK | BRKINT | IGNPAR | IGNBRK);
    host.send_byte('a');
    host.send_byte('b', FrameFault::parity);
    host.send_break(1ms);
    host.send_byte('d');
    dm.machine.run_for(20ms);

    auto got = dm.core().read(file, {.max = 16, .min = 2, .limit = 100ms});
    ASSERT_TRUE(got.ok()) << got.error();
    EXPECT_EQ(got->bytes, (std::vector<unsigned char>{'a', 'd'}));
    EXPECT_EQ(got->flags, (std::vector<char>{TTY_NORMAL, TTY_NORMAL}));
}

TEST_F(UnderInterrupts, UnreportedBreakArrivesAsAPlainZeroEvenUnderIgnbrk) {
    apply(0, IGNBRK);
    host.send_byte('a');
    host.send_break(1ms);
    host.send_byte('d');
    dm.machine.run_for(20ms);
    auto got = dm.core().read(file, {.max = 16, .min = 3, .limit = 100ms});
    ASSERT_TRUE(got.ok()) << got.error();
    EXPECT_EQ(got->bytes, (std::vector<unsigned char>{'a', 0, 'd'}));
    EXPECT_EQ(got->flags, (std::vector<char>{TTY_NORMAL, TTY_NORMAL, TTY_NORMAL}));
}

TEST_F(UnderInterrupts, CtsFlowHoldsOutputBackAndLetsItGo) {
    host.set_modem_output(ModemSignal::cts, true);
    apply(CRTSCTS, 0);
    serial8250_uart& up = dm.slot(static_cast<unsigned>(line));
    host.clear_received();

    host.set_modem_output(ModemSignal::cts, false);
    dm.machine.run_for(1ms);
    const std::string text(200, 'x');
    auto written = dm.core().write(file, std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
    ASSERT_TRUE(written.ok()) << written.error();
    dm.machine.run_for(50ms);
    EXPECT_TRUE(host.received().empty()) << "nothing goes out while CTS is low";
    EXPECT_EQ(up.ier_shadow & 0x02, 0) << "the transmit interrupt stays off";
    EXPECT_EQ(*dm.core().output_pending(file), 200u);

    host.set_modem_output(ModemSignal::cts, true);
    dm.machine.run_until([&] { return host.received().size() == 200; }, 1s);
    EXPECT_EQ(host.received_bytes(), std::vector<std::uint8_t>(200, 'x'));
    EXPECT_EQ(*dm.core().output_pending(file), 0u);
}

}  // namespace
}  // namespace driver_test
