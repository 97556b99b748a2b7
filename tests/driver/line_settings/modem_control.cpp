// Modem-control lines out and in, automatic flow control on the TI16750, break, the
// transmitter-empty test and sleep.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <vector>

#include "line_port.h"
#include "sim/hw/line/host_endpoint.h"

namespace driver_test {
namespace {

using namespace std::chrono_literals;
using sim::hw::ModemSignal;
using sim::hw::UartModel;
using sim::kernel::FileHandle;

// A port opened by a process, as the serial core drives it.
class OpenPort {
public:
    explicit OpenPort(PortSetup setup) : lp(setup) {
        if (!lp.ready()) return;
        auto opened = lp.dm.core().open(lp.device());
        EXPECT_TRUE(opened.ok()) << opened.error();
        if (opened.ok()) file = *opened;
    }
    ~OpenPort() {
        if (file.id >= 0) {
            EXPECT_EQ(lp.dm.core().close(file), 0);
        }
    }
    bool ready() const { return lp.ready() && file.id >= 0; }
    int set(tcflag_t speed, tcflag_t framing) {
        return lp.dm.core().set_termios(file, line_settings(speed, framing));
    }
    // MCR values written while `operation` ran.
    template <typename Operation>
    std::vector<RegisterAccess> mcr_writes(Operation&& operation) {
        return writes_among(lp.traced(operation), {"MCR"});
    }

    LinePort lp;
    FileHandle file{};
};

TEST(AutomaticFlowControl, TI16750KeepsMcrBit20WhileCrtsctsIsSet) {
    OpenPort op({.model = UartModel::ti16c750});
    ASSERT_TRUE(op.ready());
    auto& core = op.lp.dm.core();

    auto on = op.mcr_writes([&] {
        ASSERT_EQ(op.set(B115200, CS8 | CRTSCTS), 0);
        ASSERT_EQ(core.lower_modem_lines(op.file, TIOCM_DTR), 0);
        ASSERT_EQ(core.raise_modem_lines(op.file, TIOCM_DTR), 0);
    });
    ASSERT_GE(on.size(), 3u) << "settings and each modem-line change write MCR";
    for (const RegisterAccess& write : on) EXPECT_EQ(*write.value & 0x20, 0x20) << write;
    EXPECT_EQ(on.back(), wr("MCR", 0x2b)) << "DTR, RTS and OUT2 of the open port, plus flow control";
    EXPECT_EQ(op.lp.chip().mcr() & 0x20, 0x20);

    auto off = op.mcr_writes([&] {
        ASSERT_EQ(op.set(B115200, CS8), 0);
        ASSERT_EQ(core.lower_modem_lines(op.file, TIOCM_DTR), 0);
    });
    ASSERT_GE(off.size(), 2u);
    for (const RegisterAccess& write : off) EXPECT_EQ(*write.value & 0x20, 0) << write;
    EXPECT_EQ(op.lp.chip().mcr() & 0x20, 0);
}

TEST(AutomaticFlowControl, PartsWithoutItNeverGetMcrBit20) {
    for (UartModel model : {UartModel::ns16550a, UartModel::st16c650v2, UartModel::ox16c950}) {
        SCOPED_TRACE(sim::hw::uart_preset(model).features.part);
        OpenPort op({.model = model});
        ASSERT_TRUE(op.ready());
        auto writes = op.mcr_writes([&] { ASSERT_EQ(op.set(B115200, CS8 | CRTSCTS), 0); });
        ASSERT_FALSE(writes.empty());
        for (const RegisterAccess& write : writes) EXPECT_EQ(*write.value & 0x20, 0) << write;
    }
}

TEST(Break, NewSettingsEndABreakThatIsOn) {
    OpenPort op({});
    ASSERT_TRUE(op.ready());
    ASSERT_EQ(op.set(B9600, CS7 | PARENB), 0);
    ASSERT_EQ(op.lp.dm.core().set_break(op.file, true), 0);
    ASSERT_TRUE(op.lp.chip().break_active());
    EXPECT_EQ(op.lp.up().lcr_shadow, 0x5a);

    const auto lcr = writes_among(op.lp.traced([&] { ASSERT_EQ(op.set(B19200, CS8), 0); }), {"LCR"});
    ASSERT_FALSE(lcr.empty());
    EXPECT_EQ(lcr.back(), wr("LCR", 0x13));
    EXPECT_FALSE(op.lp.chip().break_active());
    EXPECT_EQ(op.lp.up().lcr_shadow, 0x13);
}

TEST(Break, OnlyMinusOneStartsIt) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    lp.apply(line_settings(B9600, CS8));
    struct Case {
        int state;
        bool on;
    };
    for (const Case c : {Case{-1, true}, Case{1, false}, Case{0, false}, Case{-2, false}, Case{INT_MIN, false}}) {
        SCOPED_TRACE(testing::Message() << "break_ctl(" << c.state << ")");
        lp.ops().break_ctl(lp.port(), -1);  // a break is on before each case
        const auto trace = lp.traced([&] { lp.ops().break_ctl(lp.port(), c.state); });
        const std::uint8_t lcr = c.on ? 0x53 : 0x13;
        EXPECT_EQ(trace, std::vector<RegisterAccess>{wr("LCR", lcr)});
        EXPECT_EQ(lp.up().lcr_shadow, lcr);
        EXPECT_EQ(lp.chip().break_active(), c.on);
    }
}

TEST(TransmitterEmpty, HoldingRegisterEmptyIsNotEnoughWhileTheShiftRegisterSends) {
    LinePort lp({.model = UartModel::ns16450});
    ASSERT_TRUE(lp.ready());
    lp.apply(line_settings(B300, CS8));
    auto serial_out = lp.dm.function<void(serial8250_uart*, int, std::uint32_t)>("serial_out");
    serial_out(&lp.up(), 0, 'x');  // moves on to the shift register at once
    ASSERT_EQ(lp.chip().peek(5) & 0x60, 0x20) << "THRE without TEMT";

    unsigned empty = 1;
    const auto trace = lp.traced([&] { empty = lp.ops().tx_empty(lp.port()); });
    EXPECT_EQ(empty, 0u);
    EXPECT_EQ(trace, std::vector<RegisterAccess>{rd("LSR")});

    lp.dm.machine.run_for(50ms);  // one character at 300 bit/s takes 33 ms
    ASSERT_EQ(lp.chip().peek(5) & 0x60, 0x60);
    EXPECT_EQ(lp.ops().tx_empty(lp.port()), 1u);
}

struct MctrlCase {
    const char* what;
    unsigned int mctrl;
    std::uint8_t mcr;
};

TEST(ModemLinesOut, ModemControlBitsBecomeMcrBits) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    const MctrlCase cases[] = {
        {"DTR, RTS and OUT2", TIOCM_DTR | TIOCM_RTS | TIOCM_OUT2, 0x0b},
        {"nothing", 0, 0x00},
        {"DTR", TIOCM_DTR, 0x01},
        {"RTS", TIOCM_RTS, 0x02},
        {"OUT1", TIOCM_OUT1, 0x04},
        {"OUT2", TIOCM_OUT2, 0x08},
        {"LOOP", TIOCM_LOOP, 0x10},
        {"input lines are no outputs", TIOCM_CTS | TIOCM_CAR | TIOCM_DSR | TIOCM_RNG | TIOCM_LE, 0x00},
        {"all outputs", 0xffffffffu, 0x1f},
    };
    for (const MctrlCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto trace = lp.traced([&] { lp.ops().set_mctrl(lp.port(), c.mctrl); });
        EXPECT_EQ(trace, std::vector<RegisterAccess>{wr("MCR", c.mcr)});
        EXPECT_EQ(lp.chip().mcr(), c.mcr);
        // In loopback the outputs are turned back inside the chip and the pins rest.
        const bool pins = (c.mcr & 0x10) == 0;
        EXPECT_EQ(lp.chip().dtr_output(), pins && (c.mcr & 0x01) != 0);
        EXPECT_EQ(lp.chip().rts_output(), pins && (c.mcr & 0x02) != 0);
    }
}

TEST(ModemLinesOut, MaskAndForcedBitsAndFlowControlBitShapeTheMcrByte) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    struct Case {
        const char* what;
        std::uint8_t mask, force, shadow;
        std::uint8_t mcr;
    };
    const Case cases[] = {
        {"as set up: everything passes, nothing forced", 0xff, 0x00, 0x00, 0x03},
        {"a masked line stays off", 0xfd, 0x00, 0x00, 0x01},
        {"a forced line is on", 0xff, 0x08, 0x00, 0x0b},
        {"the flow-control bit is added", 0xff, 0x00, 0x20, 0x23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lp.up().mcr_mask = c.mask;
        lp.up().mcr_force = c.force;
        lp.up().mcr_shadow = c.shadow;
        const auto trace = lp.traced([&] { lp.ops().set_mctrl(lp.port(), TIOCM_DTR | TIOCM_RTS); });
        EXPECT_EQ(trace, std::vector<RegisterAccess>{wr("MCR", c.mcr)});
    }
    lp.up().mcr_mask = 0xff;
    lp.up().mcr_force = 0x00;
    lp.up().mcr_shadow = 0x00;
}

struct MsrCase {
    const char* what;
    std::vector<ModemSignal> asserted;
    unsigned int lines;
};

TEST(ModemLinesIn, MsrLinesBecomeModemStatusBits) {
    LinePort lp({});
    ASSERT_TRUE(lp.ready());
    sim::hw::HostEndpoint far_end(lp.dm.machine.events());
    far_end.connect(lp.chip());
    const MsrCase cases[] = {
        {"none", {}, 0},
        {"CTS", {ModemSignal::cts}, TIOCM_CTS},
        {"DSR", {ModemSignal::dsr}, TIOCM_DSR},
        {"DCD", {ModemSignal::dcd}, TIOCM_CAR},
        {"RI", {ModemSignal::ri}, TIOCM_RNG},
        {"all", {ModemSignal::cts, ModemSignal::dsr, ModemSignal::dcd, ModemSignal::ri},
         TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_RNG},
    };
    for (const MsrCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (ModemSignal s : {ModemSignal::cts, ModemSignal::dsr, ModemSignal::dcd, ModemSignal::ri}) {
            far_end.set_modem_output(s, false);
        }
        for (ModemSignal s : c.asserted) far_end.set_modem_output(s, true);
        unsigned int lines = 0;
        const auto trace = lp.traced([&] { lines = lp.ops().get_mctrl(lp.port()); });
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(trace, std::vector<RegisterAccess>{rd("MSR")});
    }
    far_end.disconnect();
}

struct SleepCase {
    const char* what;
    UartModel model;
    unsigned int state;
    std::vector<RegisterAccess> writes;
    bool asleep;
};

TEST(PowerState, SleepIsEnteredAndLeftThroughIerAndOnEfrPartsWithEnhancedFunctionsOn) {
    const std::vector<RegisterAccess> efr_sleep = {wr("LCR", 0xbf), wr("EFR", 0x10), wr("LCR", 0x00),
                                                   wr("IER", 0x10), wr("LCR", 0xbf), wr("EFR", 0x00),
                                                   wr("LCR", 0x00)};
    const std::vector<RegisterAccess> efr_wake = {wr("LCR", 0xbf), wr("EFR", 0x10), wr("LCR", 0x00),
                                                  wr("IER", 0x00), wr("LCR", 0xbf), wr("EFR", 0x00),
                                                  wr("LCR", 0x00)};
    const SleepCase cases[] = {
        {"ST16650V2 to state 3", UartModel::st16c650v2, 3, efr_sleep, true},
        {"ST16650V2 to state 0", UartModel::st16c650v2, 0, efr_wake, false},
        {"XR16850 to state 1", UartModel::xr16c850, 1, efr_sleep, true},
        {"TI16750 to state 3", UartModel::ti16c750, 3, {wr("IER", 0x10)}, true},
        {"TI16750 to state 0", UartModel::ti16c750, 0, {wr("IER", 0x00)}, false},
        {"16550A cannot sleep", UartModel::ns16550a, 3, {}, false},
    };
    for (const SleepCase& c : cases) {
        SCOPED_TRACE(c.what);
        LinePort lp({.model = c.model});
        ASSERT_TRUE(lp.ready());
        lp.up().ier_shadow = 0x0f;  // not consulted
        if (c.state == 0) lp.ops().pm(lp.port(), 3, 0);
        const auto trace = lp.traced([&] { lp.ops().pm(lp.port(), c.state, 0); });
        EXPECT_EQ(trace, c.writes);
        EXPECT_EQ(lp.chip().asleep(), c.asleep);
        EXPECT_EQ(lp.up().ier_shadow, 0x0f);
    }
}

}  // namespace
}  // namespace driver_test
