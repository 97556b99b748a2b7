// The interrupt handler's walk of a line's chain: which IIRs it reads in which order, which ports
// it services, when it stops, and the bound on a line whose interrupt never clears.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "data_path_rig.h"

namespace driver_test {
namespace {

constexpr unsigned shared_line = 5;
constexpr std::uint8_t iir_idle = 0x01;
constexpr std::uint8_t iir_rx_data = 0x04;

// The accesses that tell the walk apart: IIR reads (the walk) and LSR reads (a service).
std::vector<std::string> walk_of(const std::vector<std::string>& accesses) {
    std::vector<std::string> out;
    for (const std::string& access : accesses)
        if (access.ends_with(":IIR") || access.ends_with(":LSR")) out.push_back(access);
    return out;
}

TEST(InterruptWalk, OnlyTheMiddlePortPendingIsServedOnceAndTheWalkStopsAtTheNextIdlePort) {
    DataPathRig rig({{"A", 0x100, shared_line}, {"B", 0x110, shared_line}, {"C", 0x120, shared_line}});
    ASSERT_TRUE(rig.ready());
    rig.link_chain(shared_line, {0, 1, 2});
    rig.port(0).uart->script_reads(offset::iir, {iir_idle});
    rig.port(1).uart->script_reads(offset::iir, {iir_rx_data, iir_idle});
    rig.port(2).uart->script_reads(offset::iir, {iir_idle});
    for (std::size_t i = 0; i < 3; ++i) rig.port(i).uart->script_reads(offset::lsr, {0x00});

    irqreturn_t result = IRQ_NONE;
    auto accesses = rig.traced_all([&] { result = rig.interrupt(shared_line); });

    EXPECT_EQ(result, IRQ_HANDLED);
    EXPECT_EQ(walk_of(accesses),
              (std::vector<std::string>{"A:IIR", "B:IIR", "B:LSR", "C:IIR", "A:IIR", "B:IIR"}));
    const std::vector<std::string> service{"B:IIR", "B:LSR", "B:MSR", "C:IIR"};
    EXPECT_NE(std::search(accesses.begin(), accesses.end(), service.begin(), service.end()), accesses.end())
        << "B is serviced (LSR, then the modem status) between its IIR and C's";
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(rig.up(i).port.port_lock.slock, 1u) << rig.port(i).name << "'s lock is free again";
    EXPECT_EQ(rig.dm.chain_entry(shared_line).chain_lock.slock, 1u);
}

TEST(InterruptWalk, SingleIdlePortReadsIirOnceAndIsNotHandled) {
    DataPathRig rig({{"A", 0x100, shared_line}});
    ASSERT_TRUE(rig.ready());
    rig.link_chain(shared_line, {0});
    rig.port().uart->script_reads(offset::iir, {iir_idle});

    irqreturn_t result = IRQ_HANDLED;
    auto trace = rig.traced(0, [&] { result = rig.interrupt(shared_line); });

    EXPECT_EQ(result, IRQ_NONE);
    EXPECT_EQ(trace, (std::vector<RegisterAccess>{rd("IIR")}));
}

// A pending port found after idle ones resets the end of the walk: it ends only after a whole
// turn without a pending interrupt, starting from the first idle port after the last busy one.
TEST(InterruptWalk, PortThatBecomesPendingLaterExtendsTheWalk) {
    DataPathRig rig({{"A", 0x100, shared_line}, {"B", 0x110, shared_line}});
    ASSERT_TRUE(rig.ready());
    rig.link_chain(shared_line, {0, 1});
    rig.port(0).uart->script_reads(offset::iir, {iir_rx_data, iir_rx_data, iir_idle});
    rig.port(1).uart->script_reads(offset::iir, {iir_idle});
    for (std::size_t i = 0; i < 2; ++i) rig.port(i).uart->script_reads(offset::lsr, {0x00});

    irqreturn_t result = IRQ_NONE;
    auto accesses = rig.traced_all([&] { result = rig.interrupt(shared_line); });

    EXPECT_EQ(result, IRQ_HANDLED);
    EXPECT_EQ(walk_of(accesses), (std::vector<std::string>{"A:IIR", "A:LSR", "B:IIR", "A:IIR", "A:LSR", "B:IIR",
                                                           "A:IIR"}))
        << "the second service of A moves the end of the walk past B again";
}

TEST(InterruptWalk, InterruptThatNeverClearsIsServed258TimesAndReportedOnce) {
    DataPathRig rig({{"A", 0x100, shared_line}});
    ASSERT_TRUE(rig.ready());
    rig.link_chain(shared_line, {0});
    rig.port().uart->script_reads(offset::iir, {iir_rx_data});
    rig.port().uart->script_reads(offset::lsr, {0x00});
    rig.dm.machine.log().clear();

    irqreturn_t result = IRQ_NONE;
    auto trace = rig.traced(0, [&] { result = rig.interrupt(shared_line); });

    EXPECT_EQ(result, IRQ_HANDLED);
    EXPECT_EQ(reads_of(trace, "IIR"), 258u);
    EXPECT_EQ(reads_of(trace, "LSR"), 258u) << "each IIR read found it pending and serviced it";
    const std::string message = "serial8250: too much work for irq" + std::to_string(shared_line);
    EXPECT_EQ(rig.dm.machine.log().count_containing(message), 1u) << rig.dm.machine.log().dmesg();
    const auto& records = rig.dm.machine.log().records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().text, message);
    EXPECT_EQ(records.back().priority, 3);
    EXPECT_EQ(rig.up().port.port_lock.slock, 1u);
    EXPECT_EQ(rig.dm.chain_entry(shared_line).chain_lock.slock, 1u);
}

// A port that keeps its interrupt asserted still has its characters taken on the way.
TEST(InterruptWalk, StuckInterruptStillDeliversTheCharactersWaiting) {
    DataPathRig rig({{"A", 0x100, shared_line}});
    ASSERT_TRUE(rig.ready());
    rig.link_chain(shared_line, {0});
    rig.up().port.rx_status_mask = 0x7f;
    rig.port().uart->script_reads(offset::iir, {iir_rx_data});
    rig.port().uart->script_reads(offset::lsr, {0x61, 0x60, 0x60});
    rig.port().uart->script_reads(offset::rbr, {0x55});

    EXPECT_EQ(rig.interrupt(shared_line), IRQ_HANDLED);
    EXPECT_EQ(rig.port().tty().read(10), (std::vector<sim::kernel::ReceivedChar>{{0x55, TTY_NORMAL}}));
    EXPECT_EQ(rig.dm.machine.log().count_containing("too much work"), 1u);
}

}  // namespace
}  // namespace driver_test
