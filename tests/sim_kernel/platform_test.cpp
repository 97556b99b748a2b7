// The platform bus: device life and reference counts, binding by name with probe and remove,
// the driver name during probe, the sleep passes, board devices, and injected failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/serial/kernel/platform_device.h"
#include "sim/kernel/machine.h"
#include "sim/kernel/platform/board_devices.h"

namespace sim::kernel {
namespace {

using ::testing::ElementsAre;

struct DriverLog {
    std::vector<std::string> events;
    int probe_result = 0;
    int suspend_result = 0;
    std::string failing_suspend;
};
DriverLog* driver_log = nullptr;

int log_probe(platform_device* pdev) {
    driver_log->events.push_back(std::string("probe ") + pdev->dev.bus_id + " as " +
                                 dev_driver_string(&pdev->dev));
    return driver_log->probe_result;
}
int log_remove(platform_device* pdev) {
    driver_log->events.push_back(std::string("remove ") + pdev->dev.bus_id);
    return 0;
}
int log_suspend(platform_device* pdev, pm_message_t) {
    driver_log->events.push_back(std::string("suspend ") + pdev->dev.bus_id);
    return driver_log->failing_suspend == pdev->dev.bus_id ? driver_log->suspend_result : 0;
}
int log_resume(platform_device* pdev) {
    driver_log->events.push_back(std::string("resume ") + pdev->dev.bus_id);
    return 0;
}

class PlatformTest : public ::testing::Test {
protected:
    PlatformTest() { driver_log = &log; }
    ~PlatformTest() override { driver_log = nullptr; }

    platform_device* add_device(const char* name, int id) {
        platform_device* pdev = platform_device_alloc(name, id);
        EXPECT_NE(pdev, nullptr);
        EXPECT_EQ(platform_device_add(pdev), 0);
        return pdev;
    }

    Machine machine;
    DriverLog log;
    platform_driver driver{log_probe, log_remove, nullptr, log_suspend, log_resume,
                           device_driver{"serial8250", nullptr}};
};

TEST_F(PlatformTest, DevicesAreNamedAndCounted) {
    platform_device* legacy = platform_device_alloc("serial8250", -1);
    platform_device* board = platform_device_alloc("serial8250", 3);
    EXPECT_STREQ(legacy->dev.bus_id, "serial8250");
    EXPECT_STREQ(board->dev.bus_id, "serial8250.3");
    EXPECT_EQ(machine.platform().references(legacy), 1);
    ASSERT_EQ(platform_device_add(legacy), 0);
    EXPECT_EQ(machine.platform().references(legacy), 2);
    platform_device_del(legacy);
    EXPECT_EQ(machine.platform().references(legacy), 1);
    EXPECT_TRUE(machine.platform().is_live(legacy));
    platform_device_put(legacy);
    EXPECT_FALSE(machine.platform().is_live(legacy));
    ASSERT_EQ(platform_device_add(board), 0);
    platform_device_unregister(board);
    EXPECT_FALSE(machine.platform().is_live(board));
    EXPECT_TRUE(machine.platform().devices().empty());
}

TEST_F(PlatformTest, ADeviceNameIsTakenOnce) {
    add_device("serial8250", -1);
    platform_device* again = platform_device_alloc("serial8250", -1);
    EXPECT_EQ(platform_device_add(again), -kerr::exist);
    platform_device_put(again);
}

TEST_F(PlatformTest, RegistrationProbesEveryMatchingDeviceAndUnregistrationRemovesThem) {
    add_device("serial8250", -1);
    add_device("other", -1);
    add_device("serial8250", 1);
    ASSERT_EQ(platform_driver_register(&driver), 0);
    // A device added later is probed at once.
    platform_device* late = add_device("serial8250", 2);
    EXPECT_THAT(log.events, ElementsAre("probe serial8250 as serial8250",
                                        "probe serial8250.1 as serial8250",
                                        "probe serial8250.2 as serial8250"));
    EXPECT_STREQ(dev_driver_string(&late->dev), "serial8250");
    log.events.clear();
    platform_driver_unregister(&driver);
    EXPECT_THAT(log.events, ElementsAre("remove serial8250.2", "remove serial8250.1",
                                        "remove serial8250"));
    EXPECT_STREQ(dev_driver_string(&late->dev), "platform");
    EXPECT_EQ(machine.platform().devices().size(), 4u);
}

TEST_F(PlatformTest, ARefusingProbeLeavesTheDeviceUnbound) {
    platform_device* pdev = add_device("serial8250", -1);
    log.probe_result = -kerr::nodev;
    ASSERT_EQ(platform_driver_register(&driver), 0);
    EXPECT_EQ(pdev->dev.driver, nullptr);
    EXPECT_FALSE(machine.log().contains("probe of"));
    platform_driver_unregister(&driver);
    log.probe_result = -kerr::io;
    ASSERT_EQ(platform_driver_register(&driver), 0);
    EXPECT_TRUE(machine.log().contains("serial8250: probe of serial8250 failed with error -5"));
    log.events.clear();
    platform_driver_unregister(&driver);
    EXPECT_TRUE(log.events.empty());
}

TEST_F(PlatformTest, DeletingABoundDeviceRemovesItFirst) {
    ASSERT_EQ(platform_driver_register(&driver), 0);
    platform_device* pdev = add_device("serial8250", 4);
    log.events.clear();
    platform_device_unregister(pdev);
    EXPECT_THAT(log.events, ElementsAre("remove serial8250.4"));
    platform_driver_unregister(&driver);
}

TEST_F(PlatformTest, SuspendAndResumeBoundDevices) {
    add_device("serial8250", -1);
    add_device("serial8250", 1);
    add_device("other", -1);
    ASSERT_EQ(platform_driver_register(&driver), 0);
    log.events.clear();
    EXPECT_EQ(machine.suspend_devices(), 0);
    machine.resume_devices();
    EXPECT_THAT(log.events, ElementsAre("suspend serial8250.1", "suspend serial8250",
                                        "resume serial8250", "resume serial8250.1"));
    // A failing suspend wakes the ones already asleep and reports its error.
    log.events.clear();
    log.failing_suspend = "serial8250";
    log.suspend_result = -kerr::busy;
    EXPECT_EQ(machine.suspend_devices(), -kerr::busy);
    EXPECT_THAT(log.events, ElementsAre("suspend serial8250.1", "suspend serial8250",
                                        "resume serial8250.1"));
    platform_driver_unregister(&driver);
}

TEST_F(PlatformTest, BoardDevicesCarryTheirPortEntries) {
    platform_port_entry ports[2]{};
    ports[0].io_base = 0x1000;
    ports[0].irq_line = 10;
    ports[0].uart_clock_hz = 1843200;
    ports[0].port_flags = 0x40;
    ports[1] = ports[0];
    ports[1].io_base = 0x1008;
    const BoardDevice board = add_serial8250_board(machine, 7, ports);
    ASSERT_TRUE(board) << board.error;
    EXPECT_STREQ(board.device->dev.bus_id, "serial8250.7");
    const auto* entries = static_cast<const platform_port_entry*>(board.device->dev.platform_data);
    ASSERT_NE(entries, nullptr);
    EXPECT_EQ(entries[0].io_base, 0x1000u);
    EXPECT_EQ(entries[1].io_base, 0x1008u);
    EXPECT_EQ(entries[2].port_flags, 0u);  // the closing entry
    ASSERT_EQ(platform_driver_register(&driver), 0);
    log.events.clear();
    remove_board_device(machine, board.device);
    EXPECT_THAT(log.events, ElementsAre("remove serial8250.7"));
    EXPECT_FALSE(machine.platform().is_live(board.device));
    platform_driver_unregister(&driver);
}

TEST_F(PlatformTest, InjectedFailures) {
    machine.faults().fail_next(FaultPoint::platform_device_alloc);
    EXPECT_EQ(platform_device_alloc("serial8250", -1), nullptr);
    platform_device* pdev = platform_device_alloc("serial8250", -1);
    ASSERT_NE(pdev, nullptr);
    machine.faults().fail_next(FaultPoint::platform_device_add, -kerr::nomem);
    EXPECT_EQ(platform_device_add(pdev), -kerr::nomem);
    EXPECT_TRUE(machine.platform().devices().empty());
    EXPECT_EQ(platform_device_add(pdev), 0);
    machine.faults().fail_nth(FaultPoint::platform_driver_register, 2, -kerr::inval);
    EXPECT_EQ(platform_driver_register(&driver), 0);
    platform_driver_unregister(&driver);
    log.events.clear();
    EXPECT_EQ(platform_driver_register(&driver), -kerr::inval);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(pdev->dev.driver, nullptr);
    EXPECT_EQ(platform_driver_register(&driver), 0);
    platform_driver_unregister(&driver);
    platform_device_unregister(pdev);
}

TEST_F(PlatformTest, CallsWithForeignDevicesAreRefused) {
    platform_device stray{};
    EXPECT_EQ(platform_device_add(&stray), -kerr::inval);
    platform_device_put(&stray);
    EXPECT_TRUE(machine.log().contains("is not a live platform device"));
}

}  // namespace
}  // namespace sim::kernel
