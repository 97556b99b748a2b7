#include "sim/kernel/base/faults.h"

#include <algorithm>

namespace sim::kernel {
namespace {

int error_or_default(FaultPoint point, int error) {
    return error == 0 ? default_fault_error(point) : (error > 0 ? -error : error);
}

}  // namespace

void FaultInjector::fail_next(FaultPoint point, int error, unsigned times) {
    Plan& p = plan(point);
    for (unsigned i = 1; i <= times; ++i) {
        p.at_call.emplace_back(p.calls + i, error_or_default(point, error));
    }
}

void FaultInjector::fail_nth(FaultPoint point, unsigned nth, int error) {
    if (nth == 0) nth = 1;
    Plan& p = plan(point);
    p.at_call.emplace_back(p.calls + nth, error_or_default(point, error));
}

void FaultInjector::fail_always(FaultPoint point, int error) {
    Plan& p = plan(point);
    p.always = true;
    p.always_error = error_or_default(point, error);
}

void FaultInjector::clear(FaultPoint point) {
    Plan& p = plan(point);
    p.at_call.clear();
    p.always = false;
}

void FaultInjector::clear_all() {
    for (std::size_t i = 0; i < fault_point_count; ++i) clear(static_cast<FaultPoint>(i));
}

std::optional<int> FaultInjector::check(FaultPoint point) {
    Plan& p = plan(point);
    ++p.calls;
    std::optional<int> result;
    if (p.always) result = p.always_error;
    const auto due = std::find_if(p.at_call.begin(), p.at_call.end(),
                                  [&](const auto& entry) { return entry.first == p.calls; });
    if (due != p.at_call.end()) {
        result = due->second;
    }
    std::erase_if(p.at_call, [&](const auto& entry) { return entry.first <= p.calls; });
    if (result) ++p.failures;
    return result;
}

unsigned FaultInjector::calls(FaultPoint point) const { return plan(point).calls; }
unsigned FaultInjector::failures(FaultPoint point) const { return plan(point).failures; }

}  // namespace sim::kernel
