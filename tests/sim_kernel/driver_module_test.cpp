// The driver module on the substitute: it binds to the kernel services this program exports,
// loads with its parameters, and unloads leaving nothing behind.
#include <gtest/gtest.h>

#include "sim/kernel/machine.h"

namespace sim::kernel {
namespace {

TEST(DriverModuleTest, LoadsAndUnloadsOnThePlainMachine) {
    MachineSettings settings;
    settings.module_dir = std::filesystem::path(SERIAL_8250_MODULE_PATH).parent_path();
    Machine machine{settings};
    const LoadResult loaded = machine.modules().load(SERIAL_8250_MODULE_PATH, "nr_uarts=40");
    ASSERT_TRUE(loaded) << loaded.message << "\n" << machine.log().dmesg();
    EXPECT_TRUE(machine.log().contains("32 ports, IRQ sharing enabled")) << machine.log().dmesg();
    EXPECT_EQ(machine.files().read("/sys/module/8250/parameters/nr_uarts").content, "32\n");
    const LoadResult unloaded = machine.modules().unload("8250");
    ASSERT_TRUE(unloaded) << unloaded.message;
    EXPECT_FALSE(machine.log().contains("still in place")) << machine.log().dmesg();
    EXPECT_TRUE(machine.platform().devices().empty());
    EXPECT_EQ(machine.files().read("/proc/ioports").content, "");
}

}  // namespace
}  // namespace sim::kernel
