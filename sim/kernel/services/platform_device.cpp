// The platform bus services.
#include "drivers/serial/kernel/platform_device.h"

#include "sim/kernel/machine.h"

using sim::kernel::Machine;

extern "C" platform_device* platform_device_alloc(const char* name, int id) {
    return Machine::current().platform().alloc(name, id);
}

extern "C" int platform_device_add(platform_device* pdev) {
    return Machine::current().platform().add(pdev, __builtin_return_address(0));
}

extern "C" void platform_device_del(platform_device* pdev) {
    Machine::current().platform().del(pdev, __builtin_return_address(0));
}

extern "C" void platform_device_put(platform_device* pdev) {
    Machine::current().platform().put(pdev, __builtin_return_address(0));
}

extern "C" void platform_device_unregister(platform_device* pdev) {
    Machine& machine = Machine::current();
    machine.platform().del(pdev, __builtin_return_address(0));
    machine.platform().put(pdev, __builtin_return_address(0));
}

extern "C" int platform_driver_register(platform_driver* drv) {
    return Machine::current().platform().register_driver(drv, __builtin_return_address(0));
}

extern "C" void platform_driver_unregister(platform_driver* drv) {
    Machine::current().platform().unregister_driver(drv, __builtin_return_address(0));
}

extern "C" const char* dev_driver_string(device* dev) {
    return Machine::current().platform().driver_string(dev);
}
