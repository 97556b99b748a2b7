// Register access for every way a UART is wired: where each access lands on the bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using sim::hw::AccessKind;
using sim::hw::BusAccess;

using SerialIn = std::uint32_t(serial8250_uart*, int);
using SerialOut = void(serial8250_uart*, int, std::uint32_t);

// A window of memory that answers every read with one 32-bit pattern (its low byte for byte
// reads), so that a test sees which width reached it.
class PatternWindow final : public sim::hw::MemoryDevice {
public:
    explicit PatternWindow(std::uint32_t pattern) : pattern_(pattern) {}
    std::uint32_t mem_read(std::uint64_t, unsigned width) override {
        return width == 4 ? pattern_ : (pattern_ & 0xff);
    }
    void mem_write(std::uint64_t, unsigned, std::uint32_t) override {}
    std::string_view register_name(std::uint64_t, bool) const override { return "WINDOW"; }

private:
    std::uint32_t pattern_;
};

constexpr std::uint64_t window_phys = 0xfe000000;
constexpr std::uint64_t window_length = 0x100;
constexpr std::uint32_t window_pattern = 0xa1b2c3d4;

class AccessKinds : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dm.load("nr_uarts=0"));
        serial_in = dm.function<SerialIn>("serial_in");
        serial_out = dm.function<SerialOut>("serial_out");
        window_claim = dm.machine.bus().claim_memory(window_phys, window_length, window, "window");
        ASSERT_TRUE(window_claim.has_value());
        window_address = static_cast<unsigned char*>(dm.machine.mappings().map(window_phys, window_length));
        ASSERT_NE(window_address, nullptr);
        dm.start_trace();
    }
    void TearDown() override {
        dm.machine.mappings().unmap(window_address);
        dm.machine.bus().release(*window_claim);
    }

    serial8250_uart io_port(std::uint32_t base, std::uint8_t shift = 0, std::uint8_t kind = access_port_io) {
        serial8250_uart up{};
        up.port.io_base = base;
        up.port.reg_shift = shift;
        up.port.access_kind = kind;
        return up;
    }
    serial8250_uart mem_port(std::uint8_t kind, std::uint8_t shift = 0) {
        serial8250_uart up{};
        up.port.reg_window = window_address;
        up.port.reg_shift = shift;
        up.port.access_kind = kind;
        return up;
    }
    std::vector<BusAccess> accesses() {
        auto trace = dm.machine.bus().trace();
        return {trace.begin(), trace.end()};
    }

    DriverMachine dm;
    PatternWindow window{window_pattern};
    std::optional<sim::hw::ClaimId> window_claim;
    unsigned char* window_address = nullptr;
    SerialIn* serial_in = nullptr;
    SerialOut* serial_out = nullptr;
};

struct PortIoCase {
    const char* what;
    std::uint32_t io_base;
    std::uint8_t shift;
    std::uint8_t kind;
    int offset;
    std::uint16_t expected_port;
};

TEST_F(AccessKinds, PortIoAddressesWrapAtSixteenBitsAndKeepNegativeOffsets) {
    const PortIoCase cases[] = {
        {"plain register", 0x3f8, 0, access_port_io, 5, 0x3fd},
        {"spaced registers", 0x100, 2, access_port_io, 3, 0x10c},
        {"address wraps at 16 bits", 0xfff8, 0, access_port_io, 9, 0x0001},
        {"RSA register below the base", 0x100, 0, access_port_io, -8, 0x0f8},
        {"RSA register with spacing 4", 0x100, 2, access_port_io, -8, 0x0e0},
        {"wide window reaches registers as port I/O", 0x2f8, 0, access_wide_window, 3, 0x2fb},
        {"unknown kind reaches registers as port I/O", 0x2f8, 0, 9, 6, 0x2fe},
    };
    for (const PortIoCase& c : cases) {
        SCOPED_TRACE(c.what);
        serial8250_uart up = io_port(c.io_base, c.shift, c.kind);
        dm.machine.bus().clear_trace();
        EXPECT_EQ(serial_in(&up, c.offset), 0xffu);  // nothing answers there
        serial_out(&up, c.offset, 0x1234);
        const auto trace = accesses();
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(trace[0].kind, AccessKind::io_read);
        EXPECT_EQ(trace[0].address, c.expected_port);
        EXPECT_EQ(trace[1].kind, AccessKind::io_write);
        EXPECT_EQ(trace[1].address, c.expected_port);
        EXPECT_EQ(trace[1].value, 0x34u) << "only the low byte goes out";
    }
}

TEST_F(AccessKinds, Hub6SelectsTheRegisterThroughTheIndexPort) {
    struct Case {
        std::uint8_t hub6_index;
        int offset;
        std::uint8_t index_byte;
    };
    for (const Case c : {Case{1, 5, 0x05}, Case{3, 1, 0x03}, Case{0, 0, 0xff}}) {
        SCOPED_TRACE(testing::Message() << "hub6 index " << unsigned{c.hub6_index} << " offset " << c.offset);
        serial8250_uart up = io_port(0x302, 0, access_hub6);
        up.port.hub6_index = c.hub6_index;
        dm.machine.bus().clear_trace();
        (void)serial_in(&up, c.offset);
        serial_out(&up, c.offset, 0x5a);
        const auto trace = accesses();
        ASSERT_EQ(trace.size(), 4u);
        for (std::size_t first : {0u, 2u}) {
            EXPECT_EQ(trace[first].kind, AccessKind::io_write);
            EXPECT_EQ(trace[first].address, 0x302u);
            EXPECT_EQ(trace[first].value, c.index_byte);
        }
        EXPECT_EQ(trace[1].kind, AccessKind::io_read);
        EXPECT_EQ(trace[1].address, 0x303u);
        EXPECT_EQ(trace[3].kind, AccessKind::io_write);
        EXPECT_EQ(trace[3].address, 0x303u);
        EXPECT_EQ(trace[3].value, 0x5au);
    }
}

TEST_F(AccessKinds, Mem8UsesByteAccessesAtTheShiftedOffset) {
    serial8250_uart up = mem_port(access_mem8, 2);
    EXPECT_EQ(serial_in(&up, 3), window_pattern & 0xff);
    serial_out(&up, 4, 0x1ff);
    const auto trace = accesses();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].kind, AccessKind::mem_read);
    EXPECT_EQ(trace[0].address, window_phys + 12);
    EXPECT_EQ(trace[0].width, 1u);
    EXPECT_EQ(trace[1].kind, AccessKind::mem_write);
    EXPECT_EQ(trace[1].address, window_phys + 16);
    EXPECT_EQ(trace[1].width, 1u);
    EXPECT_EQ(trace[1].value, 0xffu);
}

TEST_F(AccessKinds, Mem32MovesWholeWords) {
    serial8250_uart up = mem_port(access_mem32, 2);
    EXPECT_EQ(serial_in(&up, 5), window_pattern) << "all 32 bits, not only the low byte";
    serial_out(&up, 1, 0x60);
    serial_out(&up, 1, 0xdeadbeef);
    const auto trace = accesses();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0].address, window_phys + 20);
    EXPECT_EQ(trace[0].width, 4u);
    EXPECT_EQ(trace[1].width, 4u);
    EXPECT_EQ(trace[1].value, 0x00000060u);
    EXPECT_EQ(trace[2].value, 0xdeadbeefu);
}

TEST_F(AccessKinds, Mem8QuirkReadsIirFromTheWordAndDropsIerWritesWithBit6) {
    serial8250_uart up = mem_port(access_mem8_quirk);
    EXPECT_EQ(serial_in(&up, 2), (window_pattern >> 8) & 0xff);
    auto trace = accesses();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].kind, AccessKind::mem_read);
    EXPECT_EQ(trace[0].address, window_phys);
    EXPECT_EQ(trace[0].width, 4u);

    dm.machine.bus().clear_trace();
    serial_out(&up, 1, 0x45);
    EXPECT_TRUE(accesses().empty()) << "IER with bit 0x40 must never reach the board";
    serial_out(&up, 1, 0x05);
    EXPECT_EQ(serial_in(&up, 5), window_pattern & 0xff);
    trace = accesses();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].kind, AccessKind::mem_write);
    EXPECT_EQ(trace[0].address, window_phys + 1);
    EXPECT_EQ(trace[0].width, 1u);
    EXPECT_EQ(trace[0].value, 0x05u);
    EXPECT_EQ(trace[1].width, 1u);

    // The two exceptions apply to the shifted offset, not to the register number.
    serial8250_uart spaced = mem_port(access_mem8_quirk, 1);
    dm.machine.bus().clear_trace();
    serial_out(&spaced, 1, 0x40);
    (void)serial_in(&spaced, 1);
    trace = accesses();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].kind, AccessKind::mem_write);
    EXPECT_EQ(trace[0].address, window_phys + 2);
    EXPECT_EQ(trace[0].value, 0x40u);
    EXPECT_EQ(trace[1].kind, AccessKind::mem_read);
    EXPECT_EQ(trace[1].address, window_phys);
    EXPECT_EQ(trace[1].width, 4u);
}

// Only posted memory writes need the read-back; port I/O is synchronous already.
TEST_F(AccessKinds, SerialOutSyncReadsLcrBackOnlyForMem8) {
    auto serial_out_sync = dm.function<SerialOut>("serial_out_sync");
    struct Case {
        std::uint8_t kind;
        std::size_t accesses;
    };
    for (const Case c : {Case{access_port_io, 1}, Case{access_hub6, 2}, Case{access_mem8, 2},
                         Case{access_mem32, 1}, Case{access_wide_window, 1}, Case{access_mem8_quirk, 1}}) {
        SCOPED_TRACE(testing::Message() << "access kind " << unsigned{c.kind});
        serial8250_uart up = c.kind == access_mem8 || c.kind == access_mem32 || c.kind == access_mem8_quirk
                                 ? mem_port(c.kind)
                                 : io_port(0x2f8, 0, c.kind);
        dm.machine.bus().clear_trace();
        serial_out_sync(&up, 1, 0x05);
        const auto trace = accesses();
        ASSERT_EQ(trace.size(), c.accesses);
        if (c.kind == access_mem8) {
            EXPECT_EQ(trace[0].kind, AccessKind::mem_write);
            EXPECT_EQ(trace[1].kind, AccessKind::mem_read);
            EXPECT_EQ(trace[1].address, window_phys + 3) << "the read-back is of LCR";
        } else {
            for (const BusAccess& access : trace) {
                EXPECT_TRUE(access.kind == AccessKind::io_write || access.kind == AccessKind::mem_write);
            }
        }
    }
}

}  // namespace
}  // namespace driver_test
