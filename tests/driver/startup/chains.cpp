// The chains of open ports on an interrupt line: who requests the line and with what, the
// order the handler walks the ring in, who gives the line back, and what a failed request
// leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/kernel/serial_core/serial_core.h"
#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;
using sim::kernel::FaultPoint;
using sim::kernel::FileHandle;

// ttyS0 (0x3f8) and ttyS2 (0x3e8) are both on line 4 in the legacy table.
class LineFour : public ::testing::Test {
protected:
    LineFour()
        : com1(dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4)),
          com3(dm.place_pc_uart(0x3e8, UartModel::ns16550a, 4)) {}

    void load(const char* parameters) {
        ASSERT_TRUE(dm.load(parameters)) << parameters;
        ASSERT_EQ(dm.slot(0).port.irq_line, 4u);
        ASSERT_EQ(dm.slot(2).port.irq_line, 4u);
    }
    FileHandle open(const char* device) {
        auto file = dm.core().open(device);
        EXPECT_TRUE(file.ok()) << device << ": " << file.error();
        return file.ok() ? *file : FileHandle{};
    }
    std::vector<sim::kernel::IrqActionInfo> actions() { return dm.machine.interrupts().actions(4); }
    unsigned requests() { return dm.machine.faults().calls(FaultPoint::request_irq); }
    irq_chain& line_four() { return dm.chain_entry(4); }
    std::vector<const serial8250_uart*> walk() { return chain_walk(line_four()); }

    DriverMachine dm;
    sim::hw::UartChip& com1;
    sim::hw::UartChip& com3;
};

struct SharingCase {
    const char* parameters;
    unsigned long expected_flags;
};

class TwoPortsOnLineFour : public LineFour, public ::testing::WithParamInterface<SharingCase> {};

TEST_P(TwoPortsOnLineFour, FirstOpenRequestsTheLineOnceAndTheLastCloseFreesIt) {
    load(GetParam().parameters);
    const serial8250_uart* first = &dm.slot(0);
    const serial8250_uart* second = &dm.slot(2);

    // Closing either port first must keep the line for the other one.
    for (const bool first_closes_first : {true, false}) {
        SCOPED_TRACE(first_closes_first ? "ttyS0 closes first" : "ttyS2 closes first");
        const unsigned requests_before = requests();
        const FileHandle a = open("ttyS0");
        ASSERT_EQ(requests(), requests_before + 1);
        ASSERT_EQ(actions().size(), 1u);
        const sim::kernel::IrqActionInfo action = actions().front();
        EXPECT_EQ(action.flags, GetParam().expected_flags);
        EXPECT_EQ(action.name, "serial");
        EXPECT_EQ(action.dev_id, &line_four()) << "the cookie is the line's own entry";
        EXPECT_EQ(reinterpret_cast<const void*>(action.handler), dm.symbol<void>("serial8250_interrupt"));
        EXPECT_EQ(walk(), (std::vector{first}));

        const FileHandle b = open("ttyS2");
        EXPECT_EQ(requests(), requests_before + 1) << "the second port only joins the chain";
        EXPECT_EQ(actions().size(), 1u);
        EXPECT_EQ(walk().size(), 2u);

        ASSERT_EQ(dm.core().close(first_closes_first ? a : b), 0);
        EXPECT_EQ(actions().size(), 1u) << "the line stays while a port uses it";
        EXPECT_EQ(walk(), (std::vector{first_closes_first ? second : first}));

        ASSERT_EQ(dm.core().close(first_closes_first ? b : a), 0);
        EXPECT_TRUE(actions().empty()) << "freed with the cookie it was requested with";
        EXPECT_EQ(line_four().chain_head, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Sharing, TwoPortsOnLineFour,
                         ::testing::Values(SharingCase{"", 0x80}, SharingCase{"share_irqs=0", 0}),
                         [](const auto& info) { return info.param.expected_flags ? "Shared" : "NotShared"; });

TEST_F(LineFour, ThreePortsAreWalkedFromTheHeadThenNewestFirst) {
    dm.place_pc_uart(0x100, UartModel::ns16550a, 4);
    load("nr_uarts=8");
    uart_port templ = io_template(0x100, 4, irq_shared);
    ASSERT_EQ(dm.register_port(templ), 4);
    const serial8250_uart* a = &dm.slot(0);
    const serial8250_uart* b = &dm.slot(2);
    const serial8250_uart* c = &dm.slot(4);

    const FileHandle file_a = open("ttyS0");
    const FileHandle file_b = open("ttyS2");
    const FileHandle file_c = open("ttyS4");
    EXPECT_EQ(walk(), (std::vector{a, c, b}));
    // The ring is doubly linked: walking back from the head meets them in the other order.
    EXPECT_EQ(line_four().chain_head->prev, &b->chain_link);
    EXPECT_EQ(b->chain_link.prev, &c->chain_link);

    ASSERT_EQ(dm.core().close(file_a), 0);
    EXPECT_EQ(line_four().chain_head, &c->chain_link) << "the head moves on to the next port";
    EXPECT_EQ(walk(), (std::vector{c, b}));
    EXPECT_EQ(actions().size(), 1u);

    ASSERT_EQ(dm.core().close(file_c), 0);
    EXPECT_EQ(walk(), (std::vector{b}));
    EXPECT_EQ(line_four().chain_head->next, line_four().chain_head) << "one member links to itself";
    EXPECT_EQ(line_four().chain_head->prev, line_four().chain_head);
    ASSERT_EQ(dm.core().close(file_b), 0);
    EXPECT_EQ(line_four().chain_head, nullptr);
    EXPECT_TRUE(actions().empty());
}

TEST(PolledPort, NeverTouchesTheChains) {
    DriverMachine dm;
    dm.place_pc_uart(0x2f8, UartModel::ns16550a, sim::hw::InterruptWiring::none());
    ASSERT_TRUE(dm.load());
    ASSERT_EQ(dm.slot(1).port.irq_line, 0u);
    const irq_chain* chains = dm.symbol<irq_chain>("irq_lists");
    const std::vector<char> before(reinterpret_cast<const char*>(chains),
                                   reinterpret_cast<const char*>(chains + nr_irq_lines));
    const auto same_as_before = [&] {
        return std::memcmp(before.data(), chains, before.size()) == 0;
    };
    const unsigned requests_before = dm.machine.faults().calls(FaultPoint::request_irq);

    auto file = dm.core().open("ttyS1");
    ASSERT_TRUE(file.ok()) << file.error();
    EXPECT_TRUE(same_as_before());
    EXPECT_TRUE(dm.machine.timers().pending(&dm.slot(1).poll_timer)) << "served by its poll timer";
    dm.machine.run_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(same_as_before());

    ASSERT_EQ(dm.core().close(*file), 0);
    EXPECT_TRUE(same_as_before());
    EXPECT_EQ(dm.machine.faults().calls(FaultPoint::request_irq), requests_before);
    EXPECT_TRUE(dm.machine.interrupts().active_lines().empty());
}

struct FailedRequestCase {
    const char* what;
    bool thre_not_reasserted;  // the UART that needs the backup timer as well
    int error;
};

class FailedRequest : public LineFour, public ::testing::WithParamInterface<FailedRequestCase> {};

TEST_P(FailedRequest, LeavesTheChainEmptyNoTimerRunningAndFailsTheOpen) {
    const FailedRequestCase c = GetParam();
    load("");
    sim::hw::UartFaults faults;
    faults.thre_not_reasserted = c.thre_not_reasserted;
    com1.set_faults(faults);
    serial8250_uart& up = dm.slot(0);

    dm.machine.faults().fail_next(FaultPoint::request_irq, c.error);
    auto file = dm.core().open("ttyS0");
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(file.error(), c.error) << "the request's own error";
    EXPECT_EQ(line_four().chain_head, nullptr);
    EXPECT_TRUE(actions().empty());
    EXPECT_FALSE(dm.machine.timers().pending(&up.poll_timer)) << "no timer for a port that is not open";
    EXPECT_EQ(callback_of(up), timer_callback(dm, "serial8250_timeout"));

    // The failure left nothing that gets in the way of the next open.
    const FileHandle again = open("ttyS0");
    EXPECT_EQ(walk(), (std::vector<const serial8250_uart*>{&up}));
    EXPECT_EQ(actions().size(), 1u);
    EXPECT_EQ(dm.machine.timers().pending(&up.poll_timer), c.thre_not_reasserted);
    EXPECT_EQ(dm.core().close(again), 0);
    EXPECT_TRUE(actions().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FailedRequest,
    ::testing::Values(FailedRequestCase{"LineBusy", false, -16},
                      FailedRequestCase{"LineBusyWithBackupTimerArmed", true, -16},
                      FailedRequestCase{"BadLineWithBackupTimerArmed", true, -22}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace driver_test
