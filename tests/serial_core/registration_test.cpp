// The serial core's registration side: drivers, adding and removing ports, the port report,
// port matching, suspend and resume, and /proc/tty/driver/serial.
#include <gtest/gtest.h>

#include <ostream>

#include "drivers/serial/kernel/errors.h"
#include "tests/serial_core/serial_core_fixture.h"

namespace serial_core_test {
namespace {

using RegistrationTest = SerialCoreFixture;

TEST_F(RegistrationTest, DriverIsRegisteredOnceAndBadRecordsAreRefused) {
    EXPECT_EQ(uart_register_driver(&driver), -kerr::busy);
    uart_driver same_major = make_ttys_driver();
    same_major.driver_name = "other";
    EXPECT_EQ(uart_register_driver(&same_major), -kerr::busy);
    uart_driver no_lines = make_ttys_driver();
    no_lines.major = 5;
    no_lines.driver_name = "none";
    no_lines.nr = 0;
    EXPECT_EQ(uart_register_driver(&no_lines), -kerr::inval);
    EXPECT_EQ(uart_register_driver(nullptr), -kerr::inval);
    EXPECT_EQ(core.driver_for_major(4), &driver);
    EXPECT_TRUE(machine.files().exists("/proc/tty/driver/serial"));
}

TEST_F(RegistrationTest, UnregisterRemovesTheProcFile) {
    uart_unregister_driver(&driver);
    EXPECT_FALSE(machine.files().exists("/proc/tty/driver/serial"));
    EXPECT_EQ(core.driver_for_major(4), nullptr);
    EXPECT_EQ(uart_register_driver(&driver), 0) << "a driver can come back after it left";
}

struct ConfigureCase {
    const char* name;
    std::uint32_t flags;
    bool config_called;
    long config_flags;
    friend std::ostream& operator<<(std::ostream& out, const ConfigureCase& c) { return out << c.name; }
};

class ConfigureOnAddTest : public SerialCoreFixture,
                           public ::testing::WithParamInterface<ConfigureCase> {};

TEST_P(ConfigureOnAddTest, ConfigPortAskedForTypeAndIrqAsTheFlagsSay) {
    StubUart& stub = make_port(0);
    stub.port()->port_flags = GetParam().flags;
    ASSERT_EQ(uart_add_one_port(&driver, stub.port()), 0);
    const StubCall* config = stub.last("config_port");
    ASSERT_EQ(config != nullptr, GetParam().config_called);
    if (config != nullptr) {
        EXPECT_EQ(config->argument, GetParam().config_flags);
        EXPECT_FALSE(config->port_lock_held);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Flags, ConfigureOnAddTest,
    ::testing::Values(ConfigureCase{"TypeOnly", configure_on_add, true, want_type_detect},
                      ConfigureCase{"TypeAndIrq", configure_on_add | irq_autoprobe, true,
                                    want_type_detect | want_irq_probe},
                      ConfigureCase{"NotAsked", irq_autoprobe | skip_test, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, KnownTypeIsReportedPoweredAndItsLinesTurnedOff) {
    StubUart& stub = make_port(0);
    ASSERT_EQ(uart_add_one_port(&driver, stub.port()), 0);
    EXPECT_TRUE(machine.log().contains("ttyS0 at I/O 0x3f8 (irq = 4) is a 16550A"));
    const std::vector<std::string> expected{"config_port", "pm", "set_mctrl", "pm"};
    EXPECT_EQ(stub.names(), expected);
    EXPECT_EQ(stub.calls[1].argument, 0) << "full power for the modem-line write";
    EXPECT_EQ(stub.calls[2].argument, 0);
    EXPECT_TRUE(stub.calls[2].port_lock_held);
    EXPECT_EQ(stub.calls[3].argument, 3) << "asleep until opened";
    EXPECT_EQ(machine.log().records().back().priority, 6);
    EXPECT_EQ(core.port_at(0), stub.port());
}

TEST_F(RegistrationTest, ReportNamesOwnerMemoryWindowAndHub6) {
    device owner{};
    std::snprintf(owner.bus_id, sizeof owner.bus_id, "serial8250");
    StubUart& mmio = make_port(4);
    mmio.detected_type = 12;
    mmio.port()->io_base = 0;
    mmio.port()->access_kind = access_mem32;
    mmio.port()->reg_window_phys = 0xfe000000;
    mmio.port()->irq_line = 5;
    mmio.port()->owner_device = &owner;
    ASSERT_EQ(uart_add_one_port(&driver, mmio.port()), 0);
    EXPECT_TRUE(machine.log().contains("serial8250: ttyS4 at MMIO 0xfe000000 (irq = 5) is a XR16850"));

    StubUart& hub6 = make_port(5);
    hub6.port()->access_kind = access_hub6;
    hub6.port()->io_base = 0x302;
    hub6.port()->hub6_index = 2;
    hub6.port()->irq_line = 3;
    ASSERT_EQ(uart_add_one_port(&driver, hub6.port()), 0);
    EXPECT_TRUE(machine.log().contains("ttyS5 at I/O 0x302 offset 0x2 (irq = 3) is a 16550A"));

    StubUart& wide = make_port(6);
    wide.port()->access_kind = access_wide_window;
    wide.port()->io_base = 0x1000;
    ASSERT_EQ(uart_add_one_port(&driver, wide.port()), 0);
    EXPECT_TRUE(machine.log().contains("ttyS6 at I/O 0x1000 (irq = 4) is a 16550A"));
}

TEST_F(RegistrationTest, UnknownTypeIsAddedSilentlyAndAddresslessPortIsNotProbed) {
    StubUart& absent = make_port(1);
    absent.detected_type = 0;
    ASSERT_EQ(uart_add_one_port(&driver, absent.port()), 0);
    EXPECT_EQ(absent.names(), std::vector<std::string>{"config_port"});
    EXPECT_FALSE(machine.log().contains("ttyS1"));

    StubUart& empty = make_port(2);
    empty.port()->io_base = 0;
    empty.port()->uart_type = 0;
    ASSERT_EQ(uart_add_one_port(&driver, empty.port()), 0);
    EXPECT_TRUE(empty.calls.empty());
    EXPECT_EQ(core.port_at(2), empty.port()) << "registered all the same";
}

TEST_F(RegistrationTest, AddRefusesTakenLineBadLineAndMissingOperations) {
    StubUart& first = add_port(0);
    StubUart& second = make_port(0);
    EXPECT_EQ(uart_add_one_port(&driver, second.port()), -kerr::inval);
    EXPECT_EQ(core.port_at(0), first.port());
    StubUart& beyond = make_port(32);
    EXPECT_EQ(uart_add_one_port(&driver, beyond.port()), -kerr::inval);
    StubUart& no_ops = make_port(3);
    no_ops.port()->port_ops = nullptr;
    EXPECT_EQ(uart_add_one_port(&driver, no_ops.port()), -kerr::inval);
    uart_driver unknown = make_ttys_driver();
    EXPECT_EQ(uart_add_one_port(&unknown, second.port()), -kerr::inval);
    EXPECT_TRUE(second.calls.empty());
}

TEST_F(RegistrationTest, InjectedAddFaultChangesNothing) {
    machine.faults().fail_next(sim::kernel::FaultPoint::uart_add_one_port, -kerr::nomem);
    StubUart& stub = make_port(0);
    EXPECT_EQ(uart_add_one_port(&driver, stub.port()), -kerr::nomem);
    EXPECT_TRUE(stub.calls.empty());
    EXPECT_EQ(core.port_at(0), nullptr);
    EXPECT_EQ(uart_add_one_port(&driver, stub.port()), 0) << "only the next add was to fail";
}

TEST_F(RegistrationTest, InjectedAllocationFaultFailsRegistration) {
    uart_driver other = make_ttys_driver();
    other.major = 204;
    other.driver_name = "other";
    machine.faults().fail_next(sim::kernel::FaultPoint::allocation);
    EXPECT_EQ(uart_register_driver(&other), -kerr::nomem);
    EXPECT_EQ(core.driver_for_major(204), nullptr);
    EXPECT_FALSE(machine.files().exists("/proc/tty/driver/other"));
}

TEST_F(RegistrationTest, RemoveGivesRegionsBackAndForgetsTheType) {
    StubUart& stub = add_port(0);
    ASSERT_EQ(uart_remove_one_port(&driver, stub.port()), 0);
    EXPECT_EQ(stub.names(), std::vector<std::string>{"release_port"});
    EXPECT_EQ(stub.port()->uart_type, 0u);
    EXPECT_EQ(core.port_at(0), nullptr);
    // Not added any more: accepted, and nothing happens.
    stub.calls.clear();
    EXPECT_EQ(uart_remove_one_port(&driver, stub.port()), 0);
    EXPECT_TRUE(stub.calls.empty());
    // Added again, it is probed again.
    ASSERT_EQ(uart_add_one_port(&driver, stub.port()), 0);
    EXPECT_EQ(stub.count("config_port"), 1u);
}

TEST_F(RegistrationTest, RemoveOfAnUnknownTypeReleasesNothing) {
    StubUart& stub = make_port(1);
    stub.detected_type = 0;
    ASSERT_EQ(uart_add_one_port(&driver, stub.port()), 0);
    stub.calls.clear();
    ASSERT_EQ(uart_remove_one_port(&driver, stub.port()), 0);
    EXPECT_TRUE(stub.calls.empty());
}

TEST_F(RegistrationTest, UnregisterDropsPortsStillAdded) {
    StubUart& a = add_port(0);
    StubUart& b = add_port(3);
    uart_unregister_driver(&driver);
    EXPECT_EQ(a.count("release_port"), 1u);
    EXPECT_EQ(b.count("release_port"), 1u);
    EXPECT_EQ(a.port()->uart_type, 0u);
    EXPECT_EQ(uart_register_driver(&driver), 0);
    EXPECT_EQ(core.port_at(0), nullptr);
}

TEST_F(RegistrationTest, RemovingAnOpenPortHangsItUpAndShutsItDown) {
    StubUart& stub = add_port(0);
    auto file = core.open("ttyS0");
    ASSERT_TRUE(file.ok());
    stub.calls.clear();
    ASSERT_EQ(uart_remove_one_port(&driver, stub.port()), 0);
    EXPECT_EQ(stub.count("shutdown"), 1u);
    EXPECT_EQ(stub.port()->core_state, nullptr);
    auto read = core.read(*file);
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE(read->bytes.empty()) << "end of file";
    EXPECT_EQ(core.write(*file, std::vector<unsigned char>{1}).error(), -kerr::io);
    EXPECT_EQ(core.close(*file), 0);
    EXPECT_EQ(stub.count("shutdown"), 1u);
}

struct MatchCase {
    const char* name;
    std::uint8_t kind1;
    std::uint32_t io1;
    std::uint64_t phys1;
    std::uint8_t hub1;
    std::uint8_t kind2;
    std::uint32_t io2;
    std::uint64_t phys2;
    std::uint8_t hub2;
    bool same;
    friend std::ostream& operator<<(std::ostream& out, const MatchCase& c) { return out << c.name; }
};

class MatchPortTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchPortTest, SameHardware) {
    const MatchCase& c = GetParam();
    uart_port a{};
    uart_port b{};
    a.access_kind = c.kind1;
    a.io_base = c.io1;
    a.reg_window_phys = c.phys1;
    a.hub6_index = c.hub1;
    b.access_kind = c.kind2;
    b.io_base = c.io2;
    b.reg_window_phys = c.phys2;
    b.hub6_index = c.hub2;
    EXPECT_EQ(uart_match_port(&a, &b) != 0, c.same);
    EXPECT_EQ(uart_match_port(&b, &a) != 0, c.same);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchPortTest,
    ::testing::Values(
        MatchCase{"SameIoBase", access_port_io, 0x3f8, 0, 0, access_port_io, 0x3f8, 0, 0, true},
        MatchCase{"OtherIoBase", access_port_io, 0x3f8, 0, 0, access_port_io, 0x2f8, 0, 0, false},
        MatchCase{"IoIgnoresPhysical", access_port_io, 0x3f8, 1, 0, access_port_io, 0x3f8, 2, 0, true},
        MatchCase{"WideWindowIsIo", access_wide_window, 0x3f8, 0, 0, access_port_io, 0x3f8, 0, 0, true},
        MatchCase{"Hub6SameIndex", access_hub6, 0x302, 0, 1, access_hub6, 0x302, 0, 1, true},
        MatchCase{"Hub6OtherIndex", access_hub6, 0x302, 0, 1, access_hub6, 0x302, 0, 2, false},
        MatchCase{"Hub6IsNotPlainIo", access_hub6, 0x302, 0, 1, access_port_io, 0x302, 0, 1, false},
        MatchCase{"MemorySameWindow", access_mem8, 0, 0xfe000000, 0, access_mem32, 0, 0xfe000000, 0, true},
        MatchCase{"MemoryOtherWindow", access_mem8, 0, 0xfe000000, 0, access_mem8, 0, 0xfe001000, 0, false},
        MatchCase{"MemoryIgnoresIoBase", access_mem8_quirk, 1, 0xfe000000, 0, access_mem8, 2, 0xfe000000, 0, true},
        MatchCase{"MemoryIsNotIo", access_mem8, 0x3f8, 0, 0, access_port_io, 0x3f8, 0, 0, false},
        MatchCase{"NoAddressMatchesNothing", access_port_io, 0, 0, 0, access_port_io, 0, 0, 0, false},
        MatchCase{"NoWindowMatchesNothing", access_mem8, 0, 0, 0, access_mem8, 0, 0, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistrationTest, ProcFileListsAddedPortsInTheCustomaryFormat) {
    StubUart& known = add_port(0);
    known.port()->modem_ctrl = TIOCM_RTS | TIOCM_DTR | TIOCM_OUT2;
    known.modem_status = TIOCM_CTS | TIOCM_CAR;
    known.port()->counters.tx_chars = 12;
    known.port()->counters.rx_chars = 34;
    known.port()->counters.parity_errors = 2;
    known.port()->counters.overruns = 1;

    StubUart& unknown = make_port(1);
    unknown.detected_type = 0;
    unknown.port()->io_base = 0x2f8;
    unknown.port()->irq_line = 3;
    ASSERT_EQ(uart_add_one_port(&driver, unknown.port()), 0);

    StubUart& mmio = make_port(4);
    mmio.port()->io_base = 0;
    mmio.port()->access_kind = access_mem8;
    mmio.port()->reg_window_phys = 0xfe000000;
    mmio.port()->irq_line = 5;
    mmio.modem_status = 0;
    ASSERT_EQ(uart_add_one_port(&driver, mmio.port()), 0);

    const auto text = machine.files().read("/proc/tty/driver/serial");
    ASSERT_EQ(text.error, 0);
    EXPECT_EQ(text.content,
              "serinfo:1.0 driver revision:\n"
              "0: uart:16550A port:000003F8 irq:4 tx:12 rx:34 pe:2 oe:1 RTS|CTS|DTR|CD\n"
              "1: uart:unknown port:000002F8 irq:3\n"
              "4: uart:16550A mmio:0xFE000000 irq:5 tx:0 rx:0\n");
    const StubCall* status = known.last("get_mctrl");
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->port_lock_held);
}

TEST_F(RegistrationTest, ProcFileWithoutPortsHasItsHeaderOnly) {
    EXPECT_EQ(machine.files().read("/proc/tty/driver/serial").content,
              "serinfo:1.0 driver revision:\n");
}

TEST_F(RegistrationTest, SuspendAndResumeOfAClosedPortOnlyChangePower) {
    StubUart& stub = add_port(0);
    EXPECT_EQ(uart_suspend_port(&driver, stub.port()), 0);
    EXPECT_EQ(uart_resume_port(&driver, stub.port()), 0);
    const std::vector<std::string> expected{"pm"};
    EXPECT_EQ(stub.names(), expected) << "already asleep at suspend; woken at resume";
    EXPECT_EQ(stub.calls[0].argument, 0);
    StubUart& absent = make_port(7);
    EXPECT_EQ(uart_suspend_port(&driver, absent.port()), -kerr::inval);
    EXPECT_EQ(uart_resume_port(&driver, absent.port()), -kerr::inval);
}

TEST_F(RegistrationTest, SuspendShutsAnOpenPortDownAndResumeBringsItBack) {
    StubUart& stub = add_port(0);
    auto file = core.open("ttyS0");
    ASSERT_TRUE(file.ok());
    stub.calls.clear();
    ASSERT_EQ(uart_suspend_port(&driver, stub.port()), 0);
    const std::vector<std::string> down{"stop_tx", "set_mctrl", "stop_rx", "tx_empty", "shutdown",
                                        "pm"};
    EXPECT_EQ(stub.names(), down);
    EXPECT_TRUE(stub.calls[0].port_lock_held && stub.calls[1].port_lock_held &&
                stub.calls[2].port_lock_held);
    EXPECT_EQ(stub.calls[1].argument, 0);
    EXPECT_FALSE(stub.calls[4].port_lock_held);
    stub.calls.clear();
    EXPECT_EQ(uart_suspend_port(&driver, stub.port()), 0);
    EXPECT_TRUE(stub.calls.empty()) << "suspending twice changes nothing";

    ASSERT_EQ(uart_resume_port(&driver, stub.port()), 0);
    const std::vector<std::string> up{"pm", "set_mctrl", "startup", "set_termios", "set_mctrl",
                                      "start_tx"};
    EXPECT_EQ(stub.names(), up);
    EXPECT_EQ(stub.calls[4].argument, static_cast<long>(stub.port()->modem_ctrl));
    EXPECT_NE(stub.port()->modem_ctrl & TIOCM_DTR, 0u);
    stub.calls.clear();
    EXPECT_EQ(uart_resume_port(&driver, stub.port()), 0);
    EXPECT_TRUE(stub.calls.empty()) << "resuming a running port changes nothing";
    EXPECT_EQ(core.close(*file), 0);
}

}  // namespace
}  // namespace serial_core_test
