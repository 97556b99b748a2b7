// The machine as a whole: which machine the services reach, its subsystems, and that tearing
// it down unloads modules before subsystems go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/serial/kernel/ioport.h"
#include "drivers/serial/kernel/printk.h"
#include "sim/hw/logging.h"
#include "sim/kernel/machine.h"

namespace sim::kernel {
namespace {

TEST(MachineTest, ServicesReachTheCurrentMachine) {
    Machine first;
    printk("<6>to first\n");
    {
        Machine second;
        EXPECT_EQ(&Machine::current(), &second);
        printk("<6>to second\n");
        {
            MachineScope scope(first);
            printk("<6>first again\n");
            ASSERT_NE(__request_region(&ioport_resource, 0x3f8, 8, "serial"), nullptr);
        }
        EXPECT_EQ(&Machine::current(), &second);
        EXPECT_EQ(ioport_resource.child, nullptr);  // the second machine's tree is empty
        EXPECT_TRUE(second.log().contains("to second"));
        EXPECT_FALSE(second.log().contains("first again"));
    }
    EXPECT_EQ(&Machine::current(), &first);
    EXPECT_TRUE(first.log().contains("first again"));
    ASSERT_NE(ioport_resource.child, nullptr);
    EXPECT_EQ(ioport_resource.child->start, 0x3f8u);
}

std::vector<std::string>* teardown_order = nullptr;

struct Recorded : Subsystem {
    explicit Recorded(Machine&) {}
    ~Recorded() override { teardown_order->push_back("subsystem"); }
    int uses = 0;
};

TEST(MachineTest, SubsystemsAreMadeOnceAndOutliveModules) {
    std::vector<std::string> order;
    teardown_order = &order;
    {
        MachineSettings settings;
        settings.module_dir = TEST_MODULE_DIR;
        Machine machine{settings};
        EXPECT_EQ(machine.find_subsystem<Recorded>(), nullptr);
        ++machine.subsystem<Recorded>().uses;
        ++machine.subsystem<Recorded>().uses;
        EXPECT_EQ(machine.find_subsystem<Recorded>()->uses, 2);
        ASSERT_TRUE(machine.modules().load("testmod"));
        machine.log().set_sink([&](const LogRecord& record) {
            if (record.text == "testmod: exit") order.push_back("module exit");
        });
    }
    teardown_order = nullptr;
    EXPECT_EQ(order, (std::vector<std::string>{"module exit", "subsystem"}));
}

TEST(MachineDeathTest, ServicesWithoutAMachineStop) {
    EXPECT_DEATH(printk("nobody\n"), "a kernel service was called with no machine");
}

TEST(MachineTest, RefusesAnImpossibleTickRate) {
    MachineSettings settings;
    settings.hz = 0;
    EXPECT_THROW(Machine{settings}, hw::ConfigurationError);
}

}  // namespace
}  // namespace sim::kernel
