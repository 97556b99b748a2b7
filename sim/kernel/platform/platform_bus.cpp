#include "sim/kernel/platform/platform_bus.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "drivers/serial/kernel/errors.h"
#include "sim/kernel/base/symbolize.h"
#include "sim/kernel/machine.h"

namespace sim::kernel {

PlatformBus::PlatformBus(Machine& machine) : machine_(machine) {}

PlatformBus::~PlatformBus() = default;

PlatformBus::DeviceRecord* PlatformBus::record(const platform_device* pdev) const {
    const auto found = records_.find(pdev);
    return found == records_.end() ? nullptr : found->second.get();
}

int PlatformBus::references(const platform_device* pdev) const {
    const DeviceRecord* rec = record(pdev);
    return rec == nullptr ? 0 : rec->references;
}

bool PlatformBus::registered(const platform_driver* driver) const {
    return std::find(drivers_.begin(), drivers_.end(), driver) != drivers_.end();
}

void PlatformBus::set_bus_id(DeviceRecord& rec) {
    const std::string id = rec.pdev.id == -1 ? rec.name : fmt::format("{}.{}", rec.name, rec.pdev.id);
    const std::size_t length = std::min(id.size(), bus_id_size - 1);
    std::memcpy(rec.pdev.dev.bus_id, id.data(), length);
    rec.pdev.dev.bus_id[length] = '\0';
}

platform_device* PlatformBus::alloc(const char* name, int id) {
    if (name == nullptr) return nullptr;
    if (machine_.faults().check(FaultPoint::platform_device_alloc)) return nullptr;
    auto rec = std::make_unique<DeviceRecord>();
    rec->name = name;
    rec->pdev.name = rec->name.c_str();
    rec->pdev.id = id;
    set_bus_id(*rec);
    platform_device* pdev = &rec->pdev;
    records_.emplace(pdev, std::move(rec));
    return pdev;
}

int PlatformBus::add_data(platform_device* pdev, const void* data, std::size_t size) {
    DeviceRecord* rec = record(pdev);
    if (rec == nullptr || (data == nullptr && size != 0)) return -kerr::inval;
    const std::size_t cells = (size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    rec->data = std::make_unique<std::max_align_t[]>(cells == 0 ? 1 : cells);
    if (size != 0) std::memcpy(rec->data.get(), data, size);
    rec->pdev.dev.platform_data = rec->data.get();
    return 0;
}

bool PlatformBus::matches(const platform_device* pdev, const platform_driver* driver) const {
    return driver->driver.name != nullptr && pdev->name != nullptr &&
           std::strcmp(driver->driver.name, pdev->name) == 0;
}

bool PlatformBus::probe(platform_device* pdev, platform_driver* driver) {
    // The driver is set before its probe runs, as the driver model does it.
    pdev->dev.driver = &driver->driver;
    const int result = driver->probe != nullptr ? driver->probe(pdev) : 0;
    if (result == 0) return true;
    pdev->dev.driver = nullptr;
    if (result != -kerr::nodev && result != -kerr::nxio) {
        machine_.log().write(fmt::format("<4>{}: probe of {} failed with error {}\n",
                                         driver->driver.name, pdev->dev.bus_id, result));
    }
    return false;
}

int PlatformBus::add(platform_device* pdev, const void* caller) {
    DeviceRecord* rec = record(pdev);
    if (rec == nullptr) {
        machine_.log().write(fmt::format(
            "<3>platform_device_add: {} is not a device from platform_device_alloc\n",
            static_cast<const void*>(pdev)));
        return -kerr::inval;
    }
    machine_.locks().might_sleep("platform_device_add", caller);
    if (rec->added) return -kerr::busy;
    if (auto error = machine_.faults().check(FaultPoint::platform_device_add)) return *error;
    set_bus_id(*rec);
    if (find(pdev->dev.bus_id) != nullptr) {
        machine_.log().write(fmt::format("<3>kobject_add failed for {} with -EEXIST\n",
                                         pdev->dev.bus_id));
        return -kerr::exist;
    }
    rec->added = true;
    ++rec->references;
    added_.push_back(pdev);
    const std::vector<platform_driver*> candidates = drivers_;
    for (platform_driver* driver : candidates) {
        if (!registered(driver) || !is_live(pdev) || pdev->dev.driver != nullptr) break;
        if (matches(pdev, driver) && probe(pdev, driver)) break;
    }
    return 0;
}

void PlatformBus::unbind(platform_device* pdev) {
    device_driver* bound = pdev->dev.driver;
    if (bound == nullptr) return;
    platform_driver* driver = nullptr;
    for (platform_driver* candidate : drivers_) {
        if (&candidate->driver == bound) driver = candidate;
    }
    if (driver != nullptr && driver->remove != nullptr) driver->remove(pdev);
    pdev->dev.driver = nullptr;
}

void PlatformBus::del(platform_device* pdev, const void* caller) {
    DeviceRecord* rec = record(pdev);
    if (rec == nullptr || !rec->added) {
        machine_.log().write(fmt::format("<4>platform_device_del: {} is not on the bus\n",
                                         static_cast<const void*>(pdev)));
        return;
    }
    machine_.locks().might_sleep("platform_device_del", caller);
    unbind(pdev);
    rec->added = false;
    rec->suspended = false;
    std::erase(added_, pdev);
    put(pdev, caller);
}

void PlatformBus::put(platform_device* pdev, const void*) {
    DeviceRecord* rec = record(pdev);
    if (rec == nullptr) {
        if (pdev != nullptr) {
            machine_.log().write(fmt::format(
                "<4>platform_device_put: {} is not a live platform device\n",
                static_cast<const void*>(pdev)));
        }
        return;
    }
    if (--rec->references == 0) release(pdev);
}

void PlatformBus::release(const platform_device* pdev) { records_.erase(pdev); }

platform_device* PlatformBus::find(std::string_view bus_id) const {
    for (platform_device* pdev : added_) {
        if (bus_id == pdev->dev.bus_id) return pdev;
    }
    return nullptr;
}

int PlatformBus::register_driver(platform_driver* driver, const void* caller) {
    if (driver == nullptr || driver->driver.name == nullptr) return -kerr::inval;
    machine_.locks().might_sleep("platform_driver_register", caller);
    if (registered(driver)) return -kerr::busy;
    for (const platform_driver* other : drivers_) {
        if (std::strcmp(other->driver.name, driver->driver.name) == 0) {
            machine_.log().write(fmt::format(
                "<3>Error: Driver '{}' is already registered, aborting...\n", driver->driver.name));
            return -kerr::exist;
        }
    }
    if (auto error = machine_.faults().check(FaultPoint::platform_driver_register)) return *error;
    drivers_.push_back(driver);
    const std::vector<platform_device*> candidates = added_;
    for (platform_device* pdev : candidates) {
        if (!registered(driver)) break;
        if (is_live(pdev) && record(pdev)->added && pdev->dev.driver == nullptr &&
            matches(pdev, driver)) {
            probe(pdev, driver);
        }
    }
    return 0;
}

void PlatformBus::unregister_driver(platform_driver* driver, const void* caller) {
    if (!registered(driver)) {
        machine_.log().write(fmt::format("<4>platform_driver_unregister: driver {} is not "
                                         "registered\n",
                                         static_cast<const void*>(driver)));
        return;
    }
    machine_.locks().might_sleep("platform_driver_unregister", caller);
    // Detach from the most recently bound device back, as the driver core does.
    std::vector<platform_device*> bound;
    for (platform_device* pdev : added_) {
        if (pdev->dev.driver == &driver->driver) bound.push_back(pdev);
    }
    for (auto at = bound.rbegin(); at != bound.rend(); ++at) {
        if (is_live(*at) && (*at)->dev.driver == &driver->driver) unbind(*at);
    }
    std::erase(drivers_, driver);
}

const char* PlatformBus::driver_string(const device* dev) const {
    if (dev == nullptr) return "";
    if (dev->driver != nullptr && dev->driver->name != nullptr) return dev->driver->name;
    return "platform";
}

int PlatformBus::suspend(pm_message_t state) {
    std::vector<platform_device*> done;
    for (auto at = added_.rbegin(); at != added_.rend(); ++at) {
        platform_device* pdev = *at;
        DeviceRecord* rec = record(pdev);
        if (pdev->dev.driver == nullptr || rec->suspended) continue;
        platform_driver* driver = nullptr;
        for (platform_driver* candidate : drivers_) {
            if (&candidate->driver == pdev->dev.driver) driver = candidate;
        }
        if (driver == nullptr) continue;
        const int result = driver->suspend != nullptr ? driver->suspend(pdev, state) : 0;
        if (result != 0) {
            machine_.log().write(fmt::format("<3>Could not suspend device {}: error {}\n",
                                             pdev->dev.bus_id, result));
            for (auto back = done.rbegin(); back != done.rend(); ++back) {
                platform_device* again = *back;
                record(again)->suspended = false;
                for (platform_driver* candidate : drivers_) {
                    if (&candidate->driver == again->dev.driver && candidate->resume != nullptr) {
                        candidate->resume(again);
                    }
                }
            }
            return result;
        }
        rec->suspended = true;
        done.push_back(pdev);
    }
    return 0;
}

void PlatformBus::resume() {
    const std::vector<platform_device*> devices = added_;
    for (platform_device* pdev : devices) {
        DeviceRecord* rec = record(pdev);
        if (rec == nullptr || !rec->suspended) continue;
        rec->suspended = false;
        for (platform_driver* candidate : drivers_) {
            if (&candidate->driver == pdev->dev.driver && candidate->resume != nullptr) {
                candidate->resume(pdev);
            }
        }
    }
}

std::vector<std::string> PlatformBus::forget_drivers_in(std::uintptr_t low, std::uintptr_t high) {
    std::vector<std::string> names;
    std::vector<platform_driver*> keep;
    for (platform_driver* driver : drivers_) {
        const auto where = reinterpret_cast<std::uintptr_t>(driver);
        if (where < low || where >= high) {
            keep.push_back(driver);
            continue;
        }
        names.emplace_back(driver->driver.name != nullptr ? driver->driver.name : "?");
        for (platform_device* pdev : added_) {
            if (pdev->dev.driver == &driver->driver) pdev->dev.driver = nullptr;
        }
    }
    drivers_ = std::move(keep);
    return names;
}

}  // namespace sim::kernel
