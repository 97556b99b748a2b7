// The serial core with the real 8250 module on simulated 16550A chips: the process side end to
// end, so that the serial core's calls, locks and waits hold up against the driver they serve.
#include <gtest/gtest.h>

#include <numeric>

#include "drivers/serial/kernel/errors.h"
#include "sim/hw/line/null_modem.h"
#include "tests/driver/driver_harness.h"

namespace {

using sim::kernel::FileHandle;
using sim::kernel::OpenMode;
using sim::kernel::ReadRequest;
using namespace std::chrono_literals;

class RealDriverTest : public ::testing::Test {
protected:
    RealDriverTest()
        : first(dm.place_pc_uart(0x3f8, sim::hw::UartModel::ns16550a, 4)),
          second(dm.place_pc_uart(0x2f8, sim::hw::UartModel::ns16550a, 3)),
          cable(first, second) {}

    FileHandle open_ok(const char* device) {
        auto file = dm.core().open(device);
        EXPECT_TRUE(file.ok()) << device << ": " << file.error();
        return file.ok() ? *file : FileHandle{};
    }
    void set_raw(FileHandle file, tcflag_t speed, tcflag_t extra = 0) {
        ktermios settings = *dm.core().get_termios(file);
        settings.c_cflag = speed | CS8 | CREAD | CLOCAL | extra;
        ASSERT_EQ(dm.core().set_termios(file, settings), 0);
    }
    // The interrupt probe at load sends a byte at whatever rate the chip came up with; let it
    // arrive and drop it, as a program does with TCSAFLUSH.
    void settle(std::initializer_list<FileHandle> files) {
        dm.machine.run_for(100ms);
        for (FileHandle file : files)
            ASSERT_EQ(dm.core().flush(file, sim::kernel::FlushQueues::both), 0);
    }

    driver_test::DriverMachine dm;
    sim::hw::UartChip& first;
    sim::hw::UartChip& second;
    sim::hw::NullModemCable cable;
};

TEST_F(RealDriverTest, OpeningTtyS0LoadsTheModuleByItsAlias) {
    dm.machine.modules().set_module_dir(std::filesystem::path(SERIAL_8250_MODULE_PATH).parent_path());
    ASSERT_FALSE(dm.loaded());
    const FileHandle file = open_ok("ttyS0");
    EXPECT_TRUE(dm.loaded());
    EXPECT_TRUE(dm.machine.log().contains("ttyS0 at I/O 0x3f8 (irq = 4) is a 16550A"));
    EXPECT_EQ(dm.unload().error, -kerr::busy) << "an open port pins its module";
    EXPECT_EQ(dm.core().close(file), 0);
    EXPECT_EQ(dm.unload().error, 0);
}

TEST_F(RealDriverTest, BytesCrossTheCableBothWays) {
    ASSERT_TRUE(dm.load());
    const FileHandle a = open_ok("ttyS0");
    const FileHandle b = open_ok("ttyS1");
    set_raw(a, B115200, CRTSCTS);
    set_raw(b, B115200, CRTSCTS);
    settle({a, b});
    const auto received_before = dm.core().get_counters(a)->rx_chars;

    std::vector<unsigned char> bytes(3000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 13);
    ASSERT_EQ(*dm.core().write(a, bytes), bytes.size());
    std::vector<unsigned char> got;
    while (got.size() < bytes.size()) {
        const auto part = dm.core().read(b, ReadRequest{.max = 4096, .limit = 1s});
        ASSERT_TRUE(part.ok()) << part.error() << " after " << got.size();
        got.insert(got.end(), part->bytes.begin(), part->bytes.end());
    }
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(dm.core().drain(a), 0);
    EXPECT_EQ(dm.core().get_counters(a)->tx_chars, 3000u);
    EXPECT_EQ(dm.core().get_counters(b)->rx_chars, 3000u);

    ASSERT_EQ(*dm.core().write(b, std::vector<unsigned char>{'o', 'k'}), 2u);
    const auto back = dm.core().read(a, ReadRequest{.max = 10, .min = 2, .limit = 1s});
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->bytes, (std::vector<unsigned char>{'o', 'k'}));

    EXPECT_EQ(dm.core().get_counters(a)->rx_chars - received_before, 2u);
    const std::string proc = dm.machine.files().read("/proc/tty/driver/serial").content;
    EXPECT_NE(proc.find("0: uart:16550A port:000003F8 irq:4 tx:3000 rx:"), std::string::npos)
        << proc;
    EXPECT_NE(proc.find(" RTS|CTS|DTR|DSR|CD\n1: uart:16550A port:000002F8 irq:3 tx:2 rx:3000"),
              std::string::npos)
        << proc;
    EXPECT_EQ(dm.core().close(a), 0);
    EXPECT_EQ(dm.core().close(b), 0);
    EXPECT_EQ(dm.machine.files().read("/proc/interrupts").content.find("serial"), std::string::npos);
}

TEST_F(RealDriverTest, ReaderThatStopsReadingHoldsTheSenderBackWithRts) {
    ASSERT_TRUE(dm.load());
    const FileHandle a = open_ok("ttyS0");
    const FileHandle b = open_ok("ttyS1");
    set_raw(a, B115200, CRTSCTS);
    set_raw(b, B115200, CRTSCTS);
    settle({a, b});

    std::vector<unsigned char> bytes(12000);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    const auto written = dm.core().write(a, bytes, 3s);  // the reader is not reading
    ASSERT_TRUE(written.ok());
    EXPECT_LT(*written, bytes.size()) << "the sender was held back";
    EXPECT_TRUE(dm.core().tty_of(b)->throttled());

    std::vector<unsigned char> got;
    std::size_t queued = *written;
    while (got.size() < bytes.size()) {
        if (queued < bytes.size()) {
            const auto more = dm.core().write(
                a, std::span(bytes).subspan(queued), 0ns);
            if (more.ok()) queued += *more;
        }
        const auto part = dm.core().read(b, ReadRequest{.max = 512, .limit = 1s});
        ASSERT_TRUE(part.ok()) << part.error() << " after " << got.size();
        got.insert(got.end(), part->bytes.begin(), part->bytes.end());
    }
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(dm.core().get_counters(b)->overruns, 0u);
    EXPECT_EQ(dm.core().tty_of(b)->dropped(), 0u);
    EXPECT_EQ(dm.core().close(a), 0);
    EXPECT_EQ(dm.core().close(b), 0);
}

TEST_F(RealDriverTest, ModemLinesAndBreakReachTheChip) {
    ASSERT_TRUE(dm.load());
    const FileHandle a = open_ok("ttyS0");
    const FileHandle b = open_ok("ttyS1");
    settle({a, b});
    ASSERT_EQ(dm.core().lower_modem_lines(a, TIOCM_RTS), 0);
    EXPECT_EQ(*dm.core().get_modem_lines(b) & TIOCM_CTS, 0u) << "RTS of one end is CTS of the other";
    ASSERT_EQ(dm.core().raise_modem_lines(a, TIOCM_RTS), 0);
    EXPECT_NE(*dm.core().get_modem_lines(b) & TIOCM_CTS, 0u);

    // Without BRKINT (or PARMRK) a break reads as a plain 0, as the settings ask.
    ktermios settings = *dm.core().get_termios(b);
    settings.c_iflag |= BRKINT;
    ASSERT_EQ(dm.core().set_termios(b, settings), 0);
    ASSERT_EQ(dm.core().send_break(a, 100ms), 0);
    dm.machine.run_for(10ms);
    const auto got = dm.core().read(b, ReadRequest{.max = 16, .limit = 100ms});
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got->flags, std::vector<char>{TTY_BREAK});
    EXPECT_EQ(got->bytes, std::vector<unsigned char>{0});
    EXPECT_GE(dm.core().get_counters(b)->breaks, 1u);
    EXPECT_EQ(dm.core().close(a), 0);
    EXPECT_EQ(dm.core().close(b), 0);
}

}  // namespace
