#include "sim/hw/interrupt_controller.h"

#include <vector>

#include <gtest/gtest.h>

#include "sim/hw/logging.h"

namespace sim::hw {
namespace {

constexpr InterruptLine line4{4};
constexpr InterruptLine line9{9};

class InterruptControllerTest : public ::testing::Test {
protected:
    InterruptControllerTest() {
        controller.set_pending_observer([this](InterruptLine l) { became_pending.push_back(l); });
    }
    InterruptController controller;
    std::vector<InterruptLine> became_pending;
};

TEST_F(InterruptControllerTest, EdgeLineLatchesRisingEdgeUntilAcknowledged) {
    InterruptPin pin(controller, line4);
    EXPECT_FALSE(controller.pending(line4));
    pin.set(true);
    pin.set(false);  // the pulse is gone but the edge stays latched
    EXPECT_FALSE(controller.level(line4));
    EXPECT_TRUE(controller.pending(line4));
    EXPECT_EQ(controller.lowest_pending(), line4);
    controller.acknowledge(line4);
    EXPECT_FALSE(controller.pending(line4));
    EXPECT_FALSE(controller.lowest_pending().has_value());
    EXPECT_EQ(became_pending, std::vector<InterruptLine>{line4});
}

TEST_F(InterruptControllerTest, WiredOrSharedEdgeLineMissesSecondDeviceWhileFirstHoldsIt) {
    // The classic ISA sharing hazard: with one device holding the line, a second raising it
    // makes no new edge.
    InterruptPin a(controller, line4);
    InterruptPin b(controller, line4);
    a.set(true);
    controller.acknowledge(line4);
    b.set(true);
    EXPECT_FALSE(controller.pending(line4));
    EXPECT_EQ(controller.drivers(line4), 2u);
    a.set(false);
    EXPECT_TRUE(controller.level(line4));
    b.set(false);
    EXPECT_FALSE(controller.level(line4));
    b.set(true);
    EXPECT_TRUE(controller.pending(line4));
}

TEST_F(InterruptControllerTest, LevelLineIsPendingWhileDrivenAndIgnoresAcknowledge) {
    controller.set_trigger(line9, Trigger::level);
    EXPECT_EQ(controller.trigger(line9), Trigger::level);
    InterruptPin pin(controller, line9);
    pin.set(true);
    controller.acknowledge(line9);
    EXPECT_TRUE(controller.pending(line9));
    pin.set(false);
    EXPECT_FALSE(controller.pending(line9));
}

TEST_F(InterruptControllerTest, LowestPendingAcrossWordsAndEdgeHistory) {
    InterruptPin high(controller, InterruptLine{4000});
    InterruptPin low(controller, InterruptLine{70});
    high.set(true);
    EXPECT_EQ(controller.lowest_pending(), InterruptLine{4000});
    low.set(true);
    EXPECT_EQ(controller.lowest_pending(), InterruptLine{70});
    EXPECT_TRUE(controller.rose_since_cleared(InterruptLine{70}));
    controller.clear_edge_history();
    EXPECT_FALSE(controller.rose_since_cleared(InterruptLine{70}));
    low.set(false);
    low.set(true);
    EXPECT_TRUE(controller.rose_since_cleared(InterruptLine{70}));
    EXPECT_FALSE(controller.rose_since_cleared(InterruptLine{4000}));
}

TEST_F(InterruptControllerTest, PinsReleaseOnDestructionAndMove) {
    {
        InterruptPin pin(controller, line4);
        pin.set(true);
        InterruptPin moved = std::move(pin);
        EXPECT_FALSE(pin.wired());
        EXPECT_TRUE(moved.asserted());
        EXPECT_EQ(controller.drivers(line4), 1u);
    }
    EXPECT_EQ(controller.drivers(line4), 0u);
    InterruptPin unwired;
    unwired.set(true);  // drives nothing
    EXPECT_FALSE(unwired.line().has_value());
    EXPECT_THROW(InterruptPin(controller, InterruptLine{interrupt_line_count}), ConfigurationError);
}

}  // namespace
}  // namespace sim::hw
