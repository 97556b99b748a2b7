// The platform bus: devices described by board code, bound by name to platform drivers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drivers/serial/kernel/ioport.h"

struct module;

struct device_driver {
    const char* name;
    module* owner;
};

inline constexpr std::size_t bus_id_size = 20;

struct device {
    char bus_id[bus_id_size];  // "serial8250" for instance -1, "serial8250.<id>" otherwise
    device* parent;
    device_driver* driver;     // the bound driver, null when unbound
    void* platform_data;       // board description, owned by whoever created the device
    void* driver_data;
};

struct platform_device {
    const char* name;
    int id;
    device dev;
    std::uint32_t num_resources;
    resource* resources;
};

struct pm_message_t {
    int event;
};

struct platform_driver {
    int (*probe)(platform_device* pdev);
    int (*remove)(platform_device* pdev);
    void (*shutdown)(platform_device* pdev);
    int (*suspend)(platform_device* pdev, pm_message_t state);
    int (*resume)(platform_device* pdev);
    device_driver driver;
};

extern "C" {
platform_device* platform_device_alloc(const char* name, int id);
int platform_device_add(platform_device* pdev);
void platform_device_del(platform_device* pdev);
void platform_device_put(platform_device* pdev);
void platform_device_unregister(platform_device* pdev);
int platform_driver_register(platform_driver* drv);
void platform_driver_unregister(platform_driver* drv);
// The name of the driver bound to `dev`, or of its bus when none is bound.
const char* dev_driver_string(device* dev);
}

inline platform_device* to_platform_device(device* dev) {
    return reinterpret_cast<platform_device*>(reinterpret_cast<char*>(dev) -
                                              offsetof(platform_device, dev));
}
