// Fault plans: which calls fail, with which error, and that the count of calls goes on.
#include <gtest/gtest.h>

#include <vector>

#include "sim/kernel/base/faults.h"

namespace sim::kernel {
namespace {

std::vector<int> outcomes(FaultInjector& faults, FaultPoint point, int calls) {
    std::vector<int> seen;
    for (int i = 0; i < calls; ++i) seen.push_back(faults.check(point).value_or(0));
    return seen;
}

TEST(FaultInjectorTest, PlansFailTheCallsTheyName) {
    FaultInjector faults;
    faults.check(FaultPoint::request_irq);  // calls before the plan do not count towards it
    faults.fail_nth(FaultPoint::request_irq, 3);
    EXPECT_EQ(outcomes(faults, FaultPoint::request_irq, 4), (std::vector<int>{0, 0, -16, 0}));

    faults.fail_next(FaultPoint::ioremap, 0, 2);
    EXPECT_EQ(outcomes(faults, FaultPoint::ioremap, 3), (std::vector<int>{-12, -12, 0}));

    // A positive error is taken as the number and reported negated.
    faults.fail_always(FaultPoint::platform_device_add, 19);
    EXPECT_EQ(outcomes(faults, FaultPoint::platform_device_add, 2), (std::vector<int>{-19, -19}));
    faults.clear(FaultPoint::platform_device_add);
    EXPECT_EQ(outcomes(faults, FaultPoint::platform_device_add, 1), (std::vector<int>{0}));

    // Points are independent.
    faults.fail_next(FaultPoint::request_region);
    EXPECT_EQ(faults.check(FaultPoint::platform_driver_register), std::nullopt);
    EXPECT_EQ(faults.check(FaultPoint::request_region), -16);
    EXPECT_EQ(faults.calls(FaultPoint::request_irq), 5u);
    EXPECT_EQ(faults.failures(FaultPoint::request_irq), 1u);
    faults.fail_next(FaultPoint::allocation);
    faults.clear_all();
    EXPECT_EQ(faults.check(FaultPoint::allocation), std::nullopt);
}

}  // namespace
}  // namespace sim::kernel
