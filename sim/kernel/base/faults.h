// Fault injection for tests: the services that can fail in a real kernel (allocation, device
// add, driver registration, region claims, mapping, interrupt requests) can be told to fail on
// demand, so that every failure path of a caller can be walked.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "drivers/serial/kernel/errors.h"

namespace sim::kernel {

enum class FaultPoint : std::uint8_t {
    platform_device_alloc,     // returns null
    platform_device_add,       // returns the error
    platform_driver_register,  // returns the error
    request_region,            // __request_region returns null
    ioremap,                   // __ioremap returns null
    request_irq,               // returns the error
    uart_add_one_port,         // the serial core's add returns the error
    allocation,                // a kernel allocation (kmalloc) fails: -12
};
inline constexpr std::size_t fault_point_count = 8;

// The error a failing call reports when the test names none.
constexpr int default_fault_error(FaultPoint point) {
    switch (point) {
        case FaultPoint::platform_device_alloc:
        case FaultPoint::platform_device_add:
        case FaultPoint::ioremap:
        case FaultPoint::allocation:
            return -kerr::nomem;
        case FaultPoint::platform_driver_register:
        case FaultPoint::request_region:
        case FaultPoint::request_irq:
        case FaultPoint::uart_add_one_port:
            return -kerr::busy;
    }
    return -kerr::inval;
}

class FaultInjector {
public:
    // The next `times` calls fail.
    void fail_next(FaultPoint point, int error = 0, unsigned times = 1);
    // The `nth` call from now (1 is the next one) fails, once.
    void fail_nth(FaultPoint point, unsigned nth, int error = 0);
    // Every call fails until cleared.
    void fail_always(FaultPoint point, int error = 0);
    void clear(FaultPoint point);
    void clear_all();

    // Called by the services: counts the call and returns the error when it is to fail.
    std::optional<int> check(FaultPoint point);
    // Calls seen so far (failed ones included).
    unsigned calls(FaultPoint point) const;
    unsigned failures(FaultPoint point) const;

private:
    struct Plan {
        std::vector<std::pair<unsigned, int>> at_call;  // absolute call number, error
        bool always = false;
        int always_error = 0;
        unsigned calls = 0;
        unsigned failures = 0;
    };
    Plan& plan(FaultPoint point) { return plans_[static_cast<std::size_t>(point)]; }
    const Plan& plan(FaultPoint point) const { return plans_[static_cast<std::size_t>(point)]; }

    std::array<Plan, fault_point_count> plans_{};
};

}  // namespace sim::kernel
