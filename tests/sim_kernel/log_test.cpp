// The kernel log: priorities from the "<N>" prefix, continuation of open lines, the dmesg
// formats with virtual timestamps, and stack dumps.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "drivers/serial/kernel/printk.h"
#include "sim/kernel/machine.h"

namespace sim::kernel {
namespace {

struct PriorityCase {
    std::vector<std::string> writes;
    std::vector<std::pair<int, std::string>> lines;
};

class LogPriorityTest : public ::testing::TestWithParam<PriorityCase> {};

TEST_P(LogPriorityTest, ParsesThePrefixAtLineStarts) {
    Machine machine;
    for (const std::string& text : GetParam().writes) printk("%s", text.c_str());
    const auto& records = machine.log().records();
    ASSERT_EQ(records.size(), GetParam().lines.size()) << machine.log().dmesg();
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].priority, GetParam().lines[i].first) << i;
        EXPECT_EQ(records[i].text, GetParam().lines[i].second) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogPriorityTest,
    ::testing::Values(
        PriorityCase{{"<6>Serial: driver\n"}, {{6, "Serial: driver"}}},
        PriorityCase{{"no prefix\n"}, {{4, "no prefix"}}},
        PriorityCase{{"<3>error\n"}, {{3, "error"}}},
        PriorityCase{{"<0>emergency\n"}, {{0, "emergency"}}},
        // Only 0 to 7 are priorities; anything else is text at the default priority.
        PriorityCase{{"<8>not a priority\n"}, {{4, "<8>not a priority"}}},
        PriorityCase{{"<x>odd\n"}, {{4, "<x>odd"}}},
        // Every line of a message starts afresh; one without a prefix gets the default.
        PriorityCase{{"<3>first\nsecond\n<6>third\n"}, {{3, "first"}, {4, "second"}, {6, "third"}}},
        // A message without a newline leaves its line open; a prefix inside it is plain text.
        PriorityCase{{"<6>ttyS0 at ", "<4>I/O 0x3f8\n"}, {{6, "ttyS0 at <4>I/O 0x3f8"}}},
        PriorityCase{{"WARNING: at file.cpp:12 size_fifo()\n"},
                     {{4, "WARNING: at file.cpp:12 size_fifo()"}}}));

TEST(LogTest, FormatsLikeDmesgWithVirtualTimestamps) {
    Machine machine;
    machine.run_for(std::chrono::milliseconds(1500) + std::chrono::microseconds(7));
    printk("<6>Serial: 8250/16550 driver\n");
    EXPECT_EQ(machine.log().dmesg(), "[    1.500007] Serial: 8250/16550 driver\n");
    EXPECT_EQ(machine.log().dmesg(LogFormat::raw), "<6>[    1.500007] Serial: 8250/16550 driver\n");
}

TEST(LogTest, PrintkFormatsLongMessagesWhole) {
    Machine machine;
    const std::string long_text(3000, 'x');
    EXPECT_EQ(printk("<6>%s %d\n", long_text.c_str(), 42), static_cast<int>(long_text.size()) + 7);
    ASSERT_EQ(machine.log().records().size(), 1u);
    EXPECT_EQ(machine.log().records()[0].text, long_text + " 42");
}

TEST(LogTest, KeepsTheNewestLinesWithinItsCapacity) {
    MachineSettings settings;
    settings.log_capacity = 3;
    Machine machine{settings};
    for (int i = 0; i < 5; ++i) printk("line %d\n", i);
    ASSERT_EQ(machine.log().records().size(), 3u);
    EXPECT_EQ(machine.log().records().front().text, "line 2");
}

TEST(LogTest, DumpStackWritesTheCallersFrames) {
    Machine machine;
    dump_stack();
    EXPECT_TRUE(machine.log().contains("Call Trace:"));
    EXPECT_GE(machine.log().count_containing(" [<"), 2u) << machine.log().dmesg();
    // The program is linked -rdynamic, so its frames have names.
    EXPECT_TRUE(machine.log().contains("sim_kernel_tests")) << machine.log().dmesg();
}

}  // namespace
}  // namespace sim::kernel
