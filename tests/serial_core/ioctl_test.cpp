// The ioctls: settings, modem lines, break, serial info, counters, waiting for modem changes.
#include <gtest/gtest.h>

#include "drivers/serial/kernel/errors.h"
#include "tests/serial_core/serial_core_fixture.h"

namespace serial_core_test {
namespace {

using sim::kernel::FileHandle;
using sim::kernel::SettingsWhen;
using namespace std::chrono_literals;

class IoctlTest : public SerialCoreFixture {
protected:
    IoctlTest() : stub(add_port(0)), file(open_ok("ttyS0")) { stub.calls.clear(); }
    ktermios settings() { return *core.get_termios(file); }

    StubUart& stub;
    FileHandle file;
};

TEST_F(IoctlTest, SetTermiosReachesTheDriverOnlyWhenSomethingRelevantChanged) {
    ktermios changed = settings();
    changed.c_lflag &= ~ECHO;
    ASSERT_EQ(core.set_termios(file, changed), 0);
    EXPECT_EQ(stub.count("set_termios"), 0u) << "echo is no business of the driver";
    changed.c_iflag |= INPCK;
    ASSERT_EQ(core.set_termios(file, changed), 0);
    EXPECT_EQ(stub.count("set_termios"), 1u);
    changed.c_cflag = (changed.c_cflag & ~CBAUD) | B115200;
    ASSERT_EQ(core.set_termios(file, changed), 0);
    EXPECT_EQ(stub.last("set_termios")->argument & CBAUD, static_cast<long>(B115200));
    EXPECT_EQ(settings().c_lflag & ECHO, 0u);
}

TEST_F(IoctlTest, RateTheDriverCannotDoIsReadBackAsTheOneInUse) {
    ktermios fast = settings();
    fast.c_cflag = (fast.c_cflag & ~CBAUD) | B921600;  // above clock / 16
    ASSERT_EQ(core.set_termios(file, fast), 0);
    EXPECT_EQ(settings().c_cflag & CBAUD, B9600) << "the previous rate stays";
}

TEST_F(IoctlTest, SettingsAfterDrainWaitForOutputAndAfterFlushDropInput) {
    ASSERT_EQ(*core.write(file, std::vector<unsigned char>(160, 'x')), 160u);
    stub.receive({'o', 'l', 'd'});
    ktermios changed = settings();
    changed.c_cflag |= CSTOPB;
    const auto start = machine.now();
    ASSERT_EQ(core.set_termios(file, changed, SettingsWhen::after_flush), 0);
    EXPECT_GE(machine.now() - start, 10ms) << "ten bursts had to go first";
    EXPECT_EQ(stub.sent.size(), 160u);
    EXPECT_EQ(*core.input_pending(file), 0u);
    EXPECT_EQ(stub.last("set_termios")->argument & CSTOPB, static_cast<long>(CSTOPB));
}

TEST_F(IoctlTest, CrtsctsFollowsCtsAndTurningItOffRestartsOutput) {
    stub.modem_status = TIOCM_DSR | TIOCM_CAR;
    ktermios flow = settings();
    flow.c_cflag |= CRTSCTS;
    ASSERT_EQ(core.set_termios(file, flow), 0);
    EXPECT_TRUE(stub.last("stop_tx")->port_lock_held);
    sim::kernel::Tty* tty = core.tty_of(file);
    EXPECT_NE(tty->stopped_bits() & modem_stopped, 0);
    EXPECT_EQ(stub.port()->core_state->flags, state_cts_flow);
    ASSERT_EQ(*core.write(file, std::vector<unsigned char>(5, 'y')), 5u);
    EXPECT_EQ(stub.count("start_tx"), 0u);
    flow.c_cflag &= ~CRTSCTS;
    ASSERT_EQ(core.set_termios(file, flow), 0);
    EXPECT_EQ(tty->stopped_bits() & modem_stopped, 0);
    EXPECT_EQ(stub.count("start_tx"), 1u);
    EXPECT_EQ(stub.port()->core_state->flags, 0u);
}

TEST_F(IoctlTest, B0DropsTheLinesAndLeavingItRaisesThem) {
    ktermios hang = settings();
    hang.c_cflag &= ~CBAUD;
    ASSERT_EQ(core.set_termios(file, hang), 0);
    EXPECT_EQ(stub.port()->modem_ctrl & (TIOCM_DTR | TIOCM_RTS), 0u);
    hang.c_cflag |= B19200;
    ASSERT_EQ(core.set_termios(file, hang), 0);
    EXPECT_EQ(stub.port()->modem_ctrl & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
}

TEST_F(IoctlTest, DsrFlowIsALineSettingThatReachesThePortState) {
    sim::kernel::LineSettings line = core.line_settings(0);
    line.dsr_flow = true;
    ASSERT_EQ(core.set_line_settings(0, line), 0);
    EXPECT_EQ(stub.port()->core_state->flags, state_dsr_flow);
    EXPECT_EQ(stub.count("set_termios"), 1u) << "the driver's modem interrupt depends on it";
}

TEST_F(IoctlTest, ModemLinesGetSetBisBic) {
    stub.modem_status = TIOCM_CTS | TIOCM_RNG;
    EXPECT_EQ(*core.get_modem_lines(file), TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_RNG);
    EXPECT_TRUE(stub.last("get_mctrl")->port_lock_held);

    ASSERT_EQ(core.set_modem_lines(file, TIOCM_DTR | TIOCM_OUT2 | TIOCM_CTS), 0);
    EXPECT_EQ(stub.last("set_mctrl")->argument, static_cast<long>(TIOCM_DTR | TIOCM_OUT2))
        << "input lines are not settable";
    ASSERT_EQ(core.raise_modem_lines(file, TIOCM_RTS | TIOCM_LOOP), 0);
    EXPECT_EQ(stub.port()->modem_ctrl, TIOCM_DTR | TIOCM_OUT2 | TIOCM_RTS | TIOCM_LOOP);
    ASSERT_EQ(core.lower_modem_lines(file, TIOCM_LOOP | TIOCM_DTR), 0);
    EXPECT_EQ(stub.port()->modem_ctrl, TIOCM_OUT2 | TIOCM_RTS);
    EXPECT_TRUE(stub.last("set_mctrl")->port_lock_held);
    const std::size_t writes = stub.count("set_mctrl");
    ASSERT_EQ(core.raise_modem_lines(file, TIOCM_RTS), 0);
    EXPECT_EQ(stub.count("set_mctrl"), writes) << "no change, no write";
}

TEST_F(IoctlTest, TimedBreakIsOnForItsDuration) {
    const auto start = machine.now();
    ASSERT_EQ(core.send_break(file, 250ms), 0);
    std::vector<long> states;
    for (const StubCall& call : stub.calls)
        if (call.operation == "break_ctl") states.push_back(call.argument);
    EXPECT_EQ(states, (std::vector<long>{-1, 0}));
    EXPECT_EQ(machine.now() - start, 250ms);
    EXPECT_FALSE(stub.last("break_ctl")->port_lock_held);
    ASSERT_EQ(core.set_break(file, true), 0);
    EXPECT_EQ(stub.last("break_ctl")->argument, -1);
    ASSERT_EQ(core.set_break(file, false), 0);
    EXPECT_EQ(stub.last("break_ctl")->argument, 0);
}

TEST_F(IoctlTest, SerialInfoDescribesThePort) {
    stub.port()->irq_line = 4;
    const auto info = core.get_serial_info(file);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->req_type, 4);
    EXPECT_EQ(info->line, 0);
    EXPECT_EQ(info->port, 0x3f8u);
    EXPECT_EQ(info->req_irq, 4);
    EXPECT_EQ(info->req_baud_base, 115200);
    EXPECT_EQ(info->xmit_fifo_size, 16);
    EXPECT_EQ(info->close_delay, 50);
    EXPECT_EQ(info->closing_wait, 3000);
    EXPECT_EQ(info->flags, static_cast<std::int32_t>(configure_on_add));
}

TEST_F(IoctlTest, SerialInfoRefusedByTheDriverChangesNothing) {
    requested_settings info = *core.get_serial_info(file);
    info.req_irq = 9;
    info.req_baud_base = 57600;
    stub.verify_result = -kerr::inval;
    EXPECT_EQ(core.set_serial_info(file, info), -kerr::inval);
    EXPECT_EQ(stub.last("verify_port")->argument, 9);
    EXPECT_EQ(stub.port()->irq_line, 4u);
    EXPECT_EQ(stub.port()->uart_clock_hz, 1843200u);
    EXPECT_EQ(stub.count("shutdown"), 0u);
}

TEST_F(IoctlTest, SerialInfoOwnChecksRefuseBadValues) {
    requested_settings info = *core.get_serial_info(file);
    for (auto spoil : std::vector<void (*)(requested_settings&)>{
             [](requested_settings& s) { s.req_irq = 4096; },
             [](requested_settings& s) { s.req_irq = -1; },
             [](requested_settings& s) { s.req_baud_base = 9599; },
             [](requested_settings& s) { s.xmit_fifo_size = -1; },
             [](requested_settings& s) { s.port_high = 1; }}) {
        requested_settings bad = info;
        spoil(bad);
        EXPECT_EQ(core.set_serial_info(file, bad), -kerr::inval);
    }
    EXPECT_TRUE(stub.calls.size() == stub.count("verify_port"));
}

TEST_F(IoctlTest, SerialInfoIrqChangeRestartsTheOpenPort) {
    requested_settings info = *core.get_serial_info(file);
    info.req_irq = 5;
    ASSERT_EQ(core.set_serial_info(file, info), 0);
    const std::vector<std::string> expected{"verify_port", "set_mctrl",   "shutdown",
                                            "startup",     "set_termios", "set_mctrl"};
    EXPECT_EQ(stub.names(), expected);
    EXPECT_EQ(stub.port()->irq_line, 5u);
}

TEST_F(IoctlTest, SerialInfoIrqChangeIsBusyWithTwoUsers) {
    const FileHandle other = open_ok("ttyS0");
    requested_settings info = *core.get_serial_info(file);
    info.req_irq = 5;
    EXPECT_EQ(core.set_serial_info(file, info), -kerr::busy);
    EXPECT_EQ(stub.port()->irq_line, 4u);
    EXPECT_EQ(core.close(other), 0);
}

TEST_F(IoctlTest, SerialInfoBaudBaseReprogramsARunningPort) {
    requested_settings info = *core.get_serial_info(file);
    info.req_baud_base = 921600;
    info.flags |= static_cast<std::int32_t>(skip_txen_test | sak_on_break);
    ASSERT_EQ(core.set_serial_info(file, info), 0);
    EXPECT_EQ(stub.port()->uart_clock_hz, 14745600u);
    EXPECT_EQ(stub.count("set_termios"), 1u);
    EXPECT_EQ(stub.count("shutdown"), 0u);
    EXPECT_EQ(stub.port()->port_flags & sak_on_break, sak_on_break);
    EXPECT_EQ(stub.port()->port_flags & skip_txen_test, 0u) << "not a flag users may change";
}

TEST_F(IoctlTest, SerialInfoNewPlaceThatCannotBeClaimedGoesBack) {
    requested_settings info = *core.get_serial_info(file);
    info.port = 0x2e8;
    stub.request_port_result = -kerr::busy;
    EXPECT_EQ(core.set_serial_info(file, info), -kerr::busy);
    EXPECT_EQ(stub.port()->io_base, 0x3f8u);
    EXPECT_EQ(stub.port()->uart_type, 0u) << "the old place could not be had back either";
    stub.request_port_result = 0;
    info.port = 0x3f8;
    info.req_type = 4;
    ASSERT_EQ(core.set_serial_info(file, info), 0);
    EXPECT_EQ(stub.port()->uart_type, 4u);
    EXPECT_EQ(stub.last("startup"), &stub.calls[stub.calls.size() - 3])
        << "the open port starts once it has a type again";
}

TEST_F(IoctlTest, CountersAreTakenUnderTheLock) {
    stub.port()->counters.breaks = 3;
    stub.port()->counters.rx_chars = 70000;
    const auto counters = core.get_counters(file);
    ASSERT_TRUE(counters.ok());
    EXPECT_EQ(counters->breaks, 3u);
    EXPECT_EQ(counters->rx_chars, 70000u);
}

TEST_F(IoctlTest, WaitModemChangeWakesOnTheLinesAsked) {
    machine.events().schedule_after(5ms, [&] { stub.modem_change(stub.modem_status | TIOCM_RNG); });
    machine.events().schedule_after(9ms, [&] { stub.modem_change(stub.modem_status & ~TIOCM_CTS); });
    const auto start = machine.now();
    ASSERT_EQ(core.wait_modem_change(file, TIOCM_CTS | TIOCM_CAR, 1s), 0);
    EXPECT_EQ(machine.now() - start, 9ms) << "the ring change is not one of the lines asked";
    EXPECT_TRUE(stub.last("enable_ms")->port_lock_held);
    EXPECT_EQ(core.wait_modem_change(file, TIOCM_DSR, 20ms), -kerr::intr);
}

TEST_F(IoctlTest, HandlesThatAreNotOpenAreBad) {
    const FileHandle stray{999};
    EXPECT_EQ(core.get_termios(stray).error(), -9);
    EXPECT_EQ(core.read(stray).error(), -9);
    EXPECT_EQ(core.set_break(stray, true), -9);
    EXPECT_EQ(core.tty_of(stray), nullptr);
}

}  // namespace
}  // namespace serial_core_test
