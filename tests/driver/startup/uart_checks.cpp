// The checks startup makes on the UART itself: that one is there at all (the LSR safety
// check), and whether enabling the transmit interrupt raises it (quirk_txen).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim/kernel/serial_core/serial_core.h"
#include "startup_machine.h"

namespace driver_test {
namespace {

using sim::hw::UartModel;
using sim::kernel::FaultPoint;

// ttyS3 (0x2e8, line 3) with no card in the socket: the floating bus reads 0xff. Its type is
// set by hand, as a user does with the serial-info call for a card the probe did not find.
class AbsentUart : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dm.load());
        port().uart_type = type_16550a;
    }
    uart_port& port() { return dm.slot(3).port; }
    DriverMachine dm;
};

TEST_F(AbsentUart, LsrSafetyCheckRefusesTheOpenWithNoSuchDevice) {
    auto file = dm.core().open("ttyS3");
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(file.error(), -19);

    const auto& records = dm.machine.log().records();
    const auto found = std::find_if(records.begin(), records.end(), [](const sim::kernel::LogRecord& record) {
        return record.text.find("LSR safety check") != std::string::npos;
    });
    ASSERT_NE(found, records.end()) << dm.machine.log().dmesg();
    EXPECT_EQ(found->text, "ttyS3: LSR safety check engaged!") << "no priority prefix in the text";
    EXPECT_EQ(found->priority, sim::kernel::default_message_priority);
    EXPECT_TRUE(found->complete);

    // Nothing was arranged for a port that is not there.
    EXPECT_EQ(dm.chain_entry(3).chain_head, nullptr);
    EXPECT_EQ(dm.machine.faults().calls(FaultPoint::request_irq), 0u);
    EXPECT_FALSE(dm.machine.timers().pending(&dm.slot(3).poll_timer));
}

TEST_F(AbsentUart, NoPresenceTestLetsTheOpenThrough) {
    port().port_flags |= no_presence_test;
    auto file = dm.core().open("ttyS3");
    ASSERT_TRUE(file.ok()) << file.error();
    EXPECT_FALSE(dm.machine.log().contains("LSR safety check"));
    EXPECT_EQ(chain_walk(dm.chain_entry(3)).size(), 1u);
    EXPECT_EQ(dm.core().close(*file), 0);
    EXPECT_EQ(dm.chain_entry(3).chain_head, nullptr);
}

struct TxenCase {
    const char* what;
    bool silent_on_enable;  // enabling THRI with THR empty raises nothing
    bool skip_test;
    bool quirk_before;
    bool quirk_after;
};

class TransmitterEnableTest : public ::testing::TestWithParam<TxenCase> {};

TEST_P(TransmitterEnableTest, DecidesQuirkTxenUnlessTold) {
    const TxenCase c = GetParam();
    DriverMachine dm;
    auto& chip = dm.place_pc_uart(0x3f8, UartModel::ns16550a, 4);
    ASSERT_TRUE(dm.load());
    // The interrupt probe at load sent a byte; TEMT shows only once it has left.
    dm.machine.run_for(std::chrono::milliseconds(100));
    sim::hw::UartFaults faults;
    faults.thre_silent_on_enable = c.silent_on_enable;
    chip.set_faults(faults);
    serial8250_uart& up = dm.slot(0);
    if (c.skip_test) up.port.port_flags |= skip_txen_test;
    if (c.quirk_before) {
        up.quirk_flags |= quirk_txen;
    } else {
        up.quirk_flags &= static_cast<std::uint16_t>(~quirk_txen);
    }

    dm.start_trace();
    ASSERT_EQ(start_port(up), 0);
    EXPECT_EQ((up.quirk_flags & quirk_txen) != 0, c.quirk_after);
    // The test itself: THRI on, LSR and IIR looked at, THRI off, right after the modem lines.
    const std::vector<RegisterAccess> probe = {wr("MCR", 0x08), wr("IER", 0x02), rd("LSR"), rd("IIR"),
                                               wr("IER", 0x00)};
    EXPECT_EQ(contains_run(dm.register_trace("serial"), probe), !c.skip_test);
    stop_port(up);
}

INSTANTIATE_TEST_SUITE_P(
    Uarts, TransmitterEnableTest,
    ::testing::Values(TxenCase{"RaisesThreOnEnableClearsIt", false, false, true, false},
                      TxenCase{"SilentOnEnableSetsIt", true, false, false, true},
                      TxenCase{"SkipKeepsItSet", false, true, true, true},
                      TxenCase{"SkipKeepsItClear", true, true, false, false}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace driver_test
