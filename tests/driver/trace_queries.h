// Questions the driver's suites ask of a register trace, by register name.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "driver_harness.h"

namespace driver_test {

// The values written to register `name`, in order.
inline std::vector<std::uint8_t> writes_to(const std::vector<RegisterAccess>& trace, std::string_view name) {
    std::vector<std::uint8_t> values;
    for (const RegisterAccess& access : trace)
        if (access.is_write && access.name == name) values.push_back(*access.value);
    return values;
}

// The writes in `trace` that went to one of `names`, in order.
inline std::vector<RegisterAccess> writes_among(const std::vector<RegisterAccess>& trace,
                                                std::initializer_list<std::string_view> names) {
    std::vector<RegisterAccess> out;
    for (const RegisterAccess& access : trace) {
        if (!access.is_write) continue;
        if (std::find(names.begin(), names.end(), access.name) != names.end()) out.push_back(access);
    }
    return out;
}

// How often register `name` was read.
inline std::size_t reads_of(const std::vector<RegisterAccess>& trace, std::string_view name) {
    return static_cast<std::size_t>(std::count_if(trace.begin(), trace.end(), [&](const RegisterAccess& access) {
        return !access.is_write && access.name == name;
    }));
}

// Whether `expected` occurs in `trace` as a contiguous run.
inline bool contains_run(const std::vector<RegisterAccess>& trace, const std::vector<RegisterAccess>& expected) {
    return std::search(trace.begin(), trace.end(), expected.begin(), expected.end()) != trace.end();
}

}  // namespace driver_test
