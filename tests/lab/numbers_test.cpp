#include "tools/serial-lab/numbers.h"

#include <gtest/gtest.h>

#include <chrono>

namespace lab {
namespace {

using namespace std::chrono_literals;

TEST(ParseNumber, BasesAndLimits) {
    EXPECT_EQ(*parse_number("0x3f8", "port"), 0x3f8u);
    EXPECT_EQ(*parse_number("0X3F8", "port"), 0x3f8u);
    EXPECT_EQ(*parse_number("1843200", "clock"), 1843200u);
    EXPECT_EQ(*parse_number("0b1011", "value"), 11u);
    EXPECT_EQ(*parse_number("0o17", "value"), 15u);
    EXPECT_EQ(*parse_number("010", "value"), 10u);  // no surprise octal
    EXPECT_EQ(*parse_number("0xff", "value", 0xff), 0xffu);
    for (const char* bad : {"", "x", "0x", "3f8", "12abc", "-1", "+1", " 1", "0x1g"}) {
        EXPECT_FALSE(parse_number(bad, "port").ok()) << bad;
    }
    const auto too_big = parse_number("0x100", "value", 0xff);
    ASSERT_FALSE(too_big.ok());
    EXPECT_EQ(too_big.error().message, "value '0x100' is out of range (at most 0xff)");
    EXPECT_FALSE(parse_number("18446744073709551616", "value").ok());
}

TEST(ParseDuration, UnitsAreRequired) {
    EXPECT_EQ(*parse_duration("150us"), 150us);
    EXPECT_EQ(*parse_duration("10ms"), 10ms);
    EXPECT_EQ(*parse_duration("2s"), 2s);
    EXPECT_EQ(*parse_duration("5ns"), 5ns);
    EXPECT_EQ(*parse_duration("1min"), 60s);
    const auto bare = parse_duration("10");
    ASSERT_FALSE(bare.ok());
    EXPECT_EQ(bare.error().message, "time '10' needs a unit (ns, us, ms, s, min)");
    for (const char* bad : {"ms", "10 ms", "10hours", "1.5ms", "99999999999999999999s", "10000000000s"}) {
        EXPECT_FALSE(parse_duration(bad).ok()) << bad;
    }
}

TEST(ParseSize, PowersOfTwo) {
    EXPECT_EQ(*parse_size("4096"), 4096u);
    EXPECT_EQ(*parse_size("64K"), 65536u);
    EXPECT_EQ(*parse_size("64KiB"), 65536u);
    EXPECT_EQ(*parse_size("1M"), 1048576u);
    EXPECT_FALSE(parse_size("1G").ok());
    EXPECT_FALSE(parse_size("K").ok());
}

TEST(FormatDuration, ReadableAtEveryScale) {
    EXPECT_EQ(format_duration(500ns), "500ns");
    EXPECT_EQ(format_duration(86800ns), "86.8us");
    EXPECT_EQ(format_duration(10ms), "10.000ms");
    EXPECT_EQ(format_duration(2500ms), "2.500s");
}

}  // namespace
}  // namespace lab
