// Receiving: what each LSR state makes of a character, which counters move, what reaches the
// tty's read queue with which flag, and the bound on characters taken per call.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data_path_rig.h"

namespace driver_test {
namespace {

using sim::kernel::ReceivedChar;

constexpr std::uint32_t lsr_dr_bit = 0x01, lsr_oe_bit = 0x02, lsr_pe_bit = 0x04, lsr_fe_bit = 0x08,
                        lsr_bi_bit = 0x10, lsr_thre_bit = 0x20, lsr_temt_bit = 0x40;
// What set_termios leaves for INPCK | BRKINT: overrun, parity, framing, break and data.
constexpr std::uint32_t all_status = lsr_oe_bit | lsr_pe_bit | lsr_fe_bit | lsr_bi_bit | lsr_thre_bit |
                                     lsr_temt_bit | lsr_dr_bit;

struct Counts {
    std::uint32_t rx = 0, breaks = 0, parity = 0, frame = 0, overruns = 0;
    friend bool operator==(const Counts&, const Counts&) = default;
};
std::ostream& operator<<(std::ostream& out, const Counts& c) {
    return out << "{rx " << c.rx << ", breaks " << c.breaks << ", parity " << c.parity << ", frame " << c.frame
               << ", overruns " << c.overruns << "}";
}
Counts counts_of(const uart_icount& icount) {
    return {icount.rx_chars, icount.breaks, icount.parity_errors, icount.frame_errors, icount.overruns};
}

struct ReceiveCase {
    const char* name;
    std::vector<std::uint8_t> lsr_after;  // what LSR reads after the value that started the call
    std::uint8_t lsr;                     // the value that started the call
    std::uint8_t data;                    // what RBR reads
    std::uint32_t status_mask;
    std::uint32_t ignore_mask;
    bool sak_on_break;
    std::size_t rbr_reads;
    std::vector<ReceivedChar> queued;
    Counts counted;
    unsigned secure_attentions;
};

std::ostream& operator<<(std::ostream& out, const ReceiveCase& c) { return out << c.name; }

const ReceiveCase receive_cases[] = {
    {"OneByteWithTransmitterEmpty", {0x60}, 0x61, 0x41, all_status, 0, false, 1,
     {{0x41, TTY_NORMAL}}, {.rx = 1}, 0},
    {"BreakWithoutDataIsAZeroWithTheBreakFlag", {0x60}, 0x10, 0x77, all_status, 0, false, 0,
     {{0x00, TTY_BREAK}}, {.rx = 1, .breaks = 1}, 0},
    {"BreakOutsideTheStatusMaskArrivesAsAPlainZero", {0x60}, 0x10, 0x77, lsr_dr_bit, 0, false, 0,
     {{0x00, TTY_NORMAL}}, {.rx = 1, .breaks = 1}, 0},
    {"BreakWinsOverParityAndFraming", {0x60}, 0x1d, 0x00, all_status, 0, false, 1,
     {{0x00, TTY_BREAK}}, {.rx = 1, .breaks = 1}, 0},
    {"ParityWithOverrunCountsBothAndMarksTheGap", {0x60}, 0x0f, 0x5a, 0x0f, 0, false, 1,
     {{0x5a, TTY_PARITY}, {0x00, TTY_OVERRUN}}, {.rx = 1, .parity = 1, .overruns = 1}, 0},
    {"FramingErrorAlone", {0x60}, 0x09, 0x33, all_status, 0, false, 1,
     {{0x33, TTY_FRAME}}, {.rx = 1, .frame = 1}, 0},
    {"ErrorsOutsideTheStatusMaskAreCountedButNotFlagged", {0x60}, 0x0f, 0x5a, lsr_dr_bit, 0, false, 1,
     {{0x5a, TTY_NORMAL}}, {.rx = 1, .parity = 1, .overruns = 1}, 0},
    {"IgnoredBreakIsDroppedButCounted", {0x60}, 0x11, 0x00, all_status, lsr_bi_bit, false, 1,
     {}, {.rx = 1, .breaks = 1}, 0},
    {"IgnoredParityErrorIsDropped", {0x60}, 0x05, 0x44, all_status, lsr_pe_bit | lsr_fe_bit, false, 1,
     {}, {.rx = 1, .parity = 1}, 0},
    {"IgnoringErrorsLeavesGoodCharactersAlone", {0x60}, 0x01, 0x44, all_status, lsr_pe_bit | lsr_fe_bit, false, 1,
     {{0x44, TTY_NORMAL}}, {.rx = 1}, 0},
    {"IgnoringDataReadyDropsEveryCleanCharacter", {0x60}, 0x01, 0x44, all_status, lsr_dr_bit, false, 1,
     {}, {.rx = 1}, 0},
    {"IgnoredOverrunKeepsTheCharacterButNotTheGap", {0x60}, 0x03, 0x44, all_status, lsr_oe_bit, false, 1,
     {{0x44, TTY_NORMAL}}, {.rx = 1, .overruns = 1}, 0},
    {"OverrunOutsideTheStatusMaskLeavesNoGap", {0x60}, 0x03, 0x44, lsr_dr_bit, 0, false, 1,
     {{0x44, TTY_NORMAL}}, {.rx = 1, .overruns = 1}, 0},
    {"IgnoredParityErrorStillMarksTheOverrun", {0x60}, 0x07, 0x44, all_status, lsr_pe_bit, false, 1,
     {{0x00, TTY_OVERRUN}}, {.rx = 1, .parity = 1, .overruns = 1}, 0},
    {"SecureAttentionKeyOnBreak", {0x60}, 0x11, 0x00, all_status, 0, true, 1,
     {{0x00, TTY_BREAK}}, {.rx = 1, .breaks = 1}, 1},
    {"SecureAttentionKeyEvenWhenBreaksAreIgnored", {0x60}, 0x11, 0x00, all_status, lsr_bi_bit, true, 1,
     {}, {.rx = 1, .breaks = 1}, 1},
    {"SecureAttentionKeyEvenWhenBreaksAreMaskedOut", {0x60}, 0x10, 0x00, lsr_dr_bit, 0, true, 0,
     {{0x00, TTY_NORMAL}}, {.rx = 1, .breaks = 1}, 1},
    {"NoSecureAttentionKeyWithoutTheFlag", {0x60}, 0x11, 0x00, all_status, lsr_bi_bit, false, 1,
     {}, {.rx = 1, .breaks = 1}, 0},
    {"SeveralCharactersInOneCall", {0x01, 0x1d, 0x61, 0x60}, 0x01, 0x4d, all_status, 0, false, 4,
     {{0x4d, TTY_NORMAL}, {0x4d, TTY_NORMAL}, {0x4d, TTY_BREAK}, {0x4d, TTY_NORMAL}}, {.rx = 4, .breaks = 1}, 0},
};

class ReceiveTable : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(ReceiveTable, CountsFlagsAndQueue) {
    const ReceiveCase& c = GetParam();
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.port.rx_status_mask = c.status_mask;
    up.port.rx_ignore_mask = c.ignore_mask;
    if (c.sak_on_break) up.port.port_flags |= sak_on_break;
    const uart_icount before = up.port.counters;
    port.uart->script_reads(offset::lsr, c.lsr_after);
    port.uart->script_reads(offset::rbr, {c.data});

    std::uint32_t status = c.lsr;
    auto trace = rig.traced(0, [&] { rig.receive_chars(up, status); });

    EXPECT_EQ(reads_of(trace, "RBR"), c.rbr_reads) << "RBR is read only while LSR shows data";
    EXPECT_EQ(reads_of(trace, "LSR"), c.lsr_after.size()) << "one LSR read after each character";
    EXPECT_EQ(trace.size(), reads_of(trace, "RBR") + reads_of(trace, "LSR")) << "nothing else is touched";
    EXPECT_EQ(status, c.lsr_after.back()) << "the last LSR value read comes back";

    uart_icount delta = up.port.counters;
    delta.rx_chars -= before.rx_chars;
    delta.breaks -= before.breaks;
    delta.parity_errors -= before.parity_errors;
    delta.frame_errors -= before.frame_errors;
    delta.overruns -= before.overruns;
    EXPECT_EQ(counts_of(delta), c.counted);
    EXPECT_EQ(up.port.counters.tx_chars, before.tx_chars);

    EXPECT_EQ(port.tty().held_in_flip_buffers(), 0u) << "everything received was pushed";
    EXPECT_EQ(port.tty().read(100), c.queued);
    EXPECT_EQ(port.tty().secure_attentions(), c.secure_attentions);
}

INSTANTIATE_TEST_SUITE_P(Lsr, ReceiveTable, ::testing::ValuesIn(receive_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// A UART whose DR never clears: the call takes 257 characters and leaves the rest.
TEST(ReceiveBound, DataReadyThatNeverClearsStopsAt257Characters) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.port.rx_status_mask = all_status;
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 300; ++i) data.push_back(static_cast<std::uint8_t>(i));
    port.uart->script_reads(offset::lsr, {0x61});
    port.uart->script_reads(offset::rbr, data);
    const std::uint32_t rx_before = up.port.counters.rx_chars;

    std::uint32_t status = 0x61;
    auto trace = rig.traced(0, [&] { rig.receive_chars(up, status); });

    EXPECT_EQ(reads_of(trace, "RBR"), 257u);
    EXPECT_EQ(reads_of(trace, "LSR"), 257u);
    EXPECT_EQ(up.port.counters.rx_chars - rx_before, 257u);
    EXPECT_EQ(status, 0x61u) << "data still waiting shows in the status handed back";
    std::vector<ReceivedChar> queued = port.tty().read(1000);
    ASSERT_EQ(queued.size(), 257u);
    for (std::size_t i = 0; i < queued.size(); ++i) {
        ASSERT_EQ(queued[i], (ReceivedChar{static_cast<unsigned char>(i), TTY_NORMAL})) << "character " << i;
    }

    // The next call goes on where this one stopped.
    status = 0x61;
    rig.receive_chars(up, status);
    EXPECT_EQ(port.tty().read(1).front().character, static_cast<unsigned char>(257));
}

// Small receive buffers fill up within one call: the characters go on into new buffers, in the
// order received, each with its own flag.
TEST(ReceiveBuffers, FullBuffersKeepOrderAndFlags) {
    DataPathRig rig({{"A", 0x100, 5}}, sim::kernel::TtyLimits{.flip_buffer_size = 4});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.port.rx_status_mask = all_status;
    // Ten characters, every third with a parity error; the last LSR read shows nothing.
    std::vector<std::uint8_t> lsr_after;
    std::vector<std::uint8_t> data;
    std::vector<ReceivedChar> expected;
    for (int i = 0; i < 10; ++i) {
        const bool parity = i % 3 == 2;
        data.push_back(static_cast<std::uint8_t>('a' + i));
        expected.push_back({static_cast<unsigned char>('a' + i), parity ? TTY_PARITY : TTY_NORMAL});
        if (i > 0) lsr_after.push_back(parity ? 0x65 : 0x61);
    }
    lsr_after.push_back(0x60);
    port.uart->script_reads(offset::lsr, lsr_after);
    port.uart->script_reads(offset::rbr, data);

    std::uint32_t status = 0x61;
    rig.receive_chars(up, status);
    EXPECT_EQ(port.tty().read(100), expected);
}

// The receive path drops the port lock while it pushes to the tty; once it returns, the caller
// holds it again and nothing else is left held.
TEST(ReceiveLocking, ReturnsWithThePortLockHeld) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    serial8250_uart& up = rig.up();
    rig.port().uart->script_reads(offset::lsr, {0x60});
    rig.port().uart->script_reads(offset::rbr, {0x41});
    auto receive = rig.dm.function<void(serial8250_uart*, std::uint32_t*)>("receive_chars");
    std::uint32_t status = 0x61;
    {
        irqsave_lock lock(&up.port.port_lock);
        receive(&up, &status);
        EXPECT_EQ(up.port.port_lock.slock, 0u) << "held on return";
    }
    EXPECT_EQ(up.port.port_lock.slock, 1u);
    EXPECT_EQ(rig.port().tty().readable(), 1u);
}

// The characters of one call reach the reader in one push, after the last one was taken, with
// the port lock free (other processors may use the port meanwhile) and local interrupts still
// off. The tty's throttle request, made from inside the push, is where that shows.
TEST(ReceiveLocking, OnePushAfterTheLoopWithThePortLockDropped) {
    DataPathRig rig({{"A", 0x100, 5}}, sim::kernel::TtyLimits{.read_queue_capacity = 140, .throttle_room = 128});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    std::vector<std::uint8_t> lsr_after(19, 0x61);
    lsr_after.push_back(0x60);
    port.uart->script_reads(offset::lsr, lsr_after);
    port.uart->script_reads(offset::rbr, {0x30});

    int throttles = 0;
    std::size_t readable_in_push = 0;
    std::uint32_t lock_in_push = 0;
    bool irqs_in_push = true;
    port.tty().set_hooks({.throttle = [&] {
        ++throttles;
        readable_in_push = port.tty().readable();
        lock_in_push = up.port.port_lock.slock;
        irqs_in_push = rig.dm.machine.cpu().irqs_enabled();
    }});

    std::uint32_t status = 0x61;
    rig.receive_chars(up, status);
    port.tty().set_hooks({});

    EXPECT_EQ(throttles, 1);
    EXPECT_EQ(readable_in_push, 20u) << "all twenty characters arrive together";
    EXPECT_EQ(lock_in_push, 1u) << "the port lock is free during the push";
    EXPECT_FALSE(irqs_in_push) << "local interrupts stay off during the push";
}

// One port, LSR showing data and THRE: the character is taken first, then the transmitter is fed
// because THRE is in the last LSR value the receive path read.
TEST(ServicePort, ReceivesThenChecksModemStatusThenTransmits) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.port.rx_status_mask = all_status;
    up.ier_shadow = 0x07;
    port.open->fill(0, 2);
    port.uart->script_reads(offset::lsr, {0x61, 0x60});
    port.uart->script_reads(offset::rbr, {0x41});

    auto trace = rig.traced(0, [&] { rig.service_port(up); });

    const std::vector<RegisterAccess> expected = {
        rd("LSR"), rd("RBR"), rd("LSR"), rd("MSR"), wr("THR", 0x00), wr("THR", 0x01), wr("IER", 0x05),
    };
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(port.tty().read(10), (std::vector<ReceivedChar>{{0x41, TTY_NORMAL}}));
    EXPECT_EQ(port.open->waiting(), 0);
}

TEST(ServicePort, WithoutThreInTheLastStatusNothingIsSent) {
    DataPathRig rig({{"A", 0x100, 5}});
    ASSERT_TRUE(rig.ready());
    ScriptedPort& port = rig.port();
    serial8250_uart& up = rig.up();
    up.ier_shadow = 0x07;
    port.open->fill(0, 2);
    port.uart->script_reads(offset::lsr, {0x21, 0x00});  // THRE at first, gone after the character
    port.uart->script_reads(offset::rbr, {0x41});

    auto trace = rig.traced(0, [&] { rig.service_port(up); });

    EXPECT_EQ(trace, (std::vector<RegisterAccess>{rd("LSR"), rd("RBR"), rd("LSR"), rd("MSR")}));
    EXPECT_EQ(port.open->waiting(), 2);
}

}  // namespace
}  // namespace driver_test
