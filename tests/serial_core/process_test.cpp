// The process side: opening and closing ttyS devices, reading, writing and polling.
#include <gtest/gtest.h>

#include <ostream>

#include <numeric>

#include "drivers/serial/kernel/errors.h"
#include "tests/serial_core/serial_core_fixture.h"

namespace serial_core_test {
namespace {

using sim::kernel::FileHandle;
using sim::kernel::OpenMode;
using sim::kernel::ReadRequest;
using namespace std::chrono_literals;

using OpenCloseTest = SerialCoreFixture;

TEST_F(OpenCloseTest, FirstOpenStartsAppliesDefaultsAndRaisesLines) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    const std::vector<std::string> expected{"pm", "startup", "set_termios", "set_mctrl"};
    EXPECT_EQ(stub.names(), expected);
    EXPECT_EQ(stub.calls[0].argument, 0) << "powered up before startup";
    EXPECT_FALSE(stub.calls[1].port_lock_held) << "startup may sleep";
    EXPECT_FALSE(stub.calls[2].port_lock_held);
    EXPECT_EQ(stub.calls[2].argument, static_cast<long>(B9600 | CS8 | CREAD | HUPCL | CLOCAL));
    EXPECT_TRUE(stub.calls[3].port_lock_held);
    EXPECT_EQ(stub.calls[3].argument, static_cast<long>(TIOCM_DTR | TIOCM_RTS));
    ASSERT_NE(stub.port()->core_state, nullptr);
    EXPECT_NE(stub.port()->core_state->tty, nullptr);
    EXPECT_EQ(stub.port()->core_state->flags, 0u) << "CLOCAL, no CRTSCTS, no DSR flow";
    EXPECT_EQ(stub.port()->fifo_timeout, 9u) << "the driver's settings took the timeout";

    const auto settings = core.get_termios(file);
    ASSERT_TRUE(settings.ok());
    EXPECT_EQ(settings->c_iflag, ICRNL | IXON);
    EXPECT_EQ(settings->c_oflag, OPOST | ONLCR);
    EXPECT_EQ(settings->c_cc[VMIN], 1);
    EXPECT_EQ(settings->c_cc[VSTOP], 0x13);
}

TEST_F(OpenCloseTest, SecondOpenSharesThePortAndOnlyTheLastCloseShutsDown) {
    StubUart& stub = add_port(0);
    const FileHandle first = open_ok("ttyS0");
    const FileHandle second = open_ok("/dev/ttyS0");
    EXPECT_EQ(stub.count("startup"), 1u);
    EXPECT_EQ(core.close(first), 0);
    EXPECT_EQ(stub.count("shutdown"), 0u);
    stub.calls.clear();
    EXPECT_EQ(core.close(second), 0);
    const std::vector<std::string> expected{"tx_empty", "stop_rx", "tx_empty", "set_mctrl",
                                            "shutdown", "pm"};
    EXPECT_EQ(stub.names(), expected);
    EXPECT_TRUE(stub.calls[1].port_lock_held);
    EXPECT_EQ(stub.calls[3].argument, 0) << "HUPCL drops DTR and RTS before shutdown";
    EXPECT_EQ(stub.calls[5].argument, 3);
    EXPECT_EQ(stub.port()->core_state, nullptr);
    EXPECT_EQ(core.close(second), -9) << "a closed handle is gone";
}

TEST_F(OpenCloseTest, WithoutHupclTheLinesStayUp) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    ktermios settings = *core.get_termios(file);
    settings.c_cflag &= ~HUPCL;
    ASSERT_EQ(core.set_termios(file, settings), 0);
    stub.calls.clear();
    ASSERT_EQ(core.close(file), 0);
    EXPECT_EQ(stub.count("set_mctrl"), 0u);
    EXPECT_EQ(stub.port()->modem_ctrl & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
}

struct OpenErrorCase {
    const char* name;
    const char* device;
    int error;
    friend std::ostream& operator<<(std::ostream& out, const OpenErrorCase& c) { return out << c.name; }
};

class OpenErrorTest : public SerialCoreFixture,
                      public ::testing::WithParamInterface<OpenErrorCase> {};

TEST_P(OpenErrorTest, RefusedWithTheKernelsError) {
    add_port(0);
    EXPECT_EQ(core.open(GetParam().device).error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OpenErrorTest,
    ::testing::Values(OpenErrorCase{"NoPortAdded", "ttyS1", -kerr::nxio},
                      OpenErrorCase{"BeyondTheDriversLines", "ttyS32", -kerr::nodev},
                      OpenErrorCase{"BeyondTheMajor", "ttyS192", -kerr::nodev},
                      OpenErrorCase{"NotATtyS", "ttyUSB0", -kerr::noent},
                      OpenErrorCase{"NoNumber", "ttyS", -kerr::noent},
                      OpenErrorCase{"Signed", "ttyS-1", -kerr::noent},
                      OpenErrorCase{"LeadingZero", "ttyS01", -kerr::noent},
                      OpenErrorCase{"Trailing", "ttyS0x", -kerr::noent}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenCloseTest, NoDriverForTheMajorIsNoDevice) {
    uart_unregister_driver(&driver);
    // The module loader is asked for char-major-4-64; no module folder, no module answers.
    machine.modules().set_module_dir(testing::TempDir() + "/no-modules-here");
    EXPECT_EQ(core.open("ttyS0").error(), -kerr::nodev);
    ASSERT_EQ(uart_register_driver(&driver), 0);
}

TEST_F(OpenCloseTest, StartupErrorFailsTheOpenAndLeavesNothingOpen) {
    StubUart& stub = add_port(0);
    stub.startup_result = -kerr::nodev;
    EXPECT_EQ(core.open("ttyS0").error(), -kerr::nodev);
    EXPECT_EQ(stub.port()->core_state, nullptr);
    EXPECT_EQ(stub.count("shutdown"), 0u);
    EXPECT_EQ(stub.last("pm")->argument, 3);
    stub.startup_result = 0;
    stub.calls.clear();
    const FileHandle file = open_ok("ttyS0");
    EXPECT_EQ(stub.count("startup"), 1u) << "the next open starts afresh";
    EXPECT_EQ(core.close(file), 0);
}

TEST_F(OpenCloseTest, UnknownTypeOpensButRefusesInputAndOutput) {
    StubUart& stub = make_port(2);
    stub.detected_type = 0;
    ASSERT_EQ(uart_add_one_port(&driver, stub.port()), 0);
    stub.calls.clear();
    const FileHandle file = open_ok("ttyS2", OpenMode::nonblocking);
    EXPECT_EQ(stub.count("startup"), 0u);
    EXPECT_EQ(core.read(file).error(), -kerr::io);
    EXPECT_EQ(core.write(file, std::vector<unsigned char>{1}).error(), -kerr::io);
    EXPECT_EQ(core.get_modem_lines(file).error(), -kerr::io);
    EXPECT_TRUE(core.get_serial_info(file).ok()) << "so that setserial can name the type";
    EXPECT_TRUE(core.poll(file)->error);
    EXPECT_EQ(core.close(file), 0);
    EXPECT_EQ(stub.count("shutdown"), 0u);
}

TEST_F(OpenCloseTest, CrtsctsWithoutCtsStopsOutputAtOpen) {
    StubUart& stub = add_port(0);
    FileHandle file = open_ok("ttyS0");
    ktermios settings = *core.get_termios(file);
    settings.c_cflag |= CRTSCTS;
    ASSERT_EQ(core.set_termios(file, settings), 0);
    ASSERT_EQ(core.close(file), 0);
    stub.modem_status = TIOCM_DSR | TIOCM_CAR;
    file = open_ok("ttyS0");
    EXPECT_EQ(stub.port()->core_state->flags, state_cts_flow) << "settings persist across opens";
    EXPECT_NE(stub.port()->core_state->tty->stopped_bits & modem_stopped, 0);
}

TEST_F(OpenCloseTest, BlockingOpenWithoutClocalWaitsForCarrier) {
    StubUart& stub = add_port(0);
    FileHandle file = open_ok("ttyS0");
    ktermios settings = *core.get_termios(file);
    settings.c_cflag &= ~CLOCAL;
    ASSERT_EQ(core.set_termios(file, settings), 0);
    ASSERT_EQ(core.close(file), 0);

    stub.modem_status = TIOCM_CTS;  // no carrier
    EXPECT_EQ(core.open("ttyS0", OpenMode::blocking, 50ms).error(), -kerr::intr);
    EXPECT_EQ(stub.port()->core_state, nullptr) << "the failed open closed the port again";

    machine.events().schedule_after(30ms, [&] { stub.modem_change(TIOCM_CTS | TIOCM_CAR); });
    const auto start = machine.now();
    auto opened = core.open("ttyS0", OpenMode::blocking, 1s);
    ASSERT_TRUE(opened.ok()) << opened.error();
    EXPECT_GE(machine.now() - start, 30ms);
    EXPECT_LT(machine.now() - start, 40ms);
    EXPECT_EQ(stub.port()->core_state->flags, state_check_cd);
    const FileHandle quick = open_ok("ttyS0", OpenMode::nonblocking);
    EXPECT_EQ(core.close(quick), 0);
    EXPECT_EQ(core.close(*opened), 0);
}

using ReadWriteTest = SerialCoreFixture;

TEST_F(ReadWriteTest, WriteQueuesAndStartsTheTransmitterUnderTheLock) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    stub.calls.clear();
    std::vector<unsigned char> bytes(100);
    std::iota(bytes.begin(), bytes.end(), 0);
    const auto written = core.write(file, bytes);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(*written, 100u);
    const StubCall* start = stub.last("start_tx");
    ASSERT_NE(start, nullptr);
    EXPECT_TRUE(start->port_lock_held);
    EXPECT_EQ(*core.output_pending(file), 100u);
    ASSERT_EQ(core.drain(file), 0);
    EXPECT_EQ(stub.sent, bytes);
    EXPECT_EQ(*core.output_pending(file), 0u);
    EXPECT_GT(stub.count("tx_empty"), 0u) << "drain waits for the transmitter too";
}

TEST_F(ReadWriteTest, BlockingWriteLargerThanTheRingWaitsForRoom) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    std::vector<unsigned char> bytes(10000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
    const auto written = core.write(file, bytes, 5s);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(*written, bytes.size());
    ASSERT_EQ(core.drain(file, 5s), 0);
    EXPECT_EQ(stub.sent, bytes);
    EXPECT_GT(core.write_wakeups(0), 0u);
}

TEST_F(ReadWriteTest, NonBlockingWriteTakesWhatFitsThenWouldBlock) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0", OpenMode::nonblocking);
    ASSERT_EQ(core.flow(file, sim::kernel::FlowAction::stop_output), 0);
    const std::vector<unsigned char> bytes(5000, 'a');
    EXPECT_EQ(*core.write(file, bytes), 4095u) << "one place of the ring stays free";
    EXPECT_EQ(core.write(file, bytes).error(), -kerr::again);
    EXPECT_FALSE(core.poll(file)->writable);
    EXPECT_TRUE(stub.sent.empty()) << "output is stopped";
    ASSERT_EQ(core.flow(file, sim::kernel::FlowAction::start_output), 0);
    machine.run_for(1s);
    EXPECT_EQ(stub.sent.size(), 4095u);
    EXPECT_TRUE(core.poll(file)->writable);
}

TEST_F(ReadWriteTest, BlockingWriteThatNeverGetsRoomIsInterrupted) {
    add_port(0);
    const FileHandle file = open_ok("ttyS0");
    ASSERT_EQ(core.flow(file, sim::kernel::FlowAction::stop_output), 0);
    const std::vector<unsigned char> bytes(5000, 'b');
    EXPECT_EQ(*core.write(file, bytes, 20ms), 4095u) << "a partial write reports its part";
    EXPECT_EQ(core.write(file, bytes, 20ms).error(), -kerr::intr);
}

TEST_F(ReadWriteTest, NonBlockingReadWithoutDataWouldBlock) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0", OpenMode::nonblocking);
    EXPECT_EQ(core.read(file).error(), -kerr::again);
    EXPECT_FALSE(core.poll(file)->readable);
    stub.receive({'h', 'i'});
    EXPECT_TRUE(core.poll(file)->readable);
    EXPECT_EQ(*core.input_pending(file), 2u);
    const auto got = core.read(file);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got->bytes, (std::vector<unsigned char>{'h', 'i'}));
}

TEST_F(ReadWriteTest, BlockingReadWaitsForDataAndGivesItsFlags) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    machine.events().schedule_after(5ms, [&] { stub.receive({'x'}, TTY_BREAK); });
    machine.events().schedule_after(8ms, [&] { stub.receive({'y', 'z'}); });
    const auto start = machine.now();
    const auto got = core.read(file, ReadRequest{.max = 10, .min = 3, .limit = 1s});
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(machine.now() - start, 8ms) << "returns as soon as min bytes are there";
    EXPECT_EQ(got->bytes, (std::vector<unsigned char>{'x', 'y', 'z'}));
    EXPECT_EQ(got->flags, (std::vector<char>{TTY_BREAK, TTY_NORMAL, TTY_NORMAL}));
}

TEST_F(ReadWriteTest, BlockingReadLimitGivesPartOrInterrupted) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    EXPECT_EQ(core.read(file, ReadRequest{.limit = 10ms}).error(), -kerr::intr);
    stub.receive({'a'});
    const auto got = core.read(file, ReadRequest{.max = 10, .min = 5, .limit = 10ms});
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got->bytes, std::vector<unsigned char>{'a'});
}

TEST_F(ReadWriteTest, ReaderFallingBehindThrottlesWithRtsAndUnthrottlesAfterReading) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    ktermios settings = *core.get_termios(file);
    settings.c_cflag |= CRTSCTS;
    ASSERT_EQ(core.set_termios(file, settings), 0);
    stub.calls.clear();

    std::vector<unsigned char> burst(4000);
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<unsigned char>(i);
    stub.receive(burst);
    const StubCall* dropped = stub.last("set_mctrl");
    ASSERT_NE(dropped, nullptr) << "the read queue is nearly full";
    EXPECT_TRUE(dropped->port_lock_held);
    EXPECT_EQ(dropped->argument & TIOCM_RTS, 0);
    EXPECT_NE(dropped->argument & TIOCM_DTR, 0);
    stub.receive(std::vector<unsigned char>(500, 0xee));  // what the sender had in flight

    std::vector<unsigned char> all;
    while (all.size() < 4500) {
        const auto got = core.read(file, ReadRequest{.max = 1000, .limit = 10ms});
        ASSERT_TRUE(got.ok());
        all.insert(all.end(), got->bytes.begin(), got->bytes.end());
    }
    EXPECT_TRUE(std::equal(burst.begin(), burst.end(), all.begin())) << "nothing dropped";
    EXPECT_NE(stub.last("set_mctrl")->argument & TIOCM_RTS, 0) << "RTS is back";
    EXPECT_EQ(stub.count("set_mctrl"), 2u);
}

TEST_F(ReadWriteTest, IxoffSendsStopAndStart) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    ktermios settings = *core.get_termios(file);
    settings.c_iflag |= IXOFF;
    ASSERT_EQ(core.set_termios(file, settings), 0);
    stub.receive(std::vector<unsigned char>(4000, 'q'));
    machine.run_for(5ms);
    ASSERT_EQ(stub.sent, std::vector<unsigned char>{0x13});
    while (core.read(file, ReadRequest{.max = 4096, .limit = 1ms}).ok()) {
    }
    machine.run_for(5ms);
    EXPECT_EQ(stub.sent, (std::vector<unsigned char>{0x13, 0x11}));
}

TEST_F(ReadWriteTest, CarrierLossHangsUpEveryFileOfTheLine) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0", OpenMode::nonblocking);
    ktermios settings = *core.get_termios(file);
    settings.c_cflag &= ~CLOCAL;
    ASSERT_EQ(core.set_termios(file, settings), 0);
    const FileHandle other = open_ok("ttyS0", OpenMode::nonblocking);
    sim::kernel::Tty* tty = core.tty_of(file);
    ASSERT_NE(tty, nullptr);
    stub.calls.clear();

    stub.modem_change(TIOCM_CTS | TIOCM_DSR);  // the carrier drops
    EXPECT_EQ(tty->hangups(), 1u);
    EXPECT_EQ(stub.count("shutdown"), 0u) << "carried out in process context, not here";

    const auto got = core.read(file);
    ASSERT_TRUE(got.ok());
    EXPECT_TRUE(got->bytes.empty()) << "end of file";
    EXPECT_EQ(stub.count("shutdown"), 1u);
    EXPECT_EQ(core.write(other, std::vector<unsigned char>{1}).error(), -kerr::io);
    EXPECT_TRUE(core.poll(other)->hangup);
    EXPECT_EQ(core.close(file), 0);
    EXPECT_EQ(core.close(other), 0);
    EXPECT_EQ(stub.count("shutdown"), 1u);

    stub.modem_status |= TIOCM_CAR;
    stub.calls.clear();
    const FileHandle again = open_ok("ttyS0", OpenMode::nonblocking);
    EXPECT_EQ(stub.count("startup"), 1u) << "a later open starts the port afresh";
    EXPECT_EQ(core.close(again), 0);
}

TEST_F(ReadWriteTest, CloseDrainsWhatIsQueuedFirst) {
    StubUart& stub = add_port(0);
    const FileHandle file = open_ok("ttyS0");
    const std::vector<unsigned char> bytes(1000, 'c');
    ASSERT_EQ(*core.write(file, bytes), 1000u);
    ASSERT_EQ(core.close(file), 0);
    EXPECT_EQ(stub.sent.size(), 1000u);
}

TEST_F(ReadWriteTest, CloseGivesUpAfterClosingWait) {
    StubUart& stub = add_port(0);
    sim::kernel::LineSettings line = core.line_settings(0);
    line.closing_wait_ms = 100;
    ASSERT_EQ(core.set_line_settings(0, line), 0);
    const FileHandle file = open_ok("ttyS0");
    ASSERT_EQ(core.flow(file, sim::kernel::FlowAction::stop_output), 0);
    ASSERT_EQ(*core.write(file, std::vector<unsigned char>(10, 'd')), 10u);
    const auto start = machine.now();
    ASSERT_EQ(core.close(file), 0);
    EXPECT_GE(machine.now() - start, 100ms);
    EXPECT_LT(machine.now() - start, 200ms);
    EXPECT_TRUE(stub.sent.empty());
    EXPECT_EQ(stub.count("shutdown"), 1u);
}

}  // namespace
}  // namespace serial_core_test
