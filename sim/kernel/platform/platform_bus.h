// The platform bus: devices described by board code, bound by name to platform drivers.
//
// Device life as the kernel's driver model has it: platform_device_alloc gives a device holding
// one reference; platform_device_add puts it on the bus (taking a reference) and binds it to the
// first registered driver of the same name whose probe accepts it; platform_device_del unbinds
// it (the driver's remove runs) and takes it off the bus (dropping that reference);
// platform_device_put drops a reference, and the last one frees the device and its data.
// Registering a driver probes every unbound device of its name; unregistering removes every
// device bound to it before it returns. While a probe runs, the device's driver is already set,
// so dev_driver_string names the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/serial/kernel/platform_device.h"

namespace sim::kernel {

class Machine;

class PlatformBus {
public:
    explicit PlatformBus(Machine& machine);
    PlatformBus(const PlatformBus&) = delete;
    PlatformBus& operator=(const PlatformBus&) = delete;
    ~PlatformBus();

    platform_device* alloc(const char* name, int id);
    int add(platform_device* pdev, const void* caller);
    void del(platform_device* pdev, const void* caller);
    void put(platform_device* pdev, const void* caller);
    // Copies `size` bytes as the device's platform data, freed with the device (as
    // platform_device_add_data does). -22 for an unknown device.
    int add_data(platform_device* pdev, const void* data, std::size_t size);

    int register_driver(platform_driver* driver, const void* caller);
    void unregister_driver(platform_driver* driver, const void* caller);
    const char* driver_string(const device* dev) const;

    // The system sleep passes: suspend in reverse order of addition, resume in order. A failing
    // suspend resumes the devices already suspended and returns its error.
    int suspend(pm_message_t state);
    void resume();

    // Devices on the bus, in the order they were added.
    std::vector<platform_device*> devices() const { return added_; }
    platform_device* find(std::string_view bus_id) const;
    bool is_live(const platform_device* pdev) const { return records_.contains(pdev); }
    int references(const platform_device* pdev) const;
    const std::vector<platform_driver*>& drivers() const { return drivers_; }
    bool registered(const platform_driver* driver) const;

    // Drivers whose record lies in [low, high) (a module going away): they are dropped from
    // the bus without calling into them, their devices unbound. Returns their names.
    std::vector<std::string> forget_drivers_in(std::uintptr_t low, std::uintptr_t high);

private:
    struct DeviceRecord {
        platform_device pdev{};
        std::string name;
        int references = 1;
        bool added = false;
        bool suspended = false;
        std::unique_ptr<std::max_align_t[]> data;
    };

    DeviceRecord* record(const platform_device* pdev) const;
    bool matches(const platform_device* pdev, const platform_driver* driver) const;
    bool probe(platform_device* pdev, platform_driver* driver);
    void unbind(platform_device* pdev);
    void release(const platform_device* pdev);
    void set_bus_id(DeviceRecord& rec);

    Machine& machine_;
    std::map<const platform_device*, std::unique_ptr<DeviceRecord>> records_;
    std::vector<platform_device*> added_;
    std::vector<platform_driver*> drivers_;
};

}  // namespace sim::kernel
