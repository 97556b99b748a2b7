#include "sim/hw/bus.h"

#include <array>
#include <vector>

#include <gtest/gtest.h>

namespace sim::hw {
namespace {

// Eight byte registers; the name of register 1 depends on what was last written to 0, so the
// test can tell the name is asked before the access.
class BankedDevice : public IoDevice, public MemoryDevice {
public:
    std::uint8_t io_read(std::uint32_t offset) override { return regs[offset % 8]; }
    void io_write(std::uint32_t offset, std::uint8_t value) override { regs[offset % 8] = value; }
    std::string_view register_name(std::uint32_t offset, bool is_write) const override {
        if (offset == 1) return regs[0] == 0x80 ? "BANKED" : "PLAIN";
        return is_write ? "W" : "R";
    }
    std::uint32_t mem_read(std::uint64_t offset, unsigned width) override {
        return width == 4 ? 0x11223300u | regs[offset % 8] : regs[offset % 8];
    }
    void mem_write(std::uint64_t offset, unsigned, std::uint32_t value) override {
        regs[offset % 8] = static_cast<std::uint8_t>(value);
        last_word = value;
    }
    std::string_view register_name(std::uint64_t, bool) const override { return "M"; }
    std::array<std::uint8_t, 8> regs{};
    std::uint32_t last_word = 0;
};

class BusTest : public ::testing::Test {
protected:
    EventQueue events;
    Bus bus{events};
    BankedDevice device;
};

TEST_F(BusTest, UnclaimedSpaceFloats) {
    EXPECT_EQ(bus.inb(0x3f8), 0xff);
    bus.outb(0x3f8, 0x12);  // dropped, nothing to crash
    EXPECT_EQ(bus.read_memory(0xfe000000, 1), 0xffu);
    EXPECT_EQ(bus.read_memory(0xfe000000, 4), 0xffffffffu);
}

TEST_F(BusTest, ClaimsRouteOffsetsAndRefuseOverlaps) {
    auto claim = bus.claim_io(0x3f8, 8, device, "uart0");
    ASSERT_TRUE(claim);
    BankedDevice other;
    EXPECT_FALSE(bus.claim_io(0x3ff, 2, other, "overlap"));
    EXPECT_FALSE(bus.claim_io(0xfffc, 8, other, "past the end"));
    EXPECT_FALSE(bus.claim_io(0x100, 0, other, "empty"));
    EXPECT_TRUE(bus.claim_io(0x400, 8, other, "next"));
    bus.outb(0x3fb, 0x42);
    EXPECT_EQ(device.regs[3], 0x42);
    EXPECT_EQ(bus.inb(0x3fb), 0x42);
    EXPECT_EQ(bus.claim_name(*claim), "uart0");
    bus.release(*claim);
    EXPECT_EQ(bus.inb(0x3fb), 0xff);
    EXPECT_TRUE(bus.claim_io(0x3f8, 8, other, "again"));
}

TEST_F(BusTest, MemoryClaimsPassWidthAndRefuseOverlaps) {
    ASSERT_TRUE(bus.claim_memory(0xfe001000, 0x20, device, "mmio"));
    BankedDevice other;
    EXPECT_FALSE(bus.claim_memory(0xfe000ff0, 0x20, other, "overlap"));
    EXPECT_FALSE(bus.claim_memory(~std::uint64_t{0}, 2, other, "wraps"));
    ASSERT_TRUE(bus.claim_memory(0xfe000000, 0x1000, other, "below"));
    bus.write_memory(0xfe001004, 4, 0xabcdef01);
    EXPECT_EQ(device.last_word, 0xabcdef01u);
    EXPECT_EQ(bus.read_memory(0xfe001004, 4), 0x11223301u);
    EXPECT_EQ(bus.read_memory(0xfe001004, 1), 0x01u);
    EXPECT_EQ(bus.read_memory(0xfe001020, 1), 0xffu);  // just past the claim
}

TEST_F(BusTest, TraceRecordsNameAskedBeforeTheAccessAndObserverRunsAfter) {
    ASSERT_TRUE(bus.claim_io(0x2f8, 8, device, "uart1"));
    std::vector<std::uint8_t> seen_by_observer;
    bus.set_access_observer([&] { seen_by_observer.push_back(device.regs[0]); });
    bus.set_tracing(true);
    events.advance_to(TimePoint{} + std::chrono::microseconds(3));
    bus.outb(0x2f8, 0x80);
    bus.outb(0x2f9, 0x01);   // reaches "BANKED": register 0 already holds 0x80
    bus.outb(0x2f8, 0x00);   // the write that leaves the bank is itself named as before it
    bus.inb(0x2f9);
    bus.inb(0x100);
    const auto trace = bus.trace();
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[1].register_name, "BANKED");
    EXPECT_EQ(trace[1].device, "uart1");
    EXPECT_EQ(trace[1].kind, AccessKind::io_write);
    EXPECT_EQ(trace[1].address, 0x2f9u);
    EXPECT_EQ(trace[1].value, 0x01u);
    EXPECT_EQ(trace[1].time, TimePoint{} + std::chrono::microseconds(3));
    EXPECT_EQ(trace[3].register_name, "PLAIN");
    EXPECT_EQ(trace[4].device, "");
    EXPECT_EQ(trace[4].value, 0xffu);
    EXPECT_EQ(seen_by_observer, (std::vector<std::uint8_t>{0x80, 0x80, 0x00, 0x00, 0x00}));
}

TEST_F(BusTest, TraceKeepsOnlyTheNewestUpToItsLimit) {
    ASSERT_TRUE(bus.claim_io(0x2f8, 8, device, "uart1"));
    bus.inb(0x2f8);  // not traced: tracing is off by default
    EXPECT_TRUE(bus.trace().empty());
    bus.set_tracing(true, 3);
    for (int i = 0; i < 10; ++i) bus.outb(0x2ff, static_cast<std::uint8_t>(i));
    auto trace = bus.trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0].value, 7u);
    EXPECT_EQ(trace[2].value, 9u);
    bus.clear_trace();
    EXPECT_TRUE(bus.trace().empty());
    bus.set_tracing(false);
    bus.outb(0x2ff, 1);
    EXPECT_TRUE(bus.trace().empty());
}

}  // namespace
}  // namespace sim::hw
