// Two ttyS devices on 16550A chips joined by a null-modem cable, driven through the process
// side: a 64 KiB transfer at 115200 bit/s 8N1 with RTS/CTS, with the reader keeping up and with
// the reader stalled, for each way the two ports can be serviced: a line each, one shared
// edge-triggered line, and one port polled.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "sim/hw/line/null_modem.h"
#include "sim/kernel/serial_core/serial_core.h"
#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::InterruptWiring;
using sim::hw::UartModel;
using sim::kernel::FileHandle;
using sim::kernel::ReadRequest;
using namespace std::chrono_literals;

constexpr std::size_t transfer_size = 64 * 1024;

struct Wiring {
    const char* what;
    InterruptWiring sender;    // ttyS0 at 0x3f8
    InterruptWiring receiver;  // ttyS1 at 0x2f8
    std::uint32_t sender_line;
    std::uint32_t receiver_line;
    // Virtual time the transfer may take. A line at 115200 bit/s 8N1 carries 11520 bytes a
    // second, so 64 KiB need 5.69 s. A polled sender refills its 16-byte FIFO at most once per
    // poll (one 4 ms tick at HZ 250), which bounds it at 4000 bytes a second. The polled port
    // is the sender: a polled receiver cannot keep up at this rate, its 16-byte FIFO fills in
    // 1.4 ms and overruns long before the next poll.
    std::chrono::milliseconds budget;
};

class EndToEnd : public ::testing::TestWithParam<Wiring> {
protected:
    EndToEnd()
        : sender_chip(dm.place_pc_uart(0x3f8, UartModel::ns16550a, GetParam().sender)),
          receiver_chip(dm.place_pc_uart(0x2f8, UartModel::ns16550a, GetParam().receiver)),
          cable(sender_chip, receiver_chip) {}

    void SetUp() override {
        ASSERT_TRUE(dm.load());
        ASSERT_EQ(dm.slot(0).port.uart_type, type_16550a);
        ASSERT_EQ(dm.slot(1).port.uart_type, type_16550a);
        ASSERT_EQ(dm.slot(0).port.irq_line, GetParam().sender_line);
        ASSERT_EQ(dm.slot(1).port.irq_line, GetParam().receiver_line);
        sender = open("ttyS0");
        receiver = open("ttyS1");
        for (const FileHandle file : {sender, receiver}) {
            ktermios settings = *dm.core().get_termios(file);
            settings.c_cflag = B115200 | CS8 | CREAD | CLOCAL | CRTSCTS;
            ASSERT_EQ(dm.core().set_termios(file, settings), 0);
        }
        // The interrupt probe at load sent a byte at the chip's power-on rate; let it arrive
        // and drop it, as a program does with TCSAFLUSH.
        dm.machine.run_for(100ms);
        for (const FileHandle file : {sender, receiver})
            ASSERT_EQ(dm.core().flush(file, sim::kernel::FlushQueues::both), 0);
        sent_before = *dm.core().get_counters(sender);
        received_before = *dm.core().get_counters(receiver);

        bytes.resize(transfer_size);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>((i * 151 + (i >> 8) * 7 + 3) & 0xff);
    }

    FileHandle open(const char* device) {
        auto file = dm.core().open(device);
        EXPECT_TRUE(file.ok()) << device << ": " << file.error();
        return file.ok() ? *file : FileHandle{};
    }

    // Feeds the rest of the data without blocking and reads whatever has arrived, until every
    // byte is in; `queued` counts what the sender has taken so far.
    std::vector<unsigned char> transfer_rest(std::size_t queued) {
        std::vector<unsigned char> got;
        while (got.size() < bytes.size()) {
            if (queued < bytes.size()) {
                const auto more = dm.core().write(sender, std::span(bytes).subspan(queued), 0ns);
                if (more.ok()) queued += *more;
            }
            const std::size_t missing = bytes.size() - got.size();
            const auto part =
                dm.core().read(receiver, ReadRequest{.max = 4096, .min = std::min<std::size_t>(missing, 512), .limit = 2s});
            if (!part.ok()) {
                ADD_FAILURE() << "read: " << part.error() << " after " << got.size() << " bytes";
                break;
            }
            got.insert(got.end(), part->bytes.begin(), part->bytes.end());
        }
        return got;
    }

    void expect_counters_agree() {
        ASSERT_EQ(dm.core().drain(sender), 0);
        const uart_icount sent = *dm.core().get_counters(sender);
        const uart_icount received = *dm.core().get_counters(receiver);
        EXPECT_EQ(sent.tx_chars - sent_before.tx_chars, transfer_size);
        EXPECT_EQ(received.rx_chars - received_before.rx_chars, transfer_size);
        EXPECT_EQ(received.overruns, received_before.overruns);
        EXPECT_EQ(received.frame_errors, received_before.frame_errors);
        EXPECT_EQ(received.parity_errors, received_before.parity_errors);
        EXPECT_EQ(received.breaks, received_before.breaks);
        EXPECT_EQ(dm.core().tty_of(receiver)->dropped(), 0u);
    }

    void close_both() {
        EXPECT_EQ(dm.core().close(sender), 0);
        EXPECT_EQ(dm.core().close(receiver), 0);
        const std::string interrupts = dm.machine.files().read("/proc/interrupts").content;
        EXPECT_EQ(interrupts.find("serial"), std::string::npos) << interrupts;
        EXPECT_TRUE(dm.machine.interrupts().active_lines().empty());
        EXPECT_EQ(dm.chain_entry(3).chain_head, nullptr);
        EXPECT_EQ(dm.chain_entry(4).chain_head, nullptr);
    }

    DriverMachine dm;
    sim::hw::UartChip& sender_chip;
    sim::hw::UartChip& receiver_chip;
    sim::hw::NullModemCable cable;
    FileHandle sender;
    FileHandle receiver;
    uart_icount sent_before{};
    uart_icount received_before{};
    std::vector<unsigned char> bytes;
};

TEST_P(EndToEnd, SixtyFourKibibytesArriveIntactAtLineRate) {
    // While both are open the lines are listed as the driver's.
    const std::string interrupts = dm.machine.files().read("/proc/interrupts").content;
    for (const std::uint32_t line : {GetParam().sender_line, GetParam().receiver_line}) {
        if (line == 0) continue;
        EXPECT_NE(interrupts.find(std::to_string(line) + ":"), std::string::npos) << interrupts;
    }

    const auto started = dm.machine.now();
    const std::vector<unsigned char> got = transfer_rest(0);
    const auto took = dm.machine.now() - started;
    ASSERT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes) << "first difference at "
                              << (std::mismatch(got.begin(), got.end(), bytes.begin()).first - got.begin());
    EXPECT_LE(took, GetParam().budget)
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    expect_counters_agree();
    close_both();
}

TEST_P(EndToEnd, StalledReaderHoldsTheSenderBackAndLosesNothing) {
    const auto written = dm.core().write(sender, bytes, 3s);  // nobody reads meanwhile
    ASSERT_TRUE(written.ok()) << written.error();
    EXPECT_LT(*written, bytes.size()) << "the sender was held back";
    EXPECT_TRUE(dm.core().tty_of(receiver)->throttled());
    EXPECT_FALSE(receiver_chip.rts_output()) << "the reader's RTS is down";
    EXPECT_EQ(*dm.core().get_modem_lines(sender) & TIOCM_CTS, 0u);

    // Nothing moves while the reader stays away.
    const std::uint32_t sent_so_far = dm.core().get_counters(sender)->tx_chars;
    dm.machine.run_for(1s);
    EXPECT_EQ(dm.core().get_counters(sender)->tx_chars, sent_so_far);

    const std::vector<unsigned char> got = transfer_rest(*written);
    ASSERT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes) << "first difference at "
                              << (std::mismatch(got.begin(), got.end(), bytes.begin()).first - got.begin());
    expect_counters_agree();
    close_both();
}

INSTANTIATE_TEST_SUITE_P(
    Wirings, EndToEnd,
    ::testing::Values(Wiring{"LineEach", InterruptWiring::edge(4), InterruptWiring::edge(3), 4, 3, 6000ms},
                      Wiring{"SharedEdgeLine", InterruptWiring::edge(4), InterruptWiring::edge(4), 4, 4, 6000ms},
                      Wiring{"PolledSender", InterruptWiring::none(), InterruptWiring::edge(3), 0, 3, 17200ms}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace driver_test
