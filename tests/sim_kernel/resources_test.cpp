// Resource trees with their conflicts and /proc formats, register-window mapping, and the
// port and memory primitives reaching the bus.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "drivers/serial/kernel/io.h"
#include "drivers/serial/kernel/ioport.h"
#include "sim/kernel/machine.h"
#include "tests/sim_kernel/test_devices.h"

namespace sim::kernel {
namespace {

class ResourceTest : public ::testing::Test {
protected:
    Machine machine;
};

TEST_F(ResourceTest, ClaimsConflictAndNest) {
    ASSERT_NE(machine.ioports().add_window(0x2f0, 0x20, "pnp"), nullptr);
    resource* serial = __request_region(&ioport_resource, 0x3f8, 8, "serial");
    ASSERT_NE(serial, nullptr);
    EXPECT_EQ(serial->start, 0x3f8u);
    EXPECT_EQ(serial->end, 0x3ffu);
    EXPECT_NE(serial->flags & IORESOURCE_BUSY, 0u);
    struct Case {
        std::uint64_t start, length;
        bool granted;
    };
    const Case cases[] = {
        {0x3f8, 8, false},   // the same region again
        {0x3fc, 8, false},   // overlaps its end
        {0x3f0, 9, false},   // overlaps its start
        {0x3f9, 2, false},   // inside a busy region
        {0x2e8, 0x10, false},  // covers part of a window
        {0x2f8, 8, true},    // inside a window: nests
        {0x400, 8, true},    // adjacent
        {0xfff8, 16, false}, // past the end of the port space
        {0x100, 0, false},   // empty
    };
    for (const Case& c : cases) {
        EXPECT_EQ(__request_region(&ioport_resource, c.start, c.length, "other") != nullptr,
                  c.granted)
            << std::hex << c.start;
    }
    EXPECT_EQ(machine.files().read("/proc/ioports").content,
              "02f0-030f : pnp\n"
              "  02f8-02ff : other\n"
              "03f8-03ff : serial\n"
              "0400-0407 : other\n");
    // The global root mirrors the machine's tree.
    ASSERT_NE(ioport_resource.child, nullptr);
    EXPECT_EQ(ioport_resource.child->start, 0x2f0u);
}

TEST_F(ResourceTest, ReleasesOnlyWhatWasClaimed) {
    ASSERT_NE(__request_region(&ioport_resource, 0x3f8, 8, "serial"), nullptr);
    __release_region(&ioport_resource, 0x3f8, 4);
    EXPECT_TRUE(machine.log().contains("Trying to free nonexistent resource <000003f8-000003fb>"));
    EXPECT_TRUE(machine.ioports().claimed(0x3f8, 8, "serial"));
    __release_region(&ioport_resource, 0x3f8, 8);
    EXPECT_EQ(machine.files().read("/proc/ioports").content, "");
    EXPECT_EQ(ioport_resource.child, nullptr);
    // Claimable again.
    EXPECT_NE(__request_region(&ioport_resource, 0x3f8, 8, "serial"), nullptr);
}

TEST_F(ResourceTest, KeepsItsOwnCopyOfNames) {
    {
        std::string name = "serial-rsa";
        ASSERT_NE(__request_region(&ioport_resource, 0x100, 8, name.c_str()), nullptr);
        name.assign("overwritten");
    }
    EXPECT_EQ(machine.files().read("/proc/ioports").content, "0100-0107 : serial-rsa\n");
}

TEST_F(ResourceTest, MemoryRegionsUseEightDigits) {
    ASSERT_NE(__request_region(&iomem_resource, 0xfe000000, 0x1000, "serial"), nullptr);
    EXPECT_EQ(machine.files().read("/proc/iomem").content, "fe000000-fe000fff : serial\n");
}

TEST_F(ResourceTest, InjectedClaimFailuresRefuseOnce) {
    machine.faults().fail_next(FaultPoint::request_region);
    EXPECT_EQ(__request_region(&ioport_resource, 0x3f8, 8, "serial"), nullptr);
    EXPECT_NE(__request_region(&ioport_resource, 0x3f8, 8, "serial"), nullptr);
    EXPECT_EQ(machine.faults().calls(FaultPoint::request_region), 2u);
}

class MappingTest : public ::testing::Test {
protected:
    MappingTest() { EXPECT_TRUE(machine.bus().claim_memory(0xfe000000, 0x100, block, "block")); }
    Machine machine;
    testing::MemoryBlock block{0x100};
};

TEST_F(MappingTest, WindowsResolveToTheBus) {
    auto* window = static_cast<unsigned char*>(__ioremap(0xfe000010, 0x40, 0));
    ASSERT_NE(window, nullptr);
    // The offset inside the page is kept, as ioremap keeps it.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(window) % 4096, 0x10u);
    writeb(0x5a, window + 3);
    EXPECT_EQ(block.bytes()[0x13], 0x5a);
    writel(0x11223344, window + 8);
    EXPECT_EQ(readl(window + 8), 0x11223344u);
    EXPECT_EQ(readb(window + 8), 0x44);
    iounmap(window);
    EXPECT_EQ(machine.mappings().count(), 0u);
    iounmap(window);
    EXPECT_TRUE(machine.log().contains("iounmap: bad address"));
}

TEST_F(MappingTest, RefusesEmptyAndInjectedFailures) {
    EXPECT_EQ(__ioremap(0xfe000000, 0, 0), nullptr);
    machine.faults().fail_next(FaultPoint::ioremap);
    EXPECT_EQ(__ioremap(0xfe000000, 0x10, 0), nullptr);
    EXPECT_NE(__ioremap(0xfe000000, 0x10, 0), nullptr);
}

TEST(MappingDeathTest, AccessesOutsideAWindowStopOrFault) {
    EXPECT_DEATH(
        {
            Machine machine;
            auto* window = static_cast<unsigned char*>(__ioremap(0xfe000000, 0x10, 0));
            readl(window + 14);  // runs past the window's end
        },
        "readl at .*, which no __ioremap window covers");
    EXPECT_DEATH(
        {
            Machine machine;
            auto* window = static_cast<volatile unsigned char*>(__ioremap(0xfe000000, 0x10, 0));
            (void)*window;  // a driver that forgets the memory primitives
        },
        "");
}

TEST(PortIoTest, ReachesTheBusAndPausesAfterSlowAccesses) {
    Machine machine;
    testing::PinDevice device{machine.interrupt_controller(), 0};
    ASSERT_TRUE(machine.bus().claim_io(0x300, 2, device, "pin"));
    EXPECT_EQ(inb(0x2e8), 0xff);  // nothing there: a floating bus
    machine.bus().set_tracing(true);
    outb_p(0x42, 0x301);
    EXPECT_EQ(inb_p(0x301), 0x42);
    const auto trace = machine.bus().trace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0].register_name, "DATA");
    EXPECT_EQ(trace[1].kind, hw::AccessKind::io_write);
    EXPECT_EQ(trace[1].address, io_pause_port);
    EXPECT_EQ(trace[1].value, 0u);
    EXPECT_EQ(trace[2].kind, hw::AccessKind::io_read);
    EXPECT_EQ(trace[3].address, io_pause_port);
}

}  // namespace
}  // namespace sim::kernel
